// Global hotkeys on X11 against a real X server (a private Xvfb per test) with key presses sent by
// xdotool. That a combination does NOT fire is shown without waiting for nothing: a second
// combination of ours is pressed after it, and X delivers the events of one connection in order.

#include "platform/X11Hotkeys.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace testsupport;

namespace {

constexpr uint32_t IdS = 100001;
constexpr uint32_t IdSentinel = 100002;
constexpr uint32_t CtrlShift = MOD_CONTROL | MOD_SHIFT;

TEST(VirtualKeyToKeysym, MapsKeysNotShiftedCharacters) {
    const struct {
        uint32_t Vk;
        uint32_t Keysym;
    } Cases[] = {
        {'A', 'a'},  {'Z', 'z'}, {'m', 'm'},   {'0', '0'},          {'9', '9'},
        {' ', 0x20}, {'[', '['}, {0xe9, 0xe9}, {0x20ac, 0x10020ac}, // Latin-1 é, the euro sign
        {0x00, 0},   {0x1b, 0},  {0x7f, 0},    {0xd800, 0},         // controls, a lone surrogate
    };
    for (const auto &c : Cases)
        EXPECT_EQ(VirtualKeyToKeysym(c.Vk), c.Keysym) << "virtual key 0x" << std::hex << c.Vk;
}

// Without a display there are no hotkeys, nothing crashes, and exactly one line tells why, however
// many objects try. Each case runs in a child process of its own (the line is once per process).
TEST(X11HotkeysNoDisplay, OneLineOnStderrAndNothingRegistered) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        const char *Display;
        const char *Wayland;
        const char *Reason;
    } Cases[] = {
        {"", "", "no X display \\(DISPLAY is not set\\)"},
        {"", "wayland-0", "this Wayland session offers no X display"},
        {"unix:/nonexistent/relayvane-test-socket", "", "cannot open X display"},
    };
    for (const auto &c : Cases) {
        const std::string Line = std::string("^[^\n]*: global hotkeys are off: ") + c.Reason + "[^\n]*\n$";
        EXPECT_EXIT(
            {
                qputenv("DISPLAY", c.Display);
                qputenv("WAYLAND_DISPLAY", c.Wayland);
                TX11Hotkeys First;
                TX11Hotkeys Second;
                const bool Any = First.Available() || Second.Available() || First.RegisterHotKey(IdS, CtrlShift, 'S') ||
                                 Second.RegisterHotKey(IdS, CtrlShift, 'S') || First.IsRegistered(IdS);
                First.UnregisterAll();
                std::exit(Any ? 1 : 0);
            },
            ::testing::ExitedWithCode(0), Line)
            << "DISPLAY=\"" << c.Display << "\" WAYLAND_DISPLAY=\"" << c.Wayland << "\"";
    }
}

class X11Hotkeys : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindProgram(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed (scripts/install-deps.sh installs it)";
        QString Error;
        if (FindProgram(QStringLiteral("Xvfb")).isEmpty())
            GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
        ASSERT_TRUE(X.Start(&Error)) << Error.toStdString();
        Hotkeys = std::make_unique<TX11Hotkeys>(nullptr, X.Name());
        ASSERT_TRUE(Hotkeys->Available());
        QObject::connect(Hotkeys.get(), &TX11Hotkeys::HotkeyPressed, [this](uint32_t Id) { Pressed.push_back(Id); });
        ASSERT_TRUE(Hotkeys->RegisterHotKey(IdSentinel, CtrlShift, 'M'));
    }

    // Sends every key sequence, then the sentinel Ctrl+Shift+M, and answers what fired up to and
    // including the sentinel.
    std::vector<uint32_t> PressThenSentinel(const QStringList &Keys) {
        Pressed.clear();
        for (const QString &k : Keys)
            EXPECT_TRUE(X.XdoTool({QStringLiteral("key"), k})) << k.toStdString();
        EXPECT_TRUE(X.XdoTool({QStringLiteral("key"), QStringLiteral("ctrl+shift+m")}));
        EXPECT_TRUE(ProcessEventsUntil([this] { return !Pressed.empty() && Pressed.back() == IdSentinel; }))
            << "the sentinel combination never arrived";
        return Pressed;
    }

    TXvfbDisplay X;
    std::unique_ptr<TX11Hotkeys> Hotkeys;
    std::vector<uint32_t> Pressed;
};

