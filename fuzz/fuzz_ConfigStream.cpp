// libFuzzer target: the configuration file reader on arbitrary bytes.
//
// The first byte picks the layer: even — the inflated component stream straight into ReadComponent;
// odd — the file content through ZDecompress (capped at 16 MB, so a tiny zlib bomb cannot claim
// unbounded memory) and then ReadComponent. Every input must end in success or EReadError, never a
// crash, a hang or an unbounded allocation. When a stream is read, writing it again must reach a
// fixed point after one round: write(read(write(x))) == write(x) once the stream's own rules (no
// empty texts, no zero floats, -1 for a missing Speed) have been applied once.

#include "config/ComponentStream.h"
#include "config/ProgramConfig.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size == 0)
        return 0;
    const bool zipped = Data[0] & 1;
    QByteArray stream(reinterpret_cast<const char *>(Data + 1), static_cast<qsizetype>(Size - 1));
    try {
        if (zipped)
            stream = ZDecompress(stream, qsizetype(16) << 20);
        TProgramConfig config(nullptr, QLocale::English);
        ReadComponent(stream, config);

        TProgramConfig once(nullptr, QLocale::English);
        ReadComponent(WriteComponent(config), once);
        const QByteArray first = WriteComponent(once);
        TProgramConfig twice(nullptr, QLocale::English);
        ReadComponent(first, twice);
        if (WriteComponent(twice) != first)
            std::abort();
    } catch (const EReadError &) {
    }
    return 0;
}
