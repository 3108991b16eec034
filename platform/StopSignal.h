#pragma once
// A process-internal "stop now" flag that poll() can wait on, so that every blocking wait of a
// connection thread ends at once when its server is switched off.

#include <atomic>
#include <poll.h>
#include <vector>

/// An event that, once set, makes every PollOrStop() that watches it raise ETcpStopped.
class TStopSignal {
public:
    TStopSignal();
    ~TStopSignal();
    TStopSignal(const TStopSignal &) = delete;
    TStopSignal &operator=(const TStopSignal &) = delete;

    void Set();
    /// Clears the event; only while nobody waits on it.
    void Reset();
    bool IsSet() const { return FSet.load(std::memory_order_acquire); }
    int Handle() const { return FHandle; }

private:
    int FHandle = -1;
    std::atomic<bool> FSet{false};
};

/// poll() on Fds with a time-out in milliseconds (negative: no time-out), restarted after signals
/// with the time that is left. When Stop is given and set before or during the wait, raises
/// ETcpStopped. Returns the number of ready entries (0 on time-out); raises ETcpError on failure.
int PollOrStop(std::vector<pollfd> &Fds, int TimeoutMs, const TStopSignal *Stop);
