#include "checker/IEHTTP.h"

#include <QStringDecoder>
#include <chrono>
#include <condition_variable>
#include <curl/curl.h>
#include <mutex>
#include <thread>
#include <zlib.h>

namespace {

using Clock = std::chrono::steady_clock;

// WinInet codes that libcurl's failures are reported as.
constexpr int ERROR_INTERNET_TIMEOUT = 12002;
constexpr int ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr int ERROR_INTERNET_INVALID_URL = 12005;
constexpr int ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr int ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr int ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr int ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr int ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr int ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr int ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
constexpr int ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr int ERROR_HTTP_REDIRECT_FAILED = 12156;

int WinInetCodeOf(CURLcode rc) {
    switch (rc) {
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_ABORTED_BY_CALLBACK:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_RECV_ERROR:
        return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_TOO_MANY_REDIRECTS:
        return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    default:
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

// What the calling thread and the background transfer share. The transfer holds its own reference,
// so a caller that gave up after a time-out may go away while the transfer finishes on its own.
struct TRequestState {
    // Set before the transfer starts, read-only afterwards.
    QByteArray url, agent, proxy, method;
    QByteArrayList headers;
    int timeoutSeconds = 0;
    std::shared_ptr<std::atomic<bool>> abortSignal;

    std::mutex lock;
    std::condition_variable event;
    bool eventSet = false;
    bool finished = false;
    bool closed = false; // the caller closed the "root handle": the transfer must end now
    Clock::time_point deadline;
    QByteArray body;
    QByteArray rawHeaders;
    int error = 0;
    QString errorMsg;

    void Signal() {
        eventSet = true;
        event.notify_all();
    }
};

size_t WriteBody(char *data, size_t size, size_t count, void *user) {
    auto *st = static_cast<TRequestState *>(user);
    std::lock_guard<std::mutex> g(st->lock);
    if (st->closed)
        return 0; // ends the transfer
    st->body.append(data, qsizetype(size * count));
    // Every block received pushes the inactivity deadline forward.
    st->deadline = Clock::now() + std::chrono::seconds(st->timeoutSeconds);
    st->Signal();
    return size * count;
}

size_t WriteHeader(char *data, size_t size, size_t count, void *user) {
    auto *st = static_cast<TRequestState *>(user);
    const QByteArray line(data, qsizetype(size * count));
    std::lock_guard<std::mutex> g(st->lock);
    // Keep only the last response's head (a CONNECT answer or a redirect comes before it).
    if (line.startsWith("HTTP/"))
        st->rawHeaders.clear();
    st->rawHeaders.append(line);
    return size * count;
}

int Progress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto *st = static_cast<TRequestState *>(user);
    if (st->abortSignal && st->abortSignal->load())
        return 1;
    std::lock_guard<std::mutex> g(st->lock);
    return st->closed ? 1 : 0;
}

void RunTransfer(std::shared_ptr<TRequestState> st) {
    CURL *curl = curl_easy_init();
    if (!curl) {
        std::lock_guard<std::mutex> g(st->lock);
        st->errorMsg = QStringLiteral("Could not open Internet");
        st->finished = true;
        st->Signal();
        return;
    }
    char errbuf[CURL_ERROR_SIZE] = {};
    curl_slist *hdrs = nullptr;
    for (const QByteArray &h : st->headers)
        hdrs = curl_slist_append(hdrs, h.constData());
    curl_easy_setopt(curl, CURLOPT_URL, st->url.constData());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, st->method.constData());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, st->agent.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, hdrs);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 32768L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
    // The check is whether a page can be fetched, not whether its certificate is good: unknown
    // authorities, expired dates and other host names are all accepted.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    // No proxy from the environment: either the one we were given or none.
    curl_easy_setopt(curl, CURLOPT_PROXY, st->proxy.constData());
    if (!st->proxy.isEmpty())
        curl_easy_setopt(curl, CURLOPT_PROXYTYPE, CURLPROXY_HTTP);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, st.get());
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, WriteHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, st.get());
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, st.get());
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(hdrs);

    std::lock_guard<std::mutex> g(st->lock);
    // An abort is ours (stop request or time-out): the caller has already given up and says why.
    if (rc != CURLE_OK && rc != CURLE_ABORTED_BY_CALLBACK && !st->closed)
        st->error = WinInetCodeOf(rc);
    st->finished = true;
    st->Signal();
}

} // namespace

