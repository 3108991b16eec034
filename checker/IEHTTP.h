#pragma once
// TIEHTTP: the small WinInet-style HTTP client of the HTTPS test, on libcurl. One GET per call; a
// background thread does the transfer while the calling thread watches an inactivity time-out
// that every received block moves forward, then the body becomes text lines.

#include "platform/SysUtils.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

/// Readable name of a WinInet error code, "(Unknown WININET error # N)" for a code without one.
QString WinInetErrorName(int Code);
/// Inflates a body that starts exactly with 1F 8B 08 00 00 00 00 00; any other body is returned as is.
/// A damaged stream yields what could be inflated before the damage.
QByteArray IEHTTPDecodeBody(const QByteArray &Body);
/// Decodes a body by the charset named in the raw response headers ("charset=utf-8", exact case:
/// UTF-8; "charset=utf-16": UTF-16 little-endian; otherwise the single-byte ANSI page, Latin-1).
QString IEHTTPBodyText(const QByteArray &Body, const QString &RawHeaders);
/// Splits text into lines at CR, LF or CR LF; a final line break adds no empty line.
QStringList SplitTextLines(const QString &Text);

/// WinInet-style HTTP client component: one request at a time; the client may be destroyed while a
/// timed-out transfer still runs in the background, since that transfer only holds shared state.
class TIEHTTP : public QObject {
    Q_OBJECT
public:
    explicit TIEHTTP(QObject *AOwner = nullptr);
    ~TIEHTTP() override;

    /// Sets FUrl ("http://" is put in front of a URL without "://") and runs the request. Raises on
    /// failure; otherwise the text is in sl().
    void ExecuteURL(const QString &url);
    /// Asks a running request to stop; ExecuteURL then returns with error_code 101. Thread-safe.
    void StopRequest();

    const QStringList &sl() const { return result_sl; }

    QString FUrl;
    QString FRequestMethod = QStringLiteral("GET");
    QString http_agent_string = QStringLiteral("tiehttp");
    QStringList request_headers{QStringLiteral("Accept-Encoding: gzip, deflate")};
    /// Inactivity time-out, seconds; 0 or less: none.
    int fTimeout = 90;
    bool fBlockingMode = true;
    /// How often the calling thread looks at the deadline, ms (tests make it short).
    int fWatchIntervalMs = 500;
    /// The proxy to go through ("host:port"); empty: a direct connection. HTTPS goes through a CONNECT tunnel.
    QString proxy;
    /// Shared stop flag of an owner that may end the request from another thread (for instance a
    /// check worker being stopped); set means the same as StopRequest.
    std::shared_ptr<std::atomic<bool>> abort_signal;

    QStringList response_headers;
    QByteArray result_ms;
    QStringList result_sl;
    int error = 0;
    QString error_msg;
    int error_code = 0;

private:
    std::atomic<bool> FStopRequested{false};
};
