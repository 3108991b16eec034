// The collection base and the filtered iteration: positions, delete, move, the
// position-pivot quicksort, the exceptions, and First/Next.

#include "catalogue/Marlo.Common.MyCollection.h"
#include "catalogue/Marlo.Common.MyExceptions.h"
#include "catalogue/Marlo.Common.ProxyList.h"
#include "tests/catalogue/CatalogueTestSupport.h"

#include <gtest/gtest.h>
#include <random>

namespace {

// A plain collection of keyed items, so the sort can be watched without proxy records.
class TKeyItem : public TMyCollectionItem {
public:
    int Key = 0;
    char Id = '?';
};

class TKeyCollection : public TMyCollection {
public:
    TKeyItem *Add(int Key, char Id) {
        auto *item = static_cast<TKeyItem *>(AddItem());
        item->Key = Key;
        item->Id = Id;
        return item;
    }
    TKeyItem *At(int I) const { return static_cast<TKeyItem *>(Item(I)); }
    std::string Ids() const {
        std::string s;
        for (int i = 0; i < Count(); ++i)
            s += At(i)->Id;
        return s;
    }
    int CompareItems(const TMyCollectionItem *A, const TMyCollectionItem *B) const override {
        const int a = static_cast<const TKeyItem *>(A)->Key, b = static_cast<const TKeyItem *>(B)->Key;
        return a < b ? -1 : (a > b ? 1 : 0);
    }
    mutable int Compares = 0;

protected:
    std::unique_ptr<TMyCollectionItem> NewItem() const override { return std::make_unique<TKeyItem>(); }
};

// The quicksort written out literally on a vector, with the exchange done exactly as
// the text says (move the item at I to J, then the item now at J - 1 to I).
void LiteralQuickSort(std::vector<std::pair<int, int>> &V, int L, int R) {
    int I;
    do {
        I = L;
        int J = R;
        int P = (L + R) / 2;
        do {
            while (V[I].first < V[P].first)
                ++I;
            while (V[J].first > V[P].first)
                --J;
            if (I <= J) {
                if (I != J) {
                    auto moved = V[I];
                    V.erase(V.begin() + I);
                    V.insert(V.begin() + J, moved);
                    auto back = V[J - 1];
                    V.erase(V.begin() + (J - 1));
                    V.insert(V.begin() + I, back);
                }
                if (P == I)
                    P = J;
                else if (P == J)
                    P = I;
                ++I;
                --J;
            }
        } while (I <= J);
        if (L < J)
            LiteralQuickSort(V, L, J);
        L = I;
    } while (I < R);
}

} // namespace

TEST(MyCollection, PositionsAndLast) {
    TKeyCollection c;
    EXPECT_EQ(c.GetLast(), nullptr);
    auto *a = c.Add(1, 'a');
    auto *b = c.Add(2, 'b');
    auto *d = c.Add(3, 'd');
    EXPECT_TRUE(a->IsFirstItem());
    EXPECT_FALSE(a->IsLastItem());
    EXPECT_TRUE(d->IsLastItem());
    EXPECT_FALSE(b->IsFirstItem());
    EXPECT_EQ(c.GetLast(), d);
    EXPECT_EQ(b->Index(), 1);
    EXPECT_EQ(b->Collection(), &c);
    EXPECT_FALSE(a->IsEqul(a)); // the base compares nothing
}

TEST(MyCollection, ItemOutsideACollectionRaises) {
    TKeyItem loose;
    try {
        (void)loose.IsFirstItem();
        FAIL() << "no exception";
    } catch (const ECollectonException &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Item does not exist in current collection"));
        EXPECT_EQ(e.Collection(), nullptr);
    }
    EXPECT_THROW((void)loose.IsLastItem(), ECollectonException);
}

TEST(MyCollection, DeleteFreesAndRenumbers) {
    TKeyCollection c;
    c.Add(1, 'a');
    auto *b = c.Add(2, 'b');
    c.Add(3, 'c');
    c.Delete(b);
    EXPECT_EQ(c.Ids(), "ac");
    EXPECT_EQ(c.At(1)->Index(), 1);
    TKeyCollection other;
    auto *foreign = other.Add(9, 'z');
    try {
        c.Delete(foreign);
        FAIL() << "no exception";
    } catch (const ECollectonException &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Item doest not belong to current collection"));
        EXPECT_EQ(e.Collection(), &c);
    }
    EXPECT_EQ(other.Count(), 1);
}

TEST(MyCollection, MoveShiftsTheItemsBetween) {
    struct Case {
        int From, To;
        const char *Expected;
    };
    for (const Case &k : {Case{0, 3, "bcda"}, Case{3, 0, "dabc"}, Case{1, 2, "acbd"}, Case{2, 2, "abcd"}}) {
        TKeyCollection c;
        for (char id : std::string("abcd"))
            c.Add(0, id);
        c.Move(k.From, k.To);
        EXPECT_EQ(c.Ids(), k.Expected) << k.From << "->" << k.To;
        for (int i = 0; i < c.Count(); ++i)
            EXPECT_EQ(c.At(i)->Index(), i);
    }
    TKeyCollection c;
    c.Add(0, 'a');
    EXPECT_THROW(c.Move(0, 1), ECollectonException);
}

