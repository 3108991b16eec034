#pragma once
// Rates checked proxies the way the checker window does: the speed and ping bounds come from the
// complete records, then every record gets its MakeRank.

#include <QList>

class TProxtData;

/// Over the records whose DataCompleat holds: least and greatest Speed (>= 0) and Ping (>= 0);
/// then MakeRank(50, 30, speed span / 50, ping span / 30, least speed, least ping) for every record,
/// the result kept within 0 to 5.
void RateProxies(const QList<TProxtData *> &Records);