// Exactly the registered modifiers fire: more or fewer do nothing; Alt and the Windows key are
// found through the server's modifier mapping.
TEST_F(X11Hotkeys, FiresForExactlyTheRegisteredModifiers) {
    const struct {
        uint32_t Modifiers;
        uint32_t Key;
        const char *Fires;
        std::vector<const char *> Silent;
    } Cases[] = {
        {CtrlShift, 'S', "ctrl+shift+s", {"ctrl+s", "ctrl+alt+s", "shift+s", "s", "ctrl+shift+alt+s", "ctrl+shift+a"}},
        {MOD_CONTROL | MOD_ALT, 'X', "ctrl+alt+x", {"ctrl+x", "alt+x", "ctrl+alt+shift+x"}},
        {MOD_WIN, '1', "super+1", {"1", "super+shift+1", "ctrl+1"}},
        {MOD_ALT | MOD_SHIFT | MOD_CONTROL | MOD_WIN, 'Q', "ctrl+alt+shift+super+q", {"ctrl+alt+shift+q"}},
    };
    for (const auto &c : Cases) {
        SCOPED_TRACE(c.Fires);
        ASSERT_TRUE(Hotkeys->RegisterHotKey(IdS, c.Modifiers, c.Key));
        QStringList Keys;
        for (const char *k : c.Silent)
            Keys << QString::fromLatin1(k);
        Keys << QString::fromLatin1(c.Fires);
        EXPECT_EQ(PressThenSentinel(Keys), (std::vector<uint32_t>{IdS, IdSentinel}));
        ASSERT_TRUE(Hotkeys->UnregisterHotKey(IdS));
        // Released: the same press reaches nobody now.
        EXPECT_EQ(PressThenSentinel({QString::fromLatin1(c.Fires)}), std::vector<uint32_t>{IdSentinel});
    }
}

// NumLock and CapsLock are modifiers to X; with either or both on the combination still works.
TEST_F(X11Hotkeys, WorksWithNumLockAndCapsLockOn) {
    TOtherXClient Probe(X.Name());
    ASSERT_TRUE(Probe.Connected());
    ASSERT_TRUE(Hotkeys->RegisterHotKey(IdS, CtrlShift, 'S'));
    const struct {
        const char *Toggle;
        uint16_t LocksOn;
    } Steps[] = {
        {"Num_Lock", XCB_MOD_MASK_2},                      // NumLock on
        {"Caps_Lock", XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK}, // both on
        {"Num_Lock", XCB_MOD_MASK_LOCK},                   // CapsLock alone
        {"Caps_Lock", 0},                                  // both off again
    };
    for (const auto &s : Steps) {
        SCOPED_TRACE(s.Toggle);
        ASSERT_TRUE(X.XdoTool({QStringLiteral("key"), QString::fromLatin1(s.Toggle)}));
        ASSERT_EQ(Probe.ModifierState() & (XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK), s.LocksOn);
        EXPECT_EQ(PressThenSentinel({QStringLiteral("ctrl+shift+s"), QStringLiteral("ctrl+s")}),
                  (std::vector<uint32_t>{IdS, IdSentinel}));
    }
}

