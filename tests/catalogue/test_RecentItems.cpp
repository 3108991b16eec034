// TResentItems / TResentItem: the checker's site lists, items with Src and Name,
// appended in order and moved by the shuffle.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "catalogue/Marlo.Common.RecentItems.h"
#include "tests/catalogue/CatalogueTestSupport.h"

#include <gtest/gtest.h>

namespace {

QStringList Srcs(const TResentItems &L) {
    QStringList out;
    for (int i = 0; i < L.Count(); ++i)
        out << L.Items(i)->Src();
    return out;
}

} // namespace

TEST(ResentItems, AddAndMove) {
    TResentItems list;
    TResentItem *a = list.Add(QStringLiteral("http://a.example/"), QStringLiteral("Alpha"));
    list.Add(QStringLiteral("http://b.example/"), QStringLiteral("Beta"));
    list.Add(QStringLiteral("http://c.example/"), QStringLiteral("Gamma"));
    EXPECT_EQ(a->Name(), QStringLiteral("Alpha"));
    // The shuffle's step: the item at i goes to i + r, the ones between move toward the front.
    list.Move(0, 2);
    EXPECT_EQ(Srcs(list), QStringList({"http://b.example/", "http://c.example/", "http://a.example/"}));
    EXPECT_EQ(a->Index(), 2);
}

TEST(ResentItems, StandaloneItemAndAssign) {
    TResentItems list;
    list.Add(QStringLiteral("https://pay.example/"), QStringLiteral("Checkout"));
    TResentItem current; // a worker's current page is an item of its own
    current.Assign(*list.Items(0));
    EXPECT_EQ(current.Src(), QStringLiteral("https://pay.example/"));
    EXPECT_EQ(current.Name(), QStringLiteral("Checkout"));
    TProxtData proxy;
    EXPECT_THROW(current.Assign(proxy), EAssignError);
    try {
        proxy.Assign(current);
    } catch (const EAssignError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot assign a TResentItem to a TProxtData"));
    }
    TResentItems copy;
    copy.Assign(list);
    EXPECT_EQ(Srcs(copy), Srcs(list));
    EXPECT_EQ(copy.Items(0)->Name(), QStringLiteral("Checkout"));
}

TEST(ResentItems, CompareBySrcThenName) {
    TResentItems list;
    list.Add(QStringLiteral("b"), QStringLiteral("2"));
    list.Add(QStringLiteral("a"), QStringLiteral("9"));
    list.Add(QStringLiteral("b"), QStringLiteral("1"));
    list.Sort();
    QStringList seen;
    for (int i = 0; i < list.Count(); ++i)
        seen << list.Items(i)->Src() + list.Items(i)->Name();
    EXPECT_EQ(seen, QStringList({"a9", "b1", "b2"}));
}
