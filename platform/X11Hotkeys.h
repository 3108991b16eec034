#pragma once
// System-wide key combinations on X11: the program's own connection to the X server grabs each
// combination on the root window, so the key press reaches us whichever window has the focus.
//
// The connection is our own (not the one of a QGuiApplication), watched by a QSocketNotifier, so
// the headless program, which runs on QCoreApplication, gets its hotkeys as well. Combinations are
// named like the Windows calls they stand in for: an identifier, the modifier flags MOD_ALT,
// MOD_CONTROL, MOD_SHIFT, MOD_WIN and a virtual-key code.
//
// X grabs match the modifier state exactly, and NumLock and CapsLock count as modifiers; each
// combination is therefore grabbed four times (plain, with NumLock, with CapsLock, with both) so
// it keeps working whatever lock is on. A combination that another client holds already is
// refused by the server (BadAccess); RegisterHotKey then answers false and the combination stays
// with its owner. Without an X display (no $DISPLAY, a Wayland session without Xwayland, a display
// that cannot be opened) there are no hotkeys and the process says so once on stderr.

#include <QObject>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class QSocketNotifier;

/// Modifier flags of a combination (the numbering of the Windows hotkey call).
inline constexpr uint32_t MOD_ALT = 0x1;
inline constexpr uint32_t MOD_CONTROL = 0x2;
inline constexpr uint32_t MOD_SHIFT = 0x4;
inline constexpr uint32_t MOD_WIN = 0x8;

/// The X keysym for a virtual-key code (letters and digits have the codes of their upper-case
/// characters; other printable Latin-1 characters stand for their own key); 0 when there is none.
uint32_t VirtualKeyToKeysym(uint32_t VirtualKey);

class TX11Hotkeys : public QObject {
    Q_OBJECT
public:
    /// Connects to Display (empty: $DISPLAY). When that fails the object works on without hotkeys:
    /// Available() is false and RegisterHotKey answers false.
    explicit TX11Hotkeys(QObject *Parent = nullptr, const QString &Display = QString());
    /// Releases every grab and closes the connection.
    ~TX11Hotkeys() override;
    TX11Hotkeys(const TX11Hotkeys &) = delete;
    TX11Hotkeys &operator=(const TX11Hotkeys &) = delete;

    /// True while the connection to the X server is usable.
    bool Available() const;
    /// The display this object is connected to (":0"), empty when none.
    QString DisplayName() const { return FDisplayName; }

    /// Grabs the combination Modifiers + VirtualKey and reports its presses as HotkeyPressed(Id).
    /// False (and nothing held) when there is no display, the key has no key code on this
    /// keyboard, the flags hold unknown bits, this object holds the combination already under
    /// another identifier, or the X server refuses the grab because another client holds it.
    /// Registering an identifier again with the same combination is a no-op that answers true.
    bool RegisterHotKey(uint32_t Id, uint32_t Modifiers, uint32_t VirtualKey);
    /// Releases the combinations of Id; false when Id holds none.
    bool UnregisterHotKey(uint32_t Id);
    void UnregisterAll();
    bool IsRegistered(uint32_t Id) const;

signals:
    /// A registered combination was pressed (on the thread that owns this object).
    void HotkeyPressed(uint32_t Id);

private:
    struct THotkey {
        uint32_t Id = 0;
        uint32_t Modifiers = 0;
        uint32_t VirtualKey = 0;
        uint16_t Mask = 0;                               // the X modifier mask without the locks
        std::vector<std::pair<uint8_t, uint16_t>> Grabs; // (key code, modifiers) held at the server
        bool Holds(uint8_t Code) const {
            return std::any_of(Grabs.begin(), Grabs.end(), [Code](const auto &G) { return G.first == Code; });
        }
    };

    void ReadEvents();
    void DrainQueued();
    void HandleEvents(bool ReadSocket);
    void LoadModifierMasks();
    uint16_t ModifierMask(uint32_t Modifiers) const;
    std::vector<uint16_t> LockVariants() const;
    bool Grab(THotkey &Hotkey);
    void Ungrab(THotkey &Hotkey, bool Wait = true);
    void Sync();
    void ScheduleDrain();
    void RegrabAll();
    void ConnectionLost();
    void Close();

    struct TConnection;
    std::unique_ptr<TConnection> FConn;
    QSocketNotifier *FNotifier = nullptr;
    QString FDisplayName;
    std::vector<THotkey> FHotkeys;
    uint16_t FAltMask = 0;
    uint16_t FWinMask = 0;
    uint16_t FNumLockMask = 0;
    bool FDrainPending = false;
};
