// The whole-text INI reader (the language table's reader) on arbitrary bytes: decoding by
// byte-order mark and parsing never fail, and every first key of every first section reads back
// the same through the single-key reader and through the language table.

#include "config/LanguageTable.h"
#include "platform/IniText.h"

#include <QSet>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const QByteArray bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
    const QString text = initext::DecodeText(bytes);
    const TLanguageTable table = TLanguageTable::FromBytes(bytes);
    QSet<QString> seenSections;
    for (const initext::TIniSection &s : initext::ParseSections(text)) {
        if (seenSections.contains(s.Name.toLower()))
            continue;
        seenSections.insert(s.Name.toLower());
        QSet<QString> seenKeys;
        for (const initext::TIniEntry &e : s.Entries) {
            if (seenKeys.contains(e.Key.toLower()))
                continue;
            seenKeys.insert(e.Key.toLower());
            QString value;
            // The single-key reader compares names with Qt's case folding, the table with toLower;
            // names where the two differ (rare Unicode) are skipped rather than misreported.
            if (s.Name.toLower() != s.Name.toCaseFolded().toLower() ||
                e.Key.toLower() != e.Key.toCaseFolded().toLower())
                continue;
            if (!initext::ReadValue(text, s.Name, e.Key, value) || value != e.Value)
                std::abort();
            if (table.ReadString(s.Name, e.Key, QStringLiteral("\x01missing")) != e.Value)
                std::abort();
        }
    }
    return 0;
}
