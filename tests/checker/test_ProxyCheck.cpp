// The worker's outcome table through small proxies of the test's own, a local origin and a local
// judge that follows the judge protocol.

#include "checker/Marlo.Common.ProxyTest.h"
#include "tests/checker/CheckerTestJob.h"
#include "tests/checker/CheckerTestPeers.h"
#include "tests/checker/QtPrinters.h"

#include <QElapsedTimer>

using namespace checkerpeers;

namespace {

constexpr const char *Keyword = "liveness-keyword";
constexpr const char *SecureKeyword = "secure-keyword";

struct WorkerTest : ::testing::Test {
    WorkerTest() : tls(true) {
        origin.Page("/page", std::string("<html><body>") + Keyword + "</body></html>");
        origin.Page("/big", std::string(200000, 'z'), "application/octet-stream");
        tls.Page("/pay", std::string("<html>") + SecureKeyword + "</html>", "text/html; charset=utf-8");
        judgeUrl = judge.Url();
        speedUrl = origin.Url("/big");
        test.SetHttpsTimeout(5);
    }
    // The sites go in at the first start, so that a test can change them before.
    void Register() {
        if (registered)
            return;
        registered = true;
        test.AddTypeSiteUrl(judgeUrl);
        test.AddHttpSiteUrl(origin.Url("/page"), QLatin1String(Keyword));
        test.AddSpeedSiteUrl(speedUrl);
        test.AddHttpsSiteUrl(tls.Url("/pay"), QLatin1String(SecureKeyword));
    }
    TProxtData *Proxy(int Port) {
        TProxtData *p = list.Add(QString(), QString(), 0, QStringLiteral("127.0.0.1"), Port);
        test.AddProxyServer(p);
        return p;
    }
    void Run(TTests Tests, int Threads = 4) {
        Register();
        test.CheckProxyServer(Tests, 5000, 5000, quint8(Threads));
        ASSERT_TRUE(rec.WaitForJobEnd());
        ASSERT_EQ(rec.jobEnds, 1);
    }
    static TTests All() { return {ttDeadOrAlive, ttTest1, ttHttps, ttSpeed}; }
    static int DeadPort() {
        TRawServer s([](int) {});
        const int port = s.Port();
        s.Stop();
        return port;
    }

    TTestJudge judge;
    TTestOrigin origin;
    TTestOrigin tls;
    QString judgeUrl, speedUrl;
    bool registered = false;
    TProxyCollection list;
    TKvProxyTest test;
    TJobRecorder rec{test};
};

struct TExpect {
    TTriState alive, transparent, anonymous, elite, botnet, httpGet, httpPost, httpsGet;
    double ping;
    bool tested;
};

void Check(const TProxtData *p, const TExpect &e, const char *what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(p->Alive(), e.alive);
    EXPECT_EQ(p->Tranparent(), e.transparent);
    EXPECT_EQ(p->Anonymous(), e.anonymous);
    EXPECT_EQ(p->Elite(), e.elite);
    EXPECT_EQ(p->Botnet(), e.botnet);
    EXPECT_EQ(p->HttpGet(), e.httpGet);
    EXPECT_EQ(p->HttpPost(), e.httpPost);
    EXPECT_EQ(p->HttpsGet(), e.httpsGet);
    EXPECT_EQ(p->HttpsPost(), e.httpsGet);
    EXPECT_DOUBLE_EQ(p->Ping(), e.ping);
    EXPECT_EQ(p->Tested(), e.tested);
}

} // namespace

