#pragma once
// The line protocol between `relayvane-cli ctl` and a running relayvane, over a Unix socket in the
// user's private runtime folder. A request is one line, "COMMAND [ARGUMENT]\n"; the answer is one
// line, "OK <JSON object>\n" with the program's state after the command, or "ERROR <message>\n".
// Both sides bound what they read, so a confused peer cannot make the other hoard memory.

#include <QByteArray>
#include <QString>

/// Longest request line the program reads, newline included.
constexpr int kControlMaxRequest = 1024;
/// Longest answer line the command line reads, newline included.
constexpr int kControlMaxReply = 64 * 1024;

/// The control socket of this user's running program: RuntimeFolder() + "/ctl.sock".
QString ControlSocketPath();

/// A failed exchange (nothing listens, no answer in time, an answer that breaks the protocol).
/// Program-side "ERROR" answers are not failures of the channel; they come back as the reply.
struct TControlReply {
    bool Ok = false;    ///< "OK" answer
    QByteArray Payload; ///< the JSON after "OK " or the message after "ERROR "
};

/// Sends Request (one line, no newline in it) to the socket at SocketPath and reads one answer
/// line. Raises Exception with a message for a person when the exchange itself fails.
TControlReply ControlRequest(const QString &SocketPath, const QByteArray &Request, int TimeoutMs);
