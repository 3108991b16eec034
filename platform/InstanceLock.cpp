#include "platform/InstanceLock.h"

#include "platform/SysUtils.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Makes Path a private folder of Uid, or says why it cannot be one.
void EnsurePrivateFolder(const QString &Path, unsigned Uid) {
    const QByteArray p = QFile::encodeName(Path);
    if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST)
        RaiseLastOSError(errno, QStringLiteral("cannot create the folder %1").arg(Path));
    struct stat st {};
    if (::lstat(p.constData(), &st) != 0)
        RaiseLastOSError(errno, QStringLiteral("cannot inspect the folder %1").arg(Path));
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
        throw EOSError(
            ENOTDIR, QStringLiteral("%1 is not a folder of its own (a link or a file); refusing to use it").arg(Path));
    if (st.st_uid != Uid)
        throw EOSError(EPERM, QStringLiteral("the folder %1 belongs to another user; refusing to use it").arg(Path));
    if ((st.st_mode & 077) != 0 && ::chmod(p.constData(), 0700) != 0)
        RaiseLastOSError(errno, QStringLiteral("the folder %1 is open to other users and cannot be closed").arg(Path));
}

} // namespace

QString RuntimeFolderFrom(const QString &XdgRuntimeDir, const QString &TmpDir, unsigned Uid) {
    // XDG_RUNTIME_DIR only counts when it is an absolute path to an existing folder.
    if (!XdgRuntimeDir.isEmpty() && QDir::isAbsolutePath(XdgRuntimeDir) && QFileInfo(XdgRuntimeDir).isDir()) {
        const QString Folder = QDir::cleanPath(XdgRuntimeDir) + QStringLiteral("/relayvane");
        EnsurePrivateFolder(Folder, Uid);
        return Folder;
    }
    const QString Tmp = TmpDir.isEmpty() ? QStringLiteral("/tmp") : QDir::cleanPath(TmpDir);
    const QString Folder = Tmp + QStringLiteral("/relayvane-%1").arg(Uid);
    EnsurePrivateFolder(Folder, Uid);
    return Folder;
}

QString RuntimeFolder() {
    return RuntimeFolderFrom(qEnvironmentVariable("XDG_RUNTIME_DIR"), qEnvironmentVariable("TMPDIR"),
                             static_cast<unsigned>(::getuid()));
}

int ProcessCountByExeName(const QString &ExeName, unsigned Uid) {
    if (ExeName.isEmpty())
        return 0;
    DIR *Proc = ::opendir("/proc");
    if (!Proc)
        return 0;
    int Count = 0;
    const QString Deleted = QStringLiteral(" (deleted)");
    while (const dirent *Entry = ::readdir(Proc)) {
        const char *Name = Entry->d_name;
        if (!*Name || !std::all_of(Name, Name + std::strlen(Name), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const QByteArray Dir = QByteArray("/proc/") + Name;
        struct stat st {};
        if (::stat(Dir.constData(), &st) != 0 || st.st_uid != Uid)
            continue;
        char Target[4096];
        const ssize_t n = ::readlink((Dir + "/exe").constData(), Target, sizeof Target - 1);
        if (n <= 0)
            continue;
        QString Exe = QFile::decodeName(QByteArray(Target, static_cast<int>(n)));
        // An executable replaced on disk (an update while it runs) is still the same program.
        if (Exe.endsWith(Deleted))
            Exe.chop(Deleted.size());
        if (QFileInfo(Exe).fileName() == ExeName)
            ++Count;
    }
    ::closedir(Proc);
    return Count;
}

TInstanceLock::TInstanceLock(QString LockFile) : FLockFile(std::move(LockFile)) {}

TInstanceLock::~TInstanceLock() {
    // Closing the descriptor releases the lock; the file stays so that no copy ever locks a file
    // another copy has just unlinked.
    if (FFd >= 0)
        ::close(FFd);
}

bool TInstanceLock::TryAcquire() {
    if (FFd >= 0)
        return true;
    const int Fd = ::open(QFile::encodeName(FLockFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (Fd < 0)
        RaiseLastOSError(errno, QStringLiteral("cannot open the lock file %1").arg(FLockFile));
    if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
        const int Err = errno;
        ::close(Fd);
        if (Err == EWOULDBLOCK)
            return false;
        RaiseLastOSError(Err, QStringLiteral("cannot lock %1").arg(FLockFile));
    }
    FFd = Fd;
    // The holder's process id, for a person who wonders which copy runs.
    const QByteArray Pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    if (::ftruncate(FFd, 0) == 0 && ::write(FFd, Pid.constData(), static_cast<size_t>(Pid.size())) < 0) {
        // Only informative; the lock itself is what counts.
    }
    return true;
}

int ProgramRunningCopies(TInstanceLock &Lock, const QString &OwnExeName) {
    if (!Lock.TryAcquire())
        return 2;
    return std::max(1, ProcessCountByExeName(OwnExeName, static_cast<unsigned>(::getuid())));
}
