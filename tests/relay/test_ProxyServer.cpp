// The relay's request-level operations and its route table, on bytes: no sockets are opened.

#include "relay/ProxyServer.h"

#include <gtest/gtest.h>
#include <mutex>

namespace {

QByteArray B(const char *Text) { return QByteArray(Text); }

TEST(ProxyServerSettings, HostPortSplitsAtTheFirstColon) {
    struct Case {
        const char *written;
        const char *readBack;
    };
    const Case cases[] = {
        {"gw1:8080", "gw1:8080"},
        {"10.0.0.1:3128", "10.0.0.1:3128"},
        {"", ":0"},
        {"no-colon-here", ":0"},
        {":8080", ":8080"},
        {"host: 81", "host:81"},
    };
    for (const auto &c : cases) {
        TProxyServer server;
        server.SetGatewayProxy(QString::fromLatin1(c.written));
        EXPECT_EQ(server.GetGatewayProxy(), QString::fromLatin1(c.readBack)) << c.written;
        server.SetLocalProxy(QString::fromLatin1(c.written));
        EXPECT_EQ(server.GetLocalProxy(), QString::fromLatin1(c.readBack)) << c.written;
    }
}

TEST(ProxyServerSettings, APortThatIsNoIntegerRaisesAfterTheHostIsStored) {
    TProxyServer server;
    server.SetGatewayProxy(QStringLiteral("gw1:8080"));
    for (const char *bad : {"gw2:http", "gw2:", "gw2:80:81"}) {
        EXPECT_THROW(server.SetGatewayProxy(QString::fromLatin1(bad)), EConvertError) << bad;
        EXPECT_EQ(server.GetGatewayProxy(), QStringLiteral("gw2:8080")) << bad;
    }
    server.SetLocalProxy(QStringLiteral("lp:3129"));
    EXPECT_THROW(server.SetLocalProxy(QStringLiteral("other:x")), EConvertError);
    EXPECT_EQ(server.GetLocalProxy(), QStringLiteral("other:3129"));
}

TEST(ProxyServerSettings, CredentialsAreStoredAsTheyAreSent) {
    TProxyServer server;
    server.SetGatewayProxyUserPass(QStringLiteral("user:pass"));
    EXPECT_EQ(server.GetGatewayProxyUserPass(), QStringLiteral("dXNlcjpwYXNz"));
    server.SetLocalProxyUserPass(QStringLiteral("Aladdin:open sesame"));
    EXPECT_EQ(server.GetLocalProxyUserPass(), QStringLiteral("QWxhZGRpbjpvcGVuIHNlc2FtZQ=="));
    server.SetGatewayProxyUserPass(QString());
    EXPECT_EQ(server.GetGatewayProxyUserPass(), QString());
}

TEST(ProxyServerSettings, GatewayHostsCanBeEditedInPlace) {
    TProxyServer server;
    server.GatewayHosts().append(QStringLiteral("."));
    EXPECT_EQ(server.GetGatewayHosts(), QStringList{QStringLiteral(".")});
    server.SetGatewayHosts({QStringLiteral("corp"), QStringLiteral("lan")});
    EXPECT_EQ(server.GatewayHosts().size(), 2);
}

struct ParseCase {
    const char *block;
    bool ok;
    const char *method;
    const char *host;
    int port;
};

TEST(ParseRequest, FindsMethodHostAndPort) {
    const ParseCase cases[] = {
        {"GET http://server1:8080/a HTTP/1.1\r\nHost: Server1:8080\r\n\r\n", true, "get", "server1", 8080},
        {"GET http://www.example.com/ HTTP/1.1\r\nHost: WWW.Example.COM\r\nAccept: */*\r\n\r\n", true, "get",
         "www.example.com", 80},
        {"CONNECT server1 HTTP/1.1\r\n\r\n", true, "connect", "server1", 443},
        {"CONNECT Server1:8443 HTTP/1.1\r\nHost: other:1\r\n\r\n", true, "connect", "server1", 8443},
        {"POST / HTTP/1.1\r\nHost: \t example.com \r\nContent-Length: 4\r\n\r\nbody", true, "post", "example.com", 80},
        // Only the Host line names the host, not "host:" inside the address or another header.
        {"GET http://localhost:8080/x HTTP/1.1\r\nHost: localhost:8080\r\n\r\n", true, "get", "localhost", 8080},
        {"GET / HTTP/1.1\r\nX-Forwarded-Host: wrong.example\r\nHost: right.example\r\n\r\n", true, "get",
         "right.example", 80},
        // Incomplete heads, a CONNECT without target, no Host line, a Host line only in the body.
        {"GET http://a.b/ HTTP/1.1\r\nHost: a.b\r\n", false, "", "", 0},
        {"", false, "", "", 0},
        {"CONNECT server1\r\n\r\n", false, "connect", "", 0},
        {"GET http://a.b/ HTTP/1.0\r\n\r\n", false, "get", "", 0},
        {"POST / HTTP/1.1\r\nContent-Length: 15\r\n\r\nHost: body.test", false, "post", "", 0},
        {"NOSPACE\r\nHost:h\r\n\r\n", true, "", "h", 80},
    };
    for (const auto &c : cases) {
        QByteArray method, host;
        int port = 0;
        EXPECT_EQ(TProxyServer::ParseRequest(B(c.block), method, host, port), c.ok) << c.block;
        EXPECT_EQ(method, B(c.method)) << c.block;
        EXPECT_EQ(host, B(c.host)) << c.block;
        if (c.ok) {
            EXPECT_EQ(port, c.port) << c.block;
        }
    }
}

TEST(ParseRequest, LowerCasesAsciiOnly) {
    QByteArray method, host;
    int port = 0;
    ASSERT_TRUE(TProxyServer::ParseRequest(B("GET / HTTP/1.1\r\nHost: \xC4X.Example\r\n\r\n"), method, host, port));
    EXPECT_EQ(host, B("\xC4x.example"));
}

TEST(ParseRequest, APortThatIsNoIntegerRaises) {
    QByteArray method, host;
    int port = 0;
    EXPECT_THROW(TProxyServer::ParseRequest(B("GET / HTTP/1.1\r\nHost: a.b:http\r\n\r\n"), method, host, port),
                 EConvertError);
    EXPECT_THROW(TProxyServer::ParseRequest(B("CONNECT a.b: HTTP/1.1\r\n\r\n"), method, host, port), EConvertError);
}

TEST(IsGatewayHost, MatchesAnyNonEmptyFragmentCaseSensitively) {
    TProxyServer server;
    EXPECT_FALSE(server.IsGatewayHost(B("www.example.com")));
    server.SetGatewayHosts({QStringLiteral(".")});
    EXPECT_TRUE(server.IsGatewayHost(B("www.example.com")));
    EXPECT_TRUE(server.IsGatewayHost(B("10.1.2.3")));
    EXPECT_FALSE(server.IsGatewayHost(B("server1")));
    EXPECT_FALSE(server.IsGatewayHost(B("localhost")));
    server.SetGatewayHosts({QString(), QStringLiteral("Corp"), QStringLiteral("lan")});
    EXPECT_FALSE(server.IsGatewayHost(B("intranet")));
    EXPECT_FALSE(server.IsGatewayHost(B("mail.corp")));
    EXPECT_TRUE(server.IsGatewayHost(B("printer.lan")));
}

TEST(AddProxyAuthorization, InsertsTheLastHeaderLine) {
    struct Case {
        const char *block;
        const char *expected;
    };
    const Case cases[] = {
        {"GET http://a.b/ HTTP/1.1\r\nHost: a.b\r\n\r\n",
         "GET http://a.b/ HTTP/1.1\r\nHost: a.b\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n"},
        // The body that came in the same block stays after the blank line, byte for byte.
        {"POST http://a.b/f HTTP/1.1\r\nHost: a.b\r\nContent-Length: 12\r\n\r\nx=1\r\n\r\ny=2\r\n",
         "POST http://a.b/f HTTP/1.1\r\nHost: a.b\r\nContent-Length: 12\r\nProxy-Authorization: Basic dXNlcjpwYXNz"
         "\r\n\r\nx=1\r\n\r\ny=2\r\n"},
        // The browser's own line stays in place.
        {"GET http://a.b/ HTTP/1.1\r\nProxy-Authorization: Basic b3duOmxpbmU=\r\n\r\n",
         "GET http://a.b/ HTTP/1.1\r\nProxy-Authorization: Basic b3duOmxpbmU=\r\nProxy-Authorization: Basic "
         "dXNlcjpwYXNz\r\n\r\n"},
        {"CONNECT a.b:443 HTTP/1.1\r\n\r\n", "CONNECT a.b:443 HTTP/1.1\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n"},
        // Without a complete head there is nowhere to put it.
        {"GET http://a.b/ HTTP/1.1\r\nHost: a.b\r\n", "GET http://a.b/ HTTP/1.1\r\nHost: a.b\r\n"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TProxyServer::AddProxyAuthorization(B(c.block), B("dXNlcjpwYXNz")), B(c.expected)) << c.block;
}

TEST(AddProxyAuthorization, KeepsBinaryBodies) {
    const QByteArray body("\0\r\n\r\n\xff\x00z", 8);
    const QByteArray block = B("PUT http://a.b/ HTTP/1.1\r\n\r\n") + body;
    const QByteArray result = TProxyServer::AddProxyAuthorization(block, B("eDp5"));
    EXPECT_TRUE(result.endsWith(B("\r\nProxy-Authorization: Basic eDp5\r\n\r\n") + body));
}

TEST(MakeRelativeRequest, TurnsTheAbsoluteAddressIntoAPath) {
    struct Case {
        const char *block;
        const char *expected;
    };
    const Case cases[] = {
        {"GET http://server1:8080/a HTTP/1.1\r\nHost: Server1:8080\r\n\r\n",
         "GET /a HTTP/1.1\r\nHost: Server1:8080\r\n\r\n"},
        {"GET http://server1:8080/a/b?c HTTP/1.1\r\n\r\n", "GET /a/b?c HTTP/1.1\r\n\r\n"},
        // The same site's prefix goes wherever it stands; another site's stays.
        {"GET http://intra/page HTTP/1.1\r\nReferer: http://intra/index.html\r\nX-Other: http://other/p\r\n\r\n",
         "GET /page HTTP/1.1\r\nReferer: /index.html\r\nX-Other: http://other/p\r\n\r\n"},
        // Left alone: no line end, no address in the first line, no path, another case.
        {"GET http://intra/page HTTP/1.1", "GET http://intra/page HTTP/1.1"},
        {"GET /page HTTP/1.1\r\nReferer: http://intra/x\r\n\r\n", "GET /page HTTP/1.1\r\nReferer: http://intra/x\r\n\r\n"},
        {"GET http://intra\r\nReferer: http://intra/x\r\n\r\n", "GET http://intra\r\nReferer: http://intra/x\r\n\r\n"},
        {"GET HTTP://intra/p HTTP/1.1\r\n\r\n", "GET HTTP://intra/p HTTP/1.1\r\n\r\n"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TProxyServer::MakeRelativeRequest(B(c.block)), B(c.expected)) << c.block;
}

// The route table, with a context that is never connected.
class RouteTable : public ::testing::Test {
protected:
    RouteTable() {
        server.SetOnDebugData([this](const QString &Text) {
            std::lock_guard<std::mutex> lock(debugLock);
            debug << Text;
        });
    }
    int Route(const char *Block) {
        context.SetNetData(B(Block));
        QByteArray method, host;
        int port = 0;
        EXPECT_TRUE(TProxyServer::ParseRequest(B(Block), method, host, port)) << Block;
        return server.RouteRequest(context, host, port);
    }

    TProxyServer server;
    TTcpConnection client;
    TPairedConnectionContext context{TTcpContextArgs{&client, &server, nullptr}};
    std::mutex debugLock;
    QStringList debug;
};

const char *const DottedGet = "GET http://www.example.com/p HTTP/1.1\r\nHost: www.example.com\r\n\r\n";
const char *const PlainGet = "GET http://server1:8080/a HTTP/1.1\r\nHost: Server1:8080\r\n\r\n";

TEST_F(RouteTable, GatewayForDottedHostsDirectForTheRest) {
    server.SetGatewayProxy(QStringLiteral("gw1:8080"));
    server.SetGatewayHosts({QStringLiteral(".")});

    EXPECT_EQ(Route(DottedGet), 3);
    EXPECT_EQ(context.DestinationHost(), B("gw1"));
    EXPECT_EQ(context.DestinationPort(), 8080);
    EXPECT_EQ(context.ProxyHost(), QByteArray());
    EXPECT_EQ(context.NetData(), B(DottedGet)); // the absolute address stays for the gateway

    EXPECT_EQ(Route(PlainGet), 4);
    EXPECT_EQ(context.DestinationHost(), B("server1"));
    EXPECT_EQ(context.DestinationPort(), 8080);
    EXPECT_EQ(context.NetData(), B("GET /a HTTP/1.1\r\nHost: Server1:8080\r\n\r\n"));

    EXPECT_EQ(debug, (QStringList{QStringLiteral("REQUEST WILL BE TUNNELED VIA GATEWAY PROXY SERVER (www.example.com)"),
                                  QStringLiteral("REQUEST WILL BE SEND DIRECTLY (server1)")}));
}

TEST_F(RouteTable, GatewayCredentialsAreAdded) {
    server.SetGatewayProxy(QStringLiteral("gw1:8080"));
    server.SetGatewayProxyUserPass(QStringLiteral("user:pass"));
    server.SetGatewayHosts({QStringLiteral(".")});
    EXPECT_EQ(Route("CONNECT www.example.com:443 HTTP/1.1\r\n\r\n"), 3);
    EXPECT_EQ(context.NetData(), B("CONNECT www.example.com:443 HTTP/1.1\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n"));
}

TEST_F(RouteTable, WithoutGatewayHostsEverythingGoesDirectly) {
    server.SetGatewayProxy(QStringLiteral("gw1:8080"));
    EXPECT_EQ(Route(DottedGet), 4);
    EXPECT_EQ(context.DestinationHost(), B("www.example.com"));
    EXPECT_EQ(context.DestinationPort(), 80);
    EXPECT_EQ(context.NetData(), B("GET /p HTTP/1.1\r\nHost: www.example.com\r\n\r\n"));
}

TEST_F(RouteTable, LocalProxyTunnelsToTheGatewayOrServesAlone) {
    server.SetGatewayProxy(QStringLiteral("gw1:8080"));
    server.SetGatewayProxyUserPass(QStringLiteral("gw:secret"));
    server.SetLocalProxy(QStringLiteral("lp:3129"));
    server.SetLocalProxyUserPass(QStringLiteral("user:pass"));
    server.SetGatewayHosts({QStringLiteral(".")});

    EXPECT_EQ(Route(DottedGet), 1);
    EXPECT_EQ(context.ProxyHost(), B("lp"));
    EXPECT_EQ(context.ProxyPort(), 3129);
    EXPECT_EQ(context.ProxyUserPass(), B("dXNlcjpwYXNz"));
    EXPECT_EQ(context.DestinationHost(), B("gw1"));
    EXPECT_EQ(context.DestinationPort(), 8080);
    EXPECT_EQ(context.NetData(), TProxyServer::AddProxyAuthorization(B(DottedGet), B("Z3c6c2VjcmV0")));

    // Route 2 empties the proxy host only; its port and credentials stay behind.
    EXPECT_EQ(Route(PlainGet), 2);
    EXPECT_EQ(context.ProxyHost(), QByteArray());
    EXPECT_EQ(context.ProxyPort(), 3129);
    EXPECT_EQ(context.ProxyUserPass(), B("dXNlcjpwYXNz"));
    EXPECT_EQ(context.DestinationHost(), B("lp"));
    EXPECT_EQ(context.DestinationPort(), 3129);
    EXPECT_EQ(context.NetData(), TProxyServer::AddProxyAuthorization(B(PlainGet), B("dXNlcjpwYXNz")));

    EXPECT_EQ(debug,
              (QStringList{QStringLiteral("REQUEST WILL BE TUNNELED VIA LOCAL&GATEWAY PROXY SERVER (www.example.com)"),
                           QStringLiteral("REQUEST WILL BE TUNNELED VIA LOCAL PROXY SERVER (server1)")}));
}

TEST_F(RouteTable, NoCredentialsNoChange) {
    server.SetLocalProxy(QStringLiteral("lp:3129"));
    EXPECT_EQ(Route(PlainGet), 2);
    EXPECT_EQ(context.NetData(), B(PlainGet));
}

} // namespace
