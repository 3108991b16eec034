#include "checker/Marlo.Common.ProxyTest.h"

#include "checker/IEHTTP.h"
#include "checker/Marlo.Common.Shuffle.h"
#include "checker/RandomUserAgent.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QUuid>
#include <cmath>

// ---------------------------------------------------------------------------------------------
// Clock

double NowLocalDateTime() {
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 localMs = now.toMSecsSinceEpoch() + qint64(now.offsetFromUtc()) * 1000;
    return double(localMs) / 86400000.0 + 25569.0;
}

double LocalUnixTime(double t) {
    const long double whole = std::round((static_cast<long double>(t) - 25569.0L) * 86400.0L);
    const long double rest = static_cast<long double>(t) - (whole / 86400.0L + 25569.0L);
    return double(whole + rest * 86400.0L);
}

// ---------------------------------------------------------------------------------------------
// Worker

TProxyCheck::TProxyCheck(TKvProxyTest *AOwner)
    : FOwner(AOwner), FAbortSignal(std::make_shared<std::atomic<bool>>(false)) {}

TProxyCheck::~TProxyCheck() {
    // A worker is freed only after it has ended (the scheduler waits for the live ones).
    wait();
}

void TProxyCheck::AbortTransfers() {
    FKilled = true;
    FAbortSignal->store(true);
    requestInterruption();
    std::lock_guard<std::mutex> g(FClientLock);
    if (idHttp)
        idHttp->Abort();
}

void TProxyCheck::Report() {
    FOwner->ReportState(this);
}
void TProxyCheck::PickJudge() {
    FOwner->PickJudge(this);
}
void TProxyCheck::TakeNextProxy() {
    FOwner->NextProxy(this);
}

void TProxyCheck::NewClient() {
    auto client = std::make_unique<TidHttpEx>();
    client->SetHandleRedirects(true);
    client->SetConnectionClose(true);
    // A dead proxy or judge that swallows the connection attempt must not hold the worker for
    // minutes: connecting gets the same allowance as reading.
    client->SetConnectTimeout(FTimeOut);
    std::lock_guard<std::mutex> g(FClientLock);
    idHttp = std::move(client);
    if (FKilled)
        idHttp->Abort();
}

void TProxyCheck::ClearClient() {
    std::lock_guard<std::mutex> g(FClientLock);
    idHttp.reset();
}

QByteArray TProxyCheck::ProbeGet(const QString &Url) {
    return idHttp->Get(Url);
}

QByteArray TProxyCheck::ProxyGet(const QString &Url) {
    return idHttp->Get(Url);
}

QByteArray TProxyCheck::ProxyPost(const QString &Url, const TMultiPartFormData &Form) {
    return idHttp->Post(Url, Form);
}

QStringList TProxyCheck::HttpsFetch(const QString &Url) {
    TIEHTTP ie;
    ie.fTimeout = FHttpsTimeout;
    ie.proxy = QStringLiteral("%1:%2").arg(FCurrentProxy->IP()).arg(FCurrentProxy->Port());
    ie.abort_signal = FAbortSignal;
    ie.ExecuteURL(Url);
    return ie.sl();
}

qint64 TProxyCheck::SpeedClockMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

