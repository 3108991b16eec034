// GetCountryByIp lookups per second on one core, on the shipped country database.

#include "geoip/CountryDatabase.h"

#include <QString>
#include <benchmark/benchmark.h>
#include <random>
#include <vector>

namespace {

const TCountryDatabase &Shipped() {
    static const TCountryDatabase db = [] {
        TCountryDatabase d;
        d.LoadDatabase(QString());
        return d;
    }();
    return db;
}

// Addresses spread over the whole space (most of them in some block), made once; a fixed seed
// keeps runs comparable.
const std::vector<QString> &Addresses() {
    static const std::vector<QString> list = [] {
        std::mt19937 rng(7);
        std::vector<QString> v;
        v.reserve(1 << 16);
        for (int i = 0; i < (1 << 16); ++i) {
            const uint32_t a = rng();
            v.push_back(
                QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 0xFF).arg((a >> 8) & 0xFF).arg(a & 0xFF));
        }
        return v;
    }();
    return list;
}

void BM_GetCountryByIp(benchmark::State &state) {
    const TCountryDatabase &db = Shipped();
    const auto &ips = Addresses();
    size_t i = 0, found = 0;
    for (auto _ : state) {
        const TCountryInfo c = db.GetCountryByIp(ips[i++ & 0xFFFF]);
        found += c.cIndex != 0;
        benchmark::DoNotOptimize(c);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["found"] = benchmark::Counter(static_cast<double>(found) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_GetCountryByIp);

// The same without the copy of the record, as the list parser uses it.
void BM_FindCountryByIp(benchmark::State &state) {
    const TCountryDatabase &db = Shipped();
    const auto &ips = Addresses();
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(db.FindCountryByIp(ips[i++ & 0xFFFF]));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FindCountryByIp);

// The two halves of a lookup: the address text to its key, and the key to its country.
void BM_IpToKey(benchmark::State &state) {
    const auto &ips = Addresses();
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(TCountryDatabase::IpToKey(ips[i++ & 0xFFFF]));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_IpToKey);

void BM_FindCountryByKey(benchmark::State &state) {
    const TCountryDatabase &db = Shipped();
    std::vector<uint32_t> keys;
    for (const QString &ip : Addresses())
        keys.push_back(TCountryDatabase::IpToKey(ip));
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(db.FindCountryByKey(keys[i++ & 0xFFFF]));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FindCountryByKey);

void BM_LoadDatabase(benchmark::State &state) {
    for (auto _ : state) {
        TCountryDatabase d;
        d.LoadDatabase(QString());
        benchmark::DoNotOptimize(d.netRanges.data());
    }
}
BENCHMARK(BM_LoadDatabase)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
