// Start-up and shutdown of the controller: the order of what start-up does, the early ends (a
// second copy), a configuration that cannot be read, the download at start-up with proxying
// still off, the list download's failures, warnings one at a time, and what closing leaves.

#include "config/ComponentStream.h"
#include "platform/Registry.h"
#include "tests/app/MainFormFixture.h"
#include "tests/support/LoopbackHttpServer.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace apptest;

namespace {

// GSettings reads its backend once, at its first use: the memory backend keeps the real
// desktop's settings out of reach.
const bool kMemoryBackend = (qputenv("GSETTINGS_BACKEND", "memory"), true);

/// A list service on loopback that answers the list request with a zlib-packed service list.
class TListService {
public:
    explicit TListService(TRecordingViews &Views, QByteArray ListText) {
        FPeer.Server.Post("/engine/index2.php", [&Views, Body = ZCompress(ListText).toStdString()](
                                                    const httplib::Request &, httplib::Response &Res) {
            Views.Log("download");
            Res.set_content(Body, "application/octet-stream");
        });
        FPeer.Start();
    }
    QByteArray Url() const { return FPeer.Url().toLocal8Bit(); }

private:
    testsupport::LoopbackHttpServer FPeer;
};

/// Position of the first event starting with Prefix; -1 when none.
int IndexOf(const QStringList &Events, const QString &Prefix) {
    for (int i = 0; i < Events.size(); ++i)
        if (Events[i].startsWith(Prefix))
            return i;
    return -1;
}

} // namespace

TEST_F(MainFormTest, StartUpRunsItsStepsInOrderAndEndsReady) {
    ASSERT_TRUE(kMemoryBackend);
    Vip("10.0.0.1", 8080);
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
    Seed.SetEnabled(true);
    Start();

    const QStringList Events = Views.Events();
    const QStringList Order{"shortcut", "copies", "dress", "hotkeys:1:1", "animated:1", "balloon:"};
    int Last = -1;
    for (const QString &Step : Order) {
        const int At = IndexOf(Events, Step);
        ASSERT_GE(At, 0) << Step.toStdString() << " missing in " << Events.join(" / ").toStdString();
        EXPECT_GT(At, Last) << Step.toStdString() << " out of order in " << Events.join(" / ").toStdString();
        Last = At;
    }
    EXPECT_EQ(Form->Caption(), QStringLiteral("Relayvane Portable - RVN 3.1.3"));
    EXPECT_TRUE(Form->MainMenuReady);
    EXPECT_FALSE(Form->Terminated());
    EXPECT_EQ(Form->CountryCode.first(), QStringLiteral("NN"));
    // The saved active proxy is on again: relay through it, browsers at the relay.
    EXPECT_EQ(Active(), QStringLiteral("10.0.0.1:8080"));
    EXPECT_TRUE(Relay().Active());
    EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral("10.0.0.1:8080"));
    EXPECT_TRUE(testsupport::WaitForPort(Options.RelayPort));
    EXPECT_EQ(SystemProxy(), RelayAddress() + QStringLiteral(" on"));
    EXPECT_EQ(Form->EnableProxy->Caption(), QStringLiteral("Disable proxy server"));
}

