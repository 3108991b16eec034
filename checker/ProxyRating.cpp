#include "checker/ProxyRating.h"

#include "catalogue/Marlo.Common.ProxyList.h"

#include <algorithm>

void RateProxies(const QList<TProxtData *> &Records) {
    const double none = 9999999999999999.99;
    double minSpeed = none, maxSpeed = -1, minPing = none, maxPing = -1;
    for (const TProxtData *p : Records) {
        if (!p->DataCompleat())
            continue;
        if (p->Speed() >= 0) {
            minSpeed = std::min(minSpeed, p->Speed());
            maxSpeed = std::max(maxSpeed, p->Speed());
        }
        if (p->Ping() >= 0) {
            minPing = std::min(minPing, p->Ping());
            maxPing = std::max(maxPing, p->Ping());
        }
    }
    const double pingPerPoint = maxPing != -1 ? (maxPing - minPing) / 30 : 0;
    const double speedPerPoint = maxSpeed != -1 ? (maxSpeed - minSpeed) / 50 : 0;
    for (TProxtData *p : Records) {
        p->MakeRank(50, 30, speedPerPoint, pingPerPoint, minSpeed, minPing);
        // The scale comes from the complete records only, so a partly tested proxy faster or
        // slower than all of them would land outside the 0 to 5 that the rating bars can show.
        p->SetRank(std::clamp(p->Rank(), 0.0, 5.0));
    }
}
