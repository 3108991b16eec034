#pragma once
// Loopback peers for the checker's tests: a raw TCP server, small fake HTTP proxies, an origin of
// test pages and a judge that follows the judge protocol. Everything listens on 127.0.0.1 only.

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace checkerpeers {

/// A TCP server on 127.0.0.1 that runs Handler(fd) in a thread of its own per connection.
class TRawServer {
public:
    explicit TRawServer(std::function<void(int)> Handler);
    ~TRawServer();
    int Port() const { return FPort; }
    int Connections() const { return FConnections; }
    void Stop();

private:
    void Run();
    std::function<void(int)> FHandler;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FConnections{0};
    std::thread FAccept;
    std::mutex FLock;
    std::vector<std::thread> FWorkers;
};

/// Reads a request head (up to and with the empty line); what came after it is left in Rest.
bool ReadHead(int Fd, QByteArray &Head, QByteArray &Rest);
void WriteAll(int Fd, const QByteArray &Bytes);
/// Copies bytes both ways between two sockets until one side closes.
void Relay(int A, int B);
/// Connects to 127.0.0.1 (or the given loopback host) and Port; -1 on failure.
int ConnectLoopback(const QString &Host, int Port);

/// How a fake proxy behaves.
enum class TProxyMode {
    Forward,       ///< a working proxy: plain requests and CONNECT tunnels are forwarded
    RefuseConnect, ///< plain requests forwarded, CONNECT answered 403
    Canned,        ///< every request answered with CannedBody (HTTP 200), CONNECT refused
    Stall,         ///< accepts and reads, never answers (until the test ends)
};

/// A small HTTP proxy of the test's own.
class TFakeProxy {
public:
    explicit TFakeProxy(TProxyMode Mode);
    ~TFakeProxy();
    int Port() const { return FServer->Port(); }
    int Requests() const { return FRequests; }
    /// Header lines added to forwarded plain requests ("Via: 1.1 fake", "X-Forwarded-For: ...").
    QByteArrayList ExtraHeaders;
    QByteArray CannedBody = "<html>nothing to see</html>";
    /// Canned mode: wait this long before answering.
    int DelayMs = 0;

private:
    void Handle(int Fd);
    TProxyMode FMode;
    std::atomic<bool> FStopping{false};
    std::atomic<int> FRequests{0};
    std::unique_ptr<TRawServer> FServer;
};

/// What the test judge answers to the judge test.
enum class TJudgeMode { Normal, NoMarker, Error, ShortReply };

/// A judge on loopback that follows the judge protocol at "/type.php": the probe answers the
/// caller's address and the clock; the test answers the marker and five lines. The type letters:
/// "t" when a forwarded-for style header names the user's address, else "a" when a Via header is
/// present, else "e". Botnet "p"; POST "y" when field2 equals field1.
class TTestJudge {
public:
    TTestJudge();
    ~TTestJudge();
    int Port() const { return FPort; }
    QString Url() const; ///< "http://127.0.0.1:PORT/type.php"
    std::atomic<TJudgeMode> Mode{TJudgeMode::Normal};
    /// The probe's second line; empty: the real clock.
    std::string ProbeClock;
    std::atomic<int> Probes{0};
    std::atomic<int> Tests{0};
    std::string LastQuery() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    int FPort = 0;
};

/// A page origin on loopback (HTTP, or HTTPS with a self-signed certificate for another host).
class TTestOrigin {
public:
    explicit TTestOrigin(bool Tls = false);
    ~TTestOrigin();
    int Port() const { return FPort; }
    QString Url(const QString &Path) const;
    /// Serves Body at Path with the given content type.
    void Page(const std::string &Path, const std::string &Body, const std::string &ContentType = "text/html");

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    int FPort = 0;
    bool FTls;
};

/// The canonical marker that starts a judge test reply.
inline constexpr const char *JudgeMarker = "Qm7RvK2pLc9WnT4z";

} // namespace checkerpeers
