// The checker window opened for the controller: the lists of its configuration go in, the
// controller is marked as checking while the window is open, and a save reaches the tray menu
// through the controller's own menu rebuild.

#include "app/GuiChecker.h"
#include "app/MainFormCode.h"
#include "config/ProgramConfig.h"
#include "dialogs/ProxyChackForm.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

ProxyChackForm::TProxyCheck *OpenChecker() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *c = qobject_cast<ProxyChackForm::TProxyCheck *>(w); c && c->isVisible())
            return c;
    return nullptr;
}

struct TController : ::testing::Test {
    TController() : config(nullptr, QLocale::English) {
        Form.ProgramConfig = &config;
        // The menu rows as start-up makes them, so the rebuild has somewhere to put the entries.
        for (TMenuItemEx **item :
             {&Form.SelectProxy, &Form.EditProxy, &Form.SwitchProxy, &Form.DeleteProxy, &Form.EnableProxy, &Form.About,
              &Form.LoadProxyMnu, &Form.Preferences, &Form.Exitbtn, &Form.TestProxy, &Form.MenuSeparator})
            *item = new TMenuItemEx(&Form);
        TProxtData *dead = config.ProxyList()->Add("Germany", "DE", 0, "127.0.0.1", 1);
        dead->SetTested(true);
        dead->SetAlive(tsFalse);
        config.ProxyList()->Add("France", "FR", 0, "127.0.0.1", 2);
        config.ProxyListUser()->Add("Japan", "JP", 0, "127.0.0.1", 3);
        Form.ReBuildProxyMenu();
    }
    // The proxies the tray submenu offers now.
    QStringList MenuProxies() const {
        QStringList out;
        for (int i = 0; i < Form.SelectProxy->Count(); ++i)
            if (const TProxtData *p = Form.SelectProxy->Items(i)->Data())
                out << p->AsString();
        return out;
    }
    // Runs Step on the open window from inside its modal loop.
    void WhileOpen(std::function<void(ProxyChackForm::TProxyCheck &)> Step) {
        auto *poll = new QTimer(&Form);
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [this, poll, Step] {
            if (ProxyChackForm::TProxyCheck *w = OpenChecker()) {
                poll->stop();
                poll->deleteLater();
                seenChecking = Form.ProxyCheckingInProgress;
                seenVisible = CheckerWindowVisible();
                Step(*w);
            }
        });
        poll->start();
    }
    TProgramConfig config;
    TMainForm Form;
    bool seenChecking = false, seenVisible = false;
};

TEST_F(TController, SaveStoresTheListsAndRebuildsTheTrayMenu) {
    ASSERT_EQ(MenuProxies().size(), 3);
    int rows = -1;
    WhileOpen([&](ProxyChackForm::TProxyCheck &w) {
        rows = w.ProxyList->topLevelItemCount();
        w.BtnDelDead->click();
        w.BtnSave->click();
    });
    ExecCheckerWindow(Form);

    EXPECT_EQ(rows, 3);
    EXPECT_TRUE(seenChecking);
    EXPECT_TRUE(seenVisible);
    EXPECT_FALSE(Form.ProxyCheckingInProgress);
    EXPECT_FALSE(CheckerWindowVisible());
    EXPECT_EQ(config.ProxyList()->Count(), 1);
    EXPECT_EQ(MenuProxies(), QStringList({"127.0.0.1:3", "127.0.0.1:2"}));
    // The filter the window read from its lists is stored too.
    EXPECT_EQ(config.ProxyFilter()->MaxPing(), 15);
}

TEST_F(TController, CancelLeavesTheConfigurationAndTheMenuAlone) {
    WhileOpen([](ProxyChackForm::TProxyCheck &w) {
        w.BtnDelDead->click();
        w.BtnCancel->click();
    });
    ExecCheckerWindow(Form);
    EXPECT_FALSE(Form.ProxyCheckingInProgress);
    EXPECT_EQ(config.ProxyList()->Count(), 2);
    EXPECT_EQ(MenuProxies().size(), 3);
    EXPECT_EQ(config.ProxyFilter()->MaxPing(), 0);
}

} // namespace
