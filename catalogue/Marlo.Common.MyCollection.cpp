#include "catalogue/Marlo.Common.MyCollection.h"

#include "catalogue/Marlo.Common.MyExceptions.h"

#include <algorithm>
#include <utility>

// ---------------------------------------------------------------------------------------------
// TMyCollectionItem

void TMyCollectionItem::AssignError(const TMyCollectionItem &Source) const {
    throw EAssignError(QStringLiteral("Cannot assign a %1 to a %2")
                           .arg(QLatin1String(Source.GadgetMetaObject()->className()),
                                QLatin1String(GadgetMetaObject()->className())));
}

void TMyCollectionItem::Assign(const TMyCollectionItem &Source) {
    AssignError(Source);
}

bool TMyCollectionItem::IsEqul(const TMyCollectionItem *Item) const {
    Q_UNUSED(Item);
    return false;
}

bool TMyCollectionItem::IsFirstItem() const {
    if (!FCollection)
        throw ECollectonException(nullptr, QStringLiteral("Item does not exist in current collection"));
    return FIndex == 0;
}

bool TMyCollectionItem::IsLastItem() const {
    if (!FCollection)
        throw ECollectonException(nullptr, QStringLiteral("Item does not exist in current collection"));
    return FIndex + 1 == FCollection->Count();
}

void TMyCollectionItem::Changing() {
    if (FCollection)
        FCollection->ItemChanging(this);
}

void TMyCollectionItem::Changed() {
    if (FCollection)
        FCollection->ItemChanged(this);
}

// ---------------------------------------------------------------------------------------------
// TMyCollection

namespace {

[[noreturn]] void IndexError(TMyCollection *Collection, int Index) {
    throw ECollectonException(Collection, QStringLiteral("List index out of bounds (%1)").arg(Index));
}

} // namespace

TMyCollection::TMyCollection(QObject *parent) : QObject(parent) {}

// The items go before the QObject part of a descendant does; descendants that index their items
// drop the index in their own destructor, so no hook runs here.
TMyCollection::~TMyCollection() = default;

void TMyCollection::Renumber(int From) {
    for (size_t i = static_cast<size_t>(std::max(From, 0)); i < FItems.size(); ++i)
        FItems[i]->FIndex = static_cast<int>(i);
}

TMyCollectionItem *TMyCollection::InsertOwnedItem(int Index, std::unique_ptr<TMyCollectionItem> Item) {
    if (Index < 0 || Index > Count())
        IndexError(this, Index);
    TMyCollectionItem *raw = Item.get();
    raw->FCollection = this;
    FItems.insert(FItems.begin() + Index, std::move(Item));
    if (Index + 1 == Count())
        raw->FIndex = Index;
    else
        Renumber(Index);
    ItemAdded(raw);
    return raw;
}

TMyCollectionItem *TMyCollection::AddItem() {
    return InsertOwnedItem(Count(), NewItem());
}

TMyCollectionItem *TMyCollection::InsertItem(int Index) {
    if (Index < 0 || Index > Count())
        IndexError(this, Index);
    return InsertOwnedItem(Index, NewItem());
}

void TMyCollection::Clear() {
    if (FItems.empty())
        return;
    // Detach first: an item's destructor must not find itself in a half-cleared collection.
    std::vector<std::unique_ptr<TMyCollectionItem>> old;
    old.swap(FItems);
    for (auto &item : old) {
        item->FCollection = nullptr;
        item->FIndex = -1;
    }
    ItemsCleared();
}

void TMyCollection::ReplaceItems(std::vector<std::unique_ptr<TMyCollectionItem>> Items) {
    std::vector<std::unique_ptr<TMyCollectionItem>> old;
    old.swap(FItems);
    for (auto &item : old) {
        item->FCollection = nullptr;
        item->FIndex = -1;
    }
    FItems = std::move(Items);
    for (size_t i = 0; i < FItems.size(); ++i) {
        FItems[i]->FCollection = this;
        FItems[i]->FIndex = static_cast<int>(i);
    }
    // `old` frees the replaced items here, after the new ones are in place.
}

void TMyCollection::Assign(const TMyCollection &Source) {
    if (&Source == this)
        return;
    Clear();
    FItems.reserve(static_cast<size_t>(Source.Count()));
    for (int i = 0; i < Source.Count(); ++i)
        AddItem()->Assign(*Source.Item(i));
}