TEST_F(MainFormTest, MainMenuRowsCarryTheirPicturesShortcutsAndHandlers) {
    Start();
    struct TRow {
        TMenuItemEx *Item;
        int Image;
        const char *ShortCut;
        const char *Caption;
    };
    const TRow Rows[] = {{Form->SelectProxy, 0, "", "Select proxy server"},
                         {Form->EditProxy, 1, "CTRL+SHIFT+M", "Manage proxy server"},
                         {Form->SwitchProxy, 2, "CTRL+SHIFT+S", "Switch proxy server"},
                         {Form->DeleteProxy, 3, "CTRL+SHIFT+D", "Delete selected proxy server"},
                         {Form->EnableProxy, 4, "CTRL+SHIFT+E", "Enable proxy server"},
                         {Form->LoadProxyMnu, 5, "CTRL+SHIFT+R", "Download proxy servers"},
                         {Form->TestProxy, 6, "CTRL+SHIFT+C", "Test Proxy...."},
                         {Form->MenuSeparator, -1, "", ""},
                         {Form->Preferences, 7, "CTRL+SHIFT+P", "Preferences..."},
                         {Form->About, 8, "", "About Relayvane"},
                         {Form->Exitbtn, 9, "", "Exit"}};
    ASSERT_EQ(Form->MainMenu()->Count(), 11);
    for (int i = 0; i < 11; ++i) {
        const TRow &Row = Rows[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(Form->MainMenu()->Items(i), Row.Item);
        EXPECT_EQ(Row.Item->ImageIndex(), Row.Image);
        EXPECT_EQ(Row.Item->ShortCutText(), QLatin1String(Row.ShortCut));
        if (Row.Item == Form->MenuSeparator) {
            EXPECT_TRUE(Row.Item->Separator());
            EXPECT_EQ(Row.Item->Height(), 2);
            continue;
        }
        EXPECT_EQ(Row.Item->Height(), 25);
        // The English table may word some captions differently from the fallbacks; never empty.
        EXPECT_FALSE(Row.Item->Caption().isEmpty());
        EXPECT_EQ(Row.Item->Hint().isEmpty(), false);
        EXPECT_EQ(static_cast<bool>(Row.Item->OnClick), Row.Item != Form->SelectProxy);
    }
    EXPECT_EQ(Form->SelectProxy->SubImageList(), Form->CountryListImg);
    EXPECT_EQ(Form->SelectProxy->SubImageList2(), Form->RankImage);
    EXPECT_EQ(Form->PngImageList1->Count(), 10);
    EXPECT_EQ(Form->RankImage->Path(10), QStringLiteral(":/rating-10"));
    EXPECT_EQ(Form->CountryListImg->Path(0), QStringLiteral(":/unknown"));

    // Handlers reach the controller: About opens the home page through the dialog host.
    Views.Clear();
    Form->About->Click();
    EXPECT_EQ(Views.Events("open:").size(), 1);
}

TEST_F(MainFormTest, TheShortcutIsMadeOnTheFirstRunOnly) {
    Start();
    EXPECT_EQ(Views.Events("shortcut").size(), 1);
    Form->FormClose();
    Form.reset();
    Views.Clear();
    Start();
    EXPECT_EQ(Views.Events("shortcut").size(), 0);
}

TEST_F(MainFormTest, ASecondCopyWarnsAndEndsBeforeTouchingAnything) {
    Copies = 2;
    Start();
    const QStringList Warnings = Views.Events("warning:");
    ASSERT_EQ(Warnings.size(), 1);
    EXPECT_TRUE(Warnings[0].startsWith(QStringLiteral("warning:You cannot run two copies of that program.")));
    EXPECT_EQ(Views.Events("terminate").size(), 1);
    EXPECT_TRUE(Form->Terminated());
    EXPECT_FALSE(Form->MainMenuReady);
    EXPECT_EQ(Form->MainMenu(), nullptr);
    EXPECT_EQ(SystemProxy(), QStringLiteral(" off"));
    EXPECT_FALSE(Relay().Active());
}

TEST_F(MainFormTest, AnUnreadableConfigurationIsKeptAsideAndStartUpGoesOn) {
    testsupport::WriteFile(ConfigPath(), "this is not a configuration stream");
    Form = std::make_unique<TMainForm>(Options);
    Form->SetMenuView(&Views);
    Form->SetTrayView(&Views);
    Form->SetDialogHost(&Views);
    Form->FormCreate();
    Pump();
    // The defaults choose the list service, whose download then fails here: a second warning.
    const QStringList Warnings = Views.Events("warning:");
    ASSERT_EQ(Warnings.size(), 2) << Warnings.join(" / ").toStdString();
    EXPECT_TRUE(Warnings[0].contains(QStringLiteral("config.cfg.bad"))) << Warnings[0].toStdString();
    EXPECT_TRUE(QFile::exists(ConfigPath() + QStringLiteral(".bad")));
    EXPECT_TRUE(Form->MainMenuReady);
    EXPECT_EQ(Form->MainMenu()->Count(), 11);
    // The next save writes a fresh file and leaves the bad copy alone.
    Form->FormClose();
    TProgramConfig Saved(nullptr, QLocale::English);
    EXPECT_NO_THROW(Saved.LoadFromFile(ConfigPath()));
    EXPECT_EQ(testsupport::ReadFile(ConfigPath() + QStringLiteral(".bad")), "this is not a configuration stream");
}

TEST_F(MainFormTest, TheStartUpDownloadMarksAProxyButLeavesProxyingOff) {
    TListService Service(Views, "10.1.0.1|8080|US|\"United States\"|4\r\n10.1.0.2|3128|DE|Germany|2\r\n");
    TEnv Base("RELAYVANE_SERVICE", Service.Url());
    Seed.SetUseListService(true);
    Seed.SetEnabled(true);
    Draws = {1};
    Start();

    const QStringList Events = Views.Events();
    EXPECT_LT(IndexOf(Events, "dress"), IndexOf(Events, "download"));
    EXPECT_LT(IndexOf(Events, "download"), IndexOf(Events, "hotkeys:1"));
    EXPECT_EQ(Views.Events("balloon:Total proxy servers were downloaded|").size(), 1);
    // The switch after the download picked a proxy while the menu was not ready: marked, not on.
    EXPECT_EQ(Active(), QStringLiteral("10.1.0.2:3128"));
    EXPECT_EQ(Config().ActiveProxyServer(), QStringLiteral("10.1.0.2:3128"));
    EXPECT_TRUE(Form->SelectProxy->Items(1)->Selected());
    EXPECT_FALSE(Config().Enabled());
    EXPECT_EQ(Views.Events("animated:").last(), QStringLiteral("animated:0"));
    EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral(":0"));
    EXPECT_EQ(SystemProxy(), QStringLiteral(" off"));
    EXPECT_TRUE(Relay().Active());
    // Once ready, the next click switches it on.
    Form->EnableProxyClick();
    EXPECT_TRUE(Config().Enabled());
    EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral("10.1.0.2:3128"));
}

