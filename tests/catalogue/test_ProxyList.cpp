// The proxy record and the collection operations (the parsers have their own file).

#include "catalogue/Marlo.Common.ProxyList.h"
#include "tests/catalogue/CatalogueTestSupport.h"

#include <QMetaProperty>
#include <gtest/gtest.h>
#include <random>

using cataloguetest::Addresses;

namespace {

void SetAllResults(TProxtData &R, TTriState V) {
    R.SetAlive(V);
    R.SetTranparent(V);
    R.SetAnonymous(V);
    R.SetElite(V);
    R.SetBotnet(V);
    R.SetHttpGet(V);
    R.SetHttpPost(V);
    R.SetHttpsGet(V);
    R.SetHttpsPost(V);
}

} // namespace

TEST(ProxtData, NewRecord) {
    TProxtData r;
    EXPECT_EQ(r.Speed(), -1);
    EXPECT_EQ(r.Ping(), -1);
    EXPECT_EQ(r.SpeedAsString(), QStringLiteral("-"));
    EXPECT_EQ(r.PingAsString(), QStringLiteral("-"));
    EXPECT_EQ(r.TypeAsString(), QStringLiteral("-"));
    EXPECT_EQ(r.TypeAsStringEng(), QStringLiteral("-"));
    EXPECT_FALSE(r.DataCompleat());
    EXPECT_EQ(r.Rank(), 0);
    EXPECT_EQ(r.AsString(), QString());
    EXPECT_FALSE(r.Tested());
    EXPECT_EQ(r.Alive(), tsUnknown);
    TProxyCollection list;
    EXPECT_EQ(list.Add()->Speed(), -1); // also when made by a collection
}

TEST(ProxtData, PublishedPropertiesInOrder) {
    const QMetaObject &mo = TProxtData::staticMetaObject;
    QStringList stored, notStored;
    for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i)
        (mo.property(i).isStored() ? stored : notStored) << QString::fromLatin1(mo.property(i).name());
    EXPECT_EQ(stored,
              QStringList({"Country", "CountryCode", "Rank", "IP", "Port", "Alive", "Tranparent", "Anonymous", "Elite",
                           "Botnet", "HttpGet", "HttpPost", "HttpsGet", "HttpsPost", "Speed", "Ping", "Tested"}));
    EXPECT_EQ(notStored, QStringList({"AsString", "TypeAsString", "TypeAsStringEng", "SpeedAsString", "PingAsString"}));
    const QMetaEnum e = QMetaEnum::fromType<TProxtData::TTriState>();
    EXPECT_STREQ(e.valueToKey(0), "tsUnknown");
    EXPECT_STREQ(e.valueToKey(1), "tsTrue");
    EXPECT_STREQ(e.valueToKey(2), "tsFalse");
    // Generic access through the gadget, as the configuration file does.
    TProxtData r;
    const QMetaProperty alive = mo.property(mo.indexOfProperty("Alive"));
    EXPECT_TRUE(alive.writeOnGadget(&r, QVariant::fromValue(tsTrue)));
    EXPECT_EQ(r.Alive(), tsTrue);
}

TEST(ProxtData, SetTestedFalseClearsResultsKeepsAddressCountryRank) {
    TProxtData r;
    r.SetIP(QStringLiteral("1.2.3.4"));
    r.SetPort(8080);
    r.SetCountry(QStringLiteral("Australia"));
    r.SetCountryCode(QStringLiteral("AU"));
    r.SetRank(3.25);
    SetAllResults(r, tsTrue);
    r.SetSpeed(2048);
    r.SetPing(1.5);
    r.SetTested(true);
    EXPECT_TRUE(r.DataCompleat());
    EXPECT_EQ(r.Speed(), 2048); // true changes nothing else
    r.SetTested(false);
    EXPECT_FALSE(r.Tested());
    for (TTriState v : {r.Alive(), r.Tranparent(), r.Anonymous(), r.Elite(), r.Botnet(), r.HttpGet(), r.HttpPost(),
                        r.HttpsGet(), r.HttpsPost()})
        EXPECT_EQ(v, tsUnknown);
    EXPECT_EQ(r.Speed(), -1);
    EXPECT_EQ(r.Ping(), -1);
    EXPECT_EQ(r.AsString(), QStringLiteral("1.2.3.4:8080"));
    EXPECT_EQ(r.Country(), QStringLiteral("Australia"));
    EXPECT_EQ(r.CountryCode(), QStringLiteral("AU"));
    EXPECT_EQ(r.Rank(), 3.25);
}

