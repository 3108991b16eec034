#pragma once
// The program's controller: it owns the configuration, the relay, the browser settings, the
// process list, the tray menu's model, the hotkeys and the timers, and runs start-up, shutdown,
// activation and switching of proxies and the proxy menu. It is QtCore only: the desktop half
// (tray icon, drawn menu, dialogs) plugs in through the small view interfaces below, and the
// headless program leaves them unset, so both run the very same logic.

#include "app/MenuItemModel.h"
#include "catalogue/Marlo.Common.ProxyList.h"
#include "config/LanguageTable.h"

#include <QDateTime>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class TMainForm;
class TProgramConfig;
class TProxyServer;
class TProxyManager;
class TProcessInfoLite;
class TBrowserSetup;
class TKvHotkey;
class TRegistry;

/// The drawn main menu. Installed before FormCreate so start-up can dress it.
class IPopupMenuView {
public:
    virtual ~IPopupMenuView() = default;
    /// Start-up: fonts, colours, frame, scroll bar and item pictures of the skin.
    virtual void Dress() = 0;
    /// Shows the main menu with its top left corner at Pos (screen coordinates).
    virtual void Popup(QPoint Pos) = 0;
    /// True while the menu is on screen (the active-proxy balloon waits for it to close).
    virtual bool Visible() const = 0;
};

/// The notification-area icon.
class ITrayIconView {
public:
    virtual ~ITrayIconView() = default;
    /// On: cycle the turning globe every 100 ms; off: the grey globe, picture 0.
    virtual void SetAnimated(bool On) = 0;
    /// An information balloon with a 10 second time-out.
    virtual void ShowBalloon(const QString &Title, const QString &Text) = 0;
};

/// The dialogs. Every Exec* is modal: it returns when the dialog closes.
class IDialogHost {
public:
    virtual ~IDialogHost() = default;
    /// The manage-proxy dialog: fills its memo from Form's ProxyListUser ("ip:port" lines); on OK
    /// copies its list into ProxyListUser and returns true (the controller then rebuilds the menu).
    virtual bool ExecManageProxy(TMainForm &Form) = 0;
    /// A new checker window over both lists of Form's configuration.
    virtual void ExecChecker(TMainForm &Form) = 0;
    /// The preferences dialog; true when it closed with OK (settings already stored).
    virtual bool ExecOptions(TMainForm &Form) = 0;
    /// The warning window with the message and a link; modal.
    virtual void ShowWarning(const QString &Msg, const QString &Url) = 0;
    /// Opens a web page in the user's browser.
    virtual void OpenUrl(const QString &Url) = 0;
    virtual bool ManageProxyVisible() const = 0;
    virtual bool CheckerVisible() const = 0;
    virtual bool OptionsVisible() const = 0;
};

/// What start-up depends on besides the files: everything a test or the program's entry may set.
struct TMainFormOptions {
    /// The relay's port on 127.0.0.1 (the browsers are pointed at it as well).
    int RelayPort = 3128;
    /// config.cfg; empty: ConfigFilePath().
    QString ConfigPath;
    /// The per-user store; empty: the user's own store.
    QString RegistryFile;
    /// Local date and time; default QDateTime::currentDateTime.
    std::function<QDateTime()> Now;
    /// A uniform integer in 0 ... Bound - 1; default a generator seeded from the clock at start-up.
    std::function<int(int Bound)> Random;
    /// The number of running copies of this program, this one included. Default: processes whose
    /// executable name equals ours exactly (not merely contains it).
    std::function<int()> RunningCopies;
    /// The executable file name whose processes the default count looks for; empty: ours.
    QString ExecutableName;
    /// First run: put the program's launcher on the desktop. Default: nothing.
    std::function<void()> CreateShortcut;
    /// Asked to end the program early (second copy, browsers that cannot be set up). Default: quit
    /// the application's event loop once it runs.
    std::function<void()> Terminate;
    /// Asked to end the program after a normal close (Exit). Default: quit the event loop.
    std::function<void()> Quit;
    /// Starts the update check; false skips it (tests).
    bool UpdateCheck = true;
    /// Stands in for the built-in hotkeys (KvHotkey is then not made): called by start-up with
    /// On = true and by closing with On = false. Tests use it to keep off the X display.
    std::function<void(TMainForm &Form, bool On)> Hotkeys;
};

/// The main window of the tray program, never shown itself: the controller.
class TMainForm : public QObject, public IWarningSink {
    Q_OBJECT

public:
    explicit TMainForm(TMainFormOptions Options = TMainFormOptions(), QObject *Owner = nullptr);
    ~TMainForm() override;

    // The desktop half; all three optional, installed before FormCreate.
    void SetMenuView(IPopupMenuView *View) { FMenuView = View; }
    void SetTrayView(ITrayIconView *View) { FTrayView = View; }
    void SetDialogHost(IDialogHost *Host) { FDialogHost = Host; }
    IDialogHost *DialogHost() const { return FDialogHost; }

    /// The root of the main menu; its children are the rows of the menu.
    TMenuItemEx *MainMenu() const { return FMainMenu; }
    const TMainFormOptions &Options() const { return FOptions; }
    /// The window caption, "Relayvane Portable - RVN 3.1.3" after start-up.
    QString Caption() const { return FCaption; }
    /// True once start-up or a handler asked the program to end.
    bool Terminated() const { return FTerminated; }

    // Start-up and shutdown.
    void FormCreate(QObject *Sender = nullptr);
    void FormClose(QObject *Sender = nullptr);

