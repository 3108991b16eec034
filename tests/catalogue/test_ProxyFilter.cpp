// The proxy filter: every row of the FilterOK table, Assign, and the filtered iteration over proxies.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "tests/catalogue/CatalogueTestSupport.h"

#include <QMetaProperty>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct TFilterCase {
    const char *Name;
    std::function<void(TProxyFilter &)> Filter;
    std::function<void(TProxtData &)> Record;
    bool Passes;
};

void PrintTo(const TFilterCase &C, std::ostream *Os) {
    *Os << C.Name;
}

class FilterRow : public ::testing::TestWithParam<TFilterCase> {};

auto Code(const char *C) {
    return [C](TProxtData &R) { R.SetCountryCode(QString::fromLatin1(C)); };
}
auto Countries(const char *C) {
    return [C](TProxyFilter &F) { F.SetCountry(QString::fromUtf8(C)); };
}
auto Port(int P) {
    return [P](TProxtData &R) { R.SetPort(P); };
}
auto Ports(const char *P) {
    return [P](TProxyFilter &F) { F.SetPort(QString::fromLatin1(P)); };
}
auto Types(const char *T) {
    return [T](TProxyFilter &F) { F.SetProxyType(QString::fromLatin1(T)); };
}
auto Kind(TTriState T, TTriState A, TTriState E) {
    return [=](TProxtData &R) {
        R.SetTranparent(T);
        R.SetAnonymous(A);
        R.SetElite(E);
    };
}
auto Nothing() {
    return [](auto &) {};
}

} // namespace

