#include "browsers/KdeProxySettings.h"

#include "platform/IniText.h"
#include "browsers/SettingsFile.h"

namespace {

const QString kGroup = QStringLiteral("Proxy Settings");

bool ReadText(QString &Text) {
    QByteArray bytes;
    if (!settingsfile::ReadBytes(TKdeProxySettings::FilePath(), bytes))
        return false;
    Text = settingsfile::DecodeUtf8(bytes);
    return true;
}

} // namespace

QString TKdeProxySettings::FilePath() {
    return settingsfile::ConfigHome() + QStringLiteral("/kioslaverc");
}

QString TKdeProxySettings::ParseKdeProxy(const QString &Value) {
    QString v = Value.trimmed();
    const qsizetype scheme = v.indexOf(QStringLiteral("://"));
    if (scheme >= 0)
        v = v.mid(scheme + 3);
    // KDE writes "host port"; older files and hand edits use "host:port".
    const qsizetype blank = v.lastIndexOf(u' ');
    if (blank > 0)
        v = v.left(blank).trimmed() + u':' + v.mid(blank + 1).trimmed();
    while (v.endsWith(u'/'))
        v.chop(1);
    return v;
}

bool TKdeProxySettings::Read(QString &ProxyServer, bool &ProxyState) {
    ProxyServer.clear();
    ProxyState = false;
    QString text;
    if (!ReadText(text))
        return true; // no file yet: KDE's defaults, no proxy
    QString value;
    if (initext::ReadValue(text, kGroup, QStringLiteral("httpProxy"), value))
        ProxyServer = ParseKdeProxy(value);
    if (initext::ReadValue(text, kGroup, QStringLiteral("ProxyType"), value))
        ProxyState = value.trimmed() == QLatin1String("1");
    return true;
}

bool TKdeProxySettings::Enable(const QString &ProxyServer) {
    QString text;
    ReadText(text);
    QString host;
    int port = 0;
    systemproxy::SplitHostPort(ProxyServer, host, port);
    const QString value = host.isEmpty()
                              ? QString()
                              : QStringLiteral("http://") + host + (port ? QStringLiteral(" %1").arg(port) : QString());
    text = initext::WriteValue(text, kGroup, QStringLiteral("httpProxy"), value);
    text = initext::WriteValue(text, kGroup, QStringLiteral("httpsProxy"), value);
    text = initext::WriteValue(text, kGroup, QStringLiteral("NoProxyFor"), QStringLiteral("local"));
    text = initext::WriteValue(text, kGroup, QStringLiteral("ProxyType"), QStringLiteral("1"));
    if (!settingsfile::WriteAtomically(FilePath(), text.toUtf8()))
        return false;
    QString server;
    bool state = false;
    return Read(server, state) && state && server == systemproxy::JoinHostPort(host, port);
}

void TKdeProxySettings::Disable() {
    QString text;
    ReadText(text);
    settingsfile::WriteAtomically(
        FilePath(), initext::WriteValue(text, kGroup, QStringLiteral("ProxyType"), QStringLiteral("0")).toUtf8());
}

std::unique_ptr<TSystemProxyBackend> systemproxy::CreateKdeBackend() {
    return std::make_unique<TKdeProxySettings>();
}
