#pragma once
// The HTTP face of relayvane-service: routes, limits, access log. The answers themselves come
// from the I/O-free units (ListService, JudgeService, UpdateService, ServicePages).

#include "platform/ServiceEndpoints.h"
#include "service/UpdateService.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>

class TServiceStore;

/// How the service runs.
struct TServiceOptions {
    QString Host = QLatin1String(ServiceEndpoints::kDefaultHost);
    int Port = ServiceEndpoints::kDefaultPort; ///< 0: any free port (see TServiceServer::Bind)
    /// Base of the links the service hands out (FAQ, home page). Empty: "http://" + the request's
    /// Host header, or the listening address when that header is missing or odd.
    QString PublicUrl;
    std::size_t MaxBodyBytes = 64 * 1024; ///< larger request bodies are refused
    int Threads = 32;                     ///< connections served at once
    int ListLimit = 1000;                 ///< most proxies in one list reply; 0: no limit
    /// Where access log lines go (one call per request, no line end); default: stderr.
    std::function<void(const QByteArray &)> AccessLog;
};

/// One request as the access log records it.
struct TAccessLogEntry {
    qint64 TimeMs = 0; ///< when the request was answered, ms since 1970 (UTC)
    QString Remote;    ///< address:port of the peer
    QString Method;
    QString Target; ///< path and query, as sent
    int Status = 0;
    qint64 Bytes = 0;       ///< reply body size
    double DurationMs = -1; ///< -1 when unknown
    QString Agent;          ///< User-Agent
};

/// One logfmt line: time=... remote=... method=... target="..." status=... bytes=... ms=... agent="..."
QByteArray AccessLogLine(const TAccessLogEntry &Entry);

/// Keys of the operator's update announcement in the store's settings.
namespace ServiceSettings {
inline constexpr const char *kUpdateVersion = "update.version";
inline constexpr const char *kUpdateMessage = "update.message";
inline constexpr const char *kUpdateLink = "update.link";
/// The stored announcement, or the defaults (3.1.3) when none was set.
TUpdateInfo LoadUpdateInfo(const TServiceStore &Store);
void SaveUpdateInfo(TServiceStore &Store, const TUpdateInfo &Info);
} // namespace ServiceSettings

/// The HTTP server. Bind, then Run (blocks) on one thread and Stop from any other.
class TServiceServer {
public:
    TServiceServer(TServiceStore &Store, TServiceOptions Options);
    ~TServiceServer();
    TServiceServer(const TServiceServer &) = delete;
    TServiceServer &operator=(const TServiceServer &) = delete;

    /// Binds the listening socket; returns the port (the chosen one when Options.Port is 0).
    /// Raises Exception when the address cannot be bound.
    int Bind();
    /// Serves until Stop; false when serving failed.
    bool Run();
    /// Makes Run return; safe from any thread, also before Run has started.
    void Stop();
    bool IsRunning() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
