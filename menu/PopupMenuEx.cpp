#include "menu/PopupMenuEx.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QWheelEvent>
#include <QtMath>

#include <algorithm>
#include <cmath>

#ifdef RELAYVANE_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace {

// A pixel at least this opaque belongs to the window's shape when no compositor blends it.
constexpr int kMaskAlpha = 128;
// The platform's hint pauses: the hint appears after half a second and goes after 2.5 s.
constexpr int kHintPause = 500;
constexpr int kHintHidePause = 2500;

// Per-pixel alpha needs a compositing manager on X11 (the owner of _NET_WM_CM_S<screen>); Wayland
// always composites. Without one, translucent pixels would show black, so the window is shaped
// with a mask instead.
bool CompositorRunning() {
    const QString Platform = QGuiApplication::platformName();
    if (Platform.startsWith(QLatin1String("wayland")))
        return true;
#ifdef RELAYVANE_HAVE_XCB
    if (Platform != QLatin1String("xcb"))
        return false;
    auto *X11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!X11 || !X11->connection())
        return false;
    xcb_connection_t *C = X11->connection();
    int Screen = 0;
    const QByteArray Display = qgetenv("DISPLAY");
    const int Dot = Display.lastIndexOf('.');
    if (Dot > Display.lastIndexOf(':'))
        Screen = Display.mid(Dot + 1).toInt();
    const QByteArray Name = "_NET_WM_CM_S" + QByteArray::number(Screen);
    xcb_intern_atom_reply_t *Atom =
        xcb_intern_atom_reply(C, xcb_intern_atom(C, 1, Name.size(), Name.constData()), nullptr);
    if (!Atom)
        return false;
    bool Owned = false;
    if (Atom->atom != XCB_ATOM_NONE) {
        xcb_get_selection_owner_reply_t *Owner =
            xcb_get_selection_owner_reply(C, xcb_get_selection_owner(C, Atom->atom), nullptr);
        Owned = Owner && Owner->owner != XCB_NONE;
        free(Owner);
    }
    free(Atom);
    return Owned;
#else
    return false;
#endif
}

// Frame State (0 normal, 1 hover, 2 pressed) of a skin picture at its own size.
QImage SkinFrame(const TgsSkinData &Skin, int State) {
    const int W = Skin.FrameWidth(), H = Skin.FrameHeight();
    if (W <= 0 || H <= 0 || State >= Skin.States())
        return QImage();
    return Skin.Picture().copy(State * W, 0, W, H);
}

// The state image of a skin at its set size; hover and pressed fall back to normal.
const QImage &SkinImage(const TgsSkinData &Skin, int State) {
    if (State == 2 && !Skin.ActiveImage().isNull())
        return Skin.ActiveImage();
    if (State >= 1 && !Skin.OverImage().isNull())
        return Skin.OverImage();
    return Skin.NormalImage();
}

bool RegionHit(const TgsSkinData &Skin, QPoint Origin, QPoint Pos) {
    const QPoint Local = Pos - Origin;
    if (!Skin.Region().isEmpty())
        return Skin.Region().contains(Local);
    return QRect(0, 0, Skin.Width(), Skin.Height()).contains(Local);
}

int Round(double Value) {
    return static_cast<int>(std::lround(Value));
}

} // namespace

QImage ImageListPicture(const TPngImageList *List, int Index) {
    if (!List || Index < 0 || Index >= List->Count())
        return QImage();
    static QHash<QString, QImage> Cache;
    const QString Path = List->Path(Index);
    auto It = Cache.find(Path);
    if (It == Cache.end()) {
        QImage Loaded(Path);
        if (!Loaded.isNull())
            Loaded = Loaded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        It = Cache.insert(Path, Loaded);
    }
    return It.value();
}

// ---------------------------------------------------------------------------------------------
// TPopupMenuEx

TPopupMenuEx::TPopupMenuEx(QObject *Owner)
    : QObject(Owner), FOwner(Owner), FScrollBarUpSkin(this), FScrollBarDownSkin(this), FScrollBarElevatorSkin(this),
      FSubMenuSkin(this), FMenuItemSkin(this) {
    FMaxHeight = Screen().height();
    FMaxWidth = Screen().width() / 2;
    QFont Base = QApplication::font();
    FFont = {Base, Qt::black};
    FSelectedFont = {Base, Qt::black};
    FDisabledFont = {Base, QColor(128, 128, 128)};
    FShortCutFont = {Base, Qt::black};
    FPopupForm = new TCustomPopupForm(this);
}

TPopupMenuEx::~TPopupMenuEx() {
    delete FPopupForm;
}

