// The proxy checker end to end: relayvane-cli check against real tinyproxy instances on loopback
// (transparent, anonymous, elite, one refusing CONNECT) and a dead port, judged by the real
// relayvane-service, with pages from a local origin (HTTP and HTTPS with a self-signed certificate).

#include "checker/ProxyRating.h"
#include "config/ProgramConfig.h"
#include "tests/checker/CheckerTestPeers.h"
#include "tests/checker/QtPrinters.h"
#include "tests/e2e/RelayPeers.h"
#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace checkerpeers;
using namespace testsupport;
using relaytest::Tinyproxy;

namespace {

class CheckerE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindProgram("tinyproxy").isEmpty())
            GTEST_SKIP() << "tinyproxy is not installed";
        ASSERT_TRUE(FDir.isValid());
        FServicePort = FreeTcpPort();
        ASSERT_TRUE(FService.Start(QStringLiteral(RELAYVANE_SERVICE_BIN),
                                   {"--db", FDir.filePath("service.db"), "serve", "--listen",
                                    QStringLiteral("127.0.0.1:%1").arg(FServicePort)},
                                   FDir.filePath("service.log")));
        ASSERT_TRUE(WaitForPort(FServicePort)) << "the service did not come up";

        FOrigin.Page("/page", "<html><body>checker e2e keyword</body></html>");
        FOrigin.Page("/big", std::string(300000, 'z'), "application/octet-stream");
        FTls.Page("/pay", "<html>secure e2e keyword</html>", "text/html; charset=utf-8");
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(FServicePort);
        const QByteArray sites =
            QJsonDocument(
                QJsonObject{
                    {"judges", QJsonArray{base + "/type.php", base + "/engine/type.php"}},
                    {"http",
                     QJsonArray{QJsonObject{{"url", FOrigin.Url("/page")}, {"keyword", "checker e2e keyword"}}}},
                    {"speed", QJsonArray{FOrigin.Url("/big")}},
                    {"https", QJsonArray{QJsonObject{{"url", FTls.Url("/pay")}, {"keyword", "secure e2e keyword"}}}},
                })
                .toJson();
        FSites = FDir.filePath("sites.json");
        WriteFile(FSites, sites);
    }

    // tinyproxy on a free loopback port with Extra lines in its configuration; -1 when it fails.
    int StartTinyproxy(Tinyproxy &Proxy, const QStringList &Extra) {
        return Proxy.Start(FDir.path(), Extra.join(u'\n')) ? Proxy.Port() : -1;
    }

    QJsonArray RunCheck(const QStringList &Args, int *Status = nullptr) {
        QByteArray out, err;
        const int rc = RunProgram(QStringLiteral(RELAYVANE_CLI), QStringList{"check"} + Args, &out, &err, {},
                                  std::chrono::seconds(120));
        if (Status)
            *Status = rc;
        else
            EXPECT_EQ(rc, 0) << err.constData();
        return QJsonDocument::fromJson(out).array();
    }

    QTemporaryDir FDir;
    ChildProcess FService;
    int FServicePort = 0;
    TTestOrigin FOrigin;
    TTestOrigin FTls{true};
    QString FSites;
};

QJsonObject ByPort(const QJsonArray &Rows, int Port) {
    for (const QJsonValue &v : Rows)
        if (v.toObject().value("Port").toInt() == Port)
            return v.toObject();
    return {};
}

} // namespace

