#pragma once
// The desktop's own proxy settings, which Chromium, GNOME Web and many other programs follow:
// one interface, a backend per desktop, chosen from XDG_CURRENT_DESKTOP.

#include <QString>
#include <memory>

/// The desktop's system-wide proxy settings of the current user.
class TSystemProxyBackend {
public:
    virtual ~TSystemProxyBackend() = default;
    /// Short name for messages: "gnome", "kde" or "none".
    virtual QString Name() const = 0;
    /// The HTTP proxy as "host:port" (host only when no port is set, empty when none) and whether the
    /// manual proxy is switched on. False when the settings cannot be read.
    virtual bool Read(QString &ProxyServer, bool &ProxyState) = 0;
    /// Switches the manual proxy on with ProxyServer ("host:port") for HTTP and HTTPS and the bypass
    /// list "local". True only when the settings read back as written.
    virtual bool Enable(const QString &ProxyServer) = 0;
    /// Switches the proxy off; the server entries stay.
    virtual void Disable() = 0;
    /// Where the settings live, for status output.
    virtual QString Location() const = 0;
};

namespace systemproxy {

/// Splits "host:port" at its last colon; a missing or unreadable port gives 0.
void SplitHostPort(const QString &ProxyServer, QString &Host, int &Port);
/// "host:port", "host" when Port is 0, empty when Host is empty.
QString JoinHostPort(const QString &Host, int Port);

/// The backend of this session's desktop: KDE's kioslaverc on KDE; GNOME's GSettings elsewhere
/// when the org.gnome.system.proxy schema is installed; otherwise one that always fails, so the
/// user is warned rather than left believing the browsers were set up.
/// RELAYVANE_SYSTEM_PROXY=gnome|kde|none overrides the choice.
std::unique_ptr<TSystemProxyBackend> CreateDesktopBackend();

std::unique_ptr<TSystemProxyBackend> CreateNoneBackend();
std::unique_ptr<TSystemProxyBackend> CreateKdeBackend();
/// nullptr when GIO has no org.gnome.system.proxy schema.
std::unique_ptr<TSystemProxyBackend> CreateGnomeBackend();

} // namespace systemproxy
