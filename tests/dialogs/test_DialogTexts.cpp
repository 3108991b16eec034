// Every caption of the dialogs fits its control, and no two controls overlap, in all six languages.

#include "dialogs/DialogStyle.h"
#include "dialogs/ManageProxy.h"
#include "dialogs/OptionsFormCode.h"
#include "dialogs/WarningMessage.h"
#include "tests/dialogs/DialogsTestSupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace dialogtests;

namespace {

// Every visible text-bearing control at least as large as its text needs, and visible siblings
// apart from each other.
void ExpectLaidOutCleanly(QWidget *Window, const QString &Language) {
    SCOPED_TRACE((Window->objectName() + u' ' + Language).toStdString());
    EXPECT_TRUE(Window->windowTitle().endsWith(QStringLiteral(" - RVN 3.1.3"))) << Window->windowTitle().toStdString();
    const QList<QWidget *> all = Window->findChildren<QWidget *>();
    for (QWidget *w : all) {
        if (!w->isVisibleTo(Window) || w->isWindow())
            continue;
        const std::string name = w->objectName().toStdString();
        if (auto *label = qobject_cast<QLabel *>(w)) {
            if (label->text().isEmpty() || label->pixmap().cacheKey() != 0)
                continue;
            if (label->wordWrap())
                EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name;
            else
                EXPECT_GE(label->width(), label->sizeHint().width()) << name << " " << label->text().toStdString();
            EXPECT_GE(label->height(), label->fontMetrics().height()) << name;
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            if (button->text().isEmpty())
                continue;
            EXPECT_GE(button->width(), button->sizeHint().width()) << name << " " << button->text().toStdString();
            EXPECT_GE(button->height(), button->minimumSizeHint().height()) << name;
        } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            EXPECT_GE(combo->width(), combo->sizeHint().width()) << name;
        }
    }
    // Siblings of one parent never cover each other.
    for (QWidget *parent : QList<QWidget *>{Window} + all) {
        QList<QWidget *> kids;
        for (QObject *o : parent->children())
            if (auto *k = qobject_cast<QWidget *>(o); k && !k->isWindow() && k->isVisibleTo(Window))
                kids << k;
        for (int i = 0; i < kids.size(); ++i)
            for (int j = i + 1; j < kids.size(); ++j)
                EXPECT_FALSE(kids[i]->geometry().intersects(kids[j]->geometry()))
                    << kids[i]->objectName().toStdString() << " overlaps " << kids[j]->objectName().toStdString();
        // ...and stay inside their parent.
        for (QWidget *k : kids)
            EXPECT_TRUE(parent->rect().contains(k->geometry())) << k->objectName().toStdString();
    }
}

class DialogTexts : public ::testing::TestWithParam<QString> {};

TEST_P(DialogTexts, FitWithoutClippingOrOverlap) {
    const QString language = GetParam();

    FakeOptionsOwner owner;
    owner.Config.SetLanguage(language);
    owner.Config.SetGroupBoxVIPState(true);
    owner.Config.SetGroupBoxFreeState(true);
    owner.Config.SetGroupBoxSettingsState(true);
    owner.CountryList = {QStringLiteral("US=United States"), QStringLiteral("KR=Korea= South")};
    owner.PortList = {QStringLiteral("80=80"), QStringLiteral("8080=8080")};
    TOptions options(owner);
    options.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(options.CountryFetchRunning());
    ExpectLaidOutCleanly(&options, language);
    // The sort list is rebuilt with its three texts at every showing.
    EXPECT_EQ(options.CmbSort->count(), 3);

    TLoadProxy manage;
    manage.SetLanguage(language);
    manage.show();
    QCoreApplication::processEvents();
    ExpectLaidOutCleanly(&manage, language);

    TWarningMessageForm warning(language);
    const TMessageStrings ms = LoadMessageStrings(language);
    WhenShown(&warning, [&] {
        ExpectLaidOutCleanly(&warning, language);
        warning.OKBtn->click();
    });
    warning.ShowMessage(ms.sCannotSetupLocalProxy, QStringLiteral("http://127.0.0.1:8731/faq.php"));
}

std::string LanguageName(const ::testing::TestParamInfo<QString> &Info) {
    static const char *names[] = {"english", "russian", "ukrainian", "french", "spanish", "german"};
    return names[Info.index];
}

INSTANTIATE_TEST_SUITE_P(AllLanguages, DialogTexts, ::testing::ValuesIn(TOptions::LanguageItems()), LanguageName);

} // namespace
