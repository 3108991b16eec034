// TCountryDatabase: CSV import rules, binary export, lookups on small fixtures and on the shipped data.

#include "geoip/CountryDatabase.h"
#include "platform/SysUtils.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <thread>

using testsupport::DataPath;
using testsupport::ReadFile;

namespace {

QString FixtureDir(const char *name) {
    return DataPath(QStringLiteral("geoip"), QString::fromLatin1(name));
}

TCountryInfo Country(int cIndex, const char *code, const char *name) {
    TCountryInfo c;
    c.cIndex = static_cast<uint8_t>(cIndex);
    c.code = QString::fromLatin1(code);
    c.name = QString::fromLatin1(name);
    return c;
}

bool SameRange(const TNetRange &a, const TNetRange &b) {
    return a.rStart == b.rStart && a.rEnd == b.rEnd && a.cIndex == b.cIndex;
}

// The shipped database, loaded once for the whole test program.
const TCountryDatabase &Shipped() {
    static const TCountryDatabase db = [] {
        TCountryDatabase d;
        d.LoadDatabase(QString());
        return d;
    }();
    return db;
}

// What a lookup must find, by a route other than the bisection: the last block starting at or
// below the key, if it reaches the key.
const TNetRange *ReferenceRange(const std::vector<TNetRange> &ranges, uint32_t key) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), key,
                               [](uint32_t k, const TNetRange &r) { return k < r.rStart; });
    if (it == ranges.begin())
        return nullptr;
    --it;
    return key <= it->rEnd ? &*it : nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Lookups on a small database: first and last address of blocks, gaps, the top half of the
// address space, parts that count with their low 8 bits.

class SmallDatabase : public ::testing::Test {
protected:
    void SetUp() override { db.DatabaseFromCSV(FixtureDir("small")); }
    TCountryDatabase db;
};

TEST_F(SmallDatabase, LooksUpBlockEdgesGapsAndHighAddresses) {
    const TCountryInfo none;
    const TCountryInfo ap = Country(1, "AP", "Asia/Pacific Region");
    const TCountryInfo au = Country(2, "AU", "Australia");
    const TCountryInfo us = Country(3, "US", "United States");
    const TCountryInfo vn = Country(4, "VN", "Vietnam");
    const struct {
        const char *ip;
        TCountryInfo want;
    } cases[] = {
        {"0.0.0.0", none},         {"0.255.255.255", none},   {"1.0.0.0", ap}, // first address of the first block
        {"1.0.0.255", ap},                                                     // its last address
        {"1.0.1.0", none},                                                     // gap between two blocks
        {"1.0.1.255", none},       {"1.0.2.0", au},           {"1.0.3.255", au},
        {"1.0.4.0", none},         {"127.255.255.255", none}, {"128.0.0.0", us}, // top bit set: compared unsigned
        {"128.0.0.255", us},       {"128.0.1.0", none},       {"222.255.255.255", none},
        {"223.0.0.0", vn},         {"223.255.255.255", vn},                      // last address of a block high up
        {"255.255.255.255", none},                                               // last block: its index has no country
        {"1.0.0.256", ap},                                                       // 256 counts as 0
        {"1.0.256.44", ap},        {"257.0.0.1", ap},         {"1.0.2.300", au}, // 300 counts as 44
        {"-255.0.0.7", ap},                                                      // -255 has low 8 bits 1
        {"  1.0.0.9", ap}, // leading blanks are allowed by the integer conversion
        {"001.000.002.001", au},
    };
    for (const auto &c : cases) {
        const QString ip = QString::fromLatin1(c.ip);
        EXPECT_EQ(db.GetCountryByIp(ip), c.want) << c.ip;
        const TCountryInfo *p = db.FindCountryByIp(ip);
        EXPECT_EQ(p ? *p : TCountryInfo(), c.want) << c.ip;
    }
}

TEST_F(SmallDatabase, TheFirstCountryWithAnIndexWins) {
    // cc.csv holds index 3 twice; the earlier record is the one found.
    EXPECT_EQ(db.GetCountryByIp(u"128.0.0.1").code, QStringLiteral("US"));
    // Edits behind the database's back stay correct, before and after BuildIndex.
    db.countryInfos.insert(db.countryInfos.begin(), Country(3, "ZZ", "Inserted first"));
    EXPECT_EQ(db.GetCountryByIp(u"128.0.0.1").code, QStringLiteral("ZZ"));
    db.BuildIndex();
    EXPECT_EQ(db.GetCountryByIp(u"128.0.0.1").code, QStringLiteral("ZZ"));
    db.countryInfos.clear();
    EXPECT_TRUE(db.GetCountryByIp(u"128.0.0.1").IsEmpty());
}

