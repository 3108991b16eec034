// Activation and switching: choosing a proxy, toggling, the random switch over the proxy menu,
// removal on switch, deletion, the usage history, the filter, the relay's settings with and
// without a local proxy, the menu's enabled states, flags and rating pictures.

#include "app/Marlo.ComCtrl.HotKey.h"
#include "tests/app/MainFormFixture.h"
#include "tests/support/LoopbackHttpServer.h"

#include <QFile>

using namespace apptest;

namespace {

const bool kMemoryBackend = (qputenv("GSETTINGS_BACKEND", "memory"), true);

} // namespace

TEST_F(MainFormTest, ChoosingAProxyAlwaysEndsWithProxyingOn) {
    ASSERT_TRUE(kMemoryBackend);
    const struct {
        bool Enabled;
        const char *Saved;
    } Cases[] = {{false, ""}, {true, ""}, {false, "10.0.0.1:8080"}, {true, "10.0.0.1:8080"}, {true, "10.0.0.2:8080"}};
    for (const auto &Case : Cases) {
        SCOPED_TRACE(std::string(Case.Saved) + (Case.Enabled ? " on" : " off"));
        Seed.ProxyList()->Clear();
        Vip("10.0.0.1", 8080);
        Vip("10.0.0.2", 8080);
        Seed.SetEnabled(Case.Enabled);
        Seed.SetActiveProxyServer(QLatin1String(Case.Saved));
        Start();
        Form->SelectProxy->Items(1)->Click();
        EXPECT_TRUE(Config().Enabled());
        EXPECT_EQ(Active(), QStringLiteral("10.0.0.2:8080"));
        EXPECT_EQ(Config().ActiveProxyServer(), QStringLiteral("10.0.0.2:8080"));
        EXPECT_FALSE(Form->SelectProxy->Items(0)->Selected());
        EXPECT_TRUE(Form->SelectProxy->Items(1)->Selected());
        EXPECT_TRUE(Relay().Active());
        EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral("10.0.0.2:8080"));
        EXPECT_EQ(Relay().GetGatewayHosts(), QStringList{"."});
        EXPECT_EQ(SystemProxy(), RelayAddress() + QStringLiteral(" on"));
        EXPECT_EQ(Form->EnableProxy->Caption(), Form->ProxyDisableCaption);
        EXPECT_EQ(Views.Events("animated:").last(), QStringLiteral("animated:1"));
        Form->FormClose();
        Form.reset();
        QFile::remove(ConfigPath());
    }
}

TEST_F(MainFormTest, TheEnableItemTogglesBetweenTheGatewayAndDirectAccess) {
    Vip("10.0.0.1", 8080);
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
    Seed.SetEnabled(true);
    Start();
    ASSERT_EQ(Relay().GetGatewayProxy(), QStringLiteral("10.0.0.1:8080"));

    Form->EnableProxy->Click();
    EXPECT_FALSE(Config().Enabled());
    EXPECT_EQ(Active(), QStringLiteral("10.0.0.1:8080"));
    EXPECT_TRUE(Relay().Active());
    EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral(":0"));
    EXPECT_TRUE(Relay().GetGatewayHosts().isEmpty());
    EXPECT_EQ(SystemProxy(), QStringLiteral(" off"));
    EXPECT_EQ(Views.Events("animated:").last(), QStringLiteral("animated:0"));
    EXPECT_EQ(Form->EnableProxy->Caption(), Form->ProxyEnableCaption);
    EXPECT_EQ(Form->EnableProxy->Hint(), Form->ProxyEnableHint);

    Form->EnableProxyClick(nullptr);
    EXPECT_TRUE(Config().Enabled());
    EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral("10.0.0.1:8080"));
    EXPECT_EQ(SystemProxy(), RelayAddress() + QStringLiteral(" on"));
}

