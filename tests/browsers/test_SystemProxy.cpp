// The desktop proxy backends: GNOME's GSettings (memory backend, real schema), KDE's kioslaverc,
// and the backend that always fails.

#include "browsers/GnomeProxySettings.h"
#include "browsers/KdeProxySettings.h"
#include "browsers/ProxyManager.h"
#include "tests/browsers/BrowserSandbox.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using browsertest::TSandboxHome;
using testsupport::ReadFile;

namespace {

// GIO picks its settings backend once per process, at the first use: before any test runs.
const bool kMemoryBackend = (qputenv("GSETTINGS_BACKEND", "memory"), true);

/// Sets an environment variable for one scope.
using TEnv = testsupport::ScopedEnv;

TEST(SystemProxy, HostAndPortTexts) {
    struct {
        const char *Text, *Host;
        int Port;
    } cases[] = {{"127.0.0.1:3128", "127.0.0.1", 3128},
                 {"proxy.lan", "proxy.lan", 0},
                 {"h:", "h", 0},
                 {"h:x", "h", 0},
                 {"", "", 0},
                 {" h:8080 ", "h", 8080},
                 {"h:70000", "h", 0}};
    for (const auto &c : cases) {
        QString host;
        int port = -1;
        systemproxy::SplitHostPort(QString::fromLatin1(c.Text), host, port);
        EXPECT_EQ(host, QString::fromLatin1(c.Host)) << c.Text;
        EXPECT_EQ(port, c.Port) << c.Text;
    }
    EXPECT_EQ(systemproxy::JoinHostPort(QStringLiteral("h"), 80), QStringLiteral("h:80"));
    EXPECT_EQ(systemproxy::JoinHostPort(QStringLiteral("h"), 0), QStringLiteral("h"));
    EXPECT_EQ(systemproxy::JoinHostPort(QString(), 80), QString());
}

TEST(SystemProxy, GnomeWritesModeServersAndBypassAndReadsThemBack) {
    ASSERT_TRUE(kMemoryBackend);
    ASSERT_TRUE(TGnomeProxySettings::SchemaInstalled()) << "gsettings-desktop-schemas is missing";
    TProxyManager manager(systemproxy::CreateGnomeBackend());
    QString server = QStringLiteral("x");
    bool state = true;
    EXPECT_TRUE(manager.GetProxyIE(server, state));
    EXPECT_EQ(server, QString()); // the schema's defaults: no host, mode "none"
    EXPECT_FALSE(state);
    ASSERT_TRUE(manager.EnableProxyIE(QStringLiteral("127.0.0.1:3128")));
    EXPECT_TRUE(manager.GetProxyIE(server, state));
    EXPECT_EQ(server, QStringLiteral("127.0.0.1:3128"));
    EXPECT_TRUE(state);
    manager.DisableProxyIE();
    EXPECT_TRUE(manager.GetProxyIE(server, state));
    EXPECT_EQ(server, QStringLiteral("127.0.0.1:3128")); // the server stays, only the mode changes
    EXPECT_FALSE(state);
    // Restoring an empty remembered server: empty host and direct access.
    ASSERT_TRUE(manager.EnableProxyIE(QString()));
    manager.DisableProxyIE();
    EXPECT_TRUE(manager.GetProxyIE(server, state));
    EXPECT_EQ(server, QString());
    EXPECT_FALSE(state);
}

TEST(SystemProxy, KdeKioslavercGroup) {
    TSandboxHome sandbox;
    const QString rc = sandbox.Put(QStringLiteral(".config/kioslaverc"),
                                   "[Cache]\nMaxCacheSize=5120\n\n[Proxy Settings]\nProxyType=0\n"
                                   "httpProxy=http://10.0.0.1 8080\n");
    TProxyManager manager(systemproxy::CreateKdeBackend());
    QString server;
    bool state = true;
    EXPECT_TRUE(manager.GetProxyIE(server, state));
    EXPECT_EQ(server, QStringLiteral("10.0.0.1:8080"));
    EXPECT_FALSE(state);
    ASSERT_TRUE(manager.EnableProxyIE(QStringLiteral("127.0.0.1:3128")));
    EXPECT_EQ(ReadFile(rc).toStdString(), "[Cache]\nMaxCacheSize=5120\n\n[Proxy Settings]\nProxyType=1\n"
                                          "httpProxy=http://127.0.0.1 3128\nhttpsProxy=http://127.0.0.1 3128\n"
                                          "NoProxyFor=local\n");
    manager.DisableProxyIE();
    EXPECT_TRUE(manager.GetProxyIE(server, state));
    EXPECT_EQ(server, QStringLiteral("127.0.0.1:3128"));
    EXPECT_FALSE(state);
    for (const auto &[in, out] : {std::pair{"http://h 80", "h:80"}, std::pair{"http://h:80/", "h:80"},
                                  std::pair{"h:80", "h:80"}, std::pair{"", ""}})
        EXPECT_EQ(TKdeProxySettings::ParseKdeProxy(QString::fromLatin1(in)), QString::fromLatin1(out)) << in;
}

TEST(SystemProxy, NoDesktopSettingsFailSoTheUserIsWarned) {
    TProxyManager manager(systemproxy::CreateNoneBackend());
    QString server = QStringLiteral("x");
    bool state = true;
    EXPECT_FALSE(manager.GetProxyIE(server, state));
    EXPECT_EQ(server, QString());
    EXPECT_FALSE(manager.EnableProxyIE(QStringLiteral("127.0.0.1:3128")));
    manager.DisableProxyIE();
}

TEST(SystemProxy, TheDesktopChoosesTheBackend) {
    const TEnv none("RELAYVANE_SYSTEM_PROXY", "");
    {
        const TEnv kde("XDG_CURRENT_DESKTOP", "KDE");
        EXPECT_EQ(systemproxy::CreateDesktopBackend()->Name(), QStringLiteral("kde"));
    }
    {
        const TEnv gnome("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        EXPECT_EQ(systemproxy::CreateDesktopBackend()->Name(), QStringLiteral("gnome"));
    }
    {
        // No desktop named, no session bus, no settings backend chosen: nothing to point, and
        // nothing fails, so the program also starts on a server.
        const TEnv desktop("XDG_CURRENT_DESKTOP", "");
        const TEnv bus("DBUS_SESSION_BUS_ADDRESS", "");
        const TEnv backend("GSETTINGS_BACKEND", "");
        const auto b = systemproxy::CreateDesktopBackend();
        EXPECT_EQ(b->Name(), QStringLiteral("no-desktop"));
        QString server;
        bool state = true;
        EXPECT_FALSE(b->Read(server, state));
        EXPECT_TRUE(b->Enable(QStringLiteral("127.0.0.1:3128")));
    }
    {
        const TEnv forced("RELAYVANE_SYSTEM_PROXY", "none");
        const TEnv gnome("XDG_CURRENT_DESKTOP", "GNOME");
        EXPECT_EQ(systemproxy::CreateDesktopBackend()->Name(), QStringLiteral("none"));
    }
}

} // namespace
