#pragma once
// Helpers shared by the tests: temporary folders, fixture paths, loopback ports, child processes.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <sys/types.h>

class QObject;

namespace testsupport {

/// Absolute path of a fixture file under tests/<subsystem>/data.
QString DataPath(const QString &Subsystem, const QString &Name);
/// The whole content of a file; fails the test when it cannot be read.
QByteArray ReadFile(const QString &Path);
void WriteFile(const QString &Path, const QByteArray &Bytes);

/// A free TCP port on 127.0.0.1 (bound then released).
int FreeTcpPort();
/// Polls until a TCP connect to 127.0.0.1:Port succeeds; false after Timeout.
bool WaitForPort(int Port, std::chrono::milliseconds Timeout = std::chrono::seconds(10));

/// Runs the event loop until Object is destroyed (objects that free themselves when their work
/// ends, such as the download threads) or Timeout passes; true when it was destroyed.
bool WaitForDestroyed(QObject *Object, std::chrono::milliseconds Timeout = std::chrono::seconds(20));

/// Number of open descriptors and of threads of this process (from /proc/self).
int OpenFdCount();
int ThreadCount();

/// Finds an executable on PATH or in the usual sbin folders; empty when missing.
QString FindProgram(const QString &Name);

/// Sets an environment variable for the life of the object (a null Value unsets it), then puts the
/// earlier state back.
class ScopedEnv {
public:
    ScopedEnv(const char *Name, const QByteArray &Value) : ScopedEnv(Name, Value.constData()) {}
    ScopedEnv(const char *Name, const char *Value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *FName;
    bool FHad;
    QByteArray FOld;
};

/// A child process that is ended (SIGTERM, then SIGKILL) when the object goes away.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    /// Starts Program with Args; stdout and stderr go to LogFile when given. False on failure.
    bool Start(const QString &Program, const QStringList &Args, const QString &LogFile = QString());
    void Stop();
    bool Running();
    pid_t Pid() const { return FPid; }

private:
    pid_t FPid = -1;
};

/// Runs a program to its end and returns its exit status (-1 when it could not run); output captured.
int RunProgram(const QString &Program, const QStringList &Args, QByteArray *Stdout = nullptr,
               QByteArray *Stderr = nullptr, const QByteArray &Stdin = QByteArray(),
               std::chrono::milliseconds Timeout = std::chrono::seconds(60));

} // namespace testsupport
