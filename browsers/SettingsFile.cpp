#include "browsers/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace settingsfile {

bool ReadBytes(const QString &Path, QByteArray &Bytes) {
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    Bytes = f.readAll();
    return f.error() == QFileDevice::NoError;
}

bool WriteAtomically(const QString &Path, const QByteArray &Bytes) {
    // QSaveFile writes beside the target and renames on commit; it resolves a symlinked target
    // and gives the new file the old one's permissions.
    const QString dir = QFileInfo(QFileInfo(Path).absoluteFilePath()).absolutePath();
    if (!QDir().mkpath(dir))
        return false;
    QSaveFile f(Path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (f.write(Bytes) != Bytes.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

QString DecodeUtf8(const QByteArray &Bytes) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return utf8.decode(Bytes);
}

QString HomeDir() {
    const QString home = qEnvironmentVariable("HOME");
    return home.isEmpty() ? QDir::homePath() : home;
}

QString ConfigHome() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return HomeDir() + QStringLiteral("/.config");
}

} // namespace settingsfile
