// libFuzzer target: GetCountryByIp on arbitrary text, checked against a plain reference.
//
// The lookup reads plain-digit addresses in one pass and searches a short stretch of blocks found
// through a 64 Ki table; the reference cuts the parts with indexOf and converts each with the
// standard integer conversion, and finds the block with std::upper_bound. Both must agree on
// every input: the same key or the same conversion error, and the same country.

#include "geoip/CountryDatabase.h"
#include "platform/SysUtils.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

const TCountryDatabase *gDb = nullptr;

bool ReferenceKey(QStringView ip, uint32_t &key) {
    key = 0;
    for (int part = 0; part < 3; ++part) {
        const qsizetype dot = ip.indexOf(u'.');
        int32_t v = 0;
        if (dot < 0 || !TryStrToInt(ip.left(dot), v))
            return false;
        key = key << 8 | (static_cast<uint32_t>(v) & 0xFF);
        ip = ip.mid(dot + 1);
    }
    int32_t v = 0;
    if (!TryStrToInt(ip, v))
        return false;
    key = key << 8 | (static_cast<uint32_t>(v) & 0xFF);
    return true;
}

int ReferenceIndex(uint32_t key) {
    const auto &ranges = gDb->netRanges;
    auto it = std::upper_bound(ranges.begin(), ranges.end(), key,
                               [](uint32_t k, const TNetRange &r) { return k < r.rStart; });
    if (it == ranges.begin() || key > (it - 1)->rEnd)
        return -1;
    return (it - 1)->cIndex;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    static TCountryDatabase db;
    db.LoadDatabase(QString());
    gDb = &db;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Both readings of the bytes: Latin-1 keeps every byte as one character, UTF-8 gives
    // non-Latin characters and replacement characters a chance.
    const char *text = reinterpret_cast<const char *>(data);
    const qsizetype n = static_cast<qsizetype>(size);
    for (const QString &ip : {QString::fromLatin1(text, n), QString::fromUtf8(text, n)}) {
        uint32_t want = 0;
        const bool valid = ReferenceKey(ip, want);
        try {
            const TCountryInfo got = gDb->GetCountryByIp(ip);
            if (!valid || TCountryDatabase::IpToKey(ip) != want)
                std::abort();
            const int index = ReferenceIndex(want);
            if (index < 0 ? !got.IsEmpty() : got.cIndex != index)
                std::abort();
        } catch (const EConvertError &) {
            if (valid)
                std::abort();
        }
    }
    return 0;
}
