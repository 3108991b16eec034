#pragma once
// The program's drawn popup menu: a frameless, always-on-top window painted from the skin pictures
// (frame, item backgrounds, separator, submenu arrow, scrollbar), with icons from two picture
// lists, captions and shortcut texts, a scrollbar with animated page scrolling when the items do
// not fit, one submenu of the same kind beside an item, and item hints.
//
// The items are the controller's TMenuItemEx model (app/MenuItemModel.h); this unit is their
// drawing side. The menu holds item references only and drops an item that is destroyed while it
// is listed, so a rebuild of the entries never leaves the open menu pointing at freed items.

#include "app/MenuItemModel.h"
#include "menu/gsSkinData.h"
#include "menu/gsSkinFunctions.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <vector>

class QTimer;
class TCustomPopupForm;
class TMenuItemHint;

enum TgsHorizontalAnchor { haLeft, haCenter, haRight };
enum TgsVerticalAnchor { vaTop, vaCenter, vaBottom };
enum TMoveDirection { mdUp, mdDown, mdNone };
enum TScrollerItem { siUpBtn, siDownBtn, siScroller, siNone };
enum THideAction { haHide, haClose };

/// A caption font with its colour (text output takes both).
struct TMenuFont {
    QFont Font;
    QColor Color;
};

/// The picture of an image list entry (loaded once per resource path; null when missing).
QImage ImageListPicture(const TPngImageList *List, int Index);

class TPopupMenuEx : public QObject {
    Q_OBJECT

public:
    explicit TPopupMenuEx(QObject *Owner = nullptr);
    ~TPopupMenuEx() override;

    // Items (references; the menu never frees them).
    void Add(TMenuItemEx *Item);
    void ClearItems();
    int Count() const { return static_cast<int>(FItems.size()); }
    TMenuItemEx *Items(int Index) const;

    /// Lays the menu out and shows it at (X, Y), screen coordinates, kept on the screen.
    void Show(int X, int Y);
    /// Hides the menu (and its open submenu).
    void Hide();
    bool Visible() const;

    // Measures.
    int ItemWidth(const TMenuItemEx &Item) const;
    /// Items that fit under MaxHeight.
    int FittingItems() const;
    int MenuWidth(bool WithScrollBar) const;
    int MenuHeight() const;

