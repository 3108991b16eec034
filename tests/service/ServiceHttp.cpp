#include "ServiceHttp.h"

#include <curl/curl.h>
#include <memory>
#include <zlib.h>

namespace servicetest {
namespace {

size_t Collect(char *Data, size_t Size, size_t Count, void *Target) {
    static_cast<QByteArray *>(Target)->append(Data, static_cast<qsizetype>(Size * Count));
    return Size * Count;
}

struct TCurl {
    CURL *Handle = curl_easy_init();
    curl_slist *Headers = nullptr;
    curl_mime *Mime = nullptr;
    ~TCurl() {
        curl_mime_free(Mime);
        curl_slist_free_all(Headers);
        curl_easy_cleanup(Handle);
    }
};

THttpReply Perform(TCurl &c, const QString &Url, const QString &Proxy = QString()) {
    THttpReply reply;
    const QByteArray url = Url.toUtf8();
    const QByteArray proxy = Proxy.toUtf8();
    curl_easy_setopt(c.Handle, CURLOPT_URL, url.constData());
    // Only the proxy named by the test: never one from the environment.
    curl_easy_setopt(c.Handle, CURLOPT_PROXY, proxy.constData());
    curl_easy_setopt(c.Handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c.Handle, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(c.Handle, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(c.Handle, CURLOPT_WRITEDATA, &reply.Body);
    if (c.Headers)
        curl_easy_setopt(c.Handle, CURLOPT_HTTPHEADER, c.Headers);
    const CURLcode rc = curl_easy_perform(c.Handle);
    if (rc != CURLE_OK) {
        reply.Error = QString::fromUtf8(curl_easy_strerror(rc));
        return reply;
    }
    curl_easy_getinfo(c.Handle, CURLINFO_RESPONSE_CODE, &reply.Status);
    char *type = nullptr;
    curl_easy_getinfo(c.Handle, CURLINFO_CONTENT_TYPE, &type);
    reply.ContentType = type ? QByteArray(type) : QByteArray();
    return reply;
}

} // namespace

THttpReply HttpGet(const QString &Url, const QList<QByteArray> &Headers) {
    TCurl c;
    for (const QByteArray &h : Headers)
        c.Headers = curl_slist_append(c.Headers, h.constData());
    return Perform(c, Url);
}

THttpReply HttpPostForm(const QString &Url, const TFields &Fields, const QString &Proxy) {
    TCurl c;
    c.Mime = curl_mime_init(c.Handle);
    for (const auto &[name, value] : Fields) {
        curl_mimepart *part = curl_mime_addpart(c.Mime);
        curl_mime_name(part, name.toUtf8().constData());
        const QByteArray data = value.toUtf8();
        curl_mime_data(part, data.constData(), static_cast<size_t>(data.size()));
    }
    curl_easy_setopt(c.Handle, CURLOPT_MIMEPOST, c.Mime);
    return Perform(c, Url, Proxy);
}

THttpReply HttpPostRaw(const QString &Url, const QByteArray &Body, const QByteArray &ContentType) {
    TCurl c;
    c.Headers = curl_slist_append(c.Headers, ("Content-Type: " + ContentType).constData());
    curl_easy_setopt(c.Handle, CURLOPT_POSTFIELDS, Body.constData());
    curl_easy_setopt(c.Handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(Body.size()));
    return Perform(c, Url);
}

QByteArray Inflate(const QByteArray &Packed, bool *Ok) {
    z_stream z{};
    QByteArray out;
    bool ok = inflateInit(&z) == Z_OK;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Packed.constData()));
    z.avail_in = static_cast<uInt>(Packed.size());
    int rc = Z_OK;
    char buffer[16384];
    while (ok && rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef *>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - z.avail_out));
        ok = rc == Z_OK || rc == Z_STREAM_END;
    }
    inflateEnd(&z);
    if (Ok)
        *Ok = ok;
    return ok ? out : QByteArray();
}

} // namespace servicetest
