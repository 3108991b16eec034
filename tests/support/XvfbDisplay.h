#pragma once
// For the hotkey tests: a second X client that grabs keys the way another program would, and an
// event-loop wait. Header-only; users link xcb (relayvane_platform brings it).

#include "tests/support/TestSupport.h"
#include "tests/support/XvfbServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <poll.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace testsupport {

/// Runs the event loop until Done() holds or Limit passes (a failing test ends instead of hanging).
inline bool ProcessEventsUntil(const std::function<bool()> &Done,
                               std::chrono::milliseconds Limit = std::chrono::seconds(20)) {
    QElapsedTimer Clock;
    Clock.start();
    while (!Done()) {
        if (Clock.elapsed() > Limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

/// Another program on the display: grabs key combinations on the root window and sees the presses.
class TOtherXClient {
public:
    explicit TOtherXClient(const QString &Display) {
        FConn = xcb_connect(Display.toLocal8Bit().constData(), nullptr);
        if (!xcb_connection_has_error(FConn)) {
            FRoot = xcb_setup_roots_iterator(xcb_get_setup(FConn)).data->root;
            FSyms = xcb_key_symbols_alloc(FConn);
        }
    }
    ~TOtherXClient() {
        if (FSyms)
            xcb_key_symbols_free(FSyms);
        xcb_disconnect(FConn);
    }
    TOtherXClient(const TOtherXClient &) = delete;
    TOtherXClient &operator=(const TOtherXClient &) = delete;

    bool Connected() const { return FSyms != nullptr; }

    /// Grabs Keysym under the X modifier Mask, plain and with NumLock (Mod2) and CapsLock; true
    /// when the server granted every grab (false: someone else holds the combination).
    bool Grab(uint16_t Mask, uint32_t Keysym) {
        xcb_keycode_t *Codes = xcb_key_symbols_get_keycode(FSyms, Keysym);
        if (!Codes)
            return false;
        const xcb_keycode_t Code = Codes[0];
        std::free(Codes);
        bool All = true;
        for (int Lock : {0, int(XCB_MOD_MASK_2), int(XCB_MOD_MASK_LOCK), XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK}) {
            const xcb_void_cookie_t Cookie = xcb_grab_key_checked(FConn, 0, FRoot, uint16_t(Mask | Lock), Code,
                                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t *E = xcb_request_check(FConn, Cookie)) {
                std::free(E);
                All = false;
            }
        }
        return All;
    }

    /// Moves Keysym to a key code that had no symbols, as a new keyboard layout would; true when
    /// the server took the new mapping (every client then gets a MappingNotify).
    bool MoveKeysym(uint32_t Keysym) {
        const xcb_setup_t *Setup = xcb_get_setup(FConn);
        const int Count = Setup->max_keycode - Setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t *R = xcb_get_keyboard_mapping_reply(
            FConn, xcb_get_keyboard_mapping(FConn, Setup->min_keycode, uint8_t(Count)), nullptr);
        if (!R)
            return false;
        const int PerCode = R->keysyms_per_keycode;
        const xcb_keysym_t *Syms = xcb_get_keyboard_mapping_keysyms(R);
        int From = -1, To = -1;
        for (int i = 0; i < Count; ++i) {
            bool Empty = true;
            for (int c = 0; c < PerCode; ++c) {
                if (Syms[i * PerCode + c] == Keysym && From < 0)
                    From = i;
                Empty = Empty && Syms[i * PerCode + c] == 0;
            }
            if (Empty && To < 0 && i > 8)
                To = i;
        }
        bool Ok = From >= 0 && To >= 0;
        if (Ok) {
            std::vector<xcb_keysym_t> Row(Syms + From * PerCode, Syms + (From + 1) * PerCode);
            std::vector<xcb_keysym_t> None(static_cast<size_t>(PerCode), 0);
            for (auto [Code, Data] : {std::pair{To, Row.data()}, std::pair{From, None.data()}}) {
                const xcb_void_cookie_t Cookie = xcb_change_keyboard_mapping_checked(
                    FConn, 1, uint8_t(Setup->min_keycode + Code), uint8_t(PerCode), Data);
                if (xcb_generic_error_t *E = xcb_request_check(FConn, Cookie)) {
                    std::free(E);
                    Ok = false;
                }
            }
        }
        std::free(R);
        return Ok;
    }

    /// Waits (up to Limit) for a key press reported to this client; its key code, 0 when none.
    int WaitForKeyPress(std::chrono::milliseconds Limit = std::chrono::seconds(20)) {
        QElapsedTimer Clock;
        Clock.start();
        while (Clock.elapsed() < Limit.count()) {
            while (xcb_generic_event_t *E = xcb_poll_for_event(FConn)) {
                const int Type = E->response_type & 0x7f;
                const int Code = reinterpret_cast<xcb_key_press_event_t *>(E)->detail;
                std::free(E);
                if (Type == XCB_KEY_PRESS)
                    return Code;
            }
            if (xcb_connection_has_error(FConn))
                return 0;
            pollfd P{xcb_get_file_descriptor(FConn), POLLIN, 0};
            ::poll(&P, 1, 100);
        }
        return 0;
    }

    /// The current modifier and lock state of the keyboard (Shift, Lock, Control, Mod1 ... Mod5).
    uint16_t ModifierState() {
        xcb_query_pointer_reply_t *R = xcb_query_pointer_reply(FConn, xcb_query_pointer(FConn, FRoot), nullptr);
        const uint16_t Mask = R ? R->mask & 0xff : 0;
        std::free(R);
        return Mask;
    }

private:
    xcb_connection_t *FConn = nullptr;
    xcb_key_symbols_t *FSyms = nullptr;
    xcb_window_t FRoot = XCB_NONE;
};

} // namespace testsupport