// Another program that holds the combination keeps it: our registration answers false without
// noise, our handler never sees the key, the other program does; once we let go of a combination
// the other program can take it.
TEST_F(X11Hotkeys, CombinationHeldByAnotherClientIsRefusedAndFreedOnRelease) {
    TOtherXClient Other(X.Name());
    ASSERT_TRUE(Other.Connected());
    ASSERT_TRUE(Other.Grab(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, 's'));

    EXPECT_FALSE(Hotkeys->RegisterHotKey(IdS, CtrlShift, 'S'));
    EXPECT_FALSE(Hotkeys->IsRegistered(IdS));
    EXPECT_EQ(PressThenSentinel({QStringLiteral("ctrl+shift+s")}), std::vector<uint32_t>{IdSentinel});
    EXPECT_NE(Other.WaitForKeyPress(), 0) << "the holder of the combination did not get the key";

    // Ours are free for the other client after Unregister, and after destruction.
    ASSERT_TRUE(Hotkeys->RegisterHotKey(IdS + 10, CtrlShift, 'E'));
    EXPECT_FALSE(Other.Grab(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, 'e'));
    EXPECT_FALSE(Other.Grab(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, 'm'));
    ASSERT_TRUE(Hotkeys->UnregisterHotKey(IdS + 10));
    EXPECT_TRUE(Other.Grab(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, 'e'));
    Hotkeys.reset();
    EXPECT_TRUE(Other.Grab(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, 'm'));
}

// One combination, one identifier: X would silently hand our own grab over to the second
// identifier, so the second registration is refused (as on Windows) and the first keeps working.
TEST_F(X11Hotkeys, SecondIdentifierForTheSameCombinationIsRefused) {
    EXPECT_FALSE(Hotkeys->RegisterHotKey(IdS, CtrlShift, 'M'));
    EXPECT_FALSE(Hotkeys->RegisterHotKey(IdS, CtrlShift, 'm'));
    EXPECT_TRUE(Hotkeys->RegisterHotKey(IdSentinel, CtrlShift, 'M')) << "same identifier again: no change";
    EXPECT_FALSE(Hotkeys->RegisterHotKey(IdS, 0x10, 'S')) << "unknown modifier bits";
    EXPECT_FALSE(Hotkeys->RegisterHotKey(IdS, CtrlShift, 0x1b)) << "a key without a keysym";
    EXPECT_EQ(PressThenSentinel({}), std::vector<uint32_t>{IdSentinel});
    EXPECT_FALSE(Hotkeys->UnregisterHotKey(IdS));
}

// A new keyboard layout moves keys: the combination follows its key to the new key code.
TEST_F(X11Hotkeys, CombinationFollowsItsKeyToANewKeyCode) {
    ASSERT_TRUE(Hotkeys->RegisterHotKey(IdS, CtrlShift, 'S'));
    TOtherXClient Layout(X.Name());
    ASSERT_TRUE(Layout.Connected());
    ASSERT_TRUE(Layout.MoveKeysym('s'));
    // The sentinel comes after the mapping change, so by its arrival the change was seen.
    EXPECT_EQ(PressThenSentinel({}), std::vector<uint32_t>{IdSentinel});
    EXPECT_EQ(PressThenSentinel({QStringLiteral("ctrl+shift+s"), QStringLiteral("ctrl+s")}),
              (std::vector<uint32_t>{IdS, IdSentinel}));
}

// The X server going away turns the hotkeys off without a crash; descriptors are not leaked by
// objects that come and go.
TEST_F(X11Hotkeys, ServerLossAndRepeatedUseLeaveNothingBehind) {
    const int FdsBefore = OpenFdCount();
    for (int i = 0; i < 5; ++i) {
        TX11Hotkeys Extra(nullptr, X.Name());
        ASSERT_TRUE(Extra.Available());
        EXPECT_TRUE(Extra.RegisterHotKey(IdS, CtrlShift, 'S'));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(OpenFdCount(), FdsBefore);

    ASSERT_TRUE(Hotkeys->RegisterHotKey(IdS, CtrlShift, 'S'));
    X.Kill();
    EXPECT_TRUE(ProcessEventsUntil([this] { return !Hotkeys->Available(); }));
    EXPECT_FALSE(Hotkeys->RegisterHotKey(IdS + 1, CtrlShift, 'D'));
    Hotkeys->UnregisterAll();
}

} // namespace
