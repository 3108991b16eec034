#include "tests/support/TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

QString DataPath(const QString &Subsystem, const QString &Name) {
    return QStringLiteral(RELAYVANE_TEST_ROOT) + u'/' + Subsystem + QStringLiteral("/data/") + Name;
}

QByteArray ReadFile(const QString &Path) {
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << Path.toStdString();
        return {};
    }
    return f.readAll();
}

void WriteFile(const QString &Path, const QByteArray &Bytes) {
    QFile f(Path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ADD_FAILURE() << "cannot write " << Path.toStdString();
        return;
    }
    f.write(Bytes);
}

int FreeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
}

bool WaitForPort(int Port, std::chrono::milliseconds Timeout) {
    const auto until = std::chrono::steady_clock::now() + Timeout;
    while (std::chrono::steady_clock::now() < until) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(Port));
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

ScopedEnv::ScopedEnv(const char *Name, const char *Value)
    : FName(Name), FHad(qEnvironmentVariableIsSet(Name)), FOld(qgetenv(Name)) {
    if (Value)
        qputenv(Name, QByteArray(Value));
    else
        qunsetenv(Name);
}

ScopedEnv::~ScopedEnv() {
    if (FHad)
        qputenv(FName, FOld);
    else
        qunsetenv(FName);
}

bool WaitForDestroyed(QObject *Object, std::chrono::milliseconds Timeout) {
    QPointer<QObject> alive(Object);
    if (alive) {
        QEventLoop loop;
        QObject::connect(Object, &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer::singleShot(Timeout, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return alive.isNull();
}

int OpenFdCount() {
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

int ThreadCount() {
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::NoDotAndDotDot | QDir::Dirs).size());
}

QString FindProgram(const QString &Name) {
    QString p = QStandardPaths::findExecutable(Name);
    if (p.isEmpty())
        p = QStandardPaths::findExecutable(Name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                  QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/bin")});
    return p;
}

ChildProcess::~ChildProcess() {
    Stop();
}

bool ChildProcess::Start(const QString &Program, const QStringList &Args, const QString &LogFile) {
    Stop();
    QByteArray prog = Program.toLocal8Bit();
    std::vector<QByteArray> store;
    store.push_back(prog);
    for (const auto &a : Args)
        store.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (auto &s : store)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const QByteArray log = LogFile.toLocal8Bit();
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        ::setpgid(0, 0);
        if (!log.isEmpty()) {
            FILE *f = std::fopen(log.constData(), "a");
            if (f) {
                ::dup2(fileno(f), 1);
                ::dup2(fileno(f), 2);
            }
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    FPid = pid;
    return true;
}

bool ChildProcess::Running() {
    if (FPid <= 0)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(FPid, &status, WNOHANG);
    if (r == FPid) {
        FPid = -1;
        return false;
    }
    return true;
}

void ChildProcess::Stop() {
    if (FPid <= 0)
        return;
    ::kill(-FPid, SIGTERM);
    ::kill(FPid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-FPid, SIGKILL);
    ::kill(FPid, SIGKILL);
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
}

int RunProgram(const QString &Program, const QStringList &Args, QByteArray *Stdout, QByteArray *Stderr,
               const QByteArray &Stdin, std::chrono::milliseconds Timeout) {
    QProcess p;
    p.start(Program, Args);
    if (!p.waitForStarted(10000))
        return -1;
    if (!Stdin.isEmpty())
        p.write(Stdin);
    p.closeWriteChannel();
    if (!p.waitForFinished(static_cast<int>(Timeout.count()))) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (Stdout)
        *Stdout = p.readAllStandardOutput();
    if (Stderr)
        *Stderr = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace testsupport
