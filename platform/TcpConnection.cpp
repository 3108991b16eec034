#include "platform/TcpConnection.h"

#include "platform/StopSignal.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
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
// The depth a tunnel's pipe grows to once a splice has filled it: a bulk transfer then moves a
// megabyte per round. Pipe depth counts against the user's pipe allowance (64 MiB by default, and
// beyond it every new pipe of the user's programs is cut to two pages), so a pipe stays at the
// system's default until its tunnel proves busy.
constexpr int SpliceChunk = 1024 * 1024;

// splice() into a socket whose peer is gone raises SIGPIPE, and unlike send() it takes no flag
// against that. A thread that splices keeps SIGPIPE blocked from its first splice on (only the
// relay's connection threads do), and a SIGPIPE left pending by a failed splice is taken off
// again, so EPIPE comes back as an error like every other.
void BlockSigpipeInThisThread() {
    thread_local bool blocked = false;
    if (blocked)
        return;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    blocked = true;
}

void DropPendingSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    const timespec now{0, 0};
    while (sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
    }
}
} // namespace

ETcpStopped::ETcpStopped() : ETcpError(QStringLiteral("Connection closed: the server is stopping")) {}

void RaiseSocketError(int Err) {
    throw ETcpError(QStringLiteral("Socket Error # %1: %2").arg(Err).arg(QString::fromLocal8Bit(std::strerror(Err))));
}

TTcpConnection::TTcpConnection(int Handle) {
    Attach(Handle);
}

TTcpConnection::~TTcpConnection() {
    if (FHandle >= 0)
        ::close(FHandle);
    ClosePipe();
}

void TTcpConnection::ClosePipe() {
    for (int &fd : FPipe)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    FPipeSize = 0;
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
    ClosePipe();
}

QByteArray TTcpConnection::ExtractAll() {
    return std::exchange(FInput, QByteArray());
}

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
            WaitWritable();
            continue;
        }
        RaiseSocketError(n < 0 ? errno : EPIPE);
    }
}

void TTcpConnection::WaitWritable() {
    std::vector<pollfd> fds{pollfd{FHandle, POLLOUT, 0}};
    PollOrStop(fds, -1, FStop);
}

qsizetype TTcpConnection::SpliceTo(TTcpConnection &Target) {
    if (FHandle < 0 || FClosedGracefully)
        return 0;
    if (Target.FHandle < 0)
        throw ETcpError(QStringLiteral("Not Connected"));
    if (FPipe[0] < 0) {
        if (::pipe2(FPipe, O_NONBLOCK | O_CLOEXEC) != 0)
            RaiseSocketError(errno);
        FPipeSize = ::fcntl(FPipe[1], F_GETPIPE_SZ);
        if (FPipeSize <= 0)
            FPipeSize = 64 * 1024;
    }
    ssize_t n;
    do {
        n = ::splice(FHandle, nullptr, FPipe[1], nullptr, size_t(FPipeSize), SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    } while (n < 0 && errno == EINTR);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
        FClosedGracefully = true;
    if (n <= 0)
        return 0;
    BlockSigpipeInThisThread();
    // Everything taken from the socket leaves the pipe before we return: nothing is ever left
    // behind in it, so a connection that ends has nothing unsent.
    for (ssize_t left = n; left > 0;) {
        const ssize_t m =
            ::splice(FPipe[0], nullptr, Target.FHandle, nullptr, size_t(left), SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (m > 0) {
            left -= m;
            continue;
        }
        if (m < 0 && errno == EINTR)
            continue;
        if (m < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            Target.WaitWritable();
            continue;
        }
        const int err = m < 0 ? errno : EPIPE;
        if (err == EPIPE)
            DropPendingSigpipe();
        RaiseSocketError(err);
    }
    // The pipe is empty again, so it can be made deeper now (where the system allows it).
    if (n >= FPipeSize && FPipeSize < SpliceChunk) {
        const int size = ::fcntl(FPipe[1], F_SETPIPE_SZ, SpliceChunk);
        if (size > FPipeSize)
            FPipeSize = size;
    }
    return n;
}
