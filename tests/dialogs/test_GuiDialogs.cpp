// The dialogs plugged into the controller: warnings through the controller's one entry point, the
// manage-list dialog copying into the user's list, web pages handed to the desktop.

#include "app/GuiDialogs.h"
#include "app/MainFormCode.h"
#include "config/ProgramConfig.h"
#include "dialogs/ManageProxy.h"
#include "dialogs/WarningMessage.h"
#include "platform/ServiceEndpoints.h"
#include "tests/dialogs/DialogsTestSupport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <gtest/gtest.h>

using namespace dialogtests;

namespace {

template <class T> T *OpenWindow() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *t = qobject_cast<T *>(w); t && t->isVisible())
            return t;
    return nullptr;
}

// Stands in for the desktop's browser: records the pages the program asks to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QStringList Opened;
public slots:
    void Open(const QUrl &Url) { Opened << Url.toString(); }
};

class DialogHost : public ::testing::Test {
protected:
    DialogHost() : Config(nullptr, QLocale::English) {
        Form.ProgramConfig = &Config;
        InstallDialogs(Form);
    }
    ~DialogHost() override { Form.SetDialogHost(nullptr); }

    TProgramConfig Config;
    TMainForm Form;
};

TEST_F(DialogHost, WarningsGoThroughOneWindowAndASecondOneIsDropped) {
    ASSERT_NE(Form.DialogHost(), nullptr);
    QString shown, duringSecond;
    // Wait for the window from inside its own modal loop.
    auto *poll = new QTimer();
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
        TWarningMessageForm *w = OpenWindow<TWarningMessageForm>();
        if (!w)
            return;
        poll->stop();
        poll->deleteLater();
        shown = w->wlMessage->Caption();
        Form.ShowWarningMessage(QStringLiteral("second"), FaqUrl()); // returns at once
        duringSecond = w->wlMessage->Caption();
        w->OKBtn->click();
    });
    poll->start();
    Form.ShowWarningMessage(QStringLiteral("first"), FaqUrl());
    EXPECT_EQ(shown, "first");
    EXPECT_EQ(duringSecond, "first");
    EXPECT_EQ(OpenWindow<TWarningMessageForm>(), nullptr);
}

TEST_F(DialogHost, ManageProxyOkReplacesTheUsersListAndCancelKeepsIt) {
    Config.ProxyListUser()->Add(QString(), QString(), 0, QStringLiteral("10.1.2.3"), 8080);
    for (const bool save : {false, true}) {
        SCOPED_TRACE(save);
        QString memo;
        auto *poll = new QTimer();
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [&, poll] {
            TLoadProxy *dlg = OpenWindow<TLoadProxy>();
            if (!dlg)
                return;
            poll->stop();
            poll->deleteLater();
            memo = dlg->ProxyListMemo->toPlainText();
            EXPECT_TRUE(Form.DialogHost()->ManageProxyVisible());
            dlg->ProxyListMemo->setPlainText(QStringLiteral("1.1.1.1:80\n2.2.2.2:3128\n1.1.1.1:80"));
            if (save)
                dlg->OKBtn->click();
            else
                dlg->reject();
        });
        poll->start();
        const bool accepted = Form.DialogHost()->ExecManageProxy(Form);
        EXPECT_EQ(accepted, save);
        EXPECT_FALSE(Form.DialogHost()->ManageProxyVisible());
        if (!save) {
            EXPECT_EQ(memo, "10.1.2.3:8080");
            ASSERT_EQ(Config.ProxyListUser()->Count(), 1);
        } else {
            ASSERT_EQ(Config.ProxyListUser()->Count(), 2);
            EXPECT_EQ(Config.ProxyListUser()->Items(1)->IP(), "2.2.2.2");
        }
    }
}

TEST_F(DialogHost, AboutOpensTheHomePageInTheBrowser) {
    UrlRecorder browser;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "Open");
    Form.AboutClick();
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    EXPECT_EQ(browser.Opened, QStringList{QUrl(HomeUrl()).toString()});
}

} // namespace

#include "test_GuiDialogs.moc"
