// relayvane-cli download against a stand-in list service: the saved result, the printed total,
// and failures that print one line and leave the saved configuration untouched.

#include "config/ComponentStream.h"
#include "config/ProgramConfig.h"
#include "tests/sourcing/FakeListService.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QString kCli = QStringLiteral(RELAYVANE_CLI);

class DownloadCommandTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    FakeListService Service;
    QString File() const { return Dir.path() + QStringLiteral("/config.cfg"); }

    void SetUp() override {
        qputenv("RELAYVANE_SERVICE", Service.BaseUrl().toUtf8());
        TProgramConfig config(nullptr, QLocale::English);
        config.SetCountry(QStringLiteral("DE"));
        config.SetSupportSSL(QStringLiteral("no"));
        config.ProxyList()->Add(QStringLiteral("Japan"), QStringLiteral("JP"), 4.5, QStringLiteral("10.0.0.1"), 8080);
        config.ProxyList()->Add(QStringLiteral("Other"), QStringLiteral("OT"), 1, QStringLiteral("10.0.0.2"), 81);
        config.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
        config.ProxyFilter()->SetActive(true);
        config.SaveToFile(File());
    }
    void TearDown() override { qunsetenv("RELAYVANE_SERVICE"); }

    int Run(const QStringList &Args, QByteArray &Out, QByteArray &Err) {
        return RunProgram(kCli, QStringList{QStringLiteral("download")} + Args, &Out, &Err);
    }
};

} // namespace

