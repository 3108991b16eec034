#pragma once
// The tray menu as plain objects: entries with captions, pictures, marks and click handlers, and
// picture lists as resource paths. The controller builds and changes this model the same way with
// or without a desktop; the drawn menu (menu/) only reads it and repaints on Changed(). Keeping it
// QtCore-only lets the headless program keep the very same menu, counts and random switch.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class TProxtData;

/// A list of pictures named by resource path (":/FLAG_DE", ":/rating-5"). The drawing side loads
/// the pictures; the core only keeps their names and positions, so a missing picture never
/// breaks anything here.
class TPngImageList : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Width READ Width CONSTANT)
    Q_PROPERTY(int Height READ Height CONSTANT)

public:
    TPngImageList(int Width, int Height, QObject *Owner = nullptr);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    /// Appends a picture and returns its index.
    int Add(const QString &ResourcePath);
    int Count() const { return FPaths.size(); }
    /// The resource path of picture Index; empty when Index is out of range.
    QString Path(int Index) const;
    QStringList Paths() const { return FPaths; }

signals:
    void Changed();

private:
    int FWidth;
    int FHeight;
    QStringList FPaths;
};

/// One menu entry and the list of its child entries (a submenu). Children are owned: Delete and
/// Clear free them, Remove hands one back to the caller.
class TMenuItemEx : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption NOTIFY Changed)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint NOTIFY Changed)
    Q_PROPERTY(QString ShortCutText READ ShortCutText WRITE SetShortCutText NOTIFY Changed)
    Q_PROPERTY(int ImageIndex READ ImageIndex WRITE SetImageIndex NOTIFY Changed)
    Q_PROPERTY(int ImageIndex2 READ ImageIndex2 WRITE SetImageIndex2 NOTIFY Changed)
    Q_PROPERTY(int Height READ Height WRITE SetHeight NOTIFY Changed)
    Q_PROPERTY(bool Separator READ Separator WRITE SetSeparator NOTIFY Changed)
    Q_PROPERTY(bool MouseOver READ MouseOver WRITE SetMouseOver NOTIFY Changed)
    Q_PROPERTY(bool Selected READ Selected WRITE SetSelected NOTIFY Changed)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled NOTIFY Changed)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible NOTIFY Changed)
    Q_PROPERTY(int ShortCurSpace READ ShortCurSpace WRITE SetShortCurSpace NOTIFY Changed)
    Q_PROPERTY(int SubMenuTopItem READ SubMenuTopItem WRITE SetSubMenuTopItem NOTIFY Changed)

public:
    using TClickHandler = std::function<void(QObject *Sender)>;

    explicit TMenuItemEx(QObject *Owner = nullptr);
    ~TMenuItemEx() override;

    QString Caption() const { return FCaption; }
    void SetCaption(const QString &Value);
    QString Hint() const { return FHint; }
    void SetHint(const QString &Value);
    /// The key combination drawn at the right ("CTRL+SHIFT+M"); the keys work through the hotkeys.
    QString ShortCutText() const { return FShortCutText; }
    void SetShortCutText(const QString &Value);
    /// Picture in the parent's SubImageList (or the menu's image list); -1 = none.
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int Value);
    /// Picture in the parent's SubImageList2 (the rating bar); -1 = none.
    int ImageIndex2() const { return FImageIndex2; }
    void SetImageIndex2(int Value);
    int Height() const { return FHeight; }
    void SetHeight(int Value);
    /// A separator line; setting it also sets the height to 5.
    bool Separator() const { return FSeparator; }
    void SetSeparator(bool Value);
    bool MouseOver() const { return FMouseOver; }
    void SetMouseOver(bool Value);
    /// The selection mark (the active proxy's entry).
    bool Selected() const { return FSelected; }
    void SetSelected(bool Value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value);
    int ShortCurSpace() const { return FShortCurSpace; }
    void SetShortCurSpace(int Value);
    int SubMenuTopItem() const { return FSubMenuTopItem; }
    void SetSubMenuTopItem(int Value);

    /// Pictures of the child entries (not owned).
    TPngImageList *SubImageList() const { return FSubImageList; }
    void SetSubImageList(TPngImageList *Value);
    TPngImageList *SubImageList2() const { return FSubImageList2; }
    void SetSubImageList2(TPngImageList *Value);

    /// The record this entry stands for (not owned; records outlive the entries that name them).
    TProxtData *Data() const { return FData; }
    void SetData(TProxtData *Value) { FData = Value; }

    TClickHandler OnClick;
    /// Runs OnClick(this) when the entry is enabled and has a handler.
    void Click();

    // Child entries.
    /// Appends Item (taking ownership) and returns it.
    TMenuItemEx *Add(TMenuItemEx *Item);
    /// Inserts Item at Pos (0 ... Count()); throws std::out_of_range otherwise.
    void Insert(int Pos, TMenuItemEx *Item);
    /// Position of Item among the children, -1 when it is not one of them.
    int IndexOf(const TMenuItemEx *Item) const;
    /// Removes and frees the child at Pos; throws std::out_of_range for a bad position.
    void Delete(int Pos);
    /// Detaches Item without freeing it; the caller owns it afterwards. Nothing when not a child.
    void Remove(TMenuItemEx *Item);
    /// Removes and frees every child.
    void Clear();
    int Count() const { return static_cast<int>(FItems.size()); }
    /// Child at Index; nullptr when out of range.
    TMenuItemEx *Items(int Index) const;
    /// The entry whose child this is; nullptr for a root or a detached entry.
    TMenuItemEx *Parent() const { return FParentItem; }

signals:
    /// Any visible change of this entry or of its list of children.
    void Changed();

private:
    void Adopt(TMenuItemEx *Item);

    QString FCaption;
    QString FHint;
    QString FShortCutText;
    int FImageIndex = -1;
    int FImageIndex2 = -1;
    int FHeight = 31;
    bool FSeparator = false;
    bool FMouseOver = false;
    bool FSelected = false;
    bool FEnabled = true;
    bool FVisible = true;
    int FShortCurSpace = 5;
    int FSubMenuTopItem = 0;
    TPngImageList *FSubImageList = nullptr;
    TPngImageList *FSubImageList2 = nullptr;
    TProxtData *FData = nullptr;
    TMenuItemEx *FParentItem = nullptr;
    std::vector<TMenuItemEx *> FItems;
};
