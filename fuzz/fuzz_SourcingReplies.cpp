// libFuzzer: the two service replies the program reads outside the list parsers, on arbitrary
// bytes. The country/port reply either fails cleanly or gives countries without an empty entry
// and keys without ":" (every ":" became "="); the update reply either fails with a conversion
// error or offers only a version that is newer by the per-number rule.

#include "platform/SysUtils.h"
#include "sourcing/DownloadCountryThread.h"
#include "sourcing/Marlo.Common.UpdateThread.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Fail(const char *What) {
    std::fprintf(stderr, "fuzz_SourcingReplies: %s\n", What);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const QByteArray bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));

    QStringList country{QStringLiteral("before")}, port{QStringLiteral("before")};
    try {
        SplitCountryPortReply(QString::fromUtf8(bytes), country, port);
        for (const QString &c : country)
            if (c.isEmpty())
                Fail("an empty country entry");
        for (const QStringList *list : {&country, &port})
            for (const QString &line : *list)
                if (line.contains(QLatin1Char(':')) || line.contains(QLatin1Char('\r')) ||
                    line.contains(QLatin1Char('\n')))
                    Fail("a colon or line break left in an entry");
    } catch (const Exception &) {
        if (country != QStringList{QStringLiteral("before")} || port != QStringList{QStringLiteral("before")})
            Fail("a failed split changed the lists");
    }

    try {
        if (const auto offer = ParseUpdateReply(bytes)) {
            if (offer->Message.contains(QLatin1Char('|')) || offer->Link.contains(QLatin1Char('|')))
                Fail("a bar inside an offered field");
        }
    } catch (const EConvertError &) {
    }
    return 0;
}
