// The warning window: one message at a time, the message as a link, the title fixed at creation.

#include "dialogs/WarningMessage.h"
#include "tests/dialogs/DialogsTestSupport.h"

#include <QGroupBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace dialogtests;

namespace {

TEST(WarningWindow, ASecondMessageWhileOneIsShownIsDropped) {
    TWarningMessageForm form(QStringLiteral("english"));
    bool secondShown = true;
    QString captionDuringSecond;
    WhenShown(&form, [&] {
        // Arrives while the first is on screen (as from a timer): returns at once, not shown.
        secondShown = form.ShowMessage(QStringLiteral("second"), QStringLiteral("http://second/"));
        captionDuringSecond = form.wlMessage->Caption();
        form.OKBtn->click();
    });
    EXPECT_TRUE(form.ShowMessage(QStringLiteral("first"), QStringLiteral("http://first/")));
    EXPECT_FALSE(secondShown);
    EXPECT_EQ(captionDuringSecond, "first");
    EXPECT_EQ(form.wlMessage->URL(), "http://first/");
    EXPECT_FALSE(form.isVisible());
    // Once closed, the next message is shown again in the same window.
    WhenShown(&form, [&] { form.OKBtn->click(); });
    EXPECT_TRUE(form.ShowMessage(QStringLiteral("third"), QString()));
    EXPECT_EQ(form.wlMessage->Caption(), "third");
}

TEST(WarningWindow, ClickingTheMessageOpensItsLinkAndLeavesTheWindowOpen) {
    TWarningMessageForm form(QStringLiteral("english"));
    QStringList opened;
    form.SetOnOpenUrl([&](const QString &Url) { opened << Url; });
    bool stillOpen = false;
    WhenShown(&form, [&] {
        QTest::mouseClick(form.wlMessage, Qt::RightButton);
        QTest::mouseClick(form.wlMessage, Qt::LeftButton);
        stillOpen = form.isVisible();
        form.reject(); // the window's close button
    });
    form.ShowMessage(QStringLiteral("Cannot download proxy list"), QStringLiteral("http://127.0.0.1:8731/faq.php"));
    EXPECT_EQ(opened, QStringList{"http://127.0.0.1:8731/faq.php"});
    EXPECT_TRUE(stillOpen);
}

TEST(WarningWindow, TheTitleKeepsTheLanguageOfItsCreation) {
    TWarningMessageForm english(QStringLiteral("english"));
    EXPECT_EQ(english.windowTitle(), "Warning - RVN 3.1.3");
    TWarningMessageForm german(QStringLiteral("deutsch"));
    const QString title =
        WindowTitle(TLanguageTable::Builtin().ReadString("deutsch", "sTitleWarning", QStringLiteral("Warning")));
    EXPECT_EQ(german.windowTitle(), title);
    EXPECT_TRUE(german.windowTitle().endsWith(" - RVN 3.1.3"));
}

TEST(WarningWindow, ALongMessageWrapsAndTheWindowGrowsToHoldIt) {
    TWarningMessageForm form(QStringLiteral("english"));
    QSize shortSize, longSize;
    int labelHeight = 0, neededHeight = 0;
    WhenShown(&form, [&] {
        shortSize = form.size();
        form.OKBtn->click();
    });
    form.ShowMessage(QStringLiteral("Short"), QString());
    const QString longText = QStringLiteral(
        "Cannot setup local proxy server. Make sure that you entered values in proper format, following two "
        "formats are allowed: ip:port and user:pass@ip:port. For more information please refer to FAQ at "
        "http://127.0.0.1:8731/");
    WhenShown(&form, [&] {
        longSize = form.size();
        labelHeight = form.wlMessage->height();
        neededHeight = form.wlMessage->heightForWidth(form.wlMessage->width());
        form.OKBtn->click();
    });
    form.ShowMessage(longText, QString());
    EXPECT_GT(longSize.height(), shortSize.height());
    EXPECT_GE(longSize.width(), shortSize.width());
    EXPECT_LE(form.wlMessage->width(), TWarningMessageForm::MessageWrapWidth);
    EXPECT_GE(labelHeight, neededHeight); // every wrapped line is inside the label
}

TEST(WarningWindow, MarkupInAMessageIsShownAsText) {
    TWarningMessageForm form(QStringLiteral("english"));
    WhenShown(&form, [&] { form.OKBtn->click(); });
    form.ShowMessage(QStringLiteral("<b>bold</b> <img src=x>"), QString());
    EXPECT_EQ(form.wlMessage->textFormat(), Qt::PlainText);
    EXPECT_EQ(form.wlMessage->Caption(), "<b>bold</b> <img src=x>");
}

} // namespace
