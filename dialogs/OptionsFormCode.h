#pragma once
// The preferences dialog: the one place where the user edits the configuration. The list source
// (the list service with its criteria, or a custom URL), automatic download and switching, menu
// sorting, the usage history, the user's own upstream proxy, the language and the browser.
//
// The list service's country and port choices are fetched once per run in the background; the
// dialog stays usable meanwhile. The three groups fold to their caption line, and that state is
// stored in the configuration at once, so it survives a cancel and a restart.

#include "config/LanguageTable.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;
class QWidget;
class TDownloadCountryData;
class TProgramConfig;

/// What the preferences dialog needs from the main window.
class IOptionsOwner {
public:
    virtual ~IOptionsOwner() = default;
    virtual TProgramConfig &ProgramConfig() = 0;
    virtual const TMessageStrings &ms() const = 0;
    /// The list service's countries and ports, "key=text" each, kept for the run (empty: not
    /// fetched yet, or the last fetch failed).
    virtual QStringList &Country() = 0;
    virtual QStringList &Ports() = 0;
    virtual void ShowWarningMessage(const QString &Msg, const QString &Url) = 0;
    /// Browser preparation: put back the settings of the browsers chosen so far; point the newly
    /// chosen ones at the relay (IExplorerOnly false in both calls from here).
    virtual void RestoreBrowser(bool IExplorerOnly) = 0;
    virtual void SetupBrowser(bool IExplorerOnly) = 0;
    /// Starts a proxy list download with the settings just stored.
    virtual void LoadProxyClick() = 0;
};

/// The modal preferences dialog, created once at start-up and reused.
class TOptions : public QDialog {
    Q_OBJECT
public:
    explicit TOptions(IOptionsOwner &Owner, QWidget *Parent = nullptr);
    ~TOptions() override;

    /// The list service's base address for the country/port fetch; empty: ServiceBaseUrl().
    void SetServiceBaseUrl(const QString &Url) { FServiceBaseUrl = Url; }
    /// The address of the custom-URL probe's time-outs (milliseconds); bounded so that a server
    /// that never answers cannot freeze the program.
    void SetProbeTimeouts(int ConnectMs, int ReadMs) {
        FProbeConnectTimeout = ConnectMs;
        FProbeReadTimeout = ReadMs;
    }
    /// True while a country/port fetch runs.
    bool CountryFetchRunning() const { return FCountryFetch != nullptr; }

    // Event handlers (public so that the opener and the tests drive the very paths a click takes).
    void ssClick();
    void RatioBtn1Click();
    void RatioBtn2Click();
    void cbAutoDownloadClick();
    void cbAutoSwitchClick();
    void cbKeepHistoryClick();
    void cbLocalProxyClick();
    void RatioGroupSortClick();
    void btnClearHistoryClick();
    void imgIconVIPClick();
    void imgIconFreeClick();
    void imgIconSettingsClick();

    /// Applies the dialog's texts in Language (a section of the language table).
    void LoadGUIStr(const QString &Language);

    /// The languages and browsers offered, in the order shown.
    static const QStringList &LanguageItems();
    static const QStringList &BrowserItems();

    // Components.
    QGroupBox *GroupBoxVIP;
    QLabel *lblGroupVIP; ///< the caption of GroupBoxVIP
    QRadioButton *RatioBtn1;
    QToolButton *imgIconVIP;
    QLabel *lblCountry, *lblPort, *lblType, *lblSSL, *lblMiniSpeed, *lblMiniUptime, *lblMiniUpTimeHr, *lblTimeIntaval;
    QComboBox *cmbcountry, *cmbPort, *cmbType, *cmbSSL;
    QSpinBox *spnMiniSpeed, *spnMiniUptime, *spnMiniUptimeHr, *spnIntaval;

    QGroupBox *GroupBoxOther;
    QLabel *lblGroupOther; ///< the caption of GroupBoxOther
    QRadioButton *RatioBtn2;
    QToolButton *imgIconFree;
    QLabel *sLabelFX23;
    QLineEdit *EditCustomURL;

    QGroupBox *GroupBoxSettings;
    QLabel *lblGroupSettings; ///< the caption of GroupBoxSettings
    QToolButton *imgIconSettings;
    QCheckBox *cbAutoDownload, *cbAutoSwitch, *RatioGroupSort, *cbKeepHistory, *cbRemoveProxy, *cbLocalProxy;
    QSpinBox *spnAutoDownload, *spnAutoChange, *spnHours;
    QComboBox *CmbSort;
    QLineEdit *eLocalProxyServer;
    QLabel *lblLanguage, *lblBrowser;
    QComboBox *cmbLanguage, *cmbBrowser;

    QWidget *sPanel1;
    QPushButton *btnClearHistory;
    QPushButton *OKBtn;

    /// The open heights of the three groups (their collapsed height is CollapsedHeight).
    int fGroupBoxVIPSize = 0;
    int fGroupBoxFreeSize = 0;
    int fGroupBoxSettingsSize = 0;
    static constexpr int CollapsedHeight = 39;

protected:
    void showEvent(QShowEvent *Event) override;

private:
    void FormCreate();
    void FormShow();
    void ListArrival(TDownloadCountryData *Sender);
    void StartCountryFetch();
    void FillCountryPortLists();
    void SetGroupOpen(QGroupBox *Group, QToolButton *Icon, int OpenHeight, bool Open);
    void CriteriaEnabled(bool Enabled);
    void SelectByName(QComboBox *Combo, const QStringList &Entries, const QString &Name);
    bool ProbeCustomUrl(const QString &Url) const;
    void Relayout();

    IOptionsOwner &FOwner;
    QString FServiceBaseUrl;
    TDownloadCountryData *FCountryFetch = nullptr;
    QList<QWidget *> FContent; // the foldable part of each group, in group order
    int FProbeConnectTimeout = 15000;
    int FProbeReadTimeout = 30000;
};
