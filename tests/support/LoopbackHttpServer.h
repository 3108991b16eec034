#pragma once
// A cpp-httplib server on 127.0.0.1 and a free port, run in a thread of its own for one test.
// Link PkgConfig::HTTPLIB (its compile definitions must match the Debian library's build).

#include "platform/HttpServerLib.h"

#include <QString>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace testsupport {

class LoopbackHttpServer {
public:
    httplib::Server Server;

    LoopbackHttpServer() = default;
    ~LoopbackHttpServer() { Stop(); }
    LoopbackHttpServer(const LoopbackHttpServer &) = delete;
    LoopbackHttpServer &operator=(const LoopbackHttpServer &) = delete;

    /// Binds and starts serving; the handlers must be registered before.
    void Start() {
        FPort = httplibsetup::BindWithBacklog(Server, "127.0.0.1", 0);
        if (FPort <= 0)
            throw std::runtime_error("cannot bind a loopback port");
        FThread = std::thread([this] { Server.listen_after_bind(); });
        // Ready once the listening loop runs; poll rather than sleep a fixed time.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Server.is_running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    void Stop() {
        if (FThread.joinable()) {
            Server.stop();
            FThread.join();
        }
    }
    int Port() const { return FPort; }
    QString Url(const QString &Path = QString()) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(FPort).arg(Path);
    }

private:
    int FPort = 0;
    std::thread FThread;
};

} // namespace testsupport