TEST_F(CheckerE2E, EveryKindOfProxyLandsAsExpected) {
    Tinyproxy transparent, anonymous, elite, noConnect;
    const int pTransparent = StartTinyproxy(transparent, {"XTinyproxy Yes"});
    const int pAnonymous = StartTinyproxy(anonymous, {});
    const int pElite = StartTinyproxy(elite, {"DisableViaHeader Yes"});
    const int pNoConnect = StartTinyproxy(noConnect, {"DisableViaHeader Yes", "ConnectPort 1"});
    const int pDead = FreeTcpPort();
    for (int p : {pTransparent, pAnonymous, pElite, pNoConnect})
        ASSERT_GT(p, 0) << "tinyproxy did not come up";
    const QString list = FDir.filePath("list.txt");
    WriteFile(list, QStringLiteral("127.0.0.1:%1\n127.0.0.1:%2\n127.0.0.1:%3\n127.0.0.1:%4\n127.0.0.1:%5\n")
                        .arg(pTransparent)
                        .arg(pAnonymous)
                        .arg(pElite)
                        .arg(pNoConnect)
                        .arg(pDead)
                        .toUtf8());

    const QJsonArray rows = RunCheck({"--list", list, "--sites", FSites, "--json", "--threads", "5", "--timeout", "5"});
    ASSERT_EQ(rows.size(), 5);

    struct TCase {
        const char *name;
        int port;
        const char *alive, *transparent, *anonymous, *elite, *botnet, *post, *https;
    };
    const TCase cases[] = {
        {"transparent", pTransparent, "tsTrue", "tsTrue", "tsFalse", "tsFalse", "tsFalse", "tsTrue", "tsTrue"},
        {"anonymous", pAnonymous, "tsTrue", "tsFalse", "tsTrue", "tsFalse", "tsFalse", "tsTrue", "tsTrue"},
        {"elite", pElite, "tsTrue", "tsFalse", "tsFalse", "tsTrue", "tsFalse", "tsTrue", "tsTrue"},
        {"refusing CONNECT", pNoConnect, "tsTrue", "tsFalse", "tsFalse", "tsTrue", "tsFalse", "tsTrue", "tsFalse"},
        {"dead", pDead, "tsFalse", "tsUnknown", "tsUnknown", "tsUnknown", "tsUnknown", "tsUnknown", "tsUnknown"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QJsonObject r = ByPort(rows, c.port);
        ASSERT_FALSE(r.isEmpty());
        EXPECT_EQ(r.value("Alive").toString(), c.alive);
        EXPECT_EQ(r.value("Tranparent").toString(), c.transparent);
        EXPECT_EQ(r.value("Anonymous").toString(), c.anonymous);
        EXPECT_EQ(r.value("Elite").toString(), c.elite);
        EXPECT_EQ(r.value("Botnet").toString(), c.botnet);
        EXPECT_EQ(r.value("HttpPost").toString(), c.post);
        EXPECT_EQ(r.value("HttpsGet").toString(), c.https);
        EXPECT_EQ(r.value("HttpsPost").toString(), c.https);
        const bool dead = c.port == pDead;
        EXPECT_EQ(r.value("Tested").toBool(), !dead);
        if (dead) {
            EXPECT_EQ(r.value("Speed").toDouble(), -1);
            EXPECT_EQ(r.value("Ping").toDouble(), -1);
        } else {
            EXPECT_TRUE(r.value("Speed").toDouble() > 0 || r.value("Speed").toDouble() == -2);
            EXPECT_GE(r.value("Ping").toDouble(), 0);
            EXPECT_EQ(r.value("HttpGet").toString(), "tsTrue");
        }
    }
}

TEST_F(CheckerE2E, SaveStoresResultsAndRatingsIntoTheConfiguration) {
    Tinyproxy elite;
    const int pElite = StartTinyproxy(elite, {"DisableViaHeader Yes"});
    ASSERT_GT(pElite, 0);
    const int pDead = FreeTcpPort();
    const QString path = FDir.filePath("config.cfg");
    {
        TProgramConfig config;
        config.ProxyListUser()->Add(QString(), QString(), 0, "127.0.0.1", pElite);
        config.ProxyList()->Add(QString(), QString(), 0, "127.0.0.1", pDead);
        config.SaveToFile(path);
    }
    const QJsonArray rows = RunCheck(
        {"--config", path, "--sites", FSites, "--save", "--json", "--tests", "alive,info,botnet", "--timeout", "5"});
    ASSERT_EQ(rows.size(), 2);

    TProgramConfig saved;
    saved.LoadFromFile(path);
    ASSERT_EQ(saved.ProxyListUser()->Count(), 1);
    ASSERT_EQ(saved.ProxyList()->Count(), 1);
    const TProxtData *good = saved.ProxyListUser()->Items(0);
    const TProxtData *dead = saved.ProxyList()->Items(0);
    EXPECT_EQ(good->Alive(), tsTrue);
    EXPECT_EQ(good->Elite(), tsTrue);
    EXPECT_TRUE(good->Tested());
    EXPECT_FALSE(dead->Tested());
    EXPECT_EQ(ByPort(rows, pDead).value("Alive").toString(), "tsFalse");
    // The stored ratings are the checker window's ratings of each list.
    TProxtData copy;
    copy.Assign(*good);
    RateProxies({&copy});
    EXPECT_EQ(good->Rank(), copy.Rank());
    EXPECT_EQ(ByPort(rows, pElite).value("Rank").toDouble(), good->Rank());
}