void TPopupMenuEx::Add(TMenuItemEx *Item) {
    if (!Item)
        return;
    FItems.push_back(Item);
    // One connection per item, even when it is listed twice.
    disconnect(Item, nullptr, this, nullptr);
    connect(Item, &QObject::destroyed, this, &TPopupMenuEx::ItemDestroyed);
    connect(Item, &TMenuItemEx::Changed, this, [this] {
        if (Visible() && !FPopupForm->AnimationRunning())
            FPopupForm->Redraw();
    });
}

void TPopupMenuEx::ClearItems() {
    for (TMenuItemEx *Item : FItems)
        disconnect(Item, nullptr, this, nullptr);
    FItems.clear();
    FPopupForm->FSelectedItem = -1;
}

TMenuItemEx *TPopupMenuEx::Items(int Index) const {
    return Index >= 0 && Index < Count() ? FItems[static_cast<size_t>(Index)] : nullptr;
}

void TPopupMenuEx::ItemDestroyed(QObject *Item) {
    const auto It = std::find(FItems.begin(), FItems.end(), static_cast<TMenuItemEx *>(Item));
    if (It == FItems.end())
        return;
    FItems.erase(It);
    FPopupForm->FSelectedItem = -1;
    if (Visible()) {
        // Lay out again for the shorter list, where the window is.
        FPopupForm->FinishAnimation();
        Show(FPopupForm->x(), FPopupForm->y());
    }
}

QRect TPopupMenuEx::Screen() const {
    if (FScreen.isValid())
        return FScreen;
    if (QScreen *S = QGuiApplication::primaryScreen())
        return S->geometry();
    return QRect(0, 0, 1024, 768);
}

void TPopupMenuEx::SetScreen(const QRect &Value) {
    FScreen = Value;
    FMaxHeight = Screen().height();
    FMaxWidth = Screen().width() / 2;
}

void TPopupMenuEx::SetMaxHeight(int Value) {
    const int ScreenHeight = Screen().height();
    FMaxHeight = (Value < 0 || Value > ScreenHeight) ? ScreenHeight : Value;
}

