// Preparing and restoring browsers in a sandbox HOME: the per-user store, GNOME's settings on
// GSettings' memory backend with the real schema, Firefox's prefs.js and Opera's INI file, and
// stand-in browser processes that are ended and started again.

#include "browsers/BrowserSetup.h"
#include "browsers/GnomeProxySettings.h"
#include "browsers/ProcessInfoLite.h"
#include "browsers/ProxyManager.h"
#include "platform/Registry.h"
#include "tests/browsers/BrowserSandbox.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using browsertest::TSandboxHome;
using testsupport::ReadFile;

namespace {

const QString kKey = TRegistry::ProgramKey();

struct TWarning {
    QString Msg, Url;
};

class BrowserSetup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(TGnomeProxySettings::SchemaInstalled());
        // The memory backend lives as long as the process: start every test from the defaults.
        FManager.EnableProxyIE(QString());
        FManager.DisableProxyIE();
        FSetup.SetOnWarning([this](const QString &msg, const QString &url) { FWarnings.push_back({msg, url}); });
        // Never aim at real browsers: a developer's Firefox, or the one the e2e run starts beside us.
        FSetup.SetProcessNames(QStringLiteral("firefox"), {QStringLiteral("rvn-test-no-such-browser")});
        FSetup.SetProcessNames(QStringLiteral("opera"), {QStringLiteral("rvn-test-no-such-browser")});
    }
    void TearDown() override {
        FManager.EnableProxyIE(QString());
        FManager.DisableProxyIE();
    }

    void SystemIs(const char *Server, bool State) {
        QString server;
        bool state = !State;
        EXPECT_TRUE(FManager.GetProxyIE(server, state));
        EXPECT_EQ(server, QString::fromLatin1(Server));
        EXPECT_EQ(state, State);
    }
    void Remembered(const char *Suffix, int Changed, const char *Server, int State) {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kKey, false));
        const QString s = QLatin1String(Suffix);
        EXPECT_EQ(reg.ReadInteger(QStringLiteral("ProxyServerChanged") + s), Changed) << Suffix;
        EXPECT_EQ(reg.ReadString(QStringLiteral("DefaultProxyServer") + s), QString::fromLatin1(Server)) << Suffix;
        EXPECT_EQ(reg.ReadInteger(QStringLiteral("DefaultProxyState") + s), State) << Suffix;
    }
    void Remember(const char *Suffix, int Changed, const char *Server, int State) {
        TRegistry reg;
        reg.OpenKey(kKey, true);
        const QString s = QLatin1String(Suffix);
        reg.WriteInteger(QStringLiteral("ProxyServerChanged") + s, Changed);
        reg.WriteString(QStringLiteral("DefaultProxyServer") + s, QString::fromLatin1(Server));
        reg.WriteInteger(QStringLiteral("DefaultProxyState") + s, State);
    }
    QString PutFirefox(const QByteArray &Prefs) {
        FSandbox.Put(QStringLiteral(".mozilla/firefox/profiles.ini"), "[Profile0]\nPath=t.default-esr\nDefault=1\n");
        return FSandbox.Put(QStringLiteral(".mozilla/firefox/t.default-esr/prefs.js"), Prefs);
    }

    TSandboxHome FSandbox;
    TProxyManager FManager{systemproxy::CreateGnomeBackend()};
    TProcessInfoLite FProcesses;
    TBrowserSetup FSetup{&FManager, &FProcesses};
    std::vector<TWarning> FWarnings;
};

TEST_F(BrowserSetup, SystemSettingsAreRememberedOnceAndGivenBack) {
    ASSERT_TRUE(FManager.EnableProxyIE(QStringLiteral("10.0.0.5:8080")));
    FManager.DisableProxyIE();
    const QString prefs = PutFirefox("user_pref(\"network.proxy.type\", 0);\n");
    FSetup.SetBrowser(QStringLiteral("google chrome"));

    EXPECT_EQ(FSetup.SetupBrowser(true), 1);
    SystemIs("127.0.0.1:3128", true);
    Remembered("IE", 1, "10.0.0.5:8080", 0);
    // Proxying turned on again: neither the setting nor the memory changes.
    ASSERT_TRUE(FManager.EnableProxyIE(QStringLiteral("9.9.9.9:1")));
    EXPECT_EQ(FSetup.SetupBrowser(true), 1);
    SystemIs("9.9.9.9:1", true);
    Remembered("IE", 1, "10.0.0.5:8080", 0);
    EXPECT_TRUE(FSetup.HasUnrestoredChanges());

    EXPECT_TRUE(FSetup.RestoreBrowser(true));
    SystemIs("10.0.0.5:8080", false);
    Remembered("IE", 0, "", 0);
    EXPECT_FALSE(FSetup.HasUnrestoredChanges());
    // Chrome follows the system settings only: Firefox was never touched.
    EXPECT_EQ(ReadFile(prefs), QByteArray("user_pref(\"network.proxy.type\", 0);\n"));
    EXPECT_TRUE(FWarnings.empty());
}

