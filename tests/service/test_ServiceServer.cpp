// relayvane-service over real HTTP on loopback: every endpoint, every filter of the list service,
// replies read by the program's own parsers, error replies, limits, the access log, and the real
// binary's clean stop on SIGTERM.

#include "ServiceHttp.h"
#include "catalogue/Marlo.Common.ProxyList.h"
#include "service/ServiceServer.h"
#include "service/ServiceStore.h"
#include "sourcing/DownloadCountryThread.h"
#include "tests/service/QtPrinters.h"
#include "tests/support/RecordingWarningSink.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QDateTime>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace servicetest;

namespace {

using TCapture = testsupport::RecordingWarningSink;

// Five proxies that between them pass and fail every filter.
std::vector<TServiceProxy> Fixture(qint64 Now) {
    auto make = [](const char *address, int port, const char *code, const char *name, TAnonymity type,
                   std::optional<bool> https, std::optional<bool> post, std::optional<double> speed,
                   std::optional<double> ping, std::optional<double> uptime, std::optional<double> hours,
                   std::optional<qint64> last) {
        TServiceProxy p;
        p.Address = address;
        p.Port = port;
        p.CountryCode = code;
        p.CountryName = name;
        p.Anonymity = type;
        p.Https = https;
        p.Post = post;
        p.Speed = speed;
        p.Ping = ping;
        p.Uptime = uptime;
        p.UptimeHours = hours;
        p.LastCheck = last;
        return p;
    };
    return {
        make("10.0.0.1", 80, "US", "United States", TAnonymity::Elite, true, true, 200, 0.5, 95, 200, Now - 60),
        make("10.0.0.2", 8080, "DE", "Germany", TAnonymity::Anonymous, false, true, 50, 3, 80, 50, Now - 600),
        make("10.0.0.3", 3128, "DE", "Germany", TAnonymity::Transparent, true, false, 5, 12, 40, 5, Now - 7200),
        make("10.0.0.4", 80, "", "", TAnonymity::Unknown, {}, {}, {}, {}, {}, {}, {}),
        make("10.0.0.5", 8080, "KR", "Korea, Republic of", TAnonymity::Elite, false, false, 100, 1, 99, 1000, Now - 30),
    };
}

TFields Form(const QList<QPair<QString, QString>> &Overrides = {}) {
    TFields f = {{"lang", "english"}, {"cc", ""},      {"ssl", "any"},  {"speed", "0"},  {"port", "any"},
                 {"ping", "0"},       {"type", "any"}, {"post", "any"}, {"uptime", "0"}, {"uptimeinhours", "0"},
                 {"interval", "0"}};
    for (const auto &[name, value] : Overrides) {
        bool replaced = false;
        for (auto &field : f) {
            if (field.first == name) {
                field.second = value;
                replaced = true;
            }
        }
        if (!replaced)
            f.append({name, value});
    }
    return f;
}

class ServiceServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FDir.isValid());
        FStore = std::make_unique<TServiceStore>(FDir.filePath("service.db"));
        FNow = QDateTime::currentSecsSinceEpoch();
        FStore->PutProxies(Fixture(FNow));
        Start();
    }
    void TearDown() override { Stop(); }

    void Start(TServiceOptions Options = {}) {
        Options.Host = "127.0.0.1";
        Options.Port = 0;
        Options.AccessLog = [this](const QByteArray &line) {
            std::lock_guard lock(FLogLock);
            FLog << QString::fromUtf8(line);
        };
        FServer = std::make_unique<TServiceServer>(*FStore, Options);
        FPort = FServer->Bind();
        FThread = std::thread([this] { FServer->Run(); });
        FBase = QStringLiteral("http://127.0.0.1:%1").arg(FPort);
    }
    void Stop() {
        if (FServer)
            FServer->Stop();
        if (FThread.joinable())
            FThread.join();
        FServer.reset();
    }
    QStringList Log() {
        std::lock_guard lock(FLogLock);
        return FLog;
    }

    QString ListUrl() const { return FBase + "/engine/index2.php?proxylist="; }

    // POSTs the form, inflates the reply and reads it with the program's own parser.
    void Download(const TFields &Fields, TProxyCollection &Into, TCapture &Sink) {
        const THttpReply reply = HttpPostForm(ListUrl(), Fields);
        ASSERT_EQ(reply.Status, 200) << reply.Error.toStdString();
        EXPECT_EQ(reply.ContentType, "application/octet-stream");
        bool ok = false;
        const QByteArray text = Inflate(reply.Body, &ok);
        ASSERT_TRUE(ok) << "the reply is a zlib stream";
        QBuffer buffer;
        buffer.setData(text);
        buffer.open(QIODevice::ReadOnly);
        Into.SetNoDuplicates(true);
        Into.SetWarningSink(&Sink);
        Into.ParseStreamVIP(buffer, nullptr);
    }
    QStringList Addresses(const TFields &Fields) {
        TProxyCollection c;
        TCapture sink;
        Download(Fields, c, sink);
        EXPECT_EQ(sink.Calls, 0) << sink.Msg.toStdString();
        QStringList out;
        for (int i = 0; i < c.Count(); ++i)
            out << c.Items(i)->IP();
        out.sort();
        return out;
    }

    QTemporaryDir FDir;
    std::unique_ptr<TServiceStore> FStore;
    std::unique_ptr<TServiceServer> FServer;
    std::thread FThread;
    int FPort = 0;
    qint64 FNow = 0;
    QString FBase;
    std::mutex FLogLock;
    QStringList FLog;
};

