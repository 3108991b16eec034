// Browser settings: Firefox's prefs.js text rules and profile, Opera's INI file, process counting.

#include "browsers/ProxyManager.h"
#include "tests/browsers/BrowserSandbox.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

using browsertest::SleepCopy;
using browsertest::TSandboxHome;
using testsupport::ReadFile;

namespace {

// ---- ReadPrefValue / WritePrefValue on text ----

struct PrefReadCase {
    const char *Name;
    const char *Text;
    const char *Pref;
    bool Found;
    const char *Value;
};

class PrefRead : public ::testing::TestWithParam<PrefReadCase> {};

TEST_P(PrefRead, TakesTheTextBetweenCommaAndParenthesis) {
    const PrefReadCase &c = GetParam();
    QString value;
    EXPECT_EQ(TProxyManager::ReadPrefValue(QString::fromUtf8(c.Text), QString::fromUtf8(c.Pref), value), c.Found);
    if (c.Found) {
        EXPECT_EQ(value, QString::fromUtf8(c.Value));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrefRead,
    ::testing::Values(PrefReadCase{"string", "user_pref(\"network.proxy.http\", \"127.0.0.1\");\r\n",
                                   "network.proxy.http", true, "127.0.0.1"},
                      PrefReadCase{"number", "user_pref(\"network.proxy.http_port\", 3128);\r\n",
                                   "network.proxy.http_port", true, "3128"},
                      PrefReadCase{"name_with_quote_only", "user_pref(\"network.proxy.http_port\", 3128);\r\n",
                                   "network.proxy.http", false, ""},
                      PrefReadCase{"second_line",
                                   "user_pref(\"network.proxy.socks_port\", 1);\r\nuser_pref(\"network.proxy.socks\", "
                                   "\"h\");\r\n",
                                   "network.proxy.socks", true, "h"},
                      PrefReadCase{"blanks_and_quotes_removed", "user_pref(\"a\",   \"x\"\"y\"  );", "a", true, "xy"},
                      PrefReadCase{"no_comma", "user_pref(\"a\")", "a", false, ""},
                      PrefReadCase{"no_parenthesis", "user_pref(\"a\", 1;", "a", false, ""},
                      PrefReadCase{"first_occurrence", "user_pref(\"a\", 1);\r\nuser_pref(\"a\", 2);", "a", true, "1"},
                      PrefReadCase{"case_matters", "user_pref(\"A\", 1);", "a", false, ""}),
    [](const auto &info) { return std::string(info.param.Name); });

struct PrefWriteCase {
    const char *Name;
    const char *Before;
    const char *Pref;
    const char *Value;
    bool Ok;
    const char *After;
};

class PrefWrite : public ::testing::TestWithParam<PrefWriteCase> {};

TEST_P(PrefWrite, ReplacesOrAppends) {
    const PrefWriteCase &c = GetParam();
    QString text = QString::fromUtf8(c.Before);
    EXPECT_EQ(TProxyManager::WritePrefValue(text, QString::fromUtf8(c.Pref), QString::fromUtf8(c.Value)), c.Ok);
    if (c.Ok) {
        EXPECT_EQ(text.toStdString(), std::string(c.After));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrefWrite,
    ::testing::Values(
        PrefWriteCase{"replace_number", "user_pref(\"network.proxy.type\", 5);\r\n", "network.proxy.type", "0", true,
                      "user_pref(\"network.proxy.type\", 0);\r\n"},
        PrefWriteCase{"replace_string", "user_pref(\"network.proxy.http\",\"old\" );\r\n", "network.proxy.http",
                      "127.0.0.1", true, "user_pref(\"network.proxy.http\", \"127.0.0.1\");\r\n"},
        PrefWriteCase{"number_replaces_string", "user_pref(\"p\", \"x\");", "p", "-12", true, "user_pref(\"p\", -12);"},
        PrefWriteCase{"append_without_final_break", "// x\r\n", "network.proxy.http_port", "3128", true,
                      "// x\r\n\r\nuser_pref(\"network.proxy.http_port\", 3128);"},
        PrefWriteCase{"append_to_empty", "", "p", "v", true, "\r\nuser_pref(\"p\", \"v\");"},
        PrefWriteCase{"http_does_not_match_http_port", "user_pref(\"network.proxy.http_port\", 1);",
                      "network.proxy.http", "h", true,
                      "user_pref(\"network.proxy.http_port\", 1);\r\nuser_pref(\"network.proxy.http\", \"h\");"},
        PrefWriteCase{"no_comma_fails", "// network.proxy.type\"", "network.proxy.type", "1", false, ""},
        PrefWriteCase{"no_parenthesis_fails", "user_pref(\"network.proxy.type\", 1;", "network.proxy.type", "0", false,
                      ""}),
    [](const auto &info) { return std::string(info.param.Name); });

// ---- Firefox in a sandbox HOME ----

const QByteArray kProfilesIni = "[Install4F96D1932A9F858E]\nDefault=abcd.default-esr\nLocked=1\n\n"
                                "[Profile1]\nName=default\nIsRelative=1\nPath=wxyz.default\nDefault=1\n\n"
                                "[Profile0]\nName=default-esr\nIsRelative=1\nPath=abcd.default-esr\n\n"
                                "[General]\nStartWithLastProfile=1\nVersion=2\n";

class Firefox : public ::testing::Test {
protected:
    void SetUp() override {
        FSandbox.Put(QStringLiteral(".mozilla/firefox/profiles.ini"), kProfilesIni);
        QDir().mkpath(FSandbox.Home() + QStringLiteral("/.mozilla/firefox/wxyz.default"));
        FPrefs = FSandbox.Home() + QStringLiteral("/.mozilla/firefox/abcd.default-esr/prefs.js");
    }
    void PutPrefs(const QByteArray &Bytes) {
        FSandbox.Put(QStringLiteral(".mozilla/firefox/abcd.default-esr/prefs.js"), Bytes);
    }

    TSandboxHome FSandbox;
    TProxyManager FManager{systemproxy::CreateNoneBackend()};
    QString FPrefs;
};

TEST_F(Firefox, EnableAppendsTheProxyLinesToAFileWithoutThem) {
    PutPrefs("// Mozilla User Preferences\n\nuser_pref(\"browser.startup.homepage\", \"about:blank\");\n");
    EXPECT_EQ(TProxyManager::FirefoxPrefsFile(), FPrefs);
    QString server = QStringLiteral("x");
    bool state = true;
    EXPECT_TRUE(FManager.GetProxyFirefox(server, state));
    EXPECT_EQ(server, QString());
    EXPECT_FALSE(state);
    ASSERT_TRUE(FManager.EnableProxyFirefox(QStringLiteral("127.0.0.1:3128")));
    EXPECT_EQ(ReadFile(FPrefs).toStdString(), "// Mozilla User Preferences\r\n"
                                              "\r\n"
                                              "user_pref(\"browser.startup.homepage\", \"about:blank\");\r\n"
                                              "\r\n"
                                              "user_pref(\"network.proxy.http\", \"127.0.0.1\");\r\n"
                                              "user_pref(\"network.proxy.http_port\", 3128);\r\n"
                                              "user_pref(\"network.proxy.ssl\", \"127.0.0.1\");\r\n"
                                              "user_pref(\"network.proxy.ssl_port\", 3128);\r\n"
                                              "user_pref(\"network.proxy.socks\", \"127.0.0.1\");\r\n"
                                              "user_pref(\"network.proxy.socks_port\", 3128);\r\n"
                                              "user_pref(\"network.proxy.type\", 1);");
    EXPECT_TRUE(FManager.GetProxyFirefox(server, state));
    EXPECT_EQ(server, QStringLiteral("127.0.0.1:3128"));
    EXPECT_TRUE(state);
    // A second run replaces the values in place: no line is added.
    ASSERT_TRUE(FManager.EnableProxyFirefox(QStringLiteral("10.1.2.3:8080")));
    EXPECT_EQ(ReadFile(FPrefs).count("network.proxy."), 7);
    EXPECT_TRUE(FManager.GetProxyFirefox(server, state));
    EXPECT_EQ(server, QStringLiteral("10.1.2.3:8080"));
}

TEST_F(Firefox, DisableChangesOnlyTheProxyType) {
    PutPrefs("user_pref(\"a.b\", true);\nuser_pref(\"network.proxy.type\", 5);\nuser_pref(\"c\", \"d\");");
    QString server;
    bool state = true;
    EXPECT_TRUE(FManager.GetProxyFirefox(server, state));
    EXPECT_FALSE(state);
    FManager.DisableProxyFirefox();
    EXPECT_EQ(ReadFile(FPrefs).toStdString(),
              "user_pref(\"a.b\", true);\r\nuser_pref(\"network.proxy.type\", 0);\r\nuser_pref(\"c\", \"d\");\r\n");
}

TEST_F(Firefox, AServerWithoutPortReadsAsNone) {
    PutPrefs("user_pref(\"network.proxy.http\", \"proxy.lan\");\nuser_pref(\"network.proxy.type\", 1);\n");
    QString server = QStringLiteral("x");
    bool state = false;
    EXPECT_TRUE(FManager.GetProxyFirefox(server, state));
    EXPECT_EQ(server, QString());
    EXPECT_TRUE(state);
}

TEST_F(Firefox, BadServerTextsAndUnwritableTextLeaveTheFileUntouched) {
    const QByteArray before = "user_pref(\"network.proxy.type\", 0);\n";
    PutPrefs(before);
    for (const char *bad : {"127.0.0.1", ":3128", "127.0.0.1:", ""})
        EXPECT_FALSE(FManager.EnableProxyFirefox(QString::fromLatin1(bad))) << bad;
    EXPECT_EQ(ReadFile(FPrefs), before);
    // A name at the very end without "," or ")" after it: no value can be replaced.
    const QByteArray truncated = "user_pref(\"a\", 1);\n// network.proxy.http\"";
    PutPrefs(truncated);
    EXPECT_FALSE(FManager.EnableProxyFirefox(QStringLiteral("127.0.0.1:3128")));
    EXPECT_EQ(ReadFile(FPrefs), truncated);
}

TEST_F(Firefox, UneditedLinesKeepTheirBytesAndTheFileItsPermissions) {
    const QByteArray utf8 = "user_pref(\"x\", \"gr\xC3\xBC\xC3\x9F\");\n";
    PutPrefs(utf8);
    QFile::setPermissions(FPrefs, QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(FManager.EnableProxyFirefox(QStringLiteral("127.0.0.1:3128")));
    EXPECT_TRUE(ReadFile(FPrefs).startsWith("user_pref(\"x\", \"gr\xC3\xBC\xC3\x9F\");\r\n\r\n"));
    const auto modeBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup |
                          QFile::ReadOther | QFile::WriteOther;
    EXPECT_EQ(QFile::permissions(FPrefs) & modeBits, QFile::ReadOwner | QFile::WriteOwner);
    // Bytes that are no UTF-8 come back as they were.
    PutPrefs("user_pref(\"y\", \"\xFF\xFE\");\n");
    FManager.DisableProxyFirefox();
    EXPECT_EQ(ReadFile(FPrefs),
              QByteArray("user_pref(\"y\", \"\xFF\xFE\");\r\n\r\nuser_pref(\"network.proxy.type\", 0);"));
}

TEST(FirefoxProfile, FoundThroughInstallSectionsDefaultMarksAndBothRoots) {
    struct Case {
        const char *Name;
        const char *Root; // relative to HOME
        QByteArray ProfilesIni;
        QByteArray InstallsIni;
        const char *Folders;  // ';'-separated folders to create under the root
        const char *Expected; // relative to the root; "" none; starting with '/' absolute under HOME
    } cases[] = {
        {"install_section_wins", ".mozilla/firefox", kProfilesIni, "", "abcd.default-esr;wxyz.default",
         "abcd.default-esr"},
        {"default_mark", ".mozilla/firefox", "[Profile0]\nPath=p0\nIsRelative=1\n[Profile1]\nPath=p1\nDefault=1\n", "",
         "p0;p1", "p1"},
        {"only_profile", ".mozilla/firefox", "[Profile0]\nPath=solo\nIsRelative=1\n", "", "solo", "solo"},
        {"installs_ini", ".mozilla/firefox", "[Profile0]\nPath=p0\n[Profile1]\nPath=p1\n",
         "[ABCDEF0123456789]\nDefault=x\n[Install0123]\nDefault=p1\n", "p0;p1", "p1"},
        {"missing_install_folder_falls_back", ".mozilla/firefox",
         "[Install1]\nDefault=gone\n[Profile0]\nPath=here\nDefault=1\n", "", "here", "here"},
        {"xdg_root", ".config/mozilla/firefox", "[Profile0]\nPath=new.default-release\nDefault=1\n", "",
         "new.default-release", "new.default-release"},
        {"absolute_path", ".mozilla/firefox", "[Profile0]\nPath=@HOME@/elsewhere\nIsRelative=0\nDefault=1\n", "", "",
         "/elsewhere"},
        {"no_profile_marked", ".mozilla/firefox", "[Profile0]\nPath=a\n[Profile1]\nPath=b\n", "", "a;b", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        TSandboxHome sandbox;
        const QString root = sandbox.Home() + u'/' + QString::fromLatin1(c.Root);
        QByteArray profiles = c.ProfilesIni;
        profiles.replace("@HOME@", sandbox.Home().toLocal8Bit());
        sandbox.Put(QString::fromLatin1(c.Root) + QStringLiteral("/profiles.ini"), profiles);
        if (!c.InstallsIni.isEmpty())
            sandbox.Put(QString::fromLatin1(c.Root) + QStringLiteral("/installs.ini"), c.InstallsIni);
        for (const QString &f : QString::fromLatin1(c.Folders).split(u';', Qt::SkipEmptyParts))
            QDir().mkpath(root + u'/' + f);
        QDir().mkpath(sandbox.Home() + QStringLiteral("/elsewhere"));
        const QString expected = QString::fromLatin1(c.Expected);
        const QString want = expected.isEmpty()          ? QString()
                             : expected.startsWith(u'/') ? sandbox.Home() + expected
                                                         : root + u'/' + expected;
        EXPECT_EQ(TProxyManager::FirefoxProfileFolder(), want);
    }
}

TEST(FirefoxProfile, NoProfileMeansNothingToDo) {
    TSandboxHome sandbox;
    TProxyManager manager(systemproxy::CreateNoneBackend());
    QString server = QStringLiteral("x");
    bool state = true;
    EXPECT_FALSE(manager.GetProxyFirefox(server, state));
    EXPECT_EQ(server, QString());
    EXPECT_FALSE(state);
    EXPECT_TRUE(manager.EnableProxyFirefox(QStringLiteral("127.0.0.1:3128")));
    manager.DisableProxyFirefox();
    // A profile without prefs.js is the same.
    sandbox.Put(QStringLiteral(".mozilla/firefox/profiles.ini"), "[Profile0]\nPath=p\nDefault=1\n");
    QDir().mkpath(sandbox.Home() + QStringLiteral("/.mozilla/firefox/p"));
    EXPECT_TRUE(manager.EnableProxyFirefox(QStringLiteral("127.0.0.1:3128")));
    EXPECT_FALSE(QFile::exists(sandbox.Home() + QStringLiteral("/.mozilla/firefox/p/prefs.js")));
}

// ---- Opera ----

TEST(Opera, EnableGetDisableOnItsPreferences) {
    TSandboxHome sandbox;
    TProxyManager manager(systemproxy::CreateNoneBackend());
    const QString ini = sandbox.Put(QStringLiteral(".opera/operaprefs.ini"),
                                    "Opera Preferences version 2.1\n\n[User Prefs]\nLanguage Files Directory=\n\n"
                                    "[Proxy]\nHTTP server=10.0.0.1:8080\nUse HTTP=0\n");
    QString server;
    bool state = true;
    EXPECT_TRUE(manager.GetProxyOpera(server, state));
    EXPECT_EQ(server, QStringLiteral("10.0.0.1:8080"));
    EXPECT_FALSE(state);
    EXPECT_TRUE(manager.EnableProxyOpera(QStringLiteral("127.0.0.1:3128")));
    EXPECT_EQ(ReadFile(ini).toStdString(),
              "Opera Preferences version 2.1\n\n[User Prefs]\nLanguage Files Directory=\n\n"
              "[Proxy]\nHTTP server=127.0.0.1:3128\nUse HTTP=1\nUse HTTPS=1\n"
              "HTTPS server=127.0.0.1:3128\n");
    EXPECT_TRUE(manager.GetProxyOpera(server, state));
    EXPECT_EQ(server, QStringLiteral("127.0.0.1:3128"));
    EXPECT_TRUE(state);
    manager.DisableProxyOpera();
    EXPECT_EQ(ReadFile(ini).toStdString(),
              "Opera Preferences version 2.1\n\n[User Prefs]\nLanguage Files Directory=\n\n"
              "[Proxy]\nHTTP server=127.0.0.1:3128\nUse HTTP=0\nUse HTTPS=0\n"
              "HTTPS server=127.0.0.1:3128\n");
}

TEST(Opera, NoFileIsNoError) {
    TSandboxHome sandbox;
    TProxyManager manager(systemproxy::CreateNoneBackend());
    QString server = QStringLiteral("x");
    bool state = true;
    EXPECT_FALSE(manager.GetProxyOpera(server, state));
    EXPECT_EQ(server, QString());
    EXPECT_FALSE(state);
    EXPECT_TRUE(manager.EnableProxyOpera(QStringLiteral("127.0.0.1:3128")));
    manager.DisableProxyOpera();
    EXPECT_FALSE(QFile::exists(TProxyManager::OperaPrefsFile()));
}

// ---- processes ----

TEST(ProgramRunning, CountsEveryExecutableNameThatContainsTheText) {
    QTemporaryDir dir;
    TProxyManager manager(systemproxy::CreateNoneBackend());
    // Other programs of the machine may match "app" too: count what is there before.
    const int before = manager.ProgramRunningAmount(QStringLiteral("app"));
    testsupport::ChildProcess app, myapp;
    ASSERT_TRUE(app.Start(SleepCopy(dir.path(), QStringLiteral("app")), {QStringLiteral("30")}));
    ASSERT_TRUE(myapp.Start(SleepCopy(dir.path(), QStringLiteral("myapp")), {QStringLiteral("30")}));
    int now = 0;
    for (int i = 0; i < 500 && now < before + 2; ++i) {
        now = manager.ProgramRunningAmount(QStringLiteral("APP"));
        if (now < before + 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(now, before + 2);
    EXPECT_TRUE(manager.ProgramIsRunning(QStringLiteral("myApp")));
    EXPECT_FALSE(manager.ProgramIsRunning(QStringLiteral("no-such-program-rvn-7f3a")));
    EXPECT_EQ(manager.ProgramRunningAmount(QStringLiteral("no-such-program-rvn-7f3a")), 0);
}

} // namespace
