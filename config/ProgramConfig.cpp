#include "config/ProgramConfig.h"

namespace {

TSystemLanguageSource &LanguageSource() {
    static TSystemLanguageSource source;
    return source;
}

} // namespace

QString LanguageForSystemLanguage(QLocale::Language Language) {
    // Primary language identifiers 7, 10, 12, 25 and 34 of the Windows program.
    switch (Language) {
    case QLocale::German:
        return QStringLiteral("deutsch");
    case QLocale::Spanish:
        return QStringLiteral("español");
    case QLocale::French:
        return QStringLiteral("française");
    case QLocale::Russian:
        return QStringLiteral("русский");
    case QLocale::Ukrainian:
        return QStringLiteral("український");
    default:
        return QStringLiteral("english");
    }
}

void SetSystemLanguageSource(TSystemLanguageSource Source) {
    LanguageSource() = std::move(Source);
}

QLocale::Language SystemLanguage() {
    if (const auto &source = LanguageSource())
        return source();
    return QLocale::system().language();
}

TProgramConfig::TProgramConfig(QObject *AOwner) : TSaveLoadComponent(AOwner) {
    CreateDefaults(SystemLanguage());
}

TProgramConfig::TProgramConfig(QObject *AOwner, QLocale::Language SystemLanguage) : TSaveLoadComponent(AOwner) {
    CreateDefaults(SystemLanguage);
}

void TProgramConfig::CreateDefaults(QLocale::Language SystemLanguage) {
    // In the order the defaults were always set. The owned objects are children of the configuration (so they
    // follow it between threads) and are held by unique_ptr so the destructor frees them in its order.
    FProxyList = std::make_unique<TProxyCollection>(this);
    FProxyList->SetNoDuplicates(true);
    FProxyListUser = std::make_unique<TProxyCollection>(this);
    FProxyListUser->SetNoDuplicates(true);
    FUseListService = true;
    FProxyType = QStringLiteral("anonymous or elite");
    FCustomURL = QStringLiteral("http://");
    FMiniUptime = 70;
    FMiniSpeed = 10;
    FTimeInteval = 15;
    FMaxPing = 15;
    FEnabled = true;
    FAutoDownloadInterval = 10;
    FAutoChangeIntavel = 5;
    FKeepHistoryHours = 24;
    FSortOption = TProxyCollection::stRating;
    FBanedProxy = std::make_unique<TStringList>(this);
    FLanguage = QStringLiteral("english");
    FBrowser = QStringLiteral("all browsers");
    FGroupBoxVIPState = true;
    FGroupBoxFreeState = false;
    FGroupBoxSettingsState = false;
    FProxyFilter = std::make_unique<TProxyFilter>(this);
    FLanguage = LanguageForSystemLanguage(SystemLanguage);
}

TProgramConfig::~TProgramConfig() {
    FProxyFilter.reset();
    FBanedProxy.reset();
    FProxyListUser.reset();
    FProxyList.reset();
}

void TProgramConfig::SetProxyList(const TProxyCollection *Value) {
    if (!Value)
        throw EAssignError(QStringLiteral("Cannot assign a nil to a TProxyCollection"));
    if (Value != FProxyList.get())
        FProxyList->Assign(*Value);
}

void TProgramConfig::SetProxyListUser(const TProxyCollection *Value) {
    if (!Value)
        throw EAssignError(QStringLiteral("Cannot assign a nil to a TProxyCollection"));
    if (Value != FProxyListUser.get())
        FProxyListUser->Assign(*Value);
}

void TProgramConfig::SetBanedProxy(const TStringList *Value) {
    if (!Value)
        throw EAssignError(QStringLiteral("Cannot assign a nil to a TStringList"));
    FBanedProxy->Assign(*Value);
}

void TProgramConfig::SetProxyFilter(const TProxyFilter *Value) {
    if (!Value)
        throw EAssignError(QStringLiteral("Cannot assign a nil to a TProxyFilter"));
    if (Value != FProxyFilter.get())
        FProxyFilter->Assign(Value);
}
