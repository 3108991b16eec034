#pragma once
// IPv4 address to country, from the two embedded data resources ":/WHOIS_IPS" and ":/WHOIS_COUNTRY".

#include "platform/Prefetch.h"

#include <QString>
#include <QThread>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

/// One contiguous block of addresses that belongs to one country (first octet most significant).
struct TNetRange {
    uint32_t rStart = 0;
    uint32_t rEnd = 0;
    uint8_t cIndex = 0;
};

/// Index, two-letter code and English name of a country; the empty record means no country.
/// The texts are single-byte (Latin-1) in the data files, at most 255 characters each.
struct TCountryInfo {
    uint8_t cIndex = 0;
    QString code;
    QString name;
    bool IsEmpty() const { return cIndex == 0 && code.isEmpty() && name.isEmpty(); }
    bool operator==(const TCountryInfo &o) const = default;
};

/// The country database: address blocks ascending by rStart, and the countries in resource order.
class TCountryDatabase {
public:
    std::vector<TNetRange> netRanges;
    std::vector<TCountryInfo> countryInfos;

    /// Fills both arrays from the embedded resources; dirName is accepted and not used.
    void LoadDatabase(const QString &dirName);
    /// Replaces both arrays with dirName + "/ip.csv" and dirName + "/cc.csv".
    void DatabaseFromCSV(const QString &dirName);
    /// Writes dirName + "/ip.db" and dirName + "/cc.db" in the resource layouts.
    void SaveDatabase(const QString &dirName) const;
    /// The lookup; raises EConvertError for a part that is not a decimal integer.
    TCountryInfo GetCountryByIp(QStringView ip) const;
    /// The same lookup without the copy: nullptr when no country is found.
    const TCountryInfo *FindCountryByIp(QStringView ip) const;
    /// The lookup key of a dotted address (low 8 bits of each part); raises EConvertError.
    static uint32_t IpToKey(QStringView ip);
    /// The country of a key, nullptr when none.
    const TCountryInfo *FindCountryByKey(uint32_t key) const;
    /// A hint that FindCountryByKey(key) follows soon: starts loading the blocks it will search,
    /// so that the lookups of a batch of keys overlap their memory waits. No effect otherwise.
    void Prefetch(uint32_t key) const {
        if (fIndexedRanges == netRanges.data() && !fBucketStart.empty())
            platform::PrefetchRead(fIndexedRanges + fBucketStart[key >> 16]);
    }
    /// The first country that carries cIndex, nullptr when none.
    const TCountryInfo *FindCountryByIndex(uint8_t cIndex) const;
    /// Rebuilds the tables that make lookups fast: cIndex to country, and the first 16 bits of an
    /// address to the few blocks that can hold it. LoadDatabase and DatabaseFromCSV call it; code
    /// that edits the arrays in place calls it afterwards. Lookups notice arrays that changed size
    /// or were replaced and then fall back to the plain bisection and scan.
    void BuildIndex();

private:
    const TNetRange *FindRange(uint32_t key) const;

    // Position in countryInfos of the first country with each cIndex, -1 for none; valid while
    // countryInfos has fIndexedCount elements.
    std::array<int32_t, 256> fFirstCountry{};
    size_t fIndexedCount = SIZE_MAX;
    // fBucketStart[h]: the first block that ends at or above h << 16 (65,537 entries); empty when
    // the blocks are not ascending and disjoint, where only the plain bisection is right.
    std::vector<uint32_t> fBucketStart;
    const TNetRange *fIndexedRanges = nullptr;
    size_t fIndexedRangeCount = SIZE_MAX;
};

/// Loads a database in the background at the lowest priority, once; Loaded() turns true when done.
class TCountryDatabaseThread : public QThread {
    Q_OBJECT
public:
    /// What the thread runs to fill the database: LoadDatabase unless a test hands in another.
    using TLoader = std::function<void(TCountryDatabase &, const QString &)>;

    TCountryDatabaseThread(TCountryDatabase *countryDatabase, const QString &dirName, QObject *parent = nullptr);
    TCountryDatabaseThread(TCountryDatabase *countryDatabase, const QString &dirName, TLoader loader,
                           QObject *parent = nullptr);
    ~TCountryDatabaseThread() override;
    /// True once LoadDatabase has finished (successfully or not).
    bool Loaded() const { return fLoaded.load(std::memory_order_acquire); }
    /// True when the load failed; the database is then left empty.
    bool Failed() const { return fFailed.load(std::memory_order_acquire); }
    /// Waits until loaded. While a Qt application runs on the calling thread its events keep being
    /// processed; returns false when the application began to quit before the load finished (the
    /// database is then still being written: do not look anything up). True otherwise, also after
    /// a failed load (see Failed()).
    bool WaitLoaded();

protected:
    void run() override;

private:
    TCountryDatabase *fCountryDatabase;
    QString fDirName;
    TLoader fLoader;
    std::atomic<bool> fLoaded{false};
    std::atomic<bool> fQuitting{false};
    std::atomic<bool> fFailed{false};
};
