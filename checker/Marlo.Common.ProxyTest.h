#pragma once
// The proxy checker: TKvProxyTest runs one check job at a time over a list of proxy records with
// a number of TProxyCheck worker threads. All of the scheduler's state lives on the main thread;
// the workers reach it only through blocking hand-offs to the main thread.

#include "catalogue/Marlo.Common.MyExceptions.h"
#include "catalogue/Marlo.Common.ProxyList.h"
#include "catalogue/Marlo.Common.RecentItems.h"
#include "platform/HttpClient.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class TKvProxyTest;
class TProxyCheck;

/// The tests of a job.
enum TTestType : quint8 { ttDeadOrAlive, ttTest1, ttTest1NoBootnet, ttHttps, ttSpeed };

/// A set of TTestType, one byte with bit n for the value of ordinal n.
struct TTests {
    quint8 Bits = 0;
    TTests() = default;
    TTests(std::initializer_list<TTestType> Types) {
        for (TTestType t : Types)
            Bits |= quint8(1u << t);
    }
    bool Contains(TTestType t) const { return Bits & (1u << t); }
    bool operator==(const TTests &) const = default;
};

/// The state reported for a proxy.
enum TChackAction { caPending, caChacking, caDone, caError };

/// Progress of a single proxy; Proxy may be null (a worker before its first or after its last proxy).
using TProxyTestEvent = std::function<void(QObject *Sender, TProxtData *Proxy, TChackAction Action)>;
using TNotifyEvent = std::function<void(QObject *Sender)>;

/// A job was started while workers run.
class EThreadsRunning : public Exception {
public:
    using Exception::Exception;
};

/// The platform's HTTP client under the checker's name.
using TidHttpEx = THttpClient;

/// Local date-time, days since 1899-12-30, of the local wall clock.
double NowLocalDateTime();
/// Seconds since 1970-01-01 00:00:00 of the same local clock (no time-zone correction), with the fraction.
double LocalUnixTime(double t);

/// The judge reply's first line.
inline constexpr const char *JudgeReplyMarker = "Qm7RvK2pLc9WnT4z";

/// A check worker: judge probe, then the requested tests for every proxy it takes from its scheduler.
class TProxyCheck : public QThread {
    Q_OBJECT
public:
    explicit TProxyCheck(TKvProxyTest *AOwner);
    ~TProxyCheck() override;

    TProxtData *CurrentProxy() const { return FCurrentProxy; }
    TChackAction WorkSt() const { return FWorkSt; }
    QString OwnAddress() const { return FOwnAddress; }
    long double ClockOffset() const { return FClockOffset; }

    /// Closes the worker's connections so that it unwinds at once; the results of the proxy under
    /// test stay as they were. Any thread.
    void AbortTransfers();
    bool Killed() const { return FKilled.load(); }

protected:
    void run() override;

    // The worker's requests, one virtual call each so that tests can put fakes in their place.
    /// The judge probe: a direct GET of Url, no read time-out of its own.
    virtual QByteArray ProbeGet(const QString &Url);
    /// A GET of Url through the proxy under test with the pass's client.
    virtual QByteArray ProxyGet(const QString &Url);
    /// The judge test's multipart POST through the proxy under test.
    virtual QByteArray ProxyPost(const QString &Url, const TMultiPartFormData &Form);
    /// The HTTPS test's page text, fetched by a fresh WinInet-style client through the proxy under test.
    virtual QStringList HttpsFetch(const QString &Url);
    /// The clock of the speed test, ms.
    virtual qint64 SpeedClockMs();

