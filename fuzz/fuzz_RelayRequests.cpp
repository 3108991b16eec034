// The relay's request rewriting on arbitrary blocks from a browser: parsing the head, inserting
// the Proxy-Authorization line and making the request relative must never crash, and what they
// promise about the bytes must hold whatever the block holds.

#include "relay/ProxyServer.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const QByteArray block(reinterpret_cast<const char *>(Data), static_cast<qsizetype>(Size));

    QByteArray method, host;
    int port = 0;
    try {
        if (TProxyServer::ParseRequest(block, method, host, port)) {
            // Method and host come from the lower-cased head and stand before its end.
            if (method != method.toLower() || host != host.toLower() || !block.contains("\r\n\r\n"))
                std::abort();
        }
    } catch (const EConvertError &) {
        // A port that is no integer: the relay ends that connection.
    }

    const QByteArray withAuth = TProxyServer::AddProxyAuthorization(block, "dXNlcjpwYXNz");
    const qsizetype end = block.indexOf("\r\n\r\n");
    if (end < 0) {
        if (withAuth != block)
            std::abort();
    } else if (withAuth.size() != block.size() + 41 || !withAuth.startsWith(block.left(end)) ||
               !withAuth.endsWith(block.mid(end))) {
        std::abort(); // the head before, the blank line and the body after stay byte for byte
    }

    // Only deletes: never longer, and the part after the first line's end only loses bytes.
    const QByteArray relative = TProxyServer::MakeRelativeRequest(block);
    if (relative.size() > block.size())
        std::abort();
    return 0;
}
