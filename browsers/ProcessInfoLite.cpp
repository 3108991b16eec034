#include "browsers/ProcessInfoLite.h"

#include "platform/SysUtils.h"

#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kCloseWaitMs = 1000;

QByteArray ReadSmallFile(const char *Path) {
    const int fd = ::open(Path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
        if (out.size() > 1 << 20)
            break;
    }
    ::close(fd);
    return out;
}

/// readlink into a QString; empty with errno set on failure.
QString ReadLink(const QByteArray &Path) {
    char buf[4096];
    const ssize_t n = ::readlink(Path.constData(), buf, sizeof buf - 1);
    if (n < 0)
        return {};
    return QString::fromLocal8Bit(buf, n);
}

/// An executable replaced on disk while it runs (a browser upgraded under its feet) reads as
/// "PATH (deleted)"; the path itself is what a restart wants.
QString StripDeleted(QString Path) {
    static const QString suffix = QStringLiteral(" (deleted)");
    if (Path.endsWith(suffix))
        Path.chop(suffix.size());
    return Path;
}

QString BaseName(const QString &Path) {
    const qsizetype slash = Path.lastIndexOf(u'/');
    return slash < 0 ? Path : Path.mid(slash + 1);
}

struct TStatLine {
    bool Ok = false;
    QString Comm;
    uint32_t ParentPid = 0;
    uint64_t StartTime = 0;
};

/// Parses /proc/PID/stat: "pid (comm) state ppid ... starttime(22nd field) ...". The command name
/// may itself hold blanks and parentheses, so the fields start after the last ")".
TStatLine ReadStat(uint32_t Pid) {
    TStatLine r;
    const QByteArray path = "/proc/" + QByteArray::number(Pid) + "/stat";
    const QByteArray text = ReadSmallFile(path.constData());
    const qsizetype open = text.indexOf('(');
    const qsizetype close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return r;
    r.Comm = QString::fromLocal8Bit(text.mid(open + 1, close - open - 1));
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // fields[0] is field 3 (state), so field N sits at index N - 3.
    if (fields.size() < 20)
        return r;
    r.ParentPid = fields[1].toUInt();
    r.StartTime = fields[19].toULongLong();
    r.Ok = true;
    return r;
}

int PidfdOpen(pid_t Pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
#else
    errno = ENOSYS;
    return -1;
#endif
}

int PidfdSendSignal(int Fd, pid_t Pid, int Signal) {
#ifdef SYS_pidfd_send_signal
    const int r = static_cast<int>(::syscall(SYS_pidfd_send_signal, Fd, Signal, nullptr, 0));
    if (r == 0 || errno != ENOSYS)
        return r;
#endif
    (void)Fd;
    return ::kill(Pid, Signal);
}

/// True once the process has ended: it is gone, or it is a zombie waiting for its parent.
bool ProcessEnded(uint32_t Pid) {
    const QByteArray path = "/proc/" + QByteArray::number(Pid) + "/stat";
    const QByteArray text = ReadSmallFile(path.constData());
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0 || close + 2 >= text.size())
        return true;
    const char state = text.at(close + 2);
    return state == 'Z' || state == 'X';
}

} // namespace

