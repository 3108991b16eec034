#include "catalogue/Marlo.Common.ProxyList.h"
#include "platform/Prefetch.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <sys/mman.h>

// ---------------------------------------------------------------------------------------------
// Anonymity type texts

namespace {

std::atomic<const IProxyTypeTexts *> gProxyTypeTexts{nullptr};

} // namespace

void SetProxyTypeTexts(const IProxyTypeTexts *Texts) {
    gProxyTypeTexts.store(Texts, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------
// Large blocks for many small things: 2 MB aligned slabs that the kernel is asked to back with
// huge pages (one fault per 2 MB instead of per 4 KB, which on some virtual machines is most of
// the cost of a big parse).

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define RELAYVANE_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RELAYVANE_PLAIN_HEAP 1
#endif
#endif

constexpr size_t kHugePage = size_t(2) << 20;

// Zeroed memory of Bytes, aligned to 2 MB when that large; FreeLarge gives it back.
void *AllocateLarge(size_t Bytes) {
    if (Bytes < kHugePage)
        return std::calloc(1, Bytes);
    // Over-map, then trim to an aligned window.
    const size_t span = Bytes + kHugePage;
    void *raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const uintptr_t base = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (base + kHugePage - 1) & ~(kHugePage - 1);
    const size_t length = (Bytes + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > base)
        ::munmap(raw, aligned - base);
    if (base + span > aligned + length)
        ::munmap(reinterpret_cast<void *>(aligned + length), base + span - (aligned + length));
    ::madvise(reinterpret_cast<void *>(aligned), length, MADV_HUGEPAGE); // advice only
    return reinterpret_cast<void *>(aligned);
}

void FreeLarge(void *P, size_t Bytes) {
    if (!P)
        return;
    if (Bytes < kHugePage)
        std::free(P);
    else
        ::munmap(P, (Bytes + kHugePage - 1) & ~(kHugePage - 1));
}

// Fixed-size cells in 2 MB slabs. A slab keeps its own free list and live count; a slab that
// empties goes back to the system unless it is the last one. Records may be made and freed on any
// thread, so a short spin lock guards the pool.
class TCellPool {
public:
    explicit TCellPool(size_t CellSize) : FCell((CellSize + 15) & ~size_t(15)) {}

    void *Allocate() {
        TLock lock(FLock);
        TSlab *s = FPartial;
        if (!s)
            s = NewSlab();
        void *cell;
        if (s->Free) {
            cell = s->Free;
            s->Free = *static_cast<void **>(cell);
        } else {
            cell = reinterpret_cast<char *>(s) + FirstCell() + size_t(s->Bumped) * FCell;
            ++s->Bumped;
        }
        ++s->Live;
        if (!s->Free && s->Bumped == Cells())
            Unlink(s);
        return cell;
    }

    void Free(void *P) {
        TLock lock(FLock);
        auto *s = reinterpret_cast<TSlab *>(reinterpret_cast<uintptr_t>(P) & ~(kHugePage - 1));
        *static_cast<void **>(P) = s->Free;
        s->Free = P;
        --s->Live;
        if (!s->InPartial)
            Link(s);
        if (s->Live == 0 && FSlabs > 1) {
            Unlink(s);
            --FSlabs;
            FreeLarge(s, kHugePage);
        }
    }

private:
    struct TSlab {
        TSlab *Prev = nullptr, *Next = nullptr;
        void *Free = nullptr;
        uint32_t Live = 0, Bumped = 0;
        bool InPartial = false;
    };
    struct TLock {
        explicit TLock(std::atomic_flag &F) : Flag(F) {
            while (Flag.test_and_set(std::memory_order_acquire))
                while (Flag.test(std::memory_order_relaxed))
                    __builtin_ia32_pause();
        }
        ~TLock() { Flag.clear(std::memory_order_release); }
        std::atomic_flag &Flag;
    };

    size_t FirstCell() const { return (sizeof(TSlab) + 15) & ~size_t(15); }
    uint32_t Cells() const { return static_cast<uint32_t>((kHugePage - FirstCell()) / FCell); }

    TSlab *NewSlab() {
        auto *s = new (AllocateLarge(kHugePage)) TSlab;
        ++FSlabs;
        Link(s);
        return s;
    }
    void Link(TSlab *S) {
        S->Prev = nullptr;
        S->Next = FPartial;
        if (FPartial)
            FPartial->Prev = S;
        FPartial = S;
        S->InPartial = true;
    }
    void Unlink(TSlab *S) {
        if (!S->InPartial)
            return;
        (S->Prev ? S->Prev->Next : FPartial) = S->Next;
        if (S->Next)
            S->Next->Prev = S->Prev;
        S->Prev = S->Next = nullptr;
        S->InPartial = false;
    }

    const size_t FCell;
    std::atomic_flag FLock = ATOMIC_FLAG_INIT;
    TSlab *FPartial = nullptr;
    size_t FSlabs = 0;
};

[[maybe_unused]] TCellPool &RecordPool() {
    // Never destroyed: records of static collections may be freed during exit.
    static TCellPool *pool = new TCellPool(sizeof(TProxtData));
    return *pool;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TProxtData

TProxtData::TProxtData() = default; // Speed and Ping start at -1 (member initialisers)

void *TProxtData::operator new(std::size_t Size) {
#ifndef RELAYVANE_PLAIN_HEAP
    if (Size == sizeof(TProxtData)) // descendants are bigger and use the heap
        return RecordPool().Allocate();
#endif
    return ::operator new(Size);
}

void TProxtData::operator delete(void *P, std::size_t Size) noexcept {
    Q_UNUSED(Size);
    if (!P)
        return;
#ifndef RELAYVANE_PLAIN_HEAP
    if (Size == sizeof(TProxtData)) {
        RecordPool().Free(P);
        return;
    }
#endif
    ::operator delete(P); // (clang enables sized deallocation only on request)
}

void TProxtData::Assign(const TMyCollectionItem &Source) {
    const auto *src = dynamic_cast<const TProxtData *>(&Source);
    if (!src) {
        TMyCollectionItem::Assign(Source); // raises the error for unrelated classes
        return;
    }
    SetCountry(src->FCountry);
    SetCountryCode(src->FCountryCode);
    SetRank(src->FRank);
    SetIP(src->FIP);
    SetPort(src->FPort);
    SetAlive(src->FAlive);
    SetTranparent(src->FTranparent);
    SetAnonymous(src->FAnonymous);
    SetElite(src->FElite);
    SetBotnet(src->FBotnet);
    SetHttpGet(src->FHttpGet);
    SetHttpPost(src->FHttpPost);
    SetHttpsGet(src->FHttpsGet);
    SetHttpsPost(src->FHttpsPost);
    SetSpeed(src->FSpeed);
    SetPing(src->FPing);
    SetTested(src->FTested);
}

void TProxtData::SetIP(const QString &Value) {
    if (!Collection()) {
        FIP = Value;
        return;
    }
    Changing();
    FIP = Value;
    Changed();
}

void TProxtData::SetPort(int Value) {
    if (!Collection()) {
        FPort = Value;
        return;
    }
    Changing();
    FPort = Value;
    Changed();
}

void TProxtData::SetTested(bool Value) {
    FTested = Value;
    if (Value)
        return;
    FAlive = tsUnknown;
    FTranparent = tsUnknown;
    FAnonymous = tsUnknown;
    FElite = tsUnknown;
    FBotnet = tsUnknown;
    FHttpGet = tsUnknown;
    FHttpPost = tsUnknown;
    FHttpsGet = tsUnknown;
    FHttpsPost = tsUnknown;
    FSpeed = -1;
    FPing = -1;
}

bool TProxtData::DataCompleat() const {
    return FAlive != tsUnknown && FTranparent != tsUnknown && FAnonymous != tsUnknown && FElite != tsUnknown &&
           FBotnet != tsUnknown && FHttpGet != tsUnknown && FHttpPost != tsUnknown && FHttpsGet != tsUnknown;
}

QString TProxtData::AsString() const {
    if (FIP.isEmpty())
        return QString();
    return FIP + u':' + QString::number(FPort);
}

QString TProxtData::PingAsString() const {
    if (!(FPing > -1))
        return QStringLiteral("-");
    return FloatToStr(FPing);
}

namespace {

// "#,##0.00" with "," between thousands: Ticks are hundredths, already rounded.
QString FormatHundredths(long long Ticks) {
    const bool neg = Ticks < 0;
    unsigned long long t = neg ? 0ULL - static_cast<unsigned long long>(Ticks) : static_cast<unsigned long long>(Ticks);
    const unsigned long long frac = t % 100;
    QString whole = QString::number(t / 100);
    for (qsizetype at = whole.size() - 3; at > 0; at -= 3)
        whole.insert(at, u',');
    QString s;
    if (neg)
        s += u'-';
    s += whole;
    s += u'.';
    s += QChar(u'0' + static_cast<char16_t>(frac / 10));
    s += QChar(u'0' + static_cast<char16_t>(frac % 10));
    return s;
}

} // namespace

QString TProxtData::SpeedAsString() const {
    if (!(FSpeed > -1))
        return QStringLiteral("-");
    const double kb = FSpeed / 1024.0;
    if (!std::isfinite(kb) || std::fabs(kb) >= 1e13) // beyond what ten-thousandths in 64 bits hold
        return QString::number(kb, 'f', 2);
    // To the nearest 0.0001 first, then two decimals; both halves away from zero, on the decimal
    // value, so 1.005 kB/s shows as 1.01 like the decimal formatting of the original did.
    const long long tenThousandths = std::llround(kb * 10000.0);
    const long long mag = std::llabs(tenThousandths);
    long long hundredths = (mag + 50) / 100;
    if (tenThousandths < 0)
        hundredths = -hundredths;
    return FormatHundredths(hundredths);
}

QString TProxtData::TypeAsString() const {
    const IProxyTypeTexts *texts = gProxyTypeTexts.load(std::memory_order_acquire);
    QString s;
    if (FTranparent == tsTrue)
        s = texts ? texts->sTransparent() : QStringLiteral("Transparent");
    if (FAnonymous == tsTrue)
        s = texts ? texts->sAnonymous() : QStringLiteral("Anonymous");
    if (FElite == tsTrue)
        s = texts ? texts->sElite() : QStringLiteral("Elite");
    if (s.isEmpty())
        s = QStringLiteral("-");
    return s;
}

QString TProxtData::TypeAsStringEng() const {
    if (FElite == tsTrue)
        return QStringLiteral("elite");
    if (FAnonymous == tsTrue)
        return QStringLiteral("anonymous");
    if (FTranparent == tsTrue)
        return QStringLiteral("transparent");
    return QStringLiteral("-");
}

void TProxtData::MakeRank(double MaxSpeedPoints, double MaxPingPoints, double SpeedPerPoint, double PingPerPoint,
                          double MinSpeed, double MinPing) {
    Q_UNUSED(MaxSpeedPoints); // accepted and not used: speed points are not capped
    // A per-point value of 0 would divide by zero; that term is then worth nothing.
    double speedPoints = 0;
    if (FSpeed > 0 && SpeedPerPoint != 0)
        speedPoints = (FSpeed - MinSpeed) / SpeedPerPoint;
    double pingPoints = 0;
    if (FPing > 0 && PingPerPoint != 0)
        pingPoints = MaxPingPoints - (FPing - MinPing) / PingPerPoint;
    const double postPoints = FHttpPost == tsTrue ? 10 : 0;
    const double httpsPostPoints = FHttpsPost == tsTrue ? 10 : 0;
    const double sum = speedPoints + pingPoints + postPoints + httpsPostPoints;
    long long points = 0;
    if (std::isfinite(sum)) {
        // Truncation toward zero; sums beyond the 64-bit range are clamped rather than undefined.
        constexpr double kLimit = 9.2e18;
        points = static_cast<long long>(std::clamp(sum, -kLimit, kLimit));
    }
    points = points / 5 * 5;
    FRank = static_cast<double>(points) / 20;
}

// ---------------------------------------------------------------------------------------------
// The address index: an open-addressing set of record pointers keyed by (address text, port).
// It holds the records themselves, so it survives moves and sorts, and a duplicate key (possible
// with NoDuplicates off, or through Add) is simply a second entry.

namespace {

template <typename C> inline uint64_t KeyHash(const C *P, qsizetype N, int Port) {
    uint64_t h = 0xcbf29ce484222325ULL ^ (static_cast<uint64_t>(static_cast<uint32_t>(Port)) * 0x9E3779B97F4A7C15ULL);
    for (qsizetype i = 0; i < N; ++i) {
        h ^= static_cast<uint16_t>(P[i]);
        h *= 0x100000001b3ULL;
    }
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ULL;
    h ^= h >> 32;
    return h;
}

template <typename C> inline bool SameText(const QString &S, const C *P, qsizetype N) {
    if (S.size() != N)
        return false;
    const char16_t *s = reinterpret_cast<const char16_t *>(S.utf16());
    for (qsizetype i = 0; i < N; ++i)
        if (s[i] != static_cast<char16_t>(P[i]))
            return false;
    return true;
}

} // namespace

struct TProxyCollection::TIndex {
    struct TSlot {
        TProxtData *Item = nullptr;
        uint32_t Hash = 0;
    };
    TSlot *Slots = nullptr; // Capacity slots, a power of two (or none)
    size_t Capacity = 0;
    size_t Used = 0;
    size_t Mask = 0;

    TIndex() = default;
    TIndex(const TIndex &) = delete;
    TIndex &operator=(const TIndex &) = delete;
    ~TIndex() { FreeLarge(Slots, Capacity * sizeof(TSlot)); }

    static uint32_t HashOf(const TProxtData *Item) {
        return static_cast<uint32_t>(
            KeyHash(reinterpret_cast<const char16_t *>(Item->FIP.utf16()), Item->FIP.size(), Item->FPort));
    }

    void Reserve(size_t Count) {
        size_t cap = 16;
        while (cap < Count * 2)
            cap <<= 1;
        if (cap > Capacity)
            Rehash(cap);
    }

    void Rehash(size_t NewCapacity) {
        TSlot *old = Slots;
        const size_t oldCapacity = Capacity;
        Slots = static_cast<TSlot *>(AllocateLarge(NewCapacity * sizeof(TSlot))); // zeroed: all empty
        Capacity = NewCapacity;
        Mask = NewCapacity - 1;
        for (size_t i = 0; i < oldCapacity; ++i)
            if (old[i].Item)
                Place(old[i]);
        FreeLarge(old, oldCapacity * sizeof(TSlot));
    }

    void Place(TSlot S) {
        size_t i = S.Hash & Mask;
        while (Slots[i].Item)
            i = (i + 1) & Mask;
        Slots[i] = S;
    }

    void Insert(TProxtData *Item) { Insert(Item, HashOf(Item)); }

    void Insert(TProxtData *Item, uint32_t Hash) {
        if ((Used + 1) * 2 > Capacity)
            Rehash(Capacity ? Capacity * 2 : 16);
        Place(TSlot{Item, Hash});
        ++Used;
    }

    // Backward-shift deletion keeps every probe chain without holes.
    void Remove(TProxtData *Item) {
        if (!Capacity)
            return;
        size_t i = HashOf(Item) & Mask;
        while (Slots[i].Item != Item) {
            if (!Slots[i].Item)
                return; // not indexed: nothing to do
            i = (i + 1) & Mask;
        }
        size_t j = i;
        for (;;) {
            j = (j + 1) & Mask;
            if (!Slots[j].Item)
                break;
            const size_t k = Slots[j].Hash & Mask;
            // The entry at j may move to i unless its home k lies cyclically in (i, j].
            const bool stays = (i <= j) ? (i < k && k <= j) : (i < k || k <= j);
            if (!stays) {
                Slots[i] = Slots[j];
                i = j;
            }
        }
        Slots[i] = TSlot{};
        --Used;
    }

    template <typename C> bool Contains(const C *P, qsizetype N, int Port, uint32_t Hash) const {
        if (!Capacity)
            return false;
        for (size_t i = Hash & Mask; Slots[i].Item; i = (i + 1) & Mask) {
            const TSlot &s = Slots[i];
            if (s.Hash == Hash && s.Item->FPort == Port && SameText(s.Item->FIP, P, N))
                return true;
        }
        return false;
    }

    void Prefetch(uint32_t Hash) const {
        if (Capacity)
            platform::PrefetchRead(&Slots[Hash & Mask]);
    }

    void Clear() {
        std::fill(Slots, Slots + Capacity, TSlot{});
        Used = 0;
    }
};

// ---------------------------------------------------------------------------------------------
// TProxyCollection

TProxyCollection::TProxyCollection(QObject *parent) : TMyCollection(parent) {}

TProxyCollection::~TProxyCollection() {
    // The loader writes into CountryDB: it must be over before the database goes.
    if (CountryDBThread)
        CountryDBThread->wait();
    CountryDBThread.reset();
    CountryDB.reset();
    FIndex.reset();
}

std::unique_ptr<TMyCollectionItem> TProxyCollection::NewItem() const {
    return std::make_unique<TProxtData>();
}

void TProxyCollection::SetNoDuplicates(bool Value) {
    FNoDuplicates = Value;
    if (!Value) {
        FIndex.reset();
        return;
    }
    if (FIndex)
        return;
    auto index = std::make_unique<TIndex>();
    index->Reserve(static_cast<size_t>(Count()));
    for (int i = 0; i < Count(); ++i)
        index->Insert(Items(i));
    FIndex = std::move(index);
}

void TProxyCollection::ItemAdded(TMyCollectionItem *Item) {
    if (FIndex)
        FIndex->Insert(static_cast<TProxtData *>(Item));
}

void TProxyCollection::ItemRemoving(TMyCollectionItem *Item) {
    if (FIndex)
        FIndex->Remove(static_cast<TProxtData *>(Item));
}

void TProxyCollection::ItemsCleared() {
    if (FIndex)
        FIndex->Clear();
}

void TProxyCollection::ItemChanging(TMyCollectionItem *Item) {
    ItemRemoving(Item);
}

void TProxyCollection::ItemChanged(TMyCollectionItem *Item) {
    ItemAdded(Item);
}

TProxtData *TProxyCollection::Add() {
    return static_cast<TProxtData *>(AddItem());
}

TProxtData *TProxyCollection::Add(const QString &Country, const QString &Code, double Rank, const QString &IP,
                                  int Port) {
    // The values go in before the record does, so the index sees its final key once.
    auto item = std::make_unique<TProxtData>();
    item->FCountry = Country;
    item->FCountryCode = Code;
    item->FRank = Rank;
    item->FIP = IP;
    item->FPort = Port;
    return static_cast<TProxtData *>(InsertOwnedItem(Count(), std::move(item)));
}

TProxtData *TProxyCollection::Insert(int Index) {
    return static_cast<TProxtData *>(InsertItem(Index));
}

void TProxyCollection::Clear() {
    TMyCollection::Clear();
}

void TProxyCollection::Delete(TMyCollectionItem *Item) {
    TMyCollection::Delete(Item);
}

void TProxyCollection::Assign(const TMyCollection &Source) {
    if (&Source == this)
        return;
    // Copy without the per-record index traffic, then index the result once.
    const bool indexed = FIndex != nullptr;
    FIndex.reset();
    try {
        TMyCollection::Assign(Source);
    } catch (...) {
        if (indexed) {
            FNoDuplicates = false;
            SetNoDuplicates(true);
        }
        throw;
    }
    if (indexed) {
        FNoDuplicates = false;
        SetNoDuplicates(true);
    }
}

void TProxyCollection::Sort(TSortType SortType) {
    FSortType = SortType;
    TMyCollection::Sort();
}

int TProxyCollection::CompareItems(const TMyCollectionItem *Item1, const TMyCollectionItem *Item2) const {
    const auto *a = static_cast<const TProxtData *>(Item1);
    const auto *b = static_cast<const TProxtData *>(Item2);
    switch (FSortType) {
    case stCountry: {
        // Code unit by code unit, case-sensitive.
        const int c = QStringView(a->FCountry).compare(QStringView(b->FCountry), Qt::CaseSensitive);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case stPort:
        return a->FPort < b->FPort ? -1 : (a->FPort > b->FPort ? 1 : 0);
    case stRating:
        return a->FRank > b->FRank ? -1 : (a->FRank < b->FRank ? 1 : 0);
    }
    return 0;
}

bool TProxyCollection::ProxyExists(const QString &IP, int Port) const {
    if (!FNoDuplicates || !FIndex)
        return false;
    const auto *p = reinterpret_cast<const char16_t *>(IP.utf16());
    return FIndex->Contains(p, IP.size(), Port, static_cast<uint32_t>(KeyHash(p, IP.size(), Port)));
}

TCountryDatabase *TProxyCollection::CountryDatabase() {
    if (!CountryDB) {
        CountryDB = std::make_unique<TCountryDatabase>();
        // The executable's folder with its separator, as the owner of the original passed it.
        const QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() + u'/' : QString();
        CountryDBThread = FLoader ? std::make_unique<TCountryDatabaseThread>(CountryDB.get(), dir, FLoader)
                                  : std::make_unique<TCountryDatabaseThread>(CountryDB.get(), dir);
    }
    // A database that its loader may still be writing is never handed out: when the application
    // quits first, the caller does without countries.
    if (CountryDBThread && !CountryDBThread->Loaded() && !CountryDBThread->WaitLoaded())
        return nullptr;
    return CountryDB.get();
}

void TProxyCollection::SetCountryDatabase(std::unique_ptr<TCountryDatabase> Database) {
    if (CountryDBThread)
        CountryDBThread->wait();
    CountryDBThread.reset();
    CountryDB = std::move(Database);
}

// ---------------------------------------------------------------------------------------------
// Parsing: into a new list that replaces the old one only when the whole text was read.

namespace {

// The address texts of a parse, written one after another into shared blocks of characters: each
// address is an ordinary QString that refers to its piece of a block (and keeps the block alive),
// so a list of a million addresses costs a few hundred allocations instead of a million. Each
// piece ends with a 0 like every QString's text. Editing such a string copies it first while the
// block is shared, as for any shared QString; the last string of a block owns it outright.
class TAddressBlocks {
public:
    TAddressBlocks() = default;
    TAddressBlocks(const TAddressBlocks &) = delete;
    TAddressBlocks &operator=(const TAddressBlocks &) = delete;

    // P[0, N) holds only ASCII characters (digits and dots).
    template <typename C> QString Make(const C *P, qsizetype N) {
        if (FFree < N + 1) {
            const qsizetype chars = std::max(kBlockChars, N + 1);
            FBlock = QString(chars, Qt::Uninitialized);
            FNext = reinterpret_cast<char16_t *>(FBlock.data());
            FFree = chars;
        }
        char16_t *d = FNext;
        for (qsizetype i = 0; i < N; ++i)
            d[i] = static_cast<char16_t>(P[i]);
        d[N] = 0;
        FNext += N + 1;
        FFree -= N + 1;
        QString::DataPointer &block = FBlock.data_ptr();
        block.d_ptr()->ref();
        return QString(QString::DataPointer(block.d_ptr(), d, N));
    }

private:
    static constexpr qsizetype kBlockChars = 16 * 1024; // about 1,000 addresses per block
    QString FBlock;
    char16_t *FNext = nullptr;
    qsizetype FFree = 0;
};

} // namespace

struct TProxyCollection::TParse {
    std::vector<std::unique_ptr<TMyCollectionItem>> Items;
    std::unique_ptr<TIndex> Index; // the new list's index, when NoDuplicates
    QStringList Fields;            // reused by every split
    TAddressBlocks Addresses;      // the text of the plainly written addresses

    // The values that the active proxy rule carries over: taken before anything else happens
    // (ParseText may process events while it waits for the country database).
    struct TActive {
        bool Given = false;
        QString Country, Code, IP;
        double Rank = 0;
        int Port = 0;
    };
    static TActive Snapshot(const TProxtData *ActiveProxy) {
        TActive a;
        if (ActiveProxy)
            a = TActive{true,
                        ActiveProxy->FCountry,
                        ActiveProxy->FCountryCode,
                        ActiveProxy->FIP,
                        ActiveProxy->FRank,
                        ActiveProxy->FPort};
        return a;
    }

    TParse(bool NoDuplicates, const TActive &Active, size_t Expected) {
        Items.reserve(Expected + 1);
        if (NoDuplicates) {
            Index = std::make_unique<TIndex>();
            Index->Reserve(Expected + 1);
        }
        // The active proxy rule: only its address, country and rank travel; the record it came
        // from may be one of the list being replaced.
        if (Active.Given)
            Append(Active.Country, Active.Code, Active.Rank, Active.IP, Active.Port);
    }

    template <typename C> bool Exists(const C *P, qsizetype N, int Port, uint32_t &Hash) const {
        if (!Index)
            return false;
        Hash = static_cast<uint32_t>(KeyHash(P, N, Port));
        return Index->Contains(P, N, Port, Hash);
    }

    bool Exists(const QString &IP, int Port) const {
        uint32_t hash = 0;
        return Exists(reinterpret_cast<const char16_t *>(IP.utf16()), IP.size(), Port, hash);
    }

    void Append(const QString &Country, const QString &Code, double Rank, const QString &IP, int Port) {
        auto item = std::make_unique<TProxtData>();
        item->FCountry = Country;
        item->FCountryCode = Code;
        item->FRank = Rank;
        item->FIP = IP;
        item->FPort = Port;
        if (Index)
            Index->Insert(item.get());
        Items.push_back(std::move(item));
    }

    void Append(const TCountryInfo *Country, QString &&IP, int Port, uint32_t Hash) {
        auto item = std::make_unique<TProxtData>();
        if (Country) {
            item->FCountry = Country->name; // shared with the database: no copy of the text
            item->FCountryCode = Country->code;
        }
        item->FIP = std::move(IP);
        item->FPort = Port;
        if (Index)
            Index->Insert(item.get(), Hash);
        Items.push_back(std::move(item));
    }
};

void TProxyCollection::Commit(TParse &Parse) {
    ReplaceItems(std::move(Parse.Items));
    FIndex = std::move(Parse.Index);
    // NoDuplicates can only have changed if an event handler ran during the database wait.
    if (!FNoDuplicates)
        FIndex.reset();
    else if (!FIndex) {
        FNoDuplicates = false;
        SetNoDuplicates(true);
    }
}

namespace {

// A piece of list text for an error message: one line, control characters spelled out, cut short.
QString Printable(QStringView Text) {
    QString s;
    for (const QChar c : Text.left(120)) {
        const char16_t u = c.unicode();
        if (u == u'\r')
            s += QLatin1String("\\r");
        else if (u == u'\n')
            s += QLatin1String("\\n");
        else if (u == u'\t')
            s += QLatin1String("\\t");
        else if (u < 32 || u == 127)
            s += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            s += c;
    }
    if (Text.size() > 120)
        s += QStringLiteral("...");
    return s;
}

// Converts with the platform's integer rules; the error names the entry it came from.
int PortOf(const QString &Field, const QString &Where) {
    int32_t v = 0;
    if (TryStrToInt(Field, v))
        return v;
    throw EConvertError(QStringLiteral("%1: '%2' is not a valid integer value").arg(Where, Field));
}

inline bool IsDigit(char16_t C) {
    return C >= u'0' && C <= u'9';
}

// One match of \d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}[^\d]+\d{2,5}: [Start, AddrEnd) the address,
// [AddrEnd, PortStart) the separator, [PortStart, End) the port.
struct TMatch {
    qsizetype Start, AddrEnd, PortStart, End;
    uint32_t Key; // the address's lookup key, low 8 bits of each part
    int Port;
};

// The regular expression, done by hand. For a start position the match is fully determined: each
// \d{1,3} before a "." must take its whole digit run (a shorter take leaves a digit before the
// "."), the fourth must take its whole run too (a digit cannot begin [^\d]+), [^\d]+ must take its
// whole non-digit run (\d must follow), and \d{2,5} takes up to five digits. So a start works
// exactly when it lies within the last three digits of a run that is followed by ".", and the rest
// from that "." is the same for every such start: the leftmost start is max(run start, "." - 3).
template <typename C> bool FindMatch(const C *P, qsizetype N, qsizetype From, TMatch &M) {
    qsizetype i = From;
    for (;;) {
        while (i < N && !IsDigit(P[i]))
            ++i;
        if (i >= N)
            return false;
        const qsizetype runStart = i;
        while (i < N && IsDigit(P[i]))
            ++i;
        const qsizetype dot = i;
        if (dot >= N || P[dot] != u'.')
            continue;
        // The first part's value counts only its last three digits (the match starts there).
        const qsizetype start = std::max(runStart, dot - 3);
        uint32_t key = 0;
        for (qsizetype k = start; k < dot; ++k)
            key = key * 10 + (P[k] - u'0');
        key &= 0xFF;
        // Parts two to four.
        qsizetype q = dot + 1;
        bool ok = true;
        for (int part = 2; part <= 4; ++part) {
            const qsizetype s = q;
            uint32_t v = 0;
            while (q < N && IsDigit(P[q]) && q - s < 4)
                v = v * 10 + (P[q++] - u'0');
            const qsizetype len = q - s;
            if (len < 1 || len > 3) {
                ok = false;
                break;
            }
            if (part < 4) {
                if (q >= N || P[q] != u'.') {
                    ok = false;
                    break;
                }
                ++q;
            } else if (q >= N) { // [^\d]+ needs one more character (a digit was ruled out)
                ok = false;
                break;
            }
            key = key << 8 | (v & 0xFF);
        }
        if (!ok) {
            i = dot; // the next candidates lie in the digit runs after this "."
            continue;
        }
        const qsizetype addrEnd = q;
        while (q < N && !IsDigit(P[q]))
            ++q;
        const qsizetype portStart = q;
        int port = 0;
        while (q < N && IsDigit(P[q]) && q - portStart < 5)
            port = port * 10 + (P[q++] - u'0');
        if (q - portStart < 2) {
            i = dot;
            continue;
        }
        M = TMatch{start, addrEnd, portStart, q, key, port};
        return true;
    }
}

// True when the separator, after the "@" and space rules, leaves exactly the fields address and
// port: only blanks (codes 1 to 32), ":" and "@", and at most one ":" once the rules have run.
template <typename C> bool PlainSeparator(const C *P, qsizetype From, qsizetype To) {
    int colons = 0, spaces = 0, pairs = 0, run = 0;
    for (qsizetype i = From; i < To; ++i) {
        const char16_t c = P[i];
        if (c == u' ') {
            ++spaces;
            ++run;
            continue;
        }
        pairs += run / 2;
        run = 0;
        if (c == u':' || c == u'@')
            ++colons;
        else if (c < 1 || c > 32)
            return false;
    }
    pairs += run / 2;
    const int fieldsBreaks = colons > 0 ? colons : (pairs > 0 ? pairs : spaces);
    return fieldsBreaks <= 1;
}

enum class TTextKind { Latin1, Utf8, Utf16 };

template <typename C> QString Decode(const C *P, qsizetype From, qsizetype To, TTextKind Kind) {
    if constexpr (sizeof(C) == 2) {
        Q_UNUSED(Kind);
        return QString(reinterpret_cast<const QChar *>(P + From), To - From);
    } else {
        const char *s = reinterpret_cast<const char *>(P + From);
        return Kind == TTextKind::Utf8 ? QString::fromUtf8(s, To - From) : QString::fromLatin1(s, To - From);
    }
}

} // namespace

namespace {

// The free format over decoded text (C = uint8_t for single-byte and UTF-8 text: every character
// that the expression and the field rules look at is ASCII, and a UTF-8 sequence never holds an
// ASCII byte, so matches fall on the same characters as in the decoded text).
template <typename C, typename TParseT, typename TAppendNew>
void ScanFree(const C *P, qsizetype N, TTextKind Kind, TParseT &Parse, const TCountryDatabase *Db,
              TAppendNew &&AppendNew) {
    // Plain matches wait in a small batch whose index slots are fetched ahead: with a large list
    // the duplicate check is a cache miss each, and this lets the misses overlap. The batch is
    // worked off in text order before anything else happens, so the result is the same.
    struct TPending {
        qsizetype Start, AddrEnd;
        uint32_t Key, Hash;
        int Port;
    };
    constexpr int kBatch = 16;
    TPending batch[kBatch];
    int pending = 0;
    auto flush = [&] {
        for (int i = 0; i < pending; ++i) {
            const TPending &b = batch[i];
            if (Parse.Index->Contains(P + b.Start, b.AddrEnd - b.Start, b.Port, b.Hash))
                continue;
            AppendNew(Db ? Db->FindCountryByKey(b.Key) : nullptr, Parse.Addresses.Make(P + b.Start, b.AddrEnd - b.Start), b.Port, b.Hash);
        }
        pending = 0;
    };

    TMatch m{};
    qsizetype from = 0;
    QString work;
    while (FindMatch(P, N, from, m)) {
        from = m.End;
        if (PlainSeparator(P, m.AddrEnd, m.PortStart)) {
            // The common case: the fields are exactly the address and the port digits.
            if (!Parse.Index) {
                AppendNew(Db ? Db->FindCountryByKey(m.Key) : nullptr, Parse.Addresses.Make(P + m.Start, m.AddrEnd - m.Start), m.Port, 0);
                continue;
            }
            const uint32_t hash = static_cast<uint32_t>(KeyHash(P + m.Start, m.AddrEnd - m.Start, m.Port));
            Parse.Index->Prefetch(hash);
            if (Db)
                Db->Prefetch(m.Key);
            batch[pending++] = TPending{m.Start, m.AddrEnd, m.Key, hash, m.Port};
            if (pending == kBatch)
                flush();
            continue;
        }
        if (pending)
            flush();
        // Everything else goes through the text steps literally.
        work = Decode(P, m.Start, m.End, Kind);
        const QString original = work;
        work.replace(u'@', u':');
        if (!work.contains(u':')) {
            work.replace(QStringLiteral("  "), QStringLiteral(":"));
            if (!work.contains(u':'))
                work.replace(u' ', u':');
        } else {
            work.remove(u' ');
        }
        SplitDelimitedInto(work, u':', Parse.Fields);
        const QString where = QStringLiteral("Proxy entry \"%1\"").arg(Printable(original));
        if (Parse.Fields.size() < 2) [[unlikely]]
            throw EProxyListError(QStringLiteral("%1 has no port after the address").arg(where));
        const int port = PortOf(Parse.Fields[1], where);
        QString ip = Parse.Fields[0];
        if (Parse.Exists(ip, port))
            continue;
        uint32_t key = 0;
        try {
            key = TCountryDatabase::IpToKey(ip); // checked also when no lookup can be made
        } catch (const Exception &e) {
            throw EConvertError(QStringLiteral("%1: %2").arg(where, e.Message()));
        }
        uint32_t hash = 0;
        if (Parse.Index)
            hash = static_cast<uint32_t>(KeyHash(reinterpret_cast<const char16_t *>(ip.utf16()), ip.size(), port));
        AppendNew(Db ? Db->FindCountryByKey(key) : nullptr, std::move(ip), port, hash);
    }
    if (pending)
        flush();
}

} // namespace

void TProxyCollection::ParseStream(QIODevice &Stream, const TProxtData *ActiveProxy) {
    const QByteArray bytes = Stream.readAll();
    ParseText(bytes, ActiveProxy);
}

void TProxyCollection::ParseText(QByteArrayView Bytes, const TProxtData *ActiveProxy) {
    const TParse::TActive active = TParse::Snapshot(ActiveProxy);
    const TCountryDatabase *db = CountryDatabase();
    // A list line is some 15 to 25 bytes; the guess only saves regrowing.
    TParse parse(FNoDuplicates, active, static_cast<size_t>(Bytes.size() / 24));
    auto append = [&parse](const TCountryInfo *Country, QString &&IP, int Port, uint32_t Hash) {
        parse.Append(Country, std::move(IP), Port, Hash);
    };
    const auto *u = reinterpret_cast<const uint8_t *>(Bytes.data());
    const qsizetype n = Bytes.size();
    // The text's encoding by its byte-order mark, else single-byte (Latin-1). The lines would be
    // joined with CR LF; that changes no digit and turns line breaks only into other blanks, so
    // it changes no match and no field and is left out.
    if (n >= 2 && ((u[0] == 0xFF && u[1] == 0xFE) || (u[0] == 0xFE && u[1] == 0xFF))) {
        QStringDecoder decoder(u[0] == 0xFF ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        const QString text = decoder.decode(Bytes.sliced(2));
        ScanFree(reinterpret_cast<const char16_t *>(text.utf16()), text.size(), TTextKind::Utf16, parse, db, append);
    } else if (n >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) {
        ScanFree(u + 3, n - 3, TTextKind::Utf8, parse, db, append);
    } else {
        ScanFree(u, n, TTextKind::Latin1, parse, db, append);
    }
    Commit(parse);
}

void TProxyCollection::ParseStreamVIP(QIODevice &Stream, const TProxtData *ActiveProxy) {
    const QByteArray bytes = Stream.readAll();
    ParseTextVIP(bytes, ActiveProxy);
}

namespace {

// Position of Needle (lower-case ASCII) in Text, ASCII letters compared without case; -1 if none.
qsizetype IndexOfAsciiCI(QStringView Text, QLatin1StringView Needle, qsizetype From = 0) {
    const qsizetype n = Text.size(), m = Needle.size();
    for (qsizetype i = From; i + m <= n; ++i) {
        qsizetype k = 0;
        for (; k < m; ++k) {
            char16_t c = Text[i + k].unicode();
            if (c >= u'A' && c <= u'Z')
                c = static_cast<char16_t>(c + 32);
            if (c != static_cast<char16_t>(Needle[k].unicode()))
                break;
        }
        if (k == m)
            return i;
    }
    return -1;
}

} // namespace

void TProxyCollection::ParseTextVIP(QByteArrayView Bytes, const TProxtData *ActiveProxy) {
    TParse parse(FNoDuplicates, TParse::Snapshot(ActiveProxy), static_cast<size_t>(Bytes.size() / 32));
    if (Bytes.startsWith("\xEF\xBB\xBF"))
        Bytes = Bytes.sliced(3);
    QString text = QString::fromUtf8(Bytes);

    if (IndexOfAsciiCI(text, QLatin1StringView("error")) >= 0) {
        // An error reply: no record, only the active proxy stays; the service's words go to the
        // warning sink.
        Commit(parse);
        const qsizetype at = IndexOfAsciiCI(text, QLatin1StringView("error|"));
        if (at >= 0)
            text.remove(at, 6);
        QString message, link;
        const qsizetype bar = text.indexOf(u'|');
        if (bar >= 0) {
            message = TrimControl(QStringView(text).left(bar));
            link = TrimControl(QStringView(text).mid(bar + 1));
        } else {
            link = TrimControl(text);
        }
        // At most 255 single-byte characters, as the short string that held the link.
        link = QString::fromLatin1(link.toLatin1().left(255));
        if (FWarningSink)
            FWarningSink->ShowWarningMessage(message, link);
        return;
    }

    // Lines end with CR LF, LF or CR; a last line break adds no empty line, "\n\n" holds one.
    const qsizetype n = text.size();
    const char16_t *t = reinterpret_cast<const char16_t *>(text.utf16());
    QString line;
    qsizetype pos = 0;
    int lineNo = 0;
    while (pos < n) {
        qsizetype e = pos;
        while (e < n && t[e] != u'\r' && t[e] != u'\n')
            ++e;
        line = QStringView(text).mid(pos, e - pos).toString();
        ++lineNo;
        if (e < n && t[e] == u'\r')
            ++e;
        if (e < n && t[e] == u'\n')
            ++e;
        pos = e;

        line.replace(u':', u'|');
        SplitDelimitedInto(line, u'|', parse.Fields);
        const QStringList &f = parse.Fields;
        const QString where = QStringLiteral("Line %1 of the list service reply").arg(lineNo);
        if (f.size() < 2)
            throw EProxyListError(QStringLiteral("%1 has too few fields: \"%2\"").arg(where, Printable(line)));
        const int port = PortOf(f[1], where);
        if (parse.Exists(f[0], port))
            continue;
        if (f.size() < 5)
            throw EProxyListError(
                QStringLiteral("%1 has %2 fields, 5 are needed: \"%3\"").arg(where).arg(f.size()).arg(Printable(line)));
        double score = 0;
        if (!TryStrToFloat(f[4], score))
            throw EConvertError(QStringLiteral("%1: '%2' is not a valid floating point value").arg(where, f[4]));
        parse.Append(f[3], f[2], score / 2, f[0], port);
    }
    Commit(parse);
}

// ---------------------------------------------------------------------------------------------
// TProxyFilter

namespace {

// Lower case for the ASCII letters only, as the filter compares.
QString AsciiLower(const QString &S) {
    QString r = S;
    for (QChar &c : r)
        if (c.unicode() >= u'A' && c.unicode() <= u'Z')
            c = QChar(static_cast<char16_t>(c.unicode() + 32));
    return r;
}

} // namespace

TProxyFilter::TProxyFilter(QObject *parent) : TKvCollectionFilter(parent) {}

void TProxyFilter::Assign(const QObject *Source) {
    TKvCollectionFilter::Assign(Source);
    const auto *f = qobject_cast<const TProxyFilter *>(Source);
    if (!f)
        return;
    SetCountry(f->FCountry);
    SetPort(f->FPort);
    SetProxyType(f->FProxyType);
    SetBotNetProxy(f->FBotNetProxy);
    SetHttpsPost(f->FHttpsPost);
    SetHttpPost(f->FHttpPost);
    SetMaxPing(f->FMaxPing);
    SetMiniSpeed(f->FMiniSpeed);
}

bool TProxyFilter::FilterOK(const TMyCollectionItem *Item) const {
    const auto *r = dynamic_cast<const TProxtData *>(Item);
    if (!r)
        return false;
    static const QString any = QStringLiteral("any");

    const QString country = AsciiLower(FCountry);
    const QString code = AsciiLower(r->CountryCode());
    const bool countryOK = country == any || FCountry.isEmpty() || (!code.isEmpty() && country.contains(code));

    const bool portOK = AsciiLower(FPort) == any || QString::number(r->Port()) == FPort;

    const QString type = AsciiLower(FProxyType);
    const QString eng = r->TypeAsStringEng();
    const bool typeOK = type == any || eng == QLatin1String("-") || FProxyType.isEmpty() || type.contains(eng);

    const bool botnetOK = FBotNetProxy == tsUnknown || r->Botnet() == tsUnknown || r->Botnet() == FBotNetProxy;
    const bool httpsPostOK = FHttpsPost == tsUnknown || r->HttpsPost() == tsUnknown || r->HttpsPost() == FHttpsPost;
    const bool postOK = FHttpPost == tsUnknown || r->HttpPost() == tsUnknown || r->HttpPost() == FHttpPost;
    const bool pingOK = FMaxPing == 0 || r->Ping() < 0 || FMaxPing > r->Ping();
    const bool speedOK = FMiniSpeed == 0 || r->Speed() < 0 || r->Speed() / 1024 > FMiniSpeed;

    return countryOK && portOK && typeOK && botnetOK && httpsPostOK && postOK && pingOK && speedOK;
}
