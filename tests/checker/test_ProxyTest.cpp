// The scheduler with workers whose requests are fakes: no network, only the job's bookkeeping.

#include "checker/Marlo.Common.ProxyTest.h"
#include "checker/Marlo.Common.Shuffle.h"
#include "tests/checker/CheckerTestJob.h"
#include "tests/checker/QtPrinters.h"

#include <QElapsedTimer>
#include <condition_variable>
#include <mutex>

using namespace checkerpeers;

namespace {

std::atomic<int> LiveFakes{0};

// Lets the test hold workers inside their liveness request and release them.
struct TGate {
    std::mutex lock;
    std::condition_variable cv;
    bool open = true;
    int waiting = 0;
    void Close() {
        std::lock_guard<std::mutex> g(lock);
        open = false;
    }
    void Open() {
        std::lock_guard<std::mutex> g(lock);
        open = true;
        cv.notify_all();
    }
    int Waiting() {
        std::lock_guard<std::mutex> g(lock);
        return waiting;
    }
};

struct TFakeNet {
    bool probeFails = false;
    TGate gate;
    std::mutex lock;
    std::map<TProxtData *, QString> httpSite, httpsSite, speedSite;
};

class TFakeWorker : public TProxyCheck {
public:
    TFakeWorker(TKvProxyTest *Owner, TFakeNet &Net) : TProxyCheck(Owner), net(Net) { ++LiveFakes; }
    ~TFakeWorker() override {
        wait();
        --LiveFakes;
    }

protected:
    QByteArray ProbeGet(const QString &) override {
        if (net.probeFails)
            throw Exception(QStringLiteral("Could not connect"));
        return "10.0.0.1\n1700000000.5\n";
    }
    QByteArray ProxyGet(const QString &Url) override {
        {
            std::lock_guard<std::mutex> g(net.lock);
            (Url == FSpeedURL ? net.speedSite : net.httpSite)[FCurrentProxy] = Url;
        }
        if (Url == FSpeedURL)
            return QByteArray(1000, 'x');
        std::unique_lock<std::mutex> g(net.gate.lock);
        ++net.gate.waiting;
        // Stands for a request that hangs until the peer answers or the worker's connections close.
        while (!net.gate.open && !Killed())
            net.gate.cv.wait_for(g, std::chrono::milliseconds(5));
        --net.gate.waiting;
        if (Killed())
            throw Exception(QStringLiteral("aborted"));
        return "<html>keyword</html>";
    }
    QByteArray ProxyPost(const QString &, const TMultiPartFormData &) override {
        return QByteArray(JudgeReplyMarker) + "\ne\np\n0.5\ny\n";
    }
    QStringList HttpsFetch(const QString &Url) override {
        std::lock_guard<std::mutex> g(net.lock);
        net.httpsSite[FCurrentProxy] = Url;
        return {QStringLiteral("secure keyword")};
    }

private:
    TFakeNet &net;
};

class TFakeScheduler : public TKvProxyTest {
public:
    TFakeNet net;

protected:
    TProxyCheck *CreateWorker() override { return new TFakeWorker(this, net); }
};

struct SchedulerTest : ::testing::Test {
    SchedulerTest() {
        for (int i = 0; i < 12; ++i)
            test.AddHttpSiteUrl(QStringLiteral("http://site%1/").arg(i), QStringLiteral("keyword"));
        for (int i = 0; i < 5; ++i)
            test.AddHttpsSiteUrl(QStringLiteral("https://secure%1/").arg(i), QStringLiteral("keyword"));
        test.AddSpeedSiteUrl(QStringLiteral("http://speed0/"));
        test.AddSpeedSiteUrl(QStringLiteral("http://speed1/"));
        test.AddTypeSiteUrl(QStringLiteral("http://judge0/type.php"));
        test.AddTypeSiteUrl(QStringLiteral("http://judge1/engine/type.php"));
    }
    void AddProxies(int N) {
        for (int i = 0; i < N; ++i) {
            TProxtData *p = list.Add(QString(), QString(), 0, QStringLiteral("10.1.0.%1").arg(i + 1), 8080);
            test.AddProxyServer(p);
        }
    }
    static TTests AllTests() { return {ttDeadOrAlive, ttTest1, ttHttps, ttSpeed}; }
    void WaitForWorkersGone() {
        rec.SpinUntil([] { return LiveFakes.load() == 0; });
        ASSERT_EQ(LiveFakes.load(), 0);
    }
    ~SchedulerTest() override {
        rec.SpinUntil([] { return LiveFakes.load() == 0; });
    }

    TProxyCollection list;
    TFakeScheduler test;
    TJobRecorder rec{test};
};

} // namespace

TEST_F(SchedulerTest, PendingReportsComeInListOrderBeforeAnyWorkerRuns) {
    AddProxies(4);
    test.CheckProxyServer(AllTests(), 1000, 1000, 2);
    // CheckProxyServer itself made the pending reports; the workers' reports can only follow.
    ASSERT_GE(rec.reports.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rec.reports[i].Sender, &test);
        EXPECT_EQ(rec.reports[i].Proxy, list.Items(i));
        EXPECT_EQ(rec.reports[i].Action, caPending);
    }
    ASSERT_TRUE(rec.WaitForJobEnd());
}

