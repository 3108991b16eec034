// What "import" reads: JSON records with measured fields, and free list text through the
// catalogue's parser with countries from the country database.

#include "tests/service/QtPrinters.h"
#include "geoip/CountryDatabase.h"
#include "platform/SysUtils.h"
#include "service/ServiceImport.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

TEST(ImportJson, RecordsWithMeasuredFields) {
    const auto proxies = ParseImportJson(R"({"proxies": [
        {"address": "1.2.3.4", "port": 8080, "type": "Elite", "https": true, "post": false, "speed": 100,
         "ping": 0, "uptime": 100, "uptime_hours": 5, "last_check": "2024-01-02T03:04:05Z",
         "country_code": "de", "country": "Germany"},
        {"ip": "5.6.7.8", "port": 80, "last_check": 1700000000}
    ]})");
    ASSERT_EQ(proxies.size(), 2u);
    const TServiceProxy &a = proxies[0];
    EXPECT_EQ(a.Address, "1.2.3.4");
    EXPECT_EQ(a.Anonymity, TAnonymity::Elite);
    EXPECT_EQ(a.Https, true);
    EXPECT_EQ(a.Post, false);
    EXPECT_EQ(a.LastCheck, 1704164645);
    EXPECT_EQ(a.CountryCode, "DE");
    EXPECT_DOUBLE_EQ(a.Score, 9.5); // 3 + 2 + 3 + 1 + 0.5
    const TServiceProxy &b = proxies[1];
    EXPECT_EQ(b.Address, "5.6.7.8");
    EXPECT_FALSE(b.Speed);
    EXPECT_EQ(b.Anonymity, TAnonymity::Unknown);
    EXPECT_DOUBLE_EQ(b.Score, 0);
}

TEST(ImportJson, BadRecordsAreNamed) {
    const char *bad[] = {
        "not json",
        R"({"other": 1})",
        R"([{"address": "1.2.3", "port": 80}])",
        R"([{"address": "1.2.3.256", "port": 80}])",
        R"([{"address": "1.2.3.4", "port": 0}])",
        R"([{"address": "1.2.3.4", "port": 80.5}])",
        R"([{"address": "1.2.3.4", "port": "80"}])",
        R"([{"address": "1.2.3.4", "port": 80, "type": "sneaky"}])",
        R"([{"address": "1.2.3.4", "port": 80, "uptime": 101}])",
        R"([{"address": "1.2.3.4", "port": 80, "speed": -1}])",
        R"([{"address": "1.2.3.4", "port": 80, "https": "yes"}])",
        R"([{"address": "1.2.3.4", "port": 80, "country_code": "U S"}])",
        R"([{"address": "1.2.3.4", "port": 80, "country_code": "USA"}])",
        R"([{"address": "1.2.3.4", "port": 80, "last_check": "yesterday"}])",
        R"([{"address": "1.2.3.4", "port": 80}, 7])",
    };
    for (const char *json : bad)
        EXPECT_THROW(ParseImportJson(json), Exception) << json;
    try {
        ParseImportJson(R"([{"address": "1.2.3.4", "port": 80}, {"address": "x", "port": 80}])");
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains("record 2")) << e.Message().toStdString();
    }
}

TEST(ImportText, EveryPairWithItsCountry) {
    QByteArray text = "Proxies of the day:\r\n8.8.8.8:8080 fast\n1.1.1.1 3128\nuser:pw@9.9.9.9:80\n"
                      "8.8.8.8:8080 again\n300.1.1.1:80 is no address\n";
    QBuffer buffer(&text);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    const auto proxies = ParseImportText(buffer);
    ASSERT_EQ(proxies.size(), 3u);
    EXPECT_EQ(proxies[0].Address, "8.8.8.8");
    EXPECT_EQ(proxies[0].Port, 8080);
    EXPECT_EQ(proxies[1].Address, "1.1.1.1");
    EXPECT_EQ(proxies[1].Port, 3128);
    EXPECT_EQ(proxies[2].Address, "9.9.9.9");
    EXPECT_EQ(proxies[2].Port, 80);

    TCountryDatabase db;
    db.LoadDatabase(QString());
    for (const TServiceProxy &p : proxies) {
        const TCountryInfo *info = db.FindCountryByIp(p.Address);
        ASSERT_NE(info, nullptr) << p.Address.toStdString();
        EXPECT_EQ(p.CountryCode, info->code.toUpper());
        EXPECT_EQ(p.CountryName, info->name);
        EXPECT_FALSE(p.Speed);
    }
}

TEST(ImportJson, CountriesFromTheDatabaseUnlessGiven) {
    auto proxies = ParseImportJson(R"([{"address": "8.8.8.8", "port": 53},
                                       {"address": "8.8.4.4", "port": 53, "country_code": "ZZ", "country": "Test"}])");
    TCountryDatabase db;
    db.LoadDatabase(QString());
    AssignCountries(proxies, db);
    const TCountryInfo *info = db.FindCountryByIp(QStringLiteral("8.8.8.8"));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(proxies[0].CountryCode, info->code.toUpper());
    EXPECT_EQ(proxies[0].CountryName, info->name);
    EXPECT_EQ(proxies[1].CountryCode, "ZZ");
}

} // namespace