TEST_F(MainFormTest, TheTrayClickWithoutAnActiveProxyPicksOneAndSwitchesOn) {
    Vip("10.0.0.1", 8080);
    Vip("10.0.0.2", 8080);
    Vip("10.0.0.3", 8080);
    Draws = {2};
    Start();
    ASSERT_EQ(Active(), QString());
    Form->EnableProxyClick(nullptr);
    EXPECT_EQ(Active(), QStringLiteral("10.0.0.3:8080"));
    EXPECT_TRUE(Config().Enabled());
    EXPECT_EQ(Bounds, std::vector<int>{3});
}

TEST_F(MainFormTest, NothingHappensBeforeStartUpIsComplete) {
    Vip("10.0.0.1", 8080);
    Form = std::make_unique<TMainForm>(Options);
    Form->EnableProxyClick(nullptr);
    Form->SwitchProxyClick(Form->SwitchProxy);
    Form->DeleteProxyClick(Form->DeleteProxy);
    EXPECT_EQ(Form->ActiveProxy, nullptr);
    EXPECT_TRUE(Views.Events().isEmpty());
}

TEST_F(MainFormTest, EveryProxyOfTheMenuCanBeReachedBySwitching) {
    // u user and v downloaded proxies; draw i picks user entry i, or downloaded entry i - u.
    const struct { int u, v; } Shapes[] = {{0, 1}, {0, 3}, {1, 0}, {2, 0}, {1, 1}, {2, 3}};
    for (const auto &Shape : Shapes) {
        SCOPED_TRACE(testing::Message() << Shape.u << " user, " << Shape.v << " downloaded");
        Seed.ProxyList()->Clear();
        Seed.ProxyListUser()->Clear();
        QStringList Expected;
        for (int i = 0; i < Shape.u; ++i) {
            User(QStringLiteral("10.1.0.%1").arg(i + 1).toLatin1().constData(), 3128);
            Expected << QStringLiteral("10.1.0.%1:3128").arg(i + 1);
        }
        for (int i = 0; i < Shape.v; ++i) {
            Vip(QStringLiteral("10.2.0.%1").arg(i + 1).toLatin1().constData(), 8080);
            Expected << QStringLiteral("10.2.0.%1:8080").arg(i + 1);
        }
        Start();
        // The separator sits between the groups only when both are there.
        QStringList Captions = MenuCaptions();
        if (Shape.u > 0 && Shape.v > 0) {
            EXPECT_EQ(Captions.indexOf(QStringLiteral("-")), Shape.u);
            EXPECT_EQ(Form->SelectProxy->Items(Shape.u)->Height(), 8);
            Captions.removeAt(Shape.u);
        }
        EXPECT_EQ(Captions, Expected);
        EXPECT_EQ(Form->FUSerProxyCount, Shape.u);
        EXPECT_EQ(Form->FVipProxyCount, Shape.v);
        for (int i = 0; i < Shape.u + Shape.v; ++i) {
            Bounds.clear();
            Draws = {i};
            Form->SwitchProxyClick(nullptr);
            EXPECT_EQ(Active(), Expected[i]) << "draw " << i;
            EXPECT_EQ(Bounds, std::vector<int>{Shape.u + Shape.v});
            EXPECT_TRUE(Config().Enabled());
        }
        Form.reset();
        QFile::remove(ConfigPath());
    }
}

TEST_F(MainFormTest, SwitchingWithAnEmptyMenuDoesNothing) {
    Start();
    Views.Clear();
    Form->SwitchProxyClick(Form->SwitchProxy);
    Form->EnableProxyClick(nullptr);
    Pump();
    EXPECT_TRUE(Bounds.empty());
    EXPECT_EQ(Form->ActiveProxy, nullptr);
    EXPECT_FALSE(Config().Enabled());
    EXPECT_TRUE(MenuCaptions().isEmpty());
    // The browsers were pointed at the relay at start-up: it forwards directly meanwhile.
    EXPECT_TRUE(Relay().Active());
    EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral(":0"));
    EXPECT_TRUE(testsupport::WaitForPort(Options.RelayPort));
    for (TMenuItemEx *Item : {Form->SelectProxy, Form->SwitchProxy, Form->DeleteProxy, Form->EnableProxy})
        EXPECT_FALSE(Item->Enabled()) << Item->objectName().toStdString();
}

