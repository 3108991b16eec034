#pragma once
// TProgramConfig: every setting of the program and its persistent data, saved to and
// loaded from "config.cfg" by its base TSaveLoadComponent.
//
// The Q_PROPERTY list below IS the file format: the stream writes and reads these properties by name in
// this order, so it must follow the settings table exactly (Enabled first, GroupBoxSettingsState
// last). A new published property needs nothing more than its line here.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "config/Marlo.Core.Classes.ExtendedClasses.h"
#include "platform/StringList.h"

#include <QLocale>
#include <QString>
#include <functional>
#include <memory>

/// The interface language name for a system language: "deutsch", "español", "française", "русский",
/// "український", else "english".
QString LanguageForSystemLanguage(QLocale::Language Language);

/// Where a new configuration takes the system's language from.
using TSystemLanguageSource = std::function<QLocale::Language()>;
/// Installs the source of the system language (tests pretend to be a German or Japanese system);
/// an empty function restores the default, QLocale::system().language().
void SetSystemLanguageSource(TSystemLanguageSource Source);
/// The system's language through the installed source.
QLocale::Language SystemLanguage();

/// The one configuration object: settings, both proxy lists, the usage history and the saved filter.
class TProgramConfig : public TSaveLoadComponent {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(TProxyCollection *ProxyList READ ProxyList WRITE SetProxyList)
    Q_PROPERTY(TProxyCollection *ProxyListUser READ ProxyListUser WRITE SetProxyListUser)
    Q_PROPERTY(QString Language READ Language WRITE SetLanguage)
    Q_PROPERTY(QString Browser READ Browser WRITE SetBrowser)
    Q_PROPERTY(QString Country READ Country WRITE SetCountry)
    Q_PROPERTY(QString Port READ Port WRITE SetPort)
    Q_PROPERTY(QString ProxyType READ ProxyType WRITE SetProxyType)
    Q_PROPERTY(QString SupportSSL READ SupportSSL WRITE SetSupportSSL)
    Q_PROPERTY(QString SupportCONNECT READ SupportCONNECT WRITE SetSupportCONNECT)
    Q_PROPERTY(QString SupportPostGet READ SupportPostGet WRITE SetSupportPostGet)
    Q_PROPERTY(int MiniSpeed READ MiniSpeed WRITE SetMiniSpeed)
    Q_PROPERTY(int MaxPing READ MaxPing WRITE SetMaxPing)
    Q_PROPERTY(int MiniUptime READ MiniUptime WRITE SetMiniUptime)
    Q_PROPERTY(int TimeInteval READ TimeInteval WRITE SetTimeInteval)
    Q_PROPERTY(bool UseListService READ UseListService WRITE SetUseListService)
    Q_PROPERTY(QString CustomURL READ CustomURL WRITE SetCustomURL)
    Q_PROPERTY(bool AutoDownloadProxy READ AutoDownloadProxy WRITE SetAutoDownloadProxy)
    Q_PROPERTY(int AutoDownloadInterval READ AutoDownloadInterval WRITE SetAutoDownloadInterval)
    Q_PROPERTY(bool AutoChangeProxy READ AutoChangeProxy WRITE SetAutoChangeProxy)
    Q_PROPERTY(int AutoChangeInterval READ AutoChangeInterval WRITE SetAutoChangeInterval)
    Q_PROPERTY(bool RemoveProxyOnSwitch READ RemoveProxyOnSwitch WRITE SetRemoveProxyOnSwitch)
    Q_PROPERTY(TProxyCollection::TSortType SortOption READ SortOption WRITE SetSortOption)
    Q_PROPERTY(bool KeepHistory READ KeepHistory WRITE SetKeepHistory)
    Q_PROPERTY(int KeepHistoryHours READ KeepHistoryHours WRITE SetKeepHistoryHours)
    Q_PROPERTY(bool UseLocalProxy READ UseLocalProxy WRITE SetUseLocalProxy)
    Q_PROPERTY(QString LocalProxyIp READ LocalProxyIp WRITE SetLocalProxyIp)
    Q_PROPERTY(QString LocalProxyUserPAss READ LocalProxyUserPAss WRITE SetLocalProxyUserPAss)
    Q_PROPERTY(TStringList *BanedProxy READ BanedProxy WRITE SetBanedProxy)
    Q_PROPERTY(TProxyFilter *ProxyFilter READ ProxyFilter WRITE SetProxyFilter)
    Q_PROPERTY(int MiniUptimeHr READ MiniUptimeHr WRITE SetMiniUptimeHr)
    Q_PROPERTY(bool Sort READ Sort WRITE SetSort)
    Q_PROPERTY(QString ActiveProxyServer READ ActiveProxyServer WRITE SetActiveProxyServer)
    Q_PROPERTY(bool GroupBoxVIPState READ GroupBoxVIPState WRITE SetGroupBoxVIPState)
    Q_PROPERTY(bool GroupBoxFreeState READ GroupBoxFreeState WRITE SetGroupBoxFreeState)
    Q_PROPERTY(bool GroupBoxSettingsState READ GroupBoxSettingsState WRITE SetGroupBoxSettingsState)
public:
    /// The defaults, the language chosen from SystemLanguage().
    Q_INVOKABLE explicit TProgramConfig(QObject *AOwner = nullptr);
    /// The same with the system language given (no source consulted).
    TProgramConfig(QObject *AOwner, QLocale::Language SystemLanguage);
    /// Frees ProxyFilter, BanedProxy, ProxyListUser and ProxyList, in this order.
    ~TProgramConfig() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value) { FEnabled = Value; }
    TProxyCollection *ProxyList() const { return FProxyList.get(); }
    /// Copies Value's contents into the owned object; the object itself is never replaced.
    void SetProxyList(const TProxyCollection *Value);
    TProxyCollection *ProxyListUser() const { return FProxyListUser.get(); }
    /// Copies Value's contents into the owned object; the object itself is never replaced.
    void SetProxyListUser(const TProxyCollection *Value);
    QString Language() const { return FLanguage; }
    void SetLanguage(const QString &Value) { FLanguage = Value; }
    QString Browser() const { return FBrowser; }
    void SetBrowser(const QString &Value) { FBrowser = Value; }
    QString Country() const { return FCountry; }
    void SetCountry(const QString &Value) { FCountry = Value; }
    QString Port() const { return FPort; }
    void SetPort(const QString &Value) { FPort = Value; }
    QString ProxyType() const { return FProxyType; }
    void SetProxyType(const QString &Value) { FProxyType = Value; }
    QString SupportSSL() const { return FSupportSSL; }
    void SetSupportSSL(const QString &Value) { FSupportSSL = Value; }
    QString SupportCONNECT() const { return FSupportCONNECT; }
    void SetSupportCONNECT(const QString &Value) { FSupportCONNECT = Value; }
    QString SupportPostGet() const { return FSupportPostGet; }
    void SetSupportPostGet(const QString &Value) { FSupportPostGet = Value; }
    int MiniSpeed() const { return FMiniSpeed; }
    void SetMiniSpeed(int Value) { FMiniSpeed = Value; }
    int MaxPing() const { return FMaxPing; }
    void SetMaxPing(int Value) { FMaxPing = Value; }
    int MiniUptime() const { return FMiniUptime; }
    void SetMiniUptime(int Value) { FMiniUptime = Value; }
    int TimeInteval() const { return FTimeInteval; }
    void SetTimeInteval(int Value) { FTimeInteval = Value; }
    bool UseListService() const { return FUseListService; }
    void SetUseListService(bool Value) { FUseListService = Value; }
    QString CustomURL() const { return FCustomURL; }
    void SetCustomURL(const QString &Value) { FCustomURL = Value; }
    bool AutoDownloadProxy() const { return FAutoDownloadProxy; }
    void SetAutoDownloadProxy(bool Value) { FAutoDownloadProxy = Value; }
    int AutoDownloadInterval() const { return FAutoDownloadInterval; }
    void SetAutoDownloadInterval(int Value) { FAutoDownloadInterval = Value; }
    bool AutoChangeProxy() const { return FAutoChangeProxy; }
    void SetAutoChangeProxy(bool Value) { FAutoChangeProxy = Value; }
    int AutoChangeInterval() const { return FAutoChangeIntavel; }
    void SetAutoChangeInterval(int Value) { FAutoChangeIntavel = Value; }
    bool RemoveProxyOnSwitch() const { return FRemoveProxyOnSwitch; }
    void SetRemoveProxyOnSwitch(bool Value) { FRemoveProxyOnSwitch = Value; }
    TProxyCollection::TSortType SortOption() const { return FSortOption; }
    void SetSortOption(TProxyCollection::TSortType Value) { FSortOption = Value; }
    bool KeepHistory() const { return FKeepHistory; }
    void SetKeepHistory(bool Value) { FKeepHistory = Value; }
    int KeepHistoryHours() const { return FKeepHistoryHours; }
    void SetKeepHistoryHours(int Value) { FKeepHistoryHours = Value; }
    bool UseLocalProxy() const { return FUseLocalProxy; }
    void SetUseLocalProxy(bool Value) { FUseLocalProxy = Value; }
    QString LocalProxyIp() const { return FLocalProxyIp; }
    void SetLocalProxyIp(const QString &Value) { FLocalProxyIp = Value; }
    QString LocalProxyUserPAss() const { return FLocalProxyUserPAss; }
    void SetLocalProxyUserPAss(const QString &Value) { FLocalProxyUserPAss = Value; }
    TStringList *BanedProxy() const { return FBanedProxy.get(); }
    /// Copies Value's contents into the owned object; the object itself is never replaced.
    void SetBanedProxy(const TStringList *Value);
    TProxyFilter *ProxyFilter() const { return FProxyFilter.get(); }
    /// Copies Value's contents into the owned object; the object itself is never replaced.
    void SetProxyFilter(const TProxyFilter *Value);
    int MiniUptimeHr() const { return FMiniUptimeHr; }
    void SetMiniUptimeHr(int Value) { FMiniUptimeHr = Value; }
    bool Sort() const { return FSort; }
    void SetSort(bool Value) { FSort = Value; }
    QString ActiveProxyServer() const { return FActiveProxyServer; }
    void SetActiveProxyServer(const QString &Value) { FActiveProxyServer = Value; }
    bool GroupBoxVIPState() const { return FGroupBoxVIPState; }
    void SetGroupBoxVIPState(bool Value) { FGroupBoxVIPState = Value; }
    bool GroupBoxFreeState() const { return FGroupBoxFreeState; }
    void SetGroupBoxFreeState(bool Value) { FGroupBoxFreeState = Value; }
    bool GroupBoxSettingsState() const { return FGroupBoxSettingsState; }
    void SetGroupBoxSettingsState(bool Value) { FGroupBoxSettingsState = Value; }

