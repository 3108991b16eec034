#include "checker/IEHTTP.h"
#include "tests/checker/CheckerTestPeers.h"

#include "tests/checker/QtPrinters.h"
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <zlib.h>

using namespace checkerpeers;

namespace {

QByteArray Gzip(const QByteArray &Plain) {
    z_stream zs{};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&zs, uLong(Plain.size())) + 32), '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Plain.constData()));
    zs.avail_in = uInt(Plain.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return out;
}

// A server that answers every request with fixed bytes and keeps the last request head.
struct TCannedServer {
    explicit TCannedServer(QByteArray Reply)
        : reply(std::move(Reply)), server([this](int fd) {
              QByteArray h, rest;
              if (!ReadHead(fd, h, rest))
                  return;
              {
                  std::lock_guard<std::mutex> g(lock);
                  head = h;
              }
              WriteAll(fd, reply);
          }) {}
    QByteArray Head() {
        std::lock_guard<std::mutex> g(lock);
        return head;
    }
    QString Url(const QString &Path = QStringLiteral("/")) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.Port()).arg(Path);
    }
    QByteArray reply;
    std::mutex lock;
    QByteArray head;
    TRawServer server;
};

QByteArray Response(const QByteArray &Body, const QByteArray &Extra = QByteArray(),
                    const QByteArray &Status = "200 OK") {
    return "HTTP/1.0 " + Status + "\r\n" + Extra + "Content-Length: " + QByteArray::number(Body.size()) +
           "\r\nConnection: close\r\n\r\n" + Body;
}

} // namespace

TEST(IEHTTP, ReadableNamesOfErrorCodes) {
    const std::pair<int, const char *> cases[] = {
        {12001, "(Out of handles)"},
        {12002, "(Timeout)"},
        {12017, "(Operation Canceled)"},
        {12029, "(Cannot connect)"},
        {12031, "(Connection Reset)"},
        {12045, "(Invalid CA Cert)"},
        {12156, "(Redirect Failed)"},
        {12159, "(TCP/IP not installed)"},
        {12157, "(Unknown WININET error # 12157)"},
        {42, "(Unknown WININET error # 42)"},
    };
    for (const auto &[code, name] : cases)
        EXPECT_EQ(WinInetErrorName(code), QString::fromLatin1(name)) << code;
}

TEST(IEHTTP, OnlyAGzipHeadWithoutFlagsAndTimeStampIsInflated) {
    const QByteArray plain = QByteArray("keyword inside a compressed page ").repeated(200);
    const QByteArray gz = Gzip(plain);
    ASSERT_EQ(gz.left(8), QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8));
    EXPECT_EQ(IEHTTPDecodeBody(gz), plain);

    QByteArray stamped = gz;
    stamped[4] = '\x01'; // a time stamp: still valid gzip, but not the recognised head
    EXPECT_EQ(IEHTTPDecodeBody(stamped), stamped);

    QByteArray damaged = gz.left(gz.size() / 2);
    damaged.append(QByteArray(20, '\xff'));
    const QByteArray partial = IEHTTPDecodeBody(damaged);
    EXPECT_LT(partial.size(), plain.size());
    EXPECT_TRUE(plain.startsWith(partial));

    EXPECT_EQ(IEHTTPDecodeBody("plain"), QByteArray("plain"));
}

TEST(IEHTTP, CharsetRuleDecidesTheDecoding) {
    const QByteArray utf8 = QString::fromUtf8("Zahlung \xc3\xbc").toUtf8();
    EXPECT_EQ(IEHTTPBodyText(utf8, "Content-Type: text/html; charset=utf-8\r\n"),
              QString::fromUtf8("Zahlung \xc3\xbc"));
    // Upper case is not recognised: the bytes go through the single-byte page.
    EXPECT_EQ(IEHTTPBodyText(utf8, "Content-Type: text/html; charset=UTF-8\r\n"), QString::fromLatin1(utf8));
    QByteArray utf16;
    for (QChar c : QStringLiteral("ab\u00fc")) {
        utf16.append(char(c.unicode() & 0xff));
        utf16.append(char(c.unicode() >> 8));
    }
    EXPECT_EQ(IEHTTPBodyText(utf16, "Content-Type: text/plain; charset=utf-16\r\n"), QStringLiteral("ab\u00fc"));
}

TEST(IEHTTP, LinesSplitAtCrLfAndCrLf) {
    EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd"), QStringList({"a", "b", "c", "d"}));
    EXPECT_EQ(SplitTextLines("a\n\nb\n"), QStringList({"a", "", "b"}));
    EXPECT_TRUE(SplitTextLines("").isEmpty());
}

TEST(IEHTTP, UrlErrorsHaveTheirTexts) {
    const std::pair<const char *, const char *> cases[] = {
        {"", "TIEHTTP: no url in execute method"},
        {"http://127.0.0.1:1", "tiehttp error: tiehttp: Empty URL"},
        {"http://127.0.0.1:1?x=1", "tiehttp error: tiehttp: Empty URL"},
        {"http://exa mple.com/", "tiehttp error: tiehttp: Invalid URL. Error - 12005 = The URL is invalid."},
        {"gopher://127.0.0.1:1/",
         "tiehttp error: tiehttp: Invalid URL. Error - 12006 = The URL scheme could not be recognized or is not "
         "supported."},
    };
    for (const auto &[url, text] : cases) {
        TIEHTTP ie;
        try {
            ie.ExecuteURL(QString::fromLatin1(url));
            ADD_FAILURE() << "no error for " << url;
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(text)) << url;
        }
    }
}