TEST_F(MainFormTest, RemovalOnSwitchDependsOnWhoAsks) {
    // Senders by name; "form" is what the download passes, "hotkey" any other component.
    const struct {
        const char *Sender;
        bool Removes;
    } Cases[] = {{"none", false}, {"timer-switch", true}, {"timer-download", false}, {"hotkey", true}, {"item", true}};
    for (const auto &Case : Cases) {
        SCOPED_TRACE(Case.Sender);
        Seed.ProxyList()->Clear();
        Vip("10.0.0.1", 8080);
        Vip("10.0.0.2", 8080);
        Vip("10.0.0.3", 8080);
        Seed.SetRemoveProxyOnSwitch(true);
        Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
        Start();
        QObject Hotkey;
        const QString Name = QLatin1String(Case.Sender);
        QObject *Sender = Name == "none"             ? nullptr
                          : Name == "timer-switch"   ? static_cast<QObject *>(Form->TimerAutoSwitch)
                          : Name == "timer-download" ? static_cast<QObject *>(Form->TimerAutoDownload)
                          : Name == "hotkey"         ? &Hotkey
                                                     : static_cast<QObject *>(Form->SwitchProxy);
        Draws = {0};
        Form->SwitchProxyClick(Sender);
        EXPECT_EQ(Config().ProxyList()->Count(), Case.Removes ? 2 : 3);
        EXPECT_EQ(Config().ProxyList()->ProxyExists(QStringLiteral("10.0.0.1"), 8080), !Case.Removes);
        EXPECT_EQ(Active(), Case.Removes ? QStringLiteral("10.0.0.2:8080") : QStringLiteral("10.0.0.1:8080"));
        EXPECT_EQ(MenuCaptions().size(), Case.Removes ? 2 : 3);
        Form.reset();
        QFile::remove(ConfigPath());
    }
}

TEST_F(MainFormTest, TheTimerSwitchWithOneProxyLeftRemovesItAndLeavesNothingActive) {
    Vip("10.0.0.1", 8080);
    Seed.SetRemoveProxyOnSwitch(true);
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
    Seed.SetEnabled(true);
    Start();
    Form->SwitchProxyClick(Form->TimerAutoSwitch);
    Pump();
    EXPECT_EQ(Config().ProxyList()->Count(), 0);
    EXPECT_EQ(Form->ActiveProxy, nullptr);
    EXPECT_FALSE(Config().Enabled());
    EXPECT_FALSE(Form->DeleteProxy->Enabled());
}

TEST_F(MainFormTest, DeletingFallsBackToTheSameAddressInTheOtherList) {
    const struct {
        bool TwinInUserList;
        const char *ActiveAfter;
    } Cases[] = {{true, "10.0.0.1:8080"}, {false, ""}};
    for (const auto &Case : Cases) {
        SCOPED_TRACE(Case.TwinInUserList);
        Seed.ProxyList()->Clear();
        Seed.ProxyListUser()->Clear();
        Vip("10.0.0.1", 8080);
        Vip("10.0.0.2", 8080);
        User(Case.TwinInUserList ? "10.0.0.1" : "10.0.0.7", 8080);
        Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
        Seed.SetEnabled(true);
        Start();
        // The last match in building order wins: the downloaded record.
        ASSERT_EQ(Form->ActiveProxy->Collection(), Config().ProxyList());
        Form->DeleteProxyClick(nullptr);
        Pump();
        EXPECT_EQ(Config().ProxyList()->Count(), 1);
        EXPECT_EQ(Config().ProxyListUser()->Count(), 1);
        EXPECT_EQ(Active(), QLatin1String(Case.ActiveAfter));
        EXPECT_EQ(Config().Enabled(), Case.TwinInUserList);
        EXPECT_EQ(Form->DeleteProxy->Enabled(), Case.TwinInUserList);
        // The relay keeps its last gateway until the next setup.
        EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral("10.0.0.1:8080"));
        Form.reset();
        QFile::remove(ConfigPath());
    }
}

