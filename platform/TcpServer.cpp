#include "platform/TcpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Connection threads do shallow work (a few buffers, all on the heap); a small stack lets glibc
// keep well over a hundred of them cached for reuse.
constexpr size_t ConnectionStackSize = 256 * 1024;
// How long a thread whose connection ended waits for the next one, and how many may wait at once
// (more than that end at once: a burst of connections leaves no crowd of idle threads behind).
constexpr auto IdleThreadWait = std::chrono::seconds(15);
constexpr int MaxWaitingThreads = 64;
} // namespace

struct TTcpServer::TThreadStart {
    TTcpServer *Server;
    TThreadList::iterator Self;
};

TTcpServerContext::TTcpServerContext(const TTcpContextArgs &Args)
    : FConnection(Args.Connection), FServer(Args.Server), FStop(Args.Stop) {}

TTcpServerContext::~TTcpServerContext() = default;

TTcpServer::TTcpServer(QObject *Owner) : QObject(Owner) {}

TTcpServer::~TTcpServer() { SetActive(false); }

void TTcpServer::SetActive(bool Value) {
    if (Value == FActive)
        return;
    if (Value) {
        StartListening();
        FStop.Reset();
        try {
            FAcceptor = std::thread(&TTcpServer::AcceptLoop, this);
        } catch (...) {
            CloseListeners();
            throw;
        }
        FActive = true;
        return;
    }
    // Every wait of the acceptor and of the connection threads watches FStop, so they all return;
    // threads waiting for a job are woken and end once no job is left.
    FStop.Set();
    if (FAcceptor.joinable())
        FAcceptor.join();
    CloseListeners();
    TThreadList threads;
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStopping = true;
        threads.splice(threads.begin(), FThreads);
    }
    FJobReady.notify_all();
    for (auto &t : threads)
        if (t.Joinable)
            ::pthread_join(t.Thread, nullptr);
    {
        std::lock_guard<std::mutex> lock(FLock);
        FFinished.clear();
        FJobs.clear(); // (none: a thread leaves only when no job is left)
        FStopping = false;
    }
    FStop.Reset();
    FActive = false;
}

int TTcpServer::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FServing + static_cast<int>(FJobs.size());
}

void TTcpServer::StartListening() {
    for (auto &b : FBindings) {
        sockaddr_storage addr{};
        socklen_t len = 0;
        const QByteArray ip = b.IP.toLatin1();
        if (ip.contains(':')) {
            auto *a6 = reinterpret_cast<sockaddr_in6 *>(&addr);
            a6->sin6_family = AF_INET6;
            a6->sin6_port = htons(static_cast<uint16_t>(b.Port));
            if (::inet_pton(AF_INET6, ip.constData(), &a6->sin6_addr) != 1) {
                CloseListeners();
                throw Exception(QStringLiteral("Invalid listening address %1").arg(b.IP));
            }
            len = sizeof *a6;
        } else {
            auto *a4 = reinterpret_cast<sockaddr_in *>(&addr);
            a4->sin_family = AF_INET;
            a4->sin_port = htons(static_cast<uint16_t>(b.Port));
            if (::inet_pton(AF_INET, ip.isEmpty() ? "0.0.0.0" : ip.constData(), &a4->sin_addr) != 1) {
                CloseListeners();
                throw Exception(QStringLiteral("Invalid listening address %1").arg(b.IP));
            }
            len = sizeof *a4;
        }
        const int fd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            const int err = errno;
            CloseListeners();
            RaiseSocketError(err);
        }
        FListeners.push_back(fd);
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (b.Port < 0 || b.Port > 65535 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
            ::listen(fd, SOMAXCONN) != 0) {
            const int err = errno;
            CloseListeners();
            throw Exception(QStringLiteral("Could not bind socket %1:%2: %3")
                                .arg(b.IP)
                                .arg(b.Port)
                                .arg(err == EADDRINUSE ? QStringLiteral("Address and port are already in use.")
                                                       : QString::fromLocal8Bit(std::strerror(err))));
        }
        len = sizeof addr;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
            b.Port = ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port
                                                      : reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
    }
}

void TTcpServer::CloseListeners() {
    for (int fd : FListeners)
        ::close(fd);
    FListeners.clear();
}

void TTcpServer::AcceptLoop() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        for (int fd : FListeners)
            fds.push_back(pollfd{fd, POLLIN, 0});
        try {
            PollOrStop(fds, -1, &FStop);
        } catch (const ETcpStopped &) {
            break;
        } catch (const ETcpError &) {
            // poll() itself failing (out of memory) is not worth a spin: wait for the stop.
            fds.clear();
            try {
                PollOrStop(fds, 100, &FStop);
            } catch (const ETcpStopped &) {
                break;
            }
            continue;
        }
        for (const pollfd &p : fds)
            if (p.revents)
                AcceptPending(p.fd);
        // Threads that have ended are joined here rather than woken for: on a busy relay that is
        // one wake-up less per connection, and an ended thread only holds its cached stack.
        JoinFinished();
    }
    JoinFinished();
}

