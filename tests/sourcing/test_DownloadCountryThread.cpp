// The country and port lists: the split of the reply, and the thread with its end event.

#include "platform/SysUtils.h"
#include "sourcing/DownloadCountryThread.h"
#include "tests/sourcing/FakeListService.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

TEST(CountryPortReply, SplitsIntoCountriesAndPorts) {
    const struct {
        const char *Name;
        const char *Reply;
        QStringList Countries;
        QStringList Ports;
    } cases[] = {
        {"five lines",
         "US:United States\r\nDE:Germany\r\n\r\n80:80\r\n8080:8080",
         {"US=United States", "DE=Germany"},
         {"80=80", "8080=8080"}},
        {"first line empty", "\n80:80\nUS:United States\n8080:8080", {}, {"80=80", "US=United States", "8080=8080"}},
        {"trailing line break adds no entry", "US:United States\n\n80:80\n", {"US=United States"}, {"80=80"}},
        {"empty line inside the port block", "US:USA\r\rany:any\r\r80:80\r\n", {"US=USA"}, {"any=any", "", "80=80"}},
        {"a colon in a display text", "KR:Korea: South\n\n3128:3128", {"KR=Korea= South"}, {"3128=3128"}},
        {"empty line last", "US:USA\n\n", {"US=USA"}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        QStringList countries{"stale"}, ports{"stale"};
        SplitCountryPortReply(QString::fromUtf8(c.Reply), countries, ports);
        EXPECT_EQ(countries, c.Countries);
        EXPECT_EQ(ports, c.Ports);
    }
    // Without the empty separator line the reply is refused.
    for (const char *reply : {"US:United States\nDE:Germany\n80:80", "US:USA\n", ""}) {
        SCOPED_TRACE(reply);
        QStringList countries, ports;
        EXPECT_THROW(SplitCountryPortReply(QString::fromUtf8(reply), countries, ports), Exception);
    }
}

namespace {

struct TResult {
    bool Ended = false;
    bool OnMainThread = false;
    QStringList Country, Port;
    QString Error;
};

TResult RunThread(const QString &BaseUrl) {
    TResult r;
    QEventLoop loop;
    auto *thread = new TDownloadCountryData(nullptr, BaseUrl);
    thread->SetOnTerminate([&](TDownloadCountryData *Sender) {
        r.Ended = true;
        r.OnMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        r.Country = Sender->Country();
        r.Port = Sender->Port();
        r.Error = Sender->Error();
        Sender->deleteLater();
        loop.quit();
    });
    thread->start();
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return r;
}

} // namespace

TEST(DownloadCountryData, DeliversBothListsThroughTheEndEvent) {
    FakeListService service;
    service.CountryBody = "US:United States\r\nDE:Germany\r\n\r\n80:80\r\n8080:8080\r\n";
    const TResult r = RunThread(service.BaseUrl());
    ASSERT_TRUE(r.Ended);
    EXPECT_TRUE(r.OnMainThread);
    EXPECT_EQ(r.Error, QString());
    EXPECT_EQ(r.Country, (QStringList{"US=United States", "DE=Germany"}));
    EXPECT_EQ(r.Port, (QStringList{"80=80", "8080=8080"}));
    EXPECT_EQ(service.Targets(), std::vector<std::string>{"/engine/index2.php?countryportlist="});
}

TEST(DownloadCountryData, FailuresEndInFError) {
    FakeListService service;
    const struct {
        const char *Name;
        int Status;
        const char *Body;
        bool Reachable;
        const char *MessagePart;
    } cases[] = {
        {"no empty line", 200, "US:United States\nDE:Germany\n80:80", true, "no empty line"},
        {"HTTP 404", 404, "", true, "HTTP error 404"},
        {"HTTP 500", 500, "US:USA\n\n80:80", true, "HTTP error 500"},
        {"no connection", 200, "", false, "Cannot connect"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        service.CountryStatus = c.Status;
        service.CountryBody = c.Body;
        const QString base =
            c.Reachable ? service.BaseUrl() : QStringLiteral("http://127.0.0.1:%1").arg(testsupport::FreeTcpPort());
        const TResult r = RunThread(base);
        ASSERT_TRUE(r.Ended);
        EXPECT_TRUE(r.Error.contains(QLatin1String(c.MessagePart))) << r.Error.toStdString();
        EXPECT_TRUE(r.Country.isEmpty());
        EXPECT_TRUE(r.Port.isEmpty());
    }
}
