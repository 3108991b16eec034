#include "app/GuiTray.h"

#include "app/GuiTrayIcon.h"
#include "app/MainFormCode.h"
#include "app/MenuItemModel.h"
#include "catalogue/Marlo.Common.ProxyList.h"
#include "menu/PopupMenuEx.h"

#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>

namespace {

// The controller's menu view: the drawn menu, filled from the main menu's rows at each opening.
class TGuiMenuView : public QObject, public IPopupMenuView {
public:
    explicit TGuiMenuView(TMainForm &Form) : QObject(&Form), FForm(Form), FMenu(new TPopupMenuEx(this)) {}

    void Dress() override { DressTrayMenu(*FMenu, FForm.PngImageList1); }

    void Popup(QPoint Pos) override {
        FMenu->Hide();
        FMenu->ClearItems();
        if (TMenuItemEx *Root = FForm.MainMenu())
            for (int I = 0; I < Root->Count(); ++I)
                if (Root->Items(I)->Visible())
                    FMenu->Add(Root->Items(I));
        FMenu->Show(Pos.x(), Pos.y());
    }

    bool Visible() const override { return FMenu->Visible(); }

private:
    TMainForm &FForm;
    TPopupMenuEx *FMenu;
};

// The hover balloon's text, for the tooltip: the active proxy, or the program's name.
QString ActiveProxyText(const TMainForm &Form) {
    if (!Form.ActiveProxy)
        return QStringLiteral("Relayvane");
    QString Text = Form.ms.sProxyChangedProxy + QStringLiteral(": ") + Form.ActiveProxy->IP() + QLatin1Char(':') +
                   QString::number(Form.ActiveProxy->Port());
    if (!Form.ActiveProxy->Country().isEmpty())
        Text += QLatin1Char('\n') + Form.ms.sProxyChangedCountry + QStringLiteral(": ") + Form.ActiveProxy->Country();
    return Text;
}

} // namespace

void InstallTrayAndMenu(TMainForm &Form) {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        std::fprintf(stderr, "relayvane: no notification area on this desktop yet; the icon appears when one "
                             "starts\n");
    auto *Menu = new TGuiMenuView(Form);
    auto *Tray = new TGuiTrayIcon(Form.RotatingGlobe, Form.GlobeStopped, &Form);
    Tray->OnClick = [&Form] { Form.EnableProxyClick(); };
    Tray->OnRightClick = [&Form](QPoint Pos) { Form.CoolTrayIcon1MouseUp(true, Pos); };
    // The tray reports no hovering here: the tooltip always names the active proxy instead, looked
    // at once a second and sent to the tray only when it changed.
    auto *ToolTip = new QTimer(Tray);
    ToolTip->setInterval(1000);
    QObject::connect(ToolTip, &QTimer::timeout, Tray, [&Form, Tray] { Tray->SetToolTip(ActiveProxyText(Form)); });
    ToolTip->start();
    Form.SetMenuView(Menu);
    Form.SetTrayView(Tray);
}
