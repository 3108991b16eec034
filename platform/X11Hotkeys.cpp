#include "platform/X11Hotkeys.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {

// The keysyms the modifier mapping is searched for (X11/keysymdef.h).
constexpr xcb_keysym_t XK_Num_Lock = 0xff7f;
constexpr xcb_keysym_t XK_Meta_L = 0xffe7;
constexpr xcb_keysym_t XK_Meta_R = 0xffe8;
constexpr xcb_keysym_t XK_Alt_L = 0xffe9;
constexpr xcb_keysym_t XK_Alt_R = 0xffea;
constexpr xcb_keysym_t XK_Super_L = 0xffeb;
constexpr xcb_keysym_t XK_Super_R = 0xffec;

constexpr uint32_t KnownModifiers = MOD_ALT | MOD_CONTROL | MOD_SHIFT | MOD_WIN;
// Windows' "no auto-repeat" flag; X repeats a held combination like Windows does without it, and
// the flag asks for nothing that could fail, so it is accepted and has no effect.
constexpr uint32_t ModNoRepeat = 0x4000;
// The eight modifier bits of an event's state (the rest are pointer buttons).
constexpr uint16_t ModifierBits = 0xff;

std::atomic<bool> NoDisplayReported{false};

QByteArray ProgramPrefix() {
    QString Name = QCoreApplication::instance() ? QCoreApplication::applicationName() : QString();
    if (Name.isEmpty())
        Name = QStringLiteral("relayvane");
    return Name.toLocal8Bit();
}

void WriteLine(const QByteArray &Text) {
    const QByteArray Line = ProgramPrefix() + ": " + Text + "\n";
    std::fwrite(Line.constData(), 1, static_cast<size_t>(Line.size()), stderr);
    std::fflush(stderr);
}

// A program without an X display says once that its hotkeys are off: several components (or
// several attempts) must not fill the terminal with the same news.
void ReportNoDisplay(const QByteArray &Reason) {
    if (!NoDisplayReported.exchange(true))
        WriteLine("global hotkeys are off: " + Reason);
}

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <class T> using XcbPtr = std::unique_ptr<T, FreeDeleter>;

} // namespace

uint32_t VirtualKeyToKeysym(uint32_t VirtualKey) {
    if (VirtualKey >= 'A' && VirtualKey <= 'Z')
        return VirtualKey - 'A' + 'a'; // the key, not the shifted character
    if ((VirtualKey >= 0x20 && VirtualKey <= 0x7e) || (VirtualKey >= 0xa0 && VirtualKey <= 0xff))
        return VirtualKey; // Latin-1 keysyms equal their character codes
    if (VirtualKey > 0xff && VirtualKey <= 0x10ffff && !(VirtualKey >= 0xd800 && VirtualKey <= 0xdfff))
        return 0x01000000 | VirtualKey; // X's keysyms for the other Unicode characters
    return 0;
}

struct TX11Hotkeys::TConnection {
    xcb_connection_t *Conn = nullptr;
    xcb_key_symbols_t *Syms = nullptr;
    xcb_window_t Root = XCB_NONE;
};

TX11Hotkeys::TX11Hotkeys(QObject *Parent, const QString &Display) : QObject(Parent) {
    QByteArray Name = Display.isEmpty() ? qgetenv("DISPLAY") : Display.toLocal8Bit();
    if (Name.isEmpty()) {
        ReportNoDisplay(qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                            ? QByteArray("no X display (DISPLAY is not set)")
                            : QByteArray("this Wayland session offers no X display (DISPLAY is not set)"));
        return;
    }
    int Screen = 0;
    xcb_connection_t *Conn = xcb_connect(Name.constData(), &Screen);
    if (xcb_connection_has_error(Conn)) {
        xcb_disconnect(Conn);
        ReportNoDisplay("cannot open X display \"" + Name + "\"");
        return;
    }
    xcb_screen_iterator_t It = xcb_setup_roots_iterator(xcb_get_setup(Conn));
    for (int i = 0; i < Screen && It.rem; ++i)
        xcb_screen_next(&It);
    if (!It.rem) {
        xcb_disconnect(Conn);
        ReportNoDisplay("X display \"" + Name + "\" has no such screen");
        return;
    }
    // Programs the user starts from here (browsers) must not inherit the X connection.
    const int Fd = xcb_get_file_descriptor(Conn);
    ::fcntl(Fd, F_SETFD, ::fcntl(Fd, F_GETFD) | FD_CLOEXEC);

    FConn = std::make_unique<TConnection>();
    FConn->Conn = Conn;
    FConn->Root = It.data->root;
    FConn->Syms = xcb_key_symbols_alloc(Conn);
    FDisplayName = QString::fromLocal8Bit(Name);
    LoadModifierMasks();
    FNotifier = new QSocketNotifier(Fd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TX11Hotkeys::ReadEvents);
}