TEST(CountryDatabaseLookup, PartsThatAreNoNumbersRaiseTheConversionError) {
    TCountryDatabase db;
    db.DatabaseFromCSV(FixtureDir("small"));
    for (const char *ip : {"1.2.3", "", "1", "1.2", "1..2.3", "1.2.3.", "a.b.c.d", "1.2.3.4.5", "1.2.3.4 ", "1.2.3.x",
                           "1.2.3.0x10", "99999999999.1.1.1", "1,2,3,4"}) {
        EXPECT_THROW(db.GetCountryByIp(QString::fromLatin1(ip)), EConvertError) << ip;
        EXPECT_THROW(db.FindCountryByIp(QString::fromLatin1(ip)), EConvertError) << ip;
    }
    try {
        db.GetCountryByIp(u"1.2.3");
        FAIL() << "no error";
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'' is not a valid integer value"));
    }
}

TEST(CountryDatabaseLookup, KeyHasTheFirstPartMostSignificant) {
    EXPECT_EQ(TCountryDatabase::IpToKey(u"1.0.0.0"), 16777216u);
    EXPECT_EQ(TCountryDatabase::IpToKey(u"1.2.3.4"), 0x01020304u);
    EXPECT_EQ(TCountryDatabase::IpToKey(u"255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(TCountryDatabase::IpToKey(u"256.300.511.1024"), 0x002CFF00u);
}

TEST(CountryDatabaseLookup, EmptyAndOneBlockDatabases) {
    TCountryDatabase empty;
    for (const char *ip : {"0.0.0.0", "1.0.0.0", "128.0.0.1", "255.255.255.255"})
        EXPECT_TRUE(empty.GetCountryByIp(QString::fromLatin1(ip)).IsEmpty()) << ip;
    EXPECT_THROW(empty.GetCountryByIp(u"1.2.3"), EConvertError);

    // Filled directly, without BuildIndex: lookups still find the country.
    TCountryDatabase one;
    one.netRanges.push_back({0x0A000000u, 0x0AFFFFFFu, 7});
    one.countryInfos.push_back(Country(7, "QQ", "Tenland"));
    EXPECT_EQ(one.GetCountryByIp(u"10.0.0.0"), Country(7, "QQ", "Tenland"));
    EXPECT_EQ(one.GetCountryByIp(u"10.128.3.4"), Country(7, "QQ", "Tenland"));
    EXPECT_EQ(one.GetCountryByIp(u"10.255.255.255"), Country(7, "QQ", "Tenland"));
    EXPECT_TRUE(one.GetCountryByIp(u"9.255.255.255").IsEmpty());
    EXPECT_TRUE(one.GetCountryByIp(u"11.0.0.0").IsEmpty());

    TCountryDatabase top;
    top.netRanges.push_back({0xFFFFFF00u, 0xFFFFFFFFu, 1});
    top.countryInfos.push_back(Country(1, "TT", "Top"));
    top.BuildIndex();
    EXPECT_EQ(top.GetCountryByIp(u"255.255.255.255").code, QStringLiteral("TT"));
    EXPECT_TRUE(top.GetCountryByIp(u"0.0.0.0").IsEmpty());
}

TEST(CountryDatabaseLookup, BlocksOutOfOrderGetThePlainBisection) {
    // Nothing sorts or checks the blocks; with these, 0.0.0.15 lies in the first block, but the
    // bisection probes the middle one, moves right and never sees it.
    TCountryDatabase db;
    db.netRanges = {{10, 20, 1}, {5, 8, 2}, {30, 40, 3}};
    db.countryInfos = {Country(1, "AA", "A"), Country(2, "BB", "B"), Country(3, "CC", "C")};
    db.BuildIndex();
    EXPECT_EQ(db.GetCountryByIp(u"0.0.0.6").code, QStringLiteral("BB"));
    EXPECT_TRUE(db.GetCountryByIp(u"0.0.0.15").IsEmpty());
    EXPECT_EQ(db.GetCountryByIp(u"0.0.0.35").code, QStringLiteral("CC"));
}

TEST(CountryDatabaseLookup, ArraysChangedAfterBuildIndexStillGiveRightAnswers) {
    TCountryDatabase db;
    db.DatabaseFromCSV(FixtureDir("small"));
    const TCountryDatabase copy = db; // the same content elsewhere in memory
    EXPECT_EQ(copy.GetCountryByIp(u"1.0.2.0").code, QStringLiteral("AU"));
    db.netRanges.erase(db.netRanges.begin()); // one block fewer, not announced
    EXPECT_TRUE(db.GetCountryByIp(u"1.0.0.1").IsEmpty());
    EXPECT_EQ(db.GetCountryByIp(u"1.0.2.0").code, QStringLiteral("AU"));
    EXPECT_EQ(db.GetCountryByIp(u"223.1.2.3").code, QStringLiteral("VN"));
    db.netRanges.insert(db.netRanges.begin(), {16777216u, 16777471u, 3});
    db.BuildIndex();
    EXPECT_EQ(db.GetCountryByIp(u"1.0.0.1").code, QStringLiteral("US"));
}

// ---------------------------------------------------------------------------------------------
// Import

TEST(CountryDatabaseImport, EveryLineYieldsAnElementAndFieldsFollowTheLineRules) {
    TCountryDatabase db;
    db.netRanges.push_back({1, 2, 3}); // replaced, not appended to
    db.DatabaseFromCSV(FixtureDir("rules"));

    const std::vector<TNetRange> ranges = {
        {16777216u, 16777471u, 1}, // CR LF line end
        {0, 0, 0},                 // blank line
        {1u, 0xFFFFFFFFu, 1},      // 4294967297, 8589934591 and 257 keep their low bits
        {0, 0, 0},                 // no ";": stays zero
        {5u, 0, 0},                // one ";": end and index stay zero
        {0xFFFFFFFFu, 0xFFFFFFFEu, 255},
    };
    ASSERT_EQ(db.netRanges.size(), ranges.size());
    for (size_t i = 0; i < ranges.size(); ++i)
        EXPECT_TRUE(SameRange(db.netRanges[i], ranges[i])) << "line " << i + 1;

    const QString n255(255, u'N');
    const std::vector<TCountryInfo> countries = {
        Country(1, "AP", "Asia/Pacific Region"),
        TCountryInfo(),                            // blank line
        Country(2, "B", "Name; with; semicolons"), // 258 & 255; the name takes the rest
        Country(7, "", ""),                        // no second ";": no code, no name
        {9, n255, n255},                           // 300 characters cut to 255
        Country(3, "", ""),
        {10, QStringLiteral("CI"), QStringLiteral("C\u00F4te d'Ivoire")}, // single-byte text
    };
    ASSERT_EQ(db.countryInfos.size(), countries.size());
    for (size_t i = 0; i < countries.size(); ++i)
        EXPECT_EQ(db.countryInfos[i], countries[i]) << "line " << i + 1;
}

TEST(CountryDatabaseImport, NonNumberRaisesAndKeepsWhatWasReadUpToThatLine) {
    TCountryDatabase db;
    db.countryInfos.push_back(Country(5, "OL", "Old"));
    EXPECT_THROW(db.DatabaseFromCSV(FixtureDir("badnum")), EConvertError);
    // Lines 1 and 2, then the header-like line 3 whose element stays as far as it got; cc.csv
    // was never reached.
    ASSERT_EQ(db.netRanges.size(), 3u);
    EXPECT_TRUE(SameRange(db.netRanges[0], {16777216u, 16777471u, 1}));
    EXPECT_TRUE(SameRange(db.netRanges[1], {16777472u, 16778239u, 2}));
    EXPECT_TRUE(SameRange(db.netRanges[2], {0, 0, 0}));
    ASSERT_EQ(db.countryInfos.size(), 1u);
    EXPECT_EQ(db.GetCountryByIp(u"1.0.0.1"), TCountryInfo()); // index 1 has no country here
}

TEST(CountryDatabaseImport, MissingFilesRaiseInOutError) {
    QTemporaryDir empty;
    TCountryDatabase db;
    EXPECT_THROW(db.DatabaseFromCSV(empty.path()), EInOutError);
    EXPECT_THROW(db.DatabaseFromCSV(empty.path() + QStringLiteral("/no/such/dir")), EInOutError);
    // ip.csv there, cc.csv missing: the blocks are read, the countries stay as they were.
    db.countryInfos.push_back(Country(5, "OL", "Old"));
    EXPECT_THROW(db.DatabaseFromCSV(FixtureDir("nocc")), EInOutError);
    EXPECT_EQ(db.netRanges.size(), 1u);
    ASSERT_EQ(db.countryInfos.size(), 1u);
    EXPECT_EQ(db.countryInfos[0].code, QStringLiteral("OL"));
}

// ---------------------------------------------------------------------------------------------
// Export

TEST(CountryDatabaseExport, WritesTheResourceLayouts) {
    TCountryDatabase db;
    db.netRanges = {{0x01020304u, 0xA0B0C0D0u, 7}, {0, 0xFFFFFFFFu, 255}};
    db.countryInfos = {
        Country(7, "US", "United States"), TCountryInfo(), {200, QStringLiteral("CI"), QStringLiteral("C\u00F4te")}};
    QTemporaryDir dir;
    db.SaveDatabase(dir.path());
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("ip.db"))), QByteArray("\x04\x03\x02\x01\xD0\xC0\xB0\xA0\x07"
                                                                          "\x00\x00\x00\x00\xFF\xFF\xFF\xFF\xFF",
                                                                          18));
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("cc.db"))), QByteArray("\x07\x02US\x0DUnited States"
                                                                          "\x00\x00\x00"
                                                                          "\xC8\x02"
                                                                          "CI\x04"
                                                                          "C\xF4te",
                                                                          30));

    // Saving again over longer files leaves exactly the new content.
    db.netRanges.resize(1);
    db.countryInfos.resize(1);
    db.SaveDatabase(dir.path());
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("ip.db"))).size(), 9);
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("cc.db"))).size(), 18);
}

