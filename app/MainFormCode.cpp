#include "app/MainFormCode.h"

#include "app/Marlo.ComCtrl.HotKey.h"
#include "browsers/BrowserSetup.h"
#include "browsers/ProcessInfoLite.h"
#include "browsers/ProxyManager.h"
#include "catalogue/Marlo.Common.ProxyList.h"
#include "config/ConfigFile.h"
#include "config/ProgramConfig.h"
#include "platform/InstanceLock.h"
#include "platform/Registry.h"
#include "platform/ServiceEndpoints.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"
#include "relay/ProxyServer.h"
#include "sourcing/LanguageWord.h"
#include "sourcing/Marlo.Common.UpdateThread.h"
#include "sourcing/ProxyListDownload.h"


#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMetaObject>
#include <QSignalBlocker>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <random>
#include <unistd.h>

namespace {

const char *const kCaption = "Relayvane Portable - RVN 3.1.3";
const QDate kDayZero(1899, 12, 30);

/// The text of whatever a step raised, for the warning that reports it.
QString ErrorText(const std::exception_ptr &Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const Exception &E) {
        return E.Message();
    } catch (const std::exception &E) {
        return QString::fromLocal8Bit(E.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void WriteStderr(const QString &Text) {
    const QByteArray Bytes = Text.toLocal8Bit();
    std::fprintf(stderr, "%s\n", Bytes.constData());
    std::fflush(stderr);
}

/// A local port the relay and the browsers share; a bad value keeps the usual 3128.
int ValidPort(int Port) {
    return Port > 0 && Port < 65536 ? Port : 3128;
}

/// "host:port" with a port of 1 ... 65535: the only shape the relay can use as its local proxy.
bool IsHostPort(const QString &Text) {
    const int Colon = Text.lastIndexOf(QLatin1Char(':'));
    if (Colon <= 0)
        return false;
    bool Ok = false;
    const int Port = Text.mid(Colon + 1).toInt(&Ok);
    return Ok && Port > 0 && Port < 65536;
}

} // namespace

/// The clock-seeded generator of the random switch.
struct TRandomSource {
    std::mt19937 Engine;
};

/// The anonymity type texts of the proxy records follow the interface language.
class TMessageTypeTexts : public IProxyTypeTexts {
public:
    explicit TMessageTypeTexts(const TMainForm &Form) : FForm(Form) {}
    QString sTransparent() const override { return FForm.ms.sTransparent; }
    QString sAnonymous() const override { return FForm.ms.sAnonymous; }
    QString sElite() const override { return FForm.ms.sElite; }

private:
    const TMainForm &FForm;
};

TMainForm::TMainForm(TMainFormOptions Options, QObject *Owner) : QObject(Owner), FOptions(std::move(Options)) {
    FOptions.RelayPort = ValidPort(FOptions.RelayPort);
    FConfigPath = FOptions.ConfigPath.isEmpty() ? ConfigFilePath() : FOptions.ConfigPath;

    // The components placed on the window: picture lists, timers.
    PngImageList1 = new TPngImageList(22, 22, this);
    for (const char *Name : {"locale", "fileshare", "agt reload", "x", "cache", "agt update drivers",
                             "agt action success", "package utilities", "agt login", "exit"})
        PngImageList1->Add(QStringLiteral(":/") + QLatin1String(Name));
    CountryListImg = new TPngImageList(20, 20, this);
    CountryListImg->Add(QStringLiteral(":/unknown"));
    RankImage = new TPngImageList(100, 18, this);
    for (int i = 0; i <= 10; ++i)
        RankImage->Add(QStringLiteral(":/rating-%1").arg(i));
    RotatingGlobe = new TPngImageList(16, 16, this);
    for (int i = 0; i < 20; ++i)
        RotatingGlobe->Add(QStringLiteral(":/globe-%1").arg(i));
    GlobeStopped = new TPngImageList(16, 16, this);
    GlobeStopped->Add(QStringLiteral(":/globe-stopped"));
    ProgramIcons = new TPngImageList(22, 22, this);
    ProgramIcons->Add(QStringLiteral(":/plus"));
    ProgramIcons->Add(QStringLiteral(":/minus"));

    TimerAutoDownload = new QTimer(this);
    TimerAutoDownload->setObjectName(QStringLiteral("TimerAutoDownload"));
    connect(TimerAutoDownload, &QTimer::timeout, this, [this] { LoadProxyClick(TimerAutoDownload); });
    TimerAutoSwitch = new QTimer(this);
    TimerAutoSwitch->setObjectName(QStringLiteral("TimerAutoSwitch"));
    connect(TimerAutoSwitch, &QTimer::timeout, this, [this] { SwitchProxyClick(TimerAutoSwitch); });
    ShowActiveProxy = new QTimer(this);
    ShowActiveProxy->setObjectName(QStringLiteral("ShowActiveProxy"));
    ShowActiveProxy->setInterval(1000);
    connect(ShowActiveProxy, &QTimer::timeout, this, [this] { ShowActiveProxyTimer(ShowActiveProxy); });

    FTypeTexts = std::make_unique<TMessageTypeTexts>(*this);
    FRandom = std::make_unique<TRandomSource>();
}

TMainForm::~TMainForm() {
    // The records' type texts must not point at a form that is gone.
    SetProxyTypeTexts(nullptr);
    if (proxyServer) {
        try {
            proxyServer->SetActive(false);
        } catch (...) {
        }
    }
    // Menu entries name records of the configuration's lists: free them first.
    delete FMainMenu;
    FMainMenu = nullptr;
    // The browser set-up works on the manager, which goes with our members before the children.
    delete BrowserSetup;
    BrowserSetup = nullptr;
}

QDateTime TMainForm::Now() const {
    return FOptions.Now ? FOptions.Now() : QDateTime::currentDateTime();
}

namespace {
/// Days since 1899-12-30: the integer part the date, the fraction the time of day.
double DaysOf(const QDateTime &When) {
    return static_cast<double>(kDayZero.daysTo(When.date())) + When.time().msecsSinceStartOfDay() / 86400000.0;
}
} // namespace

QString TMainForm::HistoryStamp(const QDateTime &When) {
    return QString::number(DaysOf(When), 'g', 15);
}

bool TMainForm::ParseHistoryStamp(const QString &Text, double &Days) {
    bool Ok = false;
    Days = Text.trimmed().toDouble(&Ok);
    return Ok && std::isfinite(Days);
}

QString TMainForm::TranslateLangugae(const QString &Language) const {
    return ::TranslateLangugae(Language);
}

int TMainForm::RandomIndex(int Bound) {
    if (Bound <= 0)
        return 0;
    int Index =
        FOptions.Random ? FOptions.Random(Bound) : std::uniform_int_distribution<int>(0, Bound - 1)(FRandom->Engine);
    // An injected source that misbehaves must not pick a position outside the menu.
    if (Index < 0 || Index >= Bound)
        Index = ((Index % Bound) + Bound) % Bound;
    return Index;
}

int TMainForm::DefaultRunningCopies() const {
    // Copies of this program are processes of this user whose executable bears exactly our file
    // name; a name that merely contains it (relayvane-cli, relayvane-service) is another program.
    const QString Own = FOptions.ExecutableName.isEmpty()
                            ? QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                            : FOptions.ExecutableName;
    if (Own.isEmpty())
        return 1;
    return std::max(ProcessCountByExeName(Own, ::getuid()), 1);
}

TRegistry TMainForm::Store() const {
    return FOptions.RegistryFile.isEmpty() ? TRegistry() : TRegistry(FOptions.RegistryFile);
}

void TMainForm::CreateShortcut() {
    if (FOptions.CreateShortcut)
        FOptions.CreateShortcut();
}

TMenuItemEx *TMainForm::NewMenuItem(const QString &Name, int Image, const QString &ShortCut,
                                    void (TMainForm::*Handler)(QObject *)) {
    auto *Item = new TMenuItemEx(FMainMenu);
    Item->setObjectName(Name);
    Item->SetHeight(25);
    Item->SetImageIndex(Image);
    Item->SetShortCutText(ShortCut);
    if (Handler)
        Item->OnClick = [this, Handler](QObject *Sender) { (this->*Handler)(Sender); };
    FMainMenu->Add(Item);
    return Item;
}

void TMainForm::FormCreate(QObject *Sender) {
    Q_UNUSED(Sender);
    // Start-up never stops half-way: a step that fails is reported and the next one runs. Only a
    // second copy and browsers that cannot be set up end it early, on purpose.
    auto Step = [this](auto &&Work) {
        try {
            Work();
        } catch (...) {
            ShowWarningMessage(ErrorText(std::current_exception()), FaqUrl());
        }
    };
    auto Terminate = [this] {
        FTerminated = true;
        if (FOptions.Terminate)
            FOptions.Terminate();
        else
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    };

    // 1.
    MainMenuReady = false;
    // 2.
    // The process list is read when it is needed (the browser preparation refreshes it), not by
    // its timer: a scan of every process each second would be the idle program's main cost.
    Step([this] { FProcessInfo = new TProcessInfoLite(this); });
    // 3. History stamps and every number we write use "." whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
    // 4.
    FCaption = QString::fromLatin1(kCaption);
    // 5.
    FRandom->Engine.seed(static_cast<std::mt19937::result_type>(QDateTime::currentMSecsSinceEpoch()));
    // 6.
    ProgramConfig = new TProgramConfig(this);
    // 7. A file that cannot be read is moved aside and we go on with the defaults; the warning
    // waits for the message texts so it speaks the user's language.
    TConfigLoadResult Loaded;
    Step([&] { Loaded = LoadConfigOrDefaults(*ProgramConfig, FConfigPath); });
    ProgramConfig->ProxyList()->SetWarningSink(this);
    ProgramConfig->ProxyListUser()->SetWarningSink(this);
    // 8.
    Step([this] { LoadMessageStr(ProgramConfig->Language()); });
    if (Loaded.Status == TConfigLoadResult::clUnreadable)
        ShowWarningMessage(Loaded.Error, FaqUrl());
    // 9. The relay is switched on by step 27.
    proxyServer = new TProxyServer(this);
    proxyServer->Bindings().append(TSocketBinding{QStringLiteral("127.0.0.1"), FOptions.RelayPort});
    // 10. First run.
    Step([this] {
        TRegistry Reg = Store();
        if (!Reg.KeyExists(TRegistry::ProgramKey()))
            CreateShortcut();
    });
    // 11.
    Step([this] {
        FProxyManager = std::make_unique<TProxyManager>();
        proxyManager = FProxyManager.get();
        BrowserSetup = new TBrowserSetup(proxyManager, FProcessInfo, this);
        BrowserSetup->SetRelayAddress(QStringLiteral("127.0.0.1:%1").arg(FOptions.RelayPort));
        BrowserSetup->SetRegistryFile(FOptions.RegistryFile);
        BrowserSetup->SetBrowserSource([this] { return ProgramConfig->Browser(); });
        BrowserSetup->SetOnWarning([this](const QString &Msg, const QString &Url) { ShowWarningMessage(Msg, Url); });
        BrowserSetup->SetMessageSource([this](const QString &Key) {
            if (Key == QLatin1String("sCloseFirefox"))
                return ms.sCloseFirefox;
            if (Key == QLatin1String("sCloseOpera"))
                return ms.sCloseOpera;
            if (Key == QLatin1String("sCannotSetupIE"))
                return ms.sCannotSetupIE;
            if (Key == QLatin1String("sCannotSetupFF"))
                return ms.sCannotSetupFF;
            if (Key == QLatin1String("sCannotSetupOP"))
                return ms.sCannotSetupOP;
            return TBrowserSetup::DefaultMessage(Key);
        });
    });
    // 12. Single instance.
    int Copies = 1;
    Step([&] { Copies = FOptions.RunningCopies ? FOptions.RunningCopies() : DefaultRunningCopies(); });
    if (Copies >= 2) {
        ShowWarningMessage(ms.sCannotRunTwoCopies, FaqUrl());
        Terminate();
        return;
    }
    // 13. What an earlier run left changed; a restore clears the marks it handled.
    Step([this] {
        TRegistry Reg = Store();
        if (!Reg.OpenKeyReadOnly(TRegistry::ProgramKey()))
            return;
        for (const char *Name : {"ProxyServerChangedIE", "ProxyServerChangedFF", "ProxyServerChangedOP"}) {
            TRegistry Fresh = Store();
            if (!Fresh.OpenKeyReadOnly(TRegistry::ProgramKey()))
                return;
            const QString Value = QLatin1String(Name);
            bool Marked = false;
            try {
                Marked = Fresh.ValueExists(Value) && Fresh.ReadInteger(Value) != 0;
            } catch (const ERegistryException &) {
            }
            if (Marked && BrowserSetup)
                BrowserSetup->RestoreBrowser(false);
        }
    });
    // 14.
    uint8_t Setup = 1;
    Step([&] {
        if (BrowserSetup)
            Setup = BrowserSetup->SetupBrowser(false);
    });
    if (Setup == 2) {
        Step([this] { BrowserSetup->RestoreBrowser(false); });
        Terminate();
        return;
    }
    // 15.
    CountryCode = QStringList{QStringLiteral("NN")};
    // 16.
    FMainMenu = new TMenuItemEx();
    FMainMenu->setObjectName(QStringLiteral("MainMenu"));
    FMainMenu->SetSubImageList(PngImageList1);
    FMainMenu->SetSubImageList2(PngImageList1);
    if (FMenuView)
        Step([this] { FMenuView->Dress(); });
    // 17.
    SelectProxy = NewMenuItem(QStringLiteral("SelectProxy"), 0, QString(), nullptr);
    SelectProxy->SetEnabled(true);
    SelectProxy->SetSubImageList(CountryListImg);
    SelectProxy->SetSubImageList2(RankImage);
    EditProxy = NewMenuItem(QStringLiteral("EditProxy"), 1, QStringLiteral("CTRL+SHIFT+M"), &TMainForm::EditProxyClick);
    SwitchProxy =
        NewMenuItem(QStringLiteral("SwitchProxy"), 2, QStringLiteral("CTRL+SHIFT+S"), &TMainForm::SwitchProxyClick);
    DeleteProxy =
        NewMenuItem(QStringLiteral("DeleteProxy"), 3, QStringLiteral("CTRL+SHIFT+D"), &TMainForm::DeleteProxyClick);
    EnableProxy =
        NewMenuItem(QStringLiteral("EnableProxy"), 4, QStringLiteral("CTRL+SHIFT+E"), &TMainForm::EnableProxyClick);
    LoadProxyMnu =
        NewMenuItem(QStringLiteral("LoadProxyMnu"), 5, QStringLiteral("CTRL+SHIFT+R"), &TMainForm::LoadProxyClick);
    TestProxy = NewMenuItem(QStringLiteral("TestProxy"), 6, QStringLiteral("CTRL+SHIFT+C"), &TMainForm::TestProxyClick);
    MenuSeparator = NewMenuItem(QStringLiteral("MenuSeparator"), -1, QString(), nullptr);
    MenuSeparator->SetSeparator(true);
    MenuSeparator->SetHeight(2);
    Preferences =
        NewMenuItem(QStringLiteral("Preferences"), 7, QStringLiteral("CTRL+SHIFT+P"), &TMainForm::PreferencesClick);
    About = NewMenuItem(QStringLiteral("About"), 8, QString(), &TMainForm::AboutClick);
    Exitbtn = NewMenuItem(QStringLiteral("Exitbtn"), 9, QString(), &TMainForm::ExitClick);
    // 18. MainMenuReady is still false here: a switch the download makes marks a proxy but
    // leaves proxying off (steps 26 and 27 apply that).
    if (ProgramConfig->UseListService())
        Step([this] { LoadProxyClick(this); });
    // 19.
    if (FOptions.UpdateCheck)
        Step([this] {
            TRegistry Reg = Store();
            StartUpdateCheck(Reg, Now().date(), ProgramConfig->Language(),
                             [this](const QString &Msg, const QString &Url) { ShowWarningMessage(Msg, Url); });
        });
    // 20.
    Step([this] { LoadMenuStr(ProgramConfig->Language()); });
    // 21.
    Step([this] { ReBuildProxyMenu(); });
    // 22.
    Step([this] { ApplyTimerSettings(); });
    // 23.
    Step([this] {
        if (FOptions.Hotkeys) {
            FOptions.Hotkeys(*this, true);
            return;
        }
        if (!KvHotkey) {
            KvHotkey = new TKvHotkey(this);
            TMainFormShortCuts Handlers;
            Handlers.ManageProxy = [this](QObject *S) { EditProxyClick(S); };
            Handlers.Switch = [this](QObject *S) { SwitchProxyClick(S); };
            Handlers.DeleteProxy = [this](QObject *S) { DeleteProxyClick(S); };
            Handlers.EnableProxy = [this](QObject *S) { EnableProxyClick(S); };
            Handlers.LoadProxy = [this](QObject *S) { LoadProxyClick(S); };
            Handlers.Preference = [this](QObject *S) { PreferencesClick(S); };
            Handlers.Check = [this](QObject *S) { TestProxyClick(S); };
            AddMainFormShortCuts(*KvHotkey, Handlers);
        }
        KvHotkey->Activate();
    });
    // 24.
    Country.clear();
    Ports.clear();
    // 25.
    ProxyCheckingInProgress = false;
    // 26.
    Step([this] { ShowEnableDisabledStatus(); });
    // 27.
    Step([this] { SetupActiveProxy(); });
    // 28.
    MainMenuReady = true;
    emit StateChanged();
}

void TMainForm::FormClose(QObject *Sender) {
    Q_UNUSED(Sender);
    if (FClosed || !ProgramConfig)
        return;
    FClosed = true;
    MainMenuReady = false;
    TimerAutoDownload->stop();
    TimerAutoSwitch->stop();
    ShowActiveProxy->stop();
    // 2. The browsers get their own settings back.
    mCanClose = true;
    if (BrowserSetup) {
        try {
            mCanClose = BrowserSetup->RestoreBrowser(false);
        } catch (...) {
            WriteStderr(ErrorText(std::current_exception()));
        }
    }
    // 3. Lists, filter, history and the active proxy survive the run. A save that fails is said
    // out loud: the settings of this run would otherwise be lost without a word.
    try {
        ProgramConfig->SaveToFile(FConfigPath);
    } catch (...) {
        ShowWarningMessage(ErrorText(std::current_exception()), FaqUrl());
    }
    // 4.
    try {
        if (FOptions.Hotkeys)
            FOptions.Hotkeys(*this, false);
        else if (KvHotkey)
            KvHotkey->Deactivate();
    } catch (...) {
    }
    // 5.
    Ports.clear();
    Country.clear();
    CountryCode.clear();
    // 6. The relay ends its connections.
    try {
        proxyServer->SetActive(false);
    } catch (...) {
    }
}

void TMainForm::CoolTrayIcon1MouseUp(bool RightButton, QPoint Pos) {
    if (!MainMenuReady || !RightButton)
        return;
    LoadMenuStr(ProgramConfig->Language());
    if (FMenuView)
        FMenuView->Popup(Pos);
}

void TMainForm::CoolTrayIcon1MouseEnter(QObject *Sender) {
    Q_UNUSED(Sender);
    ShowActiveProxy->start();
}

void TMainForm::CoolTrayIcon1MouseExit(QObject *Sender) {
    Q_UNUSED(Sender);
    ShowActiveProxy->stop();
}

void TMainForm::ShowActiveProxyTimer(QObject *Sender) {
    Q_UNUSED(Sender);
    ShowActiveProxy->stop();
    if (!FMenuView || !FMenuView->Visible())
        ShowActiveProxyHint();
}

void TMainForm::ShowActiveProxyHint() {
    if (!ActiveProxy)
        return;
    QString Text = ms.sProxyChangedProxy + QStringLiteral(": ") + ActiveProxy->IP() + QLatin1Char(':') +
                   QString::number(ActiveProxy->Port());
    if (!ActiveProxy->Country().isEmpty()) {
        Text += QStringLiteral("\r\n") + ms.sProxyChangedCountry + QStringLiteral(": ") + ActiveProxy->Country();
        if (!ActiveProxy->CountryCode().isEmpty())
            Text += QStringLiteral(" (") + ActiveProxy->CountryCode() + QLatin1Char(')');
    }
    if (FTrayView)
        FTrayView->ShowBalloon(ms.sProxyChangedTitle, Text);
}

void TMainForm::ShowWarningMessage(const QString &Msg, const QString &Url) {
    // One warning at a time: while one is shown (a modal window) a second one is dropped.
    if (FWarningShown)
        return;
    FWarningShown = true;
    try {
        if (FDialogHost)
            FDialogHost->ShowWarning(Msg, Url);
        else
            WriteStderr(Url.isEmpty() ? Msg : Msg + QLatin1Char('\n') + Url);
    } catch (...) {
        WriteStderr(Msg);
    }
    FWarningShown = false;
}

void TMainForm::RequestMenuStateUpdate() {
    QMetaObject::invokeMethod(this, &TMainForm::WMUser401, Qt::QueuedConnection);
}

void TMainForm::WMUser401() {
    if (!SelectProxy)
        return;
    const bool Any = FUSerProxyCount + FVipProxyCount > 0;
    SelectProxy->SetEnabled(Any);
    EnableProxy->SetEnabled(Any);
    SwitchProxy->SetEnabled(SelectProxy->Enabled());
    DeleteProxy->SetEnabled(SelectProxy->Enabled() && ActiveProxy != nullptr);
}

void TMainForm::LoadProxyClick(QObject *Sender) {
    Q_UNUSED(Sender);
    // 1.
    if (ProxyCheckingInProgress || DownloadProxy || !ProgramConfig)
        return;
    // 2.
    DownloadProxy = true;
    // 3.-6.
    try {
        DownloadProxyList(*ProgramConfig, ActiveProxy);
    } catch (...) {
        ShowWarningMessage(ms.sErrorLoadingProxyList, FaqUrl());
    }
    // 7.
    if (FTrayView)
        FTrayView->ShowBalloon(ms.sProxyDownloadedTitle, ms.sProxyDownloadedMsg + QStringLiteral(": ") +
                                                             QString::number(ProgramConfig->ProxyList()->Count()));
    // 8.
    ProgramConfig->ProxyFilter()->SetActive(false);
    // 9.
    ReBuildProxyMenu();
    // 10.
    DownloadProxy = false;
    // 11.
    if (!ActiveProxy)
        SwitchProxyClick(this);
}

void TMainForm::EnableProxyClick(QObject *Sender) {
    Q_UNUSED(Sender);
    if (!MainMenuReady)
        return;
    if (ActiveProxy) {
        ProgramConfig->SetEnabled(!ProgramConfig->Enabled());
        ShowEnableDisabledStatus();
        SetupActiveProxy();
        emit StateChanged();
    } else {
        SwitchProxyClick(nullptr);
    }
}

void TMainForm::ShowEnableDisabledStatus() {
    const bool On = ProgramConfig && ProgramConfig->Enabled();
    if (EnableProxy) {
        EnableProxy->SetCaption(On ? ProxyDisableCaption : ProxyEnableCaption);
        EnableProxy->SetHint(On ? ProxyDisableHint : ProxyEnableHint);
    }
    if (FTrayView)
        FTrayView->SetAnimated(On);
}

void TMainForm::SetupActiveProxy() {
    if (!proxyServer)
        return;
    auto Quietly = [](auto &&Work) {
        try {
            Work();
        } catch (...) {
        }
    };
    // A relay that cannot listen is no reason to stop, but the user must not believe it works.
    auto Activate = [this] {
        try {
            proxyServer->SetActive(true);
        } catch (...) {
            WriteStderr(QStringLiteral("The relay cannot listen on 127.0.0.1:%1: %2")
                            .arg(FOptions.RelayPort)
                            .arg(ErrorText(std::current_exception())));
        }
    };
    auto ClearLocalProxy = [this] {
        proxyServer->SetLocalProxy(QString());
        proxyServer->SetLocalProxyUserPass(QString());
    };
    // The relay forwards every request straight to its web server.
    auto GoDirect = [this, ClearLocalProxy] {
        ClearLocalProxy();
        proxyServer->SetGatewayProxy(QString());
        proxyServer->SetGatewayProxyUserPass(QString());
        proxyServer->SetGatewayHosts(QStringList());
    };
    // 1. Without an active proxy the relay is left as it is, with one exception: start-up has
    // just pointed the browsers at it, so a relay that does not listen yet starts direct, or
    // the browsers would lose the web until a proxy is chosen.
    if (!ActiveProxy) {
        if (!proxyServer->Active()) {
            Quietly(GoDirect);
            Activate();
        }
        return;
    }
    if (ProgramConfig->Enabled()) {
        // 2.1.
        Quietly([this] {
            if (BrowserSetup)
                BrowserSetup->SetupBrowser(true);
        });
        // 2.2.
        Quietly([this] { proxyServer->SetActive(false); });
        // 2.3.
        proxyServer->SetGatewayHosts(QStringList{QStringLiteral(".")});
        // 2.4.
        if (ProgramConfig->UseLocalProxy()) {
            bool Bad = false;
            try {
                const QString Text = ProgramConfig->LocalProxyIp();
                QString Address;
                QString UserPass;
                if (!Text.contains(QLatin1Char('@'))) {
                    Address = Text;
                } else {
                    const QStringList Fields = SplitDelimited(Text, QLatin1Char('@'));
                    if (Fields.size() < 2)
                        throw Exception(QStringLiteral("too few fields"));
                    Address = Fields.at(1);
                    UserPass = Fields.at(0);
                }
                // Anything but host:port would leave the relay without its local proxy and
                // the user without a word; say so instead.
                Bad = !IsHostPort(Address);
                proxyServer->SetLocalProxy(Bad ? QString() : Address);
                proxyServer->SetLocalProxyUserPass(Bad ? QString() : UserPass);
            } catch (...) {
                Bad = true;
                Quietly(ClearLocalProxy);
            }
            if (Bad)
                ShowWarningMessage(ms.sCannotSetupLocalProxy, FaqUrl());
        } else {
            Quietly(ClearLocalProxy);
        }
        // 2.5.
        Quietly([this] {
            proxyServer->SetGatewayProxy(ActiveProxy->IP() + QLatin1Char(':') + QString::number(ActiveProxy->Port()));
        });
        Quietly([this] { proxyServer->SetGatewayProxyUserPass(QString()); });
        // 2.6.
        Activate();
        // 2.7.
        ShowActiveProxyHint();
    } else {
        // 3.1.
        Quietly([this] {
            if (BrowserSetup)
                BrowserSetup->RestoreBrowser(true);
        });
        // 3.2. The relay then forwards every request directly.
        Quietly([this] { proxyServer->SetActive(false); });
        Quietly(GoDirect);
        Activate();
    }
}

void TMainForm::ProxyClicked(QObject *Sender) {
    // While a download replaces the list the entries may name freed records; the rebuild that
    // ends the download makes them valid again.
    if (DownloadProxy)
        return;
    auto *Entry = qobject_cast<TMenuItemEx *>(Sender);
    if (!Entry || !Entry->Data())
        return;
    // 1.-2.
    ActiveProxy = Entry->Data();
    ProgramConfig->SetActiveProxyServer(ActiveProxy->IP() + QLatin1Char(':') + QString::number(ActiveProxy->Port()));
    // 3.
    if (SelectProxy)
        for (int i = 0; i < SelectProxy->Count(); ++i)
            SelectProxy->Items(i)->SetSelected(false);
    Entry->SetSelected(true);
    // 4.
    ShowActiveProxyHint();
    // 5. The first use counts; later activations do not refresh the stamp.
    TStringList *History = ProgramConfig->BanedProxy();
    if (History->IndexOfName(ActiveProxy->IP()) < 0)
        History->Add(ActiveProxy->IP() + QLatin1Char('=') + HistoryStamp(Now()));
    // 6.
    RequestMenuStateUpdate();
    // 7. Choosing a proxy always switches proxying on (once start-up is complete).
    ProgramConfig->SetEnabled(false);
    EnableProxyClick(nullptr);
    emit StateChanged();
}

void TMainForm::SwitchProxyClick(QObject *Sender) {
    if (DownloadProxy || !SelectProxy)
        return;
    // 1. Switches asked for by an item, a hotkey or the switch timer drop the proxy being left.
    if (ProgramConfig->RemoveProxyOnSwitch() && Sender && Sender != TimerAutoDownload)
        DeleteProxyClick(nullptr);
    // 2.
    const int u = FUSerProxyCount;
    const int v = FVipProxyCount;
    if (u + v <= 0)
        return;
    // 3. Every entry is equally likely; the separator sits between the groups when both exist.
    const int i = RandomIndex(u + v);
    const int Pos = i < u ? i : (u > 0 && v > 0 ? i + 1 : i);
    // 4.
    ProxyClicked(SelectProxy->Items(Pos));
    // 5.
    RequestMenuStateUpdate();
}

void TMainForm::DeleteProxyClick(QObject *Sender) {
    // 1.
    if (ProxyCheckingInProgress || !ActiveProxy || DownloadProxy || !SelectProxy)
        return;
    try {
        // 2. The entry is found by address only: a stale link is never followed.
        const int Pos = SelectProxy->IndexOf(static_cast<TMenuItemEx *>(ActiveProxy->GUILink()));
        if (Pos >= 0)
            SelectProxy->Delete(Pos);
        // 3.
        TProxtData *Record = ActiveProxy;
        ActiveProxy = nullptr;
        if (Record->Collection() == ProgramConfig->ProxyList())
            ProgramConfig->ProxyList()->Delete(Record);
        else
            ProgramConfig->ProxyListUser()->Delete(Record);
        // 4. A record with the same address in the other list becomes the active one.
        ReBuildProxyMenu();
        // 5.
        RequestMenuStateUpdate();
        emit StateChanged();
        // 6.
        if (Sender)
            SwitchProxyClick(Sender);
    } catch (...) {
        ShowWarningMessage(ErrorText(std::current_exception()), FaqUrl());
    }
}

void TMainForm::ApplyTimerSettings() {
    // A zero interval would fire without pause; such a timer stays off.
    auto Apply = [](QTimer *Timer, bool On, int Minutes) {
        const qint64 Ms = static_cast<qint64>(Minutes) * 60000;
        if (On && Ms > 0 && Ms <= std::numeric_limits<int>::max()) {
            Timer->setInterval(static_cast<int>(Ms));
            Timer->start();
        } else {
            Timer->stop();
        }
    };
    Apply(TimerAutoDownload, ProgramConfig->AutoDownloadProxy(), ProgramConfig->AutoDownloadInterval());
    Apply(TimerAutoSwitch, ProgramConfig->AutoChangeProxy(), ProgramConfig->AutoChangeInterval());
}

void TMainForm::EditProxyClick(QObject *Sender) {
    Q_UNUSED(Sender);
    if (!FDialogHost || FDialogHost->ManageProxyVisible())
        return;
    if (FDialogHost->ExecManageProxy(*this))
        ReBuildProxyMenu();
}

void TMainForm::TestProxyClick(QObject *Sender) {
    Q_UNUSED(Sender);
    if (!FDialogHost || FDialogHost->CheckerVisible())
        return;
    ProxyCheckingInProgress = true;
    try {
        FDialogHost->ExecChecker(*this);
    } catch (...) {
        ProxyCheckingInProgress = false;
        throw;
    }
    ProxyCheckingInProgress = false;
}

void TMainForm::PreferencesClick(QObject *Sender) {
    Q_UNUSED(Sender);
    if (!FDialogHost || FDialogHost->OptionsVisible())
        return;
    if (!FDialogHost->ExecOptions(*this))
        return;
    if (ProgramConfig->UseListService() || !ProgramConfig->CustomURL().isEmpty())
        LoadProxyClick(this);
    ApplyTimerSettings();
    ReBuildProxyMenu();
}

void TMainForm::AboutClick(QObject *Sender) {
    Q_UNUSED(Sender);
    if (FDialogHost)
        FDialogHost->OpenUrl(HomeUrl());
    else
        WriteStderr(HomeUrl());
}

void TMainForm::ExitClick(QObject *Sender) {
    FormClose(Sender);
    if (FOptions.Quit)
        FOptions.Quit();
    else if (QCoreApplication::instance())
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

int TMainForm::FlagIndex(const QString &Code) {
    const int Known = CountryCode.indexOf(Code);
    if (Known >= 0)
        return Known;
    // A code without a picture (an empty one included) shows "unknown" and is tried again next
    // time; codes with a picture are loaded once and found by position from then on.
    if (Code.isEmpty() || !QFile::exists(QStringLiteral(":/FLAG_") + Code))
        return 0;
    CountryListImg->Add(QStringLiteral(":/FLAG_") + Code);
    CountryCode.append(Code);
    return CountryCode.size() - 1;
}

void TMainForm::ReBuildProxyMenu() {
    if (!SelectProxy || !ProgramConfig)
        return;
    TProxyCollection *Vip = ProgramConfig->ProxyList();
    TProxyCollection *User = ProgramConfig->ProxyListUser();
    // 1.
    if (ProgramConfig->Sort()) {
        Vip->Sort(ProgramConfig->SortOption());
        User->Sort(ProgramConfig->SortOption());
    }
    // 2.
    FUSerProxyCount = 0;
    FVipProxyCount = 0;
    ActiveProxy = nullptr;
    // A drawn menu repaints once for the whole rebuild, not once per entry of a long list.
    std::optional<QSignalBlocker> Quiet(std::in_place, SelectProxy);
    SelectProxy->Clear();
    // 3.
    TProxyFilter *Filter = ProgramConfig->ProxyFilter();
    const QString Active = ProgramConfig->ActiveProxyServer();
    for (TProxyCollection *List : {User, Vip}) {
        const bool IsUser = List == User;
        for (int i = 0; i < List->Count(); ++i) {
            TProxtData *R = List->Items(i);
            if (IsInHistory(R->IP()))
                continue;
            if (Filter->Active() && !Filter->FilterOK(R))
                continue;
            const QString Address = R->IP() + QLatin1Char(':') + QString::number(R->Port());
            auto *Entry = new TMenuItemEx();
            Entry->SetCaption(IsUser ? R->AsString() : Address);
            Entry->SetHint(R->Country());
            Entry->SetHeight(25);
            Entry->SetImageIndex(FlagIndex(R->CountryCode()));
            Entry->SetImageIndex2(static_cast<int>(std::trunc(R->Rank() / 0.5)));
            Entry->OnClick = [this](QObject *S) { ProxyClicked(S); };
            R->SetGUILink(Entry);
            Entry->SetData(R);
            if (!Active.isEmpty() && Active == Address) {
                ActiveProxy = R;
                Entry->SetSelected(true);
            }
            SelectProxy->Add(Entry);
            if (IsUser)
                ++FUSerProxyCount;
            else
                ++FVipProxyCount;
        }
    }
    // 4.
    if (FUSerProxyCount > 0 && FVipProxyCount > 0) {
        try {
            auto *Separator = new TMenuItemEx();
            Separator->SetSeparator(true);
            Separator->SetHeight(8);
            SelectProxy->Insert(FUSerProxyCount, Separator);
        } catch (...) {
        }
    }
    Quiet.reset();
    emit SelectProxy->Changed();
    // 5.
    RequestMenuStateUpdate();
    if (FUSerProxyCount > 0 && FVipProxyCount > 0) {
        SelectProxy->SetEnabled(true);
        SwitchProxy->SetEnabled(true);
        EnableProxy->SetEnabled(true);
    }
    // 6. The relay is not touched.
    if (!ActiveProxy) {
        ProgramConfig->SetEnabled(false);
        ShowEnableDisabledStatus();
    }
    emit StateChanged();
}

bool TMainForm::IsInHistory(const QString &Address) {
    // 1.
    if (!ProgramConfig->KeepHistory())
        return false;
    // 2.
    TStringList *History = ProgramConfig->BanedProxy();
    const int Line = History->IndexOfName(Address);
    if (Line < 0)
        return false;
    const QString Value = History->ValueFromIndex(Line);
    if (Value.isEmpty())
        return false;
    // 3. A stamp that is no number cannot hide anything; it is dropped like an expired one.
    double Stamp = 0;
    if (ParseHistoryStamp(Value, Stamp)) {
        const double Expiry = Stamp + ProgramConfig->KeepHistoryHours() * (1.0 / 24);
        // 4.
        if (DaysOf(Now()) < Expiry)
            return true;
    }
    // 5.
    History->Delete(Line);
    return false;
}

void TMainForm::LoadMenuStr(const QString &Language) {
    const TLanguageTable &Table = TLanguageTable::Builtin();
    auto Read = [&](const char *Key, const QString &Fallback) {
        return Table.ReadString(Language, QLatin1String(Key), Fallback);
    };
    auto Apply = [&](TMenuItemEx *Item, const char *Key, const char *HintKey, const char *Fallback) {
        if (!Item)
            return;
        Item->SetCaption(Read(Key, QLatin1String(Fallback)));
        Item->SetHint(Read(HintKey, Item->Caption()));
    };
    Apply(SelectProxy, "SelectProxy", "SelectProxyHint", "Select proxy server");
    Apply(EditProxy, "EditProxy", "EditProxyHint", "Manage proxy server");
    Apply(SwitchProxy, "SwitchProxy", "SwitchProxyHint", "Switch proxy server");
    Apply(DeleteProxy, "DeleteProxy", "DeleteProxyHint", "Delete selected proxy server");
    ProxyEnableCaption = Read("EnableProxy", QStringLiteral("Enable proxy server"));
    ProxyEnableHint = Read("EnableProxyHint", ProxyEnableCaption);
    ProxyDisableCaption = Read("DisableProxy", QStringLiteral("Disable proxy server"));
    ProxyDisableHint = Read("DisableProxyHint", ProxyDisableCaption);
    // The download item's hint is read from the About hint key, as the table has always had it.
    Apply(LoadProxyMnu, "LoadBtn", "AboutBtnHint", "Download proxy servers");
    Apply(Preferences, "PreferencesBtn", "PreferencesBtnHint", "Preferences...");
    Apply(About, "AboutBtn", "AboutBtnHint", "About Relayvane");
    Apply(TestProxy, "TestProxyBtn", "TesatProxyBtnHint", "Test Proxy....");
    Apply(Exitbtn, "ExitBtn", "ExitBtnHint", "Exit");
    if (EnableProxy) {
        const bool On = ProgramConfig && ProgramConfig->Enabled();
        EnableProxy->SetCaption(On ? ProxyDisableCaption : ProxyEnableCaption);
        EnableProxy->SetHint(On ? ProxyDisableHint : ProxyEnableHint);
    }
    LoadMessageStr(Language);
}

void TMainForm::LoadMessageStr(const QString &Language) {
    ms = LoadMessageStrings(Language);
    SetProxyTypeTexts(FTypeTexts.get());
}
