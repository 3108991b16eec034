#include "platform/DesktopEntry.h"

#include "platform/SysUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// The value of XDG_DESKTOP_DIR="..." in user-dirs.dirs; the file's own format allows only
// "$HOME/..." or an absolute path inside the quotes, with backslash escapes.
QString DesktopDirValue(const QByteArray &Text, const QString &Home, bool *Found) {
    *Found = false;
    QString Result;
    for (const QByteArray &Raw : Text.split('\n')) {
        const QByteArray Line = Raw.trimmed();
        if (!Line.startsWith("XDG_DESKTOP_DIR"))
            continue;
        const QByteArray Rest = Line.mid(15).trimmed();
        if (!Rest.startsWith('='))
            continue;
        QByteArray Value = Rest.mid(1).trimmed();
        if (Value.size() < 2 || !Value.startsWith('"'))
            continue;
        QByteArray Unquoted;
        bool Closed = false;
        for (int i = 1; i < Value.size(); ++i) {
            const char c = Value[i];
            if (c == '\\' && i + 1 < Value.size()) {
                Unquoted += Value[++i];
            } else if (c == '"') {
                Closed = true;
                break;
            } else {
                Unquoted += c;
            }
        }
        if (!Closed)
            continue;
        QString Path = QString::fromUtf8(Unquoted);
        if (Path == QLatin1String("$HOME") || Path.startsWith(QLatin1String("$HOME/")))
            Path = Home + Path.mid(5);
        else if (!QDir::isAbsolutePath(Path))
            continue;
        // Later lines win, as when the shell sources the file.
        Result = QDir::cleanPath(Path);
        *Found = true;
    }
    return Result;
}

// A Desktop Entry "string" value: backslash, and the control characters the format names.
QString EscapeValue(const QString &S) {
    QString Out;
    for (const QChar c : S) {
        if (c == u'\\')
            Out += QStringLiteral("\\\\");
        else if (c == u'\n')
            Out += QStringLiteral("\\n");
        else if (c == u'\t')
            Out += QStringLiteral("\\t");
        else if (c == u'\r')
            Out += QStringLiteral("\\r");
        else
            Out += c;
    }
    return Out;
}

// One argument of the Exec key: inside double quotes, '"', '`', '$' and '\' take a backslash, and
// a literal '%' is written '%%' since field codes start with it.
QString QuoteExecArgument(const QString &S) {
    QString Out = QStringLiteral("\"");
    for (const QChar c : S) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            Out += u'\\';
        if (c == u'%')
            Out += u'%';
        Out += c;
    }
    return Out + u'"';
}

} // namespace

QString DesktopFolderFrom(const QString &Home, const QString &XdgConfigHome) {
    const QString CleanHome = QDir::cleanPath(Home);
    QFile Dirs(::XdgConfigHome(XdgConfigHome, CleanHome) + QStringLiteral("/user-dirs.dirs"));
    if (Dirs.open(QIODevice::ReadOnly)) {
        bool Found = false;
        const QString Path = DesktopDirValue(Dirs.read(1 << 20), CleanHome, &Found);
        if (Found)
            return Path == CleanHome ? QString() : Path;
    }
    return CleanHome + QStringLiteral("/Desktop");
}

QString DesktopFolder() {
    QString Home = qEnvironmentVariable("HOME");
    if (Home.isEmpty())
        Home = QDir::homePath();
    return DesktopFolderFrom(Home, qEnvironmentVariable("XDG_CONFIG_HOME"));
}

QString DesktopEntryText(const QString &ExePath) {
    const QFileInfo Exe(ExePath);
    QString Folder = Exe.absolutePath();
    if (!Folder.endsWith(u'/'))
        Folder += u'/';
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Version=1.0\n"
                          "Name=Relayvane\n"
                          "Comment=Browse the web through a changing HTTP proxy\n"
                          "Exec=%1\n"
                          "Path=%2\n"
                          "Terminal=false\n"
                          "Categories=Network;\n")
        .arg(EscapeValue(QuoteExecArgument(Exe.absoluteFilePath())), EscapeValue(Folder));
}

bool WriteDesktopEntry(const QString &Folder, const QString &ExePath, QString *Error) {
    auto Fail = [Error](const QString &Msg) {
        if (Error)
            *Error = Msg;
        return false;
    };
    if (Folder.isEmpty())
        return Fail(QStringLiteral("no desktop folder is set up for this user"));
    if (!QFileInfo(Folder).isDir())
        return Fail(QStringLiteral("the desktop folder %1 does not exist").arg(Folder));
    const QString Path = Folder + QStringLiteral("/Relayvane.desktop");
    QSaveFile File(Path);
    if (!File.open(QIODevice::WriteOnly))
        return Fail(QStringLiteral("cannot write %1: %2").arg(Path, File.errorString()));
    File.write(DesktopEntryText(ExePath).toUtf8());
    File.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                        QFileDevice::ExeOther);
    if (!File.commit())
        return Fail(QStringLiteral("cannot write %1: %2").arg(Path, File.errorString()));
    return true;
}
