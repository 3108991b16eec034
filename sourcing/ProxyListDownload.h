#pragma once
// The proxy list download: a POST of the filter form to the list service (zlib reply in the
// service format) or a GET of the user's own URL (free list text), parsed into ProxyList with the
// active proxy kept. The controller's LoadProxyClick runs it on the main thread; so does the CLI.

#include "platform/HttpClient.h"
#include "platform/SysUtils.h"

#include <QString>

class TProgramConfig;
class TProxtData;

/// The download failed: no connection, an HTTP error status, damaged compressed data or a list
/// text the parser refused. ProxyList is then as it was before the download.
class EProxyListDownloadError : public Exception {
public:
    using Exception::Exception;
};

/// "yes" -> "2", "no" -> "1", anything else -> "any" (exact, case-sensitive): the "ssl" and "post" fields.
QString ThreeWayMapping(const QString &Value);
/// "anonymous or elite" -> "23", "elite" -> "3", "transparent" -> "1", "anonymous" -> "2", else "any".
QString ProxyTypeMapping(const QString &ProxyType);
/// The eleven fields of the list service request, in the order they are sent.
TMultiPartFormData ListServiceForm(const TProgramConfig &Config);
/// BaseUrl + "/engine/index2.php?proxylist=".
QString ProxyListServiceUrl(const QString &BaseUrl);

/// How a download runs besides the configuration.
struct TListDownloadOptions {
    /// The list service's base; empty: ServiceBaseUrl().
    QString BaseUrl;
    /// Progress of the reply body (bytes so far, announced total or 0); false aborts.
    THttpClient::TWorkEvent OnWork;
};

/// Replaces Config's ProxyList with a fresh list from the source UseListService chooses, keeping
/// ActiveProxy (which may be a record of that list) as the first record. An error reply of the
/// list service goes to the list's warning sink and leaves only the active proxy. Every failure
/// raises EProxyListDownloadError with the reason, and the list is then unchanged.
void DownloadProxyList(TProgramConfig &Config, const TProxtData *ActiveProxy,
                       const TListDownloadOptions &Options = TListDownloadOptions());