TEST_F(MainFormTest, DeletingIsRefusedWhileTheCheckerRuns) {
    Vip("10.0.0.1", 8080);
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
    Start();
    Views.DuringChecker = [](TMainForm &F) { F.DeleteProxyClick(F.DeleteProxy); };
    Form->TestProxyClick();
    EXPECT_EQ(Config().ProxyList()->Count(), 1);
    EXPECT_EQ(Active(), QStringLiteral("10.0.0.1:8080"));
}

TEST_F(MainFormTest, DeletingWithASenderSwitchesToARemainingProxy) {
    Vip("10.0.0.1", 8080);
    Vip("10.0.0.2", 8080);
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
    Start();
    Form->DeleteProxy->Click();
    EXPECT_EQ(Active(), QStringLiteral("10.0.0.2:8080"));
    EXPECT_TRUE(Config().Enabled());
    EXPECT_EQ(MenuCaptions(), QStringList{"10.0.0.2:8080"});
}

TEST(MainFormHistory, StampsAreDaysSinceTheEndOf1899) {
    const struct {
        QDateTime When;
        const char *Stamp;
    } Cases[] = {{QDateTime(QDate(2012, 11, 21), QTime(13, 37, 17)), "41234.5675578704"},
                 {QDateTime(QDate(2026, 12, 11), QTime(6, 0)), "46367.25"},
                 {QDateTime(QDate(1899, 12, 30), QTime(0, 0)), "0"},
                 {QDateTime(QDate(2000, 1, 1), QTime(12, 0)), "36526.5"}};
    for (const auto &Case : Cases) {
        EXPECT_EQ(TMainForm::HistoryStamp(Case.When), QLatin1String(Case.Stamp));
        double Days = -1;
        EXPECT_TRUE(TMainForm::ParseHistoryStamp(QLatin1String(Case.Stamp), Days));
    }
    double Days = 0;
    EXPECT_FALSE(TMainForm::ParseHistoryStamp(QStringLiteral("41234,5"), Days));
    EXPECT_FALSE(TMainForm::ParseHistoryStamp(QStringLiteral("soon"), Days));
}

TEST_F(MainFormTest, AUsedProxyIsHiddenForItsHoursFromTheFirstUse) {
    Vip("10.0.0.1", 8080);
    Vip("10.0.0.2", 8080);
    Seed.SetKeepHistory(true);
    Seed.SetKeepHistoryHours(24);
    const QDateTime First = Clock;
    Start();
    Form->SelectProxy->Items(0)->Click();
    EXPECT_EQ(Config().BanedProxy()->Values(QStringLiteral("10.0.0.1")), QStringLiteral("46367.25"));

    // Used again 12 hours later (the history is off meanwhile, so it is in the menu): the stamp
    // stays that of the first use.
    Config().SetKeepHistory(false);
    Form->ReBuildProxyMenu();
    Clock = First.addSecs(12 * 3600);
    Form->SelectProxy->Items(0)->Click();
    EXPECT_EQ(Config().BanedProxy()->Values(QStringLiteral("10.0.0.1")), QStringLiteral("46367.25"));
    ASSERT_EQ(Config().BanedProxy()->Count(), 1);

    // With the history on, the rebuild hides it and so finds no active proxy: proxying goes off.
    Config().SetKeepHistory(true);
    Clock = First.addSecs(23 * 3600 + 59 * 60);
    Form->ReBuildProxyMenu();
    EXPECT_EQ(MenuCaptions(), QStringList{"10.0.0.2:8080"});
    EXPECT_EQ(Form->ActiveProxy, nullptr);
    EXPECT_FALSE(Config().Enabled());
    // The record stays in its list.
    EXPECT_EQ(Config().ProxyList()->Count(), 2);

    // Expired: shown again and the line is gone, so the next use starts a new period.
    Clock = First.addSecs(24 * 3600 + 60);
    Form->ReBuildProxyMenu();
    EXPECT_EQ(MenuCaptions().size(), 2);
    EXPECT_EQ(Config().BanedProxy()->IndexOfName(QStringLiteral("10.0.0.1")), -1);
}

