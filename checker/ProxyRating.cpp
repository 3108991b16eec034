#include "checker/ProxyRating.h"

#include "catalogue/Marlo.Common.ProxyList.h"

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
    for (TProxtData *p : Records)
        p->MakeRank(50, 30, speedPerPoint, pingPerPoint, minSpeed, minPing);
}
