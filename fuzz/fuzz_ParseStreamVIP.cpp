// libFuzzer: TProxyCollection::ParseTextVIP (ParseStreamVIP's body) on arbitrary bytes. Checks
// that a failed parse leaves the list as it was, that an error reply keeps only the active proxy,
// and that a successful parse keeps the active proxy first and honours NoDuplicates.

#include "catalogue/Marlo.Common.ProxyList.h"

#include <QSet>
#include <cstdio>
#include <cstdlib>

namespace {

class TCountingSink : public IWarningSink {
public:
    int Calls = 0;
    void ShowWarningMessage(const QString &Msg, const QString &Url) override {
        ++Calls;
        if (Url.toLatin1().size() > 255)
            std::abort();
        Q_UNUSED(Msg);
    }
};

[[noreturn]] void Fail(const char *What) {
    std::fprintf(stderr, "fuzz_ParseStreamVIP: %s\n", What);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static TProxyCollection list;
    static TCountingSink sink;
    static TProxyCollection activeHome;
    static TProxtData *active =
        activeHome.Add(QStringLiteral("Nowhere"), QStringLiteral("NW"), 2.5, QStringLiteral("1.2.3.4"), 8080);
    list.SetWarningSink(&sink);
    if (Size == 0)
        return 0;
    const bool noDuplicates = Data[0] & 1;
    const bool withActive = Data[0] & 2;
    const QByteArray text(reinterpret_cast<const char *>(Data + 1), static_cast<qsizetype>(Size - 1));
    list.SetNoDuplicates(noDuplicates);

    std::vector<const TProxtData *> before;
    for (int i = 0; i < list.Count(); ++i)
        before.push_back(list.Items(i));
    const int warningsBefore = sink.Calls;

    bool error = false;
    try {
        list.ParseTextVIP(text, withActive ? active : nullptr);
    } catch (const Exception &) {
        error = true;
    }
    if (error) {
        if (list.Count() != static_cast<int>(before.size()))
            Fail("a failed parse changed the list");
        for (int i = 0; i < list.Count(); ++i)
            if (list.Items(i) != before[static_cast<size_t>(i)])
                Fail("a failed parse changed the records");
        return 0;
    }
    if (sink.Calls != warningsBefore && list.Count() != (withActive ? 1 : 0))
        Fail("an error reply left records besides the active proxy");
    if (withActive && (list.Count() == 0 || list.Items(0)->AsString() != QStringLiteral("1.2.3.4:8080")))
        Fail("the active proxy is not first");
    if (noDuplicates) {
        QSet<QString> seen;
        for (int i = 0; i < list.Count(); ++i) {
            const QString key = list.Items(i)->IP() + u'\n' + QString::number(list.Items(i)->Port());
            if (seen.contains(key))
                Fail("a duplicate with NoDuplicates");
            seen.insert(key);
            if (!list.ProxyExists(list.Items(i)->IP(), list.Items(i)->Port()))
                Fail("the index misses a record");
        }
    }
    return 0;
}
