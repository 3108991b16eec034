#include "checker/RandomUserAgent.h"

#include "tests/checker/QtPrinters.h"
#include <QRegularExpression>
#include <QSet>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// Splits an identity into its parts; fails the test when the shape is wrong.
struct TParts {
    QString m, platform, system, language, d1, d2, d3;
};

bool Parse(const QString &ua, TParts &out) {
    for (const QString &p : UserAgentPlatforms()) {
        for (const QString &w : UserAgentSystems()) {
            const QString prefix = QStringLiteral("(%1 %2 ").arg(p, w);
            const qsizetype at = ua.indexOf(prefix);
            if (at < 0)
                continue;
            static const QRegularExpression head(QStringLiteral("^Mozilla/([1-4])\\.0 $"));
            static const QRegularExpression tail(
                QStringLiteral("^([A-Za-z-]+); rv:1\\.([0-8])\\.([0-8])\\.([0-8])\\)$"));
            const auto h = head.match(ua.left(at));
            const auto t = tail.match(ua.mid(at + prefix.size()));
            if (!h.hasMatch() || !t.hasMatch())
                return false;
            out = {h.captured(1), p, w, t.captured(1), t.captured(2), t.captured(3), t.captured(4)};
            return UserAgentLanguages().contains(out.language);
        }
    }
    return false;
}

} // namespace

TEST(RandomUserAgent, TablesHaveTheirFixedSizesAndEnds) {
    EXPECT_EQ(UserAgentPlatforms().size(), 5);
    EXPECT_EQ(UserAgentSystems().size(), 11);
    ASSERT_EQ(UserAgentLanguages().size(), 148);
    EXPECT_EQ(UserAgentPlatforms().first(), "Windows; U;");
    EXPECT_EQ(UserAgentPlatforms().last(), "compatible; MSIE 8.0;");
    EXPECT_EQ(UserAgentSystems().last(), "Windows NT 6.0;");
    EXPECT_EQ(UserAgentLanguages().first(), "af");
    EXPECT_EQ(UserAgentLanguages().last(), "zu");
    EXPECT_EQ(UserAgentLanguages().at(144), "zh-Hans");
    // Duplicates are part of the table.
    EXPECT_EQ(UserAgentLanguages().count("en"), 2);
    EXPECT_EQ(UserAgentLanguages().count("ko"), 2);
    EXPECT_EQ(UserAgentLanguages().count("sr"), 2);
    EXPECT_EQ(UserAgentLanguages().count("zh-tw"), 2);
}

TEST(RandomUserAgent, EveryEntryOccursAndTheShapeHolds) {
    QSet<QString> ms, platforms, systems, languages, digits;
    for (int i = 0; i < 30000; ++i) {
        const QString ua = RandomUserAgent();
        TParts p;
        ASSERT_TRUE(Parse(ua, p)) << ua.toStdString();
        ms << p.m;
        platforms << p.platform;
        systems << p.system;
        languages << p.language;
        digits << p.d1 << p.d2 << p.d3;
    }
    EXPECT_EQ(ms.size(), 4);
    EXPECT_EQ(platforms.size(), 5);
    EXPECT_EQ(systems.size(), 11);
    EXPECT_EQ(languages.size(), QSet<QString>(UserAgentLanguages().begin(), UserAgentLanguages().end()).size());
    EXPECT_EQ(digits.size(), 9); // 0 to 8, never 9
    EXPECT_FALSE(digits.contains("9"));
}

TEST(RandomUserAgent, ManyThreadsAtOnceGetWellFormedIdentities) {
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&bad] {
            for (int i = 0; i < 2000; ++i) {
                TParts p;
                if (!Parse(RandomUserAgent(), p))
                    ++bad;
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(bad, 0);
}
