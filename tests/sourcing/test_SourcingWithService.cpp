// The downloads against relayvane-service itself, started on loopback by the test with a store of
// known proxies: the filters the form carries decide which records come back, with the ranks the
// service scored; its error reply, its country/port list and its update announcement.

#include "config/ProgramConfig.h"
#include "platform/Registry.h"
#include "sourcing/DownloadCountryThread.h"
#include "sourcing/Marlo.Common.UpdateThread.h"
#include "sourcing/ProxyListDownload.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <map>

using namespace testsupport;

namespace {

QString ServiceProgram() {
    return QStringLiteral(RELAYVANE_BUILD_DIR "/service/relayvane-service");
}

struct TSink : IWarningSink {
    QStringList Messages, Links;
    void ShowWarningMessage(const QString &Msg, const QString &Url) override {
        Messages << Msg;
        Links << Url;
    }
};

class ServiceTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    ChildProcess Service;
    int Port = 0;
    std::map<QString, double> Scores; // "ip:port" -> the service's score
    TProgramConfig Config{nullptr, QLocale::English};
    TSink Sink;
    TListDownloadOptions Options;

    QString Db() const { return Dir.path() + QStringLiteral("/service.sqlite"); }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(Port); }

    void SetUp() override {
        ASSERT_TRUE(QFile::exists(ServiceProgram()));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        auto proxy = [now](const char *ip, int port, const char *cc, const char *country, const char *type, bool https,
                           bool post, double speed, double ping, double uptime, double hours) {
            return QJsonObject{{"address", ip},      {"port", port},          {"country_code", cc},
                               {"country", country}, {"type", type},          {"https", https},
                               {"post", post},       {"speed", speed},        {"ping", ping},
                               {"uptime", uptime},   {"uptime_hours", hours}, {"last_check", double(now)}};
        };
        const QJsonArray proxies{
            proxy("10.1.0.1", 8080, "US", "United States", "elite", true, true, 50, 1, 95, 48),
            proxy("10.1.0.2", 3128, "DE", "Germany", "anonymous", false, true, 40, 2, 90, 24),
            proxy("10.1.0.3", 80, "FR", "France", "transparent", true, false, 30, 3, 80, 10),
            proxy("10.1.0.4", 8080, "DE", "Germany", "elite", false, false, 5, 20, 50, 1),
        };
        const QString json = Dir.path() + QStringLiteral("/proxies.json");
        WriteFile(json, QJsonDocument(proxies).toJson());
        QByteArray out, err;
        ASSERT_EQ(RunProgram(ServiceProgram(), {"--db", Db(), "import", "--json", json}, &out, &err), 0) << err.data();
        ASSERT_EQ(RunProgram(ServiceProgram(), {"--db", Db(), "list", "--json"}, &out, &err), 0) << err.data();
        for (const QJsonValue v : QJsonDocument::fromJson(out).array()) {
            const QJsonObject o = v.toObject();
            Scores[o["address"].toString() + ':' + QString::number(o["port"].toInt())] = o["score"].toDouble();
        }
        ASSERT_EQ(Scores.size(), 4u);
        StartService();
        Config.ProxyList()->SetWarningSink(&Sink);
    }

    void StartService() {
        Port = FreeTcpPort();
        ASSERT_TRUE(Service.Start(ServiceProgram(),
                                  {"--db", Db(), "serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(Port)},
                                  Dir.path() + QStringLiteral("/service.log")));
        ASSERT_TRUE(WaitForPort(Port));
        Options.BaseUrl = Base();
    }

    // "ip:port" of every record, in order, each checked to carry half the service's score.
    QStringList Downloaded() {
        QStringList out;
        const TProxyCollection &list = *Config.ProxyList();
        for (int i = 0; i < list.Count(); ++i) {
            const TProxtData *p = list.Items(i);
            const QString key = p->IP() + ':' + QString::number(p->Port());
            out << key;
            EXPECT_DOUBLE_EQ(p->Rank(), Scores[key] / 2) << key.toStdString();
        }
        return out;
    }
};

} // namespace