TEST_F(MainFormTest, AFailedDownloadWarnsThenReportsTheUnchangedCountAndShowsEveryProxy) {
    Vip("10.0.0.1", 8080, "DE");
    Vip("10.0.0.2", 8080, "US");
    Seed.ProxyFilter()->SetCountry(QStringLiteral("de"));
    Seed.ProxyFilter()->SetPort(QStringLiteral("any"));
    Seed.ProxyFilter()->SetProxyType(QStringLiteral("any"));
    Seed.ProxyFilter()->SetActive(true);
    Start();
    ASSERT_EQ(MenuCaptions(), QStringList{"10.0.0.1:8080"});
    Views.Clear();
    Form->LoadProxyClick(Form->LoadProxyMnu);
    const QStringList Events = Views.Events();
    ASSERT_GE(Events.size(), 2) << Events.join(" / ").toStdString();
    EXPECT_TRUE(Events[0].startsWith(QStringLiteral("warning:Cannot download proxy list")));
    EXPECT_TRUE(Events[0].endsWith(QStringLiteral("/faq.php")));
    EXPECT_EQ(Events[1], QStringLiteral("balloon:Total proxy servers were downloaded|") + Form->ms.sProxyDownloadedMsg +
                             QStringLiteral(": 2"));
    EXPECT_FALSE(Config().ProxyFilter()->Active());
    EXPECT_EQ(MenuCaptions().size(), 2);
    EXPECT_FALSE(Form->DownloadProxy);
}

TEST_F(MainFormTest, DownloadsAreRefusedWhileTheCheckerRunsOrAnotherDownloadRuns) {
    Start();
    Views.DuringChecker = [](TMainForm &F) { F.LoadProxyClick(F.TimerAutoDownload); };
    Views.Clear();
    Form->TestProxyClick();
    EXPECT_EQ(Views.Events(), QStringList{"checker:1"});
    EXPECT_FALSE(Form->ProxyCheckingInProgress);

    // A trigger during the warning of a running download does nothing either.
    Views.Clear();
    Views.DuringWarning = [this] { Form->LoadProxyClick(); };
    Form->LoadProxyClick();
    EXPECT_EQ(Views.Events("warning:").size(), 1);
    EXPECT_EQ(Views.Events("balloon:").size(), 1);
}