TEST_P(FilterRow, FilterOK) {
    const TFilterCase &c = GetParam();
    TProxyFilter f;
    c.Filter(f);
    TProxyCollection list;
    TProxtData *r = list.Add(QStringLiteral("United States"), QStringLiteral("US"), 0, QStringLiteral("8.8.8.8"), 8080);
    c.Record(*r);
    EXPECT_EQ(f.FilterOK(r), c.Passes);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, FilterRow, ::testing::Values(
    // A new filter lets everything pass.
    TFilterCase{"new_filter_passes_untested", Nothing(), Nothing(), true},
    TFilterCase{"new_filter_passes_tested", Nothing(), [](TProxtData &R) {
        R.SetTested(true); R.SetBotnet(tsTrue); R.SetHttpPost(tsFalse); R.SetHttpsPost(tsFalse);
        R.SetPing(1000); R.SetSpeed(1); R.SetTranparent(tsTrue); }, true},
    // Country
    TFilterCase{"country_list_passes_US", Countries("US,CA"), Code("US"), true},
    TFilterCase{"country_list_passes_ca_lower", Countries("US,CA"), Code("ca"), true},
    TFilterCase{"country_lower_list_passes_upper_code", Countries("us,ca"), Code("CA"), true},
    TFilterCase{"country_list_rejects_DE", Countries("US,CA"), Code("DE"), false},
    TFilterCase{"country_list_rejects_no_code", Countries("US,CA"), Code(""), false},
    TFilterCase{"country_substring_rule", Countries("USA"), Code("SA"), true},
    TFilterCase{"country_any_passes_no_code", Countries("any"), Code(""), true},
    TFilterCase{"country_ANY_passes", Countries("ANY"), Code("DE"), true},
    TFilterCase{"country_empty_passes", Countries(""), Code("DE"), true},
    TFilterCase{"country_non_ascii_not_lowered", Countries("\xC3\x84T"), Code("\xE4t"), false},
    // Port
    TFilterCase{"port_equal", Ports("8080"), Port(8080), true},
    TFilterCase{"port_other", Ports("8080"), Port(3128), false},
    TFilterCase{"port_leading_zero", Ports("080"), Port(80), false},
    TFilterCase{"port_empty_matches_none", Ports(""), Port(8080), false},
    TFilterCase{"port_Any", Ports("Any"), Port(1), true},
    // Type
    TFilterCase{"type_elite_rejects_anonymous", Types("elite"), Kind(tsFalse, tsTrue, tsFalse), false},
    TFilterCase{"type_elite_passes_elite", Types("elite"), Kind(tsFalse, tsFalse, tsTrue), true},
    TFilterCase{"type_elite_passes_untested", Types("elite"), Kind(tsUnknown, tsUnknown, tsUnknown), true},
    TFilterCase{"type_ELITE_upper", Types("ELITE"), Kind(tsFalse, tsFalse, tsTrue), true},
    TFilterCase{"type_anon_or_elite_passes_anonymous", Types("anonymous or elite"), Kind(tsFalse, tsTrue, tsFalse), true},
    TFilterCase{"type_anon_or_elite_rejects_transparent", Types("anonymous or elite"), Kind(tsTrue, tsFalse, tsFalse), false},
    TFilterCase{"type_all_false_is_untested", Types("elite"), Kind(tsFalse, tsFalse, tsFalse), true},
    TFilterCase{"type_empty_passes", Types(""), Kind(tsTrue, tsFalse, tsFalse), true},
    TFilterCase{"type_any_passes", Types("any"), Kind(tsTrue, tsFalse, tsFalse), true},
    // Botnet, HTTPS POST, POST: unknown on either side passes, else equal.
    TFilterCase{"botnet_wanted_false_rejects_true", [](TProxyFilter &F) { F.SetBotNetProxy(tsFalse); }, [](TProxtData &R) { R.SetBotnet(tsTrue); }, false},
    TFilterCase{"botnet_wanted_false_passes_false", [](TProxyFilter &F) { F.SetBotNetProxy(tsFalse); }, [](TProxtData &R) { R.SetBotnet(tsFalse); }, true},
    TFilterCase{"botnet_wanted_false_passes_unknown", [](TProxyFilter &F) { F.SetBotNetProxy(tsFalse); }, Nothing(), true},
    TFilterCase{"botnet_no_condition", Nothing(), [](TProxtData &R) { R.SetBotnet(tsTrue); }, true},
    TFilterCase{"https_post_wanted_true_rejects_false", [](TProxyFilter &F) { F.SetHttpsPost(tsTrue); }, [](TProxtData &R) { R.SetHttpsPost(tsFalse); }, false},
    TFilterCase{"https_post_wanted_true_passes_true", [](TProxyFilter &F) { F.SetHttpsPost(tsTrue); }, [](TProxtData &R) { R.SetHttpsPost(tsTrue); }, true},
    TFilterCase{"https_post_wanted_true_passes_unknown", [](TProxyFilter &F) { F.SetHttpsPost(tsTrue); }, Nothing(), true},
    TFilterCase{"post_wanted_true_rejects_false", [](TProxyFilter &F) { F.SetHttpPost(tsTrue); }, [](TProxtData &R) { R.SetHttpPost(tsFalse); }, false},
    TFilterCase{"post_wanted_true_passes_true", [](TProxyFilter &F) { F.SetHttpPost(tsTrue); }, [](TProxtData &R) { R.SetHttpPost(tsTrue); }, true},
    TFilterCase{"post_wanted_false_passes_unknown", [](TProxyFilter &F) { F.SetHttpPost(tsFalse); }, Nothing(), true},
    // Ping: strictly below MaxPing, untested passes.
    TFilterCase{"ping_equal_rejected", [](TProxyFilter &F) { F.SetMaxPing(5); }, [](TProxtData &R) { R.SetPing(5); }, false},
    TFilterCase{"ping_below_passes", [](TProxyFilter &F) { F.SetMaxPing(5); }, [](TProxtData &R) { R.SetPing(4.9); }, true},
    TFilterCase{"ping_untested_passes", [](TProxyFilter &F) { F.SetMaxPing(5); }, [](TProxtData &R) { R.SetPing(-1); }, true},
    TFilterCase{"ping_zero_no_condition", [](TProxyFilter &F) { F.SetMaxPing(0); }, [](TProxtData &R) { R.SetPing(1e9); }, true},
    // Speed: Speed / 1024 strictly above MiniSpeed, untested passes.
    TFilterCase{"speed_exactly_10k_rejected", [](TProxyFilter &F) { F.SetMiniSpeed(10); }, [](TProxtData &R) { R.SetSpeed(10240); }, false},
    TFilterCase{"speed_above_passes", [](TProxyFilter &F) { F.SetMiniSpeed(10); }, [](TProxtData &R) { R.SetSpeed(10241); }, true},
    TFilterCase{"speed_untested_passes", [](TProxyFilter &F) { F.SetMiniSpeed(10); }, [](TProxtData &R) { R.SetSpeed(-2); }, true},
    TFilterCase{"speed_zero_no_condition", [](TProxyFilter &F) { F.SetMiniSpeed(0); }, [](TProxtData &R) { R.SetSpeed(0); }, true},
    // All conditions at once must hold.
    TFilterCase{"all_hold", [](TProxyFilter &F) { F.SetCountry("US"); F.SetPort("8080"); F.SetProxyType("elite"); F.SetMaxPing(3); },
                [](TProxtData &R) { R.SetElite(tsTrue); R.SetPing(2); }, true},
    TFilterCase{"one_fails", [](TProxyFilter &F) { F.SetCountry("US"); F.SetPort("8080"); F.SetProxyType("elite"); F.SetMaxPing(3); },
                [](TProxtData &R) { R.SetElite(tsTrue); R.SetPing(3); }, false}));
