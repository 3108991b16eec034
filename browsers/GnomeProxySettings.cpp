// GIO first: its structures use names that Qt's keyword macros (signals, slots) would rewrite.
#include <gio/gio.h>

#include "browsers/GnomeProxySettings.h"

#include <QStringList>
#include <memory>

namespace {

constexpr const char *kProxySchema = "org.gnome.system.proxy";
constexpr const char *kHttpSchema = "org.gnome.system.proxy.http";
constexpr const char *kHttpsSchema = "org.gnome.system.proxy.https";

struct TUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using TSettings = std::unique_ptr<GSettings, TUnref>;

TSettings Open(const char *Schema) {
    return TSettings(g_settings_new(Schema));
}

QString GetString(GSettings *S, const char *Key) {
    gchar *v = g_settings_get_string(S, Key);
    const QString r = QString::fromUtf8(v);
    g_free(v);
    return r;
}

QStringList GetStrv(GSettings *S, const char *Key) {
    gchar **v = g_settings_get_strv(S, Key);
    QStringList r;
    for (gchar **p = v; p && *p; ++p)
        r << QString::fromUtf8(*p);
    g_strfreev(v);
    return r;
}

struct TSnapshot {
    QString Mode, HttpHost, HttpsHost;
    int HttpPort = 0, HttpsPort = 0;
    QStringList IgnoreHosts;
};

TSnapshot Take() {
    // Fresh objects each time: a read-back must not be answered from an object's own cache.
    TSnapshot s;
    const TSettings proxy = Open(kProxySchema), http = Open(kHttpSchema), https = Open(kHttpsSchema);
    s.Mode = GetString(proxy.get(), "mode");
    s.IgnoreHosts = GetStrv(proxy.get(), "ignore-hosts");
    s.HttpHost = GetString(http.get(), "host");
    s.HttpPort = g_settings_get_int(http.get(), "port");
    s.HttpsHost = GetString(https.get(), "host");
    s.HttpsPort = g_settings_get_int(https.get(), "port");
    return s;
}

} // namespace

bool TGnomeProxySettings::SchemaInstalled() {
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    if (!source)
        return false;
    for (const char *name : {kProxySchema, kHttpSchema, kHttpsSchema}) {
        GSettingsSchema *schema = g_settings_schema_source_lookup(source, name, TRUE);
        if (!schema)
            return false;
        g_settings_schema_unref(schema);
    }
    return true;
}

QString TGnomeProxySettings::Location() const {
    const char *backend = g_getenv("GSETTINGS_BACKEND");
    return QStringLiteral("GSettings %1 (%2 backend)")
        .arg(QLatin1String(kProxySchema), backend ? QString::fromUtf8(backend) : QStringLiteral("default"));
}

bool TGnomeProxySettings::Read(QString &ProxyServer, bool &ProxyState) {
    ProxyServer.clear();
    ProxyState = false;
    const TSnapshot s = Take();
    ProxyServer = systemproxy::JoinHostPort(s.HttpHost, s.HttpPort);
    ProxyState = s.Mode == QLatin1String("manual");
    return true;
}

bool TGnomeProxySettings::Enable(const QString &ProxyServer) {
    QString host;
    int port = 0;
    systemproxy::SplitHostPort(ProxyServer, host, port);
    const QByteArray host8 = host.toUtf8();
    {
        const TSettings proxy = Open(kProxySchema), http = Open(kHttpSchema), https = Open(kHttpsSchema);
        const gchar *ignore[] = {"local", nullptr};
        bool ok = g_settings_set_string(http.get(), "host", host8.constData());
        ok = g_settings_set_int(http.get(), "port", port) && ok;
        ok = g_settings_set_string(https.get(), "host", host8.constData()) && ok;
        ok = g_settings_set_int(https.get(), "port", port) && ok;
        ok = g_settings_set_strv(proxy.get(), "ignore-hosts", ignore) && ok;
        // The mode last, so programs that follow the settings never see "manual" with a stale server.
        ok = g_settings_set_string(proxy.get(), "mode", "manual") && ok;
        if (!ok)
            return false;
    }
    // dconf without a session bus accepts the writes and then drops them: wait for the backend,
    // then believe only what reads back.
    g_settings_sync();
    const TSnapshot s = Take();
    return s.Mode == QLatin1String("manual") && s.HttpHost == host && s.HttpPort == port && s.HttpsHost == host &&
           s.HttpsPort == port && s.IgnoreHosts == QStringList{QStringLiteral("local")};
}

void TGnomeProxySettings::Disable() {
    {
        const TSettings proxy = Open(kProxySchema);
        g_settings_set_string(proxy.get(), "mode", "none");
    }
    g_settings_sync();
}

std::unique_ptr<TSystemProxyBackend> systemproxy::CreateGnomeBackend() {
    if (!TGnomeProxySettings::SchemaInstalled())
        return nullptr;
    return std::make_unique<TGnomeProxySettings>();
}
