#pragma once
// The notification-area icon: the grey globe while proxying is off, the turning globe (a new
// frame every 100 ms) while it is on, information balloons with a 10 second time-out, and the
// active proxy as the icon's tooltip, since the tray cannot tell us when the pointer rests on it.

#include "app/MainFormCode.h"

#include <QObject>
#include <QString>

#include <functional>

class QSystemTrayIcon;
class QTimer;
class TPngImageList;

class TGuiTrayIcon : public QObject, public ITrayIconView {
    Q_OBJECT

public:
    TGuiTrayIcon(TPngImageList *RotatingGlobe, TPngImageList *GlobeStopped, QObject *Owner = nullptr);
    ~TGuiTrayIcon() override;

    void SetAnimated(bool On) override;
    void ShowBalloon(const QString &Title, const QString &Text) override;

    bool Animated() const { return FAnimated; }
    /// The picture now shown: the frame of the turning globe, or 0 for the grey one.
    int IconIndex() const { return FIconIndex; }
    void SetToolTip(const QString &Text);
    QSystemTrayIcon *Tray() const { return FTray; }

    /// Left click, and the right button with the pointer position in screen coordinates.
    std::function<void()> OnClick;
    std::function<void(QPoint Pos)> OnRightClick;

private:
    void NextFrame();
    void ShowIcon();

    TPngImageList *FRotatingGlobe;
    TPngImageList *FGlobeStopped;
    QSystemTrayIcon *FTray;
    QTimer *FCycle;
    bool FAnimated = false;
    int FIconIndex = 0;
};