TEST(CountryDatabaseExport, ImportedTextsKeepTheirLengthLimitInTheFile) {
    TCountryDatabase db;
    db.DatabaseFromCSV(FixtureDir("rules"));
    QTemporaryDir dir;
    db.SaveDatabase(dir.path());
    const QByteArray cc = ReadFile(dir.filePath(QStringLiteral("cc.db")));
    EXPECT_EQ(static_cast<uint8_t>(cc[0]), 1);
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("ip.db"))).size(), 6 * 9);
    EXPECT_TRUE(cc.contains(QByteArray(1, '\xFF') + QByteArray(255, 'N') + QByteArray(1, '\xFF')));
}

TEST(CountryDatabaseExport, UnwritableFolderRaisesInOutError) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("plain-file"));
    testsupport::WriteFile(file, "x");
    TCountryDatabase db;
    db.netRanges.push_back({1, 2, 3});
    EXPECT_THROW(db.SaveDatabase(file), EInOutError); // a file is no folder
    EXPECT_THROW(db.SaveDatabase(dir.filePath(QStringLiteral("missing/dir"))), EInOutError);
}

// ---------------------------------------------------------------------------------------------
// The shipped data (resources/geoip/*.csv turned into the embedded resources at build time)

TEST(ShippedDatabase, ExportReproducesTheEmbeddedResourcesByteForByte) {
    const TCountryDatabase &db = Shipped();
    QTemporaryDir dir;
    db.SaveDatabase(dir.path());
    const QByteArray ips = ReadFile(QStringLiteral(":/WHOIS_IPS"));
    const QByteArray countries = ReadFile(QStringLiteral(":/WHOIS_COUNTRY"));
    ASSERT_FALSE(ips.isEmpty());
    ASSERT_FALSE(countries.isEmpty());
    EXPECT_EQ(ips.size() % 9, 0);
    EXPECT_TRUE(ReadFile(dir.filePath(QStringLiteral("ip.db"))) == ips);
    EXPECT_TRUE(ReadFile(dir.filePath(QStringLiteral("cc.db"))) == countries);
}

