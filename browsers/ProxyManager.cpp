#include "browsers/ProxyManager.h"

#include "platform/IniText.h"
#include "browsers/ProcessInfoLite.h"
#include "browsers/SettingsFile.h"
#include "platform/SysUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QStringConverter>

namespace {

const QString kPrefHttp = QStringLiteral("network.proxy.http");
const QString kPrefHttpPort = QStringLiteral("network.proxy.http_port");
const QString kPrefSsl = QStringLiteral("network.proxy.ssl");
const QString kPrefSslPort = QStringLiteral("network.proxy.ssl_port");
const QString kPrefSocks = QStringLiteral("network.proxy.socks");
const QString kPrefSocksPort = QStringLiteral("network.proxy.socks_port");
const QString kPrefType = QStringLiteral("network.proxy.type");

const QString kOperaSection = QStringLiteral("Proxy");

/// Firefox's settings text with the encoding it came in, so untouched lines go back byte for byte.
struct TPrefsFile {
    QString Path;
    QString Text;
    bool Utf8 = true;
};

bool LoadFirefox(TPrefsFile &F) {
    F.Path = TProxyManager::FirefoxPrefsFile();
    return !F.Path.isEmpty() && TProxyManager::ReadPrefsText(F.Path, F.Text, &F.Utf8);
}

bool SaveFirefox(const TPrefsFile &F) {
    return settingsfile::WriteAtomically(F.Path, F.Utf8 ? F.Text.toUtf8() : F.Text.toLatin1());
}

bool LoadOpera(QString &Text) {
    QByteArray bytes;
    if (!settingsfile::ReadBytes(TProxyManager::OperaPrefsFile(), bytes))
        return false;
    Text = settingsfile::DecodeUtf8(bytes);
    return true;
}

/// An INI integer the way single keys are read as numbers: leading digits, 0 when there are none.
int IniInt(const QString &Value) {
    const QString v = Value.trimmed();
    qsizetype i = 0;
    if (i < v.size() && (v[i] == u'-' || v[i] == u'+'))
        ++i;
    while (i < v.size() && v[i].isDigit())
        ++i;
    int32_t n = 0;
    return TryStrToInt(QStringView(v).left(i), n) ? n : 0;
}

/// The profile named by an "Install…" section's Default= of the given INI file, or empty.
QString InstallDefault(const QString &Root, const QString &IniName) {
    QByteArray bytes;
    if (!settingsfile::ReadBytes(Root + u'/' + IniName, bytes))
        return QString();
    const QString text = settingsfile::DecodeUtf8(bytes);
    for (const QString &section : initext::SectionNames(text)) {
        if (!section.startsWith(QLatin1String("Install"), Qt::CaseInsensitive))
            continue;
        QString path;
        if (initext::ReadValue(text, section, QStringLiteral("Default"), path) && !path.isEmpty()) {
            // Install sections hold paths relative to the root unless they are absolute.
            const QString dir = QDir::isAbsolutePath(path) ? path : Root + u'/' + path;
            if (QFileInfo(dir).isDir())
                return QDir::cleanPath(dir);
        }
    }
    return QString();
}

/// The Default=1 profile of profiles.ini, or the only profile when there is just one.
QString MarkedDefault(const QString &Root) {
    QByteArray bytes;
    if (!settingsfile::ReadBytes(Root + QStringLiteral("/profiles.ini"), bytes))
        return QString();
    const QString text = settingsfile::DecodeUtf8(bytes);
    QStringList profiles;
    QString marked;
    for (const QString &section : initext::SectionNames(text)) {
        if (!section.startsWith(QLatin1String("Profile"), Qt::CaseInsensitive))
            continue;
        QString path, relative, isDefault;
        if (!initext::ReadValue(text, section, QStringLiteral("Path"), path) || path.isEmpty())
            continue;
        initext::ReadValue(text, section, QStringLiteral("IsRelative"), relative);
        const QString dir = relative.trimmed() == QLatin1String("0") ? path : Root + u'/' + path;
        profiles << dir;
        if (marked.isEmpty() && initext::ReadValue(text, section, QStringLiteral("Default"), isDefault) &&
            isDefault.trimmed() == QLatin1String("1"))
            marked = dir;
    }
    QString chosen = !marked.isEmpty() ? marked : (profiles.size() == 1 ? profiles.front() : QString());
    return !chosen.isEmpty() && QFileInfo(chosen).isDir() ? QDir::cleanPath(chosen) : QString();
}

} // namespace

TProxyManager::TProxyManager(std::unique_ptr<TSystemProxyBackend> SystemBackend)
    : FSystemBackend(SystemBackend ? std::move(SystemBackend) : systemproxy::CreateDesktopBackend()) {}

