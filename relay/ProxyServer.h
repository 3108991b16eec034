#pragma once
// The relay proxy: an HTTP proxy inside the program that forwards every browser connection along
// one of four routes — through the local proxy and, in a tunnel there, to the gateway; to the
// local proxy alone; to the gateway alone; or straight to the web server — and never answers a
// browser with an error page of its own.

#include "platform/SocketList.h"
#include "platform/TcpClient.h"
#include "platform/TcpServer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

/// Receives the relay's debug texts; called from connection threads, several at once.
using TPsDebugData = std::function<void(const QString &Data)>;

class TProxyServer;

/// One browser connection and its outbound connection (web server, gateway or local proxy), the
/// block of bytes in hand, where the outbound side must lead, and whether the pair is a tunnel.
class TPairedConnectionContext : public TTcpServerContext {
public:
    explicit TPairedConnectionContext(const TTcpContextArgs &Args);
    ~TPairedConnectionContext() override;

    /// Makes the outbound side lead to the destination: keeps the open connection when the
    /// destination is unchanged, otherwise connects anew, through a CONNECT tunnel of the proxy
    /// in the proxy fields when one is set. On any error the client is disconnected and the
    /// error raised again.
    void OutboundConnect();

    int ConnectTimeOut() const { return fConnectTimeOut; }
    void SetConnectTimeOut(int Value) { fConnectTimeOut = Value; }
    TTcpClient *OutboundClient() const { return fOutbound.get(); }
    void SetOutboundClient(std::unique_ptr<TTcpClient> Value);
    TSocketList &ReadList() const { return *fReadList; }
    TProxyServer *Server() const { return fServer; }
    void SetServer(TProxyServer *Value) { fServer = Value; }

    /// The block of bytes in hand.
    const QByteArray &NetData() const { return fNetData; }
    void SetNetData(const QByteArray &Value) { fNetData = Value; }
    // Where the routing has pointed the pair.
    const QByteArray &ProxyHost() const { return fProxyHost; }
    int ProxyPort() const { return fProxyPort; }
    const QByteArray &ProxyUserPass() const { return fProxyUserPass; }
    const QByteArray &DestinationHost() const { return fDestinationHost; }
    int DestinationPort() const { return fDestinationPort; }
    bool DirectTunnel() const { return fDirectTunnel; }

private:
    friend class TProxyServer;

    std::unique_ptr<TTcpClient> fOutbound;
    std::unique_ptr<TSocketList> fReadList;
    std::unique_ptr<TSocketList> fConnectionReadList;
    std::unique_ptr<TSocketList> fDataAvailableList;
    int fConnectTimeOut = 30000;
    QByteArray fNetData;
    QByteArray fProxyHost;
    int fProxyPort = 0;
    QByteArray fProxyUserPass;
    QByteArray fDestinationHost;
    int fDestinationPort = 0;
    QByteArray fCurrentDestinationHost;
    int fCurrentDestinationPort = 0;
    bool fDirectTunnel = false;
    TProxyServer *fServer = nullptr;
};

/// The relay server. Its settings are written only while it is not active, so the connection
/// threads read them without locking.
class TProxyServer : public TTcpServer {
    Q_OBJECT
    Q_PROPERTY(QString GatewayProxy READ GetGatewayProxy WRITE SetGatewayProxy)
    Q_PROPERTY(QString GatewayProxyUserPass READ GetGatewayProxyUserPass WRITE SetGatewayProxyUserPass)
    Q_PROPERTY(QString LocalProxy READ GetLocalProxy WRITE SetLocalProxy)
    Q_PROPERTY(QString LocalProxyUserPass READ GetLocalProxyUserPass WRITE SetLocalProxyUserPass)
    Q_PROPERTY(QStringList GatewayHosts READ GetGatewayHosts WRITE SetGatewayHosts)

public:
    explicit TProxyServer(QObject *AOwner = nullptr);
    ~TProxyServer() override;

    /// "host:port" of the gateway, ":0" when none is set. Writing splits at the first ":"; a
    /// text without one clears host and port; a port that is no integer raises EConvertError
    /// after the host has been stored, and the port keeps its value.
    QString GetGatewayProxy() const;
    void SetGatewayProxy(const QString &Value);
    /// The credentials as they are sent: base64 of "user:pass" (written as plain "user:pass").
    QString GetGatewayProxyUserPass() const;
    void SetGatewayProxyUserPass(const QString &Value);
    QString GetLocalProxy() const;
    void SetLocalProxy(const QString &Value);
    QString GetLocalProxyUserPass() const;
    void SetLocalProxyUserPass(const QString &Value);
    /// Host fragments: a requested host that contains one of them goes via the gateway.
    QStringList GetGatewayHosts() const { return fGatewayHosts; }
    void SetGatewayHosts(const QStringList &Value) { fGatewayHosts = Value; }
    /// The list itself, to edit in place.
    QStringList &GatewayHosts() { return fGatewayHosts; }

    TPsDebugData OnDebugData() const { return fDebugData; }
    void SetOnDebugData(TPsDebugData Value) { fDebugData = std::move(Value); }

    // The request-level operations work on bytes alone, so they are tested and fuzzed directly.

    /// Finds method and host of the request head in Block (lower-cased); the port is 443 for
    /// CONNECT, else 80, unless the host names one; other methods take the host from the Host
    /// header line. False without a complete head, a CONNECT without a target, or another request
    /// without a Host line. Raises EConvertError when the
    /// port is no integer.
    static bool ParseRequest(const QByteArray &Block, QByteArray &Method, QByteArray &Host, int &Port);
    /// True when one of GatewayHosts occurs in Host.
    bool IsGatewayHost(const QByteArray &Host) const;
    /// Inserts "Proxy-Authorization: Basic " + UserPass as the last header line of Block.
    static QByteArray AddProxyAuthorization(const QByteArray &Block, const QByteArray &UserPass);
    /// Turns the absolute address of the request line into a path, deleting the same
    /// "http://authority" prefix wherever it occurs in Block.
    static QByteArray MakeRelativeRequest(const QByteArray &Block);
    /// Points the pair along the route for a parsed request and rewrites its block; returns the
    /// route taken, 1 to 4.
    int RouteRequest(TPairedConnectionContext &Context, const QByteArray &Host, int Port);

    /// Hands Data to the debug handler, if one is set.
    void SendDebugData(const QString &Data) const;
    /// Whether a debug handler is set; texts are only built when somebody reads them.
    bool DebugEnabled() const { return static_cast<bool>(fDebugData); }

protected:
    void ContextCreated(TTcpServerContext *AContext) override;
    void DoConnect(TTcpServerContext *AContext) override;
    void DoDisconnect(TTcpServerContext *AContext) override;
    bool DoExecute(TTcpServerContext *AContext) override;

private:
    QByteArray fGatewayProxyHost;
    int fGatewayProxyPort = 0;
    QByteArray fGatewayProxyUserPass;
    QByteArray fLocalProxyHost;
    int fLocalProxyPort = 0;
    QByteArray fLocalProxyUserPass;
    TPsDebugData fDebugData;
    QStringList fGatewayHosts;
};
