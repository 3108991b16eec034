#pragma once
// The HTTP client of the program, on libcurl: GET and multipart POST with the body kept in memory,
// redirects, gzip/deflate decoding, an upstream proxy, a read time-out, and HTTP error statuses
// raised as exceptions. One client belongs to one thread at a time; every thread makes its own.

#include "platform/SysUtils.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

/// What ended a request that got no HTTP answer (or an answer the client could not take).
enum class THttpErrorKind {
    hekConnectFailed, ///< no connection: refused, unreachable, name not resolved (also of the proxy)
    hekTimeout,       ///< the connect time-out or the read time-out ran out
    hekAborted,       ///< Abort() was called, from this thread or another one
    hekProtocol,      ///< the server answered with an HTTP error status (4xx, 5xx)
    hekOther          ///< anything else: bad URL, damaged encoding, TLS failure, too many redirects...
};

/// Base of the client's errors; Kind() tells them apart.
class EHttpClientError : public Exception {
public:
    EHttpClientError(THttpErrorKind Kind, const QString &Msg) : Exception(Msg), FKind(Kind) {}
    THttpErrorKind Kind() const { return FKind; }

private:
    THttpErrorKind FKind;
};

/// The request did not get an answer: connection, time-out, abort or transfer errors.
class EHttpConnectionError : public EHttpClientError {
public:
    using EHttpClientError::EHttpClientError;
};

/// The server answered with an error status; the message reads "HTTP error 404 Not Found (URL)".
class EHttpProtocolError : public EHttpClientError {
public:
    EHttpProtocolError(int ErrorCode, const QString &ReasonPhrase, const QString &Msg, QByteArray Body)
        : EHttpClientError(THttpErrorKind::hekProtocol, Msg), FErrorCode(ErrorCode), FReasonPhrase(ReasonPhrase),
          FBody(std::move(Body)) {}
    int ErrorCode() const { return FErrorCode; }
    const QString &ReasonPhrase() const { return FReasonPhrase; }
    /// The error page the server sent with the status.
    const QByteArray &Body() const { return FBody; }

private:
    int FErrorCode;
    QString FReasonPhrase;
    QByteArray FBody;
};

/// The fields of a multipart/form-data body, sent as parts in the order they were added.
class TMultiPartFormData {
public:
    struct TPart {
        QString Name;
        QByteArray Value;
    };
    /// A text field, sent as UTF-8.
    void AddFormField(const QString &Name, const QString &Value) { FParts.push_back({Name, Value.toUtf8()}); }
    const QList<TPart> &Parts() const { return FParts; }

private:
    QList<TPart> FParts;
};

/// Timings and sizes of the last transfer, as libcurl measured them.
struct THttpTransferInfo {
    double ConnectSeconds = 0;       ///< until the TCP connection (to the server or proxy) stood
    double StartTransferSeconds = 0; ///< until the first byte of the answer
    double TotalSeconds = 0;
    qint64 BytesReceived = 0; ///< body bytes as they came over the wire (before decoding)
};

/// Blocking HTTP/HTTPS client. Not shared between threads; Abort() is the one call another thread may make.
class THttpClient {
public:
    THttpClient();
    ~THttpClient();
    THttpClient(const THttpClient &) = delete;
    THttpClient &operator=(const THttpClient &) = delete;

    /// Follow 3xx answers (at most RedirectMaximum of them). Off by default.
    bool HandleRedirects() const { return FHandleRedirects; }
    void SetHandleRedirects(bool Value) { FHandleRedirects = Value; }
    int RedirectMaximum() const { return FRedirectMaximum; }
    void SetRedirectMaximum(int Value) { FRedirectMaximum = Value; }

    /// The compressor: when on, the client offers gzip and deflate and decodes what comes back.
    /// Off by default, so no Accept-Encoding is sent and the body arrives as it was sent.
    bool Compressor() const { return FCompressor; }
    void SetCompressor(bool Value) { FCompressor = Value; }

    /// An HTTP proxy for every request; an empty host means a direct connection (no proxy from
    /// the environment either).
    QString ProxyServer() const { return FProxyServer; }
    void SetProxyServer(const QString &Host) { FProxyServer = Host; }
    int ProxyPort() const { return FProxyPort; }
    void SetProxyPort(int Port) { FProxyPort = Port; }
    /// Basic proxy credentials; empty user name: none.
    void SetProxyCredentials(const QString &User, const QString &Password) {
        FProxyUser = User;
        FProxyPassword = Password;
    }

