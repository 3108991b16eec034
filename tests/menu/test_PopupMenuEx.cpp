// The drawn menu on the offscreen platform: its measures, where it opens, scrolling, submenus and
// the pointer, against a fixed 1280 x 800 screen and the program's own skin pictures.

#include "menu/PopupMenuEx.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <memory>

namespace {

const QRect kScreen(0, 0, 1280, 800);

// A root entry whose children are the rows of a menu, and the menu drawing them.
struct TMenuFixture {
    TMenuItemEx Root;
    TPngImageList Icons{22, 22};
    TPopupMenuEx Menu;

    TMenuFixture() {
        Menu.SetScreen(kScreen);
        for (const char *Name : {"locale", "fileshare", "agt reload", "x", "cache", "agt update drivers",
                                 "agt action success", "package utilities", "agt login", "exit"})
            Icons.Add(QStringLiteral(":/") + QLatin1String(Name));
        DressTrayMenu(Menu, &Icons);
    }
    TMenuItemEx *AddRow(const QString &Caption, int Height = 25, TMenuItemEx *Parent = nullptr) {
        auto *Item = new TMenuItemEx;
        Item->SetCaption(Caption);
        Item->SetHeight(Height);
        (Parent ? Parent : &Root)->Add(Item);
        if (!Parent)
            Menu.Add(Item);
        return Item;
    }
    void AddRows(int Count, int Height = 25) {
        for (int I = 0; I < Count; ++I)
            AddRow(QStringLiteral("row %1").arg(I), Height);
    }
    TCustomPopupForm &Form() { return *Menu.PopupForm(); }
    // Centre of row Index of a form in window coordinates.
    static QPoint RowCentre(TCustomPopupForm &F, int Index, int Height = 25) {
        return QPoint(F.ItemsRect().center().x(), F.ItemsRect().top() + F.ItemOffset(Index) + Height / 2);
    }
};

} // namespace

TEST(PopupMenuMeasures, WidthAndHeightFollowTheItems) {
    TMenuFixture F;
    EXPECT_EQ(F.Menu.MenuWidth(false), 250 + 39 + 39) << "an empty menu is 250 wide plus the frame";
    EXPECT_EQ(F.Menu.MaxHeight(), 800);
    EXPECT_EQ(F.Menu.MaxWidth(), 640);

    TMenuItemEx *Short = F.AddRow("Exit");
    TMenuItemEx *Long = F.AddRow("Delete selected proxy server");
    Long->SetShortCutText("CTRL+SHIFT+D");
    TMenuItemEx *Sep = F.AddRow("");
    Sep->SetSeparator(true);
    Sep->SetHeight(2);
    EXPECT_GT(F.Menu.ItemWidth(*Long), F.Menu.ItemWidth(*Short));
    const QFontMetrics Caption(F.Menu.Font().Font), Shortcut(F.Menu.ShortCutFont().Font);
    EXPECT_EQ(F.Menu.ItemWidth(*Long), Caption.horizontalAdvance(Long->Caption()) + 16 +
                                           Shortcut.horizontalAdvance("CTRL+SHIFT+D") + Long->ShortCurSpace());
    // Both icon lists (22 each), the frame's edges (39 each).
    EXPECT_EQ(F.Menu.MenuWidth(false), F.Menu.ItemWidth(*Long) + 44 + 78);
    EXPECT_EQ(F.Menu.MenuWidth(true), F.Menu.MenuWidth(false) + 13);
    // 2 x 30 - 3, then each row with its gap.
    EXPECT_EQ(F.Menu.MenuHeight(), 60 - 3 + (25 + 3) + (25 + 3) + (2 + 3));
    EXPECT_EQ(F.Menu.FittingItems(), 3);

    F.Menu.SetMaxWidth(200);
    EXPECT_EQ(F.Menu.MenuWidth(false), 200);
    F.Menu.SetMaxWidth(0);
    F.Menu.SetMinWidth(900);
    EXPECT_EQ(F.Menu.MenuWidth(false), 900);
}

