#include "platform/TcpConnection.h"

#include "platform/StopSignal.h"

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {
// The socket says how much it holds, and the buffer grows by exactly that (a request head costs a
// few hundred bytes, not a fixed chunk), up to this much per call: a relay that writes what it
// read before it reads again keeps both sides of a tunnel busy only with moderate pieces.
constexpr int MaxReadPerCall = 256 * 1024;
// What is read when the socket reports nothing: enough to see the end of the stream or a few bytes
// that arrived just now.
constexpr int MinRead = 16 * 1024;
} // namespace

ETcpStopped::ETcpStopped() : ETcpError(QStringLiteral("Connection closed: the server is stopping")) {}

void RaiseSocketError(int Err) {
    throw ETcpError(QStringLiteral("Socket Error # %1: %2").arg(Err).arg(QString::fromLocal8Bit(std::strerror(Err))));
}

TTcpConnection::TTcpConnection(int Handle) { Attach(Handle); }

TTcpConnection::~TTcpConnection() {
    if (FHandle >= 0)
        ::close(FHandle);
}

void TTcpConnection::Attach(int Handle) {
    Disconnect();
    FHandle = Handle;
    FClosedGracefully = false;
}

void TTcpConnection::Disconnect() {
    if (FHandle >= 0) {
        ::close(FHandle);
        FHandle = -1;
    }
    FClosedGracefully = false;
    FInput.clear();
}

QByteArray TTcpConnection::ExtractAll() { return std::exchange(FInput, QByteArray()); }

qsizetype TTcpConnection::ReadAvailable() {
    if (FHandle < 0 || FClosedGracefully)
        return 0;
    int available = 0;
    if (::ioctl(FHandle, FIONREAD, &available) != 0 || available <= 0)
        available = MinRead;
    const qsizetype want = available < MaxReadPerCall ? available : MaxReadPerCall;
    const qsizetype old = FInput.size();
    FInput.resize(old + want);
    ssize_t n;
    do {
        n = ::recv(FHandle, FInput.data() + old, static_cast<size_t>(want), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    FInput.resize(old + (n > 0 ? n : 0));
    // The end of the stream, a reset or any other failure ends the connection just as an orderly
    // close does: Connected() turns false once the buffered bytes are taken.
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
        FClosedGracefully = true;
    return n > 0 ? n : 0;
}

void TTcpConnection::Write(const char *Data, qsizetype Size) {
    if (FHandle < 0)
        throw ETcpError(QStringLiteral("Not Connected"));
    std::vector<pollfd> fds;
    while (Size > 0) {
        const ssize_t n = ::send(FHandle, Data, static_cast<size_t>(Size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            Data += n;
            Size -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            fds.assign(1, pollfd{FHandle, POLLOUT, 0});
            PollOrStop(fds, -1, FStop);
            continue;
        }
        RaiseSocketError(n < 0 ? errno : EPIPE);
    }
}
