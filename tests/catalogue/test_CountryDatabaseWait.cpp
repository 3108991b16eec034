// ParseStream's wait for the country database (Parts 1.2 and 7.1): lookups only in a database
// whose load is over; when the application quits first the records get no country; the
// collection never frees a database that its loader is still writing.
//
// A program of its own: QCoreApplication::exit() leaves the main thread's event loops refusing to
// run, which would disturb any test after it.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "tests/catalogue/CatalogueTestSupport.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using cataloguetest::Records;

TEST(CountryDatabaseWait, TheBuiltInDatabaseLoadsOnFirstUse) {
    TProxyCollection list;
    list.ParseText("8.8.8.8:53\n127.0.0.1:80\n", nullptr);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(0)->CountryCode(), QStringLiteral("US"));
    EXPECT_EQ(list.Items(0)->Country(), QStringLiteral("United States"));
    EXPECT_EQ(list.Items(1)->CountryCode(), QString());
    EXPECT_NE(list.CountryDatabase(), nullptr);
}

TEST(CountryDatabaseWait, QuitBeforeTheLoadEndsSkipsTheLookupsAndTheDestructorWaits) {
    std::atomic<bool> release{false}, started{false}, finished{false};
    auto list = std::make_unique<TProxyCollection>();
    list->SetCountryDatabaseLoader([&](TCountryDatabase &Db, const QString &) {
        started = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Db.DatabaseFromCSV(testsupport::DataPath(QStringLiteral("catalogue"), QStringLiteral("geoip")));
        finished = true;
    });
    // The user quits while the list waits for its database: the event loop of the wait ends.
    QTimer::singleShot(50, [] { QCoreApplication::exit(0); });
    list->ParseText("8.8.8.8:53\n77.1.1.1:80\n", nullptr);
    EXPECT_TRUE(started);
    EXPECT_FALSE(finished);
    EXPECT_EQ(Records(*list), QStringList({"8.8.8.8:53   0", "77.1.1.1:80   0"}));
    EXPECT_EQ(list->CountryDatabase(), nullptr); // still loading: not handed out

    // The loader is let go only after the collection began to go: its destructor must wait.
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        release = true;
    });
    list.reset();
    EXPECT_TRUE(finished);
    releaser.join();
}