TEST(PopupMenuMeasures, MaxHeightIsKeptToTheScreen) {
    TMenuFixture F;
    for (int Bad : {-1, 801, 5000}) {
        F.Menu.SetMaxHeight(Bad);
        EXPECT_EQ(F.Menu.MaxHeight(), 800) << Bad;
    }
    F.Menu.SetMaxHeight(300);
    EXPECT_EQ(F.Menu.MaxHeight(), 300);
}

TEST(PopupMenuMeasures, ItemsThatDoNotFitBringTheScrollbar) {
    TMenuFixture F;
    F.Menu.SetMaxHeight(400);
    F.AddRows(30);
    // 57 + k * 28 < 400 for k up to 12.
    EXPECT_EQ(F.Menu.FittingItems(), 12);
    F.Menu.Show(100, 100);
    TCustomPopupForm &Form = F.Form();
    EXPECT_TRUE(Form.ScrollerShow());
    EXPECT_EQ(Form.width(), F.Menu.MenuWidth(true));
    EXPECT_EQ(Form.height(), 57 + 12 * 28);
    // The up button's width stays free at the items' right.
    EXPECT_EQ(Form.ItemsRect().width(), Form.width() - 60 - 13);
    EXPECT_EQ(Form.UpButtonRect().right(), Form.width() - 30 - 1);
    EXPECT_GT(Form.ThumbRect().height(), 0);

    TMenuFixture Few;
    Few.AddRows(3);
    Few.Menu.Show(100, 100);
    EXPECT_FALSE(Few.Form().ScrollerShow());
    EXPECT_EQ(Few.Form().ItemsRect().width(), Few.Form().width() - 60);
}

TEST(PopupMenuShow, KeepsToTheScreenEdges) {
    struct TCase {
        const char *Name;
        QPoint At;
        bool MovedLeft, MovedUp;
    } Cases[] = {
        {"inside", {100, 100}, false, false},
        {"near the right edge", {1250, 100}, true, false},
        {"near the bottom", {100, 790}, false, true},
        {"bottom right corner", {1279, 799}, true, true},
    };
    for (const auto &C : Cases) {
        TMenuFixture F;
        F.AddRows(5);
        F.Menu.Show(C.At.x(), C.At.y());
        const QRect G = F.Form().geometry();
        EXPECT_EQ(G.x(), C.MovedLeft ? 1280 - G.width() - 10 : C.At.x()) << C.Name;
        EXPECT_EQ(G.y(), C.MovedUp ? 800 - G.height() - 10 : C.At.y()) << C.Name;
        F.Menu.Hide();
    }
    // Negative positions become 0.
    TMenuFixture F;
    F.AddRows(2);
    F.Menu.Show(-40, -3);
    EXPECT_EQ(F.Form().pos(), QPoint(0, 0));
}

TEST(PopupMenuScroll, PageDownStopsAtTheLastFullPage) {
    TMenuFixture F;
    F.AddRows(30);
    // Room for exactly 10 rows: 57 + 10 * 28 = 337, the 11th would reach 365.
    F.Menu.SetMaxHeight(340);
    F.Menu.Show(10, 10);
    TCustomPopupForm &Form = F.Form();
    ASSERT_EQ(Form.DisplayItemCnt(), 10);
    Form.SetTopIndex(15);
    Form.PageDown();
    EXPECT_TRUE(Form.AnimationRunning());
    Form.PageDown(); // ignored while the page scroll runs
    Form.FinishAnimation();
    EXPECT_EQ(Form.TopIndex(), 20) << "a step of 5 shows the last 10 rows";
    Form.PageDown();
    EXPECT_FALSE(Form.AnimationRunning()) << "a step of 0 does nothing";

    Form.PageUp();
    Form.FinishAnimation();
    EXPECT_EQ(Form.TopIndex(), 10);
    Form.SetTopIndex(3);
    Form.PageUp();
    Form.FinishAnimation();
    EXPECT_EQ(Form.TopIndex(), 0);
    // The thumb ends at the top of its track, and at the bottom on the last page.
    EXPECT_EQ(Form.ThumbRect().top(), Form.UpButtonRect().top() + 20 + 1);
    Form.SetTopIndex(20);
    EXPECT_EQ(Form.ThumbRect().bottom() + 1, Form.DownButtonRect().top() - 2 + 2);
}