TEST_F(MainFormTest, HistoryLinesThatHideNothingAreDroppedOrIgnored) {
    Vip("10.0.0.1", 8080);
    Vip("10.0.0.2", 8080);
    Vip("10.0.0.3", 8080);
    Seed.SetKeepHistory(true);
    Seed.SetKeepHistoryHours(1);
    // A stamp that is no number, an empty one, and one from a minute ago.
    Seed.BanedProxy()->Add(QStringLiteral("10.0.0.1=soon"));
    Seed.BanedProxy()->Add(QStringLiteral("10.0.0.2="));
    Seed.BanedProxy()->Add(QStringLiteral("10.0.0.3=") + TMainForm::HistoryStamp(Clock.addSecs(-60)));
    Start();
    EXPECT_EQ(MenuCaptions(), (QStringList{"10.0.0.1:8080", "10.0.0.2:8080"}));
    EXPECT_EQ(Config().BanedProxy()->IndexOfName(QStringLiteral("10.0.0.1")), -1);
    EXPECT_EQ(Config().BanedProxy()->Count(), 2);
    // Without the history nothing is hidden and nothing removed.
    Config().SetKeepHistory(false);
    Form->ReBuildProxyMenu();
    EXPECT_EQ(MenuCaptions().size(), 3);
    EXPECT_EQ(Config().BanedProxy()->Count(), 2);
}

TEST_F(MainFormTest, AFilterThatExcludesTheActiveProxyTurnsProxyingOffButLeavesTheRelay) {
    Vip("10.0.0.1", 8080, "US");
    Vip("10.0.0.2", 8080, "DE");
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
    Seed.SetEnabled(true);
    Start();
    ASSERT_EQ(Relay().GetGatewayProxy(), QStringLiteral("10.0.0.1:8080"));
    TProxyFilter *Filter = Config().ProxyFilter();
    Filter->SetCountry(QStringLiteral("de"));
    Filter->SetPort(QStringLiteral("any"));
    Filter->SetProxyType(QStringLiteral("any"));
    Filter->SetActive(true);
    Form->ReBuildProxyMenu();
    Pump();
    EXPECT_EQ(MenuCaptions(), QStringList{"10.0.0.2:8080"});
    EXPECT_EQ(Form->ActiveProxy, nullptr);
    EXPECT_FALSE(Config().Enabled());
    EXPECT_EQ(Form->EnableProxy->Caption(), Form->ProxyEnableCaption);
    EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral("10.0.0.1:8080"));
    EXPECT_FALSE(Form->DeleteProxy->Enabled());
    EXPECT_TRUE(Form->SwitchProxy->Enabled());
}

