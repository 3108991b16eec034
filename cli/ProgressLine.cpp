#include "cli/ProgressLine.h"

#include <cstdio>
#include <unistd.h>

TProgressLine::TProgressLine() : FEnabled(isatty(STDERR_FILENO) == 1) {}

TProgressLine::~TProgressLine() {
    Clear();
}

void TProgressLine::Show(const QString &Line) {
    if (!FEnabled)
        return;
    std::fprintf(stderr, "\r%s\033[K", Line.toLocal8Bit().constData());
    std::fflush(stderr);
    FShown = true;
}

void TProgressLine::Clear() {
    if (!FShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    FShown = false;
}
