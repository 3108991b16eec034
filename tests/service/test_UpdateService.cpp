// The update announcement: version text, the operator's texts, and the five-field reply.

#include "tests/service/QtPrinters.h"
#include "service/UpdateService.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

TEST(UpdateVersion, ParsesThreeNumbers) {
    TUpdateInfo info;
    ASSERT_TRUE(ParseVersion("3.2.0", info));
    EXPECT_EQ(VersionText(info), "3.2.0");
    ASSERT_TRUE(ParseVersion(" 10.0.12 ", info));
    EXPECT_EQ(VersionText(info), "10.0.12");
    for (const char *bad : {"", "3.1", "3.1.3.4", "3.x.3", "-1.0.0", "3..3", "3.1.3a", "99999.0.0"}) {
        TUpdateInfo untouched;
        EXPECT_FALSE(ParseVersion(bad, untouched)) << bad;
        EXPECT_EQ(untouched, TUpdateInfo{}) << bad;
    }
}

TEST(UpdateTexts, BarsAndLineBreaksAreRefused) {
    EXPECT_TRUE(CheckUpdateText("Version 4 is out, see the site.").isEmpty());
    EXPECT_FALSE(CheckUpdateText("a|b").isEmpty());
    EXPECT_FALSE(CheckUpdateText("two\nlines").isEmpty());
}

TEST(UpdateReply, DefaultAnnouncesTheProgramsOwnVersion) {
    const QStringList fields = QString::fromUtf8(UpdateReply(TUpdateInfo{}, "http://h:1/")).split(u'|');
    ASSERT_EQ(fields.size(), 5);
    EXPECT_EQ(fields.mid(0, 3), QStringList({"3", "1", "3"}));
    EXPECT_FALSE(fields[3].isEmpty());
    EXPECT_EQ(fields[4], "http://h:1/");
}

TEST(UpdateReply, OperatorsAnnouncement) {
    TUpdateInfo info;
    ParseVersion("3.2.0", info);
    info.Message = "Relayvane 3.2.0 is out.";
    info.Link = "http://example.invalid/download";
    EXPECT_EQ(UpdateReply(info, "http://h:1/"),
              QByteArray("3|2|0|Relayvane 3.2.0 is out.|http://example.invalid/download"));
}

} // namespace
