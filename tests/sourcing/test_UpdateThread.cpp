// The update check: the reply rules, and the schedule in the store with the clock given by the test.

#include "platform/Registry.h"
#include "sourcing/Marlo.Common.UpdateThread.h"
#include "tests/sourcing/FakeListService.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(UpdateReply, OfferedOnlyForFiveFieldsWithANewerNumber) {
    const struct {
        const char *Reply;
        bool Offered;
    } cases[] = {
        {"3|1|3|Same version|http://x/", false},
        {"3|2|0|Version 3.2.0 is out|http://x/dl", true},
        {"4|0|0|m|l", true},
        {"3|0|5|m|l", true}, // each number on its own: release 5 > 3
        {"2|2|0|m|l", true}, // minor 2 > 1
        {"3|1|0|m|l", false},
        {"2|0|0|m|l", false},
        {"3|2|0|m", false},         // four fields
        {"3|2|0|m|l|extra", false}, // six fields
        {"3|2|0|m|l|", false},      // a last bar makes a sixth, empty field
        {"", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Reply);
        EXPECT_EQ(ParseUpdateReply(QByteArray(c.Reply)).has_value(), c.Offered);
    }
    // A letter in a number field is an error that ends the check.
    EXPECT_THROW(ParseUpdateReply("3a|2|0|m|l"), EConvertError);
    EXPECT_THROW(ParseUpdateReply("3.2|0|0|m|l"), EConvertError);

    const auto offer = ParseUpdateReply("\r\n  3|2|0|Neue Version: Größe|http://127.0.0.1/get?v=3.2.0 \r\n\t");
    ASSERT_TRUE(offer.has_value());
    EXPECT_EQ(offer->Message, QStringLiteral("Neue Version: Größe"));
    EXPECT_EQ(offer->Link, QStringLiteral("http://127.0.0.1/get?v=3.2.0"));
    EXPECT_EQ(UpdateCheckUrl(QStringLiteral("http://h:1"), QStringLiteral("german")),
              QStringLiteral("http://h:1/engine/index2.php?version=&lang=german"));
}

namespace {

class UpdateCheckTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    FakeListService Service;
    TRegistry Store{Dir.path() + QStringLiteral("/registry.ini")};
    QStringList Warnings;
    bool WarningOnMainThread = false;
    double StoredWhenAsked = -1;

    void SetUp() override {
        Service.UpdateBody = "3|1|3|No news|http://127.0.0.1/";
        // What the store held at the moment the service was asked.
        Service.OnUpdateRequest = [this] {
            TRegistry reg(Store.FileName());
            if (reg.OpenKey(TRegistry::ProgramKey(), false))
                StoredWhenAsked = reg.ReadDate(QStringLiteral("NextVersionCheckDate"));
        };
    }

    // Runs the schedule for Today and waits until a started check has ended.
    bool StartOn(const QDate &Today, const QString &Language = QStringLiteral("english")) {
        TCheckUpdateThread *thread = StartUpdateCheck(
            Store, Today, Language,
            [this](const QString &Msg, const QString &Url) {
                Warnings << Msg + QStringLiteral(" | ") + Url;
                WarningOnMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            },
            Service.BaseUrl());
        if (!thread)
            return false;
        EXPECT_TRUE(testsupport::WaitForDestroyed(thread)) << "the thread frees itself";
        return true;
    }
    double NextCheck() {
        TRegistry reg(Store.FileName());
        EXPECT_TRUE(reg.OpenKey(TRegistry::ProgramKey(), false));
        return reg.ReadDate(QStringLiteral("NextVersionCheckDate"));
    }
    size_t Requests() { return Service.Targets().size(); }
};

const QDate Day(2026, 3, 10);

} // namespace

TEST_F(UpdateCheckTest, RunsAtMostEverySecondDay) {
    // First start ever: the check runs, the value becomes tomorrow, written before the question.
    ASSERT_TRUE(StartOn(Day));
    EXPECT_EQ(NextCheck(), DateToRegistryDays(Day.addDays(1)));
    EXPECT_EQ(StoredWhenAsked, DateToRegistryDays(Day.addDays(1)));
    EXPECT_EQ(Requests(), 1u);
    EXPECT_EQ(DateToRegistryDays(Day), 46091.0);

    EXPECT_FALSE(StartOn(Day)) << "same day";
    EXPECT_FALSE(StartOn(Day.addDays(1))) << "next day";
    EXPECT_EQ(Requests(), 1u);
    EXPECT_EQ(NextCheck(), DateToRegistryDays(Day.addDays(1)));

    ASSERT_TRUE(StartOn(Day.addDays(2))) << "two days later";
    EXPECT_EQ(NextCheck(), DateToRegistryDays(Day.addDays(3)));
    EXPECT_EQ(Requests(), 2u);
    EXPECT_TRUE(Warnings.isEmpty()) << "3.1.3 is no news";
}

TEST_F(UpdateCheckTest, AFailedCheckWaitsForTheScheduleToo) {
    Service.UpdateStatus = 500;
    ASSERT_TRUE(StartOn(Day));
    EXPECT_EQ(NextCheck(), DateToRegistryDays(Day.addDays(1)));
    EXPECT_FALSE(StartOn(Day.addDays(1)));
    EXPECT_TRUE(Warnings.isEmpty());
}

TEST_F(UpdateCheckTest, ANewerVersionShowsTheServicesMessageAndLink) {
    Service.UpdateBody = "3|2|0|Relayvane 3.2.0 is out|http://127.0.0.1/download\r\n";
    ASSERT_TRUE(StartOn(Day, QStringLiteral("deutsch")));
    EXPECT_EQ(Warnings, QStringList{"Relayvane 3.2.0 is out | http://127.0.0.1/download"});
    EXPECT_TRUE(WarningOnMainThread);
    EXPECT_EQ(Service.Targets(), std::vector<std::string>{"/engine/index2.php?version=&lang=german"});
}

TEST_F(UpdateCheckTest, RepliesThatOfferNothingShowNothing) {
    const char *replies[] = {"3|1|3|m|l", "3|2|0|m", "3|2|0|m|l|x", "3x|2|0|m|l", "<html>busy</html>"};
    int day = 0;
    for (const char *reply : replies) {
        SCOPED_TRACE(reply);
        Service.UpdateBody = reply;
        ASSERT_TRUE(StartOn(Day.addDays(day += 2)));
    }
    EXPECT_EQ(Requests(), std::size(replies));
    EXPECT_TRUE(Warnings.isEmpty());
}

TEST_F(UpdateCheckTest, AStoredValueOfAnotherFormIsReplaced) {
    TRegistry reg(Store.FileName());
    ASSERT_TRUE(reg.OpenKey(TRegistry::ProgramKey(), true));
    reg.WriteString(QStringLiteral("NextVersionCheckDate"), QStringLiteral("soon"));
    ASSERT_TRUE(StartOn(Day));
    EXPECT_EQ(NextCheck(), DateToRegistryDays(Day.addDays(1)));
}