QString WinInetErrorName(int Code) {
    static const std::pair<int, const char *> names[] = {
        {12001, "(Out of handles)"},
        {12002, "(Timeout)"},
        {12004, "(Internal Error)"},
        {12005, "(Invalid URL)"},
        {12006, "(Unrecognized Scheme)"},
        {12007, "(Service Name Not Resolved)"},
        {12008, "(Protocol Not Found)"},
        {12013, "(Incorrect User Name)"},
        {12014, "(Incorrect Password)"},
        {12015, "(Login Failure)"},
        {12016, "(Invalid Operation)"},
        {12017, "(Operation Canceled)"},
        {12020, "(Not Proxy Request)"},
        {12023, "(No Direct Access)"},
        {12026, "(Request Pending)"},
        {12027, "(Incorrect Format)"},
        {12028, "(Item not found)"},
        {12029, "(Cannot connect)"},
        {12030, "(Connection Aborted)"},
        {12031, "(Connection Reset)"},
        {12033, "(Invalid Proxy Request)"},
        {12034, "(Need UI)"},
        {12035, "(Sec Cert Date Invalid)"},
        {12038, "(Sec Cert CN Invalid)"},
        {12044, "(Client Auth Cert Needed)"},
        {12045, "(Invalid CA Cert)"},
        {12046, "(Client Auth Not Setup)"},
        {12150, "(HTTP Header Not Found)"},
        {12152, "(Invalid HTTP Server Response)"},
        {12153, "(Invalid HTTP Header)"},
        {12154, "(Invalid Query Request)"},
        {12156, "(Redirect Failed)"},
        {12159, "(TCP/IP not installed)"},
    };
    for (const auto &[code, name] : names)
        if (code == Code)
            return QString::fromLatin1(name);
    return QStringLiteral("(Unknown WININET error # %1)").arg(Code);
}

QByteArray IEHTTPDecodeBody(const QByteArray &Body) {
    static const char magic[8] = {'\x1f', '\x8b', '\x08', 0, 0, 0, 0, 0};
    // Only a gzip head without flags and without a time stamp is recognised; anything else is
    // kept exactly as received, even when the server did compress it.
    if (Body.size() < 8 || memcmp(Body.constData(), magic, 8) != 0)
        return Body;
    z_stream zs{};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK)
        return QByteArray();
    QByteArray out;
    char buf[32768];
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Body.constData()));
    zs.avail_in = uInt(Body.size());
    int rc;
    do {
        zs.next_out = reinterpret_cast<Bytef *>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, qsizetype(sizeof buf - zs.avail_out));
    } while (rc == Z_OK && (zs.avail_in > 0 || zs.avail_out == 0));
    inflateEnd(&zs);
    return out; // a damaged stream leaves what came before the damage
}

QString IEHTTPBodyText(const QByteArray &Body, const QString &RawHeaders) {
    if (RawHeaders.contains(QLatin1String("charset=utf-8")))
        return QString::fromUtf8(Body);
    if (RawHeaders.contains(QLatin1String("charset=utf-16"))) {
        auto decode = QStringDecoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        return decode(Body);
    }
    return QString::fromLatin1(Body);
}