TEST_F(SchedulerTest, ThreeProxiesFiveWorkersEachTestedOnceAndOneJobEnd) {
    AddProxies(3);
    test.CheckProxyServer(AllTests(), 1000, 1000, 5);
    EXPECT_TRUE(test.IsThreadsActive());
    ASSERT_TRUE(rec.WaitForJobEnd());
    WaitForWorkersGone();
    EXPECT_EQ(rec.jobEnds, 1);
    EXPECT_FALSE(test.IsThreadsActive());
    for (int i = 0; i < 3; ++i) {
        TProxtData *p = list.Items(i);
        EXPECT_EQ(rec.Count(p, caPending), 1);
        EXPECT_EQ(rec.Count(p, caChacking), 1);
        EXPECT_EQ(rec.Count(p, caDone), 1);
        EXPECT_TRUE(p->Tested());
        EXPECT_EQ(p->Alive(), tsTrue);
        EXPECT_EQ(p->Elite(), tsTrue);
        EXPECT_EQ(p->HttpsGet(), tsTrue);
        EXPECT_EQ(p->Speed() == -2 || p->Speed() > 0, true);
    }
    // Every worker ends with a done report naming no proxy: the job was over for it.
    EXPECT_EQ(rec.Count(nullptr, caDone), 5);
    // The job's end is the last thing reported.
    EXPECT_EQ(test.ProcessedJobCount(), 3);
}

TEST_F(SchedulerTest, SitesArePairedByCursorPosition) {
    AddProxies(3);
    test.CheckProxyServer(AllTests(), 1000, 1000, 1);
    ASSERT_TRUE(rec.WaitForJobEnd());
    // The lists were shuffled at the start; proxy k (from 0) used the entries at position k + 1.
    for (int k = 0; k < 3; ++k) {
        TProxtData *p = list.Items(k);
        EXPECT_EQ(test.net.httpSite[p], test.HttpList().Items(k + 1)->Src()) << k;
        EXPECT_EQ(test.net.httpsSite[p], test.HttpsList().Items((k + 1) % 5)->Src()) << k;
        EXPECT_EQ(test.net.speedSite[p], test.SpeedList().at((k + 1) % 2)) << k;
    }
}

TEST_F(SchedulerTest, SecondStartRaisesAndLeavesTheRunningJob) {
    AddProxies(2);
    test.net.gate.Close();
    test.CheckProxyServer(AllTests(), 1000, 1000, 2);
    const auto workers = test.Threads();
    try {
        test.CheckProxyServer(AllTests(), 1000, 1000, 4);
        ADD_FAILURE() << "no error";
    } catch (const EJobAlreadyActive &e) {
        EXPECT_EQ(e.Message(), "Job is already running");
    }
    EXPECT_EQ(test.Threads(), workers);
    test.net.gate.Open();
    ASSERT_TRUE(rec.WaitForJobEnd());
    EXPECT_EQ(rec.jobEnds, 1);
    EXPECT_TRUE(list.Items(0)->Tested());
    EXPECT_TRUE(list.Items(1)->Tested());
}

TEST_F(SchedulerTest, StopWithoutForceLetsTheCurrentTestFinish) {
    AddProxies(5);
    test.net.gate.Close();
    test.CheckProxyServer(AllTests(), 1000, 1000, 2);
    ASSERT_TRUE(rec.SpinUntil([&] { return test.net.gate.Waiting() == 2; }));
    test.StopTest(false, 0);
    EXPECT_FALSE(test.KillTimerActive());
    test.net.gate.Open();
    ASSERT_TRUE(rec.WaitForJobEnd());
    WaitForWorkersGone();
    EXPECT_EQ(rec.jobEnds, 1);
    // The two proxies under test finished their liveness test, were reported done, and this job
    // did not mark them tested; the others were never handed out.
    for (int i = 0; i < 5; ++i) {
        TProxtData *p = list.Items(i);
        EXPECT_FALSE(p->Tested()) << i;
        EXPECT_EQ(rec.Count(p, caDone), i < 2 ? 1 : 0) << i;
        EXPECT_EQ(p->Alive(), i < 2 ? tsTrue : tsUnknown) << i;
    }
}

