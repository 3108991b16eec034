#pragma once
// The proxy checker window: tests the proxies of both lists with the check scheduler, shows the
// results row by row, filters the view, removes dead proxies and stores the tested lists, their
// ratings and the filter back into the configuration when the user saves.
//
// The window class and the scheduler's worker thread share the name TProxyCheck. The worker keeps
// the global name (the scheduler and its tests use it); the window lives in the namespace named
// after its unit, ProxyChackForm::TProxyCheck, the way the unit-qualified name reads elsewhere.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "checker/CheckerSites.h"
#include "checker/Marlo.Common.ProxyTest.h"
#include "config/LanguageTable.h"

#include <QDialog>
#include <QIcon>
#include <QStringList>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;
class TProgramConfig;

namespace ProxyChackForm {

/// What the checker window needs from the main window: the configuration it reads and stores
/// into, the message texts, the warning window and the tray menu rebuild after a save.
class IProxyCheckOwner {
public:
    virtual ~IProxyCheckOwner() = default;
    virtual TProgramConfig &ProgramConfig() = 0;
    virtual const TMessageStrings &ms() const = 0;
    virtual void ShowWarningMessage(const QString &Msg, const QString &Url) = 0;
    virtual void ReBuildProxyMenu() = 0;
};

/// The proxy checker window (modal, freed by its opener when it closes).
class TProxyCheck : public QDialog {
    Q_OBJECT
public:
    /// Column widths of ProxyList, fixed (minimum and maximum alike).
    static constexpr int ColumnWidths[10] = {120, 79, 150, 100, 70, 70, 79, 79, 79, 82};
    /// Picture indexes of CountryList fixed at creation.
    enum : int { imgUnknownState = 0, imgWorks = 1, imgDead = 2, imgNoCountry = 3 };

    /// Sites: the test sites to register; none: the built-in ones.
    explicit TProxyCheck(IProxyCheckOwner &Owner, QWidget *Parent = nullptr,
                         std::optional<TCheckerSites> Sites = std::nullopt);
    ~TProxyCheck() override;

    TProxyCollection *ProxyListVIP() const { return FProxyListVIP.get(); }
    /// Copies Value into the window's own list.
    void SetProxyListVIP(const TProxyCollection *Value);
    TProxyCollection *ProxyListUser() const { return FProxyListUser.get(); }
    void SetProxyListUser(const TProxyCollection *Value);

    // Event handlers (public so that the opener and the tests drive the very paths a click takes).
    void BtnStartClick();
    void BtnStopClick();
    void BtnResetClick();
    void BtnDelDeadClick();
    void BtnSaveClick();
    void BtnCancelClick();
    void BtnRefreshClick();
    void CheckBoxInfoClick();

    /// Applies the window's texts in Language (a section of the language table).
    void LoadGUIStr(const QString &Language);
    /// The test set that Start would run with the boxes as they are now.
    TTests SelectedTests() const;
    /// The proxy of a row of ProxyList, null for none.
    TProxtData *RowProxy(int Row) const;

    // Components.
    TKvProxyTest *KvProxyTest;
    QTreeWidget *ProxyList;
    QPushButton *BtnStart, *BtnStop, *BtnReset, *BtnDelDead, *BtnSave, *BtnCancel;
    QGroupBox *gbTests;
    QCheckBox *CheckBoxInfo, *CheckBoxBotnet, *CheckBoxHttps, *CheckBoxSpeed;
    QGroupBox *sGroupBox2;
    QLabel *lblThreads, *lblTimeOutBasic, *lblTimeOutSpeed;
    QSpinBox *SpinEdit1, *TimeOutBasic, *TimeOutSpeed;
    QGroupBox *sGroupBox1;
    QLabel *lblCountry, *lblPort, *lblType, *lblBotNet, *lblPost, *lblSSL, *lblMiniSpeed, *lblMaxPing;
    QComboBox *cmbcountry, *cmbPort, *cmbType, *cmbBotNet, *cmbPost, *cmbSSL, *spnMiniSpeed, *spnMaxPing;

    /// The view filter.
    TProxyFilter *ProxyFilter;
    /// Country codes parallel to the items of cmbcountry.
    QStringList FCountryCode;
    /// Names parallel to the pictures of CountryList (the flag cache).
    QStringList CountryCode;
    /// State pictures, the no-country picture and every flag loaded so far.
    QList<QIcon> CountryList;

protected:
    void showEvent(QShowEvent *Event) override;
    void closeEvent(QCloseEvent *Event) override;

public slots:
    /// Escape and the window manager's close both go through the close query.
    void reject() override;

private:
    void FormCreate(std::optional<TCheckerSites> Sites);
    void FormShow();
    bool FormCloseQuery();
    void OnProxyTest(QObject *Sender, TProxtData *Proxy, TChackAction Action);
    void OnJobEnd(QObject *Sender);
    void ReadFilter();
    void FillFilterLists();
    void FillProxyList();
    void AddProxyRow(TProxtData *Proxy);
    void ShowRowResults(QTreeWidgetItem *Row, const TProxtData *Proxy);
    int FlagIndex(const QString &Code);
    void RateRows();
    void SetRunning(bool Running);
    QTreeWidgetItem *FindRow(const TProxtData *Proxy) const;
    QString AliveText(TTriState Value) const;
    QString StateText(TTriState Value) const;

    IProxyCheckOwner &FOwner;
    std::unique_ptr<TProxyCollection> FProxyListVIP;
    std::unique_ptr<TProxyCollection> FProxyListUser;
    bool FShownOnce = false;
};

} // namespace ProxyChackForm