    /// The screen the menu keeps to; the primary screen unless set (tests set a fixed one).
    /// Setting it also gives MaxHeight and MaxWidth their starting values for that screen.
    QRect Screen() const;
    void SetScreen(const QRect &Value);

    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int Value) { FBorderWidth = Value; }
    TgsBorder &FrameBorder() { return FBorder; }
    const QImage &FrameImage() const { return FBorderImage; }
    void SetFrameImage(const QImage &Value);
    const QImage &BackgroudImage() const { return FBackgroungImage; }
    void SetBackgroudImage(const QImage &Value);
    TPngImageList *ImageList() const { return FImageList; }
    void SetImageList(TPngImageList *Value) { FImageList = Value; }
    TPngImageList *ImageList2() const { return FImageList2; }
    void SetImageList2(TPngImageList *Value) { FImageList2 = Value; }
    int MaxHeight() const { return FMaxHeight; }
    /// Values below 0 or above the screen height become the screen height.
    void SetMaxHeight(int Value);
    int MaxWidth() const { return FMaxWidth; }
    void SetMaxWidth(int Value) { FMaxWidth = Value; }
    int MinWidth() const { return FMinWidth; }
    void SetMinWidth(int Value) { FMinWidth = Value; }
    int ItemIndex() const { return FItemIndex; }
    void SetItemIndex(int Value) { FItemIndex = Value; }
    const TMenuFont &Font() const { return FFont; }
    void SetFont(const TMenuFont &Value) { FFont = Value; }
    const TMenuFont &SelectedFont() const { return FSelectedFont; }
    void SetSelectedFont(const TMenuFont &Value) { FSelectedFont = Value; }
    const TMenuFont &DisabledFont() const { return FDisabledFont; }
    void SetDisabledFont(const TMenuFont &Value) { FDisabledFont = Value; }
    const TMenuFont &ShortCutFont() const { return FShortCutFont; }
    void SetShortCutFont(const TMenuFont &Value) { FShortCutFont = Value; }

    // Skin pictures with three state frames side by side: each skin takes the picture and a
    // size of one frame.
    void SetScrollBarUpImage(const QImage &Value) { SetSkinPicture(FScrollBarUpSkin, Value); }
    void SetScrollBarDownImage(const QImage &Value) { SetSkinPicture(FScrollBarDownSkin, Value); }
    void SetScrollBarElevatorImage(const QImage &Value) { SetSkinPicture(FScrollBarElevatorSkin, Value); }
    void SetSubMenuImage(const QImage &Value) { SetSkinPicture(FSubMenuSkin, Value); }
    void SetMenuItemImage(const QImage &Value) { SetSkinPicture(FMenuItemSkin, Value); }
    void SetScrollBarBodyImage(const QImage &Value);
    void SetMenuSeparatorImage(const QImage &Value);
    const TgsSkinData &ScrollBarUpSkin() const { return FScrollBarUpSkin; }
    const TgsSkinData &ScrollBarDownSkin() const { return FScrollBarDownSkin; }
    const TgsSkinData &ScrollBarElevatorSkin() const { return FScrollBarElevatorSkin; }
    const TgsSkinData &SubMenuSkin() const { return FSubMenuSkin; }
    const TgsSkinData &MenuItemSkin() const { return FMenuItemSkin; }
    const QImage &ScrollBarBodyImage() const { return FScrollBarBodyImage; }
    const QImage &MenuSeparatorImage() const { return FMenuSeparatorImage; }
    TgsBorder &MenuItemBorder() { return FItemBorder; }

    TgsHorizontalAnchor HorizontalAnchor() const { return FHorizontalAnchor; }
    void SetHorizontalAnchor(TgsHorizontalAnchor Value) { FHorizontalAnchor = Value; }
    TgsVerticalAnchor VerticalAnchor() const { return FVerticalAnchor; }
    void SetVerticalAnchor(TgsVerticalAnchor Value) { FVerticalAnchor = Value; }
    int HorizontalSpace() const { return FHorizontalSpace; }
    void SetHorizontalSpace(int Value) { FHorizontalSpace = Value; }
    int VerticalSpace() const { return FVerticalSpace; }
    void SetVerticalSpace(int Value) { FVerticalSpace = Value; }
    int ItemSpace() const { return FItemSpace; }
    void SetItemSpace(int Value) { FItemSpace = Value; }
    int SubMenuDistance() const { return FSubMenuDistance; }
    void SetSubMenuDistance(int Value) { FSubMenuDistance = Value; }
    int ScrollbarOverLap() const { return FScrollbarOverLap; }
    void SetScrollbarOverLap(int Value) { FScrollbarOverLap = Value; }

    /// Copies every setting a submenu takes from the menu that opens it (not items, image lists
    /// or parents).
    void AssignLook(const TPopupMenuEx &Source);

    bool IsSubMenu() const { return FIsSubMenu; }
    TMenuItemEx *ParentItem() const { return FParentItem; }
    TCustomPopupForm *PopupForm() const { return FPopupForm; }