TEST(ShippedDatabase, ResourcesMatchTheCommittedTextSources) {
    TCountryDatabase fromCsv;
    fromCsv.DatabaseFromCSV(QStringLiteral(RELAYVANE_GEOIP_SOURCES));
    const TCountryDatabase &db = Shipped();
    ASSERT_EQ(fromCsv.netRanges.size(), db.netRanges.size());
    EXPECT_TRUE(std::equal(db.netRanges.begin(), db.netRanges.end(), fromCsv.netRanges.begin(), SameRange));
    EXPECT_TRUE(fromCsv.countryInfos == db.countryInfos);
}

TEST(ShippedDatabase, IsOrderedDisjointAndEveryBlockHasOneCountry) {
    const TCountryDatabase &db = Shipped();
    ASSERT_GT(db.netRanges.size(), 100000u);
    ASSERT_GT(db.countryInfos.size(), 200u);
    ASSERT_LE(db.countryInfos.size(), 255u);
    std::set<int> indexes;
    std::set<QString> codes;
    for (size_t i = 0; i < db.countryInfos.size(); ++i) {
        const TCountryInfo &c = db.countryInfos[i];
        EXPECT_EQ(c.cIndex, i + 1) << "indexes run 1, 2, 3, ...";
        EXPECT_EQ(c.code.size(), 2) << c.code.toStdString();
        EXPECT_FALSE(c.name.isEmpty()) << c.code.toStdString();
        EXPECT_TRUE(indexes.insert(c.cIndex).second);
        EXPECT_TRUE(codes.insert(c.code).second) << c.code.toStdString();
    }
    bool ordered = true, blocksHaveCountries = true, highHalf = false;
    for (size_t i = 0; i < db.netRanges.size(); ++i) {
        const TNetRange &r = db.netRanges[i];
        ordered = ordered && r.rStart <= r.rEnd && (i == 0 || r.rStart > db.netRanges[i - 1].rEnd);
        blocksHaveCountries = blocksHaveCountries && indexes.count(r.cIndex) == 1;
        highHalf = highHalf || r.rStart >= 0x80000000u;
    }
    EXPECT_TRUE(ordered);
    EXPECT_TRUE(blocksHaveCountries);
    EXPECT_TRUE(highHalf);
    // The pseudo-countries keep their names where the data has them.
    const std::map<QString, QString> pseudo = {{QStringLiteral("AP"), QStringLiteral("Asia/Pacific Region")},
                                               {QStringLiteral("EU"), QStringLiteral("Europe")},
                                               {QStringLiteral("A1"), QStringLiteral("Anonymous Proxy")},
                                               {QStringLiteral("A2"), QStringLiteral("Satellite Provider")}};
    for (const TCountryInfo &c : db.countryInfos) {
        if (pseudo.count(c.code)) {
            EXPECT_EQ(c.name, pseudo.at(c.code));
        }
    }
}