TEST_F(MainFormTest, TheLocalProxyTextBecomesTheRelaysLocalProxy) {
    const struct {
        const char *Text;
        bool Use;
        const char *LocalProxy;
        const char *UserPass; // as the relay sends it: base64 of "user:pass"
        bool Warns;
    } Cases[] = {
        {"127.0.0.1:3129", true, "127.0.0.1:3129", "", false},
        {"user:pass@127.0.0.1:3129", true, "127.0.0.1:3129", "dXNlcjpwYXNz", false},
        {"user:pass@127.0.0.1:3129", false, ":0", "", false},
        {"user:pass@127.0.0.1:port", true, ":0", "", true},
        {"user:pass@", true, ":0", "", true},
        {"127.0.0.1", true, ":0", "", true},
        {"", true, ":0", "", true},
    };
    for (const auto &Case : Cases) {
        SCOPED_TRACE(std::string(Case.Text) + (Case.Use ? " used" : " unused"));
        Seed.ProxyList()->Clear();
        Vip("10.0.0.1", 8080);
        Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
        Seed.SetEnabled(true);
        Seed.SetUseLocalProxy(Case.Use);
        Seed.SetLocalProxyIp(QLatin1String(Case.Text));
        Views.Clear();
        Start();
        EXPECT_EQ(Relay().GetLocalProxy(), QLatin1String(Case.LocalProxy));
        EXPECT_EQ(Relay().GetLocalProxyUserPass(), QLatin1String(Case.UserPass));
        const QStringList Warnings = Views.Events("warning:");
        EXPECT_EQ(Warnings.size(), Case.Warns ? 1 : 0);
        if (Case.Warns && !Warnings.isEmpty()) {
            EXPECT_TRUE(Warnings[0].startsWith(QStringLiteral("warning:") + Form->ms.sCannotSetupLocalProxy));
        }
        // The gateway is set and the relay runs either way.
        EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral("10.0.0.1:8080"));
        EXPECT_TRUE(Relay().Active());
        // Switched off, the relay forgets gateway and local proxy.
        Form->EnableProxyClick();
        EXPECT_EQ(Relay().GetLocalProxy(), QStringLiteral(":0"));
        EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral(":0"));
        Form.reset();
        QFile::remove(ConfigPath());
    }
}

TEST_F(MainFormTest, MenuStatesFollowTheCountsOnceThePostedRequestRuns) {
    const struct {
        int u, v;
        bool Active;
        bool Any, Delete;
    } Cases[] = {
        {0, 0, false, false, false}, {0, 2, false, true, false}, {1, 0, true, true, true}, {1, 1, true, true, true}};
    for (const auto &Case : Cases) {
        SCOPED_TRACE(testing::Message() << Case.u << "/" << Case.v << (Case.Active ? " active" : ""));
        Seed.ProxyList()->Clear();
        Seed.ProxyListUser()->Clear();
        for (int i = 0; i < Case.u; ++i)
            User("10.1.0.1", 3128 + i);
        for (int i = 0; i < Case.v; ++i)
            Vip("10.2.0.1", 8080 + i);
        Seed.SetActiveProxyServer(
            Case.Active ? (Case.u ? QStringLiteral("10.1.0.1:3128") : QStringLiteral("10.2.0.1:8080")) : QString());
        Start();
        // Disturb the states, then let the posted request put them right.
        for (TMenuItemEx *Item : {Form->SelectProxy, Form->SwitchProxy, Form->DeleteProxy, Form->EnableProxy})
            Item->SetEnabled(!Item->Enabled());
        Form->RequestMenuStateUpdate();
        EXPECT_NE(Form->SelectProxy->Enabled(), Case.Any); // not before the current event is over
        Pump();
        EXPECT_EQ(Form->SelectProxy->Enabled(), Case.Any);
        EXPECT_EQ(Form->EnableProxy->Enabled(), Case.Any);
        EXPECT_EQ(Form->SwitchProxy->Enabled(), Case.Any);
        EXPECT_EQ(Form->DeleteProxy->Enabled(), Case.Delete);
        Form.reset();
        QFile::remove(ConfigPath());
    }
}

