#pragma once
// GNOME's proxy settings (org.gnome.system.proxy) through GIO's GSettings. GIO stays inside the
// .cpp file: its headers and Qt's keyword macros do not mix.

#include "browsers/SystemProxy.h"

/// org.gnome.system.proxy: "mode", the http and https children's "host" and "port", "ignore-hosts".
class TGnomeProxySettings : public TSystemProxyBackend {
public:
    /// True when the schema and its http and https children are installed.
    static bool SchemaInstalled();

    QString Name() const override { return QStringLiteral("gnome"); }
    bool Read(QString &ProxyServer, bool &ProxyState) override;
    bool Enable(const QString &ProxyServer) override;
    void Disable() override;
    QString Location() const override;
};
