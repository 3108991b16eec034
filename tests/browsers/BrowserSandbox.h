#pragma once
// A sandbox HOME and XDG_CONFIG_HOME for the browser tests, and helpers to start stand-in
// processes with chosen executable names.

#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace browsertest {

/// Points HOME and XDG_CONFIG_HOME into a fresh temporary folder for the life of the object.
class TSandboxHome {
public:
    TSandboxHome() {
        FOldHome = qgetenv("HOME");
        FOldXdg = qgetenv("XDG_CONFIG_HOME");
        FHadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("HOME", FDir.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (FDir.path() + QStringLiteral("/.config")).toLocal8Bit());
        QDir().mkpath(FDir.path() + QStringLiteral("/.config"));
    }
    ~TSandboxHome() {
        qputenv("HOME", FOldHome);
        if (FHadXdg)
            qputenv("XDG_CONFIG_HOME", FOldXdg);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    QString Home() const { return FDir.path(); }
    QString Config() const { return FDir.path() + QStringLiteral("/.config"); }
    /// Writes a file under the sandbox (folders created); Rel is relative to HOME.
    QString Put(const QString &Rel, const QByteArray &Bytes) const {
        const QString path = FDir.path() + u'/' + Rel;
        QDir().mkpath(QFileInfo(path).absolutePath());
        testsupport::WriteFile(path, Bytes);
        return path;
    }

private:
    QTemporaryDir FDir;
    QByteArray FOldHome, FOldXdg;
    bool FHadXdg = false;
};

/// Copies /bin/sleep to Dir/Name so that a process runs under that executable name.
inline QString SleepCopy(const QString &Dir, const QString &Name) {
    const QString path = Dir + u'/' + Name;
    QFile::remove(path);
    EXPECT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), path));
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
    return path;
}

} // namespace browsertest