TEST(ProxtData, DataCompleatIgnoresHttpsPost) {
    TProxtData r;
    SetAllResults(r, tsFalse);
    r.SetHttpsPost(tsUnknown);
    EXPECT_TRUE(r.DataCompleat());
    r.SetHttpsGet(tsUnknown);
    EXPECT_FALSE(r.DataCompleat());
}

TEST(ProxtData, TextForms) {
    struct Case {
        double Speed;
        const char *Text;
    };
    for (const Case &c : {Case{1536, "1.50"}, Case{2048000, "2,000.00"}, Case{0, "0.00"}, Case{-1, "-"}, Case{-2, "-"},
                          Case{1024 * 1234567.891, "1,234,567.89"}, Case{1024 * 0.005, "0.01"},
                          Case{1024 * 0.00449, "0.00"}, Case{1024 * 0.004449, "0.00"}, Case{1024 * 0.0049996, "0.01"},
                          Case{1024 * 999.995, "1,000.00"}, Case{-0.5, "0.00"}}) {
        TProxtData r;
        r.SetSpeed(c.Speed);
        EXPECT_EQ(r.SpeedAsString(), QString::fromLatin1(c.Text)) << c.Speed;
    }
    struct PingCase {
        double Ping;
        const char *Text;
    };
    for (const PingCase &c : {PingCase{1.5, "1.5"}, PingCase{0, "0"}, PingCase{-1, "-"}, PingCase{-1.5, "-"},
                              PingCase{-0.5, "-0.5"}, PingCase{1.0 / 3, "0.333333333333333"}, PingCase{1e20, "1E20"}}) {
        TProxtData r;
        r.SetPing(c.Ping);
        EXPECT_EQ(r.PingAsString(), QString::fromLatin1(c.Text)) << c.Ping;
    }
    TProxtData r;
    r.SetIP(QStringLiteral("10.0.0.1"));
    r.SetPort(3128);
    EXPECT_EQ(r.AsString(), QStringLiteral("10.0.0.1:3128"));
    r.SetIP(QString());
    EXPECT_EQ(r.AsString(), QString());
}

TEST(ProxtData, TypeTexts) {
    struct Case {
        TTriState T, A, E;
        const char *Text, *Eng;
    };
    for (const Case &c :
         {Case{tsUnknown, tsUnknown, tsUnknown, "-", "-"}, Case{tsTrue, tsFalse, tsFalse, "Transparent", "transparent"},
          Case{tsFalse, tsTrue, tsFalse, "Anonymous", "anonymous"}, Case{tsFalse, tsFalse, tsTrue, "Elite", "elite"},
          Case{tsTrue, tsTrue, tsFalse, "Anonymous", "anonymous"}, Case{tsTrue, tsTrue, tsTrue, "Elite", "elite"},
          Case{tsFalse, tsFalse, tsFalse, "-", "-"}}) {
        TProxtData r;
        r.SetTranparent(c.T);
        r.SetAnonymous(c.A);
        r.SetElite(c.E);
        EXPECT_EQ(r.TypeAsString(), QString::fromLatin1(c.Text));
        EXPECT_EQ(r.TypeAsStringEng(), QString::fromLatin1(c.Eng));
    }
}

TEST(ProxtData, TypeTextsComeFromTheInstalledTexts) {
    struct TGerman : IProxyTypeTexts {
        QString sTransparent() const override { return QStringLiteral("Transparent-de"); }
        QString sAnonymous() const override { return QStringLiteral("Anonym"); }
        QString sElite() const override { return QStringLiteral("Elite-de"); }
    } german;
    TProxtData r;
    r.SetAnonymous(tsTrue);
    SetProxyTypeTexts(&german);
    EXPECT_EQ(r.TypeAsString(), QStringLiteral("Anonym"));
    EXPECT_EQ(r.TypeAsStringEng(), QStringLiteral("anonymous"));
    SetProxyTypeTexts(nullptr);
    EXPECT_EQ(r.TypeAsString(), QStringLiteral("Anonymous"));
}