    /// Milliseconds without a received byte after which the request fails with hekTimeout; 0: none.
    int ReadTimeout() const { return FReadTimeout; }
    void SetReadTimeout(int Milliseconds) { FReadTimeout = Milliseconds; }
    /// Milliseconds to get the TCP connection; 0: libcurl's default.
    int ConnectTimeout() const { return FConnectTimeout; }
    void SetConnectTimeout(int Milliseconds) { FConnectTimeout = Milliseconds; }

    /// The User-Agent header; empty sends none.
    QString UserAgent() const { return FUserAgent; }
    void SetUserAgent(const QString &Value) { FUserAgent = Value; }
    static QString DefaultUserAgent();
    /// Sends "Connection: close" and does not keep the connection for the next request.
    bool ConnectionClose() const { return FConnectionClose; }
    void SetConnectionClose(bool Value) { FConnectionClose = Value; }
    /// Extra request headers, "Name: value" each, sent in this order.
    QList<QByteArray> &CustomHeaders() { return FCustomHeaders; }

    /// Check the server's TLS certificate (on by default).
    bool VerifyPeer() const { return FVerifyPeer; }
    void SetVerifyPeer(bool Value) { FVerifyPeer = Value; }
    /// When set, 4xx and 5xx answers are returned like any other instead of raising EHttpProtocolError.
    bool NoProtocolErrorException() const { return FNoProtocolErrorException; }
    void SetNoProtocolErrorException(bool Value) { FNoProtocolErrorException = Value; }

    /// Called as the body comes in with the bytes so far and the announced total (0 when unknown).
    /// It runs on the requesting thread; returning false aborts the transfer (hekAborted).
    using TWorkEvent = std::function<bool(qint64 Received, qint64 Total)>;
    void SetOnWork(TWorkEvent Handler) { FOnWork = std::move(Handler); }

    /// GET the URL and return the body. Raises EHttpConnectionError or EHttpProtocolError.
    QByteArray Get(const QString &Url);
    /// POST the form as multipart/form-data, one part per field in order; returns the body.
    QByteArray Post(const QString &Url, const TMultiPartFormData &Form);
    /// POST a raw body with the given Content-Type.
    QByteArray Post(const QString &Url, const QByteArray &Body, const QByteArray &ContentType);

    /// Ends a running request of this client as soon as possible (hekAborted); safe from any thread.
    /// The flag stays set until ResetAbort(), so a request started after the call fails at once.
    void Abort();
    void ResetAbort();
    bool AbortRequested() const { return FAbort.load(); }

    /// The answer of the last request (also after an error status).
    int ResponseCode() const { return FResponseCode; }
    /// The status line, e.g. "HTTP/1.1 200 OK" (of the final answer after redirects).
    QString ResponseText() const { return FResponseText; }
    /// The header lines of the final answer, name and value, in order.
    const QList<QPair<QByteArray, QByteArray>> &ResponseHeaders() const { return FResponseHeaders; }
    /// The first header of that name (case-insensitive); empty when none.
    QByteArray ResponseHeader(const QByteArray &Name) const;
    /// The URL that gave the final answer (differs from the request URL after redirects).
    QString EffectiveUrl() const { return FEffectiveUrl; }
    const THttpTransferInfo &TransferInfo() const { return FTransferInfo; }

private:
    struct TPrivate;
    QByteArray Perform(const QString &Url, const TMultiPartFormData *Form, const QByteArray *RawBody,
                       const QByteArray &ContentType);

    std::unique_ptr<TPrivate> d;
    bool FHandleRedirects = false;
    int FRedirectMaximum = 15;
    bool FCompressor = false;
    QString FProxyServer;
    int FProxyPort = 0;
    QString FProxyUser;
    QString FProxyPassword;
    int FReadTimeout = 0;
    int FConnectTimeout = 0;
    QString FUserAgent;
    bool FConnectionClose = false;
    QList<QByteArray> FCustomHeaders;
    bool FVerifyPeer = true;
    bool FNoProtocolErrorException = false;
    TWorkEvent FOnWork;
    std::atomic<bool> FAbort{false};

    int FResponseCode = 0;
    QString FResponseText;
    QList<QPair<QByteArray, QByteArray>> FResponseHeaders;
    QString FEffectiveUrl;
    THttpTransferInfo FTransferInfo;
};
