#include "app/GuiTrayIcon.h"

#include "app/MenuItemModel.h"
#include "menu/PopupMenuEx.h"

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

TGuiTrayIcon::TGuiTrayIcon(TPngImageList *RotatingGlobe, TPngImageList *GlobeStopped, QObject *Owner)
    : QObject(Owner), FRotatingGlobe(RotatingGlobe), FGlobeStopped(GlobeStopped), FTray(new QSystemTrayIcon(this)),
      FCycle(new QTimer(this)) {
    FCycle->setInterval(100);
    connect(FCycle, &QTimer::timeout, this, &TGuiTrayIcon::NextFrame);
    connect(FTray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason Reason) {
        if (Reason == QSystemTrayIcon::Trigger && OnClick)
            OnClick();
        else if (Reason == QSystemTrayIcon::Context && OnRightClick)
            OnRightClick(QCursor::pos());
    });
    ShowIcon();
    FTray->setToolTip(QStringLiteral("Relayvane"));
    FTray->show();
}

TGuiTrayIcon::~TGuiTrayIcon() {
    FCycle->stop();
}

void TGuiTrayIcon::SetAnimated(bool On) {
    FAnimated = On;
    FIconIndex = 0;
    if (On && FRotatingGlobe && FRotatingGlobe->Count() > 0)
        FCycle->start();
    else
        FCycle->stop();
    ShowIcon();
}

void TGuiTrayIcon::NextFrame() {
    if (!FRotatingGlobe || FRotatingGlobe->Count() == 0)
        return;
    FIconIndex = (FIconIndex + 1) % FRotatingGlobe->Count();
    ShowIcon();
}

void TGuiTrayIcon::ShowIcon() {
    const TPngImageList *List = FAnimated ? FRotatingGlobe : FGlobeStopped;
    const QImage Picture = ImageListPicture(List, FIconIndex);
    if (!Picture.isNull())
        FTray->setIcon(QIcon(QPixmap::fromImage(Picture)));
}

void TGuiTrayIcon::ShowBalloon(const QString &Title, const QString &Text) {
    QString Plain = Text;
    Plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    FTray->showMessage(Title, Plain, QSystemTrayIcon::Information, 10000);
}

void TGuiTrayIcon::SetToolTip(const QString &Text) {
    // Every call would go out to the tray host (on a D-Bus tray, a signal each time).
    if (Text != FTray->toolTip())
        FTray->setToolTip(Text);
}
