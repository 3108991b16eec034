#include "sourcing/LanguageWord.h"

QString TranslateLangugae(const QString &Language) {
    QString lowered = Language;
    for (QChar &c : lowered)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    static const struct {
        const char16_t *Name;
        const char *Word;
    } table[] = {{u"русский", "russian"},
                 {u"український", "ukrainian"},
                 {u"française", "french"},
                 {u"español", "spanish"},
                 {u"deutsch", "german"}};
    for (const auto &entry : table)
        if (lowered == QStringView(entry.Name))
            return QString::fromLatin1(entry.Word);
    return QStringLiteral("english");
}