TEST_F(ServiceServerTest, ListReplyReadByTheProgramGivesRecordsAndRanks) {
    TProxyCollection c;
    TCapture sink;
    Download(Form(), c, sink);
    ASSERT_EQ(sink.Calls, 0);
    const auto fixture = Fixture(FNow);
    ASSERT_EQ(c.Count(), static_cast<int>(fixture.size()));
    double previous = 10;
    for (int i = 0; i < c.Count(); ++i) {
        const TProxtData *r = c.Items(i);
        const auto it = std::find_if(fixture.begin(), fixture.end(), [&](const TServiceProxy &p) {
            return p.Address == r->IP() && p.Port == r->Port();
        });
        ASSERT_NE(it, fixture.end()) << r->IP().toStdString();
        EXPECT_EQ(r->CountryCode(), it->CountryCode);
        EXPECT_EQ(r->Country(), it->CountryName);
        EXPECT_DOUBLE_EQ(r->Rank(), ComputeScore(*it) / 2);
        EXPECT_LE(r->Rank(), previous) << "best first";
        previous = r->Rank();
    }
    EXPECT_EQ(c.Items(0)->IP(), "10.0.0.1");
    EXPECT_DOUBLE_EQ(c.Items(0)->Rank(), 4.9); // 3 + 1.9 + 2.85 + 1 + 0.5 + 0.5 = 9.75, shown as 9.8, / 2
}

