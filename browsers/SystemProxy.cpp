#include "browsers/SystemProxy.h"

#include <QStringList>

namespace {

/// No desktop settings to write: every change fails, so the browser preparation warns the user.
class TNoSystemProxy : public TSystemProxyBackend {
public:
    QString Name() const override { return QStringLiteral("none"); }
    bool Read(QString &ProxyServer, bool &ProxyState) override {
        ProxyServer.clear();
        ProxyState = false;
        return false;
    }
    bool Enable(const QString &) override { return false; }
    void Disable() override {}
    QString Location() const override { return QStringLiteral("no desktop proxy settings found"); }
};

/// A system without a desktop session (a server, a bare X session): no settings exist that could
/// point anywhere, so pointing succeeds without writing anything and there is nothing to give back.
/// Browsers are then set to the relay by hand; failing would stop start-up on every such machine.
class TNoDesktopSession : public TNoSystemProxy {
public:
    QString Name() const override { return QStringLiteral("no-desktop"); }
    bool Enable(const QString &) override { return true; }
    QString Location() const override { return QStringLiteral("no desktop session"); }
};

} // namespace

namespace systemproxy {

void SplitHostPort(const QString &ProxyServer, QString &Host, int &Port) {
    const QString s = ProxyServer.trimmed();
    Host = s;
    Port = 0;
    const qsizetype colon = s.lastIndexOf(u':');
    if (colon < 0)
        return;
    bool ok = false;
    const int port = s.mid(colon + 1).toInt(&ok);
    Host = s.left(colon);
    if (ok && port > 0 && port <= 65535)
        Port = port;
}

QString JoinHostPort(const QString &Host, int Port) {
    if (Host.isEmpty())
        return QString();
    return Port > 0 ? Host + u':' + QString::number(Port) : Host;
}

std::unique_ptr<TSystemProxyBackend> CreateNoneBackend() {
    return std::make_unique<TNoSystemProxy>();
}

std::unique_ptr<TSystemProxyBackend> CreateDesktopBackend() {
    const QString forced = qEnvironmentVariable("RELAYVANE_SYSTEM_PROXY").trimmed().toLower();
    if (forced == QLatin1String("none"))
        return CreateNoneBackend();
    if (forced == QLatin1String("kde"))
        return CreateKdeBackend();
    if (forced == QLatin1String("gnome")) {
        auto gnome = CreateGnomeBackend();
        return gnome ? std::move(gnome) : CreateNoneBackend();
    }
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    for (const QString &d : desktops)
        if (d.compare(QLatin1String("KDE"), Qt::CaseInsensitive) == 0)
            return CreateKdeBackend();
    // No desktop named, no session bus, no settings backend chosen by hand: dconf could not store
    // what we write, and there is no desktop whose settings matter.
    if (desktops.isEmpty() && qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        qEnvironmentVariableIsEmpty("GSETTINGS_BACKEND"))
        return std::make_unique<TNoDesktopSession>();
    // GNOME and the desktops that share its settings (Cinnamon, Unity, Budgie, Pantheon, Xfce...).
    auto gnome = CreateGnomeBackend();
    return gnome ? std::move(gnome) : CreateNoneBackend();
}

} // namespace systemproxy