TEST(MyCollection, SortNothingForFewerThanTwo) {
    TKeyCollection c;
    c.Sort();
    c.Add(5, 'a');
    c.Sort();
    EXPECT_EQ(c.Ids(), "a");
}

// Hand-worked: keys 80 80 3128 80 8080 (a b c d e). First pass: pivot position 2 (3128); I stops
// at 2, J at 3, they swap (a b d c e) and the pivot follows to 3. The left part a b d (all 80)
// swaps its ends (d b a); the right part is in order. Equal keys end up d b a.
TEST(MyCollection, QuickSortExactOrderWithEqualKeys) {
    TKeyCollection c;
    c.Add(80, 'a');
    c.Add(80, 'b');
    c.Add(3128, 'c');
    c.Add(80, 'd');
    c.Add(8080, 'e');
    c.Sort();
    EXPECT_EQ(c.Ids(), "dbace");
}

TEST(MyCollection, QuickSortMatchesTheLiteralAlgorithm) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 400; ++round) {
        const int n = 1 + static_cast<int>(rng() % 40);
        const int range = 1 + static_cast<int>(rng() % 6); // few distinct keys: many equal ones
        TKeyCollection c;
        std::vector<std::pair<int, int>> v;
        for (int i = 0; i < n; ++i) {
            const int key = static_cast<int>(rng() % static_cast<unsigned>(range));
            c.Add(key, static_cast<char>(i));
            v.emplace_back(key, i);
        }
        c.Sort();
        if (n > 1)
            LiteralQuickSort(v, 0, n - 1);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(c.At(i)->Id, static_cast<char>(v[static_cast<size_t>(i)].second)) << "round " << round;
            ASSERT_EQ(c.At(i)->Index(), i);
        }
    }
}

TEST(MyCollection, AssignCopiesEveryItem) {
    TProxyCollection a, b;
    a.Add(QStringLiteral("Germany"), QStringLiteral("DE"), 2.5, QStringLiteral("77.1.1.1"), 80);
    a.Add(QStringLiteral("Germany"), QStringLiteral("DE"), 2.5, QStringLiteral("77.1.1.1"), 80);
    b.Add()->SetIP(QStringLiteral("9.9.9.9"));
    b.Assign(a);
    EXPECT_EQ(cataloguetest::Records(b), QStringList({QStringLiteral("77.1.1.1:80 DE Germany 2.5"),
                                                      QStringLiteral("77.1.1.1:80 DE Germany 2.5")}));
}

TEST(MyCollection, AssignBetweenUnrelatedItemClassesRaises) {
    TKeyCollection keys;
    keys.Add(1, 'a');
    TProxyCollection proxies;
    EXPECT_THROW(proxies.Assign(keys), EAssignError);
}

// ---------------------------------------------------------------------------------------------
// TKvCollectionFilter

namespace {

class TEvenFilter : public TKvCollectionFilter {
public:
    bool FilterOK(const TMyCollectionItem *Item) const override {
        return static_cast<const TKeyItem *>(Item)->Key % 2 == 0;
    }
};

std::string Walk(TKvCollectionFilter &F) {
    std::string s;
    for (TMyCollectionItem *i = F.First(); i; i = F.Next())
        s += static_cast<TKeyItem *>(i)->Id;
    return s;
}

} // namespace

TEST(CollectionFilter, FirstNextActiveAndInactive) {
    TKeyCollection c;
    c.Add(1, 'a');
    c.Add(2, 'b');
    c.Add(3, 'c');
    c.Add(4, 'd');
    TEvenFilter f;
    EXPECT_TRUE(f.Active());
    EXPECT_EQ(f.First(), nullptr); // nothing linked
    f.LinkCollection(&c);
    EXPECT_EQ(Walk(f), "bd");
    EXPECT_EQ(f.Next(), nullptr); // and on every later call
    EXPECT_EQ(f.Next(), nullptr);
    f.SetActive(false);
    EXPECT_EQ(Walk(f), "abcd");
    TKeyCollection empty;
    f.LinkCollection(&empty);
    EXPECT_EQ(f.First(), nullptr);
}

TEST(CollectionFilter, AssignCopiesActiveAndRefusesOtherClasses) {
    TEvenFilter a, b;
    a.SetActive(false);
    b.Assign(&a);
    EXPECT_FALSE(b.Active());
    QObject plain;
    EXPECT_THROW(b.Assign(&plain), EAssignError);
    EXPECT_THROW(b.Assign(nullptr), EAssignError);
}

TEST(MyExceptions, Messages) {
    EXPECT_EQ(EAbortByUser().Message(), QString());
    EXPECT_EQ(EJobFinished().Message(), QStringLiteral("Opration finished"));
    EXPECT_EQ(EJobAlreadyActive().Message(), QStringLiteral("Job is already running"));
    const EJobFinished finished;
    const Exception &base = finished;
    EXPECT_NE(dynamic_cast<const EUserException *>(&base), nullptr);
    EXPECT_EQ(dynamic_cast<const EUserException *>(
                  static_cast<const Exception *>(&static_cast<const Exception &>(EJobAlreadyActive()))),
              nullptr);
}