TEST(ShippedDatabase, WellKnownAddresses) {
    const TCountryDatabase &db = Shipped();
    const TCountryInfo us = db.GetCountryByIp(u"8.8.8.8");
    EXPECT_EQ(us.code, QStringLiteral("US"));
    EXPECT_EQ(us.name, QStringLiteral("United States"));
    EXPECT_NE(us.cIndex, 0);
    for (const char *ip : {"127.0.0.1", "10.0.0.1", "192.168.1.1", "0.0.0.1", "255.255.255.255"})
        EXPECT_TRUE(db.GetCountryByIp(QString::fromLatin1(ip)).IsEmpty()) << ip;
    EXPECT_EQ(db.GetCountryByIp(u"1.0.0.256"), db.GetCountryByIp(u"1.0.0.0"));
    EXPECT_THROW(db.GetCountryByIp(u"1.2.3"), EConvertError);
}

TEST(ShippedDatabase, BisectionFindsEveryBlockAtBothEndsAndNothingInGaps) {
    const TCountryDatabase &db = Shipped();
    const auto &ranges = db.netRanges;
    auto check = [&](uint32_t key) {
        const TNetRange *want = ReferenceRange(ranges, key);
        const TCountryInfo *got = db.FindCountryByKey(key);
        if (!want)
            return got == nullptr;
        return got != nullptr && got->cIndex == want->cIndex;
    };
    size_t wrong = 0;
    for (const TNetRange &r : ranges) {
        wrong += !check(r.rStart) + !check(r.rEnd) + !check(r.rStart - 1) + !check(r.rEnd + 1);
        wrong += db.FindCountryByKey(r.rStart) == nullptr; // every block, first and last included
    }
    std::mt19937 rng(20240611);
    for (int i = 0; i < 200000; ++i)
        wrong += !check(static_cast<uint32_t>(rng()));
    EXPECT_EQ(wrong, 0u);
}

// ---------------------------------------------------------------------------------------------
// TCountryDatabaseThread

