// relayvane: the tray program, or with --headless the same controller and relay with no window.

#include "app/ControlServer.h"
#include "app/MainFormCode.h"
#include "config/ConfigFile.h"
#include "platform/DesktopEntry.h"
#include "platform/InstanceLock.h"
#include "platform/SysUtils.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>

#ifdef RELAYVANE_WITH_GUI
#include "app/GuiApplication.h"
#include "app/GuiDialogs.h"
#include "app/GuiTray.h"
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

const char *const kHelp =
    "usage: relayvane [--headless] [--config PATH] [--help] [--version]\n"
    "\n"
    "Relayvane lets you browse the web through a changing HTTP proxy. It lives in the notification\n"
    "area: its menu picks, switches, deletes, downloads and tests proxies, and a relay on\n"
    "127.0.0.1:3128 forwards the browsers it has set up through the active proxy.\n"
    "\n"
    "Options:\n"
    "  --headless       no tray icon and no windows: the same program with warnings on stderr,\n"
    "                   controlled with 'relayvane-cli ctl' and the global hotkeys; chosen by itself\n"
    "                   when there is no display\n"
    "  --config PATH    the configuration file (default: $RELAYVANE_CONFIG, else config.cfg next to\n"
    "                   the program when that folder is writable, else\n"
    "                   $XDG_CONFIG_HOME/relayvane/config.cfg)\n"
    "  -h, --help       show this help\n"
    "  --version        show the version\n"
    "\n"
    "Environment:\n"
    "  RELAYVANE_SERVICE     base URL of the list, update and judge service\n"
    "  RELAYVANE_RELAY_PORT  the relay's port on 127.0.0.1 instead of 3128 (browsers follow it)\n"
    "\n"
    "Only one copy runs per user. SIGINT and SIGTERM end it the way the Exit item does: the browsers\n"
    "get their settings back and config.cfg is saved. Exit status: 0 after a normal end, 1 when\n"
    "start-up gave up (another copy runs, the browsers could not be set up), 2 for bad usage.\n";

struct TArguments {
    bool Headless = false;
    QString ConfigPath;
};

int Usage(const QString &Msg) {
    QTextStream(stderr) << "relayvane: " << Msg << "\nTry 'relayvane --help'.\n";
    return 2;
}

// Reads the command line before any application object exists, since the kind of application
// depends on it. Returns -1 to go on, otherwise the exit status.
int ParseArguments(int Argc, char **Argv, TArguments &Out) {
    for (int i = 1; i < Argc; ++i) {
        const QString A = QString::fromLocal8Bit(Argv[i]);
        if (A == QLatin1String("--help") || A == QLatin1String("-h")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (A == QLatin1String("--version")) {
            std::fputs("relayvane 3.1.3\n", stdout);
            return 0;
        }
        if (A == QLatin1String("--headless")) {
            Out.Headless = true;
        } else if (A == QLatin1String("--config")) {
            if (i + 1 >= Argc || !*Argv[i + 1])
                return Usage(QStringLiteral("--config needs a PATH"));
            Out.ConfigPath = QString::fromLocal8Bit(Argv[++i]);
        } else if (A.startsWith(QLatin1String("--config="))) {
            Out.ConfigPath = A.mid(9);
            if (Out.ConfigPath.isEmpty())
                return Usage(QStringLiteral("--config needs a PATH"));
        } else {
            return Usage(QStringLiteral("unknown argument '%1'").arg(A));
        }
    }
    return -1;
}

// SIGINT and SIGTERM reach the event loop through a pipe: the handler only writes one byte, the
// one thing that is safe to do inside a signal handler.
int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int Saved = errno;
    const char Byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(SignalPipe[1], &Byte, 1);
    errno = Saved;
}

bool InstallSignalPipe() {
    if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction Sa {};
    Sa.sa_handler = OnSignal;
    sigemptyset(&Sa.sa_mask);
    Sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &Sa, nullptr) == 0 && ::sigaction(SIGTERM, &Sa, nullptr) == 0;
}

bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("QT_QPA_PLATFORM").startsWith(QLatin1String("offscreen"));
}

} // namespace