    // Tray icon events.
    /// Right button: the menu in the current language at Pos (only once start-up is complete).
    void CoolTrayIcon1MouseUp(bool RightButton, QPoint Pos);
    void CoolTrayIcon1MouseEnter(QObject *Sender = nullptr);
    void CoolTrayIcon1MouseExit(QObject *Sender = nullptr);
    void ShowActiveProxyTimer(QObject *Sender = nullptr);
    void ShowActiveProxyHint();

    /// The one way to show a warning: one at a time, a second one while the first is shown is
    /// dropped. Without a dialog host message and link go to stderr.
    void ShowWarningMessage(const QString &Msg, const QString &Url) override;
    /// Recomputes the menu's enabled states once the current event is over.
    void RequestMenuStateUpdate();
    /// The handler of that request (the private message 0x401 of the window).
    void WMUser401();

    // Activation and switching.
    void LoadProxyClick(QObject *Sender = nullptr);
    void EnableProxyClick(QObject *Sender = nullptr);
    void ShowEnableDisabledStatus();
    void SetupActiveProxy();
    void ProxyClicked(QObject *Sender);
    void SwitchProxyClick(QObject *Sender = nullptr);
    void DeleteProxyClick(QObject *Sender = nullptr);
    void ApplyTimerSettings();
    void EditProxyClick(QObject *Sender = nullptr);
    void TestProxyClick(QObject *Sender = nullptr);
    void PreferencesClick(QObject *Sender = nullptr);
    void AboutClick(QObject *Sender = nullptr);
    void ExitClick(QObject *Sender = nullptr);

    // The proxy menu.
    void ReBuildProxyMenu();
    bool IsInHistory(const QString &Address);

    // Languages.
    /// Menu captions and hints, the two texts of EnableProxy, then the message texts.
    void LoadMenuStr(const QString &Language);
    /// The 32 message texts ms, which also name the anonymity types of the proxy records.
    void LoadMessageStr(const QString &Language);
    /// The language's English word for the web services ("deutsch" -> "german").
    QString TranslateLangugae(const QString &Language) const;

    /// The history time stamp of When: days since 1899-12-30, up to 15 significant digits, ".".
    static QString HistoryStamp(const QDateTime &When);
    /// Reads a history stamp; false when Text is no number.
    static bool ParseHistoryStamp(const QString &Text, double &Days);
    /// Local date and time as the history sees it (the injected clock).
    QDateTime Now() const;

    // Menu items.
    TMenuItemEx *SelectProxy = nullptr;
    TMenuItemEx *EditProxy = nullptr;
    TMenuItemEx *SwitchProxy = nullptr;
    TMenuItemEx *DeleteProxy = nullptr;
    TMenuItemEx *EnableProxy = nullptr;
    TMenuItemEx *About = nullptr;
    TMenuItemEx *LoadProxyMnu = nullptr;
    TMenuItemEx *Preferences = nullptr;
    TMenuItemEx *Exitbtn = nullptr;
    TMenuItemEx *TestProxy = nullptr;
    /// The line between TestProxy and Preferences.
    TMenuItemEx *MenuSeparator = nullptr;

    QString ProxyEnableCaption;
    QString ProxyEnableHint;
    QString ProxyDisableCaption;
    QString ProxyDisableHint;

    int FUSerProxyCount = 0;
    int FVipProxyCount = 0;
    bool MainMenuReady = false;
    TProcessInfoLite *FProcessInfo = nullptr;
    bool DownloadProxy = false;
    TMessageStrings ms;
    TProgramConfig *ProgramConfig = nullptr;
    QStringList Country;
    QStringList Ports;
    /// Line i is the country code whose flag is picture i of CountryListImg; line 0 is "NN".
    QStringList CountryCode;
    TProxtData *ActiveProxy = nullptr;
    bool ProxyCheckingInProgress = false;
    bool mCanClose = false;
    TProxyManager *proxyManager = nullptr;
    TProxyServer *proxyServer = nullptr;
    /// Browser preparation and restore over proxyManager and FProcessInfo.
    TBrowserSetup *BrowserSetup = nullptr;
    /// The seven global shortcuts; null where hotkeys are not built in.
    TKvHotkey *KvHotkey = nullptr;

    // Picture lists (resource paths; the drawn menu loads them).
    TPngImageList *PngImageList1 = nullptr;
    TPngImageList *CountryListImg = nullptr;
    TPngImageList *RankImage = nullptr;
    TPngImageList *RotatingGlobe = nullptr;
    TPngImageList *GlobeStopped = nullptr;
    TPngImageList *ProgramIcons = nullptr;

    QTimer *TimerAutoDownload = nullptr;
    QTimer *TimerAutoSwitch = nullptr;
    QTimer *ShowActiveProxy = nullptr;

signals:
    /// After every change of the active proxy or of Enabled (the control socket reports it).
    void StateChanged();

private:
    void CreateShortcut();
    /// The settings store: the test's file when one is given, else the user's.
    TRegistry Store() const;
    TMenuItemEx *NewMenuItem(const QString &Name, int Image, const QString &ShortCut,
                             void (TMainForm::*Handler)(QObject *));
    int FlagIndex(const QString &Code);
    int RandomIndex(int Bound);
    int DefaultRunningCopies() const;

    TMainFormOptions FOptions;
    QString FConfigPath;
    QString FCaption;
    bool FTerminated = false;
    bool FClosed = false;
    bool FWarningShown = false;
    IPopupMenuView *FMenuView = nullptr;
    ITrayIconView *FTrayView = nullptr;
    IDialogHost *FDialogHost = nullptr;
    TMenuItemEx *FMainMenu = nullptr;
    std::unique_ptr<TProxyManager> FProxyManager;
    std::unique_ptr<class TMessageTypeTexts> FTypeTexts;
    std::unique_ptr<struct TRandomSource> FRandom;
};
