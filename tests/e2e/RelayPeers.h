#pragma once
// The peers of the relay's end-to-end runs: the origin web server, tinyproxy, scripted loopback
// peers, and a raw HTTP client on plain sockets.

#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace relaytest {

/// relay-test-origin on a free loopback port.
class Origin {
public:
    bool Start();
    int Port() const { return FPort; }

private:
    testsupport::ChildProcess FProcess;
    int FPort = 0;
};

/// tinyproxy in the foreground on a free loopback port; config and log live in Dir.
class Tinyproxy {
public:
    /// Extra: further configuration lines (BasicAuth user pass, ...).
    bool Start(const QString &Dir, const QString &Extra = QString());
    int Port() const { return FPort; }
    QString LogFile() const { return FLog; }

private:
    testsupport::ChildProcess FProcess;
    int FPort = 0;
    QString FLog;
};

/// A loopback listener that runs Handler for every accepted connection in a thread of its own
/// and counts the connections. Stop() (or the destructor) ends the listener and all handlers.
class ScriptedPeer {
public:
    using THandler = std::function<void(int Fd, ScriptedPeer &Peer)>;
    explicit ScriptedPeer(THandler Handler);
    ~ScriptedPeer();
    int Port() const { return FPort; }
    int Accepted() const { return FAccepted.load(); }
    /// Set by Stop(): handlers should return when they see it.
    bool Stopping() const { return FStopping.load(); }
    void Stop();
    /// A place for handlers to leave what they received.
    void Record(const QByteArray &Bytes);
    QByteArray Recorded() const;

private:
    void AcceptLoop();
    THandler FHandler;
    int FListen = -1;
    int FPort = 0;
    int FWake[2] = {-1, -1};
    std::atomic<int> FAccepted{0};
    std::atomic<bool> FStopping{false};
    std::thread FAcceptor;
    mutable std::mutex FLock;
    std::vector<std::thread> FHandlers;
    std::vector<int> FOpen;
    QByteArray FRecorded;
};

/// A blocking TCP connection to 127.0.0.1:Port; -1 when refused.
int ConnectTo(int Port);
bool SendAll(int Fd, const QByteArray &Bytes);
/// Reads until the peer closes or TimeoutMs passes; Closed tells which.
QByteArray ReadUntilClosed(int Fd, int TimeoutMs, bool *Closed = nullptr);
/// Reads until Bytes holds Needle (or the peer closes / time runs out).
QByteArray ReadUntil(int Fd, const QByteArray &Needle, int TimeoutMs);
/// Reads one HTTP response (head and a Content-Length body); empty when the connection closes first.
QByteArray ReadResponse(int Fd, int TimeoutMs = 10000);
/// The value of a header in a response head (case-insensitive name), or empty.
QByteArray HeaderValue(const QByteArray &Response, const QByteArray &Name);

/// Runs curl with Args (plus -s); returns its standard output, exit status in *Status.
QByteArray Curl(const QStringList &Args, int *Status = nullptr);

} // namespace relaytest