TEST_F(MainFormTest, OneWarningAtATime) {
    Start();
    Views.Clear();
    Views.DuringWarning = [this] { Form->ShowWarningMessage(QStringLiteral("second"), QString()); };
    Form->ShowWarningMessage(QStringLiteral("first"), QStringLiteral("u"));
    Views.DuringWarning = nullptr;
    Form->ShowWarningMessage(QStringLiteral("third"), QStringLiteral("u"));
    EXPECT_EQ(Views.Events(), (QStringList{"warning:first|u", "warning:third|u"}));
}

TEST_F(MainFormTest, ClosingGivesTheBrowsersBackAndSavesTheActiveProxy) {
    User("10.0.0.9", 3128);
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.9:3128"));
    Seed.SetEnabled(true);
    Start();
    ASSERT_EQ(SystemProxy(), RelayAddress() + QStringLiteral(" on"));
    Form->ProgramConfig->SetKeepHistoryHours(7);
    Views.Clear();
    Form->ExitClick(Form->Exitbtn);
    EXPECT_EQ(SystemProxy(), QStringLiteral(" off"));
    EXPECT_EQ(Views.Events(), (QStringList{"hotkeys:0:1", "quit"}));
    EXPECT_TRUE(Form->mCanClose);
    EXPECT_TRUE(Form->CountryCode.isEmpty());
    EXPECT_FALSE(Relay().Active());
    TProgramConfig Saved(nullptr, QLocale::English);
    Saved.LoadFromFile(ConfigPath());
    EXPECT_EQ(Saved.ActiveProxyServer(), QStringLiteral("10.0.0.9:3128"));
    EXPECT_EQ(Saved.KeepHistoryHours(), 7);
    EXPECT_EQ(Saved.ProxyListUser()->Count(), 1);
    // Closing twice (Exit, then the signal of a headless run) saves and restores once.
    Views.Clear();
    Form->FormClose();
    EXPECT_TRUE(Views.Events().isEmpty());
}

TEST_F(MainFormTest, TheTrayMenuOpensOnlyOnceStartUpIsComplete) {
    Form = std::make_unique<TMainForm>(Options);
    Form->SetMenuView(&Views);
    Form->CoolTrayIcon1MouseUp(true, QPoint(5, 6));
    EXPECT_TRUE(Views.Events("popup:").isEmpty());
    Form.reset();
    Start();
    Form->CoolTrayIcon1MouseUp(false, QPoint(5, 6));
    Form->CoolTrayIcon1MouseUp(true, QPoint(5, 6));
    EXPECT_EQ(Views.Events("popup:"), QStringList{"popup:5,6"});
}

TEST_F(MainFormTest, TheActiveProxyBalloonNamesAddressAndCountry) {
    Vip("10.0.0.1", 8080, "DE");
    Seed.ProxyList()->Items(0)->SetCountry(QStringLiteral("Germany"));
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
    Start();
    Views.Clear();
    Views.MenuVisible = true;
    Form->ShowActiveProxyTimer();
    EXPECT_TRUE(Views.Events().isEmpty());
    Views.MenuVisible = false;
    Form->ShowActiveProxyTimer();
    EXPECT_EQ(Views.Events(), QStringList{"balloon:" + Form->ms.sProxyChangedTitle + "|" + Form->ms.sProxyChangedProxy +
                                          ": 10.0.0.1:8080\r\n" + Form->ms.sProxyChangedCountry + ": Germany (DE)"});
}

