#include "tests/checker/CheckerTestPeers.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>

#include "platform/HttpServerLib.h"
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace checkerpeers {

TRawServer::TRawServer(std::function<void(int)> Handler) : FHandler(std::move(Handler)) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FListen, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(FListen, reinterpret_cast<sockaddr *>(&a), &len);
    FPort = ntohs(a.sin_port);
    ::listen(FListen, 512);
    FAccept = std::thread([this] { Run(); });
}

TRawServer::~TRawServer() {
    Stop();
}

void TRawServer::Stop() {
    if (FStop.exchange(true))
        return;
    FAccept.join();
    ::close(FListen);
    std::lock_guard<std::mutex> g(FLock);
    for (auto &t : FWorkers)
        t.join();
}

void TRawServer::Run() {
    while (!FStop) {
        pollfd p{FListen, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++FConnections;
        std::lock_guard<std::mutex> g(FLock);
        FWorkers.emplace_back([this, fd] {
            FHandler(fd);
            ::close(fd);
        });
    }
}

bool ReadHead(int Fd, QByteArray &Head, QByteArray &Rest) {
    QByteArray buf;
    char chunk[4096];
    for (;;) {
        const qsizetype end = buf.indexOf("\r\n\r\n");
        if (end >= 0) {
            Head = buf.left(end + 4);
            Rest = buf.mid(end + 4);
            return true;
        }
        pollfd p{Fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return false;
        const ssize_t n = ::recv(Fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buf.append(chunk, n);
    }
}

void WriteAll(int Fd, const QByteArray &Bytes) {
    qsizetype off = 0;
    while (off < Bytes.size()) {
        const ssize_t n = ::send(Fd, Bytes.constData() + off, size_t(Bytes.size() - off), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += n;
    }
}

void Relay(int A, int B) {
    char buf[16384];
    for (;;) {
        pollfd p[2] = {{A, POLLIN, 0}, {B, POLLIN, 0}};
        if (::poll(p, 2, 10000) <= 0)
            return;
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::recv(p[i].fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            WriteAll(i == 0 ? B : A, QByteArray::fromRawData(buf, n));
        }
    }
}

int ConnectLoopback(const QString &Host, int Port) {
    // The tests only ever talk to loopback: any other host is refused here.
    if (Host != QLatin1String("127.0.0.1") && Host != QLatin1String("localhost"))
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(Port));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TFakeProxy::TFakeProxy(TProxyMode Mode) : FMode(Mode) {
    FServer = std::make_unique<TRawServer>([this](int fd) { Handle(fd); });
}

TFakeProxy::~TFakeProxy() {
    FStopping = true;
    FServer->Stop();
}

void TFakeProxy::Handle(int Fd) {
    QByteArray head, rest;
    if (!ReadHead(Fd, head, rest))
        return;
    ++FRequests;
    const qsizetype eol = head.indexOf("\r\n");
    const QList<QByteArray> parts = head.left(eol).split(' ');
    if (parts.size() < 3)
        return;
    const QByteArray method = parts[0], target = parts[1], version = parts[2];
    if (FMode == TProxyMode::Stall) {
        // Say nothing until the client gives up or the test ends.
        while (!FStopping) {
            pollfd p{Fd, POLLIN, 0};
            char c[512];
            if (::poll(&p, 1, 50) > 0 && ::recv(Fd, c, sizeof c, 0) <= 0)
                return;
        }
        return;
    }
    if (method == "CONNECT") {
        if (FMode != TProxyMode::Forward) {
            WriteAll(Fd, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        }
        const qsizetype colon = target.lastIndexOf(':');
        const int up = ConnectLoopback(QString::fromLatin1(target.left(colon)), target.mid(colon + 1).toInt());
        if (up < 0) {
            WriteAll(Fd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        WriteAll(Fd, "HTTP/1.1 200 Connection established\r\n\r\n");
        if (!rest.isEmpty())
            WriteAll(up, rest);
        Relay(Fd, up);
        ::close(up);
        return;
    }
    if (FMode == TProxyMode::Canned) {
        if (DelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs));
        WriteAll(Fd, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                         QByteArray::number(CannedBody.size()) + "\r\n\r\n" + CannedBody);
        return;
    }
    // Plain proxy request with an absolute address: send it on in origin form.
    if (!target.startsWith("http://"))
        return;
    const QByteArray afterScheme = target.mid(7);
    const qsizetype slash = afterScheme.indexOf('/');
    const QByteArray hostPort = slash < 0 ? afterScheme : afterScheme.left(slash);
    const QByteArray path = slash < 0 ? QByteArray("/") : afterScheme.mid(slash);
    const qsizetype colon = hostPort.lastIndexOf(':');
    const QString host = QString::fromLatin1(colon < 0 ? hostPort : hostPort.left(colon));
    const int port = colon < 0 ? 80 : hostPort.mid(colon + 1).toInt();
    const int up = ConnectLoopback(host, port);
    if (up < 0) {
        WriteAll(Fd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    QByteArray out = method + ' ' + path + ' ' + version + "\r\n";
    QByteArray headers = head.mid(eol + 2);
    headers.chop(2); // the empty line comes after the extra headers
    for (const QByteArray &h : ExtraHeaders)
        headers += h + "\r\n";
    out += headers + "\r\n" + rest;
    WriteAll(up, out);
    Relay(Fd, up);
    ::close(up);
}

struct TTestJudge::TImpl {
    httplib::Server server;
    std::thread thread;
    mutable std::mutex lock;
    std::string lastQuery;
};

TTestJudge::TTestJudge() : FImpl(std::make_unique<TImpl>()) {
    auto &srv = FImpl->server;
    auto handler = [this](const httplib::Request &req, httplib::Response &res) {
        if (req.has_param("showip")) {
            ++Probes;
            std::string clock = ProbeClock;
            if (clock.empty()) {
                // The judge's clock: seconds since 1970 of the local wall clock, as the worker's own.
                const QDateTime now = QDateTime::currentDateTime();
                const double secs = double(now.toMSecsSinceEpoch() + qint64(now.offsetFromUtc()) * 1000) / 1000.0;
                clock = QByteArray::number(secs, 'f', 3).toStdString();
            }
            res.set_content(req.remote_addr + "\r\n" + clock + "\r\n", "text/plain");
            return;
        }
        ++Tests;
        {
            std::lock_guard<std::mutex> g(FImpl->lock);
            std::string q;
            for (const auto &p : req.params)
                q += p.first + "=" + p.second + "&";
            FImpl->lastQuery = q;
        }
        switch (Mode.load()) {
        case TJudgeMode::Error:
            res.status = 500;
            res.set_content("internal error", "text/plain");
            return;
        case TJudgeMode::NoMarker:
            res.set_content("<html>some other page</html>\r\ntae\r\nb\r\n0.5\r\ny\r\n", "text/html");
            return;
        case TJudgeMode::ShortReply:
            res.set_content(std::string(JudgeMarker) + "\r\ne\r\n", "text/plain");
            return;
        case TJudgeMode::Normal:
            break;
        }
        const std::string user = req.get_param_value("userip");
        std::string type;
        const std::string fwd = req.get_header_value("X-Forwarded-For") + req.get_header_value("X-Tinyproxy");
        if (!user.empty() && fwd.find(user) != std::string::npos)
            type = "t";
        else if (req.has_header("Via"))
            type = "a";
        else
            type = "e";
        std::string field2;
        if (req.has_file("field2"))
            field2 = req.get_file_value("field2").content;
        const bool post = !field2.empty() && field2 == req.get_param_value("field1");
        res.set_content(std::string(JudgeMarker) + "\r\n" + type + "\r\np\r\n0.25\r\n" + (post ? "y" : "n") + "\r\n",
                        "text/plain");
    };
    srv.Get("/type.php", handler);
    srv.Post("/type.php", handler);
    FPort = httplibsetup::BindWithBacklog(srv, "127.0.0.1", 0);
    FImpl->thread = std::thread([this] { FImpl->server.listen_after_bind(); });
    testsupport::WaitForPort(FPort);
}

TTestJudge::~TTestJudge() {
    FImpl->server.stop();
    FImpl->thread.join();
}

QString TTestJudge::Url() const {
    return QStringLiteral("http://127.0.0.1:%1/type.php").arg(FPort);
}

std::string TTestJudge::LastQuery() const {
    std::lock_guard<std::mutex> g(FImpl->lock);
    return FImpl->lastQuery;
}

namespace {

// A self-signed certificate for a host name that is not the one the client asks for.
std::pair<X509 *, EVP_PKEY *> MakeCertificate() {
    EVP_PKEY *key = EVP_RSA_gen(2048);
    X509 *cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("other.invalid"), -1,
                               -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    return {cert, key};
}

} // namespace

struct TTestOrigin::TImpl {
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    X509 *cert = nullptr;
    EVP_PKEY *key = nullptr;
};

TTestOrigin::TTestOrigin(bool Tls) : FImpl(std::make_unique<TImpl>()), FTls(Tls) {
    if (Tls) {
        auto [cert, key] = MakeCertificate();
        FImpl->cert = cert;
        FImpl->key = key;
        FImpl->server = std::make_unique<httplib::SSLServer>(cert, key);
    } else {
        FImpl->server = std::make_unique<httplib::Server>();
    }
    FPort = httplibsetup::BindWithBacklog(*FImpl->server, "127.0.0.1", 0);
    FImpl->thread = std::thread([this] { FImpl->server->listen_after_bind(); });
    testsupport::WaitForPort(FPort);
}

TTestOrigin::~TTestOrigin() {
    FImpl->server->stop();
    FImpl->thread.join();
    FImpl->server.reset();
    if (FImpl->cert)
        X509_free(FImpl->cert);
    if (FImpl->key)
        EVP_PKEY_free(FImpl->key);
}

QString TTestOrigin::Url(const QString &Path) const {
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(FTls ? "https" : "http").arg(FPort).arg(Path);
}

void TTestOrigin::Page(const std::string &Path, const std::string &Body, const std::string &ContentType) {
    FImpl->server->Get(Path, [Body, ContentType](const httplib::Request &, httplib::Response &res) {
        res.set_content(Body, ContentType.c_str());
    });
}

} // namespace checkerpeers
