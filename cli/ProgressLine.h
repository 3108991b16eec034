#pragma once

#include <QString>

/// One status line on the terminal's stderr, rewritten in place by every Show and wiped by Clear
/// (and at destruction); silent when stderr is not a terminal, so piped output stays clean.
class TProgressLine {
public:
    TProgressLine();
    ~TProgressLine();
    TProgressLine(const TProgressLine &) = delete;
    TProgressLine &operator=(const TProgressLine &) = delete;

    bool Enabled() const { return FEnabled; }
    void Show(const QString &Line);
    void Clear();

private:
    bool FEnabled;
    bool FShown = false;
};