TEST_F(MainFormTest, OnlyProcessesBearingExactlyOurNameCountAsCopies) {
    // Stand-ins run /bin/sleep under chosen names: a longer name that contains ours (as
    // relayvane-cli contains relayvane) or our very name. The name is this test's own, so copies
    // of the test program running beside it do not count; the program itself is then not among
    // the processes, so two stand-ins play "this copy and another one".
    const QString Own = QStringLiteral("rvc%1").arg(::getpid());
    Options.ExecutableName = Own;
    Options.RunningCopies = nullptr;
    const struct {
        const char *Suffix;
        int Count;
        bool Refused;
    } Cases[] = {{"-cli", 2, false}, {"", 1, false}, {"", 2, true}};
    for (const auto &Case : Cases) {
        SCOPED_TRACE(testing::Message() << Case.Count << " x " << Case.Suffix);
        const QString Name = Own + QLatin1String(Case.Suffix);
        const QString Path = Home() + u'/' + Name;
        QFile::remove(Path);
        ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), Path));
        QFile::setPermissions(Path, QFile::permissions(Path) | QFile::ExeOwner);
        std::vector<std::unique_ptr<testsupport::ChildProcess>> Copies;
        for (int n = 0; n < Case.Count; ++n) {
            auto Copy = std::make_unique<testsupport::ChildProcess>();
            ASSERT_TRUE(Copy->Start(Path, {QStringLiteral("60")}));
            // Wait until the stand-in runs under its own name, not yet as the forking test.
            for (int i = 0; i < 500; ++i) {
                QFile Comm(QStringLiteral("/proc/%1/comm").arg(Copy->Pid()));
                if (Comm.open(QIODevice::ReadOnly) && Comm.readAll().trimmed() == Name.left(15).toLocal8Bit())
                    break;
                QThread::msleep(10);
            }
            Copies.push_back(std::move(Copy));
        }
        Views.Clear();
        Start();
        EXPECT_EQ(Form->Terminated(), Case.Refused);
        EXPECT_EQ(Views.Events("warning:You cannot run two copies").size(), Case.Refused ? 1 : 0);
        Copies.clear();
        Form.reset();
    }
}

TEST_F(MainFormTest, MenuAndMessageTextsFollowTheLanguage) {
    const TLanguageTable &Table = TLanguageTable::Builtin();
    Vip("10.0.0.1", 8080);
    // Test results count only for a tested record.
    Seed.ProxyList()->Items(0)->SetTested(true);
    Seed.ProxyList()->Items(0)->SetElite(TProxtData::tsTrue);
    for (const QString &Language : Table.Languages()) {
        SCOPED_TRACE(Language.toStdString());
        Seed.SetLanguage(Language);
        Seed.SetEnabled(false);
        Start();
        EXPECT_EQ(Form->SwitchProxy->Caption(),
                  Table.ReadString(Language, QStringLiteral("SwitchProxy"), QStringLiteral("Switch proxy server")));
        EXPECT_EQ(Form->ProxyEnableCaption,
                  Table.ReadString(Language, QStringLiteral("EnableProxy"), QStringLiteral("Enable proxy server")));
        EXPECT_EQ(Form->EnableProxy->Caption(), Form->ProxyEnableCaption);
        // No hint keys in the table: every hint is its item's caption.
        EXPECT_EQ(Form->LoadProxyMnu->Hint(), Form->LoadProxyMnu->Caption());
        EXPECT_EQ(Form->About->Hint(), Form->About->Caption());
        EXPECT_EQ(Form->ms.sCannotRunTwoCopies, LoadMessageStrings(Language).sCannotRunTwoCopies);
        // The records name their anonymity type in the same language.
        EXPECT_EQ(Config().ProxyList()->Items(0)->TypeAsString(), Form->ms.sElite);
        Form.reset();
        QFile::remove(ConfigPath());
    }
    // A language the table does not know shows the fallbacks.
    Seed.SetLanguage(QStringLiteral("klingon"));
    Start();
    EXPECT_EQ(Form->TestProxy->Caption(), QStringLiteral("Test Proxy...."));
    EXPECT_EQ(Form->Preferences->Caption(), QStringLiteral("Preferences..."));
    // The right click reads the texts afresh, in the language now set.
    Config().SetLanguage(QStringLiteral("deutsch"));
    Form->CoolTrayIcon1MouseUp(true, QPoint());
    EXPECT_EQ(Form->TestProxy->Caption(),
              Table.ReadString(QStringLiteral("deutsch"), QStringLiteral("TestProxyBtn"), QString()));
}

