// ParseStream (free format, with country lookups in the built-in database) on generated lists of
// 100,000 and 1,000,000 lines. bench/parse-vs-grep.sh sets the same work beside grep -oE.

#include "catalogue/Marlo.Common.ProxyList.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <malloc.h>

namespace {

// The same mix as parse-vs-grep.sh: mostly "ip:port", some other separators, credentials and
// trailing columns; the addresses are spread over the whole space so lookups hit and miss.
QByteArray GenerateList(int Lines) {
    QByteArray out;
    out.reserve(static_cast<qsizetype>(Lines) * 24);
    uint64_t x = 88172645463325252ULL;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    char line[96];
    for (int i = 0; i < Lines; ++i) {
        const uint64_t r = next();
        const unsigned a = 1 + r % 223, b = (r >> 8) & 255, c = (r >> 16) & 255, d = (r >> 24) & 255;
        const unsigned port = 10 + (r >> 32) % 65526;
        const unsigned kind = (r >> 56) % 20;
        int n;
        if (kind < 16)
            n = std::snprintf(line, sizeof line, "%u.%u.%u.%u:%u\n", a, b, c, d, port);
        else if (kind == 16)
            n = std::snprintf(line, sizeof line, "%u.%u.%u.%u %u\n", a, b, c, d, port);
        else if (kind == 17)
            n = std::snprintf(line, sizeof line, "%u.%u.%u.%u\t%u\n", a, b, c, d, port);
        else if (kind == 18)
            n = std::snprintf(line, sizeof line, "user:pw@%u.%u.%u.%u:%u\n", a, b, c, d, port);
        else
            n = std::snprintf(line, sizeof line, "%u.%u.%u.%u:%u elite US\n", a, b, c, d, port);
        out.append(line, n);
    }
    return out;
}

TCountryDatabase *SharedDatabase() {
    static TCountryDatabase *db = [] {
        auto *d = new TCountryDatabase;
        d->LoadDatabase(QString());
        return d;
    }();
    return db;
}

void BM_ParseStream(benchmark::State &State) {
    const int lines = static_cast<int>(State.range(0));
    const bool noDuplicates = State.range(1) != 0;
    const QByteArray text = GenerateList(lines);
    for (auto _ : State) {
        State.PauseTiming();
        auto list = std::make_unique<TProxyCollection>();
        list->SetNoDuplicates(noDuplicates);
        auto db = std::make_unique<TCountryDatabase>(*SharedDatabase());
        list->SetCountryDatabase(std::move(db));
        State.ResumeTiming();
        list->ParseText(text, nullptr);
        benchmark::DoNotOptimize(list->Count());
        State.PauseTiming();
        list.reset();   // freeing the records is not the parse's work
        malloc_trim(0); // every round starts with fresh memory, as a program's first big parse does
        State.ResumeTiming();
    }
    State.SetItemsProcessed(State.iterations() * lines);
    State.SetBytesProcessed(State.iterations() * text.size());
}

} // namespace

BENCHMARK(BM_ParseStream)
    ->ArgNames({"lines", "nodup"})
    ->Args({100000, 1})
    ->Args({1000000, 1})
    ->Args({100000, 0})
    ->Args({1000000, 0})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

BENCHMARK_MAIN();