private:
    // The items that fit under MaxHeight from the first, and the menu's height with them.
    int Fit(int *Height = nullptr) const;
    friend class TCustomPopupForm;
    void SetSkinPicture(TgsSkinData &Skin, const QImage &Value);
    void ItemDestroyed(QObject *Item);

    QObject *FOwner;
    TCustomPopupForm *FPopupForm = nullptr;
    int FBorderWidth = 10;
    TPngImageList *FImageList = nullptr;
    TPngImageList *FImageList2 = nullptr;
    std::vector<TMenuItemEx *> FItems;
    bool FIsSubMenu = false;
    int FMaxHeight = 0;
    int FMaxWidth = 0;
    int FMinWidth = 0;
    TMenuFont FFont;
    TMenuFont FSelectedFont;
    TMenuFont FDisabledFont;
    TMenuFont FShortCutFont;
    QImage FBackgroungImage;
    QImage FBorderImage;
    TgsBorder FItemBorder;
    TgsBorder FBorder;
    QPointer<TCustomPopupForm> FParentForm;
    TgsSkinData FScrollBarUpSkin;
    TgsSkinData FScrollBarDownSkin;
    QImage FScrollBarBodyImage;
    TgsSkinData FScrollBarElevatorSkin;
    TgsSkinData FSubMenuSkin;
    TgsSkinData FMenuItemSkin;
    QImage FMenuSeparatorImage;
    TgsHorizontalAnchor FHorizontalAnchor = haLeft;
    TgsVerticalAnchor FVerticalAnchor = vaTop;
    int FHorizontalSpace = 0;
    int FVerticalSpace = 0;
    int FItemSpace = 3;
    int FSubMenuDistance = -6;
    int FScrollbarOverLap = 0;
    QPointer<TMenuItemEx> FParentItem;
    int FItemIndex = 0;
    QRect FScreen;
};

/// The settings the tray menu is dressed with at start-up: border width 30, at most 1000 pixels
/// high, white bold 10-point captions, grey disabled texts, light grey 11-point shortcut texts and
/// the skin pictures ":/WINDOW_FRAME", ":/MENU_ITEM" ... with their borders. Both image lists are
/// Icons.
void DressTrayMenu(TPopupMenuEx &Menu, TPngImageList *Icons);

/// The hint window of the items: shown after the hint pause, hidden after the hide pause, both
/// counted from DoActivateHint.
class TMenuItemHint : public QWidget {
    Q_OBJECT

public:
    explicit TMenuItemHint(QWidget *Parent = nullptr);
    ~TMenuItemHint() override;
    void DoActivateHint(const QString &Text);
    QString Text() const { return FText; }
    QTimer *showTimer = nullptr;
    QTimer *hideTimer = nullptr;
    /// What the timers do when they fire: show the hint by the pointer (unless its text is
    /// empty), and hide it.
    void ShowTimerFired();
    void HideTimerFired();

protected:
    void paintEvent(QPaintEvent *Event) override;

private:
    QString FText;
};

/// The menu's window: lays out, draws and handles the pointer, the wheel and the page keys.
class TCustomPopupForm : public QWidget {
    Q_OBJECT

public:
    explicit TCustomPopupForm(TPopupMenuEx *Menu);
    ~TCustomPopupForm() override;

    /// Builds the background and the scrollbar geometry for the present items and size.
    void LayoutWindow(int Width, int Height);
    /// Renders the visible items and composes the window image.
    void Redraw();

    void LineUp();
    void LineDown();
    void PageUp();
    void PageDown();
    bool AnimationRunning() const;
    /// Runs the page scroll animation to its end at once.
    void FinishAnimation();
    /// One step of the page scroll animation (the 20 ms timer calls it).
    void AnimationTick();

    /// Pointer handling in window coordinates (the event handlers call these).
    void PointerMoved(QPoint Pos);
    void PointerPressed(QPoint Pos);
    void PointerReleased(QPoint Pos);

    /// Index of the item at Pos (window coordinates), -1 for none or a gap.
    int ItemAt(QPoint Pos) const;
    /// Offset of item Index below the first visible item (heights and gaps of those above it).
    int ItemOffset(int Index) const;

