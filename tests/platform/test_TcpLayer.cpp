// The TCP layer under the relay: socket lists, the buffered connection, the client's connect and
// the threaded server with its hooks and its switch-off.

#include "platform/SocketList.h"
#include "platform/StopSignal.h"
#include "platform/TcpClient.h"
#include "platform/TcpServer.h"
#include "tests/support/TestSupport.h"

#include <QStringList>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct SocketPair {
    SocketPair() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, Fd); }
    ~SocketPair() {
        for (int fd : Fd)
            if (fd >= 0)
                ::close(fd);
    }
    int Fd[2] = {-1, -1};
};

TEST(SocketList, AddsOnceRemovesAndWaitsForReadableMembers) {
    SocketPair a, b;
    TSocketList list, readable;
    list.Add(a.Fd[0]);
    list.Add(a.Fd[0]);
    list.Add(b.Fd[0]);
    list.Add(-1);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.Contains(b.Fd[0]));

    EXPECT_FALSE(list.SelectReadList(readable, 10));
    EXPECT_TRUE(readable.IsEmpty());

    ASSERT_EQ(::write(b.Fd[1], "x", 1), 1);
    EXPECT_TRUE(list.SelectReadList(readable, 1000));
    EXPECT_EQ(readable.Count(), 1);
    EXPECT_TRUE(readable.Contains(b.Fd[0]));

    list.Remove(b.Fd[0]);
    EXPECT_FALSE(list.Contains(b.Fd[0]));
    EXPECT_FALSE(list.SelectReadList(readable, 10));
}

TEST(SocketList, AWaitEndsWhenTheStopSignalIsSet) {
    SocketPair a;
    TStopSignal stop;
    TSocketList list, readable;
    list.SetStopSignal(&stop);
    list.Add(a.Fd[0]);
    std::thread setter([&] { stop.Set(); });
    EXPECT_THROW(list.SelectReadList(readable, 60000), ETcpStopped);
    setter.join();
    stop.Reset();
    EXPECT_FALSE(list.SelectReadList(readable, 10));
}

TEST(TcpConnection, StaysConnectedWhileBytesAreBuffered) {
    SocketPair p;
    TTcpConnection c(p.Fd[0]);
    p.Fd[0] = -1; // the connection closes it
    ASSERT_EQ(::write(p.Fd[1], "abc", 3), 3);
    ::close(p.Fd[1]);
    p.Fd[1] = -1;
    EXPECT_EQ(c.ReadAvailable(), 3);
    EXPECT_EQ(c.ReadAvailable(), 0); // the end of the stream
    EXPECT_TRUE(c.Connected());
    EXPECT_FALSE(c.InputBufferIsEmpty());
    EXPECT_EQ(c.ExtractAll(), QByteArray("abc"));
    EXPECT_FALSE(c.Connected());
    EXPECT_GE(c.Handle(), 0) << "the descriptor stays until Disconnect, so lists never hold a reused number";
    c.Disconnect();
    EXPECT_EQ(c.Handle(), -1);
    EXPECT_THROW(c.Write(QByteArray("x")), ETcpError);
}

TEST(TcpConnection, AWriteToAClosedPeerRaisesInsteadOfKillingTheProcess) {
    SocketPair p;
    TTcpConnection c(p.Fd[0]);
    p.Fd[0] = -1;
    ::close(p.Fd[1]);
    p.Fd[1] = -1;
    EXPECT_THROW(c.Write(QByteArray(100000, 'x')), ETcpError);
}

TEST(TcpConnection, ABlockedWriteEndsWhenTheStopSignalIsSet) {
    SocketPair p;
    TStopSignal stop;
    TTcpConnection c(p.Fd[0]);
    p.Fd[0] = -1;
    c.SetStopSignal(&stop);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop.Set();
    });
    // Nobody reads the other end: the write fills the socket and waits until the stop.
    EXPECT_THROW(c.Write(QByteArray(64 * 1024 * 1024, 'x')), ETcpStopped);
    setter.join();
}