void TProxyCheck::run() {
    PickJudge();
    long double ts = 0, t0 = 0;
    bool probed = false;
    try {
        NewClient();
        t0 = LocalUnixTime(NowLocalDateTime());
        const QStringList lines = SplitTextLines(QString::fromUtf8(ProbeGet(FTypeURL + QStringLiteral("?showip="))));
        if (lines.size() < 2)
            throw Exception(QStringLiteral("The judge's answer is too short"));
        FOwnAddress = lines.at(0);
        ts = StrToFloat(lines.at(1));
        probed = true;
    } catch (const std::exception &) {
        FWorkSt = caError;
        Report();
        requestInterruption();
    }
    if (probed) {
        const long double t1 = LocalUnixTime(NowLocalDateTime());
        FClockOffset = ((ts - t0) + (ts - t1)) / 2 - (t1 - t0) / 2;
    }

    ClearClient();
    PickJudge();

    while (!StopRequested()) {
        NewClient();
        try {
            TakeNextProxy();
            if (!FCurrentProxy)
                throw EJobFinished();
            FWorkSt = caChacking;
            Report();

            idHttp->SetProxyServer(FCurrentProxy->IP());
            idHttp->SetProxyPort(FCurrentProxy->Port());
            idHttp->SetReadTimeout(FTimeOut);
            idHttp->SetUserAgent(RandomUserAgent());

            bool alive = true;
            if (FTests.Contains(ttDeadOrAlive))
                alive = LivenessTest();
            if (alive) {
                if (FTests.Contains(ttTest1) || (FTests.Contains(ttTest1NoBootnet) && !FCurrentProxy->Tested()))
                    JudgeTest();
                if (FTests.Contains(ttHttps))
                    HttpsTest();
                if (FTests.Contains(ttSpeed))
                    SpeedTest();
                FCurrentProxy->SetTested(true);
            }
        } catch (const EUserException &) {
            // The job is over for this worker, or it was told to stop.
            requestInterruption();
        }
        if (FWorkSt != caError) {
            FWorkSt = caDone;
            Report();
        }
        ClearClient();
    }
}

bool TProxyCheck::LivenessTest() {
    if (StopRequested())
        throw EAbortByUser();
    try {
        const QString text = QString::fromUtf8(ProxyGet(FHttpURL.Src()));
        if (FHttpURL.Name().isEmpty() || !text.contains(FHttpURL.Name()))
            throw Exception(QStringLiteral("Keyword not found"));
    } catch (const std::exception &) {
        // A transfer cut by a forced stop says nothing about the proxy.
        if (FKilled)
            throw EAbortByUser();
        TProxtData *p = FCurrentProxy;
        p->SetAlive(tsFalse);
        p->SetTranparent(tsUnknown);
        p->SetAnonymous(tsUnknown);
        p->SetElite(tsUnknown);
        p->SetBotnet(tsUnknown);
        p->SetHttpGet(tsUnknown);
        p->SetHttpPost(tsUnknown);
        p->SetHttpsGet(tsUnknown);
        p->SetHttpsPost(tsUnknown);
        p->SetSpeed(-1);
        p->SetPing(-1);
        return false;
    }
    if (FCurrentProxy->Alive() == tsFalse)
        FCurrentProxy->SetTested(false); // back from the dead: every old result is void
    else
        FCurrentProxy->SetAlive(tsTrue);
    return true;
}

void TProxyCheck::JudgeTest() {
    if (StopRequested())
        throw EAbortByUser();
    TProxtData *p = FCurrentProxy;
    try {
        const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        QString url = FTypeURL + QStringLiteral("?userip=") + FOwnAddress;
        if (FTests.Contains(ttTest1))
            url += QStringLiteral("&proxy=%1:%2").arg(p->IP()).arg(p->Port());
        url += QStringLiteral("&time=") + FloatToStr(double(LocalUnixTime(NowLocalDateTime()) + FClockOffset));
        url += QStringLiteral("&field1=") + token;
        TMultiPartFormData form;
        form.AddFormField(QStringLiteral("field2"), token);
        const QStringList lines = SplitTextLines(QString::fromUtf8(ProxyPost(url, form)));
        if (lines.isEmpty())
            throw Exception(QStringLiteral("The judge's answer is empty"));
        if (lines.at(0) != QLatin1String(JudgeReplyMarker))
            return; // not a judge's answer: nothing is learnt, nothing is written
        if (lines.size() < 5)
            throw Exception(QStringLiteral("The judge's answer is too short"));
        const double ping = StrToFloat(lines.at(3));
        const QString &type = lines.at(1), &bot = lines.at(2), &post = lines.at(4);
        p->SetTranparent(type.contains(QLatin1Char('t')) ? tsTrue : tsFalse);
        p->SetAnonymous(type.contains(QLatin1Char('a')) ? tsTrue : tsFalse);
        p->SetElite(type.contains(QLatin1Char('e')) ? tsTrue : tsFalse);
        if (bot.contains(QLatin1Char('b')))
            p->SetBotnet(tsTrue);
        else if (bot.contains(QLatin1Char('p')))
            p->SetBotnet(tsFalse);
        p->SetPing(ping);
        p->SetHttpGet(tsTrue);
        p->SetHttpPost(post.contains(QLatin1Char('y')) ? tsTrue : tsFalse);
    } catch (const std::exception &) {
        if (FKilled)
            throw EAbortByUser();
        p->SetHttpGet(tsFalse);
        p->SetHttpPost(tsFalse);
        p->SetPing(-2);
        p->SetTranparent(tsUnknown);
        p->SetAnonymous(tsUnknown);
        p->SetElite(tsUnknown);
        p->SetBotnet(tsFalse);
    }
}

