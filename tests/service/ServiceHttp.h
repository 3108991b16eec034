#pragma once
// A small libcurl client for the service's tests: GET, multipart POST (optionally through a proxy),
// raw POST, and zlib inflate of the list service's replies.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace servicetest {

struct THttpReply {
    long Status = 0; ///< 0 when the request failed
    QByteArray Body;
    QByteArray ContentType;
    QString Error; ///< libcurl's message when the request failed
};

using TFields = QList<QPair<QString, QString>>;

THttpReply HttpGet(const QString &Url, const QList<QByteArray> &Headers = {});
/// A multipart/form-data POST with one part per field, in order; through Proxy when given.
THttpReply HttpPostForm(const QString &Url, const TFields &Fields, const QString &Proxy = QString());
THttpReply HttpPostRaw(const QString &Url, const QByteArray &Body, const QByteArray &ContentType);

/// The zlib stream (RFC 1950) inflated; empty with Ok false when it is damaged.
QByteArray Inflate(const QByteArray &Packed, bool *Ok = nullptr);

} // namespace servicetest
