#include "service/JudgeService.h"

#include "platform/SysUtils.h"

#include <QSet>
#include <algorithm>
#include <cmath>

namespace {

const QSet<QString> &ForwardingHeaders() {
    static const QSet<QString> names = {
        QStringLiteral("via"),
        QStringLiteral("forwarded"),
        QStringLiteral("forwarded-for"),
        QStringLiteral("x-forwarded"),
        QStringLiteral("x-real-ip"),
        QStringLiteral("client-ip"),
        QStringLiteral("true-client-ip"),
        QStringLiteral("x-client-ip"),
        QStringLiteral("x-cluster-client-ip"),
        QStringLiteral("x-originating-ip"),
        QStringLiteral("x-remote-ip"),
        QStringLiteral("x-remote-addr"),
        QStringLiteral("x-proxyuser-ip"),
        QStringLiteral("proxy-client-ip"),
        QStringLiteral("wl-proxy-client-ip"),
        QStringLiteral("cf-connecting-ip"),
        QStringLiteral("fastly-client-ip"),
        QStringLiteral("x-coming-from"),
        QStringLiteral("coming-from"),
        QStringLiteral("x-tinyproxy"),
        QStringLiteral("x-bluecoat-via"),
        QStringLiteral("x-host-ip"),
        QStringLiteral("http-client-ip"),
        QStringLiteral("http-x-forwarded-for"),
    };
    return names;
}

const QSet<QString> &OtherProxyHeaders() {
    static const QSet<QString> names = {
        QStringLiteral("proxy-connection"), QStringLiteral("x-proxy-connection"),
        QStringLiteral("x-proxy-id"),       QStringLiteral("proxy-agent"),
        QStringLiteral("x-cache"),          QStringLiteral("x-cache-lookup"),
        QStringLiteral("x-squid-error"),    QStringLiteral("surrogate-capability"),
        QStringLiteral("x-imforwards"),
    };
    return names;
}

bool IsAddressChar(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') || c == u'.';
}

} // namespace

bool IsForwardingHeader(const QString &Name) {
    const QString n = Name.trimmed().toLower();
    return ForwardingHeaders().contains(n) || n.startsWith(QStringLiteral("x-forwarded-"));
}

bool IsProxyHeader(const QString &Name) {
    return IsForwardingHeader(Name) || OtherProxyHeaders().contains(Name.trimmed().toLower());
}

bool ContainsAddress(const QString &Text, const QString &Address) {
    if (Address.isEmpty())
        return false;
    qsizetype from = 0;
    while (true) {
        const qsizetype at = Text.indexOf(Address, from, Qt::CaseInsensitive);
        if (at < 0)
            return false;
        const qsizetype end = at + Address.size();
        // A whole address: no address character glued to either side ("1.2.3.4" is not in
        // "11.2.3.45"); a ":port", a quote, a comma or a bracket may follow.
        const bool leftOk = at == 0 || !IsAddressChar(Text[at - 1]);
        const bool rightOk = end >= Text.size() || !IsAddressChar(Text[end]);
        if (leftOk && rightOk)
            return true;
        from = at + 1;
    }
}

QString PlainAddress(const QString &Address) {
    QString a = Address.trimmed();
    if (a.startsWith(QStringLiteral("::ffff:"), Qt::CaseInsensitive) && a.contains(u'.'))
        a = a.mid(7);
    return a;
}

QString JudgeAnonymity(const THeaderList &Headers, const QString &UserIp) {
    const QString user = PlainAddress(UserIp);
    bool proxySeen = false;
    for (const auto &[name, value] : Headers) {
        if (IsForwardingHeader(name) && ContainsAddress(value, user))
            return QStringLiteral("t");
        proxySeen = proxySeen || IsProxyHeader(name);
    }
    return proxySeen ? QStringLiteral("a") : QStringLiteral("e");
}

QString JudgeBotnet(const QString &PeerAddress, const std::optional<QString> &Proxy) {
    if (!Proxy)
        return QString();
    QString host = Proxy->trimmed();
    if (host.startsWith(u'[')) {
        host = host.mid(1, host.indexOf(u']') - 1);
    } else if (host.count(u':') == 1) {
        host = host.left(host.indexOf(u':'));
    }
    const QString peer = PlainAddress(PeerAddress);
    return (!host.isEmpty() && PlainAddress(host).compare(peer, Qt::CaseInsensitive) == 0) ? QStringLiteral("p")
                                                                                           : QStringLiteral("b");
}

QByteArray JudgeShowIpReply(const QString &PeerAddress, double Now) {
    return (PlainAddress(PeerAddress) + QStringLiteral("\r\n") + QString::number(Now, 'f', 3) + QStringLiteral("\r\n"))
        .toUtf8();
}

std::optional<QByteArray> JudgeTestReply(const TJudgeRequest &Request, double Now) {
    double sent = 0;
    if (!TryStrToFloat(Request.Time.trimmed(), sent) || !std::isfinite(sent))
        return std::nullopt;
    const double ping = std::max(0.0, Now - sent);
    const bool postOk = Request.Field2 && *Request.Field2 == Request.Field1;
    QString reply = QLatin1String(kJudgeMarker);
    reply += QStringLiteral("\r\n") + JudgeAnonymity(Request.Headers, Request.UserIp);
    reply += QStringLiteral("\r\n") + JudgeBotnet(Request.PeerAddress, Request.Proxy);
    reply += QStringLiteral("\r\n") + QString::number(ping, 'f', 3);
    reply += QStringLiteral("\r\n") + (postOk ? QStringLiteral("y") : QStringLiteral("n"));
    reply += QStringLiteral("\r\n");
    return reply.toUtf8();
}