QStringList SplitTextLines(const QString &Text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = Text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = Text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines.append(Text.mid(start, i - start));
            if (c == QLatin1Char('\r') && i + 1 < n && Text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines.append(Text.mid(start));
    return lines;
}

TIEHTTP::TIEHTTP(QObject *AOwner) : QObject(AOwner) {
    GlobalInit();
}

TIEHTTP::~TIEHTTP() = default;

void TIEHTTP::StopRequest() {
    FStopRequested = true;
}

namespace {

// Splits the URL the way the WinInet cracker does: scheme, optional credentials, host, optional
// port, then the path with its query. Returns an error text, empty when the URL is fine.
QString CrackUrl(const QString &Url) {
    CURLU *u = curl_url();
    const CURLUcode rc = curl_url_set(u, CURLUPART_URL, Url.toUtf8().constData(), 0);
    curl_url_cleanup(u);
    const qsizetype sep = Url.indexOf(QLatin1String("://"));
    const QString scheme = Url.left(sep).toLower();
    // Only the two web schemes are spoken here.
    if (rc != CURLUE_OK || sep <= 0 || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        const int code = (sep > 0 && scheme != QLatin1String("http") && scheme != QLatin1String("https"))
                             ? ERROR_INTERNET_UNRECOGNIZED_SCHEME
                             : ERROR_INTERNET_INVALID_URL;
        const QString text = code == ERROR_INTERNET_INVALID_URL
                                 ? QStringLiteral("The URL is invalid.")
                                 : QStringLiteral("The URL scheme could not be recognized or is not supported.");
        return QStringLiteral("tiehttp: Invalid URL. Error - %1 = %2").arg(code).arg(text);
    }
    const QString rest = Url.mid(sep + 3);
    if (!rest.contains(QLatin1Char('/')))
        return QStringLiteral("tiehttp: Empty URL");
    return QString();
}

} // namespace

void TIEHTTP::ExecuteURL(const QString &url) {
    FUrl = (url.isEmpty() || url.contains(QLatin1String("://"))) ? url : QStringLiteral("http://") + url;
    if (FUrl.isEmpty())
        throw Exception(QStringLiteral("TIEHTTP: no url in execute method"));

    response_headers.clear();
    result_ms.clear();
    result_sl.clear();
    error = 0;
    error_code = 0;
    error_msg = CrackUrl(FUrl);
    if (!error_msg.isEmpty())
        throw Exception(QStringLiteral("tiehttp error: ") + error_msg);

    auto st = std::make_shared<TRequestState>();
    st->url = FUrl.toUtf8();
    st->agent = http_agent_string.toUtf8();
    st->proxy = proxy.toUtf8();
    st->method = FRequestMethod.toUtf8();
    for (const QString &h : request_headers)
        st->headers.append(h.toUtf8());
    st->timeoutSeconds = fTimeout > 0 ? fTimeout : 0;
    st->abortSignal = abort_signal;
    st->deadline = Clock::now() + std::chrono::seconds(st->timeoutSeconds);
    std::thread(RunTransfer, st).detach();

    std::unique_lock<std::mutex> g(st->lock);
    for (;;) {
        st->event.wait_for(g, std::chrono::milliseconds(fWatchIntervalMs), [&] { return st->eventSet; });
        st->eventSet = false;
        if (FStopRequested || (abort_signal && abort_signal->load())) {
            st->closed = true;
            st->body.clear();
            error_code = 101;
            break;
        }
        if (fTimeout > 0 && Clock::now() > st->deadline) {
            st->closed = true;
            st->body.clear();
            error_code = 100;
            break;
        }
        if (st->finished)
            break;
    }
    // After giving up, only what the transfer had already reported counts; the transfer ends
    // on its own and drops its reference to the shared state.
    result_ms = st->body;
    const QString raw = QString::fromLatin1(st->rawHeaders);
    error = st->error;
    if (error_msg.isEmpty())
        error_msg = st->errorMsg;
    g.unlock();
    FStopRequested = false;

    response_headers = SplitTextLines(raw);
    result_ms = IEHTTPDecodeBody(result_ms);
    result_sl = SplitTextLines(IEHTTPBodyText(result_ms, raw));

    if (error > 0)
        throw Exception(QStringLiteral("wininet error # %1 : %2").arg(error).arg(WinInetErrorName(error)));
    if (!error_msg.isEmpty())
        throw Exception(QStringLiteral("tiehttp error: ") + error_msg);
}
