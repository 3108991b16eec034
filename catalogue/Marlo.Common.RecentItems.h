#pragma once
// A collection of items with the two texts Src and Name (the checker's site lists).

#include "catalogue/Marlo.Common.MyCollection.h"

#include <QString>

class TResentItem : public TMyCollectionItem {
    Q_GADGET
    Q_PROPERTY(QString Src READ Src WRITE SetSrc)
    Q_PROPERTY(QString Name READ Name WRITE SetName)
public:
    const QMetaObject *GadgetMetaObject() const override { return &staticMetaObject; }
    void Assign(const TMyCollectionItem &Source) override;
    QString Src() const { return FSrc; }
    void SetSrc(const QString &Value) { FSrc = Value; }
    QString Name() const { return FName; }
    void SetName(const QString &Value) { FName = Value; }

private:
    QString FSrc;
    QString FName;
};

class TResentItems : public TMyCollection {
    Q_OBJECT
public:
    explicit TResentItems(QObject *parent = nullptr);
    TResentItem *Items(int Index) const { return static_cast<TResentItem *>(Item(Index)); }
    TResentItem *Add(const QString &Src, const QString &Name);
    int CompareItems(const TMyCollectionItem *Item1, const TMyCollectionItem *Item2) const override;

protected:
    std::unique_ptr<TMyCollectionItem> NewItem() const override;
};