TEST_F(WorkerTest, OutcomesThroughWorkingBrokenAndDeadProxies) {
    TFakeProxy elite(TProxyMode::Forward);
    TFakeProxy anonymous(TProxyMode::Forward);
    anonymous.ExtraHeaders << "Via: 1.1 fakeproxy";
    TFakeProxy transparent(TProxyMode::Forward);
    transparent.ExtraHeaders << "X-Forwarded-For: 127.0.0.1";
    TFakeProxy noConnect(TProxyMode::RefuseConnect);
    TFakeProxy wrongPage(TProxyMode::Canned);
    const int dead = DeadPort();

    TProxtData *pElite = Proxy(elite.Port());
    TProxtData *pAnon = Proxy(anonymous.Port());
    TProxtData *pTrans = Proxy(transparent.Port());
    TProxtData *pNoConnect = Proxy(noConnect.Port());
    TProxtData *pWrong = Proxy(wrongPage.Port());
    TProxtData *pDead = Proxy(dead);
    // A dead proxy keeps its Tested flag from earlier jobs.
    pDead->SetTested(true);
    pDead->SetElite(tsTrue);
    pDead->SetSpeed(5000);
    // A proxy dead in an earlier job that now passes: its old record is void.
    TFakeProxy revived(TProxyMode::Forward);
    TProxtData *pRevived = Proxy(revived.Port());
    pRevived->SetTested(true);
    pRevived->SetAlive(tsFalse);
    pRevived->SetHttpsGet(tsFalse);

    Run(All());

    const TTriState U = tsUnknown, T = tsTrue, F = tsFalse;
    Check(pElite, {T, F, F, T, F, T, T, T, 0.25, true}, "elite");
    Check(pAnon, {T, F, T, F, F, T, T, T, 0.25, true}, "anonymous");
    Check(pTrans, {T, T, F, F, F, T, T, T, 0.25, true}, "transparent");
    Check(pNoConnect, {T, F, F, T, F, T, T, F, 0.25, true}, "HTTPS refused");
    Check(pWrong, {F, U, U, U, U, U, U, U, -1, false}, "keyword missing");
    Check(pDead, {F, U, U, U, U, U, U, U, -1, true}, "dead");
    Check(pRevived, {U, F, F, T, F, T, T, T, 0.25, true}, "revived");
    EXPECT_EQ(pWrong->Speed(), -1);
    EXPECT_EQ(pDead->Speed(), -1);
    for (TProxtData *p : {pElite, pAnon, pTrans, pNoConnect, pRevived})
        EXPECT_TRUE(p->Speed() > 0 || p->Speed() == -2) << p->Port();
    // Each proxy was reported pending, checking and done exactly once.
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(rec.Count(list.Items(i), caPending), 1);
        EXPECT_EQ(rec.Count(list.Items(i), caChacking), 1);
        EXPECT_EQ(rec.Count(list.Items(i), caDone), 1);
    }
    // The judge test always ran with "&proxy=" under ttTest1.
    EXPECT_NE(judge.LastQuery().find("proxy=127.0.0.1:"), std::string::npos);
}

TEST_F(WorkerTest, JudgeReplyWithoutMarkerChangesNothing) {
    judge.Mode = TJudgeMode::NoMarker;
    TFakeProxy proxy(TProxyMode::Forward);
    TProxtData *p = Proxy(proxy.Port());
    p->SetTranparent(tsTrue);
    p->SetPing(3.5);
    p->SetBotnet(tsTrue);
    Run({ttDeadOrAlive, ttTest1});
    Check(p, {tsTrue, tsTrue, tsUnknown, tsUnknown, tsTrue, tsUnknown, tsUnknown, tsUnknown, 3.5, true}, "no marker");
}

TEST_F(WorkerTest, FailedJudgeExchangesMarkThePostAndPingFailed) {
    for (TJudgeMode mode : {TJudgeMode::Error, TJudgeMode::ShortReply}) {
        judge.Mode = mode;
        TFakeProxy proxy(TProxyMode::Forward);
        list.Clear();
        test.ClearProxyList();
        rec.jobEnds = 0;
        TProxtData *p = Proxy(proxy.Port());
        p->SetElite(tsTrue);
        Run({ttDeadOrAlive, ttTest1});
        Check(p, {tsTrue, tsUnknown, tsUnknown, tsUnknown, tsFalse, tsFalse, tsFalse, tsUnknown, -2, true},
              mode == TJudgeMode::Error ? "judge error" : "short reply");
    }
}

