#include "resources/Resources.h"

#include <QFile>

QString FlagResourcePath(QStringView code) {
    if (!code.isEmpty()) {
        QString path = QStringLiteral(":/FLAG_") + code.toString().toUpper();
        if (QFile::exists(path))
            return path;
    }
    return QStringLiteral(":/FLAG_NN");
}
