// TProgramConfig and its stream: defaults, property order, setters,
// destructor order, the language by system, the worked example, and round trips.

#include "config/ProgramConfig.h"
#include "tests/config/ConfigTestSupport.h"
#include "tests/config/StreamBytes.h"

#include <QMetaProperty>
#include <gtest/gtest.h>

using namespace configtest;

namespace {

QStringList PublishedNames(const QObject &Obj) {
    QStringList names;
    const QMetaObject *m = Obj.metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < m->propertyCount(); ++i)
        names << QLatin1String(m->property(i).name());
    return names;
}

TEST(ProgramConfig, PublishedPropertiesInSavingOrder) {
    TProgramConfig c(nullptr, QLocale::English);
    const QStringList table =
        QStringLiteral(
            "Enabled ProxyList ProxyListUser Language Browser Country Port ProxyType SupportSSL SupportCONNECT "
            "SupportPostGet MiniSpeed MaxPing MiniUptime TimeInteval UseListService CustomURL AutoDownloadProxy "
            "AutoDownloadInterval AutoChangeProxy AutoChangeInterval RemoveProxyOnSwitch SortOption KeepHistory "
            "KeepHistoryHours UseLocalProxy LocalProxyIp LocalProxyUserPAss BanedProxy ProxyFilter MiniUptimeHr Sort "
            "ActiveProxyServer GroupBoxVIPState GroupBoxFreeState GroupBoxSettingsState")
            .split(u' ');
    EXPECT_EQ(PublishedNames(c), table);
    EXPECT_EQ(
        PublishedNames(*c.ProxyFilter()),
        QStringLiteral("Active Country Port ProxyType BotNetProxy HttpsPost HttpPost MaxPing MiniSpeed").split(u' '));
}

TEST(ProgramConfig, Defaults) {
    TProgramConfig c(nullptr, QLocale::English);
    EXPECT_TRUE(c.Enabled());
    EXPECT_EQ(c.ProxyList()->Count(), 0);
    EXPECT_TRUE(c.ProxyList()->NoDuplicates());
    EXPECT_EQ(c.ProxyListUser()->Count(), 0);
    EXPECT_TRUE(c.ProxyListUser()->NoDuplicates());
    EXPECT_EQ(c.Language(), QStringLiteral("english"));
    EXPECT_EQ(c.Browser(), QStringLiteral("all browsers"));
    EXPECT_EQ(c.Country(), QString());
    EXPECT_EQ(c.Port(), QString());
    EXPECT_EQ(c.ProxyType(), QStringLiteral("anonymous or elite"));
    EXPECT_EQ(c.SupportSSL(), QString());
    EXPECT_EQ(c.SupportCONNECT(), QString());
    EXPECT_EQ(c.SupportPostGet(), QString());
    EXPECT_EQ(c.MiniSpeed(), 10);
    EXPECT_EQ(c.MaxPing(), 15);
    EXPECT_EQ(c.MiniUptime(), 70);
    EXPECT_EQ(c.TimeInteval(), 15);
    EXPECT_TRUE(c.UseListService());
    EXPECT_EQ(c.CustomURL(), QStringLiteral("http://"));
    EXPECT_FALSE(c.AutoDownloadProxy());
    EXPECT_EQ(c.AutoDownloadInterval(), 10);
    EXPECT_FALSE(c.AutoChangeProxy());
    EXPECT_EQ(c.AutoChangeInterval(), 5);
    EXPECT_FALSE(c.RemoveProxyOnSwitch());
    EXPECT_EQ(c.SortOption(), TProxyCollection::stRating);
    EXPECT_FALSE(c.KeepHistory());
    EXPECT_EQ(c.KeepHistoryHours(), 24);
    EXPECT_FALSE(c.UseLocalProxy());
    EXPECT_EQ(c.LocalProxyIp(), QString());
    EXPECT_EQ(c.LocalProxyUserPAss(), QString());
    EXPECT_EQ(c.BanedProxy()->Count(), 0);
    EXPECT_TRUE(c.ProxyFilter()->Active());
    EXPECT_EQ(c.ProxyFilter()->Country(), QStringLiteral("any"));
    EXPECT_EQ(c.ProxyFilter()->Port(), QStringLiteral("any"));
    EXPECT_EQ(c.ProxyFilter()->ProxyType(), QStringLiteral("any"));
    EXPECT_EQ(c.ProxyFilter()->BotNetProxy(), tsUnknown);
    EXPECT_EQ(c.ProxyFilter()->MaxPing(), 0.0);
    EXPECT_EQ(c.MiniUptimeHr(), 0);
    EXPECT_FALSE(c.Sort());
    EXPECT_EQ(c.ActiveProxyServer(), QString());
    EXPECT_TRUE(c.GroupBoxVIPState());
    EXPECT_FALSE(c.GroupBoxFreeState());
    EXPECT_FALSE(c.GroupBoxSettingsState());
}

