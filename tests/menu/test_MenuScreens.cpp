// Screenshots of the real windows on a private X server (Xvfb, 1280 x 800) with a tray host
// (trayer): the main menu with a disabled row, the proxy submenu with 40 proxies of several
// countries and ratings scrolled by a page, and the tray icon off and on. The PNG files go to
// <build>/screenshots/ for people to look at; the checks make sure each shows what it should.

#include "app/GuiTrayIcon.h"
#include "app/MenuItemModel.h"
#include "menu/PopupMenuEx.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XvfbServer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWindow>
#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

namespace {

QString gSkipReason;
const QString kShots = QStringLiteral(RELAYVANE_BUILD_DIR "/screenshots");

bool ProcessUntil(const std::function<bool()> &Done, int LimitMs = 20000) {
    QElapsedTimer Clock;
    Clock.start();
    while (!Done()) {
        if (Clock.elapsed() > LimitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

QImage GrabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

// Waits until the window is on screen and its centre shows our drawing, then grabs the screen.
QImage GrabWhenDrawn(QWidget &W) {
    ProcessUntil([&] { return W.windowHandle() && W.windowHandle()->isExposed(); });
    QImage Shot;
    const QPoint Centre = W.geometry().center();
    ProcessUntil([&] {
        Shot = GrabScreen();
        return Shot.pixel(Centre) != qRgb(0, 0, 0) && Shot.pixel(Centre) != 0;
    });
    return Shot;
}

// Distinct colours in an area: a plain area has one or two.
int Colours(const QImage &Shot, const QRect &Area) {
    QSet<QRgb> Seen;
    const QRect A = Area & Shot.rect();
    for (int Y = A.top(); Y <= A.bottom(); Y += 2)
        for (int X = A.left(); X <= A.right(); X += 2)
            Seen.insert(Shot.pixel(X, Y));
    return Seen.size();
}

struct TTrayMenu {
    TMenuItemEx Root;
    TPngImageList Icons{22, 22};
    TPngImageList Flags{20, 20};
    TPngImageList Ranks{100, 18};
    TPopupMenuEx Menu;
    TMenuItemEx *Select = nullptr;

    TTrayMenu() {
        for (const char *Name : {"locale", "fileshare", "agt reload", "x", "cache", "agt update drivers",
                                 "agt action success", "package utilities", "agt login", "exit"})
            Icons.Add(QStringLiteral(":/") + QLatin1String(Name));
        Flags.Add(":/unknown");
        for (int I = 0; I <= 10; ++I)
            Ranks.Add(QStringLiteral(":/rating-%1").arg(I));
        DressTrayMenu(Menu, &Icons);
        struct TRow {
            const char *Caption, *Short;
            int Image;
            bool Enabled;
        } Rows[] = {
            {"Select proxy server", "", 0, true},
            {"Manage proxy server", "CTRL+SHIFT+M", 1, true},
            {"Switch proxy server", "CTRL+SHIFT+S", 2, true},
            {"Delete selected proxy server", "CTRL+SHIFT+D", 3, false},
            {"Disable proxy server", "CTRL+SHIFT+E", 4, true},
            {"Download proxy servers", "CTRL+SHIFT+R", 5, true},
            {"Test Proxy....", "CTRL+SHIFT+C", 6, true},
            {"", "", -1, true},
            {"Preferences...", "CTRL+SHIFT+P", 7, true},
            {"About Relayvane", "", 8, true},
            {"Exit", "", 9, true},
        };
        for (const auto &R : Rows) {
            auto *Item = Root.Add(new TMenuItemEx);
            Item->SetHeight(25);
            if (!*R.Caption) {
                Item->SetSeparator(true);
                Item->SetHeight(2);
            }
            Item->SetCaption(R.Caption);
            Item->SetShortCutText(R.Short);
            Item->SetImageIndex(R.Image);
            Item->SetEnabled(R.Enabled);
            Item->OnClick = [](QObject *) {};
            Menu.Add(Item);
        }
        Select = Root.Items(0);
        Select->OnClick = nullptr;
        Select->SetSubImageList(&Flags);
        Select->SetSubImageList2(&Ranks);
        const char *Codes[] = {"DE", "US", "FR", "NL", "BR", "JP", "GB", "AP", "RU", "CA", "SE", "IN"};
        for (int I = 0; I < 40; ++I) {
            if (I == 5) { // between the user's and the downloaded proxies
                auto *Sep = Select->Add(new TMenuItemEx);
                Sep->SetSeparator(true);
                Sep->SetHeight(8);
            }
            auto *Entry = Select->Add(new TMenuItemEx);
            Entry->SetCaption(QStringLiteral("%1.%2.%3.%4:%5")
                                  .arg(10 + I * 7 % 200)
                                  .arg(I * 13 % 256)
                                  .arg(I * 29 % 256)
                                  .arg(1 + I * 3)
                                  .arg(QList<int>{8080, 3128, 80, 1080}[I % 4]));
            Entry->SetHeight(25);
            const QString Code = QLatin1String(Codes[I % 12]);
            const QString Flag = QStringLiteral(":/FLAG_") + Code;
            Entry->SetImageIndex(QFileInfo::exists(Flag) ? Flags.Add(Flag) : 0);
            Entry->SetImageIndex2((I * 7) % 11);
            Entry->SetHint(Code);
            Entry->SetSelected(I == 17);
            Entry->OnClick = [](QObject *) {};
        }
    }
};

void Save(const QImage &Image, const QString &Name) {
    QDir().mkpath(kShots);
    ASSERT_TRUE(Image.save(kShots + QLatin1Char('/') + Name)) << qPrintable(Name);
    std::printf("screenshot: %s/%s\n", qPrintable(kShots), qPrintable(Name));
}

QRect Around(const QRect &R, int Margin = 20) {
    return R.adjusted(-Margin, -Margin, Margin, Margin);
}

} // namespace

TEST(MenuScreens, MainMenuWithADisabledRow) {
    if (!gSkipReason.isEmpty())
        GTEST_SKIP() << qPrintable(gSkipReason);
    TTrayMenu T;
    // Where a tray at the bottom right would open it: moved up and left onto the screen.
    T.Menu.Show(1200, 780);
    TCustomPopupForm &Form = *T.Menu.PopupForm();
    EXPECT_LT(Form.geometry().right(), 1280 - 9);
    Form.PointerMoved(QPoint(Form.ItemsRect().center().x(), Form.ItemsRect().top() + Form.ItemOffset(2) + 12));
    const QImage Shot = GrabWhenDrawn(Form);
    EXPECT_GT(Colours(Shot, Form.geometry()), 50) << "icons, texts and the frame are drawn";
    // The disabled row's icon is grey: no strongly coloured pixel in it.
    const QRect DisabledIcon(Form.geometry().topLeft() + Form.ItemsRect().topLeft() + QPoint(4, Form.ItemOffset(3)),
                             QSize(22, 25));
    int Coloured = 0;
    for (int Y = DisabledIcon.top(); Y <= DisabledIcon.bottom(); ++Y)
        for (int X = DisabledIcon.left(); X <= DisabledIcon.right(); ++X)
            Coloured += QColor(Shot.pixel(X, Y)).hsvSaturation() > 150;
    EXPECT_EQ(Coloured, 0);
    Save(Shot.copy(Around(Form.geometry())), QStringLiteral("menu-main.png"));
    Save(Shot.copy(Around(DisabledIcon.adjusted(-4, 0, Form.ItemsRect().width() - 22, 0), 6)),
         QStringLiteral("menu-disabled-row.png"));
    T.Menu.Hide();
}

TEST(MenuScreens, ProxySubmenuWithFortyProxiesScrolled) {
    if (!gSkipReason.isEmpty())
        GTEST_SKIP() << qPrintable(gSkipReason);
    TTrayMenu T;
    T.Menu.SetMaxHeight(700);
    T.Menu.Show(200, 40);
    TCustomPopupForm &Form = *T.Menu.PopupForm();
    ProcessUntil([&] { return Form.windowHandle() && Form.windowHandle()->isExposed(); });
    Form.PointerMoved(QPoint(Form.ItemsRect().center().x(), Form.ItemsRect().top() + 12));
    Form.PointerPressed(QPoint(Form.ItemsRect().center().x(), Form.ItemsRect().top() + 12));
    ASSERT_TRUE(Form.Submenu());
    TCustomPopupForm &Sub = *Form.Submenu()->PopupForm();
    ASSERT_TRUE(Sub.ScrollerShow());
    Sub.PageDown();
    Sub.FinishAnimation();
    EXPECT_GT(Sub.TopIndex(), 0);
    Sub.PointerMoved(
        QPoint(Sub.ItemsRect().center().x(), Sub.ItemsRect().top() + Sub.ItemOffset(Sub.TopIndex() + 2) + 12));
    const QImage Shot = GrabWhenDrawn(Sub);
    EXPECT_GT(Colours(Shot, Sub.geometry()), 80) << "flags, rating bars and texts";
    Save(Shot.copy(Around(Form.geometry().united(Sub.geometry()))), QStringLiteral("menu-proxies-scrolled.png"));
    T.Menu.Hide();
}

TEST(MenuScreens, TrayIconOffAndOn) {
    if (!gSkipReason.isEmpty())
        GTEST_SKIP() << qPrintable(gSkipReason);
    ASSERT_TRUE(ProcessUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
        << "trayer never took the notification area";
    TPngImageList Rotating(16, 16), Stopped(16, 16);
    for (int I = 0; I < 20; ++I)
        Rotating.Add(QStringLiteral(":/globe-%1").arg(I));
    Stopped.Add(":/globe-stopped");
    TGuiTrayIcon Tray(&Rotating, &Stopped);
    // Qt cannot always tell where the tray put the icon; trayer keeps its panel at the bottom right.
    const QRect Icon(1280 - 96, 800 - 28, 96, 28);
    const QRect Area = Around(Icon, 8) & QRect(0, 0, 1280, 800);
    QImage Off;
    ProcessUntil([&] {
        Off = GrabScreen();
        return Colours(Off, Icon) > 4;
    });
    Save(Off.copy(Area), QStringLiteral("tray-off.png"));

    Tray.SetAnimated(true);
    int Frames = 0, Last = Tray.IconIndex();
    ASSERT_TRUE(ProcessUntil([&] {
        if (Tray.IconIndex() != Last) {
            Last = Tray.IconIndex();
            ++Frames;
        }
        return Frames >= 3;
    })) << "the globe turns";
    QImage On;
    ProcessUntil([&] {
        On = GrabScreen();
        return On.copy(Icon) != Off.copy(Icon);
    });
    EXPECT_NE(On.copy(Icon), Off.copy(Icon)) << "the turning globe is not the grey one";
    Save(On.copy(Area), QStringLiteral("tray-on.png"));
    Tray.SetAnimated(false);
    EXPECT_EQ(Tray.IconIndex(), 0);
}

int main(int argc, char **argv) {
    testsupport::TXvfbDisplay Server;
    testsupport::ChildProcess Trayer;
    QString Error;
    if (!Server.Start(&Error, QStringLiteral("1280x800x24"))) {
        gSkipReason = Error;
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        qputenv("DISPLAY", Server.Name().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
        const QString TrayerPath = testsupport::FindProgram(QStringLiteral("trayer"));
        if (TrayerPath.isEmpty())
            gSkipReason = QStringLiteral("trayer is not installed");
        else
            Trayer.Start(TrayerPath, {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "96",
                                      "--height", "28", "--tint", "0x262b36", "--transparent", "true", "--alpha", "0",
                                      "--SetDockType", "true"});
    }
    QApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
