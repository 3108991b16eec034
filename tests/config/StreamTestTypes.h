#pragma once
// Test-only classes for the component stream: a QObject with a base class, every value kind, a
// sub-object, a string list and a collection of gadget items, so the stream is tested apart from
// the configuration.

#include "catalogue/Marlo.Common.MyCollection.h"
#include "platform/StringList.h"

#include <QObject>
#include <QString>
#include <memory>

class TTestItem : public TMyCollectionItem {
    Q_GADGET
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(double Value READ Value WRITE SetValue)
    Q_PROPERTY(TTestKind Kind READ Kind WRITE SetKind)
    Q_PROPERTY(int Count READ Count WRITE SetCount)
    Q_PROPERTY(bool Flag READ Flag WRITE SetFlag)
    Q_PROPERTY(QString Derived READ Derived STORED false)
public:
    enum TTestKind : quint8 { tkNone, tkOne, tkTwo };
    Q_ENUM(TTestKind)

    const QMetaObject *GadgetMetaObject() const override { return &staticMetaObject; }
    void Assign(const TMyCollectionItem &Source) override {
        const auto *s = dynamic_cast<const TTestItem *>(&Source);
        if (!s)
            AssignError(Source);
        FName = s->FName;
        FValue = s->FValue;
        FKind = s->FKind;
        FCount = s->FCount;
        FFlag = s->FFlag;
    }
    QString Name() const { return FName; }
    void SetName(const QString &V) { FName = V; }
    double Value() const { return FValue; }
    void SetValue(double V) { FValue = V; }
    TTestKind Kind() const { return FKind; }
    void SetKind(TTestKind V) { FKind = V; }
    int Count() const { return FCount; }
    void SetCount(int V) { FCount = V; }
    bool Flag() const { return FFlag; }
    void SetFlag(bool V) { FFlag = V; }
    QString Derived() const { return FName + QStringLiteral("!"); }

private:
    QString FName;
    double FValue = -1; // like a proxy's Speed: a new item starts at -1
    TTestKind FKind = tkNone;
    int FCount = 0;
    bool FFlag = false;
};

class TTestCollection : public TMyCollection {
    Q_OBJECT
    Q_PROPERTY(bool Unique READ Unique WRITE SetUnique)
public:
    using TMyCollection::TMyCollection;
    TTestItem *Items(int Index) const { return static_cast<TTestItem *>(Item(Index)); }
    TTestItem *Add() { return static_cast<TTestItem *>(AddItem()); }
    int CompareItems(const TMyCollectionItem *, const TMyCollectionItem *) const override { return 0; }
    bool Unique() const { return FUnique; }
    void SetUnique(bool V) { FUnique = V; }

protected:
    std::unique_ptr<TMyCollectionItem> NewItem() const override { return std::make_unique<TTestItem>(); }

private:
    bool FUnique = false;
};

class TTestSub : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(double Number READ Number WRITE SetNumber)
public:
    using QObject::QObject;
    QString Text() const { return FText; }
    void SetText(const QString &V) { FText = V; }
    double Number() const { return FNumber; }
    void SetNumber(double V) { FNumber = V; }

private:
    QString FText = QStringLiteral("sub");
    double FNumber = 0;
};

class TTestBase : public QObject {
    Q_OBJECT
    Q_PROPERTY(int BaseValue READ BaseValue WRITE SetBaseValue)
public:
    using QObject::QObject;
    int BaseValue() const { return FBaseValue; }
    void SetBaseValue(int V) { FBaseValue = V; }

private:
    int FBaseValue = 1;
};

class TTestRoot : public TTestBase {
    Q_OBJECT
    Q_PROPERTY(bool Flag READ Flag WRITE SetFlag)
    Q_PROPERTY(int Number READ Number WRITE SetNumber)
    Q_PROPERTY(double Real READ Real WRITE SetReal)
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(TTestMode Mode READ Mode WRITE SetMode)
    Q_PROPERTY(TTestCollection *Items READ Items)
    Q_PROPERTY(TStringList *Lines READ Lines)
    Q_PROPERTY(TTestSub *Sub READ Sub)
    Q_PROPERTY(QString Computed READ Computed)
    Q_PROPERTY(QString Hidden READ Hidden WRITE SetHidden STORED false)
public:
    enum TTestMode { tmFirst, tmSecond, tmThird };
    Q_ENUM(TTestMode)

    Q_INVOKABLE explicit TTestRoot(QObject *parent = nullptr)
        : TTestBase(parent), FItems(new TTestCollection(this)), FLines(new TStringList(this)),
          FSub(new TTestSub(this)) {}
    bool Flag() const { return FFlag; }
    void SetFlag(bool V) { FFlag = V; }
    int Number() const { return FNumber; }
    void SetNumber(int V) { FNumber = V; }
    double Real() const { return FReal; }
    void SetReal(double V) { FReal = V; }
    QString Text() const { return FText; }
    void SetText(const QString &V) { FText = V; }
    TTestMode Mode() const { return FMode; }
    void SetMode(TTestMode V) { FMode = V; }
    TTestCollection *Items() const { return FItems; }
    TStringList *Lines() const { return FLines; }
    TTestSub *Sub() const { return FSub; }
    QString Computed() const { return QStringLiteral("computed"); }
    QString Hidden() const { return FHidden; }
    void SetHidden(const QString &V) { FHidden = V; }

private:
    bool FFlag = true;
    int FNumber = 0;
    double FReal = 0;
    QString FText;
    TTestMode FMode = tmSecond;
    TTestCollection *FItems; // children: freed with the object
    TStringList *FLines;
    TTestSub *FSub;
    QString FHidden;
};
