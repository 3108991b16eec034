// Firefox end to end: Debian's firefox-esr, headless, on a fresh profile in a sandbox HOME that the
// browser preparation pointed at a relay the test runs (relayvane-cli relay --debug). The relay must
// see the plain request and, for an https address, a CONNECT; after the restore the same profile
// reaches the page directly. Everything stays on loopback: user.js switches off every service
// Firefox would otherwise call home to and resolves every name to 127.0.0.1, the relay sends any
// host name (anything with a letter) to a dead loopback gateway, and its log is checked for any
// other host it would have contacted directly.

#include "browsers/BrowserSetup.h"
#include "browsers/ProcessInfoLite.h"
#include "browsers/ProxyManager.h"
#include "platform/Registry.h"
#include "tests/browsers/BrowserSandbox.h"
#include "tests/support/TestSupport.h"

#include "platform/HttpServerLib.h"
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using browsertest::TSandboxHome;
using testsupport::ChildProcess;

namespace {

/// Preferences that keep a test Firefox off the network: no updates, telemetry, studies, safe
/// browsing lists, captive portal or connectivity probes, push, remote settings, DNS over HTTPS,
/// speculative connections. Loopback is proxied too, or the relay would never see the page.
const char *const kUserJs = R"(user_pref("network.proxy.allow_hijacking_localhost", true);
user_pref("app.update.enabled", false);
user_pref("app.update.auto", false);
user_pref("app.update.url", "");
user_pref("app.normandy.enabled", false);
user_pref("app.normandy.api_url", "");
user_pref("app.shield.optoutstudies.enabled", false);
user_pref("breakpad.reportURL", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.discovery.enabled", false);
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.newtabpage.activity-stream.feeds.section.topstories", false);
user_pref("browser.newtabpage.activity-stream.feeds.telemetry", false);
user_pref("browser.newtabpage.activity-stream.telemetry", false);
user_pref("browser.newtabpage.activity-stream.showSponsored", false);
user_pref("browser.newtabpage.activity-stream.showSponsoredTopSites", false);
user_pref("browser.newtabpage.activity-stream.default.sites", "");
user_pref("browser.ping-centre.telemetry", false);
user_pref("browser.places.speculativeConnect.enabled", false);
user_pref("browser.urlbar.speculativeConnect.enabled", false);
user_pref("browser.region.network.url", "");
user_pref("browser.region.update.enabled", false);
user_pref("browser.safebrowsing.blockedURIs.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("browser.safebrowsing.downloads.remote.enabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.provider.google4.updateURL", "");
user_pref("browser.safebrowsing.provider.google.updateURL", "");
user_pref("browser.safebrowsing.provider.mozilla.updateURL", "");
user_pref("browser.search.update", false);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage", "about:blank");
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.startup.page", 0);
user_pref("browser.tabs.crashReporting.sendReport", false);
user_pref("browser.topsites.contile.enabled", false);
user_pref("browser.uitour.enabled", false);
user_pref("captivedetect.canonicalURL", "");
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("dom.push.enabled", false);
user_pref("dom.push.serverURL", "");
user_pref("extensions.blocklist.enabled", false);
user_pref("extensions.getAddons.cache.enabled", false);
user_pref("extensions.pocket.enabled", false);
user_pref("extensions.systemAddon.update.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("geo.enabled", false);
user_pref("geo.provider.network.url", "");
user_pref("identity.fxaccounts.enabled", false);
user_pref("media.gmp-gmpopenh264.enabled", false);
user_pref("media.gmp-manager.url", "");
user_pref("media.gmp-widevinecdm.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("network.dns.disablePrefetch", true);
user_pref("network.http.http3.enable", false);
user_pref("network.http.speculative-parallel-limit", 0);
user_pref("network.prefetch-next", false);
user_pref("network.trr.mode", 5);
user_pref("security.OCSP.enabled", 0);
user_pref("security.remote_settings.crlite_filters.enabled", false);
user_pref("security.remote_settings.intermediates.enabled", false);
user_pref("services.settings.server", "http://127.0.0.1:1/");
user_pref("network.dns.forceResolve", "127.0.0.1");
user_pref("toolkit.telemetry.archive.enabled", false);
user_pref("toolkit.telemetry.enabled", false);
user_pref("toolkit.telemetry.server", "");
user_pref("toolkit.telemetry.unified", false);
user_pref("trailhead.firstrun.didSeeAboutWelcome", true);
)";

/// The page origin: answers every GET with a small page and records the request targets.
class TOrigin {
public:
    TOrigin() {
        FServer.Get(R"(.*)", [this](const httplib::Request &req, httplib::Response &res) {
            {
                std::lock_guard<std::mutex> g(FLock);
                FTargets.push_back(req.target);
            }
            res.set_content("<html><body>relayvane test page</body></html>", "text/html");
        });
        FPort = httplibsetup::BindWithBacklog(FServer, "127.0.0.1", 0);
        FThread = std::thread([this] { FServer.listen_after_bind(); });
    }
    ~TOrigin() {
        FServer.stop();
        FThread.join();
    }
    int Port() const { return FPort; }
    bool Saw(const std::string &Path) {
        std::lock_guard<std::mutex> g(FLock);
        for (const auto &t : FTargets)
            if (t.find(Path) != std::string::npos)
                return true;
        return false;
    }

private:
    httplib::Server FServer;
    int FPort = 0;
    std::thread FThread;
    std::mutex FLock;
    std::vector<std::string> FTargets;
};

/// Polls Check every 100 ms until it holds or Seconds pass (Firefox's first start is slow on a busy machine).
template <typename F> bool PollFor(int Seconds, F &&Check) {
    for (int i = 0; i < Seconds * 10; ++i) {
        if (Check())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return Check();
}

QByteArray ReadLog(const QString &Path) {
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(FirefoxE2E, PreparedProfileGoesThroughTheRelayAndDirectlyAfterRestore) {
    const QString firefox = testsupport::FindProgram(QStringLiteral("firefox-esr"));
    if (firefox.isEmpty())
        GTEST_SKIP() << "firefox-esr is not installed (scripts/install-deps.sh --test)";
    TSandboxHome sandbox;
    // Lets the remote settings client take the loopback server of user.js instead of Mozilla's.
    qputenv("MOZ_REMOTE_SETTINGS_DEVTOOLS", "1");
    const QString profile = sandbox.Home() + QStringLiteral("/.mozilla/firefox/e2e.default-esr");
    sandbox.Put(QStringLiteral(".mozilla/firefox/profiles.ini"),
                "[Install3B6073811A6ABF12]\nDefault=e2e.default-esr\nLocked=1\n\n"
                "[Profile0]\nName=default-esr\nIsRelative=1\nPath=e2e.default-esr\nDefault=1\n\n"
                "[General]\nStartWithLastProfile=1\nVersion=2\n");
    sandbox.Put(QStringLiteral(".mozilla/firefox/e2e.default-esr/prefs.js"), "// Mozilla User Preferences\n");
    sandbox.Put(QStringLiteral(".mozilla/firefox/e2e.default-esr/user.js"), kUserJs);

    TOrigin origin;
    ASSERT_GT(origin.Port(), 0);
    const int relayPort = testsupport::FreeTcpPort();
    const QString relayLog = sandbox.Home() + QStringLiteral("/relay.log");
    ChildProcess relay;
    ASSERT_TRUE(
        relay.Start(QStringLiteral(RELAYVANE_CLI),
                    {QStringLiteral("relay"), QStringLiteral("--port"), QString::number(relayPort),
                     QStringLiteral("--debug"), QStringLiteral("--gateway"), QStringLiteral("127.0.0.1:1"),
                     QStringLiteral("--hosts"), QStringLiteral("a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,r,s,t,u,v,w,x,y,z")},
                    relayLog));
    ASSERT_TRUE(testsupport::WaitForPort(relayPort));

    // Prepared the way the program prepares Firefox, with the relay on the test's own port.
    TProxyManager manager(systemproxy::CreateNoneBackend());
    TProcessInfoLite processes;
    TBrowserSetup setup(&manager, &processes);
    setup.SetBrowser(QStringLiteral("mozilla firefox"));
    setup.SetProcessNames(QStringLiteral("firefox"), {}); // this test runs its own Firefox
    const QString relayAddress = QStringLiteral("127.0.0.1:%1").arg(relayPort);
    setup.SetRelayAddress(relayAddress);
    ASSERT_EQ(setup.SetupBrowser(false), 1);
    QString server;
    bool state = false;
    ASSERT_TRUE(manager.GetProxyFirefox(server, state));
    EXPECT_EQ(server, relayAddress);
    EXPECT_TRUE(state);

    const QString base = QStringLiteral("127.0.0.1:%1").arg(origin.Port());
    const QString ffLog = sandbox.Home() + QStringLiteral("/firefox.log");
    const QStringList common{QStringLiteral("--headless"), QStringLiteral("--no-remote"), QStringLiteral("--profile"),
                             profile};
    {
        ChildProcess browser;
        ASSERT_TRUE(browser.Start(firefox,
                                  common + QStringList{QStringLiteral("http://") + base + QStringLiteral("/via-relay"),
                                                       QStringLiteral("https://") + base + QStringLiteral("/secure")},
                                  ffLog));
        EXPECT_TRUE(PollFor(120, [&] { return origin.Saw("/via-relay"); })) << ReadLog(ffLog).toStdString();
        EXPECT_TRUE(PollFor(60, [&] { return ReadLog(relayLog).contains("CONNECT " + base.toLatin1() + " HTTP/1.1"); }))
            << ReadLog(relayLog).left(4000).toStdString();
        const QByteArray log = ReadLog(relayLog);
        EXPECT_TRUE(log.contains("GET /via-relay")) << log.left(4000).toStdString();
        browser.Stop(); // SIGTERM: Firefox shuts down and writes prefs.js itself
    }

    ASSERT_TRUE(setup.RestoreBrowser(false));
    ASSERT_TRUE(manager.GetProxyFirefox(server, state));
    EXPECT_FALSE(state);
    {
        ChildProcess browser;
        ASSERT_TRUE(browser.Start(
            firefox, common + QStringList{QStringLiteral("http://") + base + QStringLiteral("/direct")}, ffLog));
        EXPECT_TRUE(PollFor(120, [&] { return origin.Saw("/direct"); })) << ReadLog(ffLog).toStdString();
        browser.Stop();
    }
    const QByteArray log = ReadLog(relayLog);
    EXPECT_FALSE(log.contains("/direct"));
    // Nothing but loopback went through the relay.
    const QRegularExpression routed(QStringLiteral("REQUEST WILL BE SEND DIRECTLY \\(([^)]*)\\)"));
    QStringList others;
    for (auto it = routed.globalMatch(QString::fromLatin1(log)); it.hasNext();) {
        const QString host = it.next().captured(1);
        if (host != QLatin1String("127.0.0.1") && !others.contains(host))
            others << host;
    }
    EXPECT_EQ(others.join(u' ').toStdString(), "");
    // What the dead gateway kept from leaving the machine, for whoever tunes user.js next.
    const QRegularExpression blocked(QStringLiteral("REQUEST WILL BE TUNNELED VIA GATEWAY PROXY SERVER \\(([^)]*)\\)"));
    for (auto it = blocked.globalMatch(QString::fromLatin1(log)); it.hasNext();)
        std::fprintf(stderr, "kept on loopback: %s\n", it.next().captured(1).toLocal8Bit().constData());
    const QRegularExpression heads(QStringLiteral("USER > OUTSIDE\\s*\\n([A-Z]+ [^ ]+)"));
    for (auto it = heads.globalMatch(QString::fromLatin1(log)); it.hasNext();)
        std::fprintf(stderr, "relay saw: %s\n", it.next().captured(1).toLocal8Bit().constData());
}

} // namespace
