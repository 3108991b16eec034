#include "resources/Resources.h"

#include <QFile>
#include <algorithm>

QString FlagResourcePath(QStringView code) {
    // Only letters and digits: a code from a downloaded list must not reach another resource.
    const bool plain = !code.isEmpty() && std::all_of(code.begin(), code.end(), [](QChar c) {
        return c.unicode() < 128 && c.isLetterOrNumber();
    });
    if (plain) {
        QString path = QStringLiteral(":/FLAG_") + code.toString().toUpper();
        if (QFile::exists(path))
            return path;
    }
    return QStringLiteral(":/FLAG_NN");
}