TX11Hotkeys::~TX11Hotkeys() {
    UnregisterAll();
    Close();
}

bool TX11Hotkeys::Available() const {
    return FConn && !xcb_connection_has_error(FConn->Conn);
}

void TX11Hotkeys::Close() {
    if (FNotifier) {
        FNotifier->setEnabled(false);
        FNotifier->deleteLater(); // may be inside its own signal
        FNotifier = nullptr;
    }
    if (FConn) {
        if (FConn->Syms)
            xcb_key_symbols_free(FConn->Syms);
        xcb_disconnect(FConn->Conn);
        FConn.reset();
    }
}

// Which of Mod1 ... Mod5 carry Alt, the Windows (Super) key and NumLock differs between keyboard
// layouts; the server's modifier mapping tells. Mod1, Mod4 and Mod2 are the usual answers.
void TX11Hotkeys::LoadModifierMasks() {
    FAltMask = XCB_MOD_MASK_1;
    FWinMask = XCB_MOD_MASK_4;
    FNumLockMask = XCB_MOD_MASK_2;
    XcbPtr<xcb_get_modifier_mapping_reply_t> Reply(
        xcb_get_modifier_mapping_reply(FConn->Conn, xcb_get_modifier_mapping(FConn->Conn), nullptr));
    if (!Reply)
        return;
    const xcb_keycode_t *Codes = xcb_get_modifier_mapping_keycodes(Reply.get());
    const int PerModifier = Reply->keycodes_per_modifier;
    bool FoundAlt = false, FoundWin = false, FoundNum = false;
    uint16_t Alt = 0, Win = 0, Num = 0;
    // Shift, Lock and Control (0 ... 2) are fixed; only Mod1 ... Mod5 are looked at.
    for (int Mod = 3; Mod < 8; ++Mod) {
        for (int k = 0; k < PerModifier; ++k) {
            const xcb_keycode_t Code = Codes[Mod * PerModifier + k];
            if (Code == 0)
                continue;
            for (int Col = 0; Col < 4; ++Col) {
                const xcb_keysym_t Sym = xcb_key_symbols_get_keysym(FConn->Syms, Code, Col);
                const uint16_t Bit = static_cast<uint16_t>(1u << Mod);
                if (Sym == XK_Num_Lock && !FoundNum) {
                    Num = Bit;
                    FoundNum = true;
                } else if ((Sym == XK_Alt_L || Sym == XK_Alt_R || Sym == XK_Meta_L || Sym == XK_Meta_R) && !FoundAlt) {
                    Alt = Bit;
                    FoundAlt = true;
                } else if ((Sym == XK_Super_L || Sym == XK_Super_R) && !FoundWin) {
                    Win = Bit;
                    FoundWin = true;
                }
            }
        }
    }
    if (FoundAlt)
        FAltMask = Alt;
    if (FoundWin)
        FWinMask = Win;
    // A keyboard without NumLock in the mapping: the lock cannot be on, one variant fewer.
    FNumLockMask = FoundNum ? Num : 0;
}

uint16_t TX11Hotkeys::ModifierMask(uint32_t Modifiers) const {
    uint16_t Mask = 0;
    if (Modifiers & MOD_ALT)
        Mask |= FAltMask;
    if (Modifiers & MOD_CONTROL)
        Mask |= XCB_MOD_MASK_CONTROL;
    if (Modifiers & MOD_SHIFT)
        Mask |= XCB_MOD_MASK_SHIFT;
    if (Modifiers & MOD_WIN)
        Mask |= FWinMask;
    return Mask;
}

