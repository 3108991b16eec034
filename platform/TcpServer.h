#pragma once
// The TCP server: listens on its bindings while Active and serves every accepted connection in a
// thread of its own, through a connection context of a settable class and four overridable hooks.

#include "platform/StopSignal.h"
#include "platform/TcpConnection.h"

#include <QList>
#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

class TTcpServer;

/// An address and port to listen on; Port 0 takes a free port, written back on activation.
struct TSocketBinding {
    QString IP;
    int Port = 0;
};

/// What the server hands to a new context: the accepted connection (owned by the server's
/// connection thread, which outlives the context), the server, and the stop signal that ends
/// every wait of the connection's thread.
struct TTcpContextArgs {
    TTcpConnection *Connection = nullptr;
    TTcpServer *Server = nullptr;
    const TStopSignal *Stop = nullptr;
};

/// The per-connection object of a server; derive from it to keep state for a connection.
class TTcpServerContext {
public:
    explicit TTcpServerContext(const TTcpContextArgs &Args);
    virtual ~TTcpServerContext();
    TTcpServerContext(const TTcpServerContext &) = delete;
    TTcpServerContext &operator=(const TTcpServerContext &) = delete;

    /// The accepted client connection.
    TTcpConnection *Connection() const { return FConnection; }
    TTcpServer *TcpServer() const { return FServer; }
    /// Set when the server is being switched off; give it to every other socket object the
    /// context waits on so that those waits end too.
    const TStopSignal *StopSignal() const { return FStop; }

private:
    TTcpConnection *FConnection;
    TTcpServer *FServer;
    const TStopSignal *FStop;
};

/// Makes the context for a newly accepted connection.
using TTcpContextClass = std::function<std::unique_ptr<TTcpServerContext>(const TTcpContextArgs &)>;

/// A multi-threaded TCP server: one thread per accepted connection. A thread whose connection has
/// ended waits a while for the next one before it ends (starting a thread costs more than most
/// requests of a web proxy), so a busy server runs on the threads it already has.
class TTcpServer : public QObject {
    Q_OBJECT
public:
    explicit TTcpServer(QObject *Owner = nullptr);
    /// Switches the server off, which ends every connection. A derived server whose hooks touch
    /// its own members must switch itself off in its own destructor, before those members go.
    ~TTcpServer() override;

    /// The addresses to listen on; change them only while the server is not active.
    QList<TSocketBinding> &Bindings() { return FBindings; }

    bool Active() const { return FActive; }
    /// Switching on listens on every binding (raises Exception when one cannot be bound, and stays
    /// off). Switching off stops listening, ends every client connection and joins its thread,
    /// and returns only when all are gone. Call from one controlling thread.
    void SetActive(bool Value);

    /// The class of the contexts made for new connections; TTcpServerContext by default.
    void SetContextClass(TTcpContextClass Factory) { FContextClass = std::move(Factory); }
    template <class T> static TTcpContextClass ContextClassOf() {
        return [](const TTcpContextArgs &Args) { return std::make_unique<T>(Args); };
    }

    /// Number of client connections being served now.
    int ConnectionCount() const;

    /// Events, all called from connection threads (several at once): they must be thread-safe.
    std::function<void(TTcpServerContext *)> OnConnect;
    std::function<void(TTcpServerContext *)> OnDisconnect;
    std::function<void(TTcpServerContext *)> OnExecute;
    /// An error that ended a connection.
    std::function<void(TTcpServerContext *, const std::exception &)> OnException;

protected:
    /// A context has been made for a new client (runs in the accepting thread).
    virtual void ContextCreated(TTcpServerContext *Context);
    /// Before the first execute step; fires OnConnect.
    virtual void DoConnect(TTcpServerContext *Context);
    /// After the last execute step; fires OnDisconnect.
    virtual void DoDisconnect(TTcpServerContext *Context);
    /// One step of serving the connection, repeated while it returns true; fires OnExecute and
    /// goes on while the client is connected.
    virtual bool DoExecute(TTcpServerContext *Context);

private:
    // Connection threads are plain pthreads: std::thread cannot ask for a smaller stack, and with
    // the default 8 MiB stacks glibc's stack cache holds only a handful, so every connection
    // beyond them paid for mapping and unmapping a fresh stack.
    struct TConnectionThread {
        pthread_t Thread{};
        bool Joinable = false;
    };
    using TThreadList = std::list<TConnectionThread>;
    // An accepted connection waiting for its thread.
    struct TJob {
        std::unique_ptr<TTcpConnection> Connection;
        std::unique_ptr<TTcpServerContext> Context;
    };

    void StartListening();
    void CloseListeners();
    void AcceptLoop();
    void AcceptPending(int ListenHandle);
    struct TThreadStart;
    static void *ConnectionThreadMain(void *Start);
    void ServeJobs(TThreadList::iterator Self);
    void RunConnection(TJob Job);
    void JoinFinished();

    QList<TSocketBinding> FBindings;
    bool FActive = false;
    TTcpContextClass FContextClass;
    std::vector<int> FListeners;
    std::thread FAcceptor;
    TStopSignal FStop;

    mutable std::mutex FLock;
    std::condition_variable FJobReady; // a job was queued, or the server is being switched off
    TThreadList FThreads;              // every connection thread, serving or waiting
    std::vector<TThreadList::iterator> FFinished;
    std::deque<TJob> FJobs;
    int FWaiting = 0; // threads waiting for a job
    int FServing = 0; // connections being served
    bool FStopping = false;
};