    bool StopRequested() const { return isInterruptionRequested() || FKilled.load(); }

private:
    friend class TKvProxyTest;
    void Report();
    void PickJudge();
    void TakeNextProxy();
    bool LivenessTest();
    void JudgeTest();
    void HttpsTest();
    void SpeedTest();
    void NewClient();
    void ClearClient();

public:
    // Settings given by the scheduler before the start.
    TKvProxyTest *FOwner;
    int FTimeOut = 10000;
    TTests FTests;
    TProxtData *FCurrentProxy = nullptr;
    TResentItem FHttpURL;
    TResentItem FHttpsURL;
    QString FSpeedURL;
    QString FTypeURL;
    std::unique_ptr<TidHttpEx> idHttp;
    int FTimeOutSpeed = 30000;
    TChackAction FWorkSt = caPending;
    /// Inactivity time-out of the HTTPS test's client, seconds.
    int FHttpsTimeout = 90;

private:
    QString FOwnAddress;
    long double FClockOffset = 0;
    std::atomic<bool> FKilled{false};
    std::mutex FClientLock; // guards idHttp and FHttps for AbortTransfers from another thread
    std::shared_ptr<std::atomic<bool>> FAbortSignal;
};

/// The check scheduler: proxies, test sites, workers, progress and end-of-job events.
class TKvProxyTest : public QObject {
    Q_OBJECT
public:
    explicit TKvProxyTest(QObject *AOwner = nullptr);
    ~TKvProxyTest() override;

    void ClearProxyList();
    void AddProxyServer(TProxtData *Proxy);
    void AddHttpSiteUrl(const QString &URL, const QString &inName);
    void AddHttpsSiteUrl(const QString &URL, const QString &inName);
    void AddSpeedSiteUrl(const QString &URL);
    void AddTypeSiteUrl(const QString &URL);

    /// Starts a job; raises EJobAlreadyActive "Job is already running" while one runs.
    void CheckProxyServer(TTests TestType, int Timeout, int Timeoutspeed, quint8 Threads);
    /// Asks every worker to stop after its current test; with FoceKill, workers still running after
    /// KillTimer ms have their connections closed and are reported done.
    void StopTest(bool FoceKill, int KillTimer);
    bool IsThreadsActive() const { return !FThreads.isEmpty(); }

    TProxyTestEvent OnProxyTest() const { return FOnProxyTest; }
    void SetOnProxyTest(TProxyTestEvent Handler) { FOnProxyTest = std::move(Handler); }
    TNotifyEvent OnJobEnd() const { return FOnJobEnd; }
    void SetOnJobEnd(TNotifyEvent Handler) { FOnJobEnd = std::move(Handler); }

    /// Inactivity time-out of the HTTPS test in seconds (90; tests make it short).
    int HttpsTimeout() const { return FHttpsTimeout; }
    void SetHttpsTimeout(int Seconds) { FHttpsTimeout = Seconds; }

    const QList<TProxtData *> &Proxies() const { return FProxy; }
    const TResentItems &HttpList() const { return *FHttpList; }
    const TResentItems &HttpsList() const { return *FHttpsList; }
    const QStringList &SpeedList() const { return FSpeedList; }
    const QStringList &TypeList() const { return FTypeList; }
    int ProcessedJobCount() const { return FProcessedJobCount; }
    /// Workers of the current job that have not ended.
    const QList<TProxyCheck *> &Threads() const { return FThreads; }
    bool KillTimerActive() const { return FKillTimer->isActive(); }

    // The three hand-offs; a worker calls them from its own thread and waits for the main thread.
    void NextProxy(TProxyCheck *Worker);
    void PickJudge(TProxyCheck *Worker);
    void ReportState(TProxyCheck *Worker);

protected:
    /// Makes a worker (suspended); tests put workers with fake requests in its place.
    virtual TProxyCheck *CreateWorker();

private:
    void ThreadEnded(QObject *Ended);
    void KillTimerTick();
    template <typename F> void OnMainThread(TProxyCheck *Worker, F &&Step);

    TNotifyEvent FOnJobEnd;
    TProxyTestEvent FOnProxyTest;
    bool FJobEndSend = false;
    QList<TProxtData *> FProxy;
    std::unique_ptr<TResentItems> FHttpList;
    std::unique_ptr<TResentItems> FHttpsList;
    QStringList FSpeedList;
    QStringList FTypeList;
    QList<TProxyCheck *> FThreads;
    QTimer *FKillTimer;
    int FProcessedJobCount = 0;
    int FHttpsTimeout = 90;
    /// Every worker that has not ended yet, also those given up by a forced stop.
    QList<QPointer<TProxyCheck>> FLive;
};