std::vector<uint16_t> TX11Hotkeys::LockVariants() const {
    std::vector<uint16_t> Variants{0, XCB_MOD_MASK_LOCK};
    if (FNumLockMask) {
        Variants.push_back(FNumLockMask);
        Variants.push_back(static_cast<uint16_t>(FNumLockMask | XCB_MOD_MASK_LOCK));
    }
    return Variants;
}

bool TX11Hotkeys::Grab(THotkey &Hotkey) {
    Hotkey.Grabs.clear();
    const uint32_t Sym = VirtualKeyToKeysym(Hotkey.VirtualKey);
    if (!Sym)
        return false;
    std::vector<uint8_t> Codes;
    if (XcbPtr<xcb_keycode_t> List{xcb_key_symbols_get_keycode(FConn->Syms, Sym)}) {
        for (const xcb_keycode_t *p = List.get(); *p != XCB_NO_SYMBOL; ++p)
            if (std::find(Codes.begin(), Codes.end(), *p) == Codes.end())
                Codes.push_back(*p);
    }
    if (Codes.empty())
        return false;
    Hotkey.Mask = ModifierMask(Hotkey.Modifiers);
    // The same keys under the same modifiers for another identifier: X would silently move our
    // own grab, Windows refuses the second registration; so do we.
    for (const THotkey &Other : FHotkeys) {
        if (&Other == &Hotkey || Other.Mask != Hotkey.Mask)
            continue;
        for (uint8_t Code : Codes)
            if (Other.Holds(Code))
                return false;
    }

    struct TPending {
        xcb_void_cookie_t Cookie;
        uint8_t Code;
        uint16_t Mods;
    };
    std::vector<TPending> Pending;
    for (uint8_t Code : Codes)
        for (uint16_t Lock : LockVariants()) {
            const uint16_t Mods = static_cast<uint16_t>(Hotkey.Mask | Lock);
            Pending.push_back({xcb_grab_key_checked(FConn->Conn, 0, FConn->Root, Mods, Code, XCB_GRAB_MODE_ASYNC,
                                                    XCB_GRAB_MODE_ASYNC),
                               Code, Mods});
        }
    bool Refused = false;
    std::vector<std::pair<uint8_t, uint16_t>> Granted;
    for (const TPending &p : Pending) {
        if (XcbPtr<xcb_generic_error_t> Error{xcb_request_check(FConn->Conn, p.Cookie)})
            Refused = true; // BadAccess: another client holds this combination
        else
            Granted.emplace_back(p.Code, p.Mods);
    }
    ScheduleDrain();
    if (Refused) {
        // Half a combination (say, only with NumLock on) would be more confusing than none.
        for (const auto &[Code, Mods] : Granted)
            xcb_ungrab_key(FConn->Conn, Code, FConn->Root, Mods);
        Sync();
        return false;
    }
    Hotkey.Grabs = std::move(Granted);
    return true;
}

// The server takes requests of different clients in no fixed order: a combination counts as free
// for other programs only once the server has done our release, so the caller waits for that.
void TX11Hotkeys::Sync() {
    XcbPtr<xcb_get_input_focus_reply_t> Reply(
        xcb_get_input_focus_reply(FConn->Conn, xcb_get_input_focus(FConn->Conn), nullptr));
    ScheduleDrain();
}

void TX11Hotkeys::ScheduleDrain() {
    // Waiting for an answer may have queued events that the socket will not announce again.
    if (!FDrainPending) {
        FDrainPending = true;
        QMetaObject::invokeMethod(this, &TX11Hotkeys::DrainQueued, Qt::QueuedConnection);
    }
}

void TX11Hotkeys::Ungrab(THotkey &Hotkey, bool Wait) {
    if (FConn && !Hotkey.Grabs.empty()) {
        for (const auto &[Code, Mods] : Hotkey.Grabs)
            xcb_ungrab_key(FConn->Conn, Code, FConn->Root, Mods);
        if (Wait)
            Sync();
    }
    Hotkey.Grabs.clear();
}

