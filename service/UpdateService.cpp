#include "service/UpdateService.h"

#include <QStringList>

bool ParseVersion(const QString &Text, TUpdateInfo &Info) {
    const QStringList parts = Text.trimmed().split(u'.');
    if (parts.size() != 3)
        return false;
    int numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        const QString &p = parts[i];
        if (p.isEmpty() || p.size() > 4)
            return false;
        for (QChar c : p) {
            if (c < u'0' || c > u'9')
                return false;
        }
        numbers[i] = p.toInt();
    }
    Info.Major = numbers[0];
    Info.Minor = numbers[1];
    Info.Release = numbers[2];
    return true;
}

QString VersionText(const TUpdateInfo &Info) {
    return QStringLiteral("%1.%2.%3").arg(Info.Major).arg(Info.Minor).arg(Info.Release);
}

QString CheckUpdateText(const QString &Text) {
    if (Text.contains(u'|'))
        return QStringLiteral("must not contain \"|\"");
    for (QChar c : Text) {
        if (c.unicode() < 32 || c.unicode() == 127)
            return QStringLiteral("must not contain line breaks or control characters");
    }
    return QString();
}

QByteArray UpdateReply(const TUpdateInfo &Info, const QString &HomeUrl) {
    QString message = Info.Message;
    if (message.isEmpty())
        message = QStringLiteral("Relayvane %1 is the latest version.").arg(VersionText(Info));
    const QString link = Info.Link.isEmpty() ? HomeUrl : Info.Link;
    QString reply = QStringLiteral("%1|%2|%3|").arg(Info.Major).arg(Info.Minor).arg(Info.Release);
    // The stored texts were checked on the way in; blank out anything that slipped past anyway.
    for (QString text : {message, link}) {
        for (QChar &c : text) {
            if (c == u'|' || c.unicode() < 32)
                c = u' ';
        }
        reply += text.trimmed() + u'|';
    }
    reply.chop(1);
    return reply.toUtf8();
}
