// The menu's item model: the list of child entries (ownership, positions, errors), the click
// gate, the separator's height and the change signal a drawn menu repaints on.

#include "app/MenuItemModel.h"

#include <QPointer>
#include <gtest/gtest.h>

namespace {

TMenuItemEx *Named(const char *Caption) {
    auto *Item = new TMenuItemEx();
    Item->SetCaption(QLatin1String(Caption));
    return Item;
}

QStringList Captions(const TMenuItemEx &Menu) {
    QStringList Out;
    for (int i = 0; i < Menu.Count(); ++i)
        Out << Menu.Items(i)->Caption();
    return Out;
}

} // namespace

TEST(MenuItemModel, DefaultsOfANewEntry) {
    TMenuItemEx Item;
    EXPECT_EQ(Item.ImageIndex(), -1);
    EXPECT_EQ(Item.ImageIndex2(), -1);
    EXPECT_EQ(Item.Height(), 31);
    EXPECT_TRUE(Item.Enabled());
    EXPECT_TRUE(Item.Visible());
    EXPECT_FALSE(Item.Selected());
    EXPECT_EQ(Item.ShortCurSpace(), 5);
    EXPECT_EQ(Item.SubMenuTopItem(), 0);
    EXPECT_EQ(Item.Data(), nullptr);
    Item.SetSeparator(true);
    EXPECT_EQ(Item.Height(), 5);
    // The separator between the proxy groups is taller; a height set afterwards stays.
    Item.SetHeight(8);
    EXPECT_EQ(Item.Height(), 8);
}

TEST(MenuItemModel, ChildrenKeepTheirPositionsAndAreFreedByDeleteAndClear) {
    TMenuItemEx Menu;
    Menu.Add(Named("a"));
    Menu.Add(Named("c"));
    Menu.Insert(1, Named("b"));
    Menu.Insert(0, Named("first"));
    Menu.Insert(Menu.Count(), Named("last"));
    EXPECT_EQ(Captions(Menu), (QStringList{"first", "a", "b", "c", "last"}));
    EXPECT_EQ(Menu.Items(2)->Parent(), &Menu);
    EXPECT_EQ(Menu.IndexOf(Menu.Items(3)), 3);

    QPointer<TMenuItemEx> Deleted = Menu.Items(0);
    Menu.Delete(0);
    EXPECT_TRUE(Deleted.isNull());

    // Remove hands the entry back without freeing it.
    TMenuItemEx *Detached = Menu.Items(1);
    Menu.Remove(Detached);
    EXPECT_EQ(Detached->Parent(), nullptr);
    EXPECT_EQ(Menu.IndexOf(Detached), -1);
    EXPECT_EQ(Captions(Menu), (QStringList{"a", "c", "last"}));
    delete Detached;

    QPointer<TMenuItemEx> Kept = Menu.Items(0);
    Menu.Clear();
    EXPECT_EQ(Menu.Count(), 0);
    EXPECT_TRUE(Kept.isNull());
    EXPECT_EQ(Menu.Items(0), nullptr);
}

TEST(MenuItemModel, BadPositionsAreRefusedAndNothingLeaks) {
    TMenuItemEx Menu;
    Menu.Add(Named("a"));
    auto Extra = std::unique_ptr<TMenuItemEx>(Named("x"));
    EXPECT_THROW(Menu.Insert(2, Extra.get()), std::out_of_range);
    EXPECT_THROW(Menu.Insert(-1, Extra.get()), std::out_of_range);
    EXPECT_EQ(Extra->Parent(), nullptr);
    EXPECT_THROW(Menu.Delete(1), std::out_of_range);
    EXPECT_THROW(Menu.Add(&Menu), std::invalid_argument);
    EXPECT_EQ(Captions(Menu), QStringList{"a"});
}

TEST(MenuItemModel, AnEntryFreedElsewhereLeavesItsList) {
    TMenuItemEx Menu;
    TMenuItemEx *Child = Menu.Add(Named("a"));
    Menu.Add(Named("b"));
    delete Child;
    EXPECT_EQ(Captions(Menu), QStringList{"b"});
}

TEST(MenuItemModel, MovingAnEntryTakesItFromItsOldList) {
    TMenuItemEx One, Two;
    TMenuItemEx *Item = One.Add(Named("a"));
    Two.Add(Item);
    EXPECT_EQ(One.Count(), 0);
    EXPECT_EQ(Item->Parent(), &Two);
}

TEST(MenuItemModel, ClickRunsTheHandlerOnlyWhenEnabled) {
    TMenuItemEx Item;
    QObject *Seen = nullptr;
    int Calls = 0;
    Item.Click(); // no handler: nothing
    Item.OnClick = [&](QObject *Sender) {
        Seen = Sender;
        ++Calls;
    };
    Item.Click();
    EXPECT_EQ(Calls, 1);
    EXPECT_EQ(Seen, &Item);
    Item.SetEnabled(false);
    Item.Click();
    EXPECT_EQ(Calls, 1);
}

TEST(MenuItemModel, VisibleChangesAreSignalledOnce) {
    TMenuItemEx Menu;
    int Changes = 0;
    QObject::connect(&Menu, &TMenuItemEx::Changed, [&] { ++Changes; });
    Menu.SetCaption(QStringLiteral("x"));
    Menu.SetCaption(QStringLiteral("x"));
    Menu.SetSelected(true);
    Menu.Add(Named("a"));
    Menu.Clear();
    EXPECT_EQ(Changes, 4);
}

TEST(PngImageList, PathsByIndex) {
    TPngImageList List(20, 20);
    int Changes = 0;
    QObject::connect(&List, &TPngImageList::Changed, [&] { ++Changes; });
    EXPECT_EQ(List.Add(QStringLiteral(":/unknown")), 0);
    EXPECT_EQ(List.Add(QStringLiteral(":/FLAG_DE")), 1);
    EXPECT_EQ(List.Count(), 2);
    EXPECT_EQ(List.Path(1), QStringLiteral(":/FLAG_DE"));
    EXPECT_EQ(List.Path(2), QString());
    EXPECT_EQ(List.Path(-1), QString());
    EXPECT_EQ(List.Width(), 20);
    EXPECT_EQ(Changes, 2);
}
