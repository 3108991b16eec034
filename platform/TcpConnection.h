#pragma once
// One TCP connection: a non-blocking socket with an input buffer, the way the relay uses both the
// browser's side and the outbound side of a pair. Reads never wait; writes go out whole and wait
// only for room in the socket, and every wait ends when the owner's stop signal is set.

#include "platform/SysUtils.h"

#include <QByteArray>

class TStopSignal;

/// A socket call that failed; the message names the system error.
class ETcpError : public Exception {
public:
    using Exception::Exception;
};

/// A wait that ended because the server (or whoever owns the stop signal) is shutting down.
class ETcpStopped : public ETcpError {
public:
    ETcpStopped();
};

/// A connect that did not finish within its time-out.
class ETcpTimeout : public ETcpError {
public:
    using ETcpError::ETcpError;
};

/// Raises ETcpError "Socket Error # N: text" for the errno value Err.
[[noreturn]] void RaiseSocketError(int Err);

/// A connected TCP socket and the bytes received on it that nobody has taken yet.
class TTcpConnection {
public:
    TTcpConnection() = default;
    /// Takes over an already connected socket (closed by this object).
    explicit TTcpConnection(int Handle);
    virtual ~TTcpConnection();
    TTcpConnection(const TTcpConnection &) = delete;
    TTcpConnection &operator=(const TTcpConnection &) = delete;

    /// The socket descriptor; -1 when there is none.
    int Handle() const { return FHandle; }
    /// True while the socket is open and the peer has not closed its side, and also while
    /// received bytes are still buffered.
    bool Connected() const { return (FHandle >= 0 && !FClosedGracefully) || !FInput.isEmpty(); }
    /// Closes the socket and drops whatever is still buffered.
    void Disconnect();

    bool InputBufferIsEmpty() const { return FInput.isEmpty(); }
    /// Takes every buffered byte out.
    QByteArray ExtractAll();
    /// Moves what the socket holds right now into the input buffer, without waiting. The end of
    /// the peer's data (or a reset) marks the connection as closed. Returns the bytes read.
    qsizetype ReadAvailable();

    /// Forwards what the socket holds right now straight to Target's socket through a kernel pipe,
    /// so the bytes never pass through our memory (tunnels carry whole downloads). Reading never
    /// waits; writing waits for room like Write and raises ETcpError when Target is gone. The end
    /// of the peer's data marks this connection as closed, as ReadAvailable does. Returns the bytes
    /// forwarded. Only for connections whose input buffer is empty, or the order would break.
    qsizetype SpliceTo(TTcpConnection &Target);

    /// Sends all bytes, waiting for room as long as needed; raises ETcpError when the peer is gone.
    void Write(const char *Data, qsizetype Size);
    void Write(const QByteArray &Bytes) { Write(Bytes.constData(), Bytes.size()); }

    /// The signal whose setting ends every wait of this connection with ETcpStopped.
    void SetStopSignal(const TStopSignal *Stop) { FStop = Stop; }
    const TStopSignal *StopSignal() const { return FStop; }

protected:
    /// Adopts a freshly connected socket in place of the current one.
    void Attach(int Handle);

private:
    void WaitWritable();
    void ClosePipe();

    int FHandle = -1;
    bool FClosedGracefully = false;
    int FPipe[2] = {-1, -1}; // made by the first SpliceTo
    int FPipeSize = 0;       // its depth in bytes
    QByteArray FInput;
    const TStopSignal *FStop = nullptr;
};