TEST_F(ServiceTest, TheFormsFiltersChooseTheRecords) {
    struct TCase {
        const char *Name;
        std::function<void(TProgramConfig &)> Set;
        QStringList Expected; // best score first
    };
    const TCase cases[] = {
        {"defaults: anonymous or elite, 10 kB/s, uptime 70",
         [](TProgramConfig &) {},
         {"10.1.0.1:8080", "10.1.0.2:3128"}},
        {"ssl yes",
         [](TProgramConfig &c) {
             c.SetSupportSSL("yes");
             c.SetProxyType("any");
         },
         {"10.1.0.1:8080", "10.1.0.3:80"}},
        {"ssl no",
         [](TProgramConfig &c) {
             c.SetSupportSSL("no");
             c.SetProxyType("any");
         },
         {"10.1.0.2:3128"}},
        {"post no",
         [](TProgramConfig &c) {
             c.SetSupportPostGet("no");
             c.SetProxyType("any");
         },
         {"10.1.0.3:80"}},
        {"Elite with a capital E means any",
         [](TProgramConfig &c) { c.SetProxyType("Elite"); },
         {"10.1.0.1:8080", "10.1.0.2:3128", "10.1.0.3:80"}},
        {"elite", [](TProgramConfig &c) { c.SetProxyType("elite"); }, {"10.1.0.1:8080"}},
        {"transparent", [](TProgramConfig &c) { c.SetProxyType("transparent"); }, {"10.1.0.3:80"}},
        {"country DE", [](TProgramConfig &c) { c.SetCountry("DE"); }, {"10.1.0.2:3128"}},
        {"port 8080, no minimums",
         [](TProgramConfig &c) {
             c.SetPort("8080");
             c.SetMiniSpeed(0);
             c.SetMaxPing(0);
             c.SetMiniUptime(0);
         },
         {"10.1.0.1:8080", "10.1.0.4:8080"}},
        {"uptime in hours", [](TProgramConfig &c) { c.SetMiniUptimeHr(30); }, {"10.1.0.1:8080"}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TProgramConfig fresh(nullptr, QLocale::English);
        c.Set(fresh);
        CopyPublishedProperties(fresh, Config);
        Config.ProxyList()->Clear();
        DownloadProxyList(Config, nullptr, Options);
        EXPECT_EQ(Downloaded(), c.Expected);
    }
    EXPECT_TRUE(Sink.Messages.isEmpty());
}

TEST_F(ServiceTest, TheServicesErrorReplyReachesTheWarningWithItsLink) {
    Config.SetPort(QStringLiteral("not-a-port"));
    Config.SetLanguage(QStringLiteral("deutsch"));
    Config.ProxyList()->Add(QStringLiteral("Old"), QStringLiteral("OO"), 1, QStringLiteral("10.9.9.9"), 99);
    TProxyCollection mine;
    TProxtData *active = mine.Add(QStringLiteral("Japan"), QStringLiteral("JP"), 4, QStringLiteral("10.7.7.7"), 81);
    DownloadProxyList(Config, active, Options);
    ASSERT_EQ(Sink.Messages.size(), 1);
    EXPECT_FALSE(Sink.Messages[0].isEmpty());
    EXPECT_TRUE(Sink.Messages[0].contains(QLatin1String("port"))) << Sink.Messages[0].toStdString();
    EXPECT_TRUE(Sink.Links[0].startsWith(Base() + QStringLiteral("/faq.php"))) << Sink.Links[0].toStdString();
    ASSERT_EQ(Config.ProxyList()->Count(), 1);
    EXPECT_EQ(Config.ProxyList()->Items(0)->IP(), QStringLiteral("10.7.7.7"));
}

TEST_F(ServiceTest, TheActiveProxySurvivesAndFailuresLeaveTheList) {
    TProxyCollection &list = *Config.ProxyList();
    list.Add(QStringLiteral("Japan"), QStringLiteral("JP"), 4.5, QStringLiteral("10.7.7.7"), 81);
    DownloadProxyList(Config, list.Items(0), Options);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(0)->IP(), QStringLiteral("10.7.7.7"));
    EXPECT_EQ(list.Items(0)->Rank(), 4.5);

    // A wrong path answers 404; a stopped service does not answer at all.
    Options.BaseUrl = Base() + QStringLiteral("/nowhere");
    EXPECT_THROW(DownloadProxyList(Config, nullptr, Options), EProxyListDownloadError);
    Service.Stop();
    Options.BaseUrl = Base();
    try {
        DownloadProxyList(Config, nullptr, Options);
        ADD_FAILURE() << "no error";
    } catch (const EProxyListDownloadError &e) {
        EXPECT_TRUE(e.Message().startsWith(QLatin1String("Cannot connect"))) << e.Message().toStdString();
    }
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(0)->IP(), QStringLiteral("10.7.7.7"));
}

