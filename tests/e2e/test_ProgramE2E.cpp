// The program end to end: `relayvane --headless` in a sandbox home, its proxies downloaded at
// start-up from the real relayvane-service, which lists two real tinyproxy gateways; it is driven
// with `relayvane-cli ctl` and curl goes through its relay to a local origin.

#include "platform/ControlChannel.h"
#include "platform/SysUtils.h"
#include "tests/e2e/RelayPeers.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XvfbDisplay.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using relaytest::Origin;
using relaytest::Tinyproxy;

namespace {

const QString kProgram = QStringLiteral(RELAYVANE_PROGRAM);
const QString kCli = QStringLiteral(RELAYVANE_CLI);
const QString kService = QStringLiteral(RELAYVANE_SERVICE_BIN);

// Bounded polling: Ready is asked every 50 ms until it holds or about 30 s have passed.
template <typename F> bool PollUntil(F Ready, int Tries = 600) {
    for (int i = 0; i < Tries; ++i) {
        if (Ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class ProgramE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindProgram(QStringLiteral("tinyproxy")).isEmpty())
            GTEST_SKIP() << "tinyproxy is not installed";
        ASSERT_TRUE(FDir.isValid());
        for (const char *Sub : {"home/.config", "home/Desktop", "run", "gw1", "gw2"})
            ASSERT_TRUE(QDir(FDir.path()).mkpath(QLatin1String(Sub)));
        QFile::setPermissions(FDir.filePath("run"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        ASSERT_TRUE(FOrigin.Start());
        ASSERT_TRUE(FGateway[0].Start(FDir.filePath("gw1")));
        ASSERT_TRUE(FGateway[1].Start(FDir.filePath("gw2")));

        // The service lists both gateways with figures every default filter lets through.
        const qint64 Now = QDateTime::currentSecsSinceEpoch();
        QJsonArray Proxies;
        for (const Tinyproxy &G : FGateway)
            Proxies.append(QJsonObject{{"address", "127.0.0.1"},
                                       {"port", G.Port()},
                                       {"country_code", "DE"},
                                       {"country", "Germany"},
                                       {"type", "elite"},
                                       {"https", true},
                                       {"post", true},
                                       {"speed", 50},
                                       {"ping", 1},
                                       {"uptime", 95},
                                       {"uptime_hours", 48},
                                       {"last_check", double(Now)}});
        WriteFile(FDir.filePath("proxies.json"), QJsonDocument(Proxies).toJson());
        const QString Db = FDir.filePath("service.sqlite");
        QByteArray Err;
        ASSERT_EQ(RunProgram(kService, {"--db", Db, "import", "--json", FDir.filePath("proxies.json")}, nullptr, &Err),
                  0)
            << Err.constData();
        const int ServicePort = FreeTcpPort();
        ASSERT_TRUE(FService.Start(kService,
                                   {"--db", Db, "serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(ServicePort)},
                                   FDir.filePath("service.log")));
        ASSERT_TRUE(WaitForPort(ServicePort)) << "the service did not come up";

        FRelayPort = FreeTcpPort();
        FConfig = FDir.filePath("home/config.cfg");
        const QString Home = FDir.filePath("home");
        FEnv = QProcessEnvironment::systemEnvironment();
        for (const char *Name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "RELAYVANE_CONFIG", "RELAYVANE_JUDGE",
                                 "XDG_CURRENT_DESKTOP", "DBUS_SESSION_BUS_ADDRESS"})
            FEnv.remove(QLatin1String(Name));
        FEnv.insert("HOME", Home);
        FEnv.insert("XDG_CONFIG_HOME", Home + "/.config");
        FEnv.insert("XDG_RUNTIME_DIR", FDir.filePath("run"));
        FEnv.insert("GSETTINGS_BACKEND", "keyfile");
        FEnv.insert("RELAYVANE_SYSTEM_PROXY", "gnome");
        FEnv.insert("RELAYVANE_SERVICE", QStringLiteral("http://127.0.0.1:%1").arg(ServicePort));
        FEnv.insert("RELAYVANE_RELAY_PORT", QString::number(FRelayPort));

        // The list service is the source, so start-up downloads at once.
        ASSERT_EQ(Cli({"config", "--config", FConfig, "set", "UseListService", "true"}), 0) << FErr.constData();
    }

    void TearDown() override {
        if (FProgram.state() != QProcess::NotRunning) {
            FProgram.kill();
            FProgram.waitForFinished(10000);
        }
    }

    int Cli(const QStringList &Args) {
        QProcess P;
        P.setProcessEnvironment(FEnv);
        P.start(kCli, Args);
        if (!P.waitForFinished(60000)) {
            P.kill();
            P.waitForFinished();
            return -1;
        }
        FOut = P.readAllStandardOutput();
        FErr = P.readAllStandardError();
        return P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
    }

    QJsonObject Ctl(const QString &Command, const QString &Arg = QString()) {
        QStringList Args{"ctl", Command};
        if (!Arg.isEmpty())
            Args << Arg;
        Args << "--json";
        EXPECT_EQ(Cli(Args), 0) << FErr.constData();
        return QJsonDocument::fromJson(FOut).object();
    }

    void StartProgram(const QString &Display = QString()) {
        QProcessEnvironment Env = FEnv;
        if (!Display.isEmpty())
            Env.insert("DISPLAY", Display);
        FProgram.setProcessEnvironment(Env);
        FProgram.setProcessChannelMode(QProcess::SeparateChannels);
        FProgram.start(kProgram, {"--headless", "--config", FConfig});
        ASSERT_TRUE(FProgram.waitForStarted());
        // Up once the control socket answers, with both downloaded proxies in the menu.
        QJsonObject S;
        const bool Up = PollUntil([&] {
            if (FProgram.state() == QProcess::NotRunning)
                return true;
            if (Cli({"ctl", "status", "--json"}) != 0)
                return false;
            S = QJsonDocument::fromJson(FOut).object();
            return S["FVipProxyCount"].toInt() == 2 && !S["DownloadProxy"].toBool();
        });
        ASSERT_EQ(FProgram.state(), QProcess::Running) << FProgram.readAllStandardError().constData();
        ASSERT_TRUE(Up) << "status never showed the download: " << FOut.constData() << FErr.constData();
        FState = S;
    }

    QString Gateway(int i) const { return QStringLiteral("127.0.0.1:%1").arg(FGateway[i].Port()); }

    // Fetches the origin's /echo through the relay with a unique query; returns the gateway (0, 1)
    // whose log shows that request, -1 when none does or the fetch failed.
    int FetchThroughRelay() {
        const QString Tag = QStringLiteral("t%1").arg(++FRequests);
        int Status = -1;
        const QByteArray Body =
            relaytest::Curl({"--max-time", "20", "-x", QStringLiteral("http://127.0.0.1:%1").arg(FRelayPort),
                             QStringLiteral("http://127.0.0.1:%1/echo?%2").arg(FOrigin.Port()).arg(Tag)},
                            &Status);
        EXPECT_EQ(Status, 0);
        EXPECT_TRUE(Body.contains("tinyproxy")) << "the origin saw no Via of a gateway: " << Body.constData();
        for (int i = 0; i < 2; ++i) {
            QFile Log(FGateway[i].LogFile());
            if (Log.open(QIODevice::ReadOnly) && Log.readAll().contains("/echo?" + Tag.toLatin1()))
                return i;
        }
        return -1;
    }

    QTemporaryDir FDir;
    Origin FOrigin;
    Tinyproxy FGateway[2];
    ChildProcess FService;
    QProcessEnvironment FEnv;
    QString FConfig;
    int FRelayPort = 0;
    int FRequests = 0;
    QProcess FProgram;
    QJsonObject FState;
    QByteArray FOut, FErr;
};

TEST_F(ProgramE2E, DownloadsAtStartUpThenRelaysThroughTheProxyTheControlChooses) {
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    const QSet<QString> Both{Gateway(0), Gateway(1)};
    // The start-up download picks a proxy but cannot switch proxying on before the menu is ready.
    EXPECT_TRUE(Both.contains(FState["ActiveProxy"].toString())) << FOut.constData();
    EXPECT_FALSE(FState["Enabled"].toBool());
    EXPECT_EQ(FState["FUSerProxyCount"].toInt(), 0);

    QJsonObject S = Ctl("enable");
    ASSERT_TRUE(S["Enabled"].toBool());
    ASSERT_TRUE(Both.contains(S["ActiveProxy"].toString()));
    EXPECT_EQ(Gateway(FetchThroughRelay()), S["ActiveProxy"].toString());

    // Random switches reach both gateways, and the relay follows each one.
    QSet<QString> Seen;
    for (int i = 0; i < 40 && Seen.size() < 2; ++i) {
        S = Ctl("switch");
        ASSERT_TRUE(Both.contains(S["ActiveProxy"].toString())) << FOut.constData();
        EXPECT_TRUE(S["Enabled"].toBool());
        Seen.insert(S["ActiveProxy"].toString());
    }
    EXPECT_EQ(Seen, Both);
    EXPECT_EQ(Gateway(FetchThroughRelay()), S["ActiveProxy"].toString());

    // A named entry, and one the menu does not have.
    const QString Other = S["ActiveProxy"].toString() == Gateway(0) ? Gateway(1) : Gateway(0);
    EXPECT_EQ(Ctl("use", Other)["ActiveProxy"].toString(), Other);
    EXPECT_EQ(Gateway(FetchThroughRelay()), Other);
    EXPECT_EQ(Cli({"ctl", "use", "10.9.9.9:1"}), 1);
    EXPECT_EQ(FErr, QByteArray("relayvane-cli: ctl: 10.9.9.9:1 is not in the proxy menu\n"));
    EXPECT_EQ(Cli({"ctl", "fly"}), 2);

    // Human-readable status.
    ASSERT_EQ(Cli({"ctl", "status"}), 0);
    EXPECT_TRUE(FOut.startsWith("Active proxy:       " + Other.toLatin1() + " (Germany, DE)\nProxying:           on\n"))
        << FOut.constData();
}

TEST_F(ProgramE2E, ASecondCopyRefusesAndTheFirstRunsOn) {
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    QProcess Second;
    Second.setProcessEnvironment(FEnv);
    Second.start(kProgram, {"--headless", "--config", FConfig});
    ASSERT_TRUE(Second.waitForFinished(60000));
    EXPECT_EQ(Second.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(Second.exitCode(), 0);
    EXPECT_TRUE(Second.readAllStandardError().contains("You cannot run two copies of that program."));
    EXPECT_EQ(Ctl("status")["FVipProxyCount"].toInt(), 2) << "the first copy still answers";
    // A control-less copy does not take over the first one's socket either.
    EXPECT_TRUE(QFile::exists(FDir.filePath("run/relayvane/ctl.sock")));
}

TEST_F(ProgramE2E, SigtermRestoresTheSystemProxyAndSavesTheConfiguration) {
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    const QString Active = Ctl("enable")["ActiveProxy"].toString();
    ASSERT_FALSE(Active.isEmpty());
    const QByteArray Relay = QStringLiteral("127.0.0.1:%1").arg(FRelayPort).toLatin1();
    ASSERT_EQ(Cli({"browsers", "status", "--config", FConfig}), 0) << FErr.constData();
    EXPECT_TRUE(FOut.contains("now:        " + Relay + " (on)"))
        << "the desktop points at the relay: " << FOut.constData();

    FProgram.terminate();
    ASSERT_TRUE(FProgram.waitForFinished(60000));
    EXPECT_EQ(FProgram.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(FProgram.exitCode(), 0) << FProgram.readAllStandardError().constData();

    ASSERT_EQ(Cli({"config", "--config", FConfig, "get", "ActiveProxyServer"}), 0) << FErr.constData();
    EXPECT_EQ(FOut.trimmed(), Active.toLatin1());
    ASSERT_EQ(Cli({"config", "--config", FConfig, "get", "Enabled"}), 0);
    EXPECT_EQ(FOut.trimmed(), QByteArray("true"));
    ASSERT_EQ(Cli({"browsers", "status", "--config", FConfig}), 0);
    EXPECT_FALSE(FOut.contains(Relay)) << "the desktop's own settings are back: " << FOut.constData();
    EXPECT_FALSE(QFile::exists(FDir.filePath("run/relayvane/ctl.sock")));
    EXPECT_NE(Cli({"ctl", "status"}), 0);
    EXPECT_TRUE(FErr.contains("relayvane is not running")) << FErr.constData();

    // The first run left its launcher on the desktop.
    const QByteArray Launcher = ReadFile(FDir.filePath("home/Desktop/Relayvane.desktop"));
    EXPECT_TRUE(Launcher.contains("Exec=\"" + QFileInfo(kProgram).absoluteFilePath().toUtf8() + "\"\n"))
        << Launcher.constData();
}

// The control socket belongs to its user alone and answers every bad request with an error line,
// after which the program still serves the next client.
TEST_F(ProgramE2E, TheControlSocketAnswersBadRequestsWithAnErrorLine) {
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    const QString Socket = FDir.filePath("run/relayvane/ctl.sock");
    struct stat St {};
    ASSERT_EQ(::stat(QFile::encodeName(Socket).constData(), &St), 0);
    EXPECT_EQ(St.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(FDir.filePath("run/relayvane")).constData(), &St), 0);
    EXPECT_EQ(St.st_mode & 0777, 0700u);

    struct TCase {
        QByteArray Request;
        QByteArray Error;
    } Cases[] = {
        {"fly", "unknown command 'fly'"},
        {"", "empty request"},
        {"status now", "status takes no argument"},
        {"use", "use needs one IP:PORT"},
        {"use 127.0.0.1:1", "127.0.0.1:1 is not in the proxy menu"},
    };
    for (const TCase &C : Cases) {
        const TControlReply R = ControlRequest(Socket, C.Request, 20000);
        EXPECT_FALSE(R.Ok) << C.Request.constData();
        EXPECT_EQ(R.Payload, C.Error) << C.Request.constData();
    }

    // A line longer than the program reads is refused, not gathered without end.
    const int Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un A{};
    A.sun_family = AF_UNIX;
    const QByteArray P = QFile::encodeName(Socket);
    std::memcpy(A.sun_path, P.constData(), static_cast<size_t>(P.size()));
    ASSERT_EQ(::connect(Fd, reinterpret_cast<sockaddr *>(&A), sizeof A), 0);
    const QByteArray Long(4 * kControlMaxRequest, 'a');
    [[maybe_unused]] const ssize_t Sent = ::send(Fd, Long.constData(), Long.size(), MSG_NOSIGNAL);
    EXPECT_EQ(relaytest::ReadUntil(Fd, "\n", 20000), QByteArray("ERROR request too long\n"));
    ::close(Fd);

    EXPECT_EQ(Ctl("status")["FVipProxyCount"].toInt(), 2) << "still serving";
}

// The global hotkeys of a headless copy on a private X server: Ctrl+Shift+E toggles proxying, as
// the tray's left click and `ctl enable` do.
TEST_F(ProgramE2E, CtrlShiftETogglesProxyingOnTheXServer) {
    if (FindProgram(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "xdotool is not installed (scripts/install-deps.sh installs it)";
    TXvfbDisplay X;
    QString Error;
    ASSERT_TRUE(X.Start(&Error)) << Error.toStdString();
    // The control socket answers once start-up is over, hotkeys grabbed included.
    ASSERT_NO_FATAL_FAILURE(StartProgram(X.Name()));
    ASSERT_FALSE(FState["Enabled"].toBool());
    for (const bool Expected : {true, false}) {
        ASSERT_TRUE(X.XdoTool({"key", "ctrl+shift+e"}));
        EXPECT_TRUE(PollUntil([&] {
            return Cli({"ctl", "status", "--json"}) == 0 &&
                   QJsonDocument::fromJson(FOut).object()["Enabled"].toBool() == Expected;
        })) << "Enabled never became "
            << Expected << ": " << FOut.constData();
    }
}

// A signal ends the desktop program even while start-up waits in a modal warning (here: the list
// service cannot be reached), and the desktop gets its own proxy settings back.
TEST_F(ProgramE2E, SigtermDuringAStartUpWarningStillRestores) {
#if !RELAYVANE_GUI_BUILT
    GTEST_SKIP() << "relayvane is built without the desktop parts";
#endif
    if (FindProgram(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "xdotool is not installed (scripts/install-deps.sh installs it)";
    TXvfbDisplay X;
    QString Error;
    ASSERT_TRUE(X.Start(&Error)) << Error.toStdString();
    QProcessEnvironment Env = FEnv;
    Env.insert("DISPLAY", X.Name());
    Env.insert("RELAYVANE_SERVICE", QStringLiteral("http://127.0.0.1:%1").arg(FreeTcpPort()));
    FProgram.setProcessEnvironment(Env);
    FProgram.start(kProgram, {"--config", FConfig});
    ASSERT_TRUE(FProgram.waitForStarted());
    const QString Xdo = FindProgram(QStringLiteral("xdotool"));
    ASSERT_TRUE(PollUntil([&] {
        return RunProgram(QStringLiteral("/usr/bin/env"),
                          {QStringLiteral("DISPLAY=") + X.Name(), Xdo, "search", "--name", "^Warning"}) == 0;
    })) << "no warning window: "
        << FProgram.readAllStandardError().constData();
    const QByteArray Relay = QStringLiteral("127.0.0.1:%1").arg(FRelayPort).toLatin1();
    ASSERT_EQ(Cli({"browsers", "status", "--config", FConfig}), 0);
    EXPECT_TRUE(FOut.contains(Relay)) << "start-up had set up the desktop: " << FOut.constData();

    FProgram.terminate();
    ASSERT_TRUE(FProgram.waitForFinished(60000)) << "the modal warning kept the program alive";
    EXPECT_EQ(FProgram.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(Cli({"browsers", "status", "--config", FConfig}), 0);
    EXPECT_FALSE(FOut.contains(Relay)) << FOut.constData();
}

// The command line's side without a running program: help, usage errors, and a clear word when
// nothing answers.
TEST(ProgramCtl, HelpUsageAndNoProgram) {
    QTemporaryDir Run;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("XDG_RUNTIME_DIR", Run.path());
    auto Cli = [&](const QStringList &Args, QByteArray *Out, QByteArray *Err) {
        QProcess P;
        P.setProcessEnvironment(Env);
        P.start(kCli, QStringList{"ctl"} + Args);
        EXPECT_TRUE(P.waitForFinished(60000));
        *Out = P.readAllStandardOutput();
        *Err = P.readAllStandardError();
        return P.exitCode();
    };
    QByteArray Out, Err;
    EXPECT_EQ(Cli({"--help"}, &Out, &Err), 0);
    EXPECT_EQ(Out, ReadFile(DataPath(QStringLiteral("e2e"), QStringLiteral("ctl-help.golden"))));

    struct TCase {
        QStringList Args;
        const char *Err;
    } Usage[] = {
        {{}, "a COMMAND is needed"},
        {{"fly"}, "unknown command 'fly'"},
        {{"status", "--bogus"}, "unknown argument '--bogus'"},
        {{"enable", "now"}, "enable takes no argument"},
        {{"use"}, "use needs one IP:PORT"},
        {{"use", "1.2.3.4"}, "'1.2.3.4' is not IP:PORT"},
        {{"use", "1.2.3.4:70000"}, "'1.2.3.4:70000' is not IP:PORT"},
        {{"status", "--timeout", "-1"}, "--timeout needs a number of seconds (up to 86400)"},
    };
    for (const TCase &C : Usage) {
        EXPECT_EQ(Cli(C.Args, &Out, &Err), 2) << C.Err;
        EXPECT_EQ(Err, QByteArray("relayvane-cli: ctl: ") + C.Err + "; see 'relayvane-cli ctl --help'\n");
    }
    EXPECT_EQ(Cli({"status"}, &Out, &Err), 1);
    EXPECT_EQ(Err, "relayvane-cli: relayvane is not running (nothing answers on " + Run.path().toUtf8() +
                       "/relayvane/ctl.sock)\n");
}

} // namespace
