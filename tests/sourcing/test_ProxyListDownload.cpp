// The list download against a stand-in service on loopback: the form the service receives, the
// records and ranks it gives, error replies, the custom URL, and failures that leave the list alone.

#include "config/ComponentStream.h"
#include "config/ProgramConfig.h"
#include "sourcing/LanguageWord.h"
#include "sourcing/ProxyListDownload.h"
#include "tests/sourcing/FakeListService.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

struct TSink : IWarningSink {
    QStringList Calls;
    void ShowWarningMessage(const QString &Msg, const QString &Url) override {
        Calls << Msg + QStringLiteral(" | ") + Url;
    }
};

// "ip:port code rank" of every record, in order.
QStringList Describe(const TProxyCollection &List) {
    QStringList out;
    for (int i = 0; i < List.Count(); ++i) {
        const TProxtData *p = List.Items(i);
        out << QStringLiteral("%1:%2 %3 %4").arg(p->IP()).arg(p->Port()).arg(p->CountryCode()).arg(p->Rank());
    }
    return out;
}

std::string Zlib(const QByteArray &Text) {
    return ZCompress(Text).toStdString();
}

class ProxyListDownloadTest : public ::testing::Test {
public:
    FakeListService Service;
    TProgramConfig Config{nullptr, QLocale::English};
    TSink Sink;
    TListDownloadOptions Options;

    void SetUp() override {
        Options.BaseUrl = Service.BaseUrl();
        Config.ProxyList()->SetWarningSink(&Sink);
    }
    void Download(const TProxtData *Active = nullptr) { DownloadProxyList(Config, Active, Options); }
};

} // namespace

TEST(ListServiceForm, MappingsAreExactAndCaseSensitive) {
    const struct {
        const char *Value, *Expected;
    } threeWay[] = {{"yes", "2"}, {"no", "1"}, {"", "any"}, {"any", "any"}, {"Yes", "any"}, {"NO", "any"}};
    for (const auto &c : threeWay)
        EXPECT_EQ(ThreeWayMapping(QString::fromUtf8(c.Value)), QLatin1String(c.Expected)) << c.Value;
    const struct {
        const char *Value, *Expected;
    } types[] = {{"anonymous or elite", "23"},
                 {"elite", "3"},
                 {"transparent", "1"},
                 {"anonymous", "2"},
                 {"Elite", "any"},
                 {"any", "any"},
                 {"", "any"},
                 {"Anonymous or elite", "any"}};
    for (const auto &c : types)
        EXPECT_EQ(ProxyTypeMapping(QString::fromUtf8(c.Value)), QLatin1String(c.Expected)) << c.Value;
}

TEST(ListServiceForm, LanguageWordLowersOnlyAsciiLetters) {
    const struct {
        const char *Language, *Word;
    } cases[] = {{"english", "english"},  {"English", "english"},   {"deutsch", "german"},
                 {"DEUTSCH", "german"},   {"русский", "russian"},   {"український", "ukrainian"},
                 {"française", "french"}, {"FRANÇAISE", "english"}, {"español", "spanish"},
                 {"", "english"},         {"klingon", "english"}};
    for (const auto &c : cases)
        EXPECT_EQ(TranslateLangugae(QString::fromUtf8(c.Language)), QLatin1String(c.Word)) << c.Language;
}

TEST_F(ProxyListDownloadTest, TheServiceReceivesTheElevenFieldsInOrder) {
    Config.SetLanguage(QStringLiteral("Deutsch"));
    Config.SetCountry(QStringLiteral("DE"));
    Config.SetPort(QStringLiteral("8080"));
    Config.SetSupportSSL(QStringLiteral("yes"));
    Config.SetProxyType(QStringLiteral("Elite"));
    Config.SetSupportPostGet(QStringLiteral("no"));
    Config.SetMiniSpeed(20);
    Config.SetMaxPing(15);
    Config.SetMiniUptime(70);
    Config.SetMiniUptimeHr(5);
    Config.SetTimeInteval(30);
    Service.ListBody = Zlib("");
    Download();
    const FakeListService::TFields expected{
        {"lang", "german"}, {"cc", "de"},  {"ssl", "2"},     {"speed", "20"},        {"port", "8080"},  {"ping", "15"},
        {"type", "any"},    {"post", "1"}, {"uptime", "70"}, {"uptimeinhours", "5"}, {"interval", "30"}};
    EXPECT_EQ(Service.Fields(), expected);
    ASSERT_EQ(Service.Targets().size(), 1u);
    EXPECT_EQ(Service.Targets()[0], "/engine/index2.php?proxylist=");

    // A fresh configuration sends its defaults: empty country and port, any SSL, "23".
    TProgramConfig fresh(nullptr, QLocale::English);
    DownloadProxyList(fresh, nullptr, Options);
    const FakeListService::TFields defaults{{"lang", "english"},    {"cc", ""},        {"ssl", "any"},
                                            {"speed", "10"},        {"port", ""},      {"ping", "15"},
                                            {"type", "23"},         {"post", "any"},   {"uptime", "70"},
                                            {"uptimeinhours", "0"}, {"interval", "15"}};
    EXPECT_EQ(Service.Fields(), defaults);
}