int main(int argc, char *argv[]) {
    TArguments Args;
    if (const int Status = ParseArguments(argc, argv, Args); Status >= 0)
        return Status;

    TMainFormOptions Options;
    if (qEnvironmentVariableIsSet("RELAYVANE_RELAY_PORT")) {
        bool Ok = false;
        const int Port = qEnvironmentVariable("RELAYVANE_RELAY_PORT").trimmed().toInt(&Ok);
        if (!Ok || Port < 1 || Port > 65535)
            return Usage(QStringLiteral("RELAYVANE_RELAY_PORT must be a port number from 1 to 65535"));
        Options.RelayPort = Port;
    }

    bool Headless = Args.Headless;
#ifdef RELAYVANE_WITH_GUI
    if (!Headless && !HasDisplay()) {
        std::fputs("relayvane: no display (DISPLAY and WAYLAND_DISPLAY are unset); running headless\n", stderr);
        Headless = true;
    }
#else
    if (!Headless)
        std::fputs("relayvane: built without the desktop parts; running headless\n", stderr);
    Headless = true;
    (void)HasDisplay;
#endif

    std::unique_ptr<QCoreApplication> App;
#ifdef RELAYVANE_WITH_GUI
    if (!Headless)
        App = CreateGuiApplication(argc, argv);
#endif
    if (!App)
        App = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Relayvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral("3.1.3"));

    if (!InstallSignalPipe())
        std::fprintf(stderr, "relayvane: cannot catch SIGINT and SIGTERM: %s\n", std::strerror(errno));

    Options.ConfigPath = ConfigFilePath(Args.ConfigPath);
    // The per-user lock is taken when start-up counts the running copies, and held until the end.
    std::unique_ptr<TInstanceLock> Lock;
    Options.RunningCopies = [&Lock] {
        Lock = std::make_unique<TInstanceLock>(RuntimeFolder() + QStringLiteral("/relayvane.lock"));
        return ProgramRunningCopies(*Lock, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    };
    Options.CreateShortcut = [] {
        // A launcher we cannot make is worth a line, never a stop.
        QString Error;
        try {
            if (!WriteDesktopEntry(DesktopFolder(), QCoreApplication::applicationFilePath(), &Error))
                std::fprintf(stderr, "relayvane: no desktop launcher: %s\n", qPrintable(Error));
        } catch (const Exception &E) {
            std::fprintf(stderr, "relayvane: no desktop launcher: %s\n", qPrintable(E.Message()));
        }
    };

    TMainForm Form(Options);
#ifdef RELAYVANE_WITH_GUI
    if (!Headless) {
        InstallTrayAndMenu(Form);
        InstallDialogs(Form);
    }
#endif
    // SIGINT and SIGTERM are watched from before start-up: a warning start-up shows (a download
    // that failed, ...) waits in a modal loop, and a signal must end the program there as well.
    // The first signal closes as the Exit item does; a second one, while that close itself waits
    // for someone, ends the program at once.
    bool StartingUp = true;
    bool StopRequested = false;
    std::unique_ptr<QSocketNotifier> SignalNotifier;
    if (SignalPipe[0] >= 0) {
        SignalNotifier = std::make_unique<QSocketNotifier>(SignalPipe[0], QSocketNotifier::Read);
        QObject::connect(SignalNotifier.get(), &QSocketNotifier::activated, [&] {
            char Buf[64];
            while (::read(SignalPipe[0], Buf, sizeof Buf) > 0) {
            }
            if (StopRequested) {
                std::fputs("relayvane: second signal; ending without waiting\n", stderr);
                std::_Exit(1);
            }
            StopRequested = true;
            if (StartingUp)
                // Leaves every running loop, a modal warning's included; start-up then finishes
                // its step and main closes the program below.
                QCoreApplication::exit(0);
            else
                // The same end as the Exit item: browsers restored, config.cfg saved, relay stopped.
                Form.ExitClick(nullptr);
        });
    }

    Form.FormCreate();
    StartingUp = false;
    // Start-up gave up (another copy, browsers that cannot be set up): nothing of this run is
    // saved, so FormClose does not run.
    if (Form.Terminated())
        return 1;
    if (StopRequested) {
        Form.FormClose();
        return 0;
    }

    TControlServer Control(Form);
    try {
        Control.Listen();
    } catch (const Exception &E) {
        std::fprintf(stderr, "relayvane: %s; 'relayvane-cli ctl' cannot reach this copy\n", qPrintable(E.Message()));
    }

    const int Status = App->exec();
    // However the loop ended, the browsers get their settings back and the configuration is
    // saved; FormClose runs only once.
    Form.FormClose();
    return Status;
}