void TMyCollection::Delete(TMyCollectionItem *Item) {
    if (!Item || Item->FCollection != this)
        throw ECollectonException(this, QStringLiteral("Item doest not belong to current collection"));
    DeleteAt(Item->FIndex);
}

void TMyCollection::DeleteAt(int Index) {
    if (Index < 0 || Index >= Count())
        IndexError(this, Index);
    ItemRemoving(FItems[static_cast<size_t>(Index)].get());
    std::unique_ptr<TMyCollectionItem> item = std::move(FItems[static_cast<size_t>(Index)]);
    FItems.erase(FItems.begin() + Index);
    item->FCollection = nullptr;
    item->FIndex = -1;
    Renumber(Index);
}

void TMyCollection::Move(int CurrentIndex, int NewIndex) {
    if (CurrentIndex < 0 || CurrentIndex >= Count())
        IndexError(this, CurrentIndex);
    if (NewIndex < 0 || NewIndex >= Count())
        IndexError(this, NewIndex);
    if (CurrentIndex == NewIndex)
        return;
    const auto first = FItems.begin();
    if (CurrentIndex < NewIndex)
        std::rotate(first + CurrentIndex, first + CurrentIndex + 1, first + NewIndex + 1);
    else
        std::rotate(first + NewIndex, first + CurrentIndex, first + CurrentIndex + 1);
    const int lo = std::min(CurrentIndex, NewIndex), hi = std::max(CurrentIndex, NewIndex);
    for (int i = lo; i <= hi; ++i)
        FItems[static_cast<size_t>(i)]->FIndex = i;
}

void TMyCollection::Exchange(int Index1, int Index2) {
    if (Index1 < 0 || Index1 >= Count())
        IndexError(this, Index1);
    if (Index2 < 0 || Index2 >= Count())
        IndexError(this, Index2);
    std::swap(FItems[static_cast<size_t>(Index1)], FItems[static_cast<size_t>(Index2)]);
    FItems[static_cast<size_t>(Index1)]->FIndex = Index1;
    FItems[static_cast<size_t>(Index2)]->FIndex = Index2;
}

void TMyCollection::Sort() {
    if (Count() > 1)
        QuickSort(0, Count() - 1);
}

// The position-pivot quicksort, step by step: the order in which equal items end up
// is visible to the user, so neither the pivot rule nor the pointer moves may be "improved".
// The exchange as first written (move the item at I to J, then the item now at J - 1 back to I) leaves
// exactly the two items swapped, which is what Exchange does.
void TMyCollection::QuickSort(int L, int R) {
    int I = 0;
    do {
        I = L;
        int J = R;
        int P = (L + R) / 2;
        do {
            while (CompareItems(Item(I), Item(P)) < 0)
                ++I;
            while (CompareItems(Item(J), Item(P)) > 0)
                --J;
            if (I <= J) {
                if (I != J)
                    Exchange(I, J);
                if (P == I)
                    P = J;
                else if (P == J)
                    P = I;
                ++I;
                --J;
            }
        } while (I <= J);
        if (L < J)
            QuickSort(L, J);
        L = I;
    } while (I < R);
}

// ---------------------------------------------------------------------------------------------
// TKvCollectionFilter

TKvCollectionFilter::TKvCollectionFilter(QObject *parent) : QObject(parent) {}

void TKvCollectionFilter::Assign(const QObject *Source) {
    const auto *filter = qobject_cast<const TKvCollectionFilter *>(Source);
    if (!filter)
        throw EAssignError(QStringLiteral("Cannot assign a %1 to a %2")
                               .arg(Source ? QLatin1String(Source->metaObject()->className()) : QLatin1String("nil"),
                                    QLatin1String(metaObject()->className())));
    FActive = filter->FActive;
}

void TKvCollectionFilter::LinkCollection(TMyCollection *Collection) {
    FCollection = Collection;
    FIndex = -1;
}

TMyCollectionItem *TKvCollectionFilter::First() {
    FIndex = -1;
    return Next();
}

TMyCollectionItem *TKvCollectionFilter::Next() {
    if (!FCollection)
        return nullptr;
    const int count = FCollection->Count();
    while (FIndex + 1 < count) {
        ++FIndex;
        TMyCollectionItem *item = FCollection->Item(FIndex);
        if (!FActive || FilterOK(item))
            return item;
    }
    FIndex = count; // stays past the end: every later call returns none too
    return nullptr;
}