TEST(IEHTTP, RefusedConnectionIsAWinInetError) {
    TRawServer closed([](int) {});
    const int port = closed.Port();
    closed.Stop();
    TIEHTTP ie;
    try {
        ie.ExecuteURL(QStringLiteral("http://127.0.0.1:%1/").arg(port));
        ADD_FAILURE() << "no error";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "wininet error # 12029 : (Cannot connect)");
    }
}

TEST(IEHTTP, SendsItsAgentAndEncodingsAndReturnsEvenAnErrorPage) {
    TCannedServer srv(
        Response("<h1>Not found</h1>\r\nthe keyword is here\n", "Content-Type: text/html\r\n", "404 Not Found"));
    TIEHTTP ie;
    // No scheme: "http://" is put in front.
    ie.ExecuteURL(QStringLiteral("127.0.0.1:%1/missing").arg(srv.server.Port()));
    EXPECT_EQ(ie.FUrl, srv.Url("/missing"));
    EXPECT_EQ(ie.sl(), QStringList({"<h1>Not found</h1>", "the keyword is here"}));
    const QByteArray head = srv.Head();
    EXPECT_TRUE(head.startsWith("GET /missing HTTP/1.0\r\n")) << head.constData();
    EXPECT_TRUE(head.contains("\r\nUser-Agent: tiehttp\r\n")) << head.constData();
    EXPECT_TRUE(head.contains("\r\nAccept-Encoding: gzip, deflate\r\n")) << head.constData();
    EXPECT_TRUE(ie.response_headers.first().startsWith("HTTP/1.0 404"));
}

TEST(IEHTTP, GzipBodiesFollowTheHeadRule) {
    const QByteArray plain = "line one\r\nthe keyword\r\n";
    QByteArray stamped = Gzip(plain);
    stamped[5] = '\x22';
    TCannedServer good(Response(Gzip(plain), "Content-Encoding: gzip\r\n"));
    TCannedServer odd(Response(stamped, "Content-Encoding: gzip\r\n"));
    TIEHTTP ie;
    ie.ExecuteURL(good.Url());
    EXPECT_EQ(ie.sl(), QStringList({"line one", "the keyword"}));
    ie.ExecuteURL(odd.Url());
    EXPECT_FALSE(ie.sl().join('\n').contains("keyword"));
}

TEST(IEHTTP, SilenceEndsWithEmptyTextAfterTheTimeOut) {
    std::atomic<bool> release{false};
    TRawServer silent([&release](int fd) {
        QByteArray h, r;
        ReadHead(fd, h, r);
        WriteAll(fd, "HTTP/1.0 200 OK\r\n\r\npartial body that is thrown away");
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    auto ie = std::make_unique<TIEHTTP>();
    ie->fTimeout = 1;
    ie->fWatchIntervalMs = 50;
    ie->ExecuteURL(QStringLiteral("http://127.0.0.1:%1/").arg(silent.Port()));
    EXPECT_EQ(ie->error_code, 100);
    EXPECT_TRUE(ie->sl().isEmpty());
    EXPECT_TRUE(ie->result_ms.isEmpty());
    // The client goes away while its transfer may still be winding down; nothing may touch it.
    ie.reset();
    release = true;
    silent.Stop();
}

TEST(IEHTTP, EveryBlockMovesTheDeadline) {
    TRawServer drip([](int fd) {
        QByteArray h, r;
        ReadHead(fd, h, r);
        WriteAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
        // Five blocks 0.4 s apart: the whole answer takes twice the 1 s time-out.
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            WriteAll(fd, "block " + QByteArray::number(i) + "\n");
        }
    });
    TIEHTTP ie;
    ie.fTimeout = 1;
    ie.fWatchIntervalMs = 50;
    ie.ExecuteURL(QStringLiteral("http://127.0.0.1:%1/").arg(drip.Port()));
    EXPECT_EQ(ie.error_code, 0);
    EXPECT_EQ(ie.sl(), QStringList({"block 0", "block 1", "block 2", "block 3", "block 4"}));
}

TEST(IEHTTP, StopRequestFromAnotherThreadEndsTheWait) {
    std::atomic<bool> release{false};
    TRawServer silent([&release](int fd) {
        QByteArray h, r;
        ReadHead(fd, h, r);
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    TIEHTTP ie;
    ie.fWatchIntervalMs = 20;
    ie.abort_signal = std::make_shared<std::atomic<bool>>(false);
    std::thread stopper([&ie] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ie.abort_signal->store(true);
    });
    ie.ExecuteURL(QStringLiteral("http://127.0.0.1:%1/").arg(silent.Port()));
    stopper.join();
    EXPECT_EQ(ie.error_code, 101);
    EXPECT_TRUE(ie.sl().isEmpty());
    release = true;
}

TEST(IEHTTP, HttpsThroughAProxyTunnelIgnoresCertificateErrors) {
    TTestOrigin tls(true);
    tls.Page("/pay", "<html>secure keyword page</html>", "text/html; charset=utf-8");
    TFakeProxy tunnel(TProxyMode::Forward);
    TIEHTTP ie;
    ie.proxy = QStringLiteral("127.0.0.1:%1").arg(tunnel.Port());
    ie.ExecuteURL(tls.Url("/pay"));
    EXPECT_EQ(ie.sl(), QStringList({"<html>secure keyword page</html>"}));
    EXPECT_EQ(tunnel.Requests(), 1);

    TFakeProxy refusing(TProxyMode::RefuseConnect);
    TIEHTTP ie2;
    ie2.proxy = QStringLiteral("127.0.0.1:%1").arg(refusing.Port());
    EXPECT_THROW(ie2.ExecuteURL(tls.Url("/pay")), Exception);
    EXPECT_TRUE(ie2.sl().isEmpty());
}