TProxyManager::~TProxyManager() = default;

// ---- processes ----

bool TProxyManager::ProgramIsRunning(const QString &exeName) {
    const QString wanted = exeName.toUpper();
    TProcessCollection list;
    try {
        list.UpdateProcesses();
    } catch (const Exception &) {
        return false;
    }
    for (const auto &item : list)
        if (item->ExeFile().toUpper().contains(wanted))
            return true;
    return false;
}

uint8_t TProxyManager::ProgramRunningAmount(const QString &exeName) {
    const QString wanted = exeName.toUpper();
    TProcessCollection list;
    try {
        list.UpdateProcesses();
    } catch (const Exception &) {
        return 0;
    }
    uint8_t count = 0;
    for (const auto &item : list)
        if (item->ExeFile().toUpper().contains(wanted))
            ++count; // an 8-bit counter: wraps after 255 like the caller expects
    return count;
}

// ---- system settings ----

bool TProxyManager::GetProxyIE(QString &proxyServer, bool &proxyState) {
    proxyServer.clear();
    proxyState = false;
    try {
        return FSystemBackend->Read(proxyServer, proxyState);
    } catch (...) {
        return false;
    }
}

bool TProxyManager::EnableProxyIE(const QString &proxyServer) {
    try {
        return FSystemBackend->Enable(proxyServer);
    } catch (...) {
        return false;
    }
}

void TProxyManager::DisableProxyIE() {
    try {
        FSystemBackend->Disable();
    } catch (...) {
    }
}

// ---- Opera ----

QString TProxyManager::OperaPrefsFile() {
    return settingsfile::HomeDir() + QStringLiteral("/.opera/operaprefs.ini");
}

bool TProxyManager::GetProxyOpera(QString &proxyServer, bool &proxyState) {
    proxyServer.clear();
    proxyState = false;
    QString text;
    if (!LoadOpera(text))
        return false;
    QString value;
    if (initext::ReadValue(text, kOperaSection, QStringLiteral("HTTP server"), value))
        proxyServer = value;
    if (initext::ReadValue(text, kOperaSection, QStringLiteral("Use HTTP"), value))
        proxyState = IniInt(value) == 1;
    return true;
}

bool TProxyManager::EnableProxyOpera(const QString &proxyServer) {
    QString text;
    if (!QFileInfo::exists(OperaPrefsFile()))
        return true;
    if (!LoadOpera(text))
        return false;
    text = initext::WriteValue(text, kOperaSection, QStringLiteral("Use HTTP"), QStringLiteral("1"));
    text = initext::WriteValue(text, kOperaSection, QStringLiteral("Use HTTPS"), QStringLiteral("1"));
    text = initext::WriteValue(text, kOperaSection, QStringLiteral("HTTP server"), proxyServer);
    text = initext::WriteValue(text, kOperaSection, QStringLiteral("HTTPS server"), proxyServer);
    return settingsfile::WriteAtomically(OperaPrefsFile(), text.toUtf8());
}

void TProxyManager::DisableProxyOpera() {
    QString text;
    if (!LoadOpera(text))
        return;
    text = initext::WriteValue(text, kOperaSection, QStringLiteral("Use HTTP"), QStringLiteral("0"));
    text = initext::WriteValue(text, kOperaSection, QStringLiteral("Use HTTPS"), QStringLiteral("0"));
    settingsfile::WriteAtomically(OperaPrefsFile(), text.toUtf8());
}

// ---- Firefox ----

QString TProxyManager::FirefoxProfileFolder() {
    // Firefox keeps using ~/.mozilla/firefox while it exists; new installs live under XDG_CONFIG_HOME.
    const QString roots[] = {settingsfile::HomeDir() + QStringLiteral("/.mozilla/firefox"),
                             settingsfile::ConfigHome() + QStringLiteral("/mozilla/firefox")};
    for (const QString &root : roots) {
        if (!QFileInfo::exists(root + QStringLiteral("/profiles.ini")))
            continue;
        for (const QString &found : {InstallDefault(root, QStringLiteral("profiles.ini")),
                                     InstallDefault(root, QStringLiteral("installs.ini")), MarkedDefault(root)})
            if (!found.isEmpty())
                return found;
    }
    return QString();
}

QString TProxyManager::FirefoxPrefsFile() {
    const QString profile = FirefoxProfileFolder();
    if (profile.isEmpty())
        return QString();
    const QString prefs = profile + QStringLiteral("/prefs.js");
    return QFileInfo(prefs).isFile() ? prefs : QString();
}

