#pragma once
// Ordered collections that own their items, with a three-way compare and the quicksort whose
// order of equal items is part of what the user sees.

#include <QMetaObject>
#include <QObject>
#include <memory>
#include <vector>

class TMyCollection;

/// An item of a TMyCollection; published properties of descendants are Q_PROPERTYs of a Q_GADGET.
class TMyCollectionItem {
    Q_GADGET
public:
    explicit TMyCollectionItem() = default;
    virtual ~TMyCollectionItem() = default;
    TMyCollectionItem(const TMyCollectionItem &) = delete;
    TMyCollectionItem &operator=(const TMyCollectionItem &) = delete;

    /// The meta-object of the most derived gadget, for generic property access.
    virtual const QMetaObject *GadgetMetaObject() const { return &staticMetaObject; }
    /// Copies the published values of Source; raises EAssignError for an unrelated class.
    virtual void Assign(const TMyCollectionItem &Source);
    virtual bool IsEqul(const TMyCollectionItem *Item) const;

    TMyCollection *Collection() const { return FCollection; }
    /// Position in the collection, -1 when in none.
    int Index() const { return FIndex; }
    /// Raises ECollectonException "Item does not exist in current collection" when in no collection.
    bool IsFirstItem() const;
    bool IsLastItem() const;

    QObject *Data() const { return FData; }
    void SetData(QObject *Value) { FData = Value; }

protected:
    /// Descendants call these around a change of a value that their collection indexes.
    void Changing();
    void Changed();
    /// Raises EAssignError "Cannot assign a SOURCE to a TARGET" (the base Assign's answer).
    [[noreturn]] void AssignError(const TMyCollectionItem &Source) const;

private:
    friend class TMyCollection;
    // FIndex last: a descendant's first small field fills the padding after it (lists hold
    // millions of items).
    TMyCollection *FCollection = nullptr;
    QObject *FData = nullptr;
    int FIndex = -1;
};

/// An indexed list of items that it owns and frees.
class TMyCollection : public QObject {
    Q_OBJECT
public:
    explicit TMyCollection(QObject *parent = nullptr);
    ~TMyCollection() override;

    int Count() const { return static_cast<int>(FItems.size()); }
    TMyCollectionItem *Item(int Index) const { return FItems.at(static_cast<size_t>(Index)).get(); }
    /// Appends a new item of the collection's item class.
    TMyCollectionItem *AddItem();
    /// Inserts a new item of the collection's item class at Index.
    TMyCollectionItem *InsertItem(int Index);
    /// Removes and frees every item.
    virtual void Clear();
    /// Removes all items, then adds a copy of each item of Source.
    virtual void Assign(const TMyCollection &Source);
    /// Removes and frees Item; raises ECollectonException "Item doest not belong to current collection".
    virtual void Delete(TMyCollectionItem *Item);
    /// Removes and frees the item at Index.
    void DeleteAt(int Index);
    TMyCollectionItem *GetLast() const { return FItems.empty() ? nullptr : FItems.back().get(); }
    /// Moves the item at CurrentIndex to NewIndex; the items between shift by one.
    void Move(int CurrentIndex, int NewIndex);
    /// Exchanges the items at two positions.
    void Exchange(int Index1, int Index2);
    /// Three-way comparison used by Sort.
    virtual int CompareItems(const TMyCollectionItem *Item1, const TMyCollectionItem *Item2) const = 0;
    /// Quicksort with a position pivot over all items (nothing happens for fewer than two).
    virtual void Sort();

protected:
    friend class TMyCollectionItem;
    /// Creates an item of the collection's item class (not yet inserted).
    virtual std::unique_ptr<TMyCollectionItem> NewItem() const = 0;
    /// Inserts an item made elsewhere (by NewItem) at Index (Count() appends) and returns it.
    TMyCollectionItem *InsertOwnedItem(int Index, std::unique_ptr<TMyCollectionItem> Item);
    /// Replaces every item by Items in one step (the old ones are freed) without calling the
    /// hooks below: the caller brings whatever it indexes in step itself.
    void ReplaceItems(std::vector<std::unique_ptr<TMyCollectionItem>> Items);

    /// Hooks for descendants that keep an index over their items. ItemAdded follows an insertion,
    /// ItemRemoving precedes the removal of one item, ItemsCleared follows the removal of all;
    /// ItemChanging and ItemChanged surround a change of an indexed value of an item.
    virtual void ItemAdded(TMyCollectionItem *Item) { Q_UNUSED(Item); }
    virtual void ItemRemoving(TMyCollectionItem *Item) { Q_UNUSED(Item); }
    virtual void ItemsCleared() {}
    virtual void ItemChanging(TMyCollectionItem *Item) { Q_UNUSED(Item); }
    virtual void ItemChanged(TMyCollectionItem *Item) { Q_UNUSED(Item); }

private:
    void Renumber(int From);
    void QuickSort(int L, int R);
    std::vector<std::unique_ptr<TMyCollectionItem>> FItems;
};

/// Filtered iteration over a TMyCollection.
class TKvCollectionFilter : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
public:
    explicit TKvCollectionFilter(QObject *parent = nullptr);
    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }
    /// Copies Active; raises EAssignError when Source is not a filter.
    virtual void Assign(const QObject *Source);
    virtual bool FilterOK(const TMyCollectionItem *Item) const = 0;
    /// Sets the collection (not owned) and resets the position.
    void LinkCollection(TMyCollection *Collection);
    TMyCollectionItem *First();
    TMyCollectionItem *Next();

private:
    bool FActive = true;
    TMyCollection *FCollection = nullptr;
    int FIndex = -1;
};