private:
    void CreateDefaults(QLocale::Language SystemLanguage);

    bool FEnabled = true;
    std::unique_ptr<TProxyCollection> FProxyList;
    std::unique_ptr<TProxyCollection> FProxyListUser;
    QString FLanguage;
    QString FBrowser;
    QString FCountry;
    QString FPort;
    QString FProxyType;
    QString FSupportSSL;
    QString FSupportCONNECT;
    QString FSupportPostGet;
    int FMiniSpeed = 0;
    int FMaxPing = 0;
    int FMiniUptime = 0;
    int FTimeInteval = 0;
    bool FUseListService = false;
    QString FCustomURL;
    bool FAutoDownloadProxy = false;
    int FAutoDownloadInterval = 0;
    bool FAutoChangeProxy = false;
    int FAutoChangeIntavel = 0;
    bool FRemoveProxyOnSwitch = false;
    TProxyCollection::TSortType FSortOption = TProxyCollection::stCountry;
    bool FKeepHistory = false;
    int FKeepHistoryHours = 0;
    bool FUseLocalProxy = false;
    QString FLocalProxyIp;
    QString FLocalProxyUserPAss;
    std::unique_ptr<TStringList> FBanedProxy;
    std::unique_ptr<TProxyFilter> FProxyFilter;
    int FMiniUptimeHr = 0;
    bool FSort = false;
    QString FActiveProxyServer;
    bool FGroupBoxVIPState = false;
    bool FGroupBoxFreeState = false;
    bool FGroupBoxSettingsState = false;
};
