#pragma once
// Points the chosen browsers at the relay and gives them their own settings back: the controller's
// SetupBrowser / RestoreBrowser. What each browser had before is remembered in the per-user store
// under "\Software\RVN\", so a run that ended without restoring is repaired by the next start.

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

class TProxyManager;
class TProcessInfoLite;
class TRegistry;

/// Browser preparation and restore on top of TProxyManager and the process list.
class TBrowserSetup : public QObject {
    Q_OBJECT

public:
    /// Shows a warning with a link (the main window's ShowWarningMessage).
    using TWarningEvent = std::function<void(const QString &Msg, const QString &Url)>;
    /// The message text of a key such as "sCannotSetupFF" in the current language.
    using TMessageSource = std::function<QString(const QString &Key)>;

    /// The relay address handed to the browsers.
    static QString RelayAddress() { return QStringLiteral("127.0.0.1:3128"); }

    /// The address written into the browsers: RelayAddress() unless a test moves the relay elsewhere.
    void SetRelayAddress(const QString &Address) { FRelayAddress = Address; }
    const QString &CurrentRelayAddress() const { return FRelayAddress; }

    /// Neither Manager nor Processes is owned; both must outlive this object.
    TBrowserSetup(TProxyManager *Manager, TProcessInfoLite *Processes, QObject *Owner = nullptr);
    ~TBrowserSetup() override;

    /// Where the choice of browser comes from (the configuration's Browser); "all browsers" when unset.
    void SetBrowserSource(std::function<QString()> Source) { FBrowserSource = std::move(Source); }
    void SetBrowser(const QString &Browser);
    QString Browser() const;
    void SetOnWarning(TWarningEvent Event) { FOnWarning = std::move(Event); }
    /// Without a source the English texts are used, each followed by the FAQ sentence.
    void SetMessageSource(TMessageSource Source) { FMessageSource = std::move(Source); }
    /// The store file; empty (the default) is the user's own store.
    void SetRegistryFile(const QString &FileName) { FRegistryFile = FileName; }
    /// Replaces the executable names closed for one family ("firefox" or "opera"); tests use it to
    /// aim at stand-in processes rather than at a real browser.
    void SetProcessNames(const QString &Family, const QStringList &Names);

    /// Points the browsers chosen by Browser (only the system settings when IExplorerOnly) at the relay.
    /// 1: done; 2: a browser could not be set up, a warning was shown and nothing after it was handled.
    uint8_t SetupBrowser(bool IExplorerOnly);
    /// Puts back every remembered setting (only the system one when IExplorerOnly). Always true.
    bool RestoreBrowser(bool IExplorerOnly);
    /// Ends the first process of this user of each name; the paths of the ended ones go to ClosedPaths.
    void CloseRunningBrowsers(const QStringList &Names, QStringList &ClosedPaths);
    /// Starts each program again; results are ignored.
    void StartPrograms(const QStringList &Paths);
    /// Starts the executable with no arguments in a session of its own, detached, with our environment
    /// and folder, standard channels on /dev/null. True when the process was created.
    static bool RunProgram(const QString &Path);

    /// The executable names closed for a Browser text, in order.
    QStringList BrowserProcessNames(const QString &Browser) const;
    /// True when one of "ProxyServerChangedIE", "…FF", "…OP" is set: an earlier run left changes.
    bool HasUnrestoredChanges() const;
    /// The English message texts with the FAQ sentence.
    static QString DefaultMessage(const QString &Key);

private:
    uint8_t Fail(const QString &Key);
    QString Message(const QString &Key) const;
    std::unique_ptr<TRegistry> OpenStore() const;

    TProxyManager *FManager;
    TProcessInfoLite *FProcesses;
    std::function<QString()> FBrowserSource;
    TWarningEvent FOnWarning;
    TMessageSource FMessageSource;
    QString FRegistryFile;
    QString FRelayAddress = RelayAddress();
    QStringList FFirefoxNames{QStringLiteral("firefox"), QStringLiteral("firefox-esr")};
    QStringList FOperaNames{QStringLiteral("opera")};
};
