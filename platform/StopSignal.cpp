#include "platform/StopSignal.h"

#include "platform/TcpConnection.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

TStopSignal::TStopSignal() {
    FHandle = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FHandle < 0)
        RaiseSocketError(errno);
}

TStopSignal::~TStopSignal() {
    if (FHandle >= 0)
        ::close(FHandle);
}

void TStopSignal::Set() {
    FSet.store(true, std::memory_order_release);
    const uint64_t one = 1;
    // The counter only has to become non-zero; a full counter (impossible in practice) is as good.
    [[maybe_unused]] const ssize_t n = ::write(FHandle, &one, sizeof one);
}

void TStopSignal::Reset() {
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(FHandle, &value, sizeof value);
    FSet.store(false, std::memory_order_release);
}

int PollOrStop(std::vector<pollfd> &Fds, int TimeoutMs, const TStopSignal *Stop) {
    using Clock = std::chrono::steady_clock;
    if (Stop) {
        if (Stop->IsSet())
            throw ETcpStopped();
        Fds.push_back(pollfd{Stop->Handle(), POLLIN, 0});
    }
    const auto until = Clock::now() + std::chrono::milliseconds(TimeoutMs < 0 ? 0 : TimeoutMs);
    int wait = TimeoutMs;
    int r;
    for (;;) {
        r = ::poll(Fds.data(), Fds.size(), wait);
        if (r >= 0 || errno != EINTR)
            break;
        if (TimeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
    }
    const int err = errno;
    bool stopped = false;
    if (Stop) {
        stopped = Fds.back().revents != 0;
        Fds.pop_back();
        if (stopped && r > 0)
            --r;
    }
    if (r < 0)
        RaiseSocketError(err);
    if (stopped)
        throw ETcpStopped();
    return r;
}
