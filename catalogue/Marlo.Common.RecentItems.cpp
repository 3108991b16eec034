#include "catalogue/Marlo.Common.RecentItems.h"

void TResentItem::Assign(const TMyCollectionItem &Source) {
    const auto *src = dynamic_cast<const TResentItem *>(&Source);
    if (!src) {
        TMyCollectionItem::Assign(Source); // raises the error for unrelated classes
        return;
    }
    SetSrc(src->FSrc);
    SetName(src->FName);
}

TResentItems::TResentItems(QObject *parent) : TMyCollection(parent) {}

std::unique_ptr<TMyCollectionItem> TResentItems::NewItem() const {
    return std::make_unique<TResentItem>();
}

TResentItem *TResentItems::Add(const QString &Src, const QString &Name) {
    auto *item = static_cast<TResentItem *>(AddItem());
    item->SetSrc(Src);
    item->SetName(Name);
    return item;
}

// Nothing sorts these lists; the order given is Src, then Name, code unit by code unit.
int TResentItems::CompareItems(const TMyCollectionItem *Item1, const TMyCollectionItem *Item2) const {
    const auto *a = static_cast<const TResentItem *>(Item1);
    const auto *b = static_cast<const TResentItem *>(Item2);
    int c = QStringView(a->Src()).compare(QStringView(b->Src()), Qt::CaseSensitive);
    if (c == 0)
        c = QStringView(a->Name()).compare(QStringView(b->Name()), Qt::CaseSensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
