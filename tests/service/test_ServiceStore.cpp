// The SQLite store: what import modes keep and replace, the country and port choices, settings,
// and that hostile text stays data.

#include "tests/service/QtPrinters.h"
#include "service/ServiceStore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TServiceProxy Measured(const char *Address, int Port) {
    TServiceProxy p;
    p.Address = Address;
    p.Port = Port;
    p.CountryCode = "DE";
    p.CountryName = "Germany";
    p.Anonymity = TAnonymity::Elite;
    p.Https = true;
    p.Post = false;
    p.Speed = 50;
    p.Ping = 1;
    p.Uptime = 90;
    p.UptimeHours = 12;
    p.LastCheck = 1700000000;
    p.Score = ComputeScore(p);
    return p;
}

TEST(ServiceStore, KeepsRecordsAcrossReopen) {
    QTemporaryDir dir;
    const QString path = dir.filePath("sub/folder/store.db");
    {
        TServiceStore store(path);
        store.PutProxies({Measured("1.2.3.4", 8080)});
    }
    TServiceStore store(path);
    const auto all = store.All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0], Measured("1.2.3.4", 8080));
}

TEST(ServiceStore, TextImportKeepsMeasuredFieldsJsonReplacesThem) {
    QTemporaryDir dir;
    TServiceStore store(dir.filePath("s.db"));
    store.PutProxies({Measured("1.2.3.4", 8080)});
    TServiceProxy seen;
    seen.Address = "1.2.3.4";
    seen.Port = 8080;
    seen.CountryCode = "AT";
    seen.CountryName = "Austria";
    TServiceProxy fresh = seen;
    fresh.Address = "5.6.7.8";
    store.AddAddresses({seen, fresh});
    auto all = store.All();
    ASSERT_EQ(all.size(), 2u);
    TServiceProxy want = Measured("1.2.3.4", 8080);
    want.CountryCode = "AT";
    want.CountryName = "Austria";
    EXPECT_EQ(all[0], want) << "address import updates the country, keeps the measurements";
    EXPECT_EQ(all[1], fresh) << "a new address starts unmeasured with score 0";

    TServiceProxy remeasured;
    remeasured.Address = "1.2.3.4";
    remeasured.Port = 8080;
    remeasured.Speed = 100;
    store.PutProxies({remeasured});
    all = store.All();
    EXPECT_FALSE(all[0].Ping) << "a record replaces what was stored";
    EXPECT_DOUBLE_EQ(all[0].Score, 3.0);
}

TEST(ServiceStore, CountriesAndPortsOfStoredProxies) {
    QTemporaryDir dir;
    TServiceStore store(dir.filePath("s.db"));
    TServiceProxy a = Measured("1.1.1.1", 8080), b = Measured("2.2.2.2", 80), c = Measured("3.3.3.3", 8080);
    b.CountryCode = "AU";
    b.CountryName = "Australia";
    c.CountryCode.clear();
    c.CountryName.clear();
    store.PutProxies({a, b, c});
    EXPECT_EQ(store.Countries(), (std::vector<std::pair<QString, QString>>{{"AU", "Australia"}, {"DE", "Germany"}}));
    EXPECT_EQ(store.Ports(), (std::vector<int>{80, 8080}));
    EXPECT_EQ(store.Count(), 3);
}

TEST(ServiceStore, HostileTextIsStoredAsData) {
    QTemporaryDir dir;
    TServiceStore store(dir.filePath("s.db"));
    TServiceProxy p = Measured("1.1.1.1", 80);
    p.CountryName = "x'); DROP TABLE proxies; --";
    store.PutProxies({p});
    TListQuery q;
    q.CountryCode = "' OR 1=1 --";
    EXPECT_TRUE(store.Query(q, 0, 0).empty());
    store.SetSetting("k'ey", "va\"lue");
    EXPECT_EQ(store.Setting("k'ey"), QString("va\"lue"));
    EXPECT_FALSE(store.Setting("missing"));
    ASSERT_EQ(store.All().size(), 1u);
    EXPECT_EQ(store.All()[0].CountryName, p.CountryName);
}

TEST(ServiceStore, UnopenablePathIsAClearError) {
    QTemporaryDir dir;
    const QString file = dir.filePath("plain-file");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a database at all, just some bytes that sqlite will refuse to read as one");
    f.close();
    EXPECT_THROW(TServiceStore{file}, EServiceStoreError);
    EXPECT_THROW(TServiceStore{file + "/below-a-file.db"}, EServiceStoreError);
}

} // namespace