TEST(ProgramConfig, LanguageBySystem) {
    const struct {
        QLocale::Language System;
        const char *Want;
    } cases[] = {
        {QLocale::German, "deutsch"},        {QLocale::Spanish, "español"},
        {QLocale::French, "française"},      {QLocale::Russian, "русский"},
        {QLocale::Ukrainian, "український"}, {QLocale::English, "english"},
        {QLocale::Japanese, "english"},      {QLocale::C, "english"},
        {QLocale::Italian, "english"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(TProgramConfig(nullptr, c.System).Language(), QString::fromUtf8(c.Want)) << c.Want;
        SetSystemLanguageSource([&] { return c.System; });
        EXPECT_EQ(TProgramConfig().Language(), QString::fromUtf8(c.Want)) << c.Want;
    }
    SetSystemLanguageSource({});
    EXPECT_EQ(SystemLanguage(), QLocale::system().language());
}

TEST(ProgramConfig, ObjectSettersCopyIntoTheOwnedObjects) {
    TProgramConfig c(nullptr, QLocale::English);
    TProxyCollection *owned = c.ProxyList();
    TProxyCollection given;
    AddProxy(given, QStringLiteral("1.2.3.4"), 8080, 2.75)->SetCountry(QStringLiteral("Germany"));
    c.SetProxyList(&given);
    EXPECT_EQ(c.ProxyList(), owned);
    ASSERT_EQ(c.ProxyList()->Count(), 1);
    EXPECT_EQ(c.ProxyList()->Items(0)->Country(), QStringLiteral("Germany"));
    given.Items(0)->SetCountry(QStringLiteral("France"));
    AddProxy(given, QStringLiteral("5.6.7.8"), 80);
    EXPECT_EQ(c.ProxyList()->Count(), 1);
    EXPECT_EQ(c.ProxyList()->Items(0)->Country(), QStringLiteral("Germany"));

    c.SetProxyListUser(&given);
    EXPECT_EQ(c.ProxyListUser()->Count(), 2);

    TStringList lines;
    lines.Add(QStringLiteral("a=1"));
    TStringList *ownedLines = c.BanedProxy();
    c.SetBanedProxy(&lines);
    lines.Add(QStringLiteral("b=2"));
    EXPECT_EQ(c.BanedProxy(), ownedLines);
    EXPECT_EQ(c.BanedProxy()->Strings(), QStringList{QStringLiteral("a=1")});

    TProxyFilter filter;
    filter.SetActive(false);
    filter.SetCountry(QStringLiteral("US"));
    filter.SetMaxPing(3);
    TProxyFilter *ownedFilter = c.ProxyFilter();
    c.SetProxyFilter(&filter);
    filter.SetCountry(QStringLiteral("DE"));
    EXPECT_EQ(c.ProxyFilter(), ownedFilter);
    EXPECT_FALSE(c.ProxyFilter()->Active());
    EXPECT_EQ(c.ProxyFilter()->Country(), QStringLiteral("US"));
    EXPECT_EQ(c.ProxyFilter()->MaxPing(), 3.0);

    // Through the meta-object too: the property write copies.
    TProxyCollection other;
    AddProxy(other, QStringLiteral("9.9.9.9"), 99);
    c.setProperty("ProxyList", QVariant::fromValue(&other));
    EXPECT_EQ(c.ProxyList(), owned);
    EXPECT_EQ(c.ProxyList()->Items(0)->IP(), QStringLiteral("9.9.9.9"));

    EXPECT_THROW(c.SetProxyList(nullptr), EAssignError);
}

TEST(ProgramConfig, DestructorFreesInTheSpecsOrder) {
    QStringList order;
    {
        TProgramConfig c(nullptr, QLocale::English);
        auto watch = [&](QObject *o, const char *name) {
            QObject::connect(o, &QObject::destroyed, [&order, name] { order << QLatin1String(name); });
        };
        watch(c.ProxyList(), "ProxyList");
        watch(c.ProxyListUser(), "ProxyListUser");
        watch(c.BanedProxy(), "BanedProxy");
        watch(c.ProxyFilter(), "ProxyFilter");
    }
    EXPECT_EQ(order, QStringLiteral("ProxyFilter BanedProxy ProxyListUser ProxyList").split(u' '));
}

// ---------------------------------------------------------------------------------------------
// The stream of a configuration

TEST(ProgramConfigStream, WorkedExampleByteForByte) {
    TProgramConfig c(nullptr, QLocale::English);
    ASSERT_TRUE(c.Enabled());
    AddProxy(*c.ProxyList(), QStringLiteral("1.2.3.4"), 8080, 2.75);
    TBytes want;
    want.Raw("TPF0").Byte(0x0E).Raw("TProgramConfig").Byte(0x00);
    want.Byte(0x07).Raw("Enabled").Byte(0x09);
    want.Byte(0x16).Raw("ProxyList.NoDuplicates").Byte(0x09);
    want.Byte(0x09).Raw("ProxyList").Byte(0x0E);
    want.Byte(0x01);
    want.Byte(0x04).Raw("Rank").Hex("05 00 00 00 00 00 00 00 B0 00 40");
    want.Byte(0x02).Raw("IP").Byte(0x06).Byte(0x07).Raw("1.2.3.4");
    want.Byte(0x04).Raw("Port").Hex("03 90 1F");
    for (const char *tri :
         {"Alive", "Tranparent", "Anonymous", "Elite", "Botnet", "HttpGet", "HttpPost", "HttpsGet", "HttpsPost"})
        want.Name(tri).Byte(0x07).Byte(0x09).Raw("tsUnknown");
    want.Byte(0x05).Raw("Speed").Hex("05 00 00 00 00 00 00 00 80 FF BF");
    want.Byte(0x04).Raw("Ping").Hex("05 00 00 00 00 00 00 00 80 FF BF");
    want.Byte(0x06).Raw("Tested").Byte(0x08);
    want.Byte(0x00).Byte(0x00);
    want.Byte(0x1A).Raw("ProxyListUser.NoDuplicates").Byte(0x09);
    want.Byte(0x0D).Raw("ProxyListUser").Byte(0x0E);
    const QByteArray stream = WriteComponent(c);
    EXPECT_EQ(stream.left(want.Bytes().size()).toHex(' '), want.Bytes().toHex(' '));
    // ... and the file is the zlib stream of exactly this, at level 9.
    const QByteArray file = c.SaveToBytes();
    EXPECT_EQ(file.left(2).toHex(' '), "78 da");
    EXPECT_EQ(ZDecompress(file), stream);
}

TEST(ProgramConfigStream, DefaultConfigurationRoundTrip) {
    SetSystemLanguageSource([] { return QLocale::German; });
    TProgramConfig saved;
    SetSystemLanguageSource([] { return QLocale::English; });
    TProgramConfig loaded;
    SetSystemLanguageSource({});
    ASSERT_EQ(saved.Language(), QStringLiteral("deutsch"));
    loaded.LoadFromBytes(saved.SaveToBytes());
    EXPECT_EQ(Describe(loaded), Describe(saved));
    EXPECT_EQ(loaded.Language(), QStringLiteral("deutsch"));
}

TEST(ProgramConfigStream, EveryPropertyChangedRoundTrip) {
    TProgramConfig saved(nullptr, QLocale::English);
    ChangeEverything(saved);
    TProgramConfig loaded(nullptr, QLocale::English);
    ASSERT_NE(Describe(loaded), Describe(saved));
    loaded.LoadFromBytes(saved.SaveToBytes());
    EXPECT_EQ(Describe(loaded).toStdString(), Describe(saved).toStdString());
    // Spot checks of the kinds of value.
    EXPECT_EQ(loaded.Language(), QStringLiteral("русский"));
    EXPECT_EQ(loaded.ProxyList()->Items(1)->Country(), QStringLiteral("Россия"));
    EXPECT_EQ(loaded.KeepHistoryHours(), -2147483647 - 1);
    EXPECT_EQ(loaded.SortOption(), TProxyCollection::stPort);
    EXPECT_EQ(loaded.ProxyFilter()->MiniSpeed(), 10.25);
    EXPECT_EQ(loaded.BanedProxy()->Strings(),
              QStringList({QStringLiteral("10.0.0.1:3128=46000.5"), QStringLiteral("10.0.0.2:3129=46000.75")}));
    EXPECT_FALSE(loaded.ProxyList()->NoDuplicates());
    EXPECT_EQ(loaded.ProxyListUser()->Items(0)->Speed(), -2.0);
}

TEST(ProgramConfigStream, NonAsciiTextsUseTheirTags) {
    TProgramConfig c(nullptr, QLocale::Russian);
    c.SetBrowser(QStringLiteral("español"));
    const QByteArray s = WriteComponent(c);
    EXPECT_TRUE(s.contains(TBytes().Name("Language").Wide(QStringLiteral("русский")).Bytes()));
    EXPECT_TRUE(s.contains(TBytes().Name("Browser").Utf8(QStringLiteral("español")).Bytes()));
    TProgramConfig back(nullptr, QLocale::English);
    ReadComponent(s, back);
    EXPECT_EQ(back.Language(), QStringLiteral("русский"));
    EXPECT_EQ(back.Browser(), QStringLiteral("español"));
}

TEST(ProgramConfigStream, ZeroSpeedOrPingIsNotWrittenAndComesBackAsMinusOne) {
    TProgramConfig c(nullptr, QLocale::English);
    TProxtData *p = AddProxy(*c.ProxyList(), QStringLiteral("1.2.3.4"), 8080);
    p->SetSpeed(0);
    p->SetPing(0);
    const QByteArray s = WriteComponent(c);
    EXPECT_FALSE(s.contains(QByteArray("\x05Speed", 6)));
    EXPECT_FALSE(s.contains(QByteArray("\x04Ping", 5)));
    EXPECT_FALSE(s.contains(QByteArray("\x04Rank", 5))); // rank 0 likewise
    TProgramConfig back(nullptr, QLocale::English);
    back.LoadFromBytes(c.SaveToBytes());
    ASSERT_EQ(back.ProxyList()->Count(), 1);
    EXPECT_EQ(back.ProxyList()->Items(0)->Speed(), -1.0);
    EXPECT_EQ(back.ProxyList()->Items(0)->Ping(), -1.0);
    EXPECT_EQ(back.ProxyList()->Items(0)->Rank(), 0.0);
}

// clang-format off (the bytes stay laid out record by record)
TEST(ProgramConfigStream, HistoryIsWrittenOnlyWithLines) {
    TProgramConfig c(nullptr, QLocale::English);
    EXPECT_FALSE(WriteComponent(c).contains("BanedProxy"));
    c.BanedProxy()->Add(QStringLiteral("1.1.1.1:80=45000"));
    c.BanedProxy()->Add(QStringLiteral("2.2.2.2:80=45001"));
    c.BanedProxy()->Add(QStringLiteral("0.0.0.0:1=1"));
    const QByteArray s = WriteComponent(c);
    EXPECT_TRUE(s.contains(TBytes()
                               .Name("BanedProxy.Strings")
                               .Byte(1)
                               .String("1.1.1.1:80=45000")
                               .String("2.2.2.2:80=45001")
                               .String("0.0.0.0:1=1")
                               .End()
                               .Bytes()));
    TProgramConfig back(nullptr, QLocale::English);
    back.BanedProxy()->Add(QStringLiteral("replaced"));
    back.LoadFromBytes(c.SaveToBytes());
    EXPECT_EQ(back.BanedProxy()->Strings(), c.BanedProxy()->Strings());
}
// clang-format on

TEST(ProgramConfigStream, EmptyCollectionValueLeavesTheList) {
    const QByteArray emptyLists = TProgramConfig(nullptr, QLocale::English).SaveToBytes();
    TProgramConfig c(nullptr, QLocale::English);
    AddProxy(*c.ProxyList(), QStringLiteral("1.2.3.4"), 80);
    AddProxy(*c.ProxyListUser(), QStringLiteral("5.6.7.8"), 81);
    c.LoadFromBytes(emptyLists);
    ASSERT_EQ(c.ProxyList()->Count(), 1);
    EXPECT_EQ(c.ProxyList()->Items(0)->AsString(), QStringLiteral("1.2.3.4:80"));
    ASSERT_EQ(c.ProxyListUser()->Count(), 1);
    EXPECT_EQ(c.ProxyListUser()->Items(0)->AsString(), QStringLiteral("5.6.7.8:81"));
}

TEST(ProgramConfigStream, LoadedRecordsAreIndexedForDuplicates) {
    TProgramConfig c(nullptr, QLocale::English);
    AddProxy(*c.ProxyList(), QStringLiteral("1.2.3.4"), 8080);
    TProgramConfig back(nullptr, QLocale::English);
    back.LoadFromBytes(c.SaveToBytes());
    EXPECT_TRUE(back.ProxyList()->ProxyExists(QStringLiteral("1.2.3.4"), 8080));
    EXPECT_FALSE(back.ProxyList()->ProxyExists(QStringLiteral("1.2.3.4"), 8081));
}

// clang-format off (the bytes stay laid out record by record)
TEST(ProgramConfigStream, AFileThatLacksAPropertyKeepsItsDefault) {
    TProgramConfig c(nullptr, QLocale::French);
    c.LoadFromBytes(
        ZCompress(TBytes().Header("TProgramConfig").Name("Enabled").False().Name("MaxPing").Int8(3).End().End()));
    EXPECT_FALSE(c.Enabled());
    EXPECT_EQ(c.MaxPing(), 3);
    TProgramConfig defaults(nullptr, QLocale::French);
    defaults.SetEnabled(false);
    defaults.SetMaxPing(3);
    EXPECT_EQ(Describe(c), Describe(defaults));
    EXPECT_EQ(c.Language(), QStringLiteral("française"));
}
// clang-format on

// clang-format off (the bytes stay laid out record by record)
TEST(ProgramConfigStream, AFailedLoadChangesNothing) {
    TProgramConfig c(nullptr, QLocale::English);
    ChangeEverything(c);
    const QString before = Describe(c);
    const QByteArray bad = ZCompress(TBytes()
                                         .Header("TProgramConfig")
                                         .Name("Enabled")
                                         .True()
                                         .Name("ProxyList")
                                         .Byte(14)
                                         .Byte(1)
                                         .Name("IP")
                                         .String("6.6.6.6")
                                         .End()
                                         .End()
                                         .Name("Language")
                                         .String("english")
                                         .Name("NoSuchProperty")
                                         .True()
                                         .End()
                                         .End());
    EXPECT_THROW(c.LoadFromBytes(bad), EReadError);
    EXPECT_EQ(Describe(c).toStdString(), before.toStdString());
}
// clang-format on

} // namespace