void TProxyCheck::HttpsTest() {
    if (StopRequested())
        throw EAbortByUser();
    bool ok = false;
    try {
        const QString text = HttpsFetch(FHttpsURL.Src()).join(QLatin1Char('\n'));
        ok = !FHttpsURL.Name().isEmpty() && text.contains(FHttpsURL.Name());
    } catch (const std::exception &) {
        ok = false;
    }
    if (FKilled)
        throw EAbortByUser();
    FCurrentProxy->SetHttpsGet(ok ? tsTrue : tsFalse);
    FCurrentProxy->SetHttpsPost(ok ? tsTrue : tsFalse);
}

void TProxyCheck::SpeedTest() {
    try {
        if (StopRequested())
            throw EAbortByUser();
        idHttp->SetReadTimeout(FTimeOutSpeed);
        const qint64 start = SpeedClockMs();
        const QByteArray body = ProxyGet(FSpeedURL);
        const qint64 end = SpeedClockMs();
        if (end == start)
            FCurrentProxy->SetSpeed(-2);
        else
            FCurrentProxy->SetSpeed(double(body.size()) / (double(end - start) / 1000.0));
    } catch (const EUserException &) {
        if (!FKilled)
            FCurrentProxy->SetSpeed(-2);
        throw;
    } catch (const std::exception &) {
        if (FKilled)
            throw EAbortByUser();
        FCurrentProxy->SetSpeed(-2);
    }
}

// ---------------------------------------------------------------------------------------------
// Scheduler

TKvProxyTest::TKvProxyTest(QObject *AOwner)
    : QObject(AOwner), FHttpList(std::make_unique<TResentItems>()), FHttpsList(std::make_unique<TResentItems>()),
      FKillTimer(new QTimer(this)) {
    connect(FKillTimer, &QTimer::timeout, this, &TKvProxyTest::KillTimerTick);
}

