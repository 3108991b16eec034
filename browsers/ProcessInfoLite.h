#pragma once
// The machine's process list, read from /proc and refreshed on a timer, with what the browser
// preparation needs of each process: its executable's name and path, and ending it.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QTimer;
class TProcessCollection;

/// One process of a snapshot: its executable's file name and its identifiers.
class TProcessItemLite {
public:
    TProcessItemLite(TProcessCollection *Collection, const QString &ExeFile, uint32_t ParentProcessID,
                     uint32_t ProcessID, uint64_t StartTime = 0, uint32_t Uid = 0);

    /// The executable's file name without folder (from /proc/PID/exe; comm is cut at 15 characters).
    const QString &ExeFile() const { return FExeFile; }
    uint32_t ParentProcessID() const { return FParentProcessID; }
    uint32_t ProcessID() const { return FProcessID; }
    /// The real user id that owns the process.
    uint32_t Uid() const { return FUid; }
    TProcessCollection *Collection() const { return FCollection; }

    /// Full path of the executable; raises EOSError when it cannot be read.
    QString FullPath() const;
    /// True for a native 64-bit process seen from a 32-bit build of this program (the processes such a
    /// build cannot handle); always false for a 64-bit build. Raises EOSError when the process cannot be read.
    bool Is64Bits() const;
    /// True when the process's executable can be inspected.
    bool IsAccessible() const;
    /// The arguments of the process (argv), empty for kernel threads and unreadable processes.
    QStringList CommandLine() const;
    /// Ends the process with SIGKILL. False when it is gone or not ours to end; raises EOSError otherwise.
    bool TerminateProcess();
    /// Asks the process to end (SIGTERM) and waits up to 1000 ms; true when it ended within that time.
    bool CloseProcess();
    QString ToString() const { return FExeFile; }

private:
    /// A pidfd on the process when it is still the one this item describes (start time checked), else -1.
    int OpenProcess() const;

    TProcessCollection *FCollection;
    QString FExeFile;
    uint32_t FParentProcessID;
    uint32_t FProcessID;
    uint64_t FStartTime;
    uint32_t FUid;
};

class TProcessEnumerator;

/// The ordered list of processes of the last snapshot.
class TProcessCollection {
public:
    explicit TProcessCollection(QObject *Owner = nullptr) : FOwner(Owner) {}

    int Count() const { return static_cast<int>(FItems.size()); }
    TProcessItemLite *Items(int Index) const { return FItems.at(static_cast<size_t>(Index)).get(); }
    TProcessItemLite *Add(const QString &ExeFile, uint32_t ParentProcessID, uint32_t ProcessID, uint64_t StartTime = 0,
                          uint32_t Uid = 0);
    void Clear() { FItems.clear(); }
    QObject *Owner() const { return FOwner; }

    /// First item with that process id, or nullptr.
    TProcessItemLite *FindByID(uint32_t ProcessID) const;
    /// First item whose ExeFile equals AName, ASCII letters compared without case; whole names only.
    TProcessItemLite *FindByName(const QString &AName) const;
    TProcessEnumerator GetEnumerator() const;
    /// Replaces the items by a fresh walk of /proc; raises EOSError when /proc cannot be read.
    void UpdateProcesses();
    /// Local time of the end of the last refresh.
    const QDateTime &LastUpdate() const { return FLastUpdate; }

    // Range-for support over the items.
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    QObject *FOwner;
    std::vector<std::unique_ptr<TProcessItemLite>> FItems;
    QDateTime FLastUpdate;
};

/// Walks the items of a TProcessCollection in order: `while (e.MoveNext()) e.Current()`.
class TProcessEnumerator {
public:
    explicit TProcessEnumerator(const TProcessCollection *Collection) : FCollection(Collection) {}
    bool MoveNext() { return ++FIndex < FCollection->Count(); }
    TProcessItemLite *Current() const { return FCollection->Items(FIndex); }

private:
    int FIndex = -1;
    const TProcessCollection *FCollection;
};

/// Fired before each refresh; setting Cancel skips that refresh.
using TOnBeforeUpdateEvent = std::function<void(QObject *Sender, bool &Cancel)>;
using TNotifyEvent = std::function<void(QObject *Sender)>;

/// The process list of the machine, refreshed every UpdateInterval ms while Active.
class TProcessInfoLite : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(int UpdateInterval READ UpdateInterval WRITE SetUpdateInterval)

public:
    explicit TProcessInfoLite(QObject *Owner = nullptr);
    ~TProcessInfoLite() override;

    bool Active() const;
    /// Enables the refresh timer; switching on also refreshes at once.
    void SetActive(bool Value);
    int UpdateInterval() const;
    void SetUpdateInterval(int Value);

    const TNotifyEvent &OnAfterUpdateList() const { return FOnAfterUpdateList; }
    void SetOnAfterUpdateList(TNotifyEvent Value) { FOnAfterUpdateList = std::move(Value); }
    const TOnBeforeUpdateEvent &OnBeforeUpdateList() const { return FOnBeforeUpdateList; }
    void SetOnBeforeUpdateList(TOnBeforeUpdateEvent Value) { FOnBeforeUpdateList = std::move(Value); }

    /// This program's own process in the current list, or nullptr.
    TProcessItemLite *CurrentProcess();
    /// The list; refreshed first when it is empty.
    TProcessCollection *RunningProcesses();

    /// Fires OnBeforeUpdateList, refreshes unless cancelled, then fires OnAfterUpdateList.
    void UpdateList();

private:
    void TimerTick();

    TProcessItemLite *FCurrentProcess = nullptr;
    TNotifyEvent FOnAfterUpdateList;
    TOnBeforeUpdateEvent FOnBeforeUpdateList;
    std::unique_ptr<TProcessCollection> FRunningProcesses;
    QTimer *FTimer;
};

namespace processinfo {
/// The ELF class byte of an executable file: 1 (32-bit), 2 (64-bit), or 0 when it is no ELF file.
int ElfClassOfFile(const QString &Path);
/// ASCII-only case-insensitive comparison of whole names.
bool SameNameIgnoringAsciiCase(QStringView A, QStringView B);
} // namespace processinfo
