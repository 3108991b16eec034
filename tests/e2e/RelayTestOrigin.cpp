// relay-test-origin: the web server behind the relay in the end-to-end tests and the benchmark.
//   relay-test-origin --port N      listens on 127.0.0.1:N until SIGTERM or SIGINT
// Pages:
//   /hello        a short text
//   /echo         the request as the origin received it (method, target, headers), and the
//                 client's port in X-Remote-Port, so a test can tell connections apart
//   /bytes/N      N bytes of payload

#include "platform/HttpServerLib.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

httplib::Server *TheServer = nullptr;

void Stop(int) {
    if (TheServer)
        TheServer->stop();
}

} // namespace

int main(int argc, char **argv) {
    int port = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--port") == 0)
            port = std::atoi(argv[i + 1]);
    if (port <= 0) {
        std::fprintf(stderr, "usage: relay-test-origin --port N\n");
        return 2;
    }
    httplib::Server server;
    // Enough workers that the origin never becomes the queue the relay or the peers wait in.
    server.new_task_queue = [] { return new httplib::ThreadPool(96); };
    server.set_keep_alive_max_count(1000000);

    server.Get("/hello", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("hello from origin\n", "text/plain");
    });
    server.Get("/echo", [](const httplib::Request &req, httplib::Response &res) {
        std::string body = req.method + " " + req.target + "\n";
        for (const auto &h : req.headers)
            body += h.first + ": " + h.second + "\n";
        res.set_header("X-Remote-Port", std::to_string(req.remote_port));
        res.set_content(body, "text/plain");
    });
    server.Get(R"(/bytes/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
        const size_t total = std::stoull(req.matches[1]);
        res.set_content_provider(total, "application/octet-stream",
                                 [](size_t offset, size_t length, httplib::DataSink &sink) {
                                     static const std::string chunk(256 * 1024, 'x');
                                     (void)offset;
                                     return sink.write(chunk.data(), std::min(length, chunk.size()));
                                 });
    });

    TheServer = &server;
    std::signal(SIGTERM, Stop);
    std::signal(SIGINT, Stop);
    std::signal(SIGPIPE, SIG_IGN);
    // A deep backlog: 64 concurrent proxy connections on a busy machine would overflow the
    // library's own and cost one-second SYN retries that swamp every comparison.
    if (httplibsetup::BindWithBacklog(server, "127.0.0.1", port) <= 0)
        return 1;
    return server.listen_after_bind() ? 0 : 1;
}
