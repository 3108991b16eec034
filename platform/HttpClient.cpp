#include "platform/HttpClient.h"

#include <curl/curl.h>

#include <chrono>
#include <mutex>

namespace {

using TClock = std::chrono::steady_clock;

void GlobalInit() {
    // libcurl's global set-up is not thread-safe in every build; once per process is enough.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

THttpErrorKind KindOf(CURLcode Code) {
    switch (Code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return THttpErrorKind::hekConnectFailed;
    case CURLE_OPERATION_TIMEDOUT:
        return THttpErrorKind::hekTimeout;
    case CURLE_ABORTED_BY_CALLBACK:
        return THttpErrorKind::hekAborted;
    default:
        return THttpErrorKind::hekOther;
    }
}

QString KindText(THttpErrorKind Kind) {
    switch (Kind) {
    case THttpErrorKind::hekConnectFailed:
        return QStringLiteral("Cannot connect");
    case THttpErrorKind::hekTimeout:
        return QStringLiteral("Timed out");
    case THttpErrorKind::hekAborted:
        return QStringLiteral("Request aborted");
    default:
        return QStringLiteral("Request failed");
    }
}

} // namespace

struct THttpClient::TPrivate {
    CURLM *Multi = nullptr;
    CURL *Easy = nullptr;
    char ErrorBuffer[CURL_ERROR_SIZE] = {};
    // State of the running request, touched only by libcurl's callbacks on the requesting thread.
    THttpClient *Owner = nullptr;
    QByteArray Body;
    TClock::time_point LastActivity;
    curl_off_t LastDown = 0;
    curl_off_t LastUp = 0;
    bool StoppedByWork = false;

    static size_t OnWrite(char *Data, size_t Size, size_t Count, void *User) {
        auto *self = static_cast<TPrivate *>(User);
        self->Body.append(Data, qsizetype(Size * Count));
        self->LastActivity = TClock::now();
        return Size * Count;
    }

    static size_t OnHeader(char *Data, size_t Size, size_t Count, void *User) {
        auto *self = static_cast<TPrivate *>(User);
        const size_t n = Size * Count;
        self->LastActivity = TClock::now();
        QByteArray line(Data, qsizetype(n));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        THttpClient *o = self->Owner;
        if (line.startsWith("HTTP/")) {
            // A new answer begins (after a redirect or an interim 100): only the last one counts.
            o->FResponseText = QString::fromLatin1(line);
            o->FResponseHeaders.clear();
        } else if (!line.isEmpty()) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                o->FResponseHeaders.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        return n;
    }

