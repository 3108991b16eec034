#include "config/ConfigFile.h"

#include "platform/SysUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

QString ConfigOptionFromArguments(const QStringList &Args) {
    QString path;
    for (qsizetype i = 0; i < Args.size(); ++i) {
        const QString &a = Args.at(i);
        if (a == QLatin1String("--config") && i + 1 < Args.size())
            path = Args.at(++i);
        else if (a.startsWith(QLatin1String("--config=")))
            path = a.mid(9);
    }
    return path;
}

QString ConfigFilePathFrom(const TConfigPathSources &Sources) {
    static const QString name = QStringLiteral("config.cfg");
    if (!Sources.CommandLine.isEmpty())
        return Sources.CommandLine;
    if (!Sources.Environment.isEmpty())
        return Sources.Environment;
    if (!Sources.ExecutableDir.isEmpty()) {
        const bool writable = Sources.IsWritableDir
                                  ? Sources.IsWritableDir(Sources.ExecutableDir)
                                  : ::access(QFile::encodeName(Sources.ExecutableDir).constData(), W_OK) == 0;
        if (writable)
            return QDir(Sources.ExecutableDir).filePath(name);
    }
    const QString base = XdgConfigHome(Sources.XdgConfigHome, Sources.Home.isEmpty() ? QDir::homePath() : Sources.Home);
    return QDir(base).filePath(QStringLiteral("relayvane/") + name);
}

static QString ExecutableDir() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

QString ConfigFilePath(const QString &CommandLinePath) {
    TConfigPathSources s;
    s.CommandLine = CommandLinePath;
    s.Environment = qEnvironmentVariable("RELAYVANE_CONFIG");
    s.ExecutableDir = ExecutableDir();
    s.XdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    s.Home = qEnvironmentVariable("HOME");
    return ConfigFilePathFrom(s);
}

QString MoveAsideBadFile(const QString &FileName) {
    for (int n = 1; n < 1000; ++n) {
        const QString aside = FileName + (n == 1 ? QStringLiteral(".bad") : QStringLiteral(".bad.%1").arg(n));
        const QByteArray from = QFile::encodeName(FileName);
        const QByteArray to = QFile::encodeName(aside);
        // link + unlink instead of rename: rename would silently replace a bad file that appeared
        // meanwhile; link fails with EEXIST instead.
        if (::link(from.constData(), to.constData()) == 0) {
            ::unlink(from.constData());
            return aside;
        }
        if (errno == EEXIST)
            continue;
        // A file system without hard links: fall back to rename after checking the name is free, and
        // when even that fails, to a copy, so the next save cannot destroy the only copy of the file.
        if (!QFileInfo::exists(aside) &&
            (::rename(from.constData(), to.constData()) == 0 || QFile::copy(FileName, aside)))
            return aside;
        return QString();
    }
    return QString();
}

TConfigLoadResult LoadConfigOrDefaults(TSaveLoadComponent &Config, const QString &FileName) {
    TConfigLoadResult r;
    if (!QFileInfo::exists(FileName)) {
        r.Status = TConfigLoadResult::clMissing;
        return r;
    }
    try {
        Config.LoadFromFile(FileName);
        r.Status = TConfigLoadResult::clLoaded;
        return r;
    } catch (const EReadError &e) {
        r.Error = e.Message();
    } catch (const EInOutError &e) {
        r.Error = e.Message();
    }
    r.Status = TConfigLoadResult::clUnreadable;
    if (!QFileInfo(FileName).isDir()) // a folder in the file's place is left for the user to sort out
        r.MovedTo = MoveAsideBadFile(FileName);
    if (!r.MovedTo.isEmpty())
        r.Error += QStringLiteral("; the file was kept as \"%1\" and the defaults are used").arg(r.MovedTo);
    else
        r.Error += QStringLiteral("; the defaults are used");
    return r;
}
