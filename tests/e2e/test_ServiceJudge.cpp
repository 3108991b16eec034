// The judge of relayvane-service classifies real proxies: three tinyproxy instances on loopback,
// one passing the client's address on (transparent), one adding only Via (anonymous), one adding
// neither (elite). The service is the real binary, started by the test on a free port.

#include "tests/e2e/RelayPeers.h"
#include "tests/service/QtPrinters.h"
#include "tests/service/ServiceHttp.h"
#include "tests/support/TestSupport.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

using namespace servicetest;
using namespace testsupport;
using relaytest::Tinyproxy;

namespace {

QStringList Lines(const QByteArray &Body) {
    QString text = QString::fromUtf8(Body);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text.split(u'\n');
}

class ServiceJudgeE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FDir.isValid());
        FServicePort = FreeTcpPort();
        ASSERT_TRUE(FService.Start(QStringLiteral(RELAYVANE_BUILD_DIR "/service/relayvane-service"),
                                   {"--db", FDir.filePath("service.db"), "serve", "--listen",
                                    QStringLiteral("127.0.0.1:%1").arg(FServicePort)},
                                   FDir.filePath("service.log")));
        ASSERT_TRUE(WaitForPort(FServicePort)) << "the service did not come up";
    }

    // Starts tinyproxy on a free loopback port with Extra lines in its configuration.
    int StartTinyproxy(Tinyproxy &Proxy, const QStringList &Extra) {
        if (FindProgram("tinyproxy").isEmpty())
            return 0;
        return Proxy.Start(FDir.path(), Extra.join(u'\n')) ? Proxy.Port() : -1;
    }

    // The checker's two exchanges: the probe straight to the judge, then the test through the proxy.
    QStringList Judge(int ProxyPort, const QString &Path) {
        const QString judge = QStringLiteral("http://127.0.0.1:%1%2").arg(FServicePort).arg(Path);
        const THttpReply probe = HttpGet(judge + "?showip=");
        EXPECT_EQ(probe.Status, 200) << probe.Error.toStdString();
        const QStringList probeLines = Lines(probe.Body);
        if (probeLines.size() < 2)
            return {};
        const QString ownAddress = probeLines[0];
        const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        const QString url = judge + "?userip=" + ownAddress + QStringLiteral("&proxy=127.0.0.1:%1").arg(ProxyPort) +
                            "&time=" + probeLines[1] + "&field1=" + token;
        const THttpReply reply =
            HttpPostForm(url, {{"field2", token}}, QStringLiteral("http://127.0.0.1:%1").arg(ProxyPort));
        EXPECT_EQ(reply.Status, 200) << reply.Error.toStdString();
        return Lines(reply.Body);
    }

    QTemporaryDir FDir;
    ChildProcess FService;
    int FServicePort = 0;
};

TEST_F(ServiceJudgeE2E, ClassifiesTransparentAnonymousAndEliteProxies) {
    struct TCase {
        const char *Name;
        QStringList Config;
        const char *Letter;
    };
    const TCase cases[] = {
        {"transparent", {"XTinyproxy Yes"}, "t"}, // passes the client's address in X-Tinyproxy
        {"anonymous", {}, "a"},                   // adds "Via: 1.1 host (tinyproxy/...)" only
        {"elite", {"DisableViaHeader Yes"}, "e"}, // adds nothing
    };
    for (const TCase &c : cases) {
        Tinyproxy proxy;
        const int port = StartTinyproxy(proxy, c.Config);
        if (port == 0)
            GTEST_SKIP() << "tinyproxy is not installed";
        ASSERT_GT(port, 0) << c.Name << ": tinyproxy did not come up";
        for (const QString path : {"/type.php", "/engine/type.php"}) {
            const QStringList lines = Judge(port, path);
            ASSERT_GE(lines.size(), 5) << c.Name;
            EXPECT_EQ(lines[0], "Qm7RvK2pLc9WnT4z") << c.Name;
            EXPECT_EQ(lines[1], c.Letter) << c.Name << " via " << path.toStdString();
            EXPECT_EQ(lines[2], "p") << c.Name << ": the request came from the proxy's own address";
            bool ok = false;
            EXPECT_GE(lines[3].toDouble(&ok), 0.0);
            EXPECT_TRUE(ok) << lines[3].toStdString();
            EXPECT_EQ(lines[4], "y") << c.Name << ": the POST field arrived";
        }
    }
}

} // namespace