TEST_F(MainFormTest, FlagsAreLoadedOnceAndUnknownCodesShowTheUnknownPicture) {
    const char *Codes[] = {"AP", "NN", "", "DE", "US", "DE", "AP"};
    for (int i = 0; i < 7; ++i)
        Vip(QStringLiteral("10.0.0.%1").arg(i + 1).toLatin1().constData(), 8080, Codes[i]);
    Start();
    std::vector<int> Images;
    for (int i = 0; i < Form->SelectProxy->Count(); ++i)
        Images.push_back(Form->SelectProxy->Items(i)->ImageIndex());
    EXPECT_EQ(Images, (std::vector<int>{0, 0, 0, 1, 2, 1, 0}));
    EXPECT_EQ(Form->CountryCode, (QStringList{"NN", "DE", "US"}));
    EXPECT_EQ(Form->CountryListImg->Paths(), (QStringList{":/unknown", ":/FLAG_DE", ":/FLAG_US"}));
    // A rebuild finds them by position and appends nothing.
    Form->ReBuildProxyMenu();
    EXPECT_EQ(Form->CountryListImg->Count(), 3);
    EXPECT_EQ(Form->SelectProxy->Items(4)->ImageIndex(), 2);
}

TEST_F(MainFormTest, TheRatingPictureIsHalfStepsOfTheRank) {
    const struct {
        double Rank;
        int Image;
    } Cases[] = {{0, 0}, {0.25, 0}, {0.5, 1}, {2.75, 5}, {4.99, 9}, {5, 10}};
    for (const auto &Case : Cases)
        Vip("10.0.0.1", 8080 + static_cast<int>(Case.Rank * 100), "DE", Case.Rank);
    Start();
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Form->SelectProxy->Items(i)->ImageIndex2(), Cases[i].Image) << Cases[i].Rank;
        EXPECT_EQ(Form->SelectProxy->Items(i)->Hint(), QStringLiteral("Country DE"));
        EXPECT_EQ(Form->SelectProxy->Items(i)->Height(), 25);
        EXPECT_EQ(Form->SelectProxy->Items(i)->Data(), Config().ProxyList()->Items(i));
        EXPECT_EQ(Config().ProxyList()->Items(i)->GUILink(), Form->SelectProxy->Items(i));
    }
}

TEST_F(MainFormTest, TimersFollowTheirSettings) {
    Seed.SetAutoDownloadProxy(true);
    Seed.SetAutoDownloadInterval(30);
    Seed.SetAutoChangeProxy(false);
    Seed.SetAutoChangeInterval(5);
    Start();
    EXPECT_TRUE(Form->TimerAutoDownload->isActive());
    EXPECT_EQ(Form->TimerAutoDownload->interval(), 30 * 60000);
    EXPECT_FALSE(Form->TimerAutoSwitch->isActive());
    Config().SetAutoChangeProxy(true);
    Config().SetAutoDownloadInterval(0);
    Form->ApplyTimerSettings();
    EXPECT_TRUE(Form->TimerAutoSwitch->isActive());
    EXPECT_EQ(Form->TimerAutoSwitch->interval(), 5 * 60000);
    // A zero interval would fire without pause: that timer stays off.
    EXPECT_FALSE(Form->TimerAutoDownload->isActive());
}

TEST_F(MainFormTest, DialogHandlersRebuildOnlyAfterOk) {
    Vip("10.0.0.1", 8080);
    Start();
    Config().ProxyList()->Add(QString(), QString(), 0, QStringLiteral("10.0.0.2"), 8080);
    Views.ManageOk = false;
    Form->EditProxy->Click();
    EXPECT_EQ(MenuCaptions().size(), 1);
    Views.ManageOk = true;
    Form->EditProxy->Click();
    EXPECT_EQ(MenuCaptions().size(), 2);

    Config().ProxyList()->Add(QString(), QString(), 0, QStringLiteral("10.0.0.3"), 8080);
    Config().SetUseListService(false);
    Config().SetCustomURL(QString());
    Views.OptionsOk = false;
    Views.Clear();
    Form->Preferences->Click();
    EXPECT_EQ(MenuCaptions().size(), 2);
    Views.OptionsOk = true;
    Form->Preferences->Click();
    EXPECT_EQ(MenuCaptions().size(), 3);
    // Neither the service nor a URL is chosen: no download.
    EXPECT_TRUE(Views.Events("warning:").isEmpty());
}