void TTcpServer::AcceptPending(int ListenHandle) {
    for (;;) {
        const int fd = ::accept4(ListenHandle, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: the pending connection stays readable, so back off for a
                // moment instead of spinning on it until other connections end.
                std::vector<pollfd> none;
                try {
                    PollOrStop(none, 100, &FStop);
                } catch (const ETcpError &) {
                }
            }
            return;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto connection = std::make_unique<TTcpConnection>(fd);
        connection->SetStopSignal(&FStop);
        std::unique_ptr<TTcpServerContext> context;
        try {
            const TTcpContextArgs args{connection.get(), this, &FStop};
            context = FContextClass ? FContextClass(args) : std::make_unique<TTcpServerContext>(args);
            ContextCreated(context.get());
        } catch (...) {
            continue; // the connection closes as it goes out of scope
        }
        // A waiting thread takes the connection; when none is free, a new thread is started for it.
        TThreadList::iterator self;
        {
            std::lock_guard<std::mutex> lock(FLock);
            const bool threadFree = FWaiting > static_cast<int>(FJobs.size());
            FJobs.push_back(TJob{std::move(connection), std::move(context)});
            if (threadFree) {
                FJobReady.notify_one();
                continue;
            }
            FThreads.emplace_back();
            self = std::prev(FThreads.end());
        }
        // Thread creation is slow next to everything else here; ending connections must not wait
        // for it on the lock. Only this thread (and the switch-off after it) reads the entry.
        auto start = std::make_unique<TThreadStart>(TThreadStart{this, self});
        pthread_attr_t attr;
        ::pthread_attr_init(&attr);
        ::pthread_attr_setstacksize(&attr, ConnectionStackSize);
        if (::pthread_create(&self->Thread, &attr, &TTcpServer::ConnectionThreadMain, start.get()) == 0) {
            self->Joinable = true;
            start.release(); // the thread owns it now
        } else {
            // No thread to be had: the connection waits for one of the running threads to end its
            // own; with none running it is closed.
            start.reset();
            TJob dropped;
            {
                std::lock_guard<std::mutex> lock(FLock);
                FThreads.erase(self);
                if (FThreads.size() == FFinished.size() && !FJobs.empty()) {
                    dropped = std::move(FJobs.back());
                    FJobs.pop_back();
                }
            }
        }
        ::pthread_attr_destroy(&attr);
    }
}

void *TTcpServer::ConnectionThreadMain(void *Start) {
    std::unique_ptr<TThreadStart> start(static_cast<TThreadStart *>(Start));
    start->Server->ServeJobs(start->Self);
    return nullptr;
}

void TTcpServer::ServeJobs(TThreadList::iterator Self) {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        if (FJobs.empty() && !FStopping && FWaiting < MaxWaitingThreads) {
            ++FWaiting;
            FJobReady.wait_for(lock, IdleThreadWait, [this] { return !FJobs.empty() || FStopping; });
            --FWaiting;
        }
        if (FJobs.empty())
            break; // waited long enough, too many waiting, or the server is being switched off
        TJob job = std::move(FJobs.front());
        FJobs.pop_front();
        ++FServing;
        lock.unlock();
        RunConnection(std::move(job));
        lock.lock();
        --FServing;
    }
    FFinished.push_back(Self);
}

void TTcpServer::RunConnection(TJob Job) {
    TTcpServerContext *context = Job.Context.get();
    try {
        DoConnect(context);
        while (!FStop.IsSet() && DoExecute(context)) {
        }
    } catch (const std::exception &e) {
        if (OnException) {
            try {
                OnException(context, e);
            } catch (...) {
            }
        }
    } catch (...) {
    }
    try {
        DoDisconnect(context);
    } catch (...) {
    }
    Job.Connection->Disconnect();
    Job.Context.reset();
    Job.Connection.reset();
}

void TTcpServer::JoinFinished() {
    // A thread that has reported its end may still be on its way out; joining it here would stall
    // the accepting thread, so only threads that are already gone are joined (which also hands
    // their stacks back to the cache at once). The rest wait for the next round.
    std::vector<TThreadList::iterator> finished;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (FFinished.empty())
            return;
        finished.swap(FFinished);
    }
    std::vector<TThreadList::iterator> joined, pending;
    for (auto it : finished) {
        if (!it->Joinable || ::pthread_tryjoin_np(it->Thread, nullptr) == 0)
            joined.push_back(it);
        else
            pending.push_back(it);
    }
    std::lock_guard<std::mutex> lock(FLock);
    for (auto it : joined)
        FThreads.erase(it);
    FFinished.insert(FFinished.end(), pending.begin(), pending.end());
}

void TTcpServer::ContextCreated(TTcpServerContext *) {}

void TTcpServer::DoConnect(TTcpServerContext *Context) {
    if (OnConnect)
        OnConnect(Context);
}

void TTcpServer::DoDisconnect(TTcpServerContext *Context) {
    if (OnDisconnect)
        OnDisconnect(Context);
}

bool TTcpServer::DoExecute(TTcpServerContext *Context) {
    if (OnExecute)
        OnExecute(Context);
    return Context->Connection()->Connected();
}
