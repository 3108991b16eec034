#include "platform/TcpConnection.h"

#include "platform/StopSignal.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {
// One read takes up to this much; a socket that fills it is read again, up to MaxReadsPerCall
// times, so a busy tunnel moves a few hundred KiB per wake-up without waiting on anybody.
constexpr qsizetype ReadChunk = 64 * 1024;
constexpr int MaxReadsPerCall = 4;
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
    qsizetype total = 0;
    for (int i = 0; i < MaxReadsPerCall; ++i) {
        const qsizetype old = FInput.size();
        FInput.resize(old + ReadChunk);
        ssize_t n;
        do {
            n = ::recv(FHandle, FInput.data() + old, ReadChunk, MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        FInput.resize(old + (n > 0 ? n : 0));
        if (n > 0) {
            total += n;
            if (n < ReadChunk)
                break;
            continue;
        }
        // A reset or any other failure ends the connection just as an orderly close does: the
        // caller sees Connected() turn false once the buffered bytes are taken.
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            FClosedGracefully = true;
        break;
    }
    return total;
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
