// relayvane-cli browsers: status against golden files, setup and restore across processes (GSettings
// on its keyfile backend in a sandbox, so the settings outlive each run), errors and help.

#include "tests/browsers/BrowserSandbox.h"
#include "tests/support/TestSupport.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using browsertest::TSandboxHome;
using testsupport::DataPath;
using testsupport::ReadFile;
using testsupport::RunProgram;

namespace {

const QString kCli = QStringLiteral(RELAYVANE_CLI);

/// The child processes' environment for one test.
class TCliEnv {
public:
    explicit TCliEnv(const TSandboxHome &Sandbox) {
        Set("GSETTINGS_BACKEND", "keyfile");
        Set("RELAYVANE_SYSTEM_PROXY", "gnome");
        Set("RELAYVANE_CONFIG", (Sandbox.Home() + QStringLiteral("/config.cfg")).toLocal8Bit());
    }
    ~TCliEnv() {
        for (const auto &[name, had, old] : FSaved)
            had ? qputenv(name, old) : qunsetenv(name);
    }
    void Set(const char *Name, const QByteArray &Value) {
        FSaved.push_back({Name, qEnvironmentVariableIsSet(Name), qgetenv(Name)});
        qputenv(Name, Value);
    }

private:
    struct TSaved {
        const char *Name;
        bool Had;
        QByteArray Old;
    };
    std::vector<TSaved> FSaved;
};

/// Output with the sandbox folder as $HOME and the machine's running browsers left out.
QByteArray Normalised(QByteArray Out, const TSandboxHome &Sandbox) {
    Out.replace(Sandbox.Home().toLocal8Bit(), "$HOME");
    return QString::fromLocal8Bit(Out)
        .replace(QRegularExpression(QStringLiteral("running browsers: [^\n]*")), QStringLiteral("running browsers: -"))
        .toLocal8Bit();
}

void PutBrowsers(const TSandboxHome &Sandbox) {
    Sandbox.Put(
        QStringLiteral(".mozilla/firefox/profiles.ini"),
        "[Install4F96D1932A9F858E]\nDefault=abcd.default-esr\n\n[Profile0]\nPath=abcd.default-esr\nDefault=1\n");
    Sandbox.Put(QStringLiteral(".mozilla/firefox/abcd.default-esr/prefs.js"),
                "user_pref(\"network.proxy.http\", \"10.0.0.1\");\nuser_pref(\"network.proxy.http_port\", 8080);\n"
                "user_pref(\"network.proxy.type\", 1);\n");
    Sandbox.Put(QStringLiteral(".opera/operaprefs.ini"), "[Proxy]\nHTTP server=10.0.0.2:3128\nUse HTTP=0\n");
}

TEST(BrowsersCommand, StatusSetupRestoreRoundTrip) {
    TSandboxHome sandbox;
    const TCliEnv env(sandbox);
    PutBrowsers(sandbox);
    QByteArray out, err;
    ASSERT_EQ(RunProgram(kCli, {QStringLiteral("browsers"), QStringLiteral("status")}, &out, &err), 0)
        << err.constData();
    EXPECT_EQ(Normalised(out, sandbox),
              ReadFile(DataPath(QStringLiteral("browsers"), QStringLiteral("status-before.golden"))));

    ASSERT_EQ(RunProgram(kCli,
                         {QStringLiteral("browsers"), QStringLiteral("setup"), QStringLiteral("--browser"),
                          QStringLiteral("google chrome")},
                         &out, &err),
              0)
        << err.constData();
    EXPECT_EQ(out, QByteArray("set up google chrome: browsers point at 127.0.0.1:3128\n"));
    ASSERT_EQ(RunProgram(kCli, {QStringLiteral("browsers")}, &out, &err), 0) << err.constData();
    EXPECT_EQ(Normalised(out, sandbox),
              ReadFile(DataPath(QStringLiteral("browsers"), QStringLiteral("status-setup.golden"))));
    // What another program on the desktop reads: the keyfile backend's file.
    const QByteArray keyfile = ReadFile(sandbox.Config() + QStringLiteral("/glib-2.0/settings/keyfile"));
    EXPECT_TRUE(keyfile.contains("mode='manual'")) << keyfile.constData();
    EXPECT_TRUE(keyfile.contains("host='127.0.0.1'"));
    EXPECT_TRUE(keyfile.contains("port=3128"));

    ASSERT_EQ(RunProgram(kCli, {QStringLiteral("browsers"), QStringLiteral("restore"), QStringLiteral("--system-only")},
                         &out, &err),
              0)
        << err.constData();
    ASSERT_EQ(RunProgram(kCli, {QStringLiteral("browsers")}, &out, &err), 0) << err.constData();
    EXPECT_EQ(Normalised(out, sandbox),
              ReadFile(DataPath(QStringLiteral("browsers"), QStringLiteral("status-before.golden"))));

    ASSERT_EQ(
        RunProgram(kCli, {QStringLiteral("browsers"), QStringLiteral("status"), QStringLiteral("--json")}, &out, &err),
        0);
    EXPECT_TRUE(out.contains("\"relay\": \"127.0.0.1:3128\"")) << out.constData();
}

TEST(BrowsersCommand, ErrorsAreOneLineAndStatusOne) {
    TSandboxHome sandbox;
    TCliEnv env(sandbox);
    const struct {
        QStringList Args;
        const char *Message;
    } cases[] = {
        {{QStringLiteral("browsers"), QStringLiteral("setup"), QStringLiteral("--browser"), QStringLiteral("chrome")},
         "relayvane-cli: browsers: unknown browser 'chrome'"},
        {{QStringLiteral("browsers"), QStringLiteral("frobnicate")}, "relayvane-cli: browsers: unknown command"},
        {{QStringLiteral("browsers"), QStringLiteral("--bogus")}, "relayvane-cli: browsers: unknown option '--bogus'"},
        {{QStringLiteral("browsers"), QStringLiteral("setup"), QStringLiteral("--browser")},
         "relayvane-cli: browsers: --browser needs a value"},
    };
    for (const auto &c : cases) {
        QByteArray out, err;
        EXPECT_EQ(RunProgram(kCli, c.Args, &out, &err), 1) << c.Message;
        EXPECT_TRUE(err.startsWith(c.Message)) << err.constData();
        EXPECT_EQ(err.count('\n'), 1) << err.constData();
    }
    // No desktop settings to write: the warning, and a failure status.
    env.Set("RELAYVANE_SYSTEM_PROXY", "none");
    QByteArray out, err;
    EXPECT_EQ(RunProgram(kCli,
                         {QStringLiteral("browsers"), QStringLiteral("setup"), QStringLiteral("--browser"),
                          QStringLiteral("google chrome")},
                         &out, &err),
              1);
    EXPECT_TRUE(err.startsWith("relayvane-cli: browsers: Program cannot be prepare for Internet Explorer, Google "
                               "Chrome and Safari! For more information please refer to FAQ at "))
        << err.constData();
    EXPECT_EQ(RunProgram(kCli, {QStringLiteral("browsers"), QStringLiteral("--help")}, &out, &err), 0);
    EXPECT_TRUE(out.startsWith("usage: relayvane-cli browsers"));
}

} // namespace
