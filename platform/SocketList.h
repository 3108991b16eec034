#pragma once
// A set of socket descriptors that can be waited on together for readability.

#include <cstddef>
#include <poll.h>
#include <vector>

class TStopSignal;

/// Socket list: add, remove, membership, and a wait that hands back the readable members.
class TSocketList {
public:
    void Clear() { FItems.clear(); }
    /// Adds a socket; a socket already in the list is not added twice.
    void Add(int Handle);
    void Remove(int Handle);
    bool Contains(int Handle) const;
    int Count() const { return static_cast<int>(FItems.size()); }
    bool IsEmpty() const { return FItems.empty(); }
    int operator[](int Index) const { return FItems[static_cast<size_t>(Index)]; }

    /// Waits up to TimeoutMs milliseconds until a member is readable (closed and failed sockets
    /// count as readable: reading tells what happened). Readable receives exactly the readable
    /// members; returns whether there were any. Raises ETcpStopped when the stop signal is set.
    bool SelectReadList(TSocketList &Readable, int TimeoutMs);

    void SetStopSignal(const TStopSignal *Stop) { FStop = Stop; }

private:
    std::vector<int> FItems;
    std::vector<pollfd> FPoll;
    const TStopSignal *FStop = nullptr;
};
