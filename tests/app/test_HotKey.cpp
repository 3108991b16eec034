// The hotkeys component: its items (identifiers, keys, names, modifier flags), the main window's
// seven combinations, and the whole road from a key press on a private Xvfb to the handler.

#include "app/Marlo.ComCtrl.HotKey.h"
#include "platform/SysUtils.h"
#include "platform/X11Hotkeys.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace testsupport;

namespace {

// Identifiers are process-wide and start at 100001 with the first item of the process, so this
// runs in a fresh child process: the main window's list then holds 100001 ... 100007 in order.
TEST(ShortCutData, IdentifiersStartAt100001AndAreNeverReused) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TKvHotkey Hotkey;
            AddMainFormShortCuts(Hotkey, {});
            bool Ok = Hotkey.ShortCuts()->Count() == 7;
            for (int i = 0; Ok && i < 7; ++i)
                Ok = Hotkey.ShortCuts()->Items(i)->Msg() == uint32_t(100001 + i);
            // Another list continues the count; a freed item's number is not handed out again.
            TShortCutCollection Other;
            Ok = Ok && Other.Add()->Msg() == 100008;
            Hotkey.ShortCuts()->DeleteAt(6);
            Ok = Ok && Hotkey.ShortCuts()->Add()->Msg() == 100009;
            std::exit(Ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ShortCutData, KeyNameAndModifierFlags) {
    TShortCutCollection List;
    TShortCutData *Item = List.Add();
    const struct {
        char16_t Given, Stored;
    } Keys[] = {{u'm', u'M'}, {u'a', u'A'}, {u'z', u'Z'}, {u'M', u'M'}, {u'7', u'7'}, {u'[', u'['}, {u'é', u'é'}};
    for (const auto &k : Keys) {
        Item->SetShortCut(QChar(k.Given));
        EXPECT_EQ(Item->ShortCut(), QChar(k.Stored)) << int(k.Given);
    }

    EXPECT_EQ(Item->GetDisplayName(), "Unnamed");
    Item->SetName("Check ");
    EXPECT_EQ(Item->GetDisplayName(), "Check ");

    const struct {
        bool Alt, Ctrl, Shift, Win;
        uint32_t Flags;
    } Flags[] = {{false, false, false, false, 0}, {true, false, false, false, 1}, {false, true, false, false, 2},
                 {false, false, true, false, 4},  {false, false, false, true, 8}, {false, true, true, false, 6},
                 {true, true, true, true, 15}};
    for (const auto &f : Flags) {
        Item->SetAltKey(f.Alt);
        Item->SetControlKey(f.Ctrl);
        Item->SetShiftKey(f.Shift);
        Item->SetWinKey(f.Win);
        EXPECT_EQ(Item->Modifiers(), f.Flags);
    }
}

// Assign copies what is published (key, modifiers, handler, name) but not the identifier.
TEST(ShortCutData, AssignKeepsTheOwnIdentifier) {
    TShortCutCollection List;
    TShortCutData *Source = List.Add();
    Source->SetShortCut('p');
    Source->SetAltKey(true);
    Source->SetWinKey(true);
    Source->SetName("Preference");
    int Calls = 0;
    Source->SetOnShortCut([&Calls](QObject *) { ++Calls; });
    TShortCutData *Copy = List.Add();
    Copy->Assign(*Source);
    EXPECT_EQ(Copy->ShortCut(), QChar('P'));
    EXPECT_EQ(Copy->Modifiers(), uint32_t(MOD_ALT | MOD_WIN));
    EXPECT_EQ(Copy->Name(), "Preference");
    EXPECT_NE(Copy->Msg(), Source->Msg());
    ASSERT_TRUE(Copy->OnShortCut());
    Copy->OnShortCut()(nullptr);
    EXPECT_EQ(Calls, 1);
}

TEST(MainFormShortCuts, SevenCtrlShiftCombinationsInOrder) {
    std::vector<QString> Called;
    auto Handler = [&Called](const char *Name) { return [&Called, Name](QObject *) { Called.push_back(Name); }; };
    TKvHotkey Hotkey;
    AddMainFormShortCuts(Hotkey, {Handler("EditProxyClick"), Handler("SwitchProxyClick"), Handler("DeleteProxyClick"),
                                  Handler("EnableProxyClick"), Handler("LoadProxyClick"), Handler("PreferencesClick"),
                                  Handler("TestProxyClick")});
    const struct {
        const char *Name;
        char Key;
        const char *Handler;
    } Table[] = {{"ManageProxy", 'M', "EditProxyClick"},   {"Switch", 'S', "SwitchProxyClick"},
                 {"DeleteProxy", 'D', "DeleteProxyClick"}, {"enableProxy", 'E', "EnableProxyClick"},
                 {"LoadProxy", 'R', "LoadProxyClick"},     {"Preference", 'P', "PreferencesClick"},
                 {"Check ", 'C', "TestProxyClick"}};
    ASSERT_EQ(Hotkey.ShortCuts()->Count(), 7);
    for (int i = 0; i < 7; ++i) {
        const TShortCutData *Item = Hotkey.ShortCuts()->Items(i);
        SCOPED_TRACE(Table[i].Name);
        EXPECT_EQ(Item->Name(), Table[i].Name);
        EXPECT_EQ(Item->ShortCut(), QChar(Table[i].Key));
        EXPECT_EQ(Item->Modifiers(), uint32_t(MOD_CONTROL | MOD_SHIFT));
        ASSERT_TRUE(Item->OnShortCut());
        Called.clear();
        Item->OnShortCut()(&Hotkey);
        EXPECT_EQ(Called, std::vector<QString>{Table[i].Handler});
    }
}

// No display: activating is harmless and says so in one line, however often and by how many.
TEST(KvHotkeyNoDisplay, ActivateSaysOnceThatHotkeysAreOff) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            qunsetenv("DISPLAY");
            qunsetenv("WAYLAND_DISPLAY");
            TKvHotkey First;
            TKvHotkey Second;
            AddMainFormShortCuts(First, {});
            AddMainFormShortCuts(Second, {});
            First.Activate();
            First.Activate();
            Second.Activate();
            const bool Any = First.Registered(First.ShortCuts()->Items(0));
            First.Deactivate();
            Second.Deactivate();
            std::exit(Any ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "^[^\n]*global hotkeys are off: no X display[^\n]*\n$");
}

