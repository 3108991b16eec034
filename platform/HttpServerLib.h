#pragma once
// cpp-httplib as every server of ours (and of our tests) uses it.

#include <httplib.h>

#include <memory>
#include <string>
#include <sys/socket.h>

namespace httplibsetup {

/// The listen backlog of our servers.
constexpr int kListenBacklog = 512;

/// Binds Server to Host:Port (Port 0: any free port) like bind_to_port / bind_to_any_port, then
/// deepens the listen backlog. The library listens with a backlog of 5: a burst of connections
/// larger than that (the checker's workers all probing the judge at once) makes the kernel drop the
/// surplus SYNs, and each dropped client waits a full one-second retransmit before it gets in. The
/// listening socket is taken from the library's socket-options hook and listen() is called on it
/// again with our backlog. The hook replaces the library's own options, which add SO_REUSEPORT
/// (a second server could then bind the same port and take half of the requests); address reuse
/// alone is what a restart needs. Returns the port, or -1.
inline int BindWithBacklog(httplib::Server &Server, const std::string &Host, int Port) {
    auto last = std::make_shared<int>(-1);
    Server.set_socket_options([last](socket_t Sock) {
        const int one = 1;
        ::setsockopt(Sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        *last = Sock;
    });
    int port = Port;
    if (Port == 0)
        port = Server.bind_to_any_port(Host);
    else if (!Server.bind_to_port(Host, Port))
        port = -1;
    if (port > 0 && *last >= 0)
        ::listen(*last, kListenBacklog);
    return port > 0 ? port : -1;
}

} // namespace httplibsetup
