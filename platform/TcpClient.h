#pragma once
// The outbound TCP client: a connection that makes its own socket to a host and port, with a
// time-out on the connect.

#include "platform/TcpConnection.h"

#include <QByteArray>

/// A TCP client: set Host, Port and ConnectTimeout, then Connect().
class TTcpClient : public TTcpConnection {
public:
    TTcpClient() = default;

    const QByteArray &Host() const { return FHost; }
    void SetHost(const QByteArray &Host) { FHost = Host; }
    int Port() const { return FPort; }
    void SetPort(int Port) { FPort = Port; }
    /// Milliseconds allowed for name look-up and connect together; 0 or less waits as long as the
    /// system does.
    int ConnectTimeout() const { return FConnectTimeout; }
    void SetConnectTimeout(int Ms) { FConnectTimeout = Ms; }

    /// Connects to Host:Port, trying each address the name resolves to in turn; closes any
    /// earlier socket first. Raises ETcpError (ETcpTimeout when time ran out) on failure.
    void Connect();

private:
    QByteArray FHost;
    int FPort = 0;
    int FConnectTimeout = 0;
};
