#include "app/Marlo.ComCtrl.HotKey.h"

#include "platform/X11Hotkeys.h"

#include <QPointer>
#include <atomic>

namespace {
// Shared by every list of the process, so a press always names exactly one combination.
std::atomic<uint32_t> LastShortCutId{100000};
} // namespace

TShortCutData::TShortCutData() : msg(++LastShortCutId) {}

void TShortCutData::Assign(const TMyCollectionItem &Source) {
    const auto *Src = dynamic_cast<const TShortCutData *>(&Source);
    if (!Src) {
        TMyCollectionItem::Assign(Source); // raises the error for unrelated classes
        return;
    }
    FShortCut = Src->FShortCut;
    FWinKey = Src->FWinKey;
    FAltKey = Src->FAltKey;
    FShiftKey = Src->FShiftKey;
    FControlKey = Src->FControlKey;
    FOnShortCut = Src->FOnShortCut;
    FName = Src->FName;
}

void TShortCutData::SetShortCut(QChar Value) {
    const char16_t c = Value.unicode();
    FShortCut = (c >= u'a' && c <= u'z') ? QChar(char16_t(c - u'a' + u'A')) : Value;
}

QString TShortCutData::GetDisplayName() const {
    return FName.isEmpty() ? QStringLiteral("Unnamed") : FName;
}

uint32_t TShortCutData::Modifiers() const {
    return (FAltKey ? MOD_ALT : 0) | (FControlKey ? MOD_CONTROL : 0) | (FShiftKey ? MOD_SHIFT : 0) |
           (FWinKey ? MOD_WIN : 0);
}

TShortCutCollection::TShortCutCollection(QObject *parent) : TMyCollection(parent) {}

std::unique_ptr<TMyCollectionItem> TShortCutCollection::NewItem() const {
    return std::make_unique<TShortCutData>();
}

TShortCutData *TShortCutCollection::Add() {
    return static_cast<TShortCutData *>(AddItem());
}

int TShortCutCollection::CompareItems(const TMyCollectionItem *Item1, const TMyCollectionItem *Item2) const {
    const uint32_t a = static_cast<const TShortCutData *>(Item1)->Msg();
    const uint32_t b = static_cast<const TShortCutData *>(Item2)->Msg();
    return a < b ? -1 : (a > b ? 1 : 0);
}

TKvHotkey::TKvHotkey(QObject *AOwner) : QObject(AOwner), FShortCuts(new TShortCutCollection(this)) {}

TKvHotkey::~TKvHotkey() {
    // Handle (a child) would go with this object as well; releasing first keeps the list and the
    // grabs in step while the list still exists.
    delete Handle;
    Handle = nullptr;
}

void TKvHotkey::Activate() {
    if (!Handle) {
        Handle = new TX11Hotkeys(this);
        connect(Handle, &TX11Hotkeys::HotkeyPressed, this, &TKvHotkey::HotKeyPressed);
    }
    if (!Handle->Available())
        return;
    for (int i = 0; i < FShortCuts->Count(); ++i) {
        const TShortCutData *Item = FShortCuts->Items(i);
        if (Item->FShortCut.isNull())
            continue; // no key chosen
        Handle->RegisterHotKey(Item->msg, Item->Modifiers(), Item->FShortCut.unicode());
    }
}

void TKvHotkey::Deactivate() {
    if (!Handle)
        return;
    for (int i = 0; i < FShortCuts->Count(); ++i)
        Handle->UnregisterHotKey(FShortCuts->Items(i)->msg);
}

bool TKvHotkey::Registered(const TShortCutData *Item) const {
    return Handle && Item && Handle->IsRegistered(Item->msg);
}

void TKvHotkey::HotKeyPressed(uint32_t Id) {
    // A handler may change the list or free the component (a dialog's event loop runs inside
    // it): the position is checked against the list as it is now, and the walk ends with us.
    QPointer<TKvHotkey> Self(this);
    for (int i = 0; Self && i < FShortCuts->Count(); ++i) {
        TShortCutData *Item = FShortCuts->Items(i);
        if (Item->msg != Id || !Item->FOnShortCut)
            continue;
        const TShortCutEvent Handler = Item->FOnShortCut; // the item may go while it runs
        Handler(this);
    }
}

void AddMainFormShortCuts(TKvHotkey &Hotkey, const TMainFormShortCuts &Handlers) {
    const struct {
        const char *Name;
        char Key;
        const TShortCutEvent &Handler;
    } Table[] = {
        {"ManageProxy", 'M', Handlers.ManageProxy},
        {"Switch", 'S', Handlers.Switch},
        {"DeleteProxy", 'D', Handlers.DeleteProxy},
        {"enableProxy", 'E', Handlers.EnableProxy},
        {"LoadProxy", 'R', Handlers.LoadProxy},
        {"Preference", 'P', Handlers.Preference},
        {"Check ", 'C', Handlers.Check},
    };
    for (const auto &Row : Table) {
        TShortCutData *Item = Hotkey.ShortCuts()->Add();
        Item->SetName(QString::fromLatin1(Row.Name));
        Item->SetShortCut(QChar::fromLatin1(Row.Key));
        Item->SetControlKey(true);
        Item->SetShiftKey(true);
        Item->SetOnShortCut(Row.Handler);
    }
}