// Tunnels forward socket to socket through a kernel pipe: every byte arrives, in order, also when
// the target is slower than the source and the pipe fills; the source's end of stream closes it;
// a target that is gone raises rather than dropping bytes silently.
TEST(TcpConnection, SpliceForwardsEveryByteInOrderAndReportsTheEnds) {
    SocketPair from, to;
    TTcpConnection source(from.Fd[0]), target(to.Fd[0]);
    from.Fd[0] = to.Fd[0] = -1;
    QByteArray sent(3 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < sent.size(); ++i)
        sent[i] = char(i * 7 + i / 4096);
    QByteArray received;
    std::thread reader([&] {
        char buf[8192];
        for (;;) {
            pollfd p{to.Fd[1], POLLIN, 0};
            ::poll(&p, 1, 5000);
            const ssize_t n = ::read(to.Fd[1], buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EAGAIN))
                break;
            if (n > 0)
                received.append(buf, n);
        }
    });
    std::thread writer([&] {
        qsizetype at = 0;
        while (at < sent.size()) {
            const ssize_t n = ::write(from.Fd[1], sent.constData() + at, size_t(sent.size() - at));
            if (n > 0)
                at += n;
            else {
                pollfd p{from.Fd[1], POLLOUT, 0};
                ::poll(&p, 1, 1000);
            }
        }
        ::shutdown(from.Fd[1], SHUT_WR);
    });
    TSocketList list, readable;
    list.Add(source.Handle());
    qsizetype moved = 0;
    while (source.Connected())
        if (list.SelectReadList(readable, 5000))
            moved += source.SpliceTo(target);
    writer.join();
    target.Disconnect(); // the reader sees the end
    reader.join();
    EXPECT_EQ(moved, sent.size());
    EXPECT_TRUE(received == sent) << "received " << received.size() << " of " << sent.size() << " bytes";
    EXPECT_EQ(source.SpliceTo(target), 0) << "nothing more after the end of the stream";

    SocketPair from2, gone;
    TTcpConnection source2(from2.Fd[0]), target2(gone.Fd[0]);
    from2.Fd[0] = gone.Fd[0] = -1;
    ::close(gone.Fd[1]);
    gone.Fd[1] = -1;
    ASSERT_EQ(::write(from2.Fd[1], "abc", 3), 3);
    EXPECT_THROW(source2.SpliceTo(target2), ETcpError);
}

TEST(TcpClient, ConnectsAndReportsRefusalsAndBadPorts) {
    TTcpClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(testsupport::FreeTcpPort());
    client.SetConnectTimeout(5000);
    EXPECT_THROW(client.Connect(), ETcpError);
    EXPECT_FALSE(client.Connected());
    client.SetPort(70000);
    EXPECT_THROW(client.Connect(), ETcpError);
    client.SetHost("no-such-host.invalid");
    client.SetPort(80);
    EXPECT_THROW(client.Connect(), ETcpError);
}

// An echo server whose hooks write down what they saw.
class EchoServer : public TTcpServer {
public:
    std::mutex Lock;
    QStringList Calls;
    std::atomic<int> Steps{0};
    std::set<pid_t> ThreadIds; // the system's ids of the threads that served connections

protected:
    void Note(const char *What) {
        std::lock_guard<std::mutex> guard(Lock);
        Calls << QString::fromLatin1(What);
    }
    void ContextCreated(TTcpServerContext *) override { Note("created"); }
    void DoConnect(TTcpServerContext *C) override {
        Note("connected");
        {
            std::lock_guard<std::mutex> guard(Lock);
            ThreadIds.insert(::gettid());
        }
        TTcpServer::DoConnect(C);
    }
    void DoDisconnect(TTcpServerContext *C) override {
        Note("done");
        TTcpServer::DoDisconnect(C);
    }
    bool DoExecute(TTcpServerContext *C) override {
        ++Steps;
        TSocketList list, readable;
        list.SetStopSignal(C->StopSignal());
        list.Add(C->Connection()->Handle());
        if (list.SelectReadList(readable, 1000))
            C->Connection()->ReadAvailable();
        if (!C->Connection()->InputBufferIsEmpty())
            C->Connection()->Write(C->Connection()->ExtractAll());
        return C->Connection()->Connected();
    }
};