TEST_F(WorkerTest, JudgeTestWithoutBotnetQueryOnlyForUntestedProxies) {
    TFakeProxy proxy(TProxyMode::Forward);
    TProxtData *fresh = Proxy(proxy.Port());
    TProxtData *known = Proxy(proxy.Port());
    known->SetTested(true);
    known->SetAlive(tsTrue);
    Run({ttDeadOrAlive, ttTest1NoBootnet}, 1);
    EXPECT_EQ(judge.Tests.load(), 1);
    EXPECT_EQ(judge.LastQuery().find("proxy="), std::string::npos);
    EXPECT_EQ(fresh->HttpGet(), tsTrue);
    EXPECT_EQ(known->HttpGet(), tsUnknown);
    EXPECT_TRUE(known->Tested());
}

TEST_F(WorkerTest, SpeedFailuresGiveMinusTwo) {
    // The speed page is missing at the origin: the download fails.
    speedUrl = origin.Url("/missing");
    TFakeProxy proxy(TProxyMode::Forward);
    TProxtData *p = Proxy(proxy.Port());
    Run({ttDeadOrAlive, ttSpeed});
    EXPECT_EQ(p->Speed(), -2);
    EXPECT_TRUE(p->Tested());
}

namespace {

// A worker whose speed clock never moves: the download takes "no time".
class TFrozenClockWorker : public TProxyCheck {
public:
    using TProxyCheck::TProxyCheck;
    ~TFrozenClockWorker() override { wait(); }

protected:
    qint64 SpeedClockMs() override { return 1234; }
};

class TFrozenClockScheduler : public TKvProxyTest {
protected:
    TProxyCheck *CreateWorker() override { return new TFrozenClockWorker(this); }
};

} // namespace

TEST(WorkerSpeed, DownloadWithinOneClockTickGivesMinusTwo) {
    TTestJudge judge;
    TTestOrigin origin;
    origin.Page("/page", Keyword);
    origin.Page("/big", "tiny");
    TFrozenClockScheduler test;
    test.AddTypeSiteUrl(judge.Url());
    test.AddHttpSiteUrl(origin.Url("/page"), QLatin1String(Keyword));
    test.AddSpeedSiteUrl(origin.Url("/big"));
    TFakeProxy proxy(TProxyMode::Forward);
    TProxyCollection list;
    TProxtData *p = list.Add(QString(), QString(), 0, QStringLiteral("127.0.0.1"), proxy.Port());
    test.AddProxyServer(p);
    TJobRecorder rec(test);
    test.CheckProxyServer({ttDeadOrAlive, ttSpeed}, 5000, 5000, 1);
    ASSERT_TRUE(rec.WaitForJobEnd());
    EXPECT_EQ(p->Speed(), -2);
}

TEST_F(WorkerTest, UnreachableJudgeMakesEveryWorkerFail) {
    judgeUrl = QStringLiteral("http://127.0.0.1:%1/type.php").arg(DeadPort());
    TFakeProxy proxy(TProxyMode::Forward);
    TProxtData *p = Proxy(proxy.Port());
    Run(All(), 3);
    EXPECT_EQ(rec.Count(nullptr, caError), 3);
    EXPECT_EQ(rec.Count(p, caChacking), 0);
    EXPECT_EQ(proxy.Requests(), 0);
}

TEST_F(WorkerTest, ProbeClockWithCommaIsNoNumber) {
    judge.ProbeClock = "1700000000,25";
    TFakeProxy proxy(TProxyMode::Forward);
    TProxtData *p = Proxy(proxy.Port());
    Run(All(), 2);
    EXPECT_EQ(rec.Count(nullptr, caError), 2);
    EXPECT_FALSE(p->Tested());
}

TEST_F(WorkerTest, ForcedStopClosesAHangingRequest) {
    TFakeProxy stall(TProxyMode::Stall);
    TProxtData *p = Proxy(stall.Port());
    Register();
    test.CheckProxyServer(All(), 600000, 600000, 1);
    ASSERT_TRUE(rec.SpinUntil([&] { return stall.Requests() == 1; }));
    test.StopTest(true, 50);
    ASSERT_TRUE(rec.WaitForJobEnd());
    EXPECT_EQ(rec.Count(p, caDone), 1);
    EXPECT_EQ(p->Alive(), tsUnknown); // the cut request says nothing about the proxy
    EXPECT_FALSE(p->Tested());
}