    int TopIndex() const { return FTopIndex; }
    void SetTopIndex(int Value);
    int DisplayItemCnt() const { return FDisplayItemCnt; }
    bool ScrollerShow() const { return FScrollerShow; }
    int SelectedItem() const { return FSelectedItem; }
    bool SubMenuShowed() const { return FSubMenuShowed; }
    TPopupMenuEx *Submenu() const { return FSubmenu; }
    TMenuItemHint *MenuItemHint() const { return FMenuItemHint; }
    THideAction HideAction() const { return FHideAction; }
    QRect ItemsRect() const { return QRect(FItemsX, FItemsY, FItemsWidth, FItemsHeight); }
    QRect UpButtonRect() const { return QRect(FScrlUpX, FScrlUpY, FScrlUpW, FScrlUpH); }
    QRect DownButtonRect() const { return QRect(FScrlDnX, FScrlDnY, FScrlDnW, FScrlDnH); }
    QRect ThumbRect() const;
    /// The composed window image, as last handed to the screen.
    const QImage &OutImage() const { return FOutBitmap; }
    /// How often the window image was composed (each redraw).
    int RedrawCount() const { return FRedrawCount; }

protected:
    void paintEvent(QPaintEvent *Event) override;
    void mouseMoveEvent(QMouseEvent *Event) override;
    void mousePressEvent(QMouseEvent *Event) override;
    void mouseReleaseEvent(QMouseEvent *Event) override;
    void wheelEvent(QWheelEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;
    void hideEvent(QHideEvent *Event) override;

private:
    friend class TPopupMenuEx;
    QImage RenderItems(int From, int To, int Width) const;
    void DrawItem(QPainter &P, const TMenuItemEx &Item, int Top, int Width) const;
    void ComposeScrollbar(QImage &Out, bool Animating) const;
    void Present();
    void OpenSubmenu(int Index);
    void StartPageScroll(int Step);
    int ThumbPosition(double Ratio) const;
    TScrollerItem ScrollPartAt(QPoint Pos) const;
    int ItemCount() const { return FMenu->Count(); }
    // Forwards pointer events that land on the menu that opened this submenu.
    bool ForwardToParent(QMouseEvent *Event, bool Press);

    TPopupMenuEx *FMenu;
    TMenuItemHint *FMenuItemHint;
    QTimer *Timer;
    QTimer *ATimer;
    int FScrlUpX = 0, FScrlUpY = 0, FScrlUpW = 0, FScrlUpH = 0;
    int FScrlDnX = 0, FScrlDnY = 0, FScrlDnW = 0, FScrlDnH = 0;
    int FScrollerT = 0;
    int FScrollerX = 0, FScrollerY = 0;
    int FScrollerH = 0;
    int FScrollerW = 0;
    int FScrollerS = 0;
    QRect FScrollerRect;
    int FScrollerStart = 0, FScrollerEnd = 0;
    int FScrollerDelta = 0;
    int FItemsX = 0, FItemsY = 0, FItemsHeight = 0, FItemsWidth = 0;
    bool FScrollerChanged = false;
    bool FMouseClicked = false;
    QImage FBitmap;
    QImage FMenuBitmap;
    QImage FOutBitmap;
    int FTopIndex = 0;
    int FDisplayItemCnt = 0;
    TMoveDirection FDirection = mdNone;
    TScrollerItem FPressedItem = siNone;
    TScrollerItem FHoverItem = siNone;
    int FMaxHeight = 0;
    int FMaxWidth = 0;
    int FItemX = 0, FItemY = 0;
    int FSelectedItem = -1;
    bool FScroll = false;
    int FScrollCnt = 0, FItem = 0;
    bool FSubMenuShowed = false;
    TPopupMenuEx *FSubmenu = nullptr;
    bool FScrollerShow = false;
    THideAction FHideAction = haHide;
    int FAnimationStep = 0;
    int FRedrawCount = 0;
    bool FTranslucent = false;
    // Set while this submenu goes away because its parent takes over (the parent stays open).
    bool FKeepParent = false;
};