TEST_F(ServiceTest, CountryAndPortListsComeFromTheService) {
    QEventLoop loop;
    QStringList country, port;
    QString error = QStringLiteral("<no end event>");
    auto *thread = new TDownloadCountryData(nullptr, Base());
    thread->SetOnTerminate([&](TDownloadCountryData *Sender) {
        country = Sender->Country();
        port = Sender->Port();
        error = Sender->Error();
        Sender->deleteLater();
        loop.quit();
    });
    thread->start();
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(error, QString());
    EXPECT_TRUE(country.contains(QStringLiteral("DE=Germany"))) << country.join(',').toStdString();
    EXPECT_TRUE(country.contains(QStringLiteral("US=United States")));
    EXPECT_TRUE(port.contains(QStringLiteral("8080=8080"))) << port.join(',').toStdString();
    EXPECT_TRUE(port.contains(QStringLiteral("3128=3128")));
}

TEST_F(ServiceTest, TheUpdateAnnouncementReachesTheWarning) {
    TRegistry store(Dir.path() + QStringLiteral("/registry.ini"));
    QStringList warnings;
    auto check = [&](const QDate &Day) {
        TCheckUpdateThread *thread = StartUpdateCheck(
            store, Day, QStringLiteral("english"),
            [&](const QString &Msg, const QString &Url) { warnings << Msg + " | " + Url; }, Base());
        ASSERT_NE(thread, nullptr);
        WaitForDestroyed(thread);
    };
    check(QDate(2026, 1, 1));
    EXPECT_TRUE(warnings.isEmpty()) << "the service announces 3.1.3 until told otherwise";

    Service.Stop();
    QByteArray err;
    ASSERT_EQ(RunProgram(ServiceProgram(),
                         {"--db", Db(), "set-update", "3.2.0", "Relayvane 3.2.0 is out", "http://127.0.0.1/get"},
                         nullptr, &err),
              0)
        << err.data();
    StartService();
    check(QDate(2026, 1, 3));
    EXPECT_EQ(warnings, QStringList{"Relayvane 3.2.0 is out | http://127.0.0.1/get"});
}

TEST_F(ServiceTest, TheCommandLineDownloadSavesWhatTheServiceSent) {
    const QString file = Dir.path() + QStringLiteral("/config.cfg");
    Config.SetActiveProxyServer(QStringLiteral("10.7.7.7:81"));
    Config.ProxyListUser()->Add(QStringLiteral("Japan"), QStringLiteral("JP"), 4, QStringLiteral("10.7.7.7"), 81);
    Config.SaveToFile(file);
    qputenv("RELAYVANE_SERVICE", Base().toUtf8());
    QByteArray out, err;
    const int status = RunProgram(QStringLiteral(RELAYVANE_CLI), {"download", "--config", file}, &out, &err);
    qunsetenv("RELAYVANE_SERVICE");
    ASSERT_EQ(status, 0) << err.data();
    EXPECT_EQ(out, QByteArray("Total proxy servers downloaded: 3\n"));
    TProgramConfig saved(nullptr, QLocale::English);
    saved.LoadFromFile(file);
    QStringList got;
    for (int i = 0; i < saved.ProxyList()->Count(); ++i)
        got << saved.ProxyList()->Items(i)->IP();
    EXPECT_EQ(got, (QStringList{"10.7.7.7", "10.1.0.1", "10.1.0.2"})) << "the user's active proxy first";
}
