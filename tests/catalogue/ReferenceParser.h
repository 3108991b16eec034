#pragma once
// The free list format done the slow, literal way: decode, join the lines with CR LF, run
// the regular expression, apply the text steps. The real parser is a hand-made scanner; the unit
// tests and the fuzzer hold the two against each other.

#include "geoip/CountryDatabase.h"
#include "platform/SysUtils.h"

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QStringDecoder>

namespace reference {

struct TProxy {
    QString IP;
    int Port = 0;
    bool operator==(const TProxy &) const = default;
};

struct TResult {
    bool Valid = true;  // false: the text is outside what the reference can judge (bad UTF-16)
    bool Error = false; // the parse raises
    QList<TProxy> Proxies;
};

// Byte-order mark rules, then the string list's line splitting (CR LF, LF or CR) and joining.
inline QString DecodeAndJoin(const QByteArray &Bytes) {
    QString text;
    if (Bytes.startsWith("\xFF\xFE"))
        text = QStringDecoder(QStringConverter::Utf16LE).decode(Bytes.mid(2));
    else if (Bytes.startsWith("\xFE\xFF"))
        text = QStringDecoder(QStringConverter::Utf16BE).decode(Bytes.mid(2));
    else if (Bytes.startsWith("\xEF\xBB\xBF"))
        text = QString::fromUtf8(Bytes.mid(3));
    else
        text = QString::fromLatin1(Bytes);
    QString joined;
    qsizetype p = 0;
    const qsizetype n = text.size();
    while (p < n) {
        qsizetype e = p;
        while (e < n && text[e] != u'\r' && text[e] != u'\n')
            ++e;
        joined += QStringView(text).mid(p, e - p);
        joined += QLatin1String("\r\n");
        if (e < n && text[e] == u'\r')
            ++e;
        if (e < n && text[e] == u'\n')
            ++e;
        p = e;
    }
    return joined;
}

inline TResult ParseFree(const QByteArray &Bytes, bool NoDuplicates, const TProxy *Active = nullptr) {
    TResult r;
    const QString text = DecodeAndJoin(Bytes);
    if (!QStringView(text).isValidUtf16()) {
        r.Valid = false;
        return r;
    }
    if (Active)
        r.Proxies.append(*Active);
    static const QRegularExpression re(QStringLiteral("\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}[^\\d]+\\d{2,5}"));
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        QString m = it.next().captured(0);
        m.replace(u'@', u':');
        if (!m.contains(u':')) {
            m.replace(QStringLiteral("  "), QStringLiteral(":"));
            if (!m.contains(u':'))
                m.replace(u' ', u':');
        } else {
            m.remove(u' ');
        }
        const QStringList f = SplitDelimited(m, u':');
        int32_t port = 0;
        if (f.size() < 2 || !TryStrToInt(f[1], port)) {
            r.Error = true;
            r.Proxies.clear();
            return r;
        }
        const TProxy p{f[0], port};
        if (NoDuplicates && r.Proxies.contains(p))
            continue;
        try {
            TCountryDatabase::IpToKey(p.IP);
        } catch (const EConvertError &) {
            r.Error = true;
            r.Proxies.clear();
            return r;
        }
        r.Proxies.append(p);
    }
    return r;
}

} // namespace reference
