#pragma once
// The global hotkeys component: a list of key combinations, each with a handler, registered with
// the system together (Activate) and released together (Deactivate). The keys reach the program
// whichever window has the focus; the handlers run on the component's thread (the main thread)
// with the component as sender, like menu clicks.

#include "catalogue/Marlo.Common.MyCollection.h"

#include <QChar>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

class TX11Hotkeys;

/// An event handler that is told who raised it.
using TShortCutEvent = std::function<void(QObject *Sender)>;

/// One key combination and its handler. Each item takes a process-wide identifier when it is made
/// (the first 100001), which the system reports back on a press; identifiers are never reused.
class TShortCutData : public TMyCollectionItem {
    Q_GADGET
    Q_PROPERTY(QChar ShortCut READ ShortCut WRITE SetShortCut)
    Q_PROPERTY(bool WinKey READ WinKey WRITE SetWinKey)
    Q_PROPERTY(bool AltKey READ AltKey WRITE SetAltKey)
    Q_PROPERTY(bool ShiftKey READ ShiftKey WRITE SetShiftKey)
    Q_PROPERTY(bool ControlKey READ ControlKey WRITE SetControlKey)
    Q_PROPERTY(TShortCutEvent OnShortCut READ OnShortCut WRITE SetOnShortCut)
    Q_PROPERTY(QString Name READ Name WRITE SetName)
public:
    TShortCutData();
    const QMetaObject *GadgetMetaObject() const override { return &staticMetaObject; }
    /// Copies key, modifiers, handler and name; the identifier stays this item's own.
    void Assign(const TMyCollectionItem &Source) override;

    QChar ShortCut() const { return FShortCut; }
    /// "a" ... "z" are stored as "A" ... "Z" (the key, whatever the case); anything else as given.
    void SetShortCut(QChar Value);
    bool WinKey() const { return FWinKey; }
    void SetWinKey(bool Value) { FWinKey = Value; }
    bool AltKey() const { return FAltKey; }
    void SetAltKey(bool Value) { FAltKey = Value; }
    bool ShiftKey() const { return FShiftKey; }
    void SetShiftKey(bool Value) { FShiftKey = Value; }
    bool ControlKey() const { return FControlKey; }
    void SetControlKey(bool Value) { FControlKey = Value; }
    TShortCutEvent OnShortCut() const { return FOnShortCut; }
    void SetOnShortCut(TShortCutEvent Value) { FOnShortCut = std::move(Value); }
    QString Name() const { return FName; }
    void SetName(const QString &Value) { FName = Value; }
    /// Name, or "Unnamed" when it is empty.
    QString GetDisplayName() const;

    /// The identifier used with the system.
    uint32_t Msg() const { return msg; }
    /// The modifier flags for the system: Alt 1, Ctrl 2, Shift 4, Windows key 8, added together.
    uint32_t Modifiers() const;

private:
    friend class TKvHotkey;
    QChar FShortCut;
    TShortCutEvent FOnShortCut;
    QString FName;
    bool FWinKey = false;
    bool FShiftKey = false;
    bool FControlKey = false;
    bool FAltKey = false;
    uint32_t msg = 0;
};

class TShortCutCollection : public TMyCollection {
    Q_OBJECT
public:
    explicit TShortCutCollection(QObject *parent = nullptr);
    /// Appends a new, empty combination.
    TShortCutData *Add();
    TShortCutData *Items(int Index) const { return static_cast<TShortCutData *>(Item(Index)); }
    /// Nothing sorts these lists; the order given is that of the identifiers (of creation).
    int CompareItems(const TMyCollectionItem *Item1, const TMyCollectionItem *Item2) const override;

protected:
    std::unique_ptr<TMyCollectionItem> NewItem() const override;
};

/// The non-visual hotkeys component.
class TKvHotkey : public QObject {
    Q_OBJECT
    Q_PROPERTY(TShortCutCollection *ShortCuts READ ShortCuts)
public:
    explicit TKvHotkey(QObject *AOwner = nullptr);
    /// Releases the combinations and frees the list.
    ~TKvHotkey() override;

    TShortCutCollection *ShortCuts() const { return FShortCuts; }
    /// Registers every combination of the list, in list order. One the system refuses (another
    /// program holds it, no X display) is skipped: it simply does nothing. The X connection is
    /// opened on the first call, so a component that is never activated touches no display.
    void Activate();
    /// Releases every combination of the list; others may take them from now on.
    void Deactivate();
    /// True when the combination of Item is held for this component now.
    bool Registered(const TShortCutData *Item) const;

private:
    /// A press of the combination with identifier Id: every item with that identifier and a
    /// handler, in list order, gets a call with this component as sender.
    void HotKeyPressed(uint32_t Id);

    TShortCutCollection *FShortCuts = nullptr;
    /// Our connection to the system's hotkeys (the hidden window of the Windows original).
    TX11Hotkeys *Handle = nullptr;
};

/// The handlers of the main window's seven combinations.
struct TMainFormShortCuts {
    TShortCutEvent ManageProxy; // Ctrl+Shift+M, EditProxyClick
    TShortCutEvent Switch;      // Ctrl+Shift+S, SwitchProxyClick
    TShortCutEvent DeleteProxy; // Ctrl+Shift+D, DeleteProxyClick
    TShortCutEvent EnableProxy; // Ctrl+Shift+E, EnableProxyClick
    TShortCutEvent LoadProxy;   // Ctrl+Shift+R, LoadProxyClick
    TShortCutEvent Preference;  // Ctrl+Shift+P, PreferencesClick
    TShortCutEvent Check;       // Ctrl+Shift+C, TestProxyClick
};

/// Appends the main window's seven combinations to Hotkey's list, in the documented order
/// ("ManageProxy" M, "Switch" S, "DeleteProxy" D, "enableProxy" E, "LoadProxy" R, "Preference" P,
/// "Check " C), all Ctrl+Shift.
void AddMainFormShortCuts(TKvHotkey &Hotkey, const TMainFormShortCuts &Handlers);