// clang-format on

TEST(ProxyFilter, DefaultsAndPublishedOrder) {
    TProxyFilter f;
    EXPECT_TRUE(f.Active());
    EXPECT_EQ(f.Country(), QStringLiteral("any"));
    EXPECT_EQ(f.Port(), QStringLiteral("any"));
    EXPECT_EQ(f.ProxyType(), QStringLiteral("any"));
    EXPECT_EQ(f.BotNetProxy(), tsUnknown);
    EXPECT_EQ(f.HttpsPost(), tsUnknown);
    EXPECT_EQ(f.HttpPost(), tsUnknown);
    EXPECT_EQ(f.MaxPing(), 0);
    EXPECT_EQ(f.MiniSpeed(), 0);
    QStringList names;
    const QMetaObject *mo = f.metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < mo->propertyCount(); ++i)
        names << QString::fromLatin1(mo->property(i).name());
    EXPECT_EQ(names, QStringList({"Active", "Country", "Port", "ProxyType", "BotNetProxy", "HttpsPost", "HttpPost",
                                  "MaxPing", "MiniSpeed"}));
}

TEST(ProxyFilter, NotAProxyRecordFails) {
    class TOther : public TMyCollectionItem {};
    TOther other;
    TProxyFilter f;
    EXPECT_FALSE(f.FilterOK(&other));
}

TEST(ProxyFilter, AssignCopiesEverything) {
    TProxyFilter a, b;
    a.SetActive(false);
    a.SetCountry(QStringLiteral("DE"));
    a.SetPort(QStringLiteral("3128"));
    a.SetProxyType(QStringLiteral("elite"));
    a.SetBotNetProxy(tsFalse);
    a.SetHttpsPost(tsTrue);
    a.SetHttpPost(tsFalse);
    a.SetMaxPing(7);
    a.SetMiniSpeed(3);
    b.Assign(&a);
    const QMetaObject *mo = a.metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < mo->propertyCount(); ++i)
        EXPECT_EQ(mo->property(i).read(&a), mo->property(i).read(&b)) << mo->property(i).name();
    QObject plain;
    EXPECT_THROW(b.Assign(&plain), EAssignError);
}

TEST(ProxyFilter, IteratesProxies) {
    TProxyCollection list;
    list.Add(QString(), QStringLiteral("US"), 0, QStringLiteral("8.8.8.8"), 80);
    list.Add(QString(), QStringLiteral("DE"), 0, QStringLiteral("77.7.7.7"), 80);
    list.Add(QString(), QStringLiteral("CA"), 0, QStringLiteral("200.1.1.1"), 80);
    TProxyFilter f;
    f.SetCountry(QStringLiteral("US,CA"));
    f.LinkCollection(&list);
    QStringList seen;
    for (auto *i = f.First(); i; i = f.Next())
        seen << static_cast<TProxtData *>(i)->IP();
    EXPECT_EQ(seen, QStringList({"8.8.8.8", "200.1.1.1"}));
    f.SetActive(false);
    seen.clear();
    for (auto *i = f.First(); i; i = f.Next())
        seen << static_cast<TProxtData *>(i)->IP();
    EXPECT_EQ(seen, QStringList({"8.8.8.8", "77.7.7.7", "200.1.1.1"}));
}
