// The relay end to end: curl and raw clients through a real relay on loopback, to a real origin,
// through real tinyproxy gateways and local proxies, and through scripted peers where the exact
// bytes on the wire matter.

#include "relay/ProxyServer.h"
#include "tests/e2e/RelayPeers.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace relaytest;
using testsupport::FreeTcpPort;
using testsupport::ReadFile;

namespace {

const QByteArray Established = "HTTP/1.1 200 Connection established\r\n\r\n";

/// The relay with a shorter connect-and-tunnel budget where a test asks for one.
class TestRelay : public TProxyServer {
public:
    int ConnectBudget = 0;

protected:
    void ContextCreated(TTcpServerContext *AContext) override {
        TProxyServer::ContextCreated(AContext);
        if (ConnectBudget > 0)
            static_cast<TPairedConnectionContext *>(AContext)->SetConnectTimeOut(ConnectBudget);
    }
};

/// A socket that closes itself.
struct Client {
    explicit Client(int Port) : Fd(ConnectTo(Port)) {}
    ~Client() {
        if (Fd >= 0)
            ::close(Fd);
    }
    int Fd;
};

/// Waits (polling) until Condition holds; false after about ten seconds.
template <class F> bool Eventually(F Condition) {
    for (int i = 0; i < 1000; ++i) {
        if (Condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Condition();
}

/// A scripted gateway: answers every request head with a small page that names the request's
/// number, tunnels CONNECT requests back to the client as an echo, and records what it received
/// ("<eof>" when the relay closed the connection).
void GatewayScript(int Fd, ScriptedPeer &Peer) {
    QByteArray pending;
    int served = 0;
    bool tunnel = false;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(Fd, buf, sizeof buf, 0);
        if (n <= 0) {
            Peer.Record("<eof>");
            return;
        }
        Peer.Record(QByteArray(buf, n));
        if (tunnel) {
            ::send(Fd, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
            continue;
        }
        pending.append(buf, n);
        qsizetype end;
        while ((end = pending.indexOf("\r\n\r\n")) >= 0) {
            const QByteArray head = pending.left(end + 4);
            pending.remove(0, end + 4);
            if (head.startsWith("CONNECT ")) {
                SendAll(Fd, "HTTP/1.0 200 Connection Established\r\nProxy-agent: scripted\r\n\r\n");
                tunnel = true;
                break;
            }
            const QByteArray body = "gateway answer " + QByteArray::number(++served);
            SendAll(Fd, "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }
    }
}

class RelayE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(origin.Start());
    }
    void StartRelay() {
        relay.Bindings().append(TSocketBinding{QStringLiteral("127.0.0.1"), 0});
        relay.SetActive(true);
        port = relay.Bindings()[0].Port;
        ASSERT_NE(port, 0);
    }
    QString Proxy() const { return QStringLiteral("127.0.0.1:%1").arg(port); }
    QString Url(const char *Host, const char *Path) const {
        return QStringLiteral("http://%1:%2%3").arg(QLatin1String(Host)).arg(origin.Port()).arg(QLatin1String(Path));
    }
    QByteArray Get(const char *Host, const char *Path) const {
        const QByteArray authority = QByteArray(Host) + ':' + QByteArray::number(origin.Port());
        return "GET http://" + authority + Path + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";
    }
    static QString Local(int Port) { return QStringLiteral("127.0.0.1:%1").arg(Port); }

    QTemporaryDir dir;
    Origin origin;
    TestRelay relay;
    int port = 0;
};

TEST_F(RelayE2E, DirectRouteServesTheOriginWithARelativeRequest) {
    StartRelay();
    int status = -1;
    EXPECT_EQ(Curl({QStringLiteral("-x"), Proxy(), Url("127.0.0.1", "/hello")}, &status), "hello from origin\n");
    EXPECT_EQ(status, 0);

    // The origin sees a path, not the absolute address, and the browser's headers unchanged.
    const QByteArray echo = Curl({QStringLiteral("-x"), Proxy(), QStringLiteral("-H"),
                                  QStringLiteral("Proxy-Connection: keep-alive"), Url("localhost", "/echo")});
    EXPECT_TRUE(echo.startsWith("GET /echo\n")) << echo.constData();
    EXPECT_TRUE(echo.contains("Proxy-Connection: keep-alive")) << echo.constData();
}

TEST_F(RelayE2E, DotlessHostsGoDirectWhileDottedOnesGoViaTheGateway) {
    // A gateway that is not there: dotted hosts find their connection closed, dot-less ones work.
    relay.SetGatewayProxy(Local(FreeTcpPort()));
    relay.SetGatewayHosts({QStringLiteral(".")});
    StartRelay();
    int status = -1;
    EXPECT_EQ(Curl({QStringLiteral("-x"), Proxy(), Url("localhost", "/hello")}, &status), "hello from origin\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Curl({QStringLiteral("-x"), Proxy(), Url("127.0.0.1", "/hello")}, &status), QByteArray());
    EXPECT_EQ(status, 52) << "curl: empty reply from server";
}

TEST_F(RelayE2E, KeepAliveSharesTheOutboundConnectionUntilTheDestinationChanges) {
    StartRelay();
    Client c(port);
    ASSERT_TRUE(SendAll(c.Fd, Get("localhost", "/echo")));
    const QByteArray first = ReadResponse(c.Fd);
    ASSERT_TRUE(SendAll(c.Fd, Get("localhost", "/echo")));
    const QByteArray second = ReadResponse(c.Fd);
    ASSERT_TRUE(SendAll(c.Fd, Get("127.0.0.1", "/echo")));
    const QByteArray third = ReadResponse(c.Fd);
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(third.isEmpty());
    EXPECT_EQ(HeaderValue(first, "X-Remote-Port"), HeaderValue(second, "X-Remote-Port"));
    EXPECT_NE(HeaderValue(first, "X-Remote-Port"), HeaderValue(third, "X-Remote-Port"));
}

TEST_F(RelayE2E, GatewayRouteThroughTinyproxyKeepsTheAbsoluteAddress) {
    Tinyproxy gateway;
    ASSERT_TRUE(gateway.Start(dir.path()));
    relay.SetGatewayProxy(Local(gateway.Port()));
    relay.SetGatewayHosts({QStringLiteral(".")});
    StartRelay();
    int status = -1;
    const QByteArray echo = Curl({QStringLiteral("-x"), Proxy(), Url("127.0.0.1", "/echo")}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(echo.startsWith("GET /echo\n")) << echo.constData();
    EXPECT_TRUE(echo.contains("tinyproxy")) << "the gateway's Via line: " << echo.constData();
    EXPECT_TRUE(ReadFile(gateway.LogFile()).contains(QStringLiteral("GET %1 HTTP/1.1").arg(Url("127.0.0.1", "/echo")).toUtf8()));
}

TEST_F(RelayE2E, GatewayRequestsShareOneConnectionAndCarryTheCredentials) {
    ScriptedPeer gateway(GatewayScript);
    relay.SetGatewayProxy(Local(gateway.Port()));
    relay.SetGatewayProxyUserPass(QStringLiteral("user:pass"));
    relay.SetGatewayHosts({QStringLiteral(".")});
    StartRelay();
    Client c(port);
    ASSERT_TRUE(SendAll(c.Fd, "GET http://a.example/x HTTP/1.1\r\nHost: a.example\r\n\r\n"));
    EXPECT_TRUE(ReadResponse(c.Fd).endsWith("gateway answer 1"));
    ASSERT_TRUE(SendAll(c.Fd, "POST http://b.example/y HTTP/1.1\r\nHost: b.example\r\nContent-Length: 3\r\n\r\nz=1"));
    EXPECT_TRUE(ReadResponse(c.Fd).endsWith("gateway answer 2"));
    EXPECT_EQ(gateway.Accepted(), 1);
    EXPECT_EQ(gateway.Recorded(), QByteArray("GET http://a.example/x HTTP/1.1\r\nHost: a.example\r\n"
                                             "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n"
                                             "POST http://b.example/y HTTP/1.1\r\nHost: b.example\r\nContent-Length: 3\r\n"
                                             "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\nz=1"));

    // A dot-less host goes directly: the gateway connection is replaced by one to the origin.
    ASSERT_TRUE(SendAll(c.Fd, Get("localhost", "/hello")));
    EXPECT_TRUE(ReadResponse(c.Fd).endsWith("hello from origin\n"));
    EXPECT_TRUE(Eventually([&] { return gateway.Recorded().endsWith("<eof>"); }));
}

TEST_F(RelayE2E, ConnectTunnelDirectlyAnswersEstablishedItself) {
    StartRelay();
    Client c(port);
    const QByteArray authority = "localhost:" + QByteArray::number(origin.Port());
    ASSERT_TRUE(SendAll(c.Fd, "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"));
    EXPECT_EQ(ReadUntil(c.Fd, "\r\n\r\n", 10000), Established);
    // From here on bytes pass unchanged: a relative request is what the origin gets.
    ASSERT_TRUE(SendAll(c.Fd, "GET /echo HTTP/1.1\r\nHost: tunnelled\r\n\r\n"));
    const QByteArray reply = ReadResponse(c.Fd);
    EXPECT_TRUE(reply.contains("GET /echo\nHost: tunnelled\n")) << reply.constData();

    int status = -1;
    EXPECT_EQ(Curl({QStringLiteral("-p"), QStringLiteral("-x"), Proxy(), Url("localhost", "/hello")}, &status),
              "hello from origin\n");
    EXPECT_EQ(status, 0);
}

TEST_F(RelayE2E, ConnectTunnelViaTheGatewayPassesTheGatewaysAnswer) {
    Tinyproxy gateway;
    ASSERT_TRUE(gateway.Start(dir.path()));
    relay.SetGatewayProxy(Local(gateway.Port()));
    relay.SetGatewayHosts({QStringLiteral(".")});
    StartRelay();
    int status = -1;
    EXPECT_EQ(Curl({QStringLiteral("-p"), QStringLiteral("-x"), Proxy(), Url("127.0.0.1", "/hello")}, &status),
              "hello from origin\n");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(ReadFile(gateway.LogFile()).contains(QStringLiteral("CONNECT 127.0.0.1:%1").arg(origin.Port()).toUtf8()));
}

TEST_F(RelayE2E, ConnectViaTheGatewaySendsTheBlockWithCredentialsAndNoAnswerOfItsOwn) {
    ScriptedPeer gateway(GatewayScript);
    relay.SetGatewayProxy(Local(gateway.Port()));
    relay.SetGatewayProxyUserPass(QStringLiteral("user:pass"));
    relay.SetGatewayHosts({QStringLiteral(".")});
    StartRelay();
    Client c(port);
    ASSERT_TRUE(SendAll(c.Fd, "CONNECT secure.example:443 HTTP/1.1\r\nHost: secure.example:443\r\n\r\n"));
    EXPECT_EQ(ReadUntil(c.Fd, "\r\n\r\n", 10000), "HTTP/1.0 200 Connection Established\r\nProxy-agent: scripted\r\n\r\n");
    const QByteArray tlsLike("\x16\x03\x01 hello\r\n\r\nnot parsed", 23);
    ASSERT_TRUE(SendAll(c.Fd, tlsLike));
    EXPECT_EQ(ReadUntil(c.Fd, "parsed", 10000), tlsLike);
    EXPECT_EQ(gateway.Recorded(), "CONNECT secure.example:443 HTTP/1.1\r\nHost: secure.example:443\r\n"
                                  "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n" +
                                      tlsLike);
}

TEST_F(RelayE2E, LocalProxyWithBasicAuthTunnelsToTheGateway) {
    Tinyproxy gateway, local;
    ASSERT_TRUE(gateway.Start(dir.path()));
    ASSERT_TRUE(local.Start(dir.path(), QStringLiteral("BasicAuth user pass")));
    relay.SetGatewayProxy(Local(gateway.Port()));
    relay.SetLocalProxy(Local(local.Port()));
    relay.SetLocalProxyUserPass(QStringLiteral("user:pass"));
    relay.SetGatewayHosts({QStringLiteral(".")});
    StartRelay();
    int status = -1;
    const QByteArray echo = Curl({QStringLiteral("-x"), Proxy(), Url("127.0.0.1", "/echo")}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(echo.startsWith("GET /echo\n")) << echo.constData();
    EXPECT_TRUE(ReadFile(local.LogFile()).contains(QStringLiteral("CONNECT 127.0.0.1:%1").arg(gateway.Port()).toUtf8()))
        << ReadFile(local.LogFile()).constData();
    EXPECT_TRUE(ReadFile(gateway.LogFile()).contains(QStringLiteral("GET %1 HTTP/1.1").arg(Url("127.0.0.1", "/echo")).toUtf8()))
        << ReadFile(gateway.LogFile()).constData();

    // Wrong credentials: the browser gets the local proxy's refusal in lower case, then the end.
    relay.SetActive(false);
    relay.SetLocalProxyUserPass(QStringLiteral("user:wrong"));
    relay.SetActive(true);
    port = relay.Bindings()[0].Port;
    Client c(port);
    ASSERT_TRUE(SendAll(c.Fd, Get("127.0.0.1", "/hello")));
    bool closed = false;
    const QByteArray refusal = ReadUntilClosed(c.Fd, 15000, &closed);
    EXPECT_TRUE(closed);
    // tinyproxy refuses a CONNECT with 401 and WWW-Authenticate (other proxies say 407).
    EXPECT_TRUE(refusal.startsWith("http/1.0 401 unauthorized\r\n")) << refusal.constData();
    EXPECT_TRUE(refusal.contains("\r\nwww-authenticate: basic realm=\"tinyproxy\"\r\n")) << refusal.constData();
    EXPECT_EQ(refusal, refusal.toLower());
}

TEST_F(RelayE2E, AnUpstreamThatNeverAnswersTheTunnelRequestEndsTheConnection) {
    ScriptedPeer silent([](int Fd, ScriptedPeer &Peer) {
        Peer.Record(ReadUntil(Fd, "\r\n\r\n", 30000));
        ReadUntilClosed(Fd, 30000);
    });
    relay.ConnectBudget = 1500;
    relay.SetLocalProxy(Local(silent.Port()));
    relay.SetGatewayProxy(QStringLiteral("gw.example:8080"));
    relay.SetGatewayHosts({QStringLiteral(".")});
    StartRelay();
    Client c(port);
    ASSERT_TRUE(SendAll(c.Fd, "GET http://www.example.com/ HTTP/1.1\r\nHost: www.example.com\r\n\r\n"));
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(c.Fd, 20000, &closed), QByteArray());
    EXPECT_TRUE(closed);
    // No credentials: the tunnel request is the CONNECT line and the blank line, nothing else.
    EXPECT_EQ(silent.Recorded(), "CONNECT gw.example:8080 HTTP/1.1\r\n\r\n");
}

TEST_F(RelayE2E, AnUpstreamThatRefusesTheTunnelIsPassedOnInLowerCase) {
    ScriptedPeer refusing([](int Fd, ScriptedPeer &Peer) {
        Peer.Record(ReadUntil(Fd, "\r\n\r\n", 30000));
        SendAll(Fd, "HTTP/1.1 200 OK\r\nX-Note: Not A Tunnel\r\n\r\n");
        ReadUntilClosed(Fd, 30000);
    });
    relay.SetLocalProxy(Local(refusing.Port()));
    relay.SetLocalProxyUserPass(QStringLiteral("user:pass"));
    relay.SetGatewayProxy(QStringLiteral("gw.example:8080"));
    relay.SetGatewayHosts({QStringLiteral(".")});
    StartRelay();
    Client c(port);
    ASSERT_TRUE(SendAll(c.Fd, "GET http://www.example.com/ HTTP/1.1\r\nHost: www.example.com\r\n\r\n"));
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(c.Fd, 20000, &closed), "http/1.1 200 ok\r\nx-note: not a tunnel\r\n\r\n");
    EXPECT_TRUE(closed);
    EXPECT_EQ(refusing.Recorded(), "CONNECT gw.example:8080 HTTP/1.1\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");
}

TEST_F(RelayE2E, AClientThatSendsNothingIsClosedWithoutAReply) {
    StartRelay();
    Client c(port);
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(c.Fd, 10000, &closed), QByteArray());
    EXPECT_TRUE(closed);
}

TEST_F(RelayE2E, AConnectToAClosedPortDoesNotDisturbOtherConnections) {
    StartRelay();
    Client tunnel(port);
    const QByteArray authority = "localhost:" + QByteArray::number(origin.Port());
    ASSERT_TRUE(SendAll(tunnel.Fd, "CONNECT " + authority + " HTTP/1.1\r\n\r\n"));
    ASSERT_EQ(ReadUntil(tunnel.Fd, "\r\n\r\n", 10000), Established);

    Client refused(port);
    const QByteArray closedAuthority = "localhost:" + QByteArray::number(FreeTcpPort());
    ASSERT_TRUE(SendAll(refused.Fd, "GET http://" + closedAuthority + "/ HTTP/1.1\r\nHost: " + closedAuthority + "\r\n\r\n"));
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(refused.Fd, 10000, &closed), QByteArray());
    EXPECT_TRUE(closed);

    ASSERT_TRUE(SendAll(tunnel.Fd, "GET /hello HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_TRUE(ReadResponse(tunnel.Fd).endsWith("hello from origin\n"));
    EXPECT_EQ(Curl({QStringLiteral("-x"), Proxy(), Url("localhost", "/hello")}), "hello from origin\n");
}

TEST_F(RelayE2E, CommandLineRelayServesUntilSigterm) {
    ScriptedPeer gateway(GatewayScript);
    const int relayPort = FreeTcpPort();
    QProcess cli;
    cli.start(QStringLiteral(RELAYVANE_CLI),
              {QStringLiteral("relay"), QStringLiteral("--port"), QString::number(relayPort), QStringLiteral("--gateway"),
               Local(gateway.Port()), QStringLiteral("--gateway-auth"), QStringLiteral("user:pass")});
    ASSERT_TRUE(cli.waitForStarted());
    ASSERT_TRUE(testsupport::WaitForPort(relayPort));
    const QString proxy = Local(relayPort);
    // Gateway hosts default to "." with a gateway: dotted names go there, dot-less ones direct.
    EXPECT_EQ(Curl({QStringLiteral("-x"), proxy, QStringLiteral("http://www.example.com/x")}), "gateway answer 1");
    EXPECT_TRUE(gateway.Recorded().startsWith("GET http://www.example.com/x HTTP/1.1\r\n"));
    EXPECT_TRUE(gateway.Recorded().contains("\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n"));
    EXPECT_EQ(Curl({QStringLiteral("-x"), proxy, Url("localhost", "/hello")}), "hello from origin\n");

    cli.terminate();
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_TRUE(cli.readAllStandardError().contains(QStringLiteral("listening on 127.0.0.1:%1").arg(relayPort).toUtf8()));
}

TEST_F(RelayE2E, CommandLineRejectsBadOptionsInOneLine) {
    QByteArray out, err;
    EXPECT_EQ(testsupport::RunProgram(QStringLiteral(RELAYVANE_CLI), {QStringLiteral("relay"), QStringLiteral("--help")},
                                      &out),
              0);
    EXPECT_TRUE(out.startsWith("usage: relayvane-cli relay"));
    const QStringList bad[] = {{QStringLiteral("--port"), QStringLiteral("http")},
                               {QStringLiteral("--gateway"), QStringLiteral("gw1")},
                               {QStringLiteral("--listen"), QStringLiteral("0.0.0.0:3128")},
                               {QStringLiteral("--bogus")}};
    for (const auto &args : bad) {
        EXPECT_EQ(testsupport::RunProgram(QStringLiteral(RELAYVANE_CLI), QStringList{QStringLiteral("relay")} + args,
                                          &out, &err),
                  1)
            << args.join(u' ').toStdString();
        EXPECT_EQ(err.count('\n'), 1) << err.constData();
    }
}

} // namespace
