#pragma once
// Runs a check job to its end on the test's own event loop and records what the scheduler reported.

#include "checker/Marlo.Common.ProxyTest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

namespace checkerpeers {

struct TReport {
    QObject *Sender;
    TProxtData *Proxy;
    TChackAction Action;
};

/// Records every OnProxyTest and OnJobEnd of a scheduler.
struct TJobRecorder {
    explicit TJobRecorder(TKvProxyTest &Test) : test(Test) {
        Test.SetOnProxyTest([this](QObject *s, TProxtData *p, TChackAction a) { reports.push_back({s, p, a}); });
        Test.SetOnJobEnd([this](QObject *s) {
            EXPECT_EQ(s, &test);
            ++jobEnds;
            if (loop.isRunning())
                loop.quit();
        });
    }
    /// Spins the event loop until OnJobEnd (bounded so that a fault cannot hang the suite).
    bool WaitForJobEnd(int BoundMs = 60000) {
        if (jobEnds > 0)
            return true;
        QTimer::singleShot(BoundMs, &loop, &QEventLoop::quit);
        loop.exec();
        return jobEnds > 0;
    }
    /// Spins the event loop until Done() holds (bounded).
    template <typename F> bool SpinUntil(F Done, int BoundMs = 60000) {
        QElapsedTimer t;
        t.start();
        while (!Done() && t.elapsed() < BoundMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return Done();
    }
    int Count(TProxtData *Proxy, TChackAction Action) const {
        int n = 0;
        for (const auto &r : reports)
            n += (r.Proxy == Proxy && r.Action == Action);
        return n;
    }
    TKvProxyTest &test;
    std::vector<TReport> reports;
    int jobEnds = 0;
    QEventLoop loop;
};

} // namespace checkerpeers
