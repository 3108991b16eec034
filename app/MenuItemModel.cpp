#include "app/MenuItemModel.h"

#include <algorithm>
#include <stdexcept>

TPngImageList::TPngImageList(int Width, int Height, QObject *Owner) : QObject(Owner), FWidth(Width), FHeight(Height) {}

int TPngImageList::Add(const QString &ResourcePath) {
    FPaths.append(ResourcePath);
    emit Changed();
    return FPaths.size() - 1;
}

QString TPngImageList::Path(int Index) const {
    if (Index < 0 || Index >= FPaths.size())
        return QString();
    return FPaths.at(Index);
}

TMenuItemEx::TMenuItemEx(QObject *Owner) : QObject(Owner) {}

TMenuItemEx::~TMenuItemEx() {
    // Children are ours whatever their QObject owner is; take them out first so a child that
    // outlives us by its owner never points back at a dead parent.
    auto Items = std::move(FItems);
    FItems.clear();
    for (TMenuItemEx *Item : Items) {
        Item->FParentItem = nullptr;
        delete Item;
    }
    if (FParentItem)
        FParentItem->Remove(this);
}

namespace {
template <class T> bool Assign(T &Field, const T &Value) {
    if (Field == Value)
        return false;
    Field = Value;
    return true;
}
} // namespace

void TMenuItemEx::SetCaption(const QString &Value) {
    if (Assign(FCaption, Value))
        emit Changed();
}

void TMenuItemEx::SetHint(const QString &Value) {
    if (Assign(FHint, Value))
        emit Changed();
}

void TMenuItemEx::SetShortCutText(const QString &Value) {
    if (Assign(FShortCutText, Value))
        emit Changed();
}

void TMenuItemEx::SetImageIndex(int Value) {
    if (Assign(FImageIndex, Value))
        emit Changed();
}

void TMenuItemEx::SetImageIndex2(int Value) {
    if (Assign(FImageIndex2, Value))
        emit Changed();
}

void TMenuItemEx::SetHeight(int Value) {
    if (Assign(FHeight, Value))
        emit Changed();
}

void TMenuItemEx::SetSeparator(bool Value) {
    bool Change = Assign(FSeparator, Value);
    if (Value)
        Change = Assign(FHeight, 5) || Change;
    if (Change)
        emit Changed();
}

void TMenuItemEx::SetMouseOver(bool Value) {
    if (Assign(FMouseOver, Value))
        emit Changed();
}

void TMenuItemEx::SetSelected(bool Value) {
    if (Assign(FSelected, Value))
        emit Changed();
}

void TMenuItemEx::SetEnabled(bool Value) {
    if (Assign(FEnabled, Value))
        emit Changed();
}

void TMenuItemEx::SetVisible(bool Value) {
    if (Assign(FVisible, Value))
        emit Changed();
}

void TMenuItemEx::SetShortCurSpace(int Value) {
    if (Assign(FShortCurSpace, Value))
        emit Changed();
}

void TMenuItemEx::SetSubMenuTopItem(int Value) {
    if (Assign(FSubMenuTopItem, Value))
        emit Changed();
}

void TMenuItemEx::SetSubImageList(TPngImageList *Value) {
    if (Assign(FSubImageList, Value))
        emit Changed();
}

void TMenuItemEx::SetSubImageList2(TPngImageList *Value) {
    if (Assign(FSubImageList2, Value))
        emit Changed();
}

void TMenuItemEx::Click() {
    if (FEnabled && OnClick)
        OnClick(this);
}

void TMenuItemEx::Adopt(TMenuItemEx *Item) {
    if (!Item)
        throw std::invalid_argument("TMenuItemEx: no entry given");
    if (Item == this)
        throw std::invalid_argument("TMenuItemEx: an entry cannot hold itself");
    if (Item->FParentItem)
        Item->FParentItem->Remove(Item);
    Item->FParentItem = this;
}

TMenuItemEx *TMenuItemEx::Add(TMenuItemEx *Item) {
    Insert(Count(), Item);
    return Item;
}

void TMenuItemEx::Insert(int Pos, TMenuItemEx *Item) {
    if (Pos < 0 || Pos > Count())
        throw std::out_of_range("TMenuItemEx: position " + std::to_string(Pos) + " out of range 0.." +
                                std::to_string(Count()));
    Adopt(Item);
    // Adopt may have taken Item out of this very list; keep the position within bounds.
    Pos = std::min(Pos, Count());
    FItems.insert(FItems.begin() + Pos, Item);
    emit Changed();
}

int TMenuItemEx::IndexOf(const TMenuItemEx *Item) const {
    auto It = std::find(FItems.begin(), FItems.end(), Item);
    return It == FItems.end() ? -1 : static_cast<int>(It - FItems.begin());
}

void TMenuItemEx::Delete(int Pos) {
    if (Pos < 0 || Pos >= Count())
        throw std::out_of_range("TMenuItemEx: position " + std::to_string(Pos) + " out of range");
    TMenuItemEx *Item = FItems[Pos];
    FItems.erase(FItems.begin() + Pos);
    Item->FParentItem = nullptr;
    delete Item;
    emit Changed();
}

void TMenuItemEx::Remove(TMenuItemEx *Item) {
    int Pos = IndexOf(Item);
    if (Pos < 0)
        return;
    FItems.erase(FItems.begin() + Pos);
    Item->FParentItem = nullptr;
    emit Changed();
}

void TMenuItemEx::Clear() {
    if (FItems.empty())
        return;
    auto Items = std::move(FItems);
    FItems.clear();
    for (TMenuItemEx *Item : Items) {
        Item->FParentItem = nullptr;
        delete Item;
    }
    emit Changed();
}

TMenuItemEx *TMenuItemEx::Items(int Index) const {
    if (Index < 0 || Index >= Count())
        return nullptr;
    return FItems[Index];
}