TKvProxyTest::~TKvProxyTest() {
    // Nobody is told any more; every worker still alive is cut loose and waited for, answering
    // its hand-offs (they do nothing now) so that none stays blocked on us.
    FOnProxyTest = nullptr;
    FOnJobEnd = nullptr;
    FKillTimer->stop();
    const QList<QPointer<TProxyCheck>> live = FLive;
    for (const auto &w : live)
        if (w)
            w->AbortTransfers();
    for (const auto &w : live) {
        while (w && !w->wait(10))
            QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    for (const auto &w : live)
        delete w.data();
}

void TKvProxyTest::ClearProxyList() {
    FProxy.clear();
}
void TKvProxyTest::AddProxyServer(TProxtData *Proxy) {
    FProxy.append(Proxy);
}
void TKvProxyTest::AddHttpSiteUrl(const QString &URL, const QString &inName) {
    FHttpList->Add(URL, inName);
}
void TKvProxyTest::AddHttpsSiteUrl(const QString &URL, const QString &inName) {
    FHttpsList->Add(URL, inName);
}
void TKvProxyTest::AddSpeedSiteUrl(const QString &URL) {
    FSpeedList.append(URL);
}
void TKvProxyTest::AddTypeSiteUrl(const QString &URL) {
    FTypeList.append(URL);
}

TProxyCheck *TKvProxyTest::CreateWorker() {
    return new TProxyCheck(this);
}

void TKvProxyTest::CheckProxyServer(TTests TestType, int Timeout, int Timeoutspeed, quint8 Threads) {
    if (IsThreadsActive())
        throw EJobAlreadyActive();
    // A forced stop still pending from the previous job must not reach this one's workers.
    FKillTimer->stop();
    FProcessedJobCount = 0;
    ShuffleCollection(*FHttpList);
    ShuffleCollection(*FHttpsList);
    ShuffleStrings(FSpeedList);
    ShuffleStrings(FTypeList);
    if (FOnProxyTest)
        for (TProxtData *p : FProxy)
            FOnProxyTest(this, p, caPending);
    FJobEndSend = false;
    for (int i = 0; i < Threads; ++i) {
        TProxyCheck *w = CreateWorker();
        w->FTimeOut = Timeout;
        w->FTimeOutSpeed = Timeoutspeed;
        w->FTests = TestType;
        w->FOwner = this;
        w->FHttpsTimeout = FHttpsTimeout;
        // The end event runs on the main thread after the worker's last step; then it is freed.
        connect(w, &QThread::finished, this, [this, w] {
            FLive.removeAll(QPointer<TProxyCheck>(w));
            if (!w->Killed())
                ThreadEnded(w);
            w->deleteLater();
        });
        FThreads.append(w);
        FLive.append(w);
        w->start();
    }
}

void TKvProxyTest::StopTest(bool FoceKill, int KillTimer) {
    for (qsizetype i = FThreads.size() - 1; i >= 0; --i)
        FThreads.at(i)->requestInterruption();
    if (FoceKill) {
        FKillTimer->setInterval(KillTimer);
        FKillTimer->start();
    }
}

void TKvProxyTest::KillTimerTick() {
    for (qsizetype i = FThreads.size() - 1; i >= 0; --i) {
        TProxyCheck *w = FThreads.at(i);
        try {
            if (FOnProxyTest)
                FOnProxyTest(this, w->FCurrentProxy, caDone);
        } catch (...) {
        }
        // Not killed: its connections are closed and it unwinds by itself, silently.
        w->AbortTransfers();
        FThreads.removeAt(i);
    }
    FKillTimer->stop();
    ThreadEnded(FKillTimer);
}

void TKvProxyTest::ThreadEnded(QObject *Ended) {
    FThreads.removeAll(static_cast<TProxyCheck *>(Ended));
    if (FThreads.isEmpty()) {
        // The job is over: a forced stop still pending has nothing left to do.
        FKillTimer->stop();
        if (FOnJobEnd && !FJobEndSend) {
            FJobEndSend = true;
            FOnJobEnd(this);
        }
    }
}

template <typename F> void TKvProxyTest::OnMainThread(TProxyCheck *Worker, F &&Step) {
    // A worker given up by a forced stop no longer takes part in the job.
    auto guarded = [Worker, &Step] {
        if (!Worker->Killed())
            Step();
    };
    if (Worker->Killed())
        return;
    if (QThread::currentThread() == thread())
        guarded();
    else
        QMetaObject::invokeMethod(this, guarded, Qt::BlockingQueuedConnection);
}

void TKvProxyTest::NextProxy(TProxyCheck *Worker) {
    OnMainThread(Worker, [this, Worker] {
        if (FProcessedJobCount < FProxy.size()) {
            Worker->FCurrentProxy = FProxy.at(FProcessedJobCount);
            ++FProcessedJobCount;
            if (FHttpList->Count() > 0)
                Worker->FHttpURL.Assign(*FHttpList->Items(FProcessedJobCount % FHttpList->Count()));
            if (FHttpsList->Count() > 0)
                Worker->FHttpsURL.Assign(*FHttpsList->Items(FProcessedJobCount % FHttpsList->Count()));
            if (!FSpeedList.isEmpty())
                Worker->FSpeedURL = FSpeedList.at(FProcessedJobCount % FSpeedList.size());
        } else {
            Worker->FCurrentProxy = nullptr;
        }
    });
    // Given up by a forced stop: the scheduler no longer reads this worker, so it may clear its own.
    if (Worker->Killed())
        Worker->FCurrentProxy = nullptr;
}

void TKvProxyTest::PickJudge(TProxyCheck *Worker) {
    OnMainThread(Worker, [this, Worker] {
        if (!FTypeList.isEmpty())
            Worker->FTypeURL = FTypeList.at(FProcessedJobCount % FTypeList.size());
    });
}

void TKvProxyTest::ReportState(TProxyCheck *Worker) {
    OnMainThread(Worker, [this, Worker] {
        if (FOnProxyTest)
            FOnProxyTest(Worker, Worker->FCurrentProxy, Worker->FWorkSt);
    });
}
