// Proxy checker throughput: 200 fake proxies on loopback that each answer after a fixed delay d,
// checked by 50 workers with the liveness and judge tests (2 requests per proxy). The best possible
// rate is 50 / (2 × d) proxies per second; the goal is at least 80 % of it. The peak memory of the
// process is reported alongside.
//   build-*/bench/bench_checker [--benchmark_filter=...]

#include "checker/Marlo.Common.ProxyTest.h"
#include "tests/checker/CheckerTestPeers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

using namespace checkerpeers;

namespace {

long PeakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void BM_CheckJob(benchmark::State &State) {
    const int delayMs = int(State.range(0));
    const int proxies = 200, threads = 50, requestsPerProxy = 2;
    TTestJudge judge;
    std::vector<std::unique_ptr<TFakeProxy>> fakes;
    TProxyCollection list;
    TKvProxyTest test;
    test.AddTypeSiteUrl(judge.Url());
    test.AddHttpSiteUrl(QStringLiteral("http://127.0.0.1:9/page"), QStringLiteral("keyword"));
    for (int i = 0; i < proxies; ++i) {
        auto f = std::make_unique<TFakeProxy>(TProxyMode::Canned);
        f->CannedBody = "<html>the keyword page</html>";
        f->DelayMs = delayMs;
        test.AddProxyServer(list.Add(QString(), QString(), 0, QStringLiteral("127.0.0.1"), f->Port()));
        fakes.push_back(std::move(f));
    }
    QEventLoop loop;
    test.SetOnJobEnd([&loop](QObject *) { loop.quit(); });
    // How long the workers take from the start to their first proxy (thread start and judge probe).
    QElapsedTimer t;
    qint64 firstProxyMs = -1;
    double startupMs = 0;
    test.SetOnProxyTest([&](QObject *, TProxtData *Proxy, TChackAction Action) {
        if (Proxy && Action == caChacking && firstProxyMs < 0)
            firstProxyMs = t.elapsed();
    });
    const long rssBefore = PeakRssKb();
    double seconds = 0;
    int checked = 0;
    for (auto _ : State) {
        for (int i = 0; i < list.Count(); ++i)
            list.Items(i)->SetTested(false);
        firstProxyMs = -1;
        t.start();
        test.CheckProxyServer({ttDeadOrAlive, ttTest1}, 10000, 10000, quint8(threads));
        loop.exec();
        const double s = double(t.nsecsElapsed()) / 1e9;
        State.SetIterationTime(s);
        seconds += s;
        startupMs += double(firstProxyMs);
        for (int i = 0; i < list.Count(); ++i)
            checked += list.Items(i)->Alive() == tsTrue ? 1 : 0;
    }
    const double rate = checked / seconds;
    const double limit = threads / (requestsPerProxy * delayMs / 1000.0);
    State.counters["proxies_per_s"] = rate;
    State.counters["limit_per_s"] = limit;
    State.counters["ratio_pct"] = 100.0 * rate / limit;
    State.counters["first_proxy_ms"] = startupMs / double(State.iterations());
    State.counters["peak_rss_kb"] = double(PeakRssKb());
    State.counters["job_rss_growth_kb"] = double(PeakRssKb() - rssBefore);
    int requests = 0;
    for (const auto &f : fakes)
        requests += f->Requests();
    // What the proxies really served, to see the limit's assumption of two requests hold.
    State.counters["requests_per_proxy"] = double(requests) / double(proxies) / double(State.iterations());
}

BENCHMARK(BM_CheckJob)->Arg(100)->Arg(250)->Arg(500)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