namespace {

// A loader that holds the load open until the test lets it go.
struct Gate {
    std::atomic<bool> open{false};
    TCountryDatabaseThread::TLoader Loader() {
        return [this](TCountryDatabase &db, const QString &) {
            while (!open.load())
                QThread::msleep(1);
            db.netRanges.push_back({1, 2, 1});
        };
    }
};

} // namespace

TEST(CountryDatabaseThread, LoadsTheEmbeddedDatabaseAtIdlePriority) {
    TCountryDatabase db;
    TCountryDatabaseThread thread(&db, QStringLiteral("/ignored/"));
    EXPECT_EQ(thread.priority(), QThread::IdlePriority);
    EXPECT_TRUE(thread.WaitLoaded());
    EXPECT_TRUE(thread.Loaded());
    EXPECT_FALSE(thread.Failed());
    EXPECT_EQ(db.netRanges.size(), Shipped().netRanges.size());
    EXPECT_EQ(db.GetCountryByIp(u"8.8.8.8").code, QStringLiteral("US"));
    EXPECT_TRUE(thread.WaitLoaded()); // a second wait returns at once
}

TEST(CountryDatabaseThread, WaitKeepsProcessingEventsUntilLoaded) {
    Gate gate;
    TCountryDatabase db;
    TCountryDatabaseThread thread(&db, QString(), gate.Loader());
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        // Only an event loop running inside WaitLoaded gets here; the third tick ends the load.
        if (++ticks == 3)
            gate.open = true;
    });
    timer.start(5);
    EXPECT_TRUE(thread.WaitLoaded());
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(thread.Loaded());
    EXPECT_EQ(db.netRanges.size(), 1u);
}

TEST(CountryDatabaseThread, WaitEndsWhenTheApplicationQuitsWhileLoading) {
    Gate gate;
    TCountryDatabase db;
    {
        TCountryDatabaseThread thread(&db, QString(), gate.Loader());
        bool waited = false;
        bool result = true;
        QTimer::singleShot(0, [&] {
            result = thread.WaitLoaded();
            waited = true;
        });
        // Fires inside WaitLoaded's loop, like a session manager's quit while the list is parsed.
        QTimer::singleShot(30, [] { QCoreApplication::quit(); });
        QCoreApplication::exec();
        EXPECT_TRUE(waited);
        EXPECT_FALSE(result);
        EXPECT_FALSE(thread.Loaded());
        // Once the application is on its way out, a new wait does not block either.
        EXPECT_FALSE(thread.WaitLoaded());
        gate.open = true;
        // The destructor waits for the loader: the database is not freed under it.
    }
    EXPECT_EQ(db.netRanges.size(), 1u);
}

TEST(CountryDatabaseThread, WaitFromAnotherThreadBlocksUntilLoaded) {
    Gate gate;
    TCountryDatabase db;
    TCountryDatabaseThread thread(&db, QString(), gate.Loader());
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = thread.WaitLoaded() ? 1 : 0; });
    QThread::msleep(20);
    EXPECT_EQ(result.load(), -1);
    gate.open = true;
    waiter.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(db.netRanges.size(), 1u);
}

TEST(CountryDatabaseThread, FailedLoadIsSignalledAndLeavesTheDatabaseEmpty) {
    TCountryDatabase db;
    TCountryDatabaseThread thread(&db, QString(), [](TCountryDatabase &d, const QString &) {
        d.netRanges.push_back({1, 2, 3});
        d.countryInfos.push_back(Country(3, "XX", "Half"));
        throw EInOutError(QStringLiteral("Resource WHOIS_IPS not found"));
    });
    EXPECT_TRUE(thread.WaitLoaded());
    EXPECT_TRUE(thread.Loaded());
    EXPECT_TRUE(thread.Failed());
    EXPECT_TRUE(db.netRanges.empty());
    EXPECT_TRUE(db.countryInfos.empty());
    EXPECT_TRUE(db.GetCountryByIp(u"0.0.0.1").IsEmpty());
}

TEST(CountryDatabaseThread, DestroyingTheThreadWaitsForTheLoad) {
    TCountryDatabase db;
    std::atomic<bool> finished{false};
    {
        TCountryDatabaseThread thread(&db, QString(), [&](TCountryDatabase &, const QString &) {
            QThread::msleep(50);
            finished = true;
        });
    }
    EXPECT_TRUE(finished.load());
}