TEST_F(BrowserSetup, RestoringAnEmptyRememberedServerLeavesDirectAccess) {
    ASSERT_TRUE(FManager.EnableProxyIE(TBrowserSetup::RelayAddress()));
    Remember("IE", 1, "", 0);
    EXPECT_TRUE(FSetup.RestoreBrowser(false));
    SystemIs("", false);
    Remembered("IE", 0, "", 0);
}

TEST_F(BrowserSetup, MarksLeftByAKilledRunAreRestoredWhateverTheBrowserNowIs) {
    const QString prefs = PutFirefox("user_pref(\"network.proxy.http\", \"127.0.0.1\");\n"
                                     "user_pref(\"network.proxy.http_port\", 3128);\n"
                                     "user_pref(\"network.proxy.type\", 1);\n");
    const QString opera = FSandbox.Put(QStringLiteral(".opera/operaprefs.ini"),
                                       "[Proxy]\nHTTP server=127.0.0.1:3128\nUse HTTP=1\nUse HTTPS=1\n");
    Remember("FF", 1, "proxy.lan:8080", 1);
    Remember("OP", 1, "", 0);
    FSetup.SetBrowser(QStringLiteral("google chrome"));
    FSetup.SetProcessNames(QStringLiteral("firefox"), {QStringLiteral("rvn-test-no-such-browser")});
    FSetup.SetProcessNames(QStringLiteral("opera"), {QStringLiteral("rvn-test-no-such-browser")});

    ASSERT_TRUE(FSetup.HasUnrestoredChanges());
    EXPECT_TRUE(FSetup.RestoreBrowser(false));
    QString server;
    bool state = false;
    EXPECT_TRUE(FManager.GetProxyFirefox(server, state));
    EXPECT_EQ(server, QStringLiteral("proxy.lan:8080"));
    EXPECT_TRUE(state);
    EXPECT_TRUE(FManager.GetProxyOpera(server, state));
    EXPECT_FALSE(state);
    EXPECT_TRUE(ReadFile(opera).contains("Use HTTPS=0"));
    Remembered("FF", 0, "", 0);
    Remembered("OP", 0, "", 0);
    EXPECT_FALSE(FSetup.HasUnrestoredChanges());

    // The start-up then sets up only what the configuration names.
    EXPECT_EQ(FSetup.SetupBrowser(false), 1);
    SystemIs("127.0.0.1:3128", true);
    EXPECT_TRUE(FManager.GetProxyFirefox(server, state));
    EXPECT_EQ(server, QStringLiteral("proxy.lan:8080"));
    Remembered("FF", 0, "", 0);
}

TEST_F(BrowserSetup, AFlagWithoutItsStateIsLeftAlone) {
    ASSERT_TRUE(FManager.EnableProxyIE(TBrowserSetup::RelayAddress()));
    {
        TRegistry reg;
        reg.OpenKey(kKey, true);
        reg.WriteInteger(QStringLiteral("ProxyServerChangedIE"), 1);
        reg.WriteString(QStringLiteral("DefaultProxyServerIE"), QStringLiteral("10.0.0.5:8080"));
        // a value of the wrong type in the next block does not stop the one after it
        reg.WriteString(QStringLiteral("ProxyServerChangedFF"), QStringLiteral("yes"));
        reg.WriteString(QStringLiteral("DefaultProxyServerFF"), QString());
        reg.WriteInteger(QStringLiteral("DefaultProxyStateFF"), 0);
    }
    Remember("OP", 1, "", 0);
    FSandbox.Put(QStringLiteral(".opera/operaprefs.ini"), "[Proxy]\nUse HTTP=1\n");
    FSetup.SetProcessNames(QStringLiteral("firefox"), {});
    FSetup.SetProcessNames(QStringLiteral("opera"), {});
    EXPECT_TRUE(FSetup.RestoreBrowser(false));
    SystemIs("127.0.0.1:3128", true);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("ProxyServerChangedIE")), 1);
    EXPECT_EQ(reg.ReadString(QStringLiteral("DefaultProxyServerIE")), QStringLiteral("10.0.0.5:8080"));
    Remembered("OP", 0, "", 0);
}

TEST_F(BrowserSetup, NoStoreAtAll) {
    const QString store = TRegistry::DefaultFileName();
    ASSERT_TRUE(store.startsWith(FSandbox.Home()));
    FSetup.SetProcessNames(QStringLiteral("firefox"), {});
    FSetup.SetProcessNames(QStringLiteral("opera"), {});
    ASSERT_TRUE(FManager.EnableProxyIE(QStringLiteral("10.0.0.5:8080")));
    EXPECT_TRUE(FSetup.RestoreBrowser(false));
    SystemIs("10.0.0.5:8080", true);
    EXPECT_FALSE(TRegistry().KeyExists(kKey));
    EXPECT_FALSE(FSetup.HasUnrestoredChanges());
    EXPECT_EQ(FSetup.SetupBrowser(false), 1);
    EXPECT_TRUE(TRegistry().KeyExists(kKey));
    Remembered("IE", 1, "10.0.0.5:8080", 1);
}