bool TX11Hotkeys::RegisterHotKey(uint32_t Id, uint32_t Modifiers, uint32_t VirtualKey) {
    Modifiers &= ~ModNoRepeat;
    if (!Available() || (Modifiers & ~KnownModifiers))
        return false;
    for (const THotkey &Hk : FHotkeys)
        if (Hk.Id == Id && Hk.Modifiers == Modifiers &&
            VirtualKeyToKeysym(Hk.VirtualKey) == VirtualKeyToKeysym(VirtualKey) && !Hk.Grabs.empty())
            return true;
    THotkey Hotkey;
    Hotkey.Id = Id;
    Hotkey.Modifiers = Modifiers;
    Hotkey.VirtualKey = VirtualKey;
    if (!Grab(Hotkey))
        return false;
    FHotkeys.push_back(std::move(Hotkey));
    return true;
}

bool TX11Hotkeys::UnregisterHotKey(uint32_t Id) {
    bool Found = false;
    for (auto It = FHotkeys.begin(); It != FHotkeys.end();) {
        if (It->Id == Id) {
            Ungrab(*It, false);
            It = FHotkeys.erase(It);
            Found = true;
        } else {
            ++It;
        }
    }
    if (Found && FConn)
        Sync();
    return Found;
}

void TX11Hotkeys::UnregisterAll() {
    for (THotkey &Hk : FHotkeys)
        Ungrab(Hk, false);
    if (!FHotkeys.empty() && FConn)
        Sync();
    FHotkeys.clear();
}

bool TX11Hotkeys::IsRegistered(uint32_t Id) const {
    return std::any_of(FHotkeys.begin(), FHotkeys.end(), [Id](const THotkey &Hk) { return Hk.Id == Id; });
}

// A new keyboard layout moves keys and modifiers: every combination is grabbed again where its
// key now lies. One that another client took meanwhile stays registered but silent.
void TX11Hotkeys::RegrabAll() {
    for (THotkey &Hk : FHotkeys)
        Ungrab(Hk, false);
    LoadModifierMasks();
    for (THotkey &Hk : FHotkeys)
        Grab(Hk);
}

void TX11Hotkeys::ReadEvents() {
    HandleEvents(true);
}

void TX11Hotkeys::DrainQueued() {
    FDrainPending = false;
    HandleEvents(false);
}

void TX11Hotkeys::HandleEvents(bool ReadSocket) {
    if (!FConn)
        return;
    std::vector<uint32_t> Pressed;
    bool Remap = false;
    for (;;) {
        XcbPtr<xcb_generic_event_t> Event{ReadSocket ? xcb_poll_for_event(FConn->Conn)
                                                     : xcb_poll_for_queued_event(FConn->Conn)};
        if (!Event)
            break;
        const uint8_t Type = Event->response_type & 0x7f;
        if (Type == XCB_KEY_PRESS) {
            const auto *Key = reinterpret_cast<const xcb_key_press_event_t *>(Event.get());
            const uint16_t State = Key->state & ModifierBits & ~(FNumLockMask | XCB_MOD_MASK_LOCK);
            for (const THotkey &Hk : FHotkeys)
                if (Hk.Mask == State && Hk.Holds(Key->detail))
                    Pressed.push_back(Hk.Id);
        } else if (Type == XCB_MAPPING_NOTIFY) {
            auto *Mapping = reinterpret_cast<xcb_mapping_notify_event_t *>(Event.get());
            if (Mapping->request != XCB_MAPPING_POINTER) {
                xcb_refresh_keyboard_mapping(FConn->Syms, Mapping);
                Remap = true;
            }
        }
        // Key releases, errors of unchecked requests and the rest are of no interest.
    }
    if (xcb_connection_has_error(FConn->Conn)) {
        ConnectionLost();
        return;
    }
    if (Remap)
        RegrabAll();
    // A handler may open a dialog (events run on inside it) or even free this object.
    QPointer<TX11Hotkeys> Self(this);
    for (uint32_t Id : Pressed) {
        emit HotkeyPressed(Id);
        if (!Self)
            return;
    }
}

void TX11Hotkeys::ConnectionLost() {
    WriteLine("global hotkeys are off: the connection to X display \"" + FDisplayName.toLocal8Bit() + "\" was lost");
    FHotkeys.clear(); // the server released the grabs with the connection
    Close();
}