TEST(PopupMenuScroll, WheelAndKeysMoveByLinesAndPagesAndEscapeDoesNothing) {
    TMenuFixture F;
    F.AddRows(30);
    F.Menu.SetMaxHeight(340);
    F.Menu.Show(10, 10);
    TCustomPopupForm &Form = F.Form();
    const QPoint Inside = TMenuFixture::RowCentre(Form, 0);
    const auto Wheel = [&](int Delta) {
        QWheelEvent E(Inside, Form.mapToGlobal(Inside), {}, {0, Delta}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
        QApplication::sendEvent(&Form, &E);
    };
    Wheel(120);
    EXPECT_EQ(Form.TopIndex(), 0) << "not above the first row";
    Wheel(-120);
    Wheel(-120);
    EXPECT_EQ(Form.TopIndex(), 2);
    Form.SetTopIndex(20);
    Wheel(-120);
    EXPECT_EQ(Form.TopIndex(), 20) << "not past the last row";

    // The buttons take clicks on their whole drawn shape.
    Form.PointerPressed(Form.DownButtonRect().center());
    Form.PointerReleased({});
    Form.FinishAnimation();
    EXPECT_EQ(Form.TopIndex(), 20) << "already on the last page";
    Form.PointerPressed(Form.UpButtonRect().center());
    Form.PointerReleased({});
    Form.FinishAnimation();
    EXPECT_EQ(Form.TopIndex(), 10);
    // The track below the thumb pages down.
    Form.PointerPressed(QPoint(Form.ThumbRect().center().x() + 2, Form.ThumbRect().bottom() + 10));
    Form.PointerReleased({});
    Form.FinishAnimation();
    EXPECT_EQ(Form.TopIndex(), 20);

    const auto Key = [&](int K) {
        QKeyEvent E(QEvent::KeyPress, K, Qt::NoModifier);
        QApplication::sendEvent(&Form, &E);
        Form.FinishAnimation();
    };
    Key(Qt::Key_PageUp);
    EXPECT_EQ(Form.TopIndex(), 10);
    Key(Qt::Key_Escape);
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(Form.TopIndex(), 10);
}

TEST(PopupMenuScroll, DraggingTheThumbMovesTheTopIndex) {
    TMenuFixture F;
    F.AddRows(30);
    F.Menu.SetMaxHeight(340);
    F.Menu.Show(10, 10);
    TCustomPopupForm &Form = F.Form();
    const QRect Thumb = Form.ThumbRect();
    const QPoint Grab = Thumb.center();
    Form.PointerPressed(Grab);
    Form.PointerMoved(Grab + QPoint(0, Form.DownButtonRect().top() + 50 - Grab.y()));
    EXPECT_EQ(Form.TopIndex(), 20) << "below the down button: the last page";
    Form.PointerMoved(QPoint(Grab.x(), Form.UpButtonRect().top() - 5));
    EXPECT_EQ(Form.TopIndex(), 0) << "above the track: the first page";
    Form.PointerMoved(Grab + QPoint(0, 60));
    const int Middle = Form.TopIndex();
    EXPECT_GT(Middle, 0);
    EXPECT_LT(Middle, 20);
    Form.PointerReleased(Grab);
    Form.PointerMoved(Grab + QPoint(0, 120));
    EXPECT_EQ(Form.TopIndex(), Middle) << "no drag after the button is up";
}

TEST(PopupMenuPointer, SameItemTwiceNeitherRedrawsNorHintsAgain) {
    TMenuFixture F;
    F.AddRows(4);
    F.Menu.Items(1)->SetHint("second row");
    F.Menu.Show(10, 10);
    TCustomPopupForm &Form = F.Form();
    const int Before = Form.RedrawCount();
    Form.PointerMoved(TMenuFixture::RowCentre(Form, 1));
    EXPECT_EQ(Form.SelectedItem(), 1);
    EXPECT_TRUE(F.Menu.Items(1)->MouseOver());
    EXPECT_EQ(Form.RedrawCount(), Before + 1);
    EXPECT_EQ(Form.MenuItemHint()->Text(), "second row");
    EXPECT_TRUE(Form.MenuItemHint()->showTimer->isActive());
    Form.MenuItemHint()->showTimer->stop();

    Form.PointerMoved(TMenuFixture::RowCentre(Form, 1) + QPoint(3, 2));
    EXPECT_EQ(Form.RedrawCount(), Before + 1);
    EXPECT_FALSE(Form.MenuItemHint()->showTimer->isActive());

    Form.PointerMoved(TMenuFixture::RowCentre(Form, 2));
    EXPECT_FALSE(F.Menu.Items(1)->MouseOver());
    EXPECT_TRUE(F.Menu.Items(2)->MouseOver());
    EXPECT_EQ(Form.RedrawCount(), Before + 2);
}

TEST(PopupMenuPointer, ClicksRunHandlersOfEnabledItemsOnly) {
    TMenuFixture F;
    F.AddRows(4);
    int Clicks = 0;
    for (int I = 0; I < 4; ++I)
        F.Menu.Items(I)->OnClick = [&Clicks](QObject *) { ++Clicks; };
    F.Menu.Items(2)->SetEnabled(false);
    F.Menu.Show(10, 10);
    TCustomPopupForm &Form = F.Form();
    Form.PointerPressed(TMenuFixture::RowCentre(Form, 2));
    Form.PointerReleased({});
    EXPECT_EQ(Clicks, 0);
    EXPECT_TRUE(Form.isVisible());
    // The gap between two rows does nothing either.
    Form.PointerPressed(QPoint(Form.ItemsRect().center().x(), Form.ItemsRect().top() + 25 + 2));
    EXPECT_EQ(Clicks, 0);
    Form.PointerPressed(TMenuFixture::RowCentre(Form, 3));
    EXPECT_EQ(Clicks, 1);
    EXPECT_EQ(F.Menu.ItemIndex(), 3);
    EXPECT_FALSE(Form.isVisible());
}

TEST(PopupMenuPointer, AHandlerThatFreesItsOwnItemIsSafe) {
    TMenuFixture F;
    F.AddRows(3);
    TMenuItemEx *Doomed = F.Menu.Items(1);
    Doomed->OnClick = [&F](QObject *) { F.Root.Delete(1); };
    F.Menu.Show(10, 10);
    F.Form().PointerPressed(TMenuFixture::RowCentre(F.Form(), 1));
    EXPECT_EQ(F.Menu.Count(), 2);
    F.Menu.Show(10, 10);
    EXPECT_EQ(F.Form().DisplayItemCnt(), 2);
}

TEST(PopupMenuSubmenu, OpensLevelWithItsItemInAScrolledMenu) {
    TMenuFixture F;
    F.AddRows(30);
    F.Menu.SetMaxHeight(340);
    TMenuItemEx *Parent = F.Menu.Items(6);
    for (int I = 0; I < 3; ++I)
        F.AddRow(QStringLiteral("child %1").arg(I), 25, Parent);
    F.Menu.Show(100, 50);
    TCustomPopupForm &Form = F.Form();
    Form.SetTopIndex(4);
    Form.PointerPressed(TMenuFixture::RowCentre(Form, 6));
    ASSERT_TRUE(Form.Submenu());
    TCustomPopupForm &Sub = *Form.Submenu()->PopupForm();
    ASSERT_TRUE(Sub.isVisible());
    EXPECT_TRUE(Form.SubMenuShowed());
    EXPECT_EQ(Sub.HideAction(), haClose);
    EXPECT_EQ(Form.Submenu()->Count(), 3);
    // Two rows (4 and 5) above it: 2 x (25 + 3).
    EXPECT_EQ(Sub.y(), Form.y() + 56);
    EXPECT_EQ(Sub.x(), Form.x() + Form.width() - 6);
    // Its first row lies level with the clicked one.
    EXPECT_EQ(Sub.mapToGlobal(QPoint(0, Sub.ItemsRect().top())).y(),
              Form.mapToGlobal(QPoint(0, Form.ItemsRect().top() + Form.ItemOffset(6))).y());
}

TEST(PopupMenuSubmenu, NearTheRightEdgeTheSubmenuOpensToTheLeft) {
    TMenuFixture F;
    TMenuItemEx *Parent = F.AddRow("Select proxy server");
    F.AddRow("Exit");
    for (int I = 0; I < 3; ++I)
        F.AddRow(QStringLiteral("10.0.0.%1:8080").arg(I), 25, Parent);
    F.Menu.Show(1270, 100);
    TCustomPopupForm &Form = F.Form();
    EXPECT_EQ(Form.x(), 1280 - Form.width() - 10);
    Form.PointerPressed(TMenuFixture::RowCentre(Form, 0));
    TCustomPopupForm &Sub = *Form.Submenu()->PopupForm();
    EXPECT_EQ(Sub.x(), Form.x() - Sub.width() + 6);
    EXPECT_LT(Sub.x(), Form.x());
}

TEST(PopupMenuSubmenu, RemembersItsTopIndexAndClosesWithAClickInIt) {
    TMenuFixture F;
    TMenuItemEx *Parent = F.AddRow("Select proxy server");
    F.AddRow("Exit");
    int Picked = -1;
    for (int I = 0; I < 40; ++I) {
        TMenuItemEx *Child = F.AddRow(QStringLiteral("10.0.0.%1:8080").arg(I), 25, Parent);
        Child->OnClick = [&Picked, I](QObject *) { Picked = I; };
    }
    F.Menu.Show(100, 100);
    TCustomPopupForm &Form = F.Form();
    Form.PointerPressed(TMenuFixture::RowCentre(Form, 0));
    TCustomPopupForm *Sub = Form.Submenu()->PopupForm();
    ASSERT_TRUE(Sub->ScrollerShow());
    Sub->SetTopIndex(7);
    Sub->hide(); // it loses the focus
    EXPECT_EQ(Parent->SubMenuTopItem(), 7);
    EXPECT_FALSE(Form.SubMenuShowed());

    F.Menu.Show(100, 100);
    Form.PointerPressed(TMenuFixture::RowCentre(Form, 0));
    Sub = Form.Submenu()->PopupForm();
    EXPECT_EQ(Sub->TopIndex(), 7);
    Sub->PointerPressed(TMenuFixture::RowCentre(*Sub, 8));
    EXPECT_EQ(Picked, 8);
    EXPECT_FALSE(Sub->isVisible());
    EXPECT_FALSE(Form.isVisible()) << "the main menu goes with it";

    // A remembered index that no longer fits a shorter list is brought back into range.
    while (Parent->Count() > 5)
        Parent->Delete(Parent->Count() - 1);
    Parent->SetSubMenuTopItem(30);
    F.Menu.Show(100, 100);
    Form.PointerPressed(TMenuFixture::RowCentre(Form, 0));
    EXPECT_EQ(Form.Submenu()->PopupForm()->TopIndex(), 0);
}

TEST(PopupMenuDrawing, DisabledRowsAreGreyAndTheWindowKeepsItsAlpha) {
    TMenuFixture F;
    TMenuItemEx *On = F.AddRow("Switch proxy server");
    On->SetImageIndex(2);
    TMenuItemEx *Off = F.AddRow("Delete selected proxy server");
    Off->SetImageIndex(3);
    Off->SetEnabled(false);
    F.Menu.Show(10, 10);
    TCustomPopupForm &Form = F.Form();
    const QImage &Out = Form.OutImage();
    ASSERT_EQ(Out.size(), Form.size());
    EXPECT_EQ(qAlpha(Out.pixel(0, 0)), 0) << "the corner outside the rounded frame is clear";
    EXPECT_GT(qAlpha(Out.pixel(Out.width() / 2, Out.height() / 2)), 200) << "the panel is nearly opaque";
    // Without a compositor the window is shaped by its alpha: the clear corner is no part of it.
    EXPECT_FALSE(Form.mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(Form.mask().contains(QPoint(Out.width() / 2, Out.height() / 2)));
    // The icon of a disabled row is grey; the enabled one keeps its colour.
    const auto Saturated = [&](int Row) {
        int Count = 0;
        const int Top = Form.ItemsRect().top() + Form.ItemOffset(Row);
        for (int Y = Top; Y < Top + 25; ++Y)
            for (int X = Form.ItemsRect().left() + 4; X < Form.ItemsRect().left() + 26; ++X) {
                const QColor C = QColor::fromRgba(Out.pixel(X, Y));
                Count += C.hsvSaturation() > 150 && C.alpha() > 200;
            }
        return Count;
    };
    EXPECT_GT(Saturated(0), 10);
    EXPECT_EQ(Saturated(1), 0);
}

TEST(PopupMenuSubmenu, ThePointerOverTheParentMenuReachesItWhileTheSubmenuIsOpen) {
    TMenuFixture F;
    TMenuItemEx *Parent = F.AddRow("Select proxy server");
    F.AddRow("Switch proxy server");
    int Switched = 0;
    F.Menu.Items(1)->OnClick = [&Switched](QObject *) { ++Switched; };
    for (int I = 0; I < 3; ++I)
        F.AddRow(QStringLiteral("10.0.0.%1:8080").arg(I), 25, Parent);
    F.Menu.Show(100, 100);
    TCustomPopupForm &Form = F.Form();
    Form.PointerPressed(TMenuFixture::RowCentre(Form, 0));
    TCustomPopupForm &Sub = *Form.Submenu()->PopupForm();
    ASSERT_TRUE(Sub.isVisible());
    // Events go to the open submenu; those over the parent menu are handed on to it.
    const QPoint Global = Form.mapToGlobal(TMenuFixture::RowCentre(Form, 1));
    QMouseEvent Move(QEvent::MouseMove, Sub.mapFromGlobal(Global), Global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&Sub, &Move);
    EXPECT_EQ(Form.SelectedItem(), 1);
    EXPECT_TRUE(Sub.isVisible());
    QMouseEvent Press(QEvent::MouseButtonPress, Sub.mapFromGlobal(Global), Global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&Sub, &Press);
    EXPECT_FALSE(Sub.isVisible());
    EXPECT_EQ(Switched, 1) << "the parent menu took the click";
}

TEST(PopupMenuSubmenu, EntriesFreedWhileTheSubmenuIsOpenLeaveIt) {
    TMenuFixture F;
    TMenuItemEx *Parent = F.AddRow("Select proxy server");
    for (int I = 0; I < 30; ++I)
        F.AddRow(QStringLiteral("10.0.0.%1:8080").arg(I), 25, Parent);
    F.Menu.SetMaxHeight(400);
    F.Menu.Show(100, 100);
    TCustomPopupForm &Form = F.Form();
    Form.PointerPressed(TMenuFixture::RowCentre(Form, 0));
    TCustomPopupForm &Sub = *Form.Submenu()->PopupForm();
    Sub.SetTopIndex(15);
    Sub.PointerMoved(TMenuFixture::RowCentre(Sub, 17));
    // A list download rebuilds the submenu's entries while it is on screen.
    Parent->Clear();
    EXPECT_EQ(Form.Submenu()->Count(), 0);
    EXPECT_EQ(Sub.TopIndex(), 0);
    Sub.PointerMoved(TMenuFixture::RowCentre(Sub, 0));
    Sub.PointerPressed(TMenuFixture::RowCentre(Sub, 0));
    EXPECT_EQ(Sub.SelectedItem(), -1);
}

TEST(PopupMenuHint, ShowsByThePointerAfterThePauseAndGoesAfterTheHidePause) {
    TMenuItemHint Hint;
    QCursor::setPos(300, 200);
    Hint.DoActivateHint(QStringLiteral("Germany"));
    EXPECT_FALSE(Hint.isVisible());
    EXPECT_TRUE(Hint.showTimer->isActive());
    EXPECT_TRUE(Hint.hideTimer->isActive());
    Hint.ShowTimerFired();
    EXPECT_TRUE(Hint.isVisible());
    EXPECT_FALSE(Hint.showTimer->isActive());
    EXPECT_EQ(Hint.pos(), QCursor::pos() + QPoint(16, 16));
    EXPECT_GT(Hint.width(), QFontMetrics(Hint.font()).horizontalAdvance("Germany"));
    Hint.HideTimerFired();
    EXPECT_FALSE(Hint.isVisible());
    EXPECT_FALSE(Hint.hideTimer->isActive());

    // An entry without a hint text shows nothing.
    Hint.DoActivateHint(QString());
    Hint.ShowTimerFired();
    EXPECT_FALSE(Hint.isVisible());
}
