#include "tests/e2e/RelayPeers.h"

#include <QFile>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace testsupport;

namespace relaytest {

bool Origin::Start() {
    FPort = FreeTcpPort();
    return FProcess.Start(QStringLiteral(RELAY_TEST_ORIGIN), {QStringLiteral("--port"), QString::number(FPort)}) &&
           WaitForPort(FPort);
}

bool Tinyproxy::Start(const QString &Dir, const QString &Extra) {
    FPort = FreeTcpPort();
    const QString conf = Dir + QStringLiteral("/tinyproxy-%1.conf").arg(FPort);
    FLog = Dir + QStringLiteral("/tinyproxy-%1.log").arg(FPort);
    const QString text = QStringLiteral("Port %1\n"
                                        "Listen 127.0.0.1\n"
                                        "Timeout 60\n"
                                        "MaxClients 200\n"
                                        "LogLevel Connect\n"
                                        "LogFile \"%2\"\n"
                                        "Allow 127.0.0.1\n")
                             .arg(FPort)
                             .arg(FLog) +
                         Extra + u'\n';
    WriteFile(conf, text.toUtf8());
    const QString program = FindProgram(QStringLiteral("tinyproxy"));
    return !program.isEmpty() &&
           FProcess.Start(program, {QStringLiteral("-d"), QStringLiteral("-c"), conf}, Dir + QStringLiteral("/tinyproxy.out")) &&
           WaitForPort(FPort);
}

ScriptedPeer::ScriptedPeer(THandler Handler) : FHandler(std::move(Handler)) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FListen, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(FListen, 64);
    socklen_t len = sizeof a;
    ::getsockname(FListen, reinterpret_cast<sockaddr *>(&a), &len);
    FPort = ntohs(a.sin_port);
    if (::pipe2(FWake, O_CLOEXEC) != 0)
        FWake[0] = FWake[1] = -1;
    FAcceptor = std::thread(&ScriptedPeer::AcceptLoop, this);
}

ScriptedPeer::~ScriptedPeer() { Stop(); }

void ScriptedPeer::Stop() {
    if (FStopping.exchange(true))
        return;
    [[maybe_unused]] const ssize_t n = ::write(FWake[1], "x", 1);
    FAcceptor.join();
    {
        std::lock_guard<std::mutex> lock(FLock);
        for (int fd : FOpen)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (auto &t : FHandlers)
        t.join();
    for (int fd : FOpen)
        ::close(fd);
    ::close(FListen);
    ::close(FWake[0]);
    ::close(FWake[1]);
}

void ScriptedPeer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{FListen, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!fds[0].revents)
            continue;
        const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++FAccepted;
        std::lock_guard<std::mutex> lock(FLock);
        FOpen.push_back(fd);
        FHandlers.emplace_back([this, fd] { FHandler(fd, *this); });
    }
}

void ScriptedPeer::Record(const QByteArray &Bytes) {
    std::lock_guard<std::mutex> lock(FLock);
    FRecorded += Bytes;
}

QByteArray ScriptedPeer::Recorded() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FRecorded;
}

int ConnectTo(int Port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(Port));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int Fd, const QByteArray &Bytes) {
    qsizetype done = 0;
    while (done < Bytes.size()) {
        const ssize_t n = ::send(Fd, Bytes.constData() + done, static_cast<size_t>(Bytes.size() - done), MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

namespace {

// Waits for readability up to the deadline and reads once; -1: time-out, 0: closed, else bytes.
ssize_t ReadSome(int Fd, QByteArray &Into, std::chrono::steady_clock::time_point Until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Until - std::chrono::steady_clock::now()).count();
    if (left <= 0)
        return -1;
    pollfd p{Fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0)
        return -1;
    char buf[65536];
    const ssize_t n = ::recv(Fd, buf, sizeof buf, 0);
    if (n > 0)
        Into.append(buf, n);
    return n < 0 ? 0 : n; // a reset counts as closed
}

std::chrono::steady_clock::time_point Deadline(int Ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
}

} // namespace

QByteArray ReadUntilClosed(int Fd, int TimeoutMs, bool *Closed) {
    QByteArray data;
    const auto until = Deadline(TimeoutMs);
    ssize_t n;
    while ((n = ReadSome(Fd, data, until)) > 0) {
    }
    if (Closed)
        *Closed = n == 0;
    return data;
}

QByteArray ReadUntil(int Fd, const QByteArray &Needle, int TimeoutMs) {
    QByteArray data;
    const auto until = Deadline(TimeoutMs);
    while (!data.contains(Needle) && ReadSome(Fd, data, until) > 0) {
    }
    return data;
}

QByteArray HeaderValue(const QByteArray &Response, const QByteArray &Name) {
    const QByteArray head = Response.left(Response.indexOf("\r\n\r\n"));
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == Name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

QByteArray ReadResponse(int Fd, int TimeoutMs) {
    QByteArray data;
    const auto until = Deadline(TimeoutMs);
    while (!data.contains("\r\n\r\n"))
        if (ReadSome(Fd, data, until) <= 0)
            return {};
    const qsizetype bodyAt = data.indexOf("\r\n\r\n") + 4;
    const qsizetype length = HeaderValue(data, "Content-Length").toLongLong();
    while (data.size() < bodyAt + length)
        if (ReadSome(Fd, data, until) <= 0)
            return {};
    return data;
}

QByteArray Curl(const QStringList &Args, int *Status) {
    QByteArray out;
    const int status = RunProgram(QStringLiteral("curl"), QStringList{QStringLiteral("-s")} + Args, &out, nullptr,
                                  QByteArray(), std::chrono::seconds(60));
    if (Status)
        *Status = status;
    return out;
}

} // namespace relaytest
