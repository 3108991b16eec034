#pragma once
// Where the program finds its outside services (list service, update service, judges, FAQ and home
// page) and where relayvane-service listens by default. One place for both sides, so the program's
// default base and the service's default listening address can never drift apart.

#include <QString>

namespace ServiceEndpoints {

/// The loopback address and port relayvane-service listens on when not told otherwise.
inline constexpr const char *kDefaultHost = "127.0.0.1";
inline constexpr int kDefaultPort = 8731;

/// "http://127.0.0.1:8731": the base the program uses when RELAYVANE_SERVICE is not set.
QString DefaultServiceBaseUrl();

} // namespace ServiceEndpoints

/// Base URL of the list service, update service and site: $RELAYVANE_SERVICE when set and not
/// empty (a trailing "/" dropped), otherwise the default loopback base. Never ends in "/".
QString ServiceBaseUrl();
/// Base URL of the separate judge host: $RELAYVANE_JUDGE when set and not empty, otherwise the
/// service base. Never ends in "/".
QString JudgeBaseUrl();
/// The FAQ page: service base + "/faq.php".
QString FaqUrl();
/// The home page: service base + "/".
QString HomeUrl();