    static int OnProgress(void *User, curl_off_t DlTotal, curl_off_t DlNow, curl_off_t, curl_off_t UlNow) {
        auto *self = static_cast<TPrivate *>(User);
        if (DlNow != self->LastDown || UlNow != self->LastUp) {
            self->LastDown = DlNow;
            self->LastUp = UlNow;
            self->LastActivity = TClock::now();
        }
        if (self->Owner->FAbort.load())
            return 1;
        if (self->Owner->FOnWork && !self->Owner->FOnWork(qint64(DlNow), qint64(DlTotal))) {
            self->StoppedByWork = true;
            return 1;
        }
        return 0;
    }
};

THttpClient::THttpClient() : d(std::make_unique<TPrivate>()) {
    GlobalInit();
    d->Owner = this;
    d->Multi = curl_multi_init();
    d->Easy = curl_easy_init();
    if (!d->Multi || !d->Easy)
        throw EHttpConnectionError(THttpErrorKind::hekOther, QStringLiteral("Cannot create an HTTP client"));
    FUserAgent = DefaultUserAgent();
}

THttpClient::~THttpClient() {
    if (d->Easy)
        curl_easy_cleanup(d->Easy);
    if (d->Multi)
        curl_multi_cleanup(d->Multi);
}

QString THttpClient::DefaultUserAgent() {
    return QStringLiteral("Mozilla/5.0 (compatible; Relayvane/3.1.3)");
}

void THttpClient::Abort() {
    FAbort.store(true);
    // Wakes the requesting thread out of its poll so the abort does not wait for network activity.
    curl_multi_wakeup(d->Multi);
}

void THttpClient::ResetAbort() {
    FAbort.store(false);
}

QByteArray THttpClient::ResponseHeader(const QByteArray &Name) const {
    for (const auto &h : FResponseHeaders)
        if (h.first.compare(Name, Qt::CaseInsensitive) == 0)
            return h.second;
    return QByteArray();
}

QByteArray THttpClient::Get(const QString &Url) {
    return Perform(Url, nullptr, nullptr, QByteArray());
}

QByteArray THttpClient::Post(const QString &Url, const TMultiPartFormData &Form) {
    return Perform(Url, &Form, nullptr, QByteArray());
}

QByteArray THttpClient::Post(const QString &Url, const QByteArray &Body, const QByteArray &ContentType) {
    return Perform(Url, nullptr, &Body, ContentType);
}

QByteArray THttpClient::Perform(const QString &Url, const TMultiPartFormData *Form, const QByteArray *RawBody,
                                const QByteArray &ContentType) {
    CURL *e = d->Easy;
    curl_easy_reset(e);
    FResponseCode = 0;
    FResponseText.clear();
    FResponseHeaders.clear();
    FEffectiveUrl = Url;
    FTransferInfo = THttpTransferInfo();
    d->Body.clear();
    d->ErrorBuffer[0] = 0;
    d->LastDown = d->LastUp = 0;
    d->StoppedByWork = false;

    const QByteArray url = Url.toUtf8();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, d->ErrorBuffer);
    // Every thread has its own client; signals must not be used for time-outs in threads.
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &TPrivate::OnWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, d.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &TPrivate::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, d.get());
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &TPrivate::OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, d.get());
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, FHandleRedirects ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, long(FRedirectMaximum));
    if (FCompressor)
        curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    const QByteArray proxy = FProxyServer.isEmpty()
                                 ? QByteArray()
                                 : QStringLiteral("http://%1:%2").arg(FProxyServer).arg(FProxyPort).toUtf8();
    // An empty proxy string also keeps libcurl from taking http_proxy from the environment.
    curl_easy_setopt(e, CURLOPT_PROXY, proxy.constData());
    const QByteArray proxyUser = FProxyUser.toUtf8(), proxyPassword = FProxyPassword.toUtf8();
    if (!proxy.isEmpty() && !FProxyUser.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, proxyUser.constData());
        curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, proxyPassword.constData());
        curl_easy_setopt(e, CURLOPT_PROXYAUTH, long(CURLAUTH_BASIC));
    }
    if (FConnectTimeout > 0)
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(FConnectTimeout));
    if (!FVerifyPeer) {
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    const QByteArray agent = FUserAgent.toUtf8();
    if (!agent.isEmpty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, agent.constData());

    curl_slist *headers = nullptr;
    if (FConnectionClose) {
        headers = curl_slist_append(headers, "Connection: close");
        curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
    }
    // libcurl would send "Expect: 100-continue" for larger bodies and wait for it; plain servers
    // do not answer it.
    if (Form || RawBody)
        headers = curl_slist_append(headers, "Expect:");
    QByteArray contentType;
    if (RawBody && !ContentType.isEmpty()) {
        contentType = "Content-Type: " + ContentType;
        headers = curl_slist_append(headers, contentType.constData());
    }
    for (const QByteArray &h : FCustomHeaders)
        headers = curl_slist_append(headers, h.constData());
    if (headers)
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);

    curl_mime *mime = nullptr;
    if (Form) {
        mime = curl_mime_init(e);
        for (const auto &part : Form->Parts()) {
            curl_mimepart *p = curl_mime_addpart(mime);
            curl_mime_name(p, part.Name.toUtf8().constData());
            curl_mime_data(p, part.Value.constData(), size_t(part.Value.size()));
        }
        curl_easy_setopt(e, CURLOPT_MIMEPOST, mime);
    } else if (RawBody) {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(RawBody->size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, RawBody->constData());
    }

    // Driven through a private multi handle so Abort() can wake the poll at once and the read
    // time-out is measured in milliseconds rather than libcurl's whole seconds.
    curl_multi_add_handle(d->Multi, e);
    d->LastActivity = TClock::now();
    CURLcode result = CURLE_OK;
    bool readTimedOut = false;
    bool aborted = false;
    for (;;) {
        int running = 0;
        CURLMcode mc = curl_multi_perform(d->Multi, &running);
        if (mc != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int left = 0;
            while (CURLMsg *msg = curl_multi_info_read(d->Multi, &left))
                if (msg->msg == CURLMSG_DONE && msg->easy_handle == e)
                    result = msg->data.result;
            break;
        }
        if (FAbort.load()) {
            aborted = true;
            break;
        }
        int waitMs = 1000;
        if (FReadTimeout > 0) {
            const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - d->LastActivity);
            if (idle.count() >= FReadTimeout) {
                readTimedOut = true;
                break;
            }
            waitMs = int(std::min<qint64>(waitMs, FReadTimeout - idle.count()));
        }
        curl_multi_poll(d->Multi, nullptr, 0, std::max(waitMs, 1), nullptr);
    }
    curl_multi_remove_handle(d->Multi, e);

    long code = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
    FResponseCode = int(code);
    char *effective = nullptr;
    if (curl_easy_getinfo(e, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        FEffectiveUrl = QString::fromUtf8(effective);
    curl_off_t bytes = 0;
    curl_easy_getinfo(e, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
    FTransferInfo.BytesReceived = qint64(bytes);
    curl_off_t us = 0;
    if (curl_easy_getinfo(e, CURLINFO_CONNECT_TIME_T, &us) == CURLE_OK)
        FTransferInfo.ConnectSeconds = double(us) / 1e6;
    if (curl_easy_getinfo(e, CURLINFO_STARTTRANSFER_TIME_T, &us) == CURLE_OK)
        FTransferInfo.StartTransferSeconds = double(us) / 1e6;
    if (curl_easy_getinfo(e, CURLINFO_TOTAL_TIME_T, &us) == CURLE_OK)
        FTransferInfo.TotalSeconds = double(us) / 1e6;
    if (headers)
        curl_slist_free_all(headers);
    if (mime)
        curl_mime_free(mime);

    if (readTimedOut)
        throw EHttpConnectionError(THttpErrorKind::hekTimeout,
                                   QStringLiteral("Read timed out after %1 ms (%2)").arg(FReadTimeout).arg(Url));
    if (aborted || (result == CURLE_ABORTED_BY_CALLBACK && (FAbort.load() || d->StoppedByWork)))
        throw EHttpConnectionError(THttpErrorKind::hekAborted, QStringLiteral("Request aborted (%1)").arg(Url));
    if (result != CURLE_OK) {
        const THttpErrorKind kind = KindOf(result);
        QString detail = QString::fromUtf8(d->ErrorBuffer);
        if (detail.isEmpty())
            detail = QString::fromUtf8(curl_easy_strerror(result));
        throw EHttpConnectionError(kind, QStringLiteral("%1: %2 (%3)").arg(KindText(kind), detail, Url));
    }
    if (FResponseCode >= 400 && !FNoProtocolErrorException) {
        // The reason phrase is what follows the code on the status line ("HTTP/1.1 404 Not Found").
        QString reason = FResponseText.section(QLatin1Char(' '), 2).trimmed();
        QString msg = QStringLiteral("HTTP error %1").arg(FResponseCode);
        if (!reason.isEmpty())
            msg += QLatin1Char(' ') + reason;
        msg += QStringLiteral(" (%1)").arg(FEffectiveUrl);
        throw EHttpProtocolError(FResponseCode, reason, msg, std::move(d->Body));
    }
    return std::move(d->Body);
}