bool TProxyManager::ReadPrefsText(const QString &Path, QString &Text, bool *IsUtf8) {
    QByteArray bytes;
    if (!settingsfile::ReadBytes(Path, bytes))
        return false;
    // UTF-8 is Firefox's own encoding; anything else is carried through Latin-1, which maps every
    // byte to one character and back, so lines we do not edit are written back unchanged.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    QString decoded = utf8.decode(bytes);
    const bool isUtf8 = !utf8.hasError();
    if (!isUtf8)
        decoded = QString::fromLatin1(bytes);
    if (IsUtf8)
        *IsUtf8 = isUtf8;
    // Line by line, each line followed by CR LF: a last line without a break gets one too.
    Text.clear();
    Text.reserve(decoded.size() + decoded.size() / 16);
    qsizetype pos = 0;
    while (pos < decoded.size()) {
        qsizetype end = pos;
        while (end < decoded.size() && decoded[end] != u'\n' && decoded[end] != u'\r')
            ++end;
        Text += QStringView(decoded).mid(pos, end - pos);
        Text += QStringLiteral("\r\n");
        if (end < decoded.size() && decoded[end] == u'\r' && end + 1 < decoded.size() && decoded[end + 1] == u'\n')
            ++end;
        pos = end + 1;
    }
    return true;
}

namespace {

// The value of a pref whose name ends at At: between the next "," and the ")" after it.
bool PrefValueSpan(const QString &Text, qsizetype At, qsizetype &Comma, qsizetype &Paren) {
    Comma = Text.indexOf(u',', At);
    if (Comma < 0)
        return false;
    Paren = Text.indexOf(u')', Comma + 1);
    return Paren >= 0;
}

} // namespace

bool TProxyManager::ReadPrefValue(const QString &Text, const QString &Name, QString &Value) {
    const qsizetype at = Text.indexOf(Name + u'"');
    qsizetype comma = 0, paren = 0;
    if (at < 0 || !PrefValueSpan(Text, at + Name.size() + 1, comma, paren))
        return false;
    Value = TrimControl(QStringView(Text).mid(comma + 1, paren - comma - 1));
    Value.remove(u'"');
    return true;
}

bool TProxyManager::WritePrefValue(QString &Text, const QString &Name, const QString &Value) {
    int32_t number = 0;
    const QString rendered = TryStrToInt(Value, number) ? Value : u'"' + Value + u'"';
    const qsizetype at = Text.indexOf(Name + u'"');
    if (at < 0) {
        Text += QStringLiteral("\r\nuser_pref(\"") + Name + QStringLiteral("\", ") + rendered + QStringLiteral(");");
        return true;
    }
    qsizetype comma = 0, paren = 0;
    if (!PrefValueSpan(Text, at + Name.size() + 1, comma, paren))
        return false;
    Text = Text.left(comma + 1) + u' ' + rendered + Text.mid(paren);
    return true;
}

bool TProxyManager::GetProxyFirefox(QString &proxyServer, bool &proxyState) {
    proxyServer.clear();
    proxyState = false;
    TPrefsFile f;
    if (!LoadFirefox(f))
        return false;
    QString host, port, type;
    if (ReadPrefValue(f.Text, kPrefHttp, host) && ReadPrefValue(f.Text, kPrefHttpPort, port))
        proxyServer = host + u':' + port;
    if (ReadPrefValue(f.Text, kPrefType, type))
        proxyState = type == QLatin1String("1");
    return true;
}

bool TProxyManager::EnableProxyFirefox(const QString &proxyServer) {
    TPrefsFile f;
    if (!LoadFirefox(f))
        return true; // no profile or no prefs.js: Firefox is not in use here
    const qsizetype colon = proxyServer.indexOf(u':');
    if (colon < 0)
        return false;
    const QString host = proxyServer.left(colon), port = proxyServer.mid(colon + 1);
    if (host.isEmpty() || port.isEmpty())
        return false;
    // HTTPS goes to the relay as CONNECT through the SSL proxy: the relay speaks HTTP only, so
    // leaving it to the SOCKS entry would break every secure page.
    const std::pair<QString, QString> prefs[] = {{kPrefHttp, host},
                                                 {kPrefHttpPort, port},
                                                 {kPrefSsl, host},
                                                 {kPrefSslPort, port},
                                                 {kPrefSocks, host},
                                                 {kPrefSocksPort, port},
                                                 {kPrefType, QStringLiteral("1")}};
    for (const auto &[name, value] : prefs)
        if (!WritePrefValue(f.Text, name, value))
            return false;
    return SaveFirefox(f);
}

void TProxyManager::DisableProxyFirefox() {
    TPrefsFile f;
    if (!LoadFirefox(f))
        return;
    if (WritePrefValue(f.Text, kPrefType, QStringLiteral("0")))
        SaveFirefox(f);
}
