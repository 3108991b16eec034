#include "service/ServiceImport.h"

#include "catalogue/Marlo.Common.ProxyList.h"
#include "geoip/CountryDatabase.h"
#include "platform/SysUtils.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

[[noreturn]] void Bad(int Index, const QString &What) {
    throw Exception(QStringLiteral("JSON record %1: %2").arg(Index + 1).arg(What));
}

std::optional<double> OptNumber(const QJsonObject &o, const QString &Key, int Index, double Min, double Max) {
    const QJsonValue v = o.value(Key);
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    if (!v.isDouble() || !std::isfinite(v.toDouble()) || v.toDouble() < Min || v.toDouble() > Max)
        Bad(Index, QStringLiteral("\"%1\" must be a number from %2 to %3").arg(Key).arg(Min).arg(Max));
    return v.toDouble();
}

std::optional<bool> OptBool(const QJsonObject &o, const QString &Key, int Index) {
    const QJsonValue v = o.value(Key);
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    if (!v.isBool())
        Bad(Index, QStringLiteral("\"%1\" must be true or false").arg(Key));
    return v.toBool();
}

QString OptText(const QJsonObject &o, const QString &Key, int Index) {
    const QJsonValue v = o.value(Key);
    if (v.isUndefined() || v.isNull())
        return QString();
    if (!v.isString())
        Bad(Index, QStringLiteral("\"%1\" must be a text").arg(Key));
    // Names travel inside one reply line: no line breaks, bars or other control characters.
    QString text = v.toString();
    for (QChar &c : text) {
        if (c.unicode() < 32 || c == u'|')
            c = u' ';
    }
    return text.trimmed();
}

TServiceProxy ReadRecord(const QJsonValue &Value, int Index) {
    if (!Value.isObject())
        Bad(Index, QStringLiteral("not an object"));
    const QJsonObject o = Value.toObject();
    TServiceProxy p;
    p.Address =
        OptText(o, o.contains(QStringLiteral("address")) ? QStringLiteral("address") : QStringLiteral("ip"), Index);
    if (!IsIPv4Address(p.Address))
        Bad(Index, QStringLiteral("\"address\" must be a dotted IPv4 address"));
    const QJsonValue port = o.value(QStringLiteral("port"));
    if (!port.isDouble() || port.toDouble() != std::floor(port.toDouble()) || port.toDouble() < 1 ||
        port.toDouble() > 65535)
        Bad(Index, QStringLiteral("\"port\" must be a whole number from 1 to 65535"));
    p.Port = port.toInt();

    const QString type = OptText(o, QStringLiteral("type"), Index);
    if (!type.isEmpty() && !AnonymityFromName(type, p.Anonymity))
        Bad(Index, QStringLiteral("\"type\" must be \"transparent\", \"anonymous\" or \"elite\""));
    p.Https = OptBool(o, QStringLiteral("https"), Index);
    p.Post = OptBool(o, QStringLiteral("post"), Index);
    p.Speed = OptNumber(o, QStringLiteral("speed"), Index, 0, 1e12);
    p.Ping = OptNumber(o, QStringLiteral("ping"), Index, 0, 1e6);
    p.Uptime = OptNumber(o, QStringLiteral("uptime"), Index, 0, 100);
    p.UptimeHours = OptNumber(o, QStringLiteral("uptime_hours"), Index, 0, 1e9);

    const QJsonValue last = o.value(QStringLiteral("last_check"));
    if (last.isString()) {
        const QDateTime when = QDateTime::fromString(last.toString(), Qt::ISODateWithMs);
        if (!when.isValid())
            Bad(Index, QStringLiteral("\"last_check\" is not an ISO 8601 date"));
        p.LastCheck = when.toSecsSinceEpoch();
    } else if (auto secs = OptNumber(o, QStringLiteral("last_check"), Index, 0, 1e11)) {
        p.LastCheck = static_cast<qint64>(*secs);
    }

    p.CountryCode = OptText(o, QStringLiteral("country_code"), Index).toUpper();
    if (!p.CountryCode.isEmpty() && (p.CountryCode.size() != 2 || p.CountryCode[0] < u'A' || p.CountryCode[0] > u'Z' ||
                                     p.CountryCode[1] < u'A' || p.CountryCode[1] > u'Z'))
        Bad(Index, QStringLiteral("\"country_code\" must be two letters"));
    p.CountryName = OptText(o, QStringLiteral("country"), Index);
    if (!p.CountryCode.isEmpty() && p.CountryName.isEmpty())
        p.CountryName = p.CountryCode;
    p.Score = ComputeScore(p);
    return p;
}

} // namespace

std::vector<TServiceProxy> ParseImportJson(const QByteArray &Json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(Json, &error);
    if (error.error != QJsonParseError::NoError)
        throw Exception(QStringLiteral("JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset));
    QJsonArray records;
    if (doc.isArray())
        records = doc.array();
    else if (doc.isObject() && doc.object().value(QStringLiteral("proxies")).isArray())
        records = doc.object().value(QStringLiteral("proxies")).toArray();
    else
        throw Exception(QStringLiteral("JSON: expected an array of records or an object with \"proxies\""));
    std::vector<TServiceProxy> out;
    out.reserve(static_cast<size_t>(records.size()));
    for (int i = 0; i < records.size(); ++i)
        out.push_back(ReadRecord(records.at(i), i));
    return out;
}

std::vector<TServiceProxy> ParseImportText(QIODevice &Stream) {
    TProxyCollection collection;
    collection.SetNoDuplicates(true);
    collection.ParseStream(Stream, nullptr);
    std::vector<TServiceProxy> out;
    out.reserve(static_cast<size_t>(collection.Count()));
    for (int i = 0; i < collection.Count(); ++i) {
        const TProxtData *r = collection.Items(i);
        // The free format takes any 2 to 5 digits as a port and any dotted numbers as an address;
        // only real ones are worth serving.
        if (!IsIPv4Address(r->IP()) || r->Port() < 1 || r->Port() > 65535)
            continue;
        TServiceProxy p;
        p.Address = r->IP();
        p.Port = r->Port();
        p.CountryCode = r->CountryCode().toUpper();
        p.CountryName = r->Country();
        out.push_back(std::move(p));
    }
    return out;
}

void AssignCountries(std::vector<TServiceProxy> &Proxies, const TCountryDatabase &Database) {
    for (TServiceProxy &p : Proxies) {
        if (!p.CountryCode.isEmpty())
            continue;
        if (const TCountryInfo *info = Database.FindCountryByIp(p.Address)) {
            p.CountryCode = info->code.toUpper();
            p.CountryName = info->name;
        }
    }
}
