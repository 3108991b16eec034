#pragma once
// The proxy judge, free of I/O: the address/clock probe and the five-line judge reply.
//
// Judging rules (what a checker learns about the proxy a request came through):
//   anonymity  "t" (transparent) when the checker's own address, sent as "userip", appears in a
//              forwarding header (see IsForwardingHeader); otherwise "a" (anonymous) when any
//              header shows that a proxy is in the path (see IsProxyHeader); otherwise "e" (elite).
//   bot-net    with "proxy=IP:PORT": "p" when the request arrived from that IP, "b" when it came
//              from another address (the proxy hands the work to other machines); without it, "".
//   ping       the judge's clock minus "time", in seconds, never negative.
//   POST       "y" when the form field "field2" arrived equal to the query's "field1", else "n".

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

/// The first line of every judge reply.
inline constexpr const char kJudgeMarker[] = "Qm7RvK2pLc9WnT4z";

using THeaderList = std::vector<std::pair<QString, QString>>;

/// One judge test request as it arrived.
struct TJudgeRequest {
    QString PeerAddress;           ///< the address the connection came from
    THeaderList Headers;           ///< request headers, as sent
    QString UserIp;                ///< "userip": the checker's own address
    std::optional<QString> Proxy;  ///< "proxy": IP:PORT of the proxy under test, when sent
    QString Time;                  ///< "time": the checker's corrected clock
    QString Field1;                ///< "field1" of the query
    std::optional<QString> Field2; ///< form field "field2", when it arrived
};

/// A header that can carry the address of the client behind a proxy (X-Forwarded-For, Forwarded,
/// X-Real-IP, Client-IP, True-Client-IP, Via, X-Client-IP, X-Tinyproxy, X-Forwarded-*, ...).
bool IsForwardingHeader(const QString &Name);
/// A header that shows a proxy in the path: every forwarding header, and Proxy-Connection,
/// X-Proxy-ID, Proxy-Agent, X-Cache and the like.
bool IsProxyHeader(const QString &Name);
/// True when Address appears in Text as a whole address (not as part of a longer number).
bool ContainsAddress(const QString &Text, const QString &Address);
/// The address without an IPv4-mapped IPv6 prefix ("::ffff:1.2.3.4" -> "1.2.3.4").
QString PlainAddress(const QString &Address);

/// "t", "a" or "e" by the rules above.
QString JudgeAnonymity(const THeaderList &Headers, const QString &UserIp);
/// "p", "b" or "" by the rules above.
QString JudgeBotnet(const QString &PeerAddress, const std::optional<QString> &Proxy);

/// Reply to "?showip=": the caller's address, then the clock (seconds since 1970, "." separator).
QByteArray JudgeShowIpReply(const QString &PeerAddress, double Now);
/// The five lines: marker, anonymity, bot-net, ping, POST. Empty when "time" is no number.
std::optional<QByteArray> JudgeTestReply(const TJudgeRequest &Request, double Now);
