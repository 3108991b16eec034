// browsers: Firefox's prefs.js rules and the INI editing of operaprefs.ini, kioslaverc and
// profiles.ini, on arbitrary text. A value written must read back as written, and the text before
// the edited place must stay as it was.

#include "platform/IniText.h"
#include "browsers/ProxyManager.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const QString text = QString::fromLatin1(reinterpret_cast<const char *>(Data), static_cast<qsizetype>(Size));

    for (const QString &name : {QStringLiteral("network.proxy.http"), QStringLiteral("network.proxy.http_port")}) {
        QString value;
        TProxyManager::ReadPrefValue(text, name, value);
        for (const QString &wanted : {QStringLiteral("127.0.0.1"), QStringLiteral("3128")}) {
            QString edited = text;
            if (!TProxyManager::WritePrefValue(edited, name, wanted))
                continue;
            QString back;
            if (!TProxyManager::ReadPrefValue(edited, name, back) || back != wanted)
                std::abort();
            const qsizetype at = text.indexOf(name + u'"');
            if (at >= 0 && edited.left(at) != text.left(at))
                std::abort();
            if (at < 0 && !edited.startsWith(text))
                std::abort();
        }
    }

    QString value;
    initext::ReadValue(text, QStringLiteral("Proxy"), QStringLiteral("HTTP server"), value);
    initext::SectionNames(text);
    const QString edited = initext::WriteValue(text, QStringLiteral("Proxy"), QStringLiteral("HTTP server"),
                                               QStringLiteral("127.0.0.1:3128"));
    QString back;
    if (!initext::ReadValue(edited, QStringLiteral("Proxy"), QStringLiteral("HTTP server"), back) ||
        back != QStringLiteral("127.0.0.1:3128"))
        std::abort();
    return 0;
}