TEST(ProxtData, AssignCopiesEveryPublishedValueButNotTheLink) {
    TProxtData a, b;
    a.SetCountry(QStringLiteral("Canada"));
    a.SetCountryCode(QStringLiteral("CA"));
    a.SetRank(4.5);
    a.SetIP(QStringLiteral("200.1.1.1"));
    a.SetPort(81);
    SetAllResults(a, tsFalse);
    a.SetElite(tsTrue);
    a.SetSpeed(100);
    a.SetPing(7);
    a.SetTested(true);
    QObject link;
    a.SetGUILink(&link);
    b.Assign(a);
    const QMetaObject &mo = TProxtData::staticMetaObject;
    for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i)
        EXPECT_EQ(mo.property(i).readOnGadget(&a), mo.property(i).readOnGadget(&b)) << mo.property(i).name();
    EXPECT_EQ(b.GUILink(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// MakeRank

namespace {

std::unique_ptr<TProxtData> Ranked(double Speed, double Ping, TTriState Post, TTriState HttpsPost) {
    auto r = std::make_unique<TProxtData>();
    r->SetSpeed(Speed);
    r->SetPing(Ping);
    r->SetHttpPost(Post);
    r->SetHttpsPost(HttpsPost);
    return r;
}

} // namespace

// The worked example: complete records' speeds 10 000 and 60 000, pings 1 and 4, so
// SpeedPerPoint 1000 and PingPerPoint 0.1.
TEST(MakeRank, WorkedExample) {
    struct Case {
        double Speed, Ping;
        TTriState Post, HttpsPost;
        double Rank;
    };
    for (const Case &c :
         {Case{35000, 2, tsTrue, tsFalse, 2.75},                                 // 25 + 20 + 10 = 55
          Case{35000, 2.05, tsTrue, tsFalse, 2.5},                               // 25 + 19.5 + 10 = 54.5 -> 54 -> 50
          Case{60000, 1, tsTrue, tsTrue, 5},                                     // the maximum: 50 + 30 + 10 + 10
          Case{10000, 4, tsFalse, tsFalse, 0}, Case{0, 4, tsTrue, tsFalse, 0.5}, // speed 0 counts nothing
          Case{-2, -1, tsTrue, tsFalse, 0.5},                                    // nor -2; no ping: no ping points
          Case{10000, 5.5, tsFalse, tsFalse, -0.75}}) {                          // 30 - 45 = -15 -> -15 -> -0.75
        auto r = Ranked(c.Speed, c.Ping, c.Post, c.HttpsPost);
        r->MakeRank(50, 30, 1000, 0.1, 10000, 1);
        EXPECT_DOUBLE_EQ(r->Rank(), c.Rank) << c.Speed << " " << c.Ping;
    }
}

TEST(MakeRank, NegativeRanks) {
    // Ping points 30 - (5.73 - 1) / 0.1 = -17.3; + 10 POST = -7.3 -> -7 -> -5 -> -0.25.
    auto r = Ranked(-1, 5.73, tsTrue, tsFalse);
    r->MakeRank(50, 30, 1000, 0.1, 10000, 1);
    EXPECT_DOUBLE_EQ(r->Rank(), -0.25);
    // -4.9 truncates to -4 and -4 div 5 is 0.
    auto s = Ranked(-1, 4.49, tsFalse, tsFalse); // 30 - 34.9 = -4.9
    s->MakeRank(50, 30, 1000, 0.1, 10000, 1);
    EXPECT_DOUBLE_EQ(s->Rank(), 0);
}

TEST(MakeRank, ZeroPerPointGivesNoPoints) {
    // All complete records had the same speed and ping: both per-point values are 0.
    auto r = Ranked(5000, 3, tsFalse, tsTrue);
    r->MakeRank(50, 30, 0, 0, 5000, 3);
    EXPECT_DOUBLE_EQ(r->Rank(), 0.5); // only the 10 HTTPS POST points
    // MaxSpeedPoints is not a cap.
    auto fast = Ranked(210000, -1, tsFalse, tsFalse);
    fast->MakeRank(50, 30, 1000, 0.1, 10000, 1);
    EXPECT_DOUBLE_EQ(fast->Rank(), 10);
}

// ---------------------------------------------------------------------------------------------
// Collection operations

TEST(ProxyCollection, AddBothFormsAndInsert) {
    TProxyCollection list;
    TProxtData *a = list.Add(QStringLiteral("Germany"), QStringLiteral("DE"), 1.5, QStringLiteral("77.0.0.1"), 8080);
    EXPECT_EQ(a->Country(), QStringLiteral("Germany"));
    EXPECT_EQ(a->CountryCode(), QStringLiteral("DE"));
    EXPECT_EQ(a->Rank(), 1.5);
    EXPECT_EQ(a->Speed(), -1);
    TProxtData *b = list.Add();
    EXPECT_EQ(b->AsString(), QString());
    TProxtData *c = list.Insert(0);
    c->SetIP(QStringLiteral("1.1.1.1"));
    c->SetPort(80);
    EXPECT_EQ(Addresses(list), QStringList({"1.1.1.1:80", "77.0.0.1:8080", ""}));
    EXPECT_EQ(list.Items(1), a);
    // Add(5 values) makes no duplicate check.
    list.SetNoDuplicates(true);
    list.Add(QString(), QString(), 0, QStringLiteral("1.1.1.1"), 80);
    EXPECT_EQ(list.Count(), 4);
}

TEST(ProxyCollection, SortTypes) {
    TProxyCollection list;
    list.Add(QStringLiteral("United States"), QStringLiteral("US"), 1, QStringLiteral("8.0.0.1"), 8080);
    list.Add(QStringLiteral("Canada"), QStringLiteral("CA"), 5, QStringLiteral("200.0.0.1"), 80);
    list.Add(QStringLiteral("australia"), QStringLiteral("AU"), 2.5, QStringLiteral("1.2.3.4"), 3128);
    list.Sort(TProxyCollection::stCountry); // ordinal: upper case before lower case
    EXPECT_EQ(Addresses(list), QStringList({"200.0.0.1:80", "8.0.0.1:8080", "1.2.3.4:3128"}));
    EXPECT_EQ(list.SortType(), TProxyCollection::stCountry);
    list.Sort(TProxyCollection::stPort);
    EXPECT_EQ(Addresses(list), QStringList({"200.0.0.1:80", "1.2.3.4:3128", "8.0.0.1:8080"}));
    list.Sort(TProxyCollection::stRating); // Rank 5 first
    EXPECT_EQ(Addresses(list), QStringList({"200.0.0.1:80", "1.2.3.4:3128", "8.0.0.1:8080"}));
    EXPECT_EQ(list.CompareItems(list.Items(0), list.Items(1)), -1);
    EXPECT_EQ(list.CompareItems(list.Items(1), list.Items(0)), 1);
    EXPECT_EQ(list.CompareItems(list.Items(1), list.Items(1)), 0);
}

TEST(ProxyCollection, SortByRatingWithEqualRanksUsesTheExactQuicksort) {
    TProxyCollection list;
    // Ranks 1 1 0.5 1 0 as records a b c d e: descending, the same shape as 80 80 3128 80 8080 in
    // the base test, so the equal ranks end up d b a.
    const double ranks[] = {1, 1, 0.5, 1, 0};
    const char *ids[] = {"a", "b", "c", "d", "e"};
    for (int i = 0; i < 5; ++i)
        list.Add(QString(), QString(), ranks[i], QString::fromLatin1(ids[i]), 1);
    list.Sort(TProxyCollection::stRating);
    QStringList order;
    for (int i = 0; i < list.Count(); ++i)
        order << list.Items(i)->IP();
    EXPECT_EQ(order, QStringList({"d", "b", "a", "c", "e"}));
}

TEST(ProxyCollection, ProxyExistsOnlyWithNoDuplicatesExactText) {
    TProxyCollection list;
    list.Add(QString(), QString(), 0, QStringLiteral("1.2.3.4"), 80);
    EXPECT_FALSE(list.ProxyExists(QStringLiteral("1.2.3.4"), 80)); // NoDuplicates is off
    list.SetNoDuplicates(true);
    EXPECT_TRUE(list.ProxyExists(QStringLiteral("1.2.3.4"), 80));
    EXPECT_FALSE(list.ProxyExists(QStringLiteral("1.2.3.4"), 81));
    EXPECT_FALSE(list.ProxyExists(QStringLiteral("01.2.3.4"), 80)); // the text, not the number
    EXPECT_FALSE(list.ProxyExists(QStringLiteral("1.2.3.4 "), 80));
}

// The index follows every path that changes the records or their keys.
TEST(ProxyCollection, IndexStaysInStepWithEveryChange) {
    TProxyCollection list;
    list.SetNoDuplicates(true);
    std::mt19937 rng(7);
    std::vector<std::pair<QString, int>> model; // what the list holds, in order
    auto check = [&](int step) {
        ASSERT_EQ(list.Count(), static_cast<int>(model.size())) << step;
        for (int i = 0; i < list.Count(); ++i) {
            ASSERT_EQ(list.Items(i)->IP(), model[static_cast<size_t>(i)].first) << step;
            ASSERT_EQ(list.Items(i)->Port(), model[static_cast<size_t>(i)].second) << step;
        }
        for (int a = 0; a < 6; ++a)
            for (int p = 80; p < 83; ++p) {
                const QString ip = QStringLiteral("10.0.0.%1").arg(a);
                const bool expected = std::find(model.begin(), model.end(), std::make_pair(ip, p)) != model.end();
                ASSERT_EQ(list.ProxyExists(ip, p), expected) << step << " " << a << " " << p;
            }
    };
    auto randomIp = [&] { return QStringLiteral("10.0.0.%1").arg(rng() % 6); };
    auto randomPort = [&] { return 80 + static_cast<int>(rng() % 3); };
    for (int step = 0; step < 3000; ++step) {
        const int n = list.Count();
        switch (rng() % 10) {
        case 0:
        case 1: {
            const QString ip = randomIp();
            const int port = randomPort();
            list.Add(QString(), QString(), 0, ip, port);
            model.emplace_back(ip, port);
            break;
        }
        case 2: {
            const int at = static_cast<int>(rng() % static_cast<unsigned>(n + 1));
            list.Insert(at);
            model.insert(model.begin() + at, {QString(), 0});
            break;
        }
        case 3:
            if (n) {
                const int at = static_cast<int>(rng() % static_cast<unsigned>(n));
                list.Delete(list.Items(at));
                model.erase(model.begin() + at);
            }
            break;
        case 4:
            if (n) {
                const int at = static_cast<int>(rng() % static_cast<unsigned>(n));
                const QString ip = randomIp();
                list.Items(at)->SetIP(ip);
                model[static_cast<size_t>(at)].first = ip;
            }
            break;
        case 5:
            if (n) {
                const int at = static_cast<int>(rng() % static_cast<unsigned>(n));
                const int port = randomPort();
                list.Items(at)->SetPort(port);
                model[static_cast<size_t>(at)].second = port;
            }
            break;
        case 6:
            if (n > 1) {
                const int from = static_cast<int>(rng() % static_cast<unsigned>(n));
                const int to = static_cast<int>(rng() % static_cast<unsigned>(n));
                list.Move(from, to);
                auto v = model[static_cast<size_t>(from)];
                model.erase(model.begin() + from);
                model.insert(model.begin() + to, v);
            }
            break;
        case 7:
            if (rng() % 8 == 0) {
                list.Clear();
                model.clear();
            } else if (n) {
                TProxtData source;
                source.SetIP(randomIp());
                source.SetPort(randomPort());
                const int at = static_cast<int>(rng() % static_cast<unsigned>(n));
                list.Items(at)->Assign(source);
                model[static_cast<size_t>(at)] = {source.IP(), source.Port()};
            }
            break;
        case 8: {
            TProxyCollection other;
            other.Assign(list);
            list.Assign(other);
            if (rng() % 4 == 0) {
                list.SetNoDuplicates(false);
                list.SetNoDuplicates(true);
            }
            break;
        }
        case 9: {
            list.Sort(TProxyCollection::stPort);
            // Sorting reorders; the model takes the list's order (keys are checked above).
            model.clear();
            for (int i = 0; i < list.Count(); ++i)
                model.emplace_back(list.Items(i)->IP(), list.Items(i)->Port());
            break;
        }
        }
        check(step);
        if (HasFatalFailure())
            return;
    }
}
