// The single-instance checks: the per-user lock, the private runtime folder it lives in, and the
// process count by exact executable name.

#include "platform/InstanceLock.h"
#include "platform/SysUtils.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

unsigned Me() {
    return static_cast<unsigned>(::getuid());
}

mode_t ModeOf(const QString &Path) {
    struct stat st {};
    EXPECT_EQ(::lstat(QFile::encodeName(Path).constData(), &st), 0) << Path.toStdString();
    return st.st_mode & 07777;
}

TEST(InstanceLock, OneHolderAtATimeAndFreedWithItsHolder) {
    QTemporaryDir Dir;
    const QString File = Dir.filePath(QStringLiteral("relayvane.lock"));
    auto First = std::make_unique<TInstanceLock>(File);
    ASSERT_TRUE(First->TryAcquire());
    EXPECT_TRUE(First->TryAcquire()) << "asking again keeps the lock";
    // flock belongs to the open file, so a second object in this process competes like a copy.
    TInstanceLock Second(File);
    EXPECT_FALSE(Second.TryAcquire());
    EXPECT_FALSE(Second.Held());
    EXPECT_EQ(ProgramRunningCopies(Second, QStringLiteral("no-such-program-name")), 2);
    First.reset();
    EXPECT_TRUE(Second.TryAcquire()) << "the lock is free once its holder is gone";
    EXPECT_EQ(ProgramRunningCopies(Second, QStringLiteral("no-such-program-name")), 1);
    EXPECT_EQ(ModeOf(File), 0600u);
}

TEST(InstanceLock, ALockFileThatCannotBeOpenedIsAnError) {
    QTemporaryDir Dir;
    // A symbolic link planted where the lock file goes is never followed.
    ASSERT_TRUE(QFile::link(Dir.filePath(QStringLiteral("elsewhere")), Dir.filePath(QStringLiteral("l.lock"))));
    TInstanceLock Linked(Dir.filePath(QStringLiteral("l.lock")));
    EXPECT_THROW(Linked.TryAcquire(), EOSError);
    TInstanceLock Missing(Dir.filePath(QStringLiteral("no/such/folder/l.lock")));
    EXPECT_THROW(Missing.TryAcquire(), EOSError);
}

TEST(RuntimeFolder, PrivateFolderUnderTheSessionsRuntimeDirOrTmp) {
    QTemporaryDir Runtime, Tmp;
    const QString Expected = Runtime.path() + QStringLiteral("/relayvane");
    EXPECT_EQ(RuntimeFolderFrom(Runtime.path(), Tmp.path(), Me()), Expected);
    EXPECT_EQ(ModeOf(Expected), 0700u);

    const QString Fallback = Tmp.path() + QStringLiteral("/relayvane-%1").arg(Me());
    struct TCase {
        const char *Why;
        QString XdgRuntimeDir;
    } Cases[] = {
        {"unset", QString()},
        {"relative", QStringLiteral("run/user")},
        {"missing", Runtime.path() + QStringLiteral("/gone")},
    };
    for (const TCase &C : Cases) {
        EXPECT_EQ(RuntimeFolderFrom(C.XdgRuntimeDir, Tmp.path(), Me()), Fallback) << C.Why;
        EXPECT_EQ(ModeOf(Fallback), 0700u) << C.Why;
    }
}

TEST(RuntimeFolder, AnUnsafeFolderIsRefusedOrClosed) {
    QTemporaryDir Tmp;
    const QString Folder = Tmp.path() + QStringLiteral("/relayvane-%1").arg(Me());
    // Our own folder left open to others is closed again.
    ASSERT_TRUE(QDir().mkdir(Folder));
    ASSERT_EQ(::chmod(QFile::encodeName(Folder).constData(), 0777), 0);
    EXPECT_EQ(RuntimeFolderFrom(QString(), Tmp.path(), Me()), Folder);
    EXPECT_EQ(ModeOf(Folder), 0700u);
    // Someone else's folder (here: "someone" is a uid we are not) is never used.
    EXPECT_THROW(RuntimeFolderFrom(QString(), Tmp.path(), Me() + 1), EOSError);
    // Nor a link, which could lead into a folder another user controls.
    ASSERT_TRUE(QDir(Folder).removeRecursively());
    QTemporaryDir Target;
    ASSERT_TRUE(QFile::link(Target.path(), Folder));
    EXPECT_THROW(RuntimeFolderFrom(QString(), Tmp.path(), Me()), EOSError);
}

TEST(ProcessCount, OnlyTheExactExecutableNameCounts) {
    const QString Sleep = FindProgram(QStringLiteral("sleep"));
    ASSERT_FALSE(Sleep.isEmpty());
    QTemporaryDir Dir;
    // Copies of one program under names that contain each other, as relayvane, relayvane-cli and
    // relayvane-service do; a pid-based suffix keeps parallel runs of this test apart.
    const QString Base = QStringLiteral("rvtestcopy%1").arg(::getpid());
    const QStringList Names{Base, Base + QStringLiteral("-cli"), QStringLiteral("x") + Base};
    std::vector<std::unique_ptr<ChildProcess>> Children;
    for (const QString &Name : Names) {
        const QString Exe = Dir.filePath(Name);
        ASSERT_TRUE(QFile::copy(Sleep, Exe));
        ASSERT_TRUE(QFile::setPermissions(Exe, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        Children.push_back(std::make_unique<ChildProcess>());
        ASSERT_TRUE(Children.back()->Start(Exe, {QStringLiteral("60")}));
    }
    // A second copy of the plain name, from another folder.
    QTemporaryDir Other;
    ASSERT_TRUE(QFile::copy(Sleep, Other.filePath(Base)));
    ASSERT_TRUE(QFile::setPermissions(Other.filePath(Base), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    Children.push_back(std::make_unique<ChildProcess>());
    ASSERT_TRUE(Children.back()->Start(Other.filePath(Base), {QStringLiteral("60")}));

    // The children have exec'd once /proc shows their new executable; poll for it.
    int Count = 0;
    for (int i = 0; i < 500 && Count < 2; ++i) {
        Count = ProcessCountByExeName(Base, Me());
        if (Count < 2)
            ::usleep(10000);
    }
    EXPECT_EQ(Count, 2) << "both copies named exactly " << Base.toStdString() << ", not the -cli one";
    EXPECT_EQ(ProcessCountByExeName(Base + QStringLiteral("-cli"), Me()), 1);
    EXPECT_EQ(ProcessCountByExeName(Base.toUpper(), Me()), 0) << "names are compared as they are";
    EXPECT_EQ(ProcessCountByExeName(Base, Me() + 1), 0) << "other users' processes are not ours";
    EXPECT_EQ(ProcessCountByExeName(QString(), Me()), 0);
}

} // namespace
