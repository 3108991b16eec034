#include "sourcing/ProxyListDownload.h"

#include "config/ComponentStream.h"
#include "config/ProgramConfig.h"
#include "platform/ServiceEndpoints.h"
#include "sourcing/LanguageWord.h"

QString ThreeWayMapping(const QString &Value) {
    if (Value == QLatin1String("yes"))
        return QStringLiteral("2");
    if (Value == QLatin1String("no"))
        return QStringLiteral("1");
    return QStringLiteral("any");
}

QString ProxyTypeMapping(const QString &ProxyType) {
    if (ProxyType == QLatin1String("anonymous or elite"))
        return QStringLiteral("23");
    if (ProxyType == QLatin1String("elite"))
        return QStringLiteral("3");
    if (ProxyType == QLatin1String("transparent"))
        return QStringLiteral("1");
    if (ProxyType == QLatin1String("anonymous"))
        return QStringLiteral("2");
    return QStringLiteral("any");
}

TMultiPartFormData ListServiceForm(const TProgramConfig &Config) {
    TMultiPartFormData form;
    form.AddFormField(QStringLiteral("lang"), TranslateLangugae(Config.Language()));
    form.AddFormField(QStringLiteral("cc"), Config.Country().toLower());
    form.AddFormField(QStringLiteral("ssl"), ThreeWayMapping(Config.SupportSSL()));
    form.AddFormField(QStringLiteral("speed"), QString::number(Config.MiniSpeed()));
    form.AddFormField(QStringLiteral("port"), Config.Port().toLower());
    form.AddFormField(QStringLiteral("ping"), QString::number(Config.MaxPing()));
    form.AddFormField(QStringLiteral("type"), ProxyTypeMapping(Config.ProxyType()));
    form.AddFormField(QStringLiteral("post"), ThreeWayMapping(Config.SupportPostGet()));
    form.AddFormField(QStringLiteral("uptime"), QString::number(Config.MiniUptime()));
    form.AddFormField(QStringLiteral("uptimeinhours"), QString::number(Config.MiniUptimeHr()));
    form.AddFormField(QStringLiteral("interval"), QString::number(Config.TimeInteval()));
    return form;
}

QString ProxyListServiceUrl(const QString &BaseUrl) {
    return BaseUrl + QStringLiteral("/engine/index2.php?proxylist=");
}

void DownloadProxyList(TProgramConfig &Config, const TProxtData *ActiveProxy, const TListDownloadOptions &Options) {
    try {
        // Straight to the network: no proxy, neither the relay nor the active proxy.
        THttpClient http;
        http.SetCompressor(true);
        http.SetHandleRedirects(true);
        if (Options.OnWork)
            http.SetOnWork(Options.OnWork);
        if (Config.UseListService()) {
            const QString base = Options.BaseUrl.isEmpty() ? ServiceBaseUrl() : Options.BaseUrl;
            const QByteArray reply = http.Post(ProxyListServiceUrl(base), ListServiceForm(Config));
            // Inflated whole before the parse, so damaged data never touches the list.
            QByteArray text;
            try {
                text = ZDecompress(reply, qsizetype(256) << 20);
            } catch (const Exception &e) {
                throw EProxyListDownloadError(
                    QStringLiteral("The list service's reply is not a valid zlib stream (%1)").arg(e.Message()));
            }
            Config.ProxyList()->ParseTextVIP(text, ActiveProxy);
        } else {
            const QByteArray page = http.Get(Config.CustomURL());
            Config.ProxyList()->ParseText(page, ActiveProxy);
        }
    } catch (const EProxyListDownloadError &) {
        throw;
    } catch (const Exception &e) {
        throw EProxyListDownloadError(e.Message());
    } catch (const std::bad_alloc &) {
        throw EProxyListDownloadError(QStringLiteral("Out of memory while reading the proxy list"));
    }
}
