#include "platform/ControlChannel.h"

#include "platform/InstanceLock.h"
#include "platform/StopSignal.h"
#include "platform/SysUtils.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

struct TFd {
    int Fd = -1;
    ~TFd() {
        if (Fd >= 0)
            ::close(Fd);
    }
};

} // namespace

QString ControlSocketPath() {
    return RuntimeFolder() + QStringLiteral("/ctl.sock");
}

TControlReply ControlRequest(const QString &SocketPath, const QByteArray &Request, int TimeoutMs) {
    if (Request.contains('\n') || Request.contains('\0'))
        throw Exception(QStringLiteral("a control request is one line"));
    if (Request.size() + 1 > kControlMaxRequest)
        throw Exception(QStringLiteral("the control request is too long"));
    const QByteArray Path = QFile::encodeName(SocketPath);
    sockaddr_un Addr{};
    Addr.sun_family = AF_UNIX;
    if (Path.size() >= static_cast<int>(sizeof Addr.sun_path))
        throw Exception(QStringLiteral("the control socket path is too long: %1").arg(SocketPath));
    std::memcpy(Addr.sun_path, Path.constData(), static_cast<size_t>(Path.size()));

    TFd S;
    S.Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (S.Fd < 0)
        RaiseLastOSError(errno, QStringLiteral("cannot create a socket"));
    if (::connect(S.Fd, reinterpret_cast<const sockaddr *>(&Addr), sizeof Addr) != 0) {
        const int Err = errno;
        if (Err == ENOENT || Err == ECONNREFUSED)
            throw Exception(QStringLiteral("relayvane is not running (nothing answers on %1)").arg(SocketPath));
        RaiseLastOSError(Err, QStringLiteral("cannot reach relayvane on %1").arg(SocketPath));
    }

    const QDeadlineTimer Deadline(TimeoutMs);
    auto Wait = [&](short Events) {
        std::vector<pollfd> P{pollfd{S.Fd, Events, 0}};
        if (PollOrStop(P, static_cast<int>(Deadline.remainingTime()), nullptr) == 0)
            throw Exception(QStringLiteral("relayvane did not answer in time"));
    };

    const QByteArray Line = Request + '\n';
    qsizetype Sent = 0;
    while (Sent < Line.size()) {
        Wait(POLLOUT);
        const ssize_t n = ::send(S.Fd, Line.constData() + Sent, static_cast<size_t>(Line.size() - Sent), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            RaiseLastOSError(errno, QStringLiteral("cannot send to relayvane"));
        }
        Sent += n;
    }

    QByteArray Answer;
    for (;;) {
        const int Nl = Answer.indexOf('\n');
        if (Nl >= 0) {
            Answer.truncate(Nl);
            break;
        }
        if (Answer.size() >= kControlMaxReply)
            throw Exception(QStringLiteral("relayvane's answer is too long"));
        Wait(POLLIN);
        char Buf[4096];
        const ssize_t n = ::recv(S.Fd, Buf, sizeof Buf, 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            RaiseLastOSError(errno, QStringLiteral("cannot read relayvane's answer"));
        }
        if (n == 0)
            throw Exception(QStringLiteral("relayvane closed the connection without an answer"));
        Answer.append(Buf, static_cast<qsizetype>(n));
    }
    if (Answer.endsWith('\r'))
        Answer.chop(1);
    TControlReply Reply;
    if (Answer == "OK" || Answer.startsWith("OK ")) {
        Reply.Ok = true;
        Reply.Payload = Answer.mid(3);
    } else if (Answer.startsWith("ERROR ")) {
        Reply.Payload = Answer.mid(6);
    } else {
        throw Exception(QStringLiteral("relayvane gave an answer this command does not understand"));
    }
    return Reply;
}
