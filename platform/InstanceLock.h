#pragma once
// One copy of the program per user. Two checks together: a lock on a file in the user's private
// runtime folder (race-free: two copies started in the same instant cannot both win it), and the
// count of running processes whose executable bears exactly the program's file name (copies of
// this user in another session, whose runtime folder differs, are seen too). The name must match
// whole: our own relayvane-cli and relayvane-service contain "relayvane" but are other programs.

#include <QString>

/// The user's private folder for the lock and the control socket: $XDG_RUNTIME_DIR/relayvane, or
/// /tmp/relayvane-<uid> when the session has no runtime folder. Created with mode 0700; a folder
/// that is a symbolic link, belongs to someone else or is open to others (and cannot be closed)
/// raises EOSError, since a socket or lock there could be taken over by another user.
QString RuntimeFolder();
/// The same rule with the environment given (for tests); Uid is the owner the folder must have.
QString RuntimeFolderFrom(const QString &XdgRuntimeDir, const QString &TmpDir, unsigned Uid);

/// Number of running processes of user Uid whose executable's file name equals ExeName exactly
/// (from /proc/<pid>/exe; processes whose executable cannot be read are not counted).
int ProcessCountByExeName(const QString &ExeName, unsigned Uid);

/// An exclusive, non-blocking flock on a file; held until the object goes away. The descriptor is
/// close-on-exec, so programs the holder starts never keep the lock alive after it ends.
class TInstanceLock {
public:
    explicit TInstanceLock(QString LockFile);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock &) = delete;
    TInstanceLock &operator=(const TInstanceLock &) = delete;

    /// True when this object holds the lock now (tries once more when it does not). Raises
    /// EOSError when the lock file cannot be opened at all.
    bool TryAcquire();
    bool Held() const { return FFd >= 0; }
    QString LockFile() const { return FLockFile; }

private:
    QString FLockFile;
    int FFd = -1;
};

/// The running copies of this program as the start-up counts them, this one included: 2 when
/// another process holds the per-user lock, otherwise the number of this user's processes named
/// like our executable (at least 1). Lock is acquired on the way and kept by the caller.
int ProgramRunningCopies(TInstanceLock &Lock, const QString &OwnExeName);