class KvHotkeyOnX : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindProgram(QStringLiteral("xdotool")).isEmpty() || FindProgram(QStringLiteral("Xvfb")).isEmpty())
            GTEST_SKIP() << "Xvfb or xdotool is not installed (scripts/install-deps.sh installs them)";
        QString Error;
        ASSERT_TRUE(X.Start(&Error)) << Error.toStdString();
        FOldDisplay = qgetenv("DISPLAY");
        qputenv("DISPLAY", X.Name().toLocal8Bit());
        Hotkey = std::make_unique<TKvHotkey>();
        auto Record = [this](const char *Name) {
            return [this, Name](QObject *Sender) { Calls.push_back({Name, Sender}); };
        };
        AddMainFormShortCuts(*Hotkey,
                             {Record("ManageProxy"), Record("Switch"), Record("DeleteProxy"), Record("enableProxy"),
                              Record("LoadProxy"), Record("Preference"), Record("Check ")});
    }
    void TearDown() override {
        Hotkey.reset();
        qputenv("DISPLAY", FOldDisplay);
    }

    // Presses each combination, then Ctrl+Shift+M (ManageProxy) as the last; answers the handlers
    // that ran, in order, up to and including that one.
    std::vector<QString> PressThenManage(const QStringList &Keys) {
        Calls.clear();
        for (const QString &k : Keys)
            EXPECT_TRUE(X.XdoTool({QStringLiteral("key"), k})) << k.toStdString();
        EXPECT_TRUE(X.XdoTool({QStringLiteral("key"), QStringLiteral("ctrl+shift+m")}));
        EXPECT_TRUE(ProcessEventsUntil([this] { return !Calls.empty() && Calls.back().Name == "ManageProxy"; }))
            << "Ctrl+Shift+M never arrived";
        std::vector<QString> Names;
        for (const auto &c : Calls) {
            Names.push_back(c.Name);
            EXPECT_EQ(c.Sender, Hotkey.get()) << "the sender is the hotkeys component";
        }
        return Names;
    }

    struct TCall {
        QString Name;
        QObject *Sender;
    };
    TXvfbDisplay X;
    std::unique_ptr<TKvHotkey> Hotkey;
    std::vector<TCall> Calls;
    QByteArray FOldDisplay;
};

