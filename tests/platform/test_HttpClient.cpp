// The libcurl client against a cpp-httplib server on loopback: bodies, headers, forms, redirects,
// content encodings, proxies, error statuses, connection errors, time-outs and aborts.

#include "platform/HttpClient.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using testsupport::LoopbackHttpServer;

namespace {

std::string Compress(const std::string &Text, int WindowBits) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, WindowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(compressBound(uLong(Text.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Text.data()));
    z.avail_in = uInt(Text.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A handler that blocks until the test releases it, so slow-server cases end quickly.
struct TGate {
    std::mutex M;
    std::condition_variable C;
    bool Open = false;
    std::atomic<bool> Entered{false};
    void Wait() {
        Entered = true;
        std::unique_lock<std::mutex> lock(M);
        C.wait_for(lock, std::chrono::seconds(20), [this] { return Open; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(M);
        Open = true;
        C.notify_all();
    }
};

class HttpClientTest : public ::testing::Test {
protected:
    LoopbackHttpServer Peer;
    TGate Gate;
    std::mutex Lock;
    httplib::Headers LastHeaders;
    std::vector<std::pair<std::string, std::string>> LastFields;
    std::string LastTarget;

    void SetUp() override {
        auto &s = Peer.Server;
        s.Get("/hello", [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard<std::mutex> l(Lock);
            LastHeaders = req.headers;
            res.set_header("X-Peer", "loopback");
            res.set_content("hello body", "application/octet-stream");
        });
        s.Post("/form",
               [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
                   std::vector<std::pair<std::string, std::string>> fields;
                   reader(
                       [&](const httplib::MultipartFormData &part) {
                           fields.push_back({part.name, ""});
                           return true;
                       },
                       [&](const char *data, size_t n) {
                           fields.back().second.append(data, n);
                           return true;
                       });
                   std::lock_guard<std::mutex> l(Lock);
                   LastHeaders = req.headers;
                   LastFields = fields;
                   res.set_content("posted", "application/octet-stream");
               });
        s.Get("/moved", [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/hello"); });
        s.Get("/loop", [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/loop"); });
        s.Get("/encoded", [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard<std::mutex> l(Lock);
            LastHeaders = req.headers;
            const std::string kind = req.get_param_value("kind");
            const std::string text = "the plain text of the page";
            if (kind == "gzip") {
                res.set_header("Content-Encoding", "gzip");
                res.set_content(Compress(text, 15 + 16), "application/octet-stream");
            } else if (kind == "deflate") {
                res.set_header("Content-Encoding", "deflate");
                res.set_content(Compress(text, 15), "application/octet-stream");
            } else {
                res.set_content(text, "application/octet-stream");
            }
        });
        s.Get("/missing", [](const httplib::Request &, httplib::Response &res) {
            res.status = 404;
            res.set_content("no such page", "text/plain");
        });
        s.Get("/broken", [](const httplib::Request &, httplib::Response &res) {
            res.status = 500;
            res.set_content("server fault", "text/plain");
        });
        s.Get("/slow", [this](const httplib::Request &, httplib::Response &res) {
            Gate.Wait();
            res.set_content("late", "text/plain");
        });
        // As a proxy the peer sees the absolute address on the request line.
        s.Get(R"(http://.*)", [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard<std::mutex> l(Lock);
            LastHeaders = req.headers;
            LastTarget = req.target;
            res.set_content("via proxy", "text/plain");
        });
        Peer.Start();
    }
    void TearDown() override {
        Gate.Release();
        Peer.Stop();
    }
    std::string Header(const char *Name) {
        std::lock_guard<std::mutex> l(Lock);
        auto it = LastHeaders.find(Name);
        return it == LastHeaders.end() ? std::string("<none>") : it->second;
    }
};

THttpErrorKind KindOfGet(THttpClient &Client, const QString &Url, QString *Message = nullptr) {
    try {
        Client.Get(Url);
    } catch (const EHttpClientError &e) {
        if (Message)
            *Message = e.Message();
        return e.Kind();
    }
    ADD_FAILURE() << "no error for " << Url.toStdString();
    return THttpErrorKind::hekOther;
}

} // namespace

TEST_F(HttpClientTest, GetReturnsBodyStatusAndHeadersAndSendsItsOwnHeaders) {
    THttpClient http;
    EXPECT_EQ(http.Get(Peer.Url("/hello")), QByteArray("hello body"));
    EXPECT_EQ(http.ResponseCode(), 200);
    EXPECT_EQ(http.ResponseText(), QStringLiteral("HTTP/1.1 200 OK"));
    EXPECT_EQ(http.ResponseHeader("x-peer"), QByteArray("loopback"));
    EXPECT_EQ(http.ResponseHeader("Content-Length"), QByteArray("10"));
    EXPECT_EQ(Header("User-Agent"), THttpClient::DefaultUserAgent().toStdString());
    EXPECT_EQ(Header("Accept-Encoding"), "<none>");
    EXPECT_EQ(Header("Connection"), "<none>");

    http.SetUserAgent(QStringLiteral("Test Agent/1.0"));
    http.SetConnectionClose(true);
    http.CustomHeaders() << "Accept-Language: de";
    http.Get(Peer.Url("/hello"));
    EXPECT_EQ(Header("User-Agent"), "Test Agent/1.0");
    EXPECT_EQ(Header("Connection"), "close");
    EXPECT_EQ(Header("Accept-Language"), "de");
}

TEST_F(HttpClientTest, MultipartPostSendsThePartsInTheGivenOrder) {
    TMultiPartFormData form;
    form.AddFormField(QStringLiteral("lang"), QStringLiteral("english"));
    form.AddFormField(QStringLiteral("cc"), QString());
    form.AddFormField(QStringLiteral("b"), QStringLiteral("Größe & more"));
    form.AddFormField(QStringLiteral("a"), QStringLiteral("23"));
    THttpClient http;
    EXPECT_EQ(http.Post(Peer.Url("/form"), form), QByteArray("posted"));
    std::lock_guard<std::mutex> l(Lock);
    const std::vector<std::pair<std::string, std::string>> expected{
        {"lang", "english"}, {"cc", ""}, {"b", "Größe & more"}, {"a", "23"}};
    EXPECT_EQ(LastFields, expected);
    EXPECT_EQ(LastHeaders.find("Content-Type")->second.rfind("multipart/form-data; boundary=", 0), 0u);
}

TEST_F(HttpClientTest, RedirectsAreFollowedOnlyWhenAskedFor) {
    THttpClient http;
    http.Get(Peer.Url("/moved"));
    EXPECT_EQ(http.ResponseCode(), 302);
    EXPECT_EQ(http.ResponseHeader("Location"), QByteArray("/hello"));

    http.SetHandleRedirects(true);
    EXPECT_EQ(http.Get(Peer.Url("/moved")), QByteArray("hello body"));
    EXPECT_EQ(http.ResponseCode(), 200);
    EXPECT_EQ(http.EffectiveUrl(), Peer.Url("/hello"));
    EXPECT_EQ(http.ResponseHeader("X-Peer"), QByteArray("loopback")) << "headers are those of the final answer";

    http.SetRedirectMaximum(3);
    EXPECT_EQ(KindOfGet(http, Peer.Url("/loop")), THttpErrorKind::hekOther);
}

TEST_F(HttpClientTest, CompressorOffersAndUndoesGzipAndDeflate) {
    THttpClient http;
    http.SetCompressor(true);
    for (const char *kind : {"gzip", "deflate", "identity"}) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(http.Get(Peer.Url(QStringLiteral("/encoded?kind=%1").arg(QLatin1String(kind)))),
                  QByteArray("the plain text of the page"));
        EXPECT_NE(Header("Accept-Encoding").find("gzip"), std::string::npos);
        EXPECT_NE(Header("Accept-Encoding").find("deflate"), std::string::npos);
    }
    THttpClient plain;
    EXPECT_EQ(plain.Get(Peer.Url("/encoded?kind=gzip")),
              QByteArray::fromStdString(Compress("the plain text of the page", 31)))
        << "without the compressor the body stays as sent";
}

TEST_F(HttpClientTest, ErrorStatusesRaiseWithCodeAndClearMessage) {
    struct TCase {
        const char *Path;
        int Code;
        const char *Reason;
        const char *Body;
    };
    for (const TCase &c : {TCase{"/missing", 404, "Not Found", "no such page"},
                           TCase{"/broken", 500, "Internal Server Error", "server fault"}}) {
        SCOPED_TRACE(c.Path);
        THttpClient http;
        try {
            http.Get(Peer.Url(QLatin1String(c.Path)));
            ADD_FAILURE() << "no exception";
        } catch (const EHttpProtocolError &e) {
            EXPECT_EQ(e.Kind(), THttpErrorKind::hekProtocol);
            EXPECT_EQ(e.ErrorCode(), c.Code);
            EXPECT_EQ(e.ReasonPhrase(), QLatin1String(c.Reason));
            EXPECT_EQ(e.Body(), QByteArray(c.Body));
            EXPECT_EQ(e.Message(), QStringLiteral("HTTP error %1 %2 (%3)")
                                       .arg(c.Code)
                                       .arg(QLatin1String(c.Reason), Peer.Url(QLatin1String(c.Path))));
            EXPECT_EQ(http.ResponseCode(), c.Code);
        }
        http.SetNoProtocolErrorException(true);
        EXPECT_EQ(http.Get(Peer.Url(QLatin1String(c.Path))), QByteArray(c.Body));
    }
}

TEST_F(HttpClientTest, ConnectionErrorsAreToldApart) {
    THttpClient http;
    const int closed = testsupport::FreeTcpPort();
    QString msg;
    EXPECT_EQ(KindOfGet(http, QStringLiteral("http://127.0.0.1:%1/").arg(closed), &msg),
              THttpErrorKind::hekConnectFailed);
    EXPECT_TRUE(msg.startsWith(QStringLiteral("Cannot connect: "))) << msg.toStdString();
    EXPECT_EQ(KindOfGet(http, QStringLiteral("http://")), THttpErrorKind::hekOther);
    EXPECT_EQ(KindOfGet(http, QStringLiteral("gopher-nonsense://127.0.0.1/")), THttpErrorKind::hekOther);

    // A proxy that refuses is a failed connection too.
    http.SetProxyServer(QStringLiteral("127.0.0.1"));
    http.SetProxyPort(closed);
    EXPECT_EQ(KindOfGet(http, Peer.Url("/hello")), THttpErrorKind::hekConnectFailed);
}

TEST_F(HttpClientTest, ReadTimeOutEndsASilentServer) {
    THttpClient http;
    http.SetReadTimeout(300);
    QString msg;
    EXPECT_EQ(KindOfGet(http, Peer.Url("/slow"), &msg), THttpErrorKind::hekTimeout);
    EXPECT_TRUE(msg.startsWith(QStringLiteral("Read timed out after 300 ms"))) << msg.toStdString();
    Gate.Release();
    // The same client works again afterwards.
    EXPECT_EQ(http.Get(Peer.Url("/hello")), QByteArray("hello body"));
}

TEST_F(HttpClientTest, AbortFromAnotherThreadEndsTheRequest) {
    THttpClient http;
    std::thread stopper([&] {
        for (int i = 0; i < 2000 && !Gate.Entered; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        http.Abort();
    });
    EXPECT_EQ(KindOfGet(http, Peer.Url("/slow")), THttpErrorKind::hekAborted);
    stopper.join();
    EXPECT_EQ(KindOfGet(http, Peer.Url("/hello")), THttpErrorKind::hekAborted) << "the flag stays until reset";
    http.ResetAbort();
    EXPECT_EQ(http.Get(Peer.Url("/hello")), QByteArray("hello body"));

    // The work event can stop a transfer as well.
    http.SetOnWork([](qint64, qint64) { return false; });
    EXPECT_EQ(KindOfGet(http, Peer.Url("/hello")), THttpErrorKind::hekAborted);
}

TEST_F(HttpClientTest, ProxyGetsTheAbsoluteAddress) {
    THttpClient http;
    http.SetProxyServer(QStringLiteral("127.0.0.1"));
    http.SetProxyPort(Peer.Port());
    http.SetProxyCredentials(QStringLiteral("user"), QStringLiteral("pass"));
    // The name never resolves: only the proxy on loopback is contacted.
    EXPECT_EQ(http.Get(QStringLiteral("http://relayvane.invalid/page?x=1")), QByteArray("via proxy"));
    std::lock_guard<std::mutex> l(Lock);
    EXPECT_EQ(LastTarget, "http://relayvane.invalid/page?x=1");
    EXPECT_EQ(LastHeaders.find("Proxy-Authorization")->second, "Basic dXNlcjpwYXNz");
}

TEST_F(HttpClientTest, EachThreadWithItsOwnClient) {
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            THttpClient http;
            for (int i = 0; i < 5; ++i)
                if (http.Get(Peer.Url("/hello")) == "hello body")
                    ++ok;
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(ok.load(), 30);
}