void TPopupMenuEx::SetFrameImage(const QImage &Value) {
    FBorderImage = Value.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void TPopupMenuEx::SetBackgroudImage(const QImage &Value) {
    FBackgroungImage = Value.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void TPopupMenuEx::SetScrollBarBodyImage(const QImage &Value) {
    FScrollBarBodyImage = Value.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void TPopupMenuEx::SetMenuSeparatorImage(const QImage &Value) {
    FMenuSeparatorImage = Value.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void TPopupMenuEx::SetSkinPicture(TgsSkinData &Skin, const QImage &Value) {
    Skin.SetPicture(Value);
    Skin.SetWidthHeight(Value.width() / 3, Value.height());
}

void TPopupMenuEx::AssignLook(const TPopupMenuEx &Source) {
    FBorderWidth = Source.FBorderWidth;
    FMaxHeight = Source.FMaxHeight;
    FMaxWidth = Source.FMaxWidth;
    FFont = Source.FFont;
    FSelectedFont = Source.FSelectedFont;
    FDisabledFont = Source.FDisabledFont;
    FShortCutFont = Source.FShortCutFont;
    FBorderImage = Source.FBorderImage;
    FBackgroungImage = Source.FBackgroungImage;
    FBorder.Assign(Source.FBorder);
    FHorizontalAnchor = Source.FHorizontalAnchor;
    FVerticalAnchor = Source.FVerticalAnchor;
    FScrollBarUpSkin.Assign(Source.FScrollBarUpSkin);
    FScrollBarDownSkin.Assign(Source.FScrollBarDownSkin);
    FScrollBarElevatorSkin.Assign(Source.FScrollBarElevatorSkin);
    FScrollBarBodyImage = Source.FScrollBarBodyImage;
    FSubMenuSkin.Assign(Source.FSubMenuSkin);
    FMenuItemSkin.Assign(Source.FMenuItemSkin);
    FMenuSeparatorImage = Source.FMenuSeparatorImage;
    FItemBorder.Assign(Source.FItemBorder);
    FScrollbarOverLap = Source.FScrollbarOverLap;
    FHorizontalSpace = Source.FHorizontalSpace;
    FVerticalSpace = Source.FVerticalSpace;
    FItemSpace = Source.FItemSpace;
    FSubMenuDistance = Source.FSubMenuDistance;
    FScreen = Source.FScreen;
}

int TPopupMenuEx::ItemWidth(const TMenuItemEx &Item) const {
    int Width = QFontMetrics(FFont.Font).horizontalAdvance(Item.Caption()) + 16;
    if (!Item.ShortCutText().isEmpty())
        Width += QFontMetrics(FShortCutFont.Font).horizontalAdvance(Item.ShortCutText()) + Item.ShortCurSpace();
    return Width;
}

int TPopupMenuEx::Fit(int *Height) const {
    int H = 2 * FBorderWidth + 2 * FVerticalSpace - FItemSpace;
    int Count = 0;
    for (TMenuItemEx *Item : FItems) {
        if (H + Item->Height() + FItemSpace >= FMaxHeight)
            break;
        H += Item->Height() + FItemSpace;
        ++Count;
    }
    if (Height)
        *Height = H;
    return Count;
}

int TPopupMenuEx::FittingItems() const {
    return Fit();
}

int TPopupMenuEx::MenuHeight() const {
    int Height = 0;
    Fit(&Height);
    return Height;
}

int TPopupMenuEx::MenuWidth(bool WithScrollBar) const {
    int Widest = 0;
    const int Icons = (FImageList ? FImageList->Width() : 0) + (FImageList2 ? FImageList2->Width() : 0);
    for (TMenuItemEx *Item : FItems)
        Widest = std::max(Widest, ItemWidth(*Item) + Icons);
    if (FItems.empty())
        Widest = 250;
    int Width = Widest + FBorder.Left() + FBorder.Right() + 2 * FHorizontalSpace;
    if (WithScrollBar)
        Width += FScrollBarElevatorSkin.Width();
    if (FMaxWidth > 0 && FMaxWidth < Width)
        Width = FMaxWidth;
    if (FMinWidth > Width)
        Width = FMinWidth;
    return Width;
}

void TPopupMenuEx::Show(int X, int Y) {
    TCustomPopupForm *F = FPopupForm;
    const int N = Count();
    int H = 0;
    F->FDisplayItemCnt = Fit(&H);
    F->FScrollerShow = F->FDisplayItemCnt < N;
    const int W = MenuWidth(F->FScrollerShow);
    const QRect S = Screen();
    if (X + W > S.x() + S.width()) {
        if (FIsSubMenu && FParentForm)
            X = FParentForm->x() - W - FSubMenuDistance;
        else
            X = S.x() + S.width() - W - 10;
    }
    if (Y + H > S.y() + S.height())
        Y = S.y() + S.height() - H - 10;
    X = std::max(X, S.x());
    Y = std::max(Y, S.y());
    // A remembered top index may no longer fit a list that has shrunk since.
    F->FTopIndex = std::clamp(F->FTopIndex, 0, std::max(0, N - F->FDisplayItemCnt));
    F->move(X, Y);
    F->LayoutWindow(W, H);
    F->show();
    F->raise();
    F->activateWindow();
}

void TPopupMenuEx::Hide() {
    if (FPopupForm->isVisible())
        FPopupForm->hide();
}

bool TPopupMenuEx::Visible() const {
    return FPopupForm->isVisible();
}

void DressTrayMenu(TPopupMenuEx &Menu, TPngImageList *Icons) {
    Menu.SetImageList(Icons);
    Menu.SetImageList2(Icons);
    Menu.SetBorderWidth(30);
    Menu.SetMaxHeight(std::min(Menu.Screen().height(), 1000));
    QFont Bold = QApplication::font();
    Bold.setPointSize(10);
    Bold.setBold(true);
    QFont Plain = Bold;
    Plain.setBold(false);
    QFont Shortcut = Plain;
    Shortcut.setPointSize(11);
    Menu.SetFont({Bold, QColor(255, 255, 255)});
    Menu.SetSelectedFont({Bold, QColor(255, 255, 255)});
    Menu.SetDisabledFont({Plain, QColor(163, 163, 163)});
    Menu.SetShortCutFont({Shortcut, QColor(218, 218, 218)});
    Menu.SetFrameImage(QImage(QStringLiteral(":/WINDOW_FRAME")));
    Menu.FrameBorder().SetAll(39);
    Menu.MenuItemBorder().SetAll(2);
    Menu.SetScrollbarOverLap(-2);
    Menu.SetScrollBarUpImage(QImage(QStringLiteral(":/SCROLLBAR_BUTTON_UP")));
    Menu.SetScrollBarDownImage(QImage(QStringLiteral(":/SCROLLBAR_BUTTON_DOWN")));
    Menu.SetScrollBarElevatorImage(QImage(QStringLiteral(":/SCROLLBAR_ELEVATOR")));
    Menu.SetScrollBarBodyImage(QImage(QStringLiteral(":/SCROLLBAR_BACKGROUND")));
    Menu.SetSubMenuImage(QImage(QStringLiteral(":/MENU_ARROR")));
    Menu.SetMenuItemImage(QImage(QStringLiteral(":/MENU_ITEM")));
    Menu.SetMenuSeparatorImage(QImage(QStringLiteral(":/MENU_SEPARATOR")));
}

// ---------------------------------------------------------------------------------------------
// TMenuItemHint

TMenuItemHint::TMenuItemHint(QWidget *Parent)
    : QWidget(Parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    showTimer = new QTimer(this);
    showTimer->setInterval(kHintPause);
    hideTimer = new QTimer(this);
    hideTimer->setInterval(kHintHidePause);
    connect(showTimer, &QTimer::timeout, this, &TMenuItemHint::ShowTimerFired);
    connect(hideTimer, &QTimer::timeout, this, &TMenuItemHint::HideTimerFired);
}

TMenuItemHint::~TMenuItemHint() {
    showTimer->disconnect(this);
    hideTimer->disconnect(this);
}

void TMenuItemHint::DoActivateHint(const QString &Text) {
    hide();
    FText = Text;
    showTimer->start();
    hideTimer->start();
}

void TMenuItemHint::ShowTimerFired() {
    showTimer->stop();
    if (FText.isEmpty())
        return;
    const QFontMetrics M(font());
    resize(M.horizontalAdvance(FText) + 6 + 8, M.height() + 4 + 4);
    move(QCursor::pos() + QPoint(16, 16));
    show();
}

void TMenuItemHint::HideTimerFired() {
    hideTimer->stop();
    hide();
}

void TMenuItemHint::paintEvent(QPaintEvent *) {
    QPainter P(this);
    P.fillRect(rect(), QColor(30, 34, 42));
    P.setPen(QColor(255, 255, 255, 60));
    P.drawRect(rect().adjusted(0, 0, -1, -1));
    P.setPen(Qt::white);
    P.drawText(rect(), Qt::AlignCenter, FText);
}

// ---------------------------------------------------------------------------------------------
// TCustomPopupForm

TCustomPopupForm::TCustomPopupForm(TPopupMenuEx *Menu)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint),
      FMenu(Menu) {
    FTranslucent = CompositorRunning();
    if (FTranslucent)
        setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    FMenuItemHint = new TMenuItemHint(this);
    Timer = new QTimer(this);
    Timer->setInterval(100);
    connect(Timer, &QTimer::timeout, Timer, &QTimer::stop);
    ATimer = new QTimer(this);
    ATimer->setInterval(20);
    connect(ATimer, &QTimer::timeout, this, &TCustomPopupForm::AnimationTick);
}

TCustomPopupForm::~TCustomPopupForm() {
    ATimer->stop();
}

void TCustomPopupForm::LayoutWindow(int W, int H) {
    const int M = FMenu->FBorderWidth;
    FBitmap = QImage(std::max(W, 1), std::max(H, 1), QImage::Format_ARGB32_Premultiplied);
    FBitmap.fill(Qt::transparent);
    {
        QPainter P(&FBitmap);
        const QImage &Back = FMenu->FBackgroungImage;
        if (!Back.isNull()) {
            const int OffX = FMenu->FHorizontalAnchor == haLeft     ? 0
                             : FMenu->FHorizontalAnchor == haCenter ? (Back.width() - W) / 2
                                                                    : Back.width() - W;
            const int OffY = FMenu->FVerticalAnchor == vaTop      ? 0
                             : FMenu->FVerticalAnchor == vaCenter ? (Back.height() - H) / 2
                                                                  : Back.height() - H;
            P.drawImage(QPoint(M, M), Back, QRect(OffX, OffY, W - 2 * M, H - 2 * M));
        }
        P.drawImage(0, 0, TgsSkinFunctions().PrepareSurface(W, H, true, FMenu->FBorder, FMenu->FBorderImage));
    }
    FOutBitmap = QImage(FBitmap.size(), QImage::Format_ARGB32_Premultiplied);

    const TgsSkinData &Up = FMenu->FScrollBarUpSkin, &Down = FMenu->FScrollBarDownSkin;
    const TgsSkinData &Thumb = FMenu->FScrollBarElevatorSkin;
    FScrollerW = FMenu->FScrollBarBodyImage.width();
    FScrollerRect = QRect(QPoint(W - M - FScrollerW - 1, M + 1), QPoint(W - M, H - M - 1) - QPoint(1, 1));
    FScrlUpW = Up.Width();
    FScrlUpH = Up.Height();
    FScrlUpX = W - M - FScrlUpW;
    FScrlUpY = M + 1;
    FScrlDnW = Down.Width();
    FScrlDnH = Down.Height();
    FScrlDnX = W - M - FScrlDnW;
    FScrlDnY = H - M - FScrlDnH;
    FScrollerX = W - M - Thumb.Width() - 2;
    FScrollerT = M + FScrlUpH - FMenu->FScrollbarOverLap;
    FScrollerH = FScrlDnY + FMenu->FScrollbarOverLap - FScrollerT + 2;
    FScrollerS = Thumb.Height();
    if (FScrollerShow) {
        QPainter P(&FBitmap);
        if (!FMenu->FScrollBarBodyImage.isNull())
            P.drawImage(FScrollerRect, FMenu->FScrollBarBodyImage);
        P.drawImage(FScrlUpX, FScrlUpY, Up.NormalImage());
        P.drawImage(FScrlDnX, FScrlDnY, Down.NormalImage());
    }

    FItemX = FItemsX = M + FMenu->FHorizontalSpace;
    FItemY = FItemsY = M + FMenu->FVerticalSpace;
    FItemsWidth = W - 2 * M - 2 * FMenu->FHorizontalSpace - (FScrollerShow ? FScrlUpW : 0);
    FItemsHeight = H - 2 * M - 2 * FMenu->FVerticalSpace;
    FMaxWidth = FItemsWidth;
    FMaxHeight = H;
    resize(W, H);
    Redraw();
}

void TCustomPopupForm::DrawItem(QPainter &P, const TMenuItemEx &Item, int Top, int Width) const {
    const int H = Item.Height();
    if (Width <= 0 || H <= 0)
        return;
    const TgsSkinFunctions Skin;
    QImage Pic;
    if (Item.Separator()) {
        Pic = Skin.PrepareSurface(Width, H, true, FMenu->FItemBorder, FMenu->FMenuSeparatorImage);
    } else {
        const int State = (Item.Enabled() && Item.MouseOver()) ? 1 : Item.Selected() ? 2 : 0;
        Pic = Skin.PrepareSurface(Width, H, true, FMenu->FItemBorder, SkinFrame(FMenu->FMenuItemSkin, State));
        QPainter IP(&Pic);
        const TPngImageList *L1 = FMenu->FImageList, *L2 = FMenu->FImageList2;
        const QImage Left = ImageListPicture(L1, Item.ImageIndex());
        if (!Left.isNull())
            IP.drawImage(4, (H - L1->Height()) / 2, Left);
        const QImage Right = ImageListPicture(L2, Item.ImageIndex2());
        if (!Right.isNull())
            IP.drawImage(Width - L2->Width() - 5, (H - L2->Height()) / 2, Right);
        if (Item.Count() > 0) {
            const TgsSkinData &Arrow = FMenu->FSubMenuSkin;
            const QImage &A = Item.Selected() ? Arrow.NormalImage() : SkinImage(Arrow, 1);
            if (!A.isNull())
                IP.drawImage(Width - A.width() - 8, (H - A.height()) / 2, A);
        }
        IP.end();
        if (!Item.Enabled())
            Pic = Skin.ConvertToGrayscale(Pic);
    }
    P.drawImage(0, Top, Pic);
    if (Item.Separator())
        return;

    // The strip keeps its alpha, so text is drawn straight onto it; no separate mask is needed.
    const TMenuFont &Caption = !Item.Enabled()   ? FMenu->FDisabledFont
                               : Item.Selected() ? FMenu->FSelectedFont
                                                 : FMenu->FFont;
    const int TextX = (FMenu->FImageList ? FMenu->FImageList->Width() : 0) + 8;
    P.setFont(Caption.Font);
    P.setPen(Caption.Color);
    const QFontMetrics CM(Caption.Font);
    P.drawText(TextX, Top + (H - CM.height()) / 2 + CM.ascent(), Item.Caption());
    if (!Item.ShortCutText().isEmpty()) {
        const TMenuFont &Short = Item.Enabled() ? FMenu->FShortCutFont : FMenu->FDisabledFont;
        const QFontMetrics SM(Short.Font);
        P.setFont(Short.Font);
        P.setPen(Short.Color);
        P.drawText(Width - SM.horizontalAdvance(Item.ShortCutText()) - Item.ShortCurSpace(),
                   Top + (H - SM.height()) / 2 + SM.ascent(), Item.ShortCutText());
    }
}

QImage TCustomPopupForm::RenderItems(int From, int To, int Width) const {
    int Height = 0;
    for (int I = From; I <= To && I < ItemCount(); ++I)
        Height += FMenu->Items(I)->Height() + (I > From ? FMenu->FItemSpace : 0);
    QImage Strip(std::max(Width, 1), std::max({Height, FItemsHeight, 1}), QImage::Format_ARGB32_Premultiplied);
    Strip.fill(Qt::transparent);
    QPainter P(&Strip);
    P.setRenderHint(QPainter::TextAntialiasing);
    int Top = 0;
    for (int I = From; I <= To && I < ItemCount(); ++I) {
        const TMenuItemEx &Item = *FMenu->Items(I);
        DrawItem(P, Item, Top, Width);
        Top += Item.Height() + FMenu->FItemSpace;
    }
    return Strip;
}

int TCustomPopupForm::ThumbPosition(double Ratio) const {
    return FScrollerT + Round(Ratio * (FScrollerH - FScrollerS));
}

QRect TCustomPopupForm::ThumbRect() const {
    return QRect(FScrollerX, FScrollerY, FMenu->FScrollBarElevatorSkin.Width(), FScrollerS);
}

void TCustomPopupForm::ComposeScrollbar(QImage &Out, bool Animating) const {
    if (!FScrollerShow)
        return;
    QPainter P(&Out);
    const auto State = [this](TScrollerItem Part) {
        if (FMouseClicked && FPressedItem == Part)
            return 2;
        return FHoverItem == Part && !FMouseClicked ? 1 : 0;
    };
    P.drawImage(FScrlUpX, FScrlUpY, SkinImage(FMenu->FScrollBarUpSkin, State(siUpBtn)));
    P.drawImage(FScrlDnX, FScrlDnY, SkinImage(FMenu->FScrollBarDownSkin, State(siDownBtn)));
    const int ThumbState = (FScroll || State(siScroller) == 2) ? 2 : Animating ? 0 : State(siScroller);
    P.drawImage(FScrollerX, FScrollerY, SkinImage(FMenu->FScrollBarElevatorSkin, ThumbState));
}

void TCustomPopupForm::Redraw() {
    if (FBitmap.isNull())
        return;
    const int N = ItemCount();
    FMenuBitmap = RenderItems(FTopIndex, FTopIndex + FDisplayItemCnt - 1, FItemsWidth);
    FOutBitmap = FBitmap.copy();
    {
        QPainter P(&FOutBitmap);
        P.setClipRect(ItemsRect());
        P.drawImage(FItemsX, FItemsY, FMenuBitmap);
    }
    if (N > 0 && !FScroll) {
        const double R =
            FDisplayItemCnt >= N ? 1.0 : 1.0 - double(N - FTopIndex - FDisplayItemCnt) / double(N - FDisplayItemCnt);
        FScrollerY = ThumbPosition(R);
    }
    if (!AnimationRunning())
        ComposeScrollbar(FOutBitmap, false);
    ++FRedrawCount;
    Present();
}

void TCustomPopupForm::Present() {
    if (!FTranslucent && !FOutBitmap.isNull())
        setMask(RegionFromRuns(FOutBitmap, [](QRgb P) { return qAlpha(P) >= kMaskAlpha; }));
    update();
}

void TCustomPopupForm::paintEvent(QPaintEvent *) {
    QPainter P(this);
    P.setCompositionMode(QPainter::CompositionMode_Source);
    P.drawImage(0, 0, FOutBitmap);
}

void TCustomPopupForm::SetTopIndex(int Value) {
    Value = std::clamp(Value, 0, std::max(0, ItemCount() - FDisplayItemCnt));
    if (Value == FTopIndex)
        return;
    FTopIndex = Value;
    Redraw();
}

void TCustomPopupForm::LineDown() {
    if (FTopIndex + FDisplayItemCnt < ItemCount()) {
        ++FTopIndex;
        Redraw();
    }
}

void TCustomPopupForm::LineUp() {
    if (FTopIndex > 0) {
        --FTopIndex;
        Redraw();
    }
}

void TCustomPopupForm::PageDown() {
    if (AnimationRunning())
        return;
    const int N = ItemCount();
    int Step = FDisplayItemCnt;
    if (FTopIndex + 2 * FDisplayItemCnt >= N)
        Step = N - FTopIndex - FDisplayItemCnt;
    if (Step > 0)
        StartPageScroll(Step);
}

void TCustomPopupForm::PageUp() {
    if (AnimationRunning())
        return;
    const int Step = std::min(FDisplayItemCnt, FTopIndex);
    if (Step > 0)
        StartPageScroll(-Step);
}

void TCustomPopupForm::StartPageScroll(int Step) {
    const int N = ItemCount();
    const int Old = FTopIndex, New = FTopIndex + Step;
    FMenuBitmap = RenderItems(std::min(Old, New), std::max(Old, New) + FDisplayItemCnt - 1, FItemsWidth);
    FDirection = Step > 0 ? mdDown : mdUp;
    FAnimationStep = 0;
    FTopIndex = New;
    FScrollerStart = FScrollerY;
    FScrollerEnd = ThumbPosition(1.0 - double(N - FTopIndex - FDisplayItemCnt + 1) / double(N - FDisplayItemCnt + 1));
    ATimer->start();
}

bool TCustomPopupForm::AnimationRunning() const {
    return ATimer->isActive();
}

void TCustomPopupForm::FinishAnimation() {
    while (AnimationRunning())
        AnimationTick();
}

void TCustomPopupForm::AnimationTick() {
    const double E = std::tanh(FAnimationStep * M_PI / 40.0);
    ++FAnimationStep;
    const int Travel = std::max(0, FMenuBitmap.height() - FItemsHeight);
    const int Shift = Round(E * Travel);
    const int StripTop = FDirection == mdDown ? FItemsY - Shift : FItemsY - Travel + Shift;
    FOutBitmap = FBitmap.copy();
    {
        QPainter P(&FOutBitmap);
        P.setClipRect(ItemsRect());
        P.drawImage(FItemsX, StripTop, FMenuBitmap);
    }
    FScrollerY = FScrollerStart + Round(E * (FScrollerEnd - FScrollerStart));
    ComposeScrollbar(FOutBitmap, true);
    if (FAnimationStep > 40) {
        ATimer->stop();
        FDirection = mdNone;
        Redraw();
        return;
    }
    Present();
}

int TCustomPopupForm::ItemAt(QPoint Pos) const {
    if (Pos.x() < FItemX || Pos.x() >= FItemX + FMaxWidth || Pos.y() < FItemY || Pos.y() >= FItemY + FMaxHeight)
        return -1;
    int Top = FItemY;
    for (int I = FTopIndex; I < FTopIndex + FDisplayItemCnt && I < ItemCount(); ++I) {
        const int H = FMenu->Items(I)->Height();
        if (Pos.y() >= Top && Pos.y() <= Top + H)
            return I;
        Top += H + FMenu->FItemSpace;
    }
    return -1;
}

int TCustomPopupForm::ItemOffset(int Index) const {
    int Offset = 0;
    for (int I = FTopIndex; I < Index && I < ItemCount(); ++I)
        Offset += FMenu->Items(I)->Height() + FMenu->FItemSpace;
    return Offset;
}

TScrollerItem TCustomPopupForm::ScrollPartAt(QPoint Pos) const {
    if (!FScrollerShow)
        return siNone;
    if (RegionHit(FMenu->FScrollBarUpSkin, {FScrlUpX, FScrlUpY}, Pos))
        return siUpBtn;
    if (RegionHit(FMenu->FScrollBarDownSkin, {FScrlDnX, FScrlDnY}, Pos))
        return siDownBtn;
    if (RegionHit(FMenu->FScrollBarElevatorSkin, {FScrollerX, FScrollerY}, Pos))
        return siScroller;
    return siNone;
}

void TCustomPopupForm::PointerMoved(QPoint Pos) {
    if (AnimationRunning())
        return;
    const int N = ItemCount();
    if (FScroll && FMouseClicked) {
        const int Top = Pos.y() + FScrollerDelta;
        const int Span = FScrollerH - FScrollerS;
        int NewTop = FTopIndex;
        if (Pos.y() < FScrollerT) {
            NewTop = 0;
            FScrollerY = FScrollerT;
        } else if (Pos.y() > FScrlDnY) {
            NewTop = N - FDisplayItemCnt;
            FScrollerY = FScrollerT + Span;
        } else if (Top >= FScrollerT && Top <= FScrollerT + Span - 1 && Span > 0) {
            FScrollerY = Top;
            NewTop =
                Round(N - (1.0 - double(Top - FScrollerT) / Span) * (N - FDisplayItemCnt + 1) - FDisplayItemCnt) + 1;
        } else {
            return;
        }
        FTopIndex = std::clamp(NewTop, 0, std::max(0, N - FDisplayItemCnt));
        Redraw();
        return;
    }
    const TScrollerItem Part = ScrollPartAt(Pos);
    const int Index = ItemAt(Pos);
    if (Part == FHoverItem && Index == FSelectedItem)
        return;
    FHoverItem = Part;
    if (Index != FSelectedItem) {
        if (TMenuItemEx *Old = FMenu->Items(FSelectedItem)) {
            const QSignalBlocker Quiet(Old);
            Old->SetMouseOver(false);
        }
        FSelectedItem = Index;
        if (TMenuItemEx *Now = FMenu->Items(Index)) {
            const QSignalBlocker Quiet(Now);
            Now->SetMouseOver(true);
            if (Now->Enabled())
                FMenuItemHint->DoActivateHint(Now->Hint());
        }
    }
    Redraw();
}

void TCustomPopupForm::PointerPressed(QPoint Pos) {
    FMouseClicked = true;
    if (FScrollerShow && !AnimationRunning()) {
        const TScrollerItem Part = ScrollPartAt(Pos);
        FPressedItem = Part;
        if (Part == siUpBtn)
            return PageUp();
        if (Part == siDownBtn)
            return PageDown();
        if (Part == siScroller) {
            FScroll = true;
            FScrollerDelta = FScrollerY - Pos.y();
            FItem = FTopIndex;
            Redraw();
            return;
        }
        if (FScrollerRect.contains(Pos)) {
            if (Pos.y() < FScrollerY)
                PageUp();
            else
                PageDown();
            return;
        }
    }
    const int Index = ItemAt(Pos);
    QPointer<TMenuItemEx> Item = FMenu->Items(Index);
    if (!Item || !Item->Enabled() || Item->Separator())
        return;
    if (Item->Count() > 0) {
        OpenSubmenu(Index);
        return;
    }
    if (!Item->OnClick)
        return;
    FMenu->FItemIndex = Index;
    hide();
    // The handler may rebuild the menu and free this very item: it runs last.
    if (Item)
        Item->Click();
}

void TCustomPopupForm::PointerReleased(QPoint) {
    FScroll = false;
    FPressedItem = siNone;
    FMouseClicked = false;
    FScrollCnt = 0;
    if (isVisible() && !AnimationRunning())
        Redraw();
}

void TCustomPopupForm::OpenSubmenu(int Index) {
    TMenuItemEx *Item = FMenu->Items(Index);
    if (!Item)
        return;
    if (!FSubmenu)
        FSubmenu = new TPopupMenuEx(this);
    else {
        FSubmenu->Hide();
        FSubmenu->ClearItems();
    }
    FSubmenu->FIsSubMenu = true;
    FSubmenu->FPopupForm->FHideAction = haClose;
    FSubmenu->AssignLook(*FMenu);
    FSubmenu->FImageList = Item->SubImageList();
    FSubmenu->FImageList2 = Item->SubImageList2();
    FSubmenu->FParentForm = this;
    FSubmenu->FParentItem = Item;
    for (int I = 0; I < Item->Count(); ++I)
        if (Item->Items(I)->Visible())
            FSubmenu->Add(Item->Items(I));
    FSubmenu->FPopupForm->FTopIndex = Item->SubMenuTopItem();
    FSubmenu->FPopupForm->FSelectedItem = -1;
    FSubMenuShowed = true;
    FSubmenu->Show(x() + width() + FMenu->FSubMenuDistance, y() + ItemOffset(Index));
}

bool TCustomPopupForm::ForwardToParent(QMouseEvent *Event, bool Press) {
    TCustomPopupForm *Parent = FMenu->FParentForm;
    if (!FMenu->FIsSubMenu || !Parent || !Parent->isVisible())
        return false;
    const QPoint Global = Event->globalPosition().toPoint();
    if (rect().contains(mapFromGlobal(Global)) || !Parent->geometry().contains(Global))
        return false;
    const QPoint Local = Parent->mapFromGlobal(Global);
    if (Press) {
        // A click on the menu that opened this one: this one goes, the other takes the click.
        FKeepParent = true;
        hide();
        Parent->PointerPressed(Local);
    } else {
        Parent->PointerMoved(Local);
    }
    return true;
}

void TCustomPopupForm::mouseMoveEvent(QMouseEvent *Event) {
    if (ForwardToParent(Event, false))
        return;
    PointerMoved(Event->position().toPoint());
}

void TCustomPopupForm::mousePressEvent(QMouseEvent *Event) {
    Event->accept();
    if (ForwardToParent(Event, true))
        return;
    if (!rect().contains(Event->position().toPoint())) {
        hide(); // a click outside the menu
        return;
    }
    if (Event->button() == Qt::LeftButton)
        PointerPressed(Event->position().toPoint());
}

void TCustomPopupForm::mouseReleaseEvent(QMouseEvent *Event) {
    if (Event->button() == Qt::LeftButton)
        PointerReleased(Event->position().toPoint());
}

void TCustomPopupForm::wheelEvent(QWheelEvent *Event) {
    if (AnimationRunning())
        return;
    if (Event->angleDelta().y() < 0)
        LineDown();
    else if (Event->angleDelta().y() > 0)
        LineUp();
}

void TCustomPopupForm::keyPressEvent(QKeyEvent *Event) {
    // Only the page keys scroll; Escape and the rest are swallowed, the menu stays.
    Event->accept();
    if (Event->key() == Qt::Key_PageDown)
        PageDown();
    else if (Event->key() == Qt::Key_PageUp)
        PageUp();
}

void TCustomPopupForm::hideEvent(QHideEvent *) {
    FMenuItemHint->showTimer->stop();
    FMenuItemHint->hide();
    FinishAnimation();
    if (FSubmenu && FSubmenu->Visible()) {
        FSubmenu->FPopupForm->FKeepParent = true;
        FSubmenu->Hide();
    }
    if (FMenu->FIsSubMenu) {
        if (TMenuItemEx *Parent = FMenu->FParentItem) {
            const QSignalBlocker Quiet(Parent);
            Parent->SetSubMenuTopItem(FTopIndex);
        }
        if (TCustomPopupForm *ParentForm = FMenu->FParentForm) {
            ParentForm->FSubMenuShowed = false;
            if (!FKeepParent && ParentForm->isVisible())
                ParentForm->hide();
        }
    }
    FKeepParent = false;
    FSubMenuShowed = false;
    if (TMenuItemEx *Item = FMenu->Items(FSelectedItem)) {
        const QSignalBlocker Quiet(Item);
        Item->SetMouseOver(false);
    }
    FSelectedItem = -1;
    FHoverItem = siNone;
    FScroll = false;
    FMouseClicked = false;
    FPressedItem = siNone;
}