// Each of the seven combinations runs its own handler with the component as sender; Ctrl+S and
// Ctrl+Alt+S run nothing; NumLock on changes nothing.
TEST_F(KvHotkeyOnX, EachCombinationRunsItsHandler) {
    Hotkey->Activate();
    EXPECT_EQ(PressThenManage({"ctrl+shift+s", "ctrl+s", "ctrl+alt+s", "ctrl+shift+d", "ctrl+shift+e", "ctrl+shift+r",
                               "ctrl+shift+p", "ctrl+shift+c", "ctrl+shift+x"}),
              (std::vector<QString>{"Switch", "DeleteProxy", "enableProxy", "LoadProxy", "Preference", "Check ",
                                    "ManageProxy"}));
    ASSERT_TRUE(X.XdoTool({"key", "Num_Lock"}));
    EXPECT_EQ(PressThenManage({"ctrl+shift+s"}), (std::vector<QString>{"Switch", "ManageProxy"}));
}

// Only items with the pressed identifier and a handler run: an item without a handler is skipped,
// and a handler that empties the list ends the walk without harm.
TEST_F(KvHotkeyOnX, HandlersMayChangeTheList) {
    Hotkey->ShortCuts()->Items(3)->SetOnShortCut(nullptr); // "enableProxy"
    Hotkey->ShortCuts()->Items(1)->SetOnShortCut([this](QObject *Sender) {
        Calls.push_back({"Switch", Sender});
        Hotkey->Deactivate();
        Hotkey->ShortCuts()->Clear();
    });
    Hotkey->Activate();
    Calls.clear();
    ASSERT_TRUE(X.XdoTool({"key", "ctrl+shift+e"}));
    ASSERT_TRUE(X.XdoTool({"key", "ctrl+shift+s"}));
    ASSERT_TRUE(ProcessEventsUntil([this] { return !Calls.empty(); }));
    ASSERT_EQ(Calls.size(), 1u);
    EXPECT_EQ(Calls[0].Name, "Switch");
    EXPECT_EQ(Calls[0].Sender, Hotkey.get());
    EXPECT_EQ(Hotkey->ShortCuts()->Count(), 0);
}

// A combination another program holds stays with it, silently; the other six work. After
// Deactivate (and after the component is gone) other programs can take ours.
TEST_F(KvHotkeyOnX, HeldCombinationIsSkippedAndDeactivateFreesAll) {
    const uint16_t CtrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
    TOtherXClient Other(X.Name());
    ASSERT_TRUE(Other.Connected());
    ASSERT_TRUE(Other.Grab(CtrlShift, 'd'));
    Hotkey->Activate();
    EXPECT_FALSE(Hotkey->Registered(Hotkey->ShortCuts()->Items(2)));
    EXPECT_TRUE(Hotkey->Registered(Hotkey->ShortCuts()->Items(1)));
    EXPECT_EQ(PressThenManage({"ctrl+shift+d", "ctrl+shift+s"}), (std::vector<QString>{"Switch", "ManageProxy"}));
    EXPECT_NE(Other.WaitForKeyPress(), 0);

    EXPECT_FALSE(Other.Grab(CtrlShift, 's'));
    Hotkey->Deactivate();
    for (char Key : {'m', 's', 'e', 'r', 'p'})
        EXPECT_TRUE(Other.Grab(CtrlShift, uint32_t(Key))) << Key;

    // Activate again: those the other client took now are refused, 'c' is still free for us.
    Hotkey->Activate();
    EXPECT_TRUE(Hotkey->Registered(Hotkey->ShortCuts()->Items(6)));
    EXPECT_FALSE(Hotkey->Registered(Hotkey->ShortCuts()->Items(0)));
    Hotkey.reset();
    EXPECT_TRUE(Other.Grab(CtrlShift, 'c')) << "the component's destruction frees its combinations";
}

} // namespace
