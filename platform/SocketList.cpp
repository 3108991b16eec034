#include "platform/SocketList.h"

#include "platform/StopSignal.h"

#include <algorithm>

void TSocketList::Add(int Handle) {
    if (Handle >= 0 && !Contains(Handle))
        FItems.push_back(Handle);
}

void TSocketList::Remove(int Handle) { FItems.erase(std::remove(FItems.begin(), FItems.end(), Handle), FItems.end()); }

bool TSocketList::Contains(int Handle) const {
    return std::find(FItems.begin(), FItems.end(), Handle) != FItems.end();
}

bool TSocketList::SelectReadList(TSocketList &Readable, int TimeoutMs) {
    FPoll.clear();
    for (int fd : FItems)
        FPoll.push_back(pollfd{fd, POLLIN, 0});
    const int ready = PollOrStop(FPoll, TimeoutMs, FStop);
    Readable.Clear();
    if (ready <= 0)
        return false;
    for (const pollfd &p : FPoll)
        if (p.revents != 0)
            Readable.FItems.push_back(p.fd);
    return !Readable.IsEmpty();
}
