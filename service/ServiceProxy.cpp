#include "service/ServiceProxy.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

QString AnonymityName(TAnonymity Value) {
    switch (Value) {
    case TAnonymity::Transparent:
        return QStringLiteral("transparent");
    case TAnonymity::Anonymous:
        return QStringLiteral("anonymous");
    case TAnonymity::Elite:
        return QStringLiteral("elite");
    case TAnonymity::Unknown:
        break;
    }
    return QString();
}

bool AnonymityFromName(QStringView Name, TAnonymity &Value) {
    for (TAnonymity t : {TAnonymity::Transparent, TAnonymity::Anonymous, TAnonymity::Elite}) {
        if (Name.compare(AnonymityName(t), Qt::CaseInsensitive) == 0) {
            Value = t;
            return true;
        }
    }
    return false;
}

double ComputeScore(const TServiceProxy &Proxy) {
    double score = 0;
    if (Proxy.Speed)
        score += 3.0 * std::clamp(*Proxy.Speed / 100.0, 0.0, 1.0);
    if (Proxy.Ping)
        score += 2.0 * std::clamp(1.0 - *Proxy.Ping / 10.0, 0.0, 1.0);
    if (Proxy.Uptime)
        score += 3.0 * std::clamp(*Proxy.Uptime / 100.0, 0.0, 1.0);
    if (Proxy.Anonymity == TAnonymity::Elite)
        score += 1.0;
    else if (Proxy.Anonymity == TAnonymity::Anonymous)
        score += 0.5;
    if (Proxy.Https.value_or(false))
        score += 0.5;
    if (Proxy.Post.value_or(false))
        score += 0.5;
    return std::clamp(std::round(score * 10.0) / 10.0, 0.0, 10.0);
}

bool IsIPv4Address(QStringView Text) {
    int parts = 0;
    qsizetype i = 0;
    const qsizetype n = Text.size();
    while (parts < 4) {
        int value = 0;
        int digits = 0;
        while (i < n && Text[i] >= u'0' && Text[i] <= u'9' && digits < 4) {
            value = value * 10 + (Text[i].unicode() - u'0');
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        ++parts;
        if (parts < 4) {
            if (i >= n || Text[i] != u'.')
                return false;
            ++i;
        }
    }
    return i == n;
}
