#include "checker/CheckerSites.h"
#include "checker/Marlo.Common.ProxyTest.h"
#include "tests/checker/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(CheckerSites, DefaultsHaveTheirCountsAndKinds) {
    qputenv("RELAYVANE_SERVICE", "http://127.0.0.1:1111/");
    qputenv("RELAYVANE_JUDGE", "http://127.0.0.1:2222");
    const TCheckerSites s = DefaultCheckerSites();
    qunsetenv("RELAYVANE_SERVICE");
    qunsetenv("RELAYVANE_JUDGE");
    EXPECT_EQ(s.Judges, QStringList({"http://127.0.0.1:2222/type.php", "http://127.0.0.1:1111/engine/type.php"}));
    ASSERT_EQ(s.Http.size(), 12);
    QSet<QString> distinct;
    for (const auto &p : s.Http) {
        EXPECT_TRUE(p.Url.startsWith("http://")) << p.Url.toStdString();
        EXPECT_FALSE(p.Keyword.isEmpty());
        distinct << p.Url;
    }
    EXPECT_EQ(distinct.size(), 7);
    EXPECT_EQ(s.Http.mid(7), s.Http.mid(2, 5)); // the last five a second time
    EXPECT_EQ(s.Speed, QStringList({s.Http[0].Url, s.Http[1].Url}));
    ASSERT_EQ(s.Https.size(), 5);
    for (const auto &p : s.Https) {
        EXPECT_TRUE(p.Url.startsWith("https://"));
        // The client takes only URLs with a path.
        EXPECT_TRUE(p.Url.mid(8).contains('/'));
    }
}

TEST(CheckerSites, FileReplacesTheSitesAndBadFilesSayWhy) {
    QTemporaryDir dir;
    const QString good = dir.filePath("sites.json");
    testsupport::WriteFile(good, R"({"judges": ["http://127.0.0.1:9/type.php"],
        "http": [{"url": "http://127.0.0.1:9/a", "keyword": "A"}], "speed": [],
        "https": [{"url": "https://127.0.0.1:9/b", "keyword": "B"}]})");
    const TCheckerSites s = LoadCheckerSites(good);
    EXPECT_EQ(s.Judges, QStringList({"http://127.0.0.1:9/type.php"}));
    EXPECT_EQ(s.Http, QList<TCheckerSite>({{"http://127.0.0.1:9/a", "A"}}));
    EXPECT_TRUE(s.Speed.isEmpty());
    TKvProxyTest test;
    RegisterCheckerSites(test, s);
    EXPECT_EQ(test.TypeList(), s.Judges);
    ASSERT_EQ(test.HttpsList().Count(), 1);
    EXPECT_EQ(test.HttpsList().Items(0)->Name(), "B");

    const std::pair<const char *, const char *> bad[] = {
        {"not json", "not a JSON object"},
        {R"({"judges": [], "http": [], "speed": []})", "\"https\" must be a list"},
        {R"({"judges": [1], "http": [], "speed": [], "https": []})", "\"judges\" must be a list of URLs"},
        {R"({"judges": [], "http": [{"url": "x"}], "speed": [], "https": []})", "\"http\" must be a list"},
    };
    for (const auto &[text, why] : bad) {
        testsupport::WriteFile(good, text);
        try {
            LoadCheckerSites(good);
            ADD_FAILURE() << text;
        } catch (const EConvertError &e) {
            EXPECT_TRUE(e.Message().contains(QLatin1String(why))) << e.Message().toStdString();
        }
    }
    EXPECT_THROW(LoadCheckerSites(dir.filePath("missing.json")), EInOutError);
}