TEST_F(BrowserSetup, AFailingPlaceWarnsOnceAndStopsThere) {
    TProxyManager noDesktop(systemproxy::CreateNoneBackend());
    TBrowserSetup setup(&noDesktop, &FProcesses);
    setup.SetOnWarning([this](const QString &msg, const QString &url) { FWarnings.push_back({msg, url}); });
    setup.SetProcessNames(QStringLiteral("firefox"), {});
    setup.SetProcessNames(QStringLiteral("opera"), {});
    const QByteArray before = "user_pref(\"network.proxy.type\", 0);\n";
    const QString prefs = PutFirefox(before);
    EXPECT_EQ(setup.SetupBrowser(false), 2);
    ASSERT_EQ(FWarnings.size(), 1u);
    EXPECT_TRUE(FWarnings[0].Msg.startsWith(
        QStringLiteral("Program cannot be prepare for Internet Explorer, Google Chrome and Safari!")));
    EXPECT_TRUE(FWarnings[0].Msg.contains(QStringLiteral(" For more information please refer to FAQ at ")));
    EXPECT_TRUE(FWarnings[0].Url.endsWith(QStringLiteral("/faq.php")));
    EXPECT_EQ(ReadFile(prefs), before); // nothing after the failing place was handled
    EXPECT_FALSE(setup.HasUnrestoredChanges());

    // Firefox alone with a server text it cannot take: its own warning.
    FWarnings.clear();
    PutFirefox("// network.proxy.http\"");
    setup.SetBrowser(QStringLiteral("mozilla firefox"));
    EXPECT_EQ(setup.SetupBrowser(false), 2);
    ASSERT_EQ(FWarnings.size(), 1u);
    EXPECT_TRUE(FWarnings[0].Msg.startsWith(QStringLiteral("Program cannot be prepare for Firefox!")));
}

TEST_F(BrowserSetup, ASecondFirefoxSetupKeepsTheFirstMemory) {
    PutFirefox("user_pref(\"network.proxy.http\", \"proxy.lan\");\nuser_pref(\"network.proxy.http_port\", 80);\n");
    FSetup.SetBrowser(QStringLiteral("mozilla firefox"));
    FSetup.SetProcessNames(QStringLiteral("firefox"), {});
    EXPECT_EQ(FSetup.SetupBrowser(false), 1);
    EXPECT_EQ(FSetup.SetupBrowser(false), 1);
    Remembered("FF", 1, "proxy.lan:80", 0);
    EXPECT_TRUE(FSetup.RestoreBrowser(false));
    QString server;
    bool state = true;
    EXPECT_TRUE(FManager.GetProxyFirefox(server, state));
    EXPECT_EQ(server, QStringLiteral("proxy.lan:80"));
    EXPECT_FALSE(state);
    SystemIs("", false); // "mozilla firefox" leaves the system settings alone
}

/// The first process whose executable is Path, other than Not; waits for it to appear.
TProcessItemLite *FindRunning(TProcessCollection &List, const QString &Path, uint32_t Not) {
    for (int i = 0; i < 500; ++i) {
        List.UpdateProcesses();
        for (const auto &item : List) {
            try {
                if (item->ProcessID() != Not && item->FullPath() == Path)
                    return item.get();
            } catch (const EOSError &) {
                // not ours to read, or gone meanwhile
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

TEST_F(BrowserSetup, ARunningBrowserIsEndedAndStartedAgainFromItsPath) {
    QTemporaryDir dir;
    const QString fake = dir.filePath(QStringLiteral("firefox-rvntest"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(BROWSERS_IDLE_HELPER), fake));
    const QString path = QFileInfo(fake).canonicalFilePath();
    testsupport::ChildProcess browser;
    ASSERT_TRUE(browser.Start(fake, {}));
    TProcessCollection list;
    ASSERT_NE(FindRunning(list, path, 0), nullptr);

    PutFirefox("// prefs\n");
    FSetup.SetBrowser(QStringLiteral("mozilla firefox"));
    FSetup.SetProcessNames(QStringLiteral("firefox"), {QStringLiteral("FIREFOX-RVNTEST")});
    EXPECT_EQ(FSetup.SetupBrowser(false), 1);
    EXPECT_FALSE(browser.Running());
    QString server;
    bool state = false;
    EXPECT_TRUE(FManager.GetProxyFirefox(server, state));
    EXPECT_EQ(server, QStringLiteral("127.0.0.1:3128"));

    // Started again from the same executable, in a session of its own.
    TProcessItemLite *again = FindRunning(list, path, static_cast<uint32_t>(browser.Pid()));
    ASSERT_NE(again, nullptr);
    // The exe link changes a moment before exec has laid out the arguments: wait for them.
    for (int i = 0; i < 200 && again->CommandLine().isEmpty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(again->CommandLine(), QStringList{path});
    EXPECT_EQ(::getsid(static_cast<pid_t>(again->ProcessID())), static_cast<pid_t>(again->ProcessID()));
    EXPECT_TRUE(again->TerminateProcess());

    EXPECT_FALSE(TBrowserSetup::RunProgram(dir.filePath(QStringLiteral("missing"))));
}

} // namespace