TEST_F(MainFormTest, SettingsLeftChangedByAnEarlierRunAreGivenBackBeforeTheNextSetUp) {
    // A run that was killed: the system proxy still points at the relay, the store remembers the
    // user's own server and marks the change.
    {
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(TRegistry::ProgramKey(), true));
        Reg.WriteInteger(QStringLiteral("ProxyServerChangedIE"), 1);
        Reg.WriteString(QStringLiteral("DefaultProxyServerIE"), QStringLiteral("10.9.9.9:8080"));
        Reg.WriteInteger(QStringLiteral("DefaultProxyStateIE"), 1);
        TProxyManager Manager;
        ASSERT_TRUE(Manager.EnableProxyIE(RelayAddress()));
    }
    // The browser chosen now does not use the system settings; they are given back all the same.
    Seed.SetBrowser(QStringLiteral("opera browser"));
    Start();
    EXPECT_FALSE(Form->Terminated());
    EXPECT_TRUE(Views.Events("shortcut").isEmpty());
    EXPECT_EQ(SystemProxy(), QStringLiteral("10.9.9.9:8080 on"));
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(TRegistry::ProgramKey(), false));
    EXPECT_EQ(Reg.ReadInteger(QStringLiteral("ProxyServerChangedIE")), 0);
}

TEST_F(MainFormTest, EntriesOfAListBeingReplacedAreNotFollowed) {
    // The service's error reply empties the list (the active proxy aside) and shows its message
    // while the old entries still stand; a click or a timer switch meanwhile must not reach the
    // records that are gone.
    TListService Service(Views, "Error|No proxy matches your filter|http://127.0.0.1/faq.php|");
    TEnv Base("RELAYVANE_SERVICE", Service.Url());
    Vip("10.0.0.1", 8080);
    Vip("10.0.0.2", 8080);
    Vip("10.0.0.3", 8080);
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
    Seed.SetRemoveProxyOnSwitch(true);
    Start();
    ASSERT_EQ(MenuCaptions().size(), 3);
    Views.DuringWarning = [this] {
        Form->SelectProxy->Items(2)->Click();
        Form->SwitchProxyClick(Form->TimerAutoSwitch);
        Form->DeleteProxyClick(Form->DeleteProxy);
    };
    Config().SetUseListService(true);
    Form->LoadProxyClick(Form->LoadProxyMnu);
    EXPECT_EQ(Views.Events("warning:No proxy matches your filter").size(), 1);
    EXPECT_EQ(Active(), QStringLiteral("10.0.0.1:8080"));
    EXPECT_EQ(MenuCaptions(), QStringList{"10.0.0.1:8080"});
    EXPECT_EQ(Config().ProxyList()->Count(), 1);
}

TEST_F(MainFormTest, WithoutADialogHostWarningsGoToStandardError) {
    Start(false);
    QTemporaryDir Dir;
    const QString Path = Dir.path() + QStringLiteral("/stderr");
    std::fflush(stderr);
    const int Saved = ::dup(2);
    const int File = ::open(Path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(File, 2);
    Form->ShowWarningMessage(QStringLiteral("Something went wrong"), QStringLiteral("http://example.test/faq.php"));
    std::fflush(stderr);
    ::dup2(Saved, 2);
    ::close(Saved);
    ::close(File);
    EXPECT_EQ(testsupport::ReadFile(Path), "Something went wrong\nhttp://example.test/faq.php\n");
}

TEST_F(MainFormTest, EveryPictureTheMenuNamesIsAResourceOfTheProgram) {
    Start();
    for (TPngImageList *List : {Form->PngImageList1, Form->CountryListImg, Form->RankImage, Form->RotatingGlobe,
                                Form->GlobeStopped, Form->ProgramIcons})
        for (const QString &Path : List->Paths())
            EXPECT_TRUE(QFile::exists(Path)) << Path.toStdString();
    EXPECT_EQ(Form->RotatingGlobe->Count(), 20);
}

TEST_F(MainFormTest, AFailingStepIsReportedAndStartUpGoesOn) {
    Vip("10.0.0.1", 8080);
    Seed.SetActiveProxyServer(QStringLiteral("10.0.0.1:8080"));
    Views.DressFails = true;
    Start();
    const QStringList Warnings = Views.Events("warning:");
    ASSERT_EQ(Warnings.size(), 1);
    EXPECT_TRUE(Warnings[0].startsWith(QStringLiteral("warning:skin pictures missing|")));
    EXPECT_TRUE(Form->MainMenuReady);
    EXPECT_EQ(Form->MainMenu()->Count(), 11);
    EXPECT_EQ(Relay().GetGatewayProxy(), QStringLiteral("10.0.0.1:8080"));
}
