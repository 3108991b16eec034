#include "platform/TcpClient.h"

#include "platform/StopSignal.h"

#include <cerrno>
#include <chrono>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct AddrInfoList {
    addrinfo *List = nullptr;
    ~AddrInfoList() {
        if (List)
            ::freeaddrinfo(List);
    }
};

} // namespace

void TTcpClient::Connect() {
    using Clock = std::chrono::steady_clock;
    Disconnect();
    if (FPort < 0 || FPort > 65535)
        throw ETcpError(QStringLiteral("Invalid port %1").arg(FPort));
    const auto start = Clock::now();

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    AddrInfoList addrs;
    const QByteArray service = QByteArray::number(FPort);
    const int gai = ::getaddrinfo(FHost.constData(), service.constData(), &hints, &addrs.List);
    if (gai != 0)
        throw ETcpError(QStringLiteral("Host not found: %1 (%2)")
                            .arg(QString::fromLatin1(FHost), QString::fromLocal8Bit(::gai_strerror(gai))));

    int lastError = ECONNREFUSED;
    std::vector<pollfd> fds;
    for (addrinfo *a = addrs.List; a; a = a->ai_next) {
        int waitMs = -1;
        if (FConnectTimeout > 0) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            if (spent >= FConnectTimeout)
                throw ETcpTimeout(QStringLiteral("Connect timed out."));
            waitMs = static_cast<int>(FConnectTimeout - spent);
        }
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (r < 0 && errno == EINPROGRESS) {
            fds.assign(1, pollfd{fd, POLLOUT, 0});
            try {
                r = PollOrStop(fds, waitMs, StopSignal());
            } catch (...) {
                ::close(fd);
                throw;
            }
            if (r == 0) {
                ::close(fd);
                throw ETcpTimeout(QStringLiteral("Connect timed out."));
            }
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            r = err == 0 ? 0 : -1;
            errno = err;
        }
        if (r < 0) {
            lastError = errno;
            ::close(fd);
            continue;
        }
        // Requests and tunnel heads are written in several small pieces; do not let Nagle hold
        // them back waiting for acknowledgements.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Attach(fd);
        return;
    }
    RaiseSocketError(lastError);
}