TEST(TcpServer, ServesEachConnectionInItsOwnThreadAndEndsThemAllWhenSwitchedOff) {
    EchoServer server, other; // each holds its stop signal's descriptor from the start
    const int fdsBefore = testsupport::OpenFdCount();
    const int threadsBefore = testsupport::ThreadCount();
    server.Bindings().append(TSocketBinding{QStringLiteral("127.0.0.1"), 0});
    server.SetActive(true);
    const int port = server.Bindings()[0].Port;
    ASSERT_GT(port, 0);

    TTcpClient a, b;
    for (TTcpClient *c : {&a, &b}) {
        c->SetHost("127.0.0.1");
        c->SetPort(port);
        c->Connect();
        c->Write(QByteArray("ping"));
    }
    TSocketList list, readable;
    for (TTcpClient *c : {&a, &b}) {
        list.Clear();
        list.Add(c->Handle());
        while (c->InputBufferIsEmpty() && list.SelectReadList(readable, 5000))
            c->ReadAvailable();
        EXPECT_EQ(c->ExtractAll(), QByteArray("ping"));
    }
    EXPECT_EQ(server.ConnectionCount(), 2);

    // A second server on the same address cannot bind and stays off.
    other.Bindings().append(TSocketBinding{QStringLiteral("127.0.0.1"), port});
    EXPECT_THROW(other.SetActive(true), Exception);
    EXPECT_FALSE(other.Active());

    server.SetActive(false);
    EXPECT_EQ(server.ConnectionCount(), 0);
    for (TTcpClient *c : {&a, &b}) {
        list.Clear();
        list.Add(c->Handle());
        while (c->Connected() && list.SelectReadList(readable, 5000))
            c->ReadAvailable();
        EXPECT_FALSE(c->Connected()) << "the server closed the connection";
        c->Disconnect();
    }
    EXPECT_EQ(server.Calls.count(QStringLiteral("created")), 2);
    EXPECT_EQ(server.Calls.count(QStringLiteral("connected")), 2);
    EXPECT_EQ(server.Calls.count(QStringLiteral("done")), 2);
    EXPECT_EQ(testsupport::OpenFdCount(), fdsBefore);
    EXPECT_EQ(testsupport::ThreadCount(), threadsBefore);

    // Switched on again, it serves new connections on the same port.
    server.SetActive(true);
    EXPECT_EQ(server.Bindings()[0].Port, port);
    a.Connect();
    a.Write(QByteArray("again"));
    list.Clear();
    list.Add(a.Handle());
    while (a.InputBufferIsEmpty() && list.SelectReadList(readable, 5000))
        a.ReadAvailable();
    EXPECT_EQ(a.ExtractAll(), QByteArray("again"));
}

// Sends Text on a new connection to Port and returns the echo.
QByteArray EchoOnce(int Port, const QByteArray &Text) {
    TTcpClient c;
    c.SetHost("127.0.0.1");
    c.SetPort(Port);
    c.Connect();
    c.Write(Text);
    TSocketList list, readable;
    list.Add(c.Handle());
    while (c.InputBufferIsEmpty() && list.SelectReadList(readable, 5000))
        c.ReadAvailable();
    return c.ExtractAll();
}

bool WaitForConnections(const TTcpServer &Server, int Count) {
    for (int i = 0; i < 500 && Server.ConnectionCount() != Count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Server.ConnectionCount() == Count;
}

TEST(TcpServer, ConnectionsOneAfterAnotherReuseTheThreadOfTheLast) {
    EchoServer server;
    const int threadsBefore = testsupport::ThreadCount();
    server.Bindings().append(TSocketBinding{QStringLiteral("127.0.0.1"), 0});
    server.SetActive(true);
    const int port = server.Bindings()[0].Port;
    for (int i = 0; i < 30; ++i) {
        const QByteArray text = "ping " + QByteArray::number(i);
        ASSERT_EQ(EchoOnce(port, text), text);
        ASSERT_TRUE(WaitForConnections(server, 0)) << i;
    }
    // One thread served them all (a second at most, if one came while the first was ending).
    EXPECT_LE(server.ThreadIds.size(), 2u);
    EXPECT_LE(testsupport::ThreadCount(), threadsBefore + 3); // with the acceptor

    // Two connections at once still get a thread each: the first holds its thread while the
    // second is served.
    TTcpClient held;
    held.SetHost("127.0.0.1");
    held.SetPort(port);
    held.Connect();
    held.Write(QByteArray("held"));
    TSocketList list, readable;
    list.Add(held.Handle());
    while (held.InputBufferIsEmpty() && list.SelectReadList(readable, 5000))
        held.ReadAvailable();
    EXPECT_EQ(held.ExtractAll(), QByteArray("held"));
    EXPECT_EQ(EchoOnce(port, "second"), QByteArray("second"));
    EXPECT_TRUE(WaitForConnections(server, 1));

    // Switching off ends the waiting threads too.
    server.SetActive(false);
    EXPECT_EQ(testsupport::ThreadCount(), threadsBefore);
    EXPECT_EQ(server.Calls.count(QStringLiteral("connected")), 32);
    EXPECT_EQ(server.Calls.count(QStringLiteral("done")), 32);
}

} // namespace
