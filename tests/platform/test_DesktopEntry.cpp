// The first-run desktop launcher: where the desktop is, what the launcher says, how it is written.

#include "platform/DesktopEntry.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

TEST(DesktopEntry, FindsTheDesktopAsXdgUserDirDoes) {
    struct TCase {
        const char *Why;
        const char *UserDirs; // nullptr: no user-dirs.dirs
        const char *Expected; // relative to HOME unless absolute; "" for no desktop
    } Cases[] = {
        {"no file", nullptr, "Desktop"},
        {"localised", "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", "Schreibtisch"},
        {"absolute", "XDG_DESKTOP_DIR=\"/srv/desk\"\n", "/srv/desk"},
        {"escaped quote", "XDG_DESKTOP_DIR=\"$HOME/my \\\"desk\\\"\"\n", "my \"desk\""},
        {"the last line wins", "XDG_DESKTOP_DIR=\"$HOME/a\"\nXDG_DESKTOP_DIR=\"$HOME/b\"\n", "b"},
        {"other keys only", "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", "Desktop"},
        {"relative value is not valid", "XDG_DESKTOP_DIR=\"desk\"\n", "Desktop"},
        {"unterminated quote", "XDG_DESKTOP_DIR=\"$HOME/desk\n", "Desktop"},
        {"set to home means none", "XDG_DESKTOP_DIR=\"$HOME/\"\n", ""},
    };
    for (const TCase &C : Cases) {
        QTemporaryDir Home;
        const QString Config = Home.filePath(QStringLiteral(".config"));
        QDir().mkpath(Config);
        if (C.UserDirs)
            WriteFile(Config + QStringLiteral("/user-dirs.dirs"), C.UserDirs);
        const QString E = QString::fromUtf8(C.Expected);
        const QString Expected = E.isEmpty() ? QString() : QDir::isAbsolutePath(E) ? E : Home.path() + u'/' + E;
        EXPECT_EQ(DesktopFolderFrom(Home.path(), QString()), Expected) << C.Why;
        // A relative XDG_CONFIG_HOME is ignored; an absolute one is where the file is looked for.
        EXPECT_EQ(DesktopFolderFrom(Home.path(), QStringLiteral(".config")), Expected) << C.Why;
        EXPECT_EQ(DesktopFolderFrom(Home.path(), Home.filePath(QStringLiteral("elsewhere"))),
                  Home.path() + QStringLiteral("/Desktop"))
            << C.Why;
    }
}

TEST(DesktopEntry, LaunchesTheExecutableInItsFolderWhateverItsPath) {
    const QString Text = DesktopEntryText(QStringLiteral("/opt/relay vane/\"v$2\"/bin/relayvane"));
    const QStringList Lines = Text.split(u'\n');
    EXPECT_EQ(Lines.first(), QStringLiteral("[Desktop Entry]"));
    EXPECT_TRUE(Lines.contains(QStringLiteral("Type=Application")));
    EXPECT_TRUE(Lines.contains(QStringLiteral("Name=Relayvane")));
    // Inside the quotes of Exec '"' and '$' take a backslash, and the value escapes backslashes.
    EXPECT_TRUE(Lines.contains(QStringLiteral("Exec=\"/opt/relay vane/\\\\\"v\\\\$2\\\\\"/bin/relayvane\"")))
        << Text.toStdString();
    EXPECT_TRUE(Lines.contains(QStringLiteral("Path=/opt/relay vane/\"v$2\"/bin/"))) << Text.toStdString();
    EXPECT_TRUE(
        DesktopEntryText(QStringLiteral("/usr/bin/100%relay")).contains(QStringLiteral("Exec=\"/usr/bin/100%%relay\"")))
        << "a literal % is not a field code";
}

TEST(DesktopEntry, WritesOneRunnableLauncherOrSaysWhyNot) {
    QTemporaryDir Desk;
    QString Error;
    ASSERT_TRUE(WriteDesktopEntry(Desk.path(), QStringLiteral("/usr/bin/relayvane"), &Error)) << Error.toStdString();
    ASSERT_TRUE(WriteDesktopEntry(Desk.path(), QStringLiteral("/usr/local/bin/relayvane"), &Error));
    EXPECT_EQ(QDir(Desk.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Relayvane.desktop")})
        << "replaced whole, no temporary files left";
    const QString File = Desk.filePath(QStringLiteral("Relayvane.desktop"));
    EXPECT_EQ(ReadFile(File), DesktopEntryText(QStringLiteral("/usr/local/bin/relayvane")).toUtf8());
    EXPECT_TRUE(QFileInfo(File).isExecutable()) << "desktops run launchers that are executable";

    struct TCase {
        const char *Why;
        QString Folder;
    } Failures[] = {
        {"no desktop folder", QString()},
        {"missing folder", Desk.filePath(QStringLiteral("gone"))},
    };
    for (const TCase &C : Failures) {
        Error.clear();
        EXPECT_FALSE(WriteDesktopEntry(C.Folder, QStringLiteral("/usr/bin/relayvane"), &Error)) << C.Why;
        EXPECT_FALSE(Error.isEmpty()) << C.Why;
    }
    EXPECT_FALSE(QFileInfo::exists(Desk.filePath(QStringLiteral("gone")))) << "a missing desktop is not made up";
}

} // namespace
