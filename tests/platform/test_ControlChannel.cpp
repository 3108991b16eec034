// The command line's side of the control protocol against scripted peers on a Unix socket.

#include "platform/ControlChannel.h"
#include "platform/SysUtils.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// Accepts one connection, reads the request line, then plays Script with it.
class ScriptedControlPeer {
public:
    using TScript = std::function<void(int Fd, const QByteArray &Request)>;
    ScriptedControlPeer(const QString &Path, TScript Script) {
        FListen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un A{};
        A.sun_family = AF_UNIX;
        const QByteArray P = QFile::encodeName(Path);
        std::memcpy(A.sun_path, P.constData(), static_cast<size_t>(P.size()));
        EXPECT_EQ(::bind(FListen, reinterpret_cast<sockaddr *>(&A), sizeof A), 0);
        EXPECT_EQ(::listen(FListen, 4), 0);
        FThread = std::thread([this, Script] {
            const int Fd = ::accept(FListen, nullptr, nullptr);
            if (Fd < 0)
                return;
            QByteArray Line;
            char c;
            while (!Line.endsWith('\n') && ::read(Fd, &c, 1) == 1)
                Line += c;
            FRequest = Line;
            Script(Fd, Line);
            // Hold the connection until the client has gone, so "no answer" stays no answer.
            pollfd P{Fd, POLLIN, 0};
            while (::poll(&P, 1, 5000) > 0 && ::read(Fd, &c, 1) > 0) {
            }
            ::close(Fd);
        });
    }
    ~ScriptedControlPeer() {
        ::shutdown(FListen, SHUT_RDWR);
        FThread.join();
        ::close(FListen);
    }
    QByteArray Request() const { return FRequest; }

private:
    int FListen = -1;
    std::thread FThread;
    QByteArray FRequest;
};

// The client may hang up half-way through (that is what some cases are about): no checks here.
void Send(int Fd, const QByteArray &B) {
    [[maybe_unused]] auto n = ::send(Fd, B.constData(), B.size(), MSG_NOSIGNAL);
}

TEST(ControlChannel, ReadsTheAnswerLine) {
    struct TCase {
        const char *Why;
        QByteArray Sent;
        bool Ok;
        QByteArray Payload;
    } Cases[] = {
        {"state", "OK {\"Enabled\":true}\n", true, "{\"Enabled\":true}"},
        {"in pieces, CR LF", "OK {\"a\"", true, "{\"a\":1}"},
        {"refusal", "ERROR 9.9.9.9:1 is not in the proxy menu\n", false, "9.9.9.9:1 is not in the proxy menu"},
    };
    for (const TCase &C : Cases) {
        QTemporaryDir Dir;
        const QString Path = Dir.filePath(QStringLiteral("ctl.sock"));
        const bool Pieces = QByteArray(C.Why).startsWith("in pieces");
        ScriptedControlPeer Peer(Path, [&](int Fd, const QByteArray &) {
            Send(Fd, C.Sent);
            if (Pieces)
                Send(Fd, ":1}\r\n");
        });
        const TControlReply R = ControlRequest(Path, "use 9.9.9.9:1", 5000);
        EXPECT_EQ(R.Ok, C.Ok) << C.Why;
        EXPECT_EQ(R.Payload, C.Payload) << C.Why;
        EXPECT_EQ(Peer.Request(), QByteArray("use 9.9.9.9:1\n")) << C.Why;
    }
}

TEST(ControlChannel, AFailedExchangeIsAnErrorWithAReason) {
    struct TCase {
        const char *Why;
        QByteArray Sent; // what the peer answers before it stops talking
        const char *Reason;
    } Cases[] = {
        {"closed without an answer", "", "closed the connection"},
        {"no answer in time", "OK {", "did not answer in time"},
        {"not the protocol", "HTTP/1.1 200 OK\r\n", "does not understand"},
        {"endless line", QByteArray(kControlMaxReply + 10, 'x'), "too long"},
    };
    for (const TCase &C : Cases) {
        QTemporaryDir Dir;
        const QString Path = Dir.filePath(QStringLiteral("ctl.sock"));
        const bool Close = C.Sent.isEmpty();
        ScriptedControlPeer Peer(Path, [&](int Fd, const QByteArray &) {
            if (!C.Sent.isEmpty())
                Send(Fd, C.Sent);
            if (Close)
                ::shutdown(Fd, SHUT_WR);
        });
        try {
            ControlRequest(Path, "status", 300);
            ADD_FAILURE() << C.Why << ": no error";
        } catch (const Exception &E) {
            EXPECT_TRUE(E.Message().contains(QLatin1String(C.Reason))) << C.Why << ": " << E.Message().toStdString();
        }
    }
}

TEST(ControlChannel, NothingListeningMeansTheProgramIsNotRunning) {
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("ctl.sock"));
    try {
        ControlRequest(Path, "status", 1000);
        ADD_FAILURE() << "no error";
    } catch (const Exception &E) {
        EXPECT_TRUE(E.Message().contains(QLatin1String("not running"))) << E.Message().toStdString();
    }
    // A request that is not one line never leaves this side.
    EXPECT_THROW(ControlRequest(Path, "status\nenable", 1000), Exception);
    EXPECT_THROW(ControlRequest(Path, QByteArray(kControlMaxRequest, 'a'), 1000), Exception);
}

} // namespace