TEST_F(SchedulerTest, ForcedStopReportsTheHeldProxiesDoneAndEndsTheJobOnce) {
    AddProxies(5);
    test.net.gate.Close(); // the requests hang until the workers' connections are closed
    test.CheckProxyServer(AllTests(), 1000, 1000, 3);
    ASSERT_TRUE(rec.SpinUntil([&] { return test.net.gate.Waiting() == 3; }));
    test.StopTest(true, 50);
    EXPECT_TRUE(test.KillTimerActive());
    ASSERT_TRUE(rec.WaitForJobEnd());
    EXPECT_EQ(rec.jobEnds, 1);
    EXPECT_FALSE(test.IsThreadsActive());
    EXPECT_FALSE(test.KillTimerActive());
    const size_t reportsAtEnd = rec.reports.size();
    for (int i = 0; i < 3; ++i) {
        TProxtData *p = list.Items(i);
        ASSERT_EQ(rec.Count(p, caDone), 1) << i;
        for (const auto &r : rec.reports) {
            if (r.Proxy == p && r.Action == caDone) {
                EXPECT_EQ(r.Sender, &test); // the grace timer's report, not the worker's
            }
        }
        // The cut request says nothing about the proxy.
        EXPECT_EQ(p->Alive(), tsUnknown);
        EXPECT_FALSE(p->Tested());
    }
    // The given-up workers unwind by themselves and say nothing more.
    WaitForWorkersGone();
    EXPECT_EQ(rec.reports.size(), reportsAtEnd);
    EXPECT_EQ(rec.jobEnds, 1);

    // A new job runs normally right away.
    test.net.gate.Open();
    test.CheckProxyServer(AllTests(), 1000, 1000, 2);
    ASSERT_TRUE(rec.SpinUntil([&] { return rec.jobEnds == 2; }));
    EXPECT_TRUE(list.Items(4)->Tested());
}

TEST_F(SchedulerTest, PendingForcedStopIsCancelledByTheJobsOwnEndAndByANewJob) {
    AddProxies(2);
    test.net.gate.Close();
    test.CheckProxyServer(AllTests(), 1000, 1000, 2);
    ASSERT_TRUE(rec.SpinUntil([&] { return test.net.gate.Waiting() == 2; }));
    test.StopTest(true, 600000);
    test.net.gate.Open();
    ASSERT_TRUE(rec.WaitForJobEnd());
    EXPECT_FALSE(test.KillTimerActive());

    // A stop with nothing running still arms the timer; starting a job disarms it.
    test.StopTest(true, 600000);
    EXPECT_TRUE(test.KillTimerActive());
    test.CheckProxyServer(AllTests(), 1000, 1000, 1);
    EXPECT_FALSE(test.KillTimerActive());
    ASSERT_TRUE(rec.SpinUntil([&] { return rec.jobEnds == 2; }));
}

TEST_F(SchedulerTest, JobWithoutProxiesStillEnds) {
    test.CheckProxyServer(AllTests(), 1000, 1000, 3);
    ASSERT_TRUE(rec.WaitForJobEnd());
    EXPECT_EQ(rec.jobEnds, 1);
    ASSERT_EQ(rec.reports.size(), 3u);
    for (const auto &r : rec.reports) {
        EXPECT_EQ(r.Proxy, nullptr);
        EXPECT_EQ(r.Action, caDone);
    }
}

TEST_F(SchedulerTest, ZeroThreadsStartsNothingAndNeverEnds) {
    AddProxies(2);
    test.CheckProxyServer(AllTests(), 1000, 1000, 0);
    EXPECT_FALSE(test.IsThreadsActive());
    QCoreApplication::processEvents();
    EXPECT_EQ(rec.jobEnds, 0);
    EXPECT_EQ(rec.reports.size(), 2u); // the pending reports only
}

TEST_F(SchedulerTest, FailedJudgeProbeReportsErrorAndLeavesProxiesPending) {
    AddProxies(3);
    test.net.probeFails = true;
    test.CheckProxyServer(AllTests(), 1000, 1000, 2);
    ASSERT_TRUE(rec.WaitForJobEnd());
    EXPECT_EQ(rec.Count(nullptr, caError), 2);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rec.Count(list.Items(i), caChacking), 0);
        EXPECT_EQ(rec.Count(list.Items(i), caDone), 0);
    }
    EXPECT_EQ(rec.reports.size(), 5u);
}

TEST(Shuffle, KeepsEveryItemAndEventuallyReorders) {
    QStringList s;
    TResentItems c;
    for (int i = 0; i < 20; ++i) {
        s << QString::number(i);
        c.Add(QString::number(i), QString());
    }
    bool moved = false;
    for (int round = 0; round < 5; ++round) {
        ShuffleStrings(s);
        ShuffleCollection(c);
        QStringList fromC;
        for (int i = 0; i < c.Count(); ++i)
            fromC << c.Items(i)->Src();
        QStringList a = s, b = fromC;
        a.sort();
        b.sort();
        QStringList all;
        for (int i = 0; i < 20; ++i)
            all << QString::number(i);
        all.sort();
        EXPECT_EQ(a, all);
        EXPECT_EQ(b, all);
        moved = moved || fromC != all;
    }
    EXPECT_TRUE(moved);
}

TEST(LocalUnixTime, KeepsTheFractionAndUsesTheSameClock) {
    EXPECT_DOUBLE_EQ(LocalUnixTime(25569.0), 0.0);
    EXPECT_NEAR(LocalUnixTime(25569.5), 43200.0, 1e-6);
    EXPECT_NEAR(LocalUnixTime(25569.0 + 1.25 / 86400.0), 1.25, 1e-6);
    EXPECT_NEAR(LocalUnixTime(45000.0), (45000.0 - 25569.0) * 86400.0, 1e-3);
}
