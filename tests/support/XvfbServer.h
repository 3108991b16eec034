#pragma once
// A private X server for tests: Xvfb on a free display number of its own, ended with the object,
// and xdotool on it. Header-only, no X library needed.

#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <poll.h>
#include <unistd.h>

namespace testsupport {

class TXvfbDisplay {
public:
    TXvfbDisplay() = default;
    TXvfbDisplay(const TXvfbDisplay &) = delete;
    TXvfbDisplay &operator=(const TXvfbDisplay &) = delete;
    ~TXvfbDisplay() { FServer.Stop(); }

    /// Starts Xvfb with one screen of the given size and depth; true once it takes clients (Xvfb
    /// says so through -displayfd). Error says why not otherwise.
    bool Start(QString *Error, const QString &Screen = QStringLiteral("320x240x24")) {
        const QString Xvfb = FindProgram(QStringLiteral("Xvfb"));
        if (Xvfb.isEmpty()) {
            *Error = QStringLiteral("Xvfb is not installed (scripts/install-deps.sh installs it)");
            return false;
        }
        // Display numbers from a high range that depends on the process id: the low ones are
        // where desktops and programs with a fixed number live, and a client of theirs must not
        // land on our server. A number that turns out taken makes Xvfb end; the next is tried.
        // The server writes the number into the pipe once it accepts clients.
        QByteArray Number;
        for (int Try = 0, Display = 400 + static_cast<int>(::getpid() % 500); Try < 40;
             ++Try, Display = 400 + (Display - 400 + 13) % 500) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(Display)) ||
                QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(Display)))
                continue;
            Number = StartOn(Xvfb, Display, Screen);
            if (!Number.isEmpty())
                break;
        }
        if (Number.isEmpty()) {
            *Error = QStringLiteral("Xvfb did not start on any display tried");
            return false;
        }
        FName = QStringLiteral(":") + QString::fromLatin1(Number.trimmed());
        return true;
    }

    // Starts Xvfb on Display; its number as the server reported it when ready, empty when the
    // server ended instead (the number was taken).
    QByteArray StartOn(const QString &Xvfb, int Display, const QString &Screen) {
        int Pipe[2];
        if (::pipe(Pipe) != 0)
            return QByteArray();
        const bool Started =
            FServer.Start(Xvfb, {QStringLiteral(":%1").arg(Display), QStringLiteral("-displayfd"),
                                 QString::number(Pipe[1]), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                 QStringLiteral("-noreset"), QStringLiteral("-screen"), QStringLiteral("0"), Screen});
        ::close(Pipe[1]);
        QByteArray Number;
        QElapsedTimer Clock;
        Clock.start();
        while (Started && !Number.endsWith('\n') && Clock.elapsed() < 30000) {
            pollfd P{Pipe[0], POLLIN, 0};
            if (::poll(&P, 1, 200) > 0) {
                char Buf[16];
                const ssize_t n = ::read(Pipe[0], Buf, sizeof Buf);
                if (n <= 0)
                    break; // the server ended without a display
                Number.append(Buf, n);
            }
        }
        ::close(Pipe[0]);
        if (!Number.endsWith('\n')) {
            FServer.Stop();
            return QByteArray();
        }
        return Number;
    }

    QString Name() const { return FName; }
    void Kill() { FServer.Stop(); }

    /// xdotool with Args on this display (for example {"key", "ctrl+shift+s"}); true on success.
    bool XdoTool(const QStringList &Args) const {
        const QString Xdo = FindProgram(QStringLiteral("xdotool"));
        if (Xdo.isEmpty())
            return false;
        return RunProgram(QStringLiteral("/usr/bin/env"),
                          QStringList{QStringLiteral("DISPLAY=") + FName, Xdo} + Args) == 0;
    }

private:
    ChildProcess FServer;
    QString FName;
};

} // namespace testsupport
