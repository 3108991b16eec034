#pragma once
// KDE's proxy settings: group [Proxy Settings] of kioslaverc in the user's configuration folder.

#include "browsers/SystemProxy.h"

/// kioslaverc: "ProxyType" (0 none, 1 manual), "httpProxy" and "httpsProxy" ("http://host port"),
/// "NoProxyFor".
class TKdeProxySettings : public TSystemProxyBackend {
public:
    /// $XDG_CONFIG_HOME/kioslaverc (~/.config when the variable is unset).
    static QString FilePath();

    QString Name() const override { return QStringLiteral("kde"); }
    bool Read(QString &ProxyServer, bool &ProxyState) override;
    bool Enable(const QString &ProxyServer) override;
    void Disable() override;
    QString Location() const override { return FilePath(); }

    /// "http://host port", "http://host:port" or "host:port" → "host:port".
    static QString ParseKdeProxy(const QString &Value);
};
