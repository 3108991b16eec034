// Saving and loading config.cfg with many proxies: the whole SaveToFile (stream,
// zlib level 9, temporary file, fsync, rename) and LoadFromFile (read, inflate, stream, all-or-nothing
// copy), for 1,000 to 1,000,000 proxies, with a linear fit. Goal: 100,000 proxies each way within one
// second on the build machine, and a load cost that grows linearly.
//
// Also timed apart: the stream alone (WriteComponent / ReadComponent) and zlib alone, to see where the
// time goes.

#include "config/ProgramConfig.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <map>
#include <memory>

namespace {

// A downloaded list as the list service gives it (country, code, rank, address, port; never tested),
// with every fourth record tested by the checker (results, speed, ping), and a short history.
std::unique_ptr<TProgramConfig> MakeConfig(int Proxies) {
    auto c = std::make_unique<TProgramConfig>(nullptr, QLocale::English);
    static const char *const countries[][2] = {{"United States", "US"},      {"Germany", "DE"}, {"Brazil", "BR"},
                                               {"Russian Federation", "RU"}, {"China", "CN"},   {"Indonesia", "ID"}};
    for (int i = 0; i < Proxies; ++i) {
        const quint32 a = 0x0A000000u + static_cast<quint32>(i) * 2654435761u % 0x00FFFFFFu;
        TProxtData *p = c->ProxyList()->Add(
            QLatin1String(countries[i % 6][0]), QLatin1String(countries[i % 6][1]), (i % 21) * 0.25,
            QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 255).arg((a >> 8) & 255).arg(a & 255),
            1024 + (i * 7919) % 60000);
        if (i % 4 == 0) {
            p->SetAlive(tsTrue);
            p->SetTranparent(tsFalse);
            p->SetAnonymous(tsTrue);
            p->SetElite(tsFalse);
            p->SetBotnet(tsFalse);
            p->SetHttpGet(tsTrue);
            p->SetHttpPost(i % 8 ? tsTrue : tsFalse);
            p->SetHttpsGet(tsFalse);
            p->SetHttpsPost(tsFalse);
            p->SetSpeed(1000.0 + i % 50000);
            p->SetPing(0.05 * (i % 97));
            p->SetTested(true);
        }
    }
    for (int i = 0; i < 50; ++i)
        c->BanedProxy()->Add(QStringLiteral("10.0.0.%1:8080=45678.%2").arg(i).arg(i));
    return c;
}

struct TFixture {
    QTemporaryDir Dir;
    std::map<int, QString> Files; // proxies -> a saved file
    QString File(int Proxies) {
        auto it = Files.find(Proxies);
        if (it == Files.end()) {
            const QString f = Dir.filePath(QStringLiteral("config-%1.cfg").arg(Proxies));
            MakeConfig(Proxies)->SaveToFile(f);
            it = Files.emplace(Proxies, f).first;
        }
        return it->second;
    }
};

TFixture &Fixture() {
    static TFixture f;
    return f;
}

void Sizes(benchmark::internal::Benchmark *b) {
    for (int n : {1000, 10000, 100000, 200000, 1000000})
        b->Arg(n);
    b->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN)->MeasureProcessCPUTime()->UseRealTime();
}

void BM_SaveToFile(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    const auto config = MakeConfig(n);
    const QString file = Fixture().Dir.filePath(QStringLiteral("save.cfg"));
    for (auto _ : state)
        config->SaveToFile(file);
    state.SetComplexityN(n);
    state.counters["proxies/s"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SaveToFile)->Apply(Sizes);

void BM_LoadFromFile(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    const QString file = Fixture().File(n);
    for (auto _ : state) {
        state.PauseTiming();
        auto config = std::make_unique<TProgramConfig>(nullptr, QLocale::English);
        state.ResumeTiming();
        config->LoadFromFile(file);
        benchmark::DoNotOptimize(config->ProxyList()->Count());
        state.PauseTiming();
        config.reset();
        state.ResumeTiming();
    }
    state.SetComplexityN(n);
    state.counters["proxies/s"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoadFromFile)->Apply(Sizes);

// The parts, for 100,000 proxies.
void BM_Parts(benchmark::State &state) {
    static const auto config = MakeConfig(100000);
    static const QByteArray stream = WriteComponent(*config);
    static const QByteArray packed = ZCompress(stream, 9);
    for (auto _ : state) {
        switch (state.range(0)) {
        case 0:
            benchmark::DoNotOptimize(WriteComponent(*config).size());
            break;
        case 1:
            benchmark::DoNotOptimize(ZCompress(stream, 9).size());
            break;
        case 2:
            benchmark::DoNotOptimize(ZDecompress(packed).size());
            break;
        case 4: { // the all-or-nothing load's copy of the object read back into the loaded one
            state.PauseTiming();
            auto c = std::make_unique<TProgramConfig>(nullptr, QLocale::English);
            state.ResumeTiming();
            CopyPublishedProperties(*config, *c);
            state.PauseTiming();
            c.reset();
            state.ResumeTiming();
            break;
        }
        default: {
            state.PauseTiming();
            auto c = std::make_unique<TProgramConfig>(nullptr, QLocale::English);
            state.ResumeTiming();
            ReadComponent(stream, *c);
            state.PauseTiming();
            c.reset();
            state.ResumeTiming();
        }
        }
    }
    state.SetLabel(QStringLiteral("%1; stream %2 bytes, file %3 bytes")
                       .arg(QLatin1String(state.range(0) == 0   ? "WriteComponent"
                                          : state.range(0) == 1 ? "ZCompress level 9"
                                          : state.range(0) == 2 ? "ZDecompress"
                                          : state.range(0) == 3 ? "ReadComponent"
                                                                : "CopyPublishedProperties"))
                       .arg(stream.size())
                       .arg(packed.size())
                       .toStdString());
}
BENCHMARK(BM_Parts)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
