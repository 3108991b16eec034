// libFuzzer: TProxyCollection::ParseText (ParseStream's body) on arbitrary bytes. Besides crashes
// it checks the parser against the literal regular expression of the free format (tests/catalogue's
// reference) and that a failed parse leaves the list exactly as it was.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "tests/catalogue/ReferenceParser.h"

#include <cstdio>
#include <cstdlib>

namespace {

// A few blocks over the whole address space, with the top bit set in some.
std::unique_ptr<TCountryDatabase> SmallDatabase() {
    auto db = std::make_unique<TCountryDatabase>();
    db->netRanges = {{0x01000000, 0x01FFFFFF, 1},
                     {0x08000000, 0x08FFFFFF, 2},
                     {0x80000000, 0xBFFFFFFF, 2},
                     {0xDE000000, 0xDEFFFFFF, 3}};
    db->countryInfos = {{1, QStringLiteral("AP"), QStringLiteral("Asia/Pacific Region")},
                        {2, QStringLiteral("US"), QStringLiteral("United States")},
                        {3, QStringLiteral("VN"), QStringLiteral("Vietnam")}};
    db->BuildIndex();
    return db;
}

[[noreturn]] void Fail(const char *What, const QByteArray &Input) {
    std::fprintf(stderr, "fuzz_ParseStream: %s (input %lld bytes)\n", What, static_cast<long long>(Input.size()));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static TProxyCollection *list = [] {
        auto *l = new TProxyCollection;
        l->SetCountryDatabase(SmallDatabase());
        return l;
    }();
    static TProxyCollection activeHome;
    static TProxtData *active =
        activeHome.Add(QStringLiteral("Nowhere"), QStringLiteral("NW"), 2.5, QStringLiteral("1.2.3.4"), 8080);

    if (Size == 0)
        return 0;
    // The first byte picks the settings; the rest is the text.
    const bool noDuplicates = Data[0] & 1;
    const bool withActive = Data[0] & 2;
    const QByteArray text(reinterpret_cast<const char *>(Data + 1), static_cast<qsizetype>(Size - 1));
    list->SetNoDuplicates(noDuplicates);

    // What the list holds before: a failed parse must leave exactly this.
    std::vector<const TProxtData *> before;
    for (int i = 0; i < list->Count(); ++i)
        before.push_back(list->Items(i));

    bool error = false;
    try {
        list->ParseText(text, withActive ? active : nullptr);
    } catch (const Exception &) {
        error = true;
    }
    if (error) {
        if (list->Count() != static_cast<int>(before.size()))
            Fail("a failed parse changed the list", text);
        for (int i = 0; i < list->Count(); ++i)
            if (list->Items(i) != before[static_cast<size_t>(i)] || list->Items(i)->Index() != i)
                Fail("a failed parse changed the records", text);
    }

    const reference::TProxy activeRef{active->IP(), active->Port()};
    const reference::TResult ref = reference::ParseFree(text, noDuplicates, withActive ? &activeRef : nullptr);
    if (!ref.Valid)
        return 0;
    if (ref.Error != error)
        Fail(error ? "the parser failed where the expression did not" : "the parser did not fail", text);
    if (error)
        return 0;
    if (list->Count() != ref.Proxies.size())
        Fail("record count differs from the expression", text);
    for (int i = 0; i < list->Count(); ++i) {
        const TProxtData *r = list->Items(i);
        if (r->IP() != ref.Proxies[i].IP || r->Port() != ref.Proxies[i].Port)
            Fail("record differs from the expression", text);
        if (noDuplicates && !list->ProxyExists(r->IP(), r->Port()))
            Fail("the index misses a record", text);
    }
    return 0;
}