TEST_F(ProxyListDownloadTest, RecordsArriveWithTheirRanks) {
    Config.ProxyList()->Add(QStringLiteral("Old"), QStringLiteral("OO"), 1, QStringLiteral("9.9.9.9"), 99);
    Service.ListBody = Zlib("1.2.3.4|8080|US|\"United States\"|7.5\r\n"
                            "5.6.7.8:3128|DE|Germany|10\r\n"
                            "1.2.3.4|8080|US|\"United States\"|2\r\n");
    Download();
    EXPECT_EQ(Describe(*Config.ProxyList()), (QStringList{"1.2.3.4:8080 US 3.75", "5.6.7.8:3128 DE 5"}));
    EXPECT_EQ(Config.ProxyList()->Items(0)->Country(), QStringLiteral("United States"));
    EXPECT_TRUE(Sink.Calls.isEmpty());
}

TEST_F(ProxyListDownloadTest, TheServicesErrorReplySurfacesItsMessageAndLink) {
    Config.ProxyList()->Add(QStringLiteral("Old"), QStringLiteral("OO"), 1, QStringLiteral("9.9.9.9"), 99);
    TProxyCollection other;
    TProxtData *active = other.Add(QStringLiteral("France"), QStringLiteral("FR"), 4, QStringLiteral("7.7.7.7"), 80);
    Service.ListBody = Zlib("Error|No proxy matches your filter|http://127.0.0.1/faq.php|");
    Download(active);
    EXPECT_EQ(Sink.Calls, QStringList{"No proxy matches your filter | http://127.0.0.1/faq.php|"});
    EXPECT_EQ(Describe(*Config.ProxyList()), QStringList{"7.7.7.7:80 FR 4"}) << "only the active proxy stays";
}

TEST_F(ProxyListDownloadTest, CustomUrlGivesTheFreeFormatPage) {
    Config.SetUseListService(false);
    Config.SetCustomURL(Service.BaseUrl() + QStringLiteral("/list.html"));
    Service.CustomPage = "<html><body><table><tr><td>Proxy</td></tr>\n"
                         "<tr><td>11.22.33.44:8080</td><td>fast</td></tr>\n"
                         "<p>also 55.66.77.88 3128 and user:pw@99.88.77.66:80</p></body></html>\n";
    Download();
    QStringList got = Describe(*Config.ProxyList());
    for (QString &s : got)
        s = s.section(QLatin1Char(' '), 0, 0);
    EXPECT_EQ(got, (QStringList{"11.22.33.44:8080", "55.66.77.88:3128", "99.88.77.66:80"}));
    EXPECT_EQ(Service.Targets(), std::vector<std::string>{"/list.html"});
    EXPECT_TRUE(Service.Fields().empty()) << "no form goes to a custom URL";
}

