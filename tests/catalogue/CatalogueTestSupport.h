#pragma once
// Helpers of the catalogue tests: a small country database from tests/catalogue/data/geoip and
// short views of a collection's records.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "tests/support/TestSupport.h"

#include <QStringList>
#include <memory>

namespace cataloguetest {

/// The fixture database: 1.0.0.x AP, 1.2.3.x AU, 8/8 55/8 128/8 US, 77/8 DE, 81/8 GB, 200-223 CA.
inline std::unique_ptr<TCountryDatabase> TestDatabase() {
    auto db = std::make_unique<TCountryDatabase>();
    db->DatabaseFromCSV(testsupport::DataPath(QStringLiteral("catalogue"), QStringLiteral("geoip")));
    return db;
}

/// A collection that looks countries up in the fixture database.
inline std::unique_ptr<TProxyCollection> NewList(bool NoDuplicates = true) {
    auto list = std::make_unique<TProxyCollection>();
    list->SetNoDuplicates(NoDuplicates);
    list->SetCountryDatabase(TestDatabase());
    return list;
}

/// "ip:port" of every record, in order.
inline QStringList Addresses(const TProxyCollection &List) {
    QStringList out;
    for (int i = 0; i < List.Count(); ++i)
        out << List.Items(i)->AsString();
    return out;
}

/// "ip:port code country rank" of every record, in order.
inline QStringList Records(const TProxyCollection &List) {
    QStringList out;
    for (int i = 0; i < List.Count(); ++i) {
        const TProxtData *r = List.Items(i);
        out << QStringLiteral("%1 %2 %3 %4").arg(r->AsString(), r->CountryCode(), r->Country(), FloatToStr(r->Rank()));
    }
    return out;
}

} // namespace cataloguetest

// Readable QString output in gtest messages.
inline void PrintTo(const QString &S, std::ostream *Os) {
    *Os << '"' << S.toStdString() << '"';
}
inline void PrintTo(const QStringList &L, std::ostream *Os) {
    *Os << '[';
    for (qsizetype i = 0; i < L.size(); ++i)
        *Os << (i ? ", " : "") << '"' << L[i].toStdString() << '"';
    *Os << ']';
}
