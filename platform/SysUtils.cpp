#include "platform/SysUtils.h"

#include <QDir>

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <limits>

Exception::Exception(QString msg) { SetMessage(msg); }

void Exception::SetMessage(const QString &msg) {
    FMessage = msg;
    FWhat = msg.toUtf8();
}

namespace {

bool ParseInt64(QStringView s, int64_t lo, int64_t hi, int64_t &out) {
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n && s[i].unicode() == ' ')
        ++i;
    bool neg = false;
    if (i < n && (s[i] == u'-' || s[i] == u'+')) {
        neg = s[i] == u'-';
        ++i;
    }
    if (i >= n)
        return false;
    // Accumulate as a negative number so that the minimum value still fits.
    int64_t v = 0;
    for (; i < n; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        const int d = c - u'0';
        if (v < (std::numeric_limits<int64_t>::min() + d) / 10)
            return false;
        v = v * 10 - d;
    }
    if (!neg) {
        if (v == std::numeric_limits<int64_t>::min())
            return false;
        v = -v;
    }
    if (v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace

bool TryStrToInt64(QStringView s, int64_t &value) {
    return ParseInt64(s, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), value);
}

bool TryStrToInt(QStringView s, int32_t &value) {
    int64_t v = 0;
    if (!ParseInt64(s, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), v))
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

int32_t StrToInt(QStringView s) {
    int32_t v = 0;
    if (!TryStrToInt(s, v))
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(s));
    return v;
}

int64_t StrToInt64(QStringView s) {
    int64_t v = 0;
    if (!TryStrToInt64(s, v))
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(s));
    return v;
}

bool TryStrToFloat(QStringView s, double &value) {
    // Only plain decimal notation: optional blanks, sign, digits, ".", digits, exponent.
    const QString t = s.toString().trimmed();
    if (t.isEmpty())
        return false;
    qsizetype i = 0;
    const qsizetype n = t.size();
    if (t[i] == u'+' || t[i] == u'-')
        ++i;
    bool digits = false;
    while (i < n && t[i].isDigit() && t[i].unicode() < 128) {
        ++i;
        digits = true;
    }
    if (i < n && t[i] == u'.') {
        ++i;
        while (i < n && t[i].unicode() >= '0' && t[i].unicode() <= '9') {
            ++i;
            digits = true;
        }
    }
    if (!digits)
        return false;
    if (i < n && (t[i] == u'e' || t[i] == u'E')) {
        ++i;
        if (i < n && (t[i] == u'+' || t[i] == u'-'))
            ++i;
        bool expDigits = false;
        while (i < n && t[i].unicode() >= '0' && t[i].unicode() <= '9') {
            ++i;
            expDigits = true;
        }
        if (!expDigits)
            return false;
    }
    if (i != n)
        return false;
    const QByteArray latin = t.toLatin1();
    char *end = nullptr;
    const double v = std::strtod(latin.constData(), &end);
    if (end != latin.constData() + latin.size() || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

double StrToFloat(QStringView s) {
    double v = 0;
    if (!TryStrToFloat(s, v))
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(s));
    return v;
}

QString FloatToStr(double value) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    QString s = QString::number(value, 'g', 15);
    // Qt writes exponents as e+20 / e-05; the general form here is E20 / E-5.
    const qsizetype e = s.indexOf(u'e');
    if (e >= 0) {
        QString mant = s.left(e);
        QString exp = s.mid(e + 1);
        const bool neg = exp.startsWith(u'-');
        exp.remove(0, (exp.startsWith(u'-') || exp.startsWith(u'+')) ? 1 : 0);
        while (exp.size() > 1 && exp.startsWith(u'0'))
            exp.remove(0, 1);
        s = mant + u'E' + (neg ? QStringLiteral("-") : QString()) + exp;
    }
    return s;
}

void SplitDelimitedInto(QStringView text, QChar delimiter, QStringList &fields) {
    fields.clear();
    const qsizetype n = text.size();
    qsizetype p = 0;
    auto isBlank = [](QChar c) { return c.unicode() >= 1 && c.unicode() <= 32; };
    while (p < n && isBlank(text[p]))
        ++p;
    while (p < n) {
        if (text[p] == u'"') {
            QString field;
            ++p;
            while (p < n) {
                if (text[p] == u'"') {
                    if (p + 1 < n && text[p + 1] == u'"') {
                        field += u'"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                field += text[p];
                ++p;
            }
            fields.append(field);
        } else {
            const qsizetype start = p;
            while (p < n && text[p] != delimiter && !isBlank(text[p]))
                ++p;
            fields.append(text.mid(start, p - start).toString());
        }
        while (p < n && isBlank(text[p]))
            ++p;
        if (p < n && text[p] == delimiter) {
            const qsizetype at = p;
            ++p;
            while (p < n && isBlank(text[p]))
                ++p;
            if (at == n - 1)
                fields.append(QString());
        }
    }
}

QStringList SplitDelimited(QStringView text, QChar delimiter) {
    QStringList fields;
    SplitDelimitedInto(text, delimiter, fields);
    return fields;
}

QString TrimControl(QStringView s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 32)
        ++b;
    while (e > b && s[e - 1].unicode() <= 32)
        --e;
    return s.mid(b, e - b).toString();
}

void RaiseLastOSError(int errorCode, const QString &context) {
    const QString text = QString::fromLocal8Bit(std::strerror(errorCode));
    throw EOSError(errorCode, context.isEmpty() ? text : context + QStringLiteral(": ") + text);
}

QString XdgConfigHome(const QString &XdgConfigHome, const QString &Home) {
    if (!XdgConfigHome.isEmpty() && QDir::isAbsolutePath(XdgConfigHome))
        return XdgConfigHome;
    return QDir(Home).filePath(QStringLiteral(".config"));
}