namespace processinfo {

int ElfClassOfFile(const QString &Path) {
    const int fd = ::open(Path.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    unsigned char ident[5] = {};
    const ssize_t n = ::read(fd, ident, sizeof ident);
    ::close(fd);
    if (n != 5 || std::memcmp(ident,
                              "\x7f"
                              "ELF",
                              4) != 0)
        return 0;
    return ident[4] == 1 || ident[4] == 2 ? ident[4] : 0;
}

bool SameNameIgnoringAsciiCase(QStringView A, QStringView B) {
    if (A.size() != B.size())
        return false;
    for (qsizetype i = 0; i < A.size(); ++i) {
        char16_t a = A[i].unicode(), b = B[i].unicode();
        if (a >= u'a' && a <= u'z')
            a = static_cast<char16_t>(a - 32);
        if (b >= u'a' && b <= u'z')
            b = static_cast<char16_t>(b - 32);
        if (a != b)
            return false;
    }
    return true;
}

} // namespace processinfo

// ---- TProcessItemLite ----

TProcessItemLite::TProcessItemLite(TProcessCollection *Collection, const QString &ExeFile, uint32_t ParentProcessID,
                                   uint32_t ProcessID, uint64_t StartTime, uint32_t Uid)
    : FCollection(Collection), FExeFile(ExeFile.trimmed()), FParentProcessID(ParentProcessID), FProcessID(ProcessID),
      FStartTime(StartTime), FUid(Uid) {}

QString TProcessItemLite::FullPath() const {
    const QByteArray link = "/proc/" + QByteArray::number(FProcessID) + "/exe";
    const QString path = ReadLink(link);
    if (path.isEmpty())
        RaiseLastOSError(errno ? errno : ENOENT, QStringLiteral("process %1").arg(FProcessID));
    return StripDeleted(path).trimmed();
}

bool TProcessItemLite::Is64Bits() const {
    const QString link = QStringLiteral("/proc/%1/exe").arg(FProcessID);
    const int fd = ::open(link.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        RaiseLastOSError(errno, QStringLiteral("process %1").arg(FProcessID));
    ::close(fd);
    // Only a 32-bit build of ours meets processes it cannot handle: native 64-bit ones.
    constexpr int ours = sizeof(void *) == 8 ? 2 : 1;
    return ours == 1 && processinfo::ElfClassOfFile(link) == 2;
}

bool TProcessItemLite::IsAccessible() const {
    const QByteArray link = "/proc/" + QByteArray::number(FProcessID) + "/exe";
    return !ReadLink(link).isEmpty();
}

QStringList TProcessItemLite::CommandLine() const {
    const QByteArray path = "/proc/" + QByteArray::number(FProcessID) + "/cmdline";
    QByteArray raw = ReadSmallFile(path.constData());
    if (raw.endsWith('\0'))
        raw.chop(1);
    QStringList args;
    if (raw.isEmpty())
        return args;
    for (const QByteArray &a : raw.split('\0'))
        args << QString::fromLocal8Bit(a);
    return args;
}

int TProcessItemLite::OpenProcess() const {
    const int fd = PidfdOpen(static_cast<pid_t>(FProcessID));
    if (fd < 0 && errno != ENOSYS)
        return -1;
    // The process id may have been given to another process since the snapshot: compare start times.
    if (FStartTime != 0) {
        const TStatLine st = ReadStat(FProcessID);
        if (!st.Ok || st.StartTime != FStartTime) {
            if (fd >= 0)
                ::close(fd);
            errno = ESRCH;
            return -1;
        }
    }
    return fd < 0 ? -2 : fd; // -2: no pidfd support, signal by pid
}

bool TProcessItemLite::TerminateProcess() {
    const int fd = OpenProcess();
    if (fd == -1)
        return false;
    const int r = PidfdSendSignal(fd, static_cast<pid_t>(FProcessID), SIGKILL);
    const int err = errno;
    if (fd >= 0)
        ::close(fd);
    if (r == 0)
        return true;
    if (err == EPERM || err == ESRCH)
        return false;
    RaiseLastOSError(err, QStringLiteral("process %1").arg(FProcessID));
}

bool TProcessItemLite::CloseProcess() {
    const int fd = OpenProcess();
    if (fd == -1)
        return false;
    if (PidfdSendSignal(fd, static_cast<pid_t>(FProcessID), SIGTERM) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    bool ended = false;
    if (fd >= 0) {
        // A pidfd becomes readable when the process ends, whoever its parent is.
        pollfd p{fd, POLLIN, 0};
        int r;
        do {
            r = ::poll(&p, 1, kCloseWaitMs);
        } while (r < 0 && errno == EINTR);
        ended = r > 0;
        ::close(fd);
    } else {
        for (int waited = 0; waited <= kCloseWaitMs && !ended; waited += 10) {
            ended = ProcessEnded(FProcessID);
            if (!ended)
                ::usleep(10000);
        }
    }
    return ended;
}

// ---- TProcessCollection ----

TProcessItemLite *TProcessCollection::Add(const QString &ExeFile, uint32_t ParentProcessID, uint32_t ProcessID,
                                          uint64_t StartTime, uint32_t Uid) {
    FItems.push_back(std::make_unique<TProcessItemLite>(this, ExeFile, ParentProcessID, ProcessID, StartTime, Uid));
    return FItems.back().get();
}

TProcessItemLite *TProcessCollection::FindByID(uint32_t ProcessID) const {
    for (const auto &item : FItems)
        if (item->ProcessID() == ProcessID)
            return item.get();
    return nullptr;
}

TProcessItemLite *TProcessCollection::FindByName(const QString &AName) const {
    for (const auto &item : FItems)
        if (processinfo::SameNameIgnoringAsciiCase(item->ExeFile(), AName))
            return item.get();
    return nullptr;
}

TProcessEnumerator TProcessCollection::GetEnumerator() const {
    return TProcessEnumerator(this);
}

void TProcessCollection::UpdateProcesses() {
    struct Stamp {
        QDateTime &When;
        ~Stamp() { When = QDateTime::currentDateTime(); }
    } stamp{FLastUpdate};

    FItems.clear();
    DIR *dir = ::opendir("/proc");
    if (!dir)
        RaiseLastOSError(errno, QStringLiteral("/proc"));
    while (const dirent *e = ::readdir(dir)) {
        char *endp = nullptr;
        const unsigned long pid = std::strtoul(e->d_name, &endp, 10);
        if (!endp || *endp != '\0' || pid == 0)
            continue;
        const TStatLine st = ReadStat(static_cast<uint32_t>(pid));
        if (!st.Ok)
            continue; // ended while we walked
        const QByteArray base = "/proc/" + QByteArray(e->d_name);
        struct stat sb {};
        const uint32_t uid = ::stat(base.constData(), &sb) == 0 ? sb.st_uid : 0;
        // The executable's own name: comm is cut at 15 characters and may be renamed by the
        // program, so the exe link comes first; argv[0] helps where the link is not ours to read.
        QString name = BaseName(StripDeleted(ReadLink(base + "/exe")));
        if (name.isEmpty()) {
            name = st.Comm;
            if (name.size() >= 15) {
                const QByteArray cmd = ReadSmallFile((base + "/cmdline").constData());
                const QString argv0 = BaseName(QString::fromLocal8Bit(cmd.left(cmd.indexOf('\0'))));
                if (argv0.startsWith(name))
                    name = argv0;
            }
        }
        Add(name, st.ParentPid, static_cast<uint32_t>(pid), st.StartTime, uid);
    }
    ::closedir(dir);
}

// ---- TProcessInfoLite ----

TProcessInfoLite::TProcessInfoLite(QObject *Owner)
    : QObject(Owner), FRunningProcesses(std::make_unique<TProcessCollection>(this)), FTimer(new QTimer(this)) {
    FTimer->setInterval(1000);
    connect(FTimer, &QTimer::timeout, this, &TProcessInfoLite::TimerTick);
}

TProcessInfoLite::~TProcessInfoLite() = default;

bool TProcessInfoLite::Active() const {
    return FTimer->isActive();
}

void TProcessInfoLite::SetActive(bool Value) {
    if (Value) {
        FTimer->start();
        UpdateList();
    } else {
        FTimer->stop();
    }
}

int TProcessInfoLite::UpdateInterval() const {
    return FTimer->interval();
}

void TProcessInfoLite::SetUpdateInterval(int Value) {
    if (Value != FTimer->interval())
        FTimer->setInterval(Value);
}

TProcessItemLite *TProcessInfoLite::CurrentProcess() {
    FCurrentProcess = RunningProcesses()->FindByID(static_cast<uint32_t>(::getpid()));
    return FCurrentProcess;
}

TProcessCollection *TProcessInfoLite::RunningProcesses() {
    if (FRunningProcesses->Count() == 0)
        FRunningProcesses->UpdateProcesses();
    return FRunningProcesses.get();
}

void TProcessInfoLite::UpdateList() {
    bool cancel = false;
    if (FOnBeforeUpdateList)
        FOnBeforeUpdateList(this, cancel);
    if (cancel)
        return;
    FCurrentProcess = nullptr; // the items are replaced
    FRunningProcesses->UpdateProcesses();
    if (FOnAfterUpdateList)
        FOnAfterUpdateList(this);
}

void TProcessInfoLite::TimerTick() {
    // A timer has no caller to hand an error to; a failed refresh leaves the list empty until the next one.
    try {
        UpdateList();
    } catch (const Exception &) {
    }
}