TEST_F(ServiceServerTest, EveryFilter) {
    struct TCase {
        QList<QPair<QString, QString>> Form;
        QStringList Want;
    };
    const TCase cases[] = {
        {{}, {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"}},
        {{{"cc", "de"}}, {"10.0.0.2", "10.0.0.3"}},
        {{{"cc", "US"}}, {"10.0.0.1"}},
        {{{"cc", "any"}}, {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"}},
        {{{"cc", "fr"}}, {}},
        {{{"ssl", "2"}}, {"10.0.0.1", "10.0.0.3"}},
        {{{"ssl", "1"}}, {"10.0.0.2", "10.0.0.5"}},
        {{{"post", "2"}}, {"10.0.0.1", "10.0.0.2"}},
        {{{"post", "1"}}, {"10.0.0.3", "10.0.0.5"}},
        {{{"speed", "50"}}, {"10.0.0.1", "10.0.0.2", "10.0.0.5"}},
        {{{"speed", "150"}}, {"10.0.0.1"}},
        {{{"port", "80"}}, {"10.0.0.1", "10.0.0.4"}},
        {{{"port", "8080"}}, {"10.0.0.2", "10.0.0.5"}},
        {{{"ping", "2"}}, {"10.0.0.1", "10.0.0.5"}},
        {{{"ping", "15"}}, {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.5"}},
        {{{"type", "23"}}, {"10.0.0.1", "10.0.0.2", "10.0.0.5"}},
        {{{"type", "3"}}, {"10.0.0.1", "10.0.0.5"}},
        {{{"type", "1"}}, {"10.0.0.3"}},
        {{{"type", "2"}}, {"10.0.0.2"}},
        {{{"uptime", "90"}}, {"10.0.0.1", "10.0.0.5"}},
        {{{"uptime", "70"}}, {"10.0.0.1", "10.0.0.2", "10.0.0.5"}},
        {{{"uptimeinhours", "100"}}, {"10.0.0.1", "10.0.0.5"}},
        {{{"uptimeinhours", "1000"}}, {"10.0.0.5"}},
        {{{"interval", "5"}}, {"10.0.0.1", "10.0.0.5"}},
        {{{"interval", "15"}}, {"10.0.0.1", "10.0.0.2", "10.0.0.5"}},
        {{{"interval", "1440"}}, {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.5"}},
        // The program's defaults: anonymous or elite, 10 kB/s, ping 15, uptime 70 %, checked in 15 min.
        {{{"type", "23"}, {"speed", "10"}, {"ping", "15"}, {"uptime", "70"}, {"interval", "15"}},
         {"10.0.0.1", "10.0.0.2", "10.0.0.5"}},
        {{{"cc", "de"}, {"type", "1"}}, {"10.0.0.3"}},
        {{{"cc", "de"}, {"type", "3"}}, {}},
    };
    for (const TCase &c : cases) {
        QString what;
        for (const auto &[n, v] : c.Form)
            what += n + "=" + v + " ";
        EXPECT_EQ(Addresses(Form(c.Form)), c.Want) << what.toStdString();
    }
}

TEST_F(ServiceServerTest, ListLimitKeepsTheBest) {
    Stop();
    TServiceOptions options;
    options.ListLimit = 2;
    Start(options);
    EXPECT_EQ(Addresses(Form()), QStringList({"10.0.0.1", "10.0.0.5"}));
}

TEST_F(ServiceServerTest, BadFormsGetTheErrorReply) {
    struct TCase {
        TFields Fields;
        QString MessagePart;
    };
    TFields missing = Form();
    missing.removeLast(); // no "interval"
    TFields missingRu = Form({{"lang", "russian"}});
    missingRu.removeAt(1); // no "cc"
    const TCase cases[] = {
        {missing, "\"interval\""},
        {missingRu, "В запросе нет поля \"cc\"."},
        {Form({{"speed", "fast"}}), "\"speed\" must be a whole number"},
        {Form({{"type", "elite"}}), "\"type\" has a value the service does not know"},
        {Form({{"ssl", "yes"}, {"lang", "german"}}), "Das Feld \"ssl\" hat einen unbekannten Wert"},
        {Form({{"port", "99999"}}), "\"port\""},
        {{}, "could not read"}, // a multipart body without a single part
    };
    for (const TCase &c : cases) {
        TProxyCollection collection;
        TCapture sink;
        Download(c.Fields, collection, sink);
        EXPECT_EQ(collection.Count(), 0);
        ASSERT_EQ(sink.Calls, 1) << c.MessagePart.toStdString();
        EXPECT_TRUE(sink.Msg.contains(c.MessagePart)) << sink.Msg.toStdString();
        EXPECT_TRUE(sink.Url.startsWith(FBase + "/faq.php")) << sink.Url.toStdString();
    }
}

TEST_F(ServiceServerTest, UnreadableBodiesGetTheErrorReply) {
    struct TCase {
        const char *Why;
        QByteArray Body;
        QByteArray Type;
        QString MessagePart;
    };
    const QByteArray broken = "--xyz\r\nContent-Disposition: form-data; name=\"lang\"\r\n\r\nenglish\r\n--xy";
    const TCase cases[] = {
        {"multipart cut short", broken, "multipart/form-data; boundary=xyz", "could not read"},
        {"multipart without boundary", "garbage", "multipart/form-data", "could not read"},
        {"not a form at all", "<xml/>", "text/xml", "could not read"},
        {"over the body limit", QByteArray(70000, 'a'), "application/octet-stream", "too large"},
    };
    for (const TCase &c : cases) {
        const THttpReply reply = HttpPostRaw(ListUrl(), c.Body, c.Type);
        ASSERT_EQ(reply.Status, 200) << c.Why;
        bool ok = false;
        const QByteArray text = Inflate(reply.Body, &ok);
        ASSERT_TRUE(ok) << c.Why;
        TProxyCollection collection;
        TCapture sink;
        collection.SetWarningSink(&sink);
        collection.ParseTextVIP(text, nullptr);
        ASSERT_EQ(sink.Calls, 1) << c.Why;
        EXPECT_TRUE(sink.Msg.contains(c.MessagePart)) << c.Why << ": " << sink.Msg.toStdString();
    }
    // A form sent url-encoded is read like the multipart one.
    QByteArray urlencoded;
    for (const auto &[n, v] : Form({{"cc", "us"}}))
        urlencoded += n.toUtf8() + "=" + v.toUtf8() + "&";
    const THttpReply reply = HttpPostRaw(ListUrl(), urlencoded, "application/x-www-form-urlencoded");
    EXPECT_EQ(Inflate(reply.Body), QByteArray("10.0.0.1|80|US|\"United States\"|9.8\r\n"));
    // A GET of the list URL is told to use the form.
    const THttpReply get = HttpGet(ListUrl());
    EXPECT_EQ(get.Status, 200);
    EXPECT_TRUE(Inflate(get.Body).startsWith("Error|"));
}

TEST_F(ServiceServerTest, ErrorLinkLeadsToTheFaq) {
    TProxyCollection collection;
    TCapture sink;
    TFields f = Form();
    f.removeFirst();
    Download(f, collection, sink);
    ASSERT_EQ(sink.Calls, 1);
    // The link as the program hands it to the browser (a final bar included) opens the FAQ.
    QString url = sink.Url;
    url.replace("|", "%7C");
    const THttpReply page = HttpGet(url);
    EXPECT_EQ(page.Status, 200);
    EXPECT_TRUE(page.Body.contains("Relayvane FAQ"));
}

TEST_F(ServiceServerTest, CountryPortListAsTheProgramReadsIt) {
    const THttpReply reply = HttpGet(FBase + "/engine/index2.php?countryportlist=");
    ASSERT_EQ(reply.Status, 200);
    QStringList countries, ports;
    SplitCountryPortReply(QString::fromUtf8(reply.Body), countries, ports); // the program's own reading
    EXPECT_EQ(countries, QStringList({"any=Any country", "DE=Germany", "KR=Korea, Republic of", "US=United States"}));
    EXPECT_EQ(ports, QStringList({"any=Any port", "80=80", "3128=3128", "8080=8080"}));
}

TEST_F(ServiceServerTest, UpdateReply) {
    const QString url = FBase + "/engine/index2.php?version=&lang=english";
    THttpReply reply = HttpGet(url);
    ASSERT_EQ(reply.Status, 200);
    QStringList fields = QString::fromUtf8(reply.Body).trimmed().split(u'|');
    ASSERT_EQ(fields.size(), 5);
    EXPECT_EQ(fields.mid(0, 3), QStringList({"3", "1", "3"})) << "by default nothing is offered";
    EXPECT_EQ(fields[4], FBase + "/");

    TUpdateInfo info;
    ParseVersion("3.2.0", info);
    info.Message = "Relayvane 3.2.0 is out.";
    info.Link = "http://example.invalid/get";
    ServiceSettings::SaveUpdateInfo(*FStore, info);
    reply = HttpGet(FBase + "/engine/index2.php?version=&lang=german");
    EXPECT_EQ(reply.Body, QByteArray("3|2|0|Relayvane 3.2.0 is out.|http://example.invalid/get"));
}

TEST_F(ServiceServerTest, JudgeOnBothPaths) {
    for (const QString path : {"/type.php", "/engine/type.php"}) {
        THttpReply reply = HttpGet(FBase + path + "?showip=");
        ASSERT_EQ(reply.Status, 200);
        QStringList lines = QString::fromUtf8(reply.Body).split("\r\n");
        ASSERT_GE(lines.size(), 2);
        EXPECT_EQ(lines[0], "127.0.0.1");
        bool ok = false;
        const double clock = lines[1].toDouble(&ok);
        ASSERT_TRUE(ok);
        EXPECT_NEAR(clock, QDateTime::currentMSecsSinceEpoch() / 1000.0, 60);

        const QString token = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
        const QString time = QString::number(clock - 1.5, 'f', 3);
        reply = HttpPostForm(FBase + path + "?userip=127.0.0.1&proxy=127.0.0.1:3128&time=" + time + "&field1=" + token,
                             {{"field2", token}});
        ASSERT_EQ(reply.Status, 200);
        lines = QString::fromUtf8(reply.Body).split("\r\n");
        ASSERT_GE(lines.size(), 5);
        EXPECT_EQ(lines[0], "Qm7RvK2pLc9WnT4z");
        EXPECT_EQ(lines[1], "e") << "straight from curl, nothing shows a proxy";
        EXPECT_EQ(lines[2], "p") << "it came from 127.0.0.1 itself";
        EXPECT_GE(lines[3].toDouble(), 1.5);
        EXPECT_EQ(lines[4], "y");
    }
    const THttpReply bad = HttpPostForm(FBase + "/type.php?userip=1.2.3.4&time=later&field1=x", {{"field2", "x"}});
    EXPECT_EQ(bad.Status, 400);
    EXPECT_FALSE(bad.Body.contains("Qm7RvK2pLc9WnT4z"));
}

TEST_F(ServiceServerTest, PagesAndUnknownPaths) {
    THttpReply home = HttpGet(FBase + "/");
    EXPECT_EQ(home.Status, 200);
    EXPECT_TRUE(home.ContentType.startsWith("text/html"));
    EXPECT_TRUE(home.Body.contains("<h1>Relayvane</h1>"));
    THttpReply faq = HttpGet(FBase + "/faq.php");
    EXPECT_EQ(faq.Status, 200);
    for (const char *topic : {"two copies", "Program cannot be prepare for", "user:pass@ip:port",
                              "Cannot download proxy list", "Cannot loading data from server"})
        EXPECT_TRUE(faq.Body.contains(topic)) << topic;
    EXPECT_EQ(HttpGet(FBase + "/nothing-here").Status, 404);
    EXPECT_EQ(HttpGet(FBase + "/engine/index2.php?something=").Status, 404);
}

TEST_F(ServiceServerTest, AccessLogLinePerRequest) {
    HttpGet(FBase + "/faq.php", {"User-Agent: test \"agent\""});
    HttpPostForm(ListUrl(), Form());
    Stop(); // the log line is written after the reply: stopping waits for it
    const QStringList log = Log();
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(log[0].contains(" method=GET target=\"/faq.php\" status=200 ")) << log[0].toStdString();
    EXPECT_TRUE(log[0].contains("agent=\"test \\\"agent\\\"\"")) << log[0].toStdString();
    EXPECT_TRUE(log[0].startsWith("time=")) << log[0].toStdString();
    EXPECT_TRUE(log[0].contains("remote=127.0.0.1:"));
    EXPECT_TRUE(log[1].contains(" method=POST target=\"/engine/index2.php?proxylist=\" status=200 "));
}

TEST(ServiceBinary, ServesAndStopsCleanlyOnSignals) {
    QTemporaryDir dir;
    const QString binary = QStringLiteral(RELAYVANE_BUILD_DIR "/service/relayvane-service");
    for (const int signal : {SIGTERM, SIGINT}) {
        const int port = testsupport::FreeTcpPort();
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(binary, {"--db", dir.filePath("s.db"), "serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
        ASSERT_TRUE(p.waitForStarted());
        ASSERT_TRUE(testsupport::WaitForPort(port));
        EXPECT_EQ(HttpGet(QStringLiteral("http://127.0.0.1:%1/").arg(port)).Status, 200);
        ::kill(static_cast<pid_t>(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        const QByteArray err = p.readAllStandardError();
        EXPECT_TRUE(err.contains("method=GET target=\"/\" status=200")) << err.constData();
        EXPECT_TRUE(err.contains("stopped")) << err.constData();
    }
}

TEST(ServiceBinary, CommandErrorsAreOneLineAndStatusOne) {
    QTemporaryDir dir;
    const QString binary = QStringLiteral(RELAYVANE_BUILD_DIR "/service/relayvane-service");
    const QString db = dir.filePath("s.db");
    QByteArray out, err;
    EXPECT_EQ(testsupport::RunProgram(binary, {"--db", db, "frobnicate"}, &out, &err), 1);
    EXPECT_EQ(err.count('\n'), 1) << err.constData();
    EXPECT_EQ(testsupport::RunProgram(binary, {"--db", db, "set-update", "3.2", "m", "l"}, &out, &err), 1);
    EXPECT_EQ(testsupport::RunProgram(binary, {"--db", db, "set-update", "3.2.0", "a|b", "l"}, &out, &err), 1);
    EXPECT_EQ(testsupport::RunProgram(binary, {"--db", db, "import", "--json", "-"}, &out, &err, "[{\"port\": 1}]"), 1);
    EXPECT_TRUE(err.startsWith("relayvane-service: JSON record 1")) << err.constData();
    for (const char *command : {"serve", "import", "list", "set-update"}) {
        EXPECT_EQ(testsupport::RunProgram(binary, {command, "--help"}, &out, &err), 0) << command;
        EXPECT_TRUE(out.startsWith("usage: relayvane-service")) << command;
    }
    // import then list --json round trip through the real binary
    EXPECT_EQ(testsupport::RunProgram(binary, {"--db", db, "import", "-"}, &out, &err, "8.8.8.8:8080\n1.1.1.1:3128\n"),
              0)
        << err.constData();
    EXPECT_EQ(testsupport::RunProgram(binary, {"--db", db, "list", "--json"}, &out, &err), 0);
    EXPECT_TRUE(out.contains("\"address\": \"8.8.8.8\"")) << out.constData();
    EXPECT_TRUE(out.contains("\"port\": 3128")) << out.constData();
}

} // namespace

namespace {

TEST_F(ServiceServerTest, ASecondServiceCannotTakeTheSamePort) {
    TServiceOptions options;
    options.Host = "127.0.0.1";
    options.Port = FPort;
    TServiceServer second(*FStore, options);
    EXPECT_THROW(second.Bind(), Exception);
    EXPECT_EQ(HttpGet(FBase + "/").Status, 200) << "the first one keeps serving";
}

} // namespace