TEST_F(ProxyListDownloadTest, EveryFailureIsOneErrorAndLeavesTheListAsItWas) {
    const int closedPort = testsupport::FreeTcpPort();
    struct TCase {
        const char *Name;
        std::function<void(ProxyListDownloadTest &)> Arrange;
        const char *MessagePart;
    };
    const TCase cases[] = {
        {"unreachable endpoint",
         [closedPort](ProxyListDownloadTest &t) {
             t.Options.BaseUrl = QStringLiteral("http://127.0.0.1:%1").arg(closedPort);
         },
         "Cannot connect"},
        {"HTTP 404", [](ProxyListDownloadTest &t) { t.Service.ListStatus = 404; }, "HTTP error 404 Not Found"},
        {"HTTP 500", [](ProxyListDownloadTest &t) { t.Service.ListStatus = 500; }, "HTTP error 500"},
        {"damaged zlib",
         [](ProxyListDownloadTest &t) {
             std::string z = Zlib("1.2.3.4|8080|US|USA|7.5\r\n5.6.7.8|80|DE|Germany|6\r\n");
             z[z.size() / 2] ^= 0x5A;
             t.Service.ListBody = z;
         },
         "not a valid zlib stream"},
        {"plain text instead of zlib", [](ProxyListDownloadTest &t) { t.Service.ListBody = "1.2.3.4|8080|US|USA|7.5"; },
         "not a valid zlib stream"},
        {"parser error",
         [](ProxyListDownloadTest &t) { t.Service.ListBody = Zlib("1.2.3.4|8080|US|United States|7.5"); }, ""},
        {"custom URL 404",
         [](ProxyListDownloadTest &t) {
             t.Config.SetUseListService(false);
             t.Config.SetCustomURL(t.Service.BaseUrl() + QStringLiteral("/nothing-here"));
         },
         "HTTP error 404"},
        {"empty custom URL",
         [](ProxyListDownloadTest &t) {
             t.Config.SetUseListService(false);
             t.Config.SetCustomURL(QString());
         },
         ""},
        {"custom URL left at http://",
         [](ProxyListDownloadTest &t) {
             t.Config.SetUseListService(false);
             t.Config.SetCustomURL(QStringLiteral("http://"));
         },
         ""},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        Config.SetUseListService(true);
        Options.BaseUrl = Service.BaseUrl();
        Service.ListStatus = 200;
        Config.ProxyList()->Clear();
        Config.ProxyList()->Add(QStringLiteral("Kept"), QStringLiteral("KK"), 2.5, QStringLiteral("10.0.0.1"), 8080);
        Config.ProxyList()->Add(QStringLiteral("Kept"), QStringLiteral("KK"), 1, QStringLiteral("10.0.0.2"), 3128);
        const QStringList before = Describe(*Config.ProxyList());
        c.Arrange(*this);
        try {
            Download(Config.ProxyList()->Items(1));
            ADD_FAILURE() << "no error";
        } catch (const EProxyListDownloadError &e) {
            EXPECT_TRUE(e.Message().contains(QLatin1String(c.MessagePart))) << e.Message().toStdString();
            EXPECT_FALSE(e.Message().isEmpty());
        }
        EXPECT_EQ(Describe(*Config.ProxyList()), before);
        EXPECT_TRUE(Sink.Calls.isEmpty());
    }
}

TEST_F(ProxyListDownloadTest, TheActiveProxySurvivesADownload) {
    TProxyCollection &list = *Config.ProxyList();
    list.Add(QStringLiteral("Other"), QStringLiteral("OT"), 1, QStringLiteral("10.0.0.9"), 81);
    list.Add(QStringLiteral("Japan"), QStringLiteral("JP"), 4.5, QStringLiteral("10.0.0.1"), 8080);
    Service.ListBody = Zlib("1.2.3.4|8080|US|USA|7.5\r\n10.0.0.1|8080|DE|Germany|2\r\n");
    // The active proxy is a record of the list being replaced.
    Download(list.Items(1));
    EXPECT_EQ(Describe(list), (QStringList{"10.0.0.1:8080 JP 4.5", "1.2.3.4:8080 US 3.75"}))
        << "first, with its old rank and country; the reply's copy is a duplicate";
}

TEST_F(ProxyListDownloadTest, ProgressIsReportedAndCanStopTheDownload) {
    Service.ListBody = Zlib("1.2.3.4|8080|US|USA|7.5\r\n");
    qint64 lastSeen = -1;
    Options.OnWork = [&](qint64 Received, qint64) {
        lastSeen = Received;
        return true;
    };
    Download();
    EXPECT_EQ(lastSeen, qint64(Service.ListBody.size()));
    Options.OnWork = [](qint64, qint64) { return false; };
    EXPECT_THROW(Download(), EProxyListDownloadError);
    EXPECT_EQ(Config.ProxyList()->Count(), 1);
}
