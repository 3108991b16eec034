// The relay under load: many concurrent clients, some of which give up early, and the relay
// switched off and on while they run. Nothing may crash, every request is answered or cleanly
// closed, and every descriptor and thread the relay made is gone afterwards.

#include "relay/ProxyServer.h"
#include "tests/e2e/RelayPeers.h"

#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <unistd.h>

using namespace relaytest;
using testsupport::OpenFdCount;
using testsupport::ThreadCount;

namespace {

// Requests of the main soak; RELAY_SOAK_REQUESTS overrides it for longer runs by hand.
int SoakRequests() {
    const QByteArray env = qgetenv("RELAY_SOAK_REQUESTS");
    return env.isEmpty() ? 20000 : env.toInt();
}

QByteArray Request(int OriginPort, int Bytes) {
    const QByteArray authority = "localhost:" + QByteArray::number(OriginPort);
    return "GET http://" + authority + "/bytes/" + QByteArray::number(Bytes) + " HTTP/1.1\r\nHost: " + authority +
           "\r\nConnection: close\r\n\r\n";
}

// True when Reply is a whole 200 answer with a body of Bytes bytes.
bool Complete(const QByteArray &Reply, int Bytes) {
    const qsizetype body = Reply.indexOf("\r\n\r\n");
    return Reply.startsWith("HTTP/1.1 200 ") && body > 0 && Reply.size() - body - 4 == Bytes;
}

struct Tally {
    std::atomic<int> Answered{0};
    std::atomic<int> GaveUp{0};  // the client left early on purpose
    std::atomic<int> Cut{0};     // closed by the relay before the answer was whole
    std::atomic<int> Refused{0}; // no relay listening
};

// One request of a client with a random manner: most read their answer to the end, some give up
// before sending anything, half-way through the request, or half-way through the answer.
void OneRequest(int RelayPort, int OriginPort, std::mt19937 &Rng, Tally &T) {
    const int fd = ConnectTo(RelayPort);
    if (fd < 0) {
        ++T.Refused;
        return;
    }
    const int manner = static_cast<int>(Rng() % 20);
    const int bytes = manner == 3 ? 256 * 1024 : 1000 + static_cast<int>(Rng() % 3000);
    const QByteArray request = Request(OriginPort, bytes);
    if (manner == 0) {
        ++T.GaveUp;
    } else if (manner == 1) {
        SendAll(fd, request.left(request.size() / 2));
        ++T.GaveUp;
    } else if (manner == 2) {
        SendAll(fd, request);
        ++T.GaveUp;
    } else if (manner == 3) {
        SendAll(fd, request);
        ReadUntil(fd, "\r\n\r\n", 10000);
        ++T.GaveUp;
    } else {
        SendAll(fd, request);
        bool closed = false;
        const QByteArray reply = ReadUntilClosed(fd, 30000, &closed);
        if (closed && Complete(reply, bytes))
            ++T.Answered;
        else
            ++T.Cut;
    }
    ::close(fd);
}

class RelaySoak : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(origin.Start());
        fdsBefore = OpenFdCount();
        threadsBefore = ThreadCount();
    }
    void StartRelay() {
        relay.Bindings().append(TSocketBinding{QStringLiteral("127.0.0.1"), 0});
        relay.SetActive(true);
        port = relay.Bindings()[0].Port;
    }

    Origin origin;
    int fdsBefore = 0;
    int threadsBefore = 0;
    TProxyServer relay;
    int port = 0;
};

TEST_F(RelaySoak, ManyClientsWithEarlyDisconnectsLeaveNothingBehind) {
    StartRelay();
    const int requests = SoakRequests();
    constexpr int Clients = 64;
    std::atomic<int> next{0};
    Tally t;
    std::vector<std::thread> clients;
    for (int i = 0; i < Clients; ++i)
        clients.emplace_back([&, i] {
            std::mt19937 rng(7919u * static_cast<unsigned>(i + 1));
            while (next++ < requests)
                OneRequest(port, origin.Port(), rng, t);
        });
    for (auto &c : clients)
        c.join();

    EXPECT_EQ(t.Cut.load(), 0);
    EXPECT_EQ(t.Refused.load(), 0);
    EXPECT_EQ(t.Answered + t.GaveUp, requests);
    EXPECT_GT(t.Answered.load(), requests * 3 / 4);
    // Connections that were given up end within the relay's one-second wait.
    relay.SetActive(false);
    EXPECT_EQ(relay.ConnectionCount(), 0);
    EXPECT_EQ(OpenFdCount(), fdsBefore);
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(RelaySoak, SwitchingOffUnderLoadEndsEveryConnectionAndOnServesAgain) {
    StartRelay();
    std::atomic<bool> stop{false};
    Tally t;
    std::vector<std::thread> clients;
    for (int i = 0; i < 32; ++i)
        clients.emplace_back([&, i] {
            std::mt19937 rng(104729u * static_cast<unsigned>(i + 1));
            while (!stop) {
                const int refusedBefore = t.Refused;
                OneRequest(port, origin.Port(), rng, t);
                // While the relay is off, do not hammer the closed port.
                if (t.Refused != refusedBefore)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    auto answeredAtLeast = [&](int n) {
        for (int i = 0; i < 3000 && t.Answered < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return t.Answered >= n;
    };
    ASSERT_TRUE(answeredAtLeast(500));

    // Idle tunnels that only the switch-off can end.
    const QByteArray authority = "localhost:" + QByteArray::number(origin.Port());
    std::vector<int> tunnels;
    for (int i = 0; i < 8; ++i) {
        const int fd = ConnectTo(port);
        ASSERT_GE(fd, 0);
        SendAll(fd, "CONNECT " + authority + " HTTP/1.1\r\n\r\n");
        ASSERT_EQ(ReadUntil(fd, "\r\n\r\n", 10000), "HTTP/1.1 200 Connection established\r\n\r\n");
        tunnels.push_back(fd);
    }

    relay.SetActive(false);
    EXPECT_EQ(relay.ConnectionCount(), 0);
    for (int fd : tunnels) {
        bool closed = false;
        EXPECT_EQ(ReadUntilClosed(fd, 5000, &closed), QByteArray());
        EXPECT_TRUE(closed);
        ::close(fd);
    }

    const int answeredWhileOff = t.Answered;
    relay.SetActive(true);
    EXPECT_EQ(relay.Bindings()[0].Port, port);
    EXPECT_TRUE(answeredAtLeast(answeredWhileOff + 500));
    stop = true;
    for (auto &c : clients)
        c.join();

    relay.SetActive(false);
    EXPECT_EQ(relay.ConnectionCount(), 0);
    EXPECT_EQ(OpenFdCount(), fdsBefore);
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

} // namespace