TEST_F(DownloadCommandTest, DownloadsKeepsTheActiveProxySwitchesTheFilterOffAndSaves) {
    Service.ListBody = ZCompress("1.2.3.4|8080|US|USA|7.5\r\n5.6.7.8|3128|DE|Germany|6\r\n").toStdString();
    QByteArray out, err;
    ASSERT_EQ(Run({QStringLiteral("--config"), File()}, out, err), 0) << err.data();
    EXPECT_EQ(out, QByteArray("Total proxy servers downloaded: 3\n"));
    EXPECT_TRUE(err.isEmpty()) << "no progress line when stderr is no terminal: " << err.data();

    const auto fields = Service.Fields();
    ASSERT_EQ(fields.size(), 11u);
    EXPECT_EQ(fields[1], (std::pair<std::string, std::string>{"cc", "de"}));
    EXPECT_EQ(fields[2], (std::pair<std::string, std::string>{"ssl", "1"}));

    TProgramConfig saved(nullptr, QLocale::English);
    saved.LoadFromFile(File());
    ASSERT_EQ(saved.ProxyList()->Count(), 3);
    EXPECT_EQ(saved.ProxyList()->Items(0)->IP(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(saved.ProxyList()->Items(0)->Rank(), 4.5);
    EXPECT_EQ(saved.ProxyList()->Items(1)->IP(), QStringLiteral("1.2.3.4"));
    EXPECT_FALSE(saved.ProxyFilter()->Active());

    ASSERT_EQ(Run({QStringLiteral("--config=") + File(), QStringLiteral("--json")}, out, err), 0) << err.data();
    EXPECT_EQ(out, QStringLiteral("{\"config\":\"%1\",\"total\":3}\n").arg(File()).toUtf8());
}

TEST_F(DownloadCommandTest, CustomUrlThroughTheConfiguration) {
    TProgramConfig config(nullptr, QLocale::English);
    config.LoadFromFile(File());
    config.SetUseListService(false);
    config.SetCustomURL(Service.BaseUrl() + QStringLiteral("/list.html"));
    config.SaveToFile(File());
    Service.CustomPage = "11.22.33.44:8080\n55.66.77.88:3128\n";
    QByteArray out, err;
    ASSERT_EQ(Run({QStringLiteral("--config"), File()}, out, err), 0) << err.data();
    EXPECT_EQ(out, QByteArray("Total proxy servers downloaded: 3\n"));
}

TEST_F(DownloadCommandTest, FailuresPrintTheReasonAndLeaveTheFileAsItWas) {
    const QByteArray before = ReadFile(File());
    const int closed = FreeTcpPort();
    struct TCase {
        const char *Name;
        std::function<void()> Arrange;
        QString Stderr;
    };
    const QString prefix = QStringLiteral("relayvane-cli: Cannot download proxy list: ");
    const TCase cases[] = {
        {"HTTP 404", [&] { Service.ListStatus = 404; },
         prefix +
             QStringLiteral("HTTP error 404 Not Found (%1/engine/index2.php?proxylist=)\n").arg(Service.BaseUrl())},
        {"damaged zlib",
         [&] {
             Service.ListStatus = 200;
             Service.ListBody = "\x78\xda not zlib at all";
         },
         QString()},
        {"the service's error reply",
         [&] { Service.ListBody = ZCompress("Error|Unknown port|http://127.0.0.1/faq.php").toStdString(); },
         prefix + QStringLiteral("the list service says: Unknown port (http://127.0.0.1/faq.php)\n")},
        {"unreachable",
         [&] { qputenv("RELAYVANE_SERVICE", QByteArray("http://127.0.0.1:") + QByteArray::number(closed)); },
         QString()},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        c.Arrange();
        QByteArray out, err;
        EXPECT_EQ(Run({QStringLiteral("--config"), File()}, out, err), 1);
        EXPECT_TRUE(out.isEmpty());
        if (!c.Stderr.isEmpty()) {
            EXPECT_EQ(QString::fromUtf8(err), c.Stderr);
        }
        EXPECT_TRUE(err.startsWith(prefix.toUtf8())) << err.data();
        EXPECT_EQ(err.count('\n'), 1) << "one line: " << err.data();
        EXPECT_EQ(ReadFile(File()), before);
    }

    // A configuration that cannot be read is not replaced either.
    WriteFile(File(), "not a configuration");
    QByteArray out, err;
    EXPECT_EQ(Run({QStringLiteral("--config"), File()}, out, err), 1);
    EXPECT_TRUE(err.startsWith(prefix.toUtf8())) << err.data();
    EXPECT_EQ(ReadFile(File()), QByteArray("not a configuration"));
}

TEST_F(DownloadCommandTest, HelpAndBadArguments) {
    QByteArray out, err;
    EXPECT_EQ(Run({QStringLiteral("--help")}, out, err), 0);
    EXPECT_EQ(out, ReadFile(DataPath(QStringLiteral("sourcing"), QStringLiteral("download-help.golden"))));
    EXPECT_EQ(Run({QStringLiteral("--bogus")}, out, err), 1);
    EXPECT_EQ(err,
              QByteArray("relayvane-cli: download: unknown argument '--bogus'; see 'relayvane-cli download --help'\n"));
    EXPECT_EQ(Run({QStringLiteral("--config")}, out, err), 1);
    EXPECT_EQ(err, QByteArray("relayvane-cli: download: --config needs a FILE\n"));
}

TEST_F(DownloadCommandTest, ShowsProgressOnATerminalAndClearsIt) {
    // script(1) gives the command a terminal; the bytes it wrote come back on our stdout.
    const QString script = FindProgram(QStringLiteral("script"));
    if (script.isEmpty())
        GTEST_SKIP() << "script(1) is not installed";
    Service.ListBody = ZCompress("1.2.3.4|8080|US|USA|7.5\r\n5.6.7.8|3128|DE|Germany|6\r\n").toStdString();
    QByteArray out, err;
    ASSERT_EQ(RunProgram(script,
                         {QStringLiteral("-qec"), QStringLiteral("'%1' download --config '%2'").arg(kCli, File()),
                          QStringLiteral("/dev/null")},
                         &out, &err),
              0)
        << out.data() << err.data();
    EXPECT_TRUE(out.contains("\rDownloading proxy list... 0.1 KiB of 0.1 KiB (100%)\033[K")) << out.data();
    EXPECT_TRUE(out.contains("\r\033[KTotal proxy servers downloaded: 3")) << out.data();
}