TEST_F(MainFormTest, ARequestThroughTheRelayTakesTheActiveProxyOnlyWhileProxyingIsOn) {
    const QString Curl = testsupport::FindProgram(QStringLiteral("curl"));
    if (Curl.isEmpty())
        GTEST_SKIP() << "curl is not installed (scripts/install-deps.sh)";
    // The gateway answers every request itself and keeps the request line's target.
    std::mutex Lock;
    std::vector<std::string> GatewayTargets;
    testsupport::LoopbackHttpServer Gateway;
    Gateway.Server.set_pre_routing_handler([&](const httplib::Request &Req, httplib::Response &Res) {
        std::lock_guard<std::mutex> L(Lock);
        GatewayTargets.push_back(Req.target);
        Res.set_content("via-gateway", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });
    Gateway.Start();
    testsupport::LoopbackHttpServer Origin;
    Origin.Server.Get(
        "/page", [](const httplib::Request &, httplib::Response &Res) { Res.set_content("direct", "text/plain"); });
    Origin.Start();

    Seed.ProxyList()->Add(QString(), QString(), 0, QStringLiteral("127.0.0.1"), Gateway.Port());
    Start();
    Form->SelectProxy->Items(0)->Click();
    ASSERT_TRUE(Config().Enabled());
    ASSERT_TRUE(testsupport::WaitForPort(Options.RelayPort));

    const QString Page = QStringLiteral("http://127.0.0.1:%1/page").arg(Origin.Port());
    auto Fetch = [&] {
        QByteArray Out;
        testsupport::RunProgram(Curl,
                                {QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("20"),
                                 QStringLiteral("-x"), RelayAddress(), Page},
                                &Out);
        return Out;
    };
    EXPECT_EQ(Fetch(), "via-gateway");
    {
        std::lock_guard<std::mutex> L(Lock);
        ASSERT_EQ(GatewayTargets.size(), 1u);
        EXPECT_EQ(GatewayTargets[0], Page.toStdString());
    }
    Form->EnableProxyClick();
    ASSERT_FALSE(Config().Enabled());
    EXPECT_EQ(Fetch(), "direct");
    std::lock_guard<std::mutex> L(Lock);
    EXPECT_EQ(GatewayTargets.size(), 1u);
}

TEST_F(MainFormTest, TheBuiltInHotkeysRunTheHandlersWithTheComponentAsSender) {
    // No display: the hotkeys stay off (and say so), the component and its list are there all
    // the same, and a combination's handler acts like the switch hotkey.
    const QByteArray Display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    Options.Hotkeys = nullptr;
    Vip("10.0.0.1", 8080);
    Vip("10.0.0.2", 8080);
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
    Seed.SetRemoveProxyOnSwitch(true);
    Start();
    if (!Display.isEmpty())
        qputenv("DISPLAY", Display);
    ASSERT_NE(Form->KvHotkey, nullptr);
    TShortCutCollection *List = Form->KvHotkey->ShortCuts();
    ASSERT_EQ(List->Count(), 7);
    QString Keys;
    TShortCutData *Switch = nullptr;
    for (int i = 0; i < List->Count(); ++i) {
        Keys += List->Items(i)->ShortCut();
        if (List->Items(i)->ShortCut() == u'S')
            Switch = List->Items(i);
    }
    EXPECT_EQ(Keys, QStringLiteral("MSDERPC"));
    ASSERT_NE(Switch, nullptr);
    Switch->OnShortCut()(Form->KvHotkey);
    EXPECT_EQ(Config().ProxyList()->Count(), 1);
    EXPECT_EQ(Active(), QStringLiteral("10.0.0.2:8080"));
    Form->FormClose();
}
