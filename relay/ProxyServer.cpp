#include "relay/ProxyServer.h"

#include <chrono>

namespace {

const QByteArray HeadEnd = QByteArrayLiteral("\r\n\r\n");
const QByteArray Crlf = QByteArrayLiteral("\r\n");
const QByteArray TunnelEstablished = QByteArrayLiteral("HTTP/1.1 200 Connection established\r\n\r\n");

qint64 TickCount() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Splits "host:port" at the first colon. The host is stored before the port is converted, so a
// port that is no integer leaves the new host and the old port behind when the error is raised.
void SplitHostPort(const QString &Value, QByteArray &Host, int &Port) {
    const qsizetype colon = Value.indexOf(u':');
    if (colon < 0) {
        Host.clear();
        Port = 0;
        return;
    }
    Host = Value.left(colon).toLatin1();
    Port = StrToInt(QStringView(Value).mid(colon + 1));
}

QString JoinHostPort(const QByteArray &Host, int Port) {
    return QString::fromLatin1(Host) + u':' + QString::number(Port);
}

// Credentials as they travel: base64 of the UTF-8 bytes of "user:pass"; nothing for an empty text.
QByteArray EncodeUserPass(const QString &Value) {
    return Value.isEmpty() ? QByteArray() : Value.toUtf8().toBase64();
}

// Blanks and control characters (codes 0 to 32) off both ends.
QByteArray TrimBytes(const QByteArray &Text) {
    qsizetype b = 0, e = Text.size();
    while (b < e && static_cast<unsigned char>(Text[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(Text[e - 1]) <= 32)
        --e;
    return Text.mid(b, e - b);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TPairedConnectionContext

TPairedConnectionContext::TPairedConnectionContext(const TTcpContextArgs &Args)
    : TTcpServerContext(Args), fOutbound(std::make_unique<TTcpClient>()), fReadList(std::make_unique<TSocketList>()),
      fConnectionReadList(std::make_unique<TSocketList>()), fDataAvailableList(std::make_unique<TSocketList>()) {
    fConnectTimeOut = 30000;
    // Every wait of the pair ends when the server is switched off.
    fOutbound->SetStopSignal(StopSignal());
    fReadList->SetStopSignal(StopSignal());
    fConnectionReadList->SetStopSignal(StopSignal());
}

TPairedConnectionContext::~TPairedConnectionContext() {
    fOutbound.reset();
    fReadList.reset();
    fConnectionReadList.reset();
    fDataAvailableList.reset();
}

void TPairedConnectionContext::SetOutboundClient(std::unique_ptr<TTcpClient> Value) {
    fOutbound = std::move(Value);
    if (fOutbound)
        fOutbound->SetStopSignal(StopSignal());
}

void TPairedConnectionContext::OutboundConnect() {
    TTcpConnection *client = Connection();
    try {
        if (fCurrentDestinationHost != fDestinationHost || fCurrentDestinationPort != fDestinationPort) {
            // The old socket leaves the read list even when its far end has already closed it:
            // a stale descriptor there would be polled as readable for ever.
            if (fOutbound->Handle() >= 0) {
                fReadList->Remove(fOutbound->Handle());
                fOutbound->Disconnect();
            }
            const bool viaProxy = !fProxyHost.isEmpty();
            fOutbound->SetHost(viaProxy ? fProxyHost : fDestinationHost);
            fOutbound->SetPort(viaProxy ? fProxyPort : fDestinationPort);
            fOutbound->SetConnectTimeout(fConnectTimeOut);

            const qint64 t0 = TickCount();
            fOutbound->Connect();
            qint64 timeLeft = fConnectTimeOut - (TickCount() - t0);

            if (fOutbound->Connected() && viaProxy) {
                if (fServer)
                    fServer->SendDebugData(QStringLiteral("TRYING TO CREATE TUNNEL CONNECTION"));
                fOutbound->Write("CONNECT " + fDestinationHost + ':' + QByteArray::number(fDestinationPort) +
                                 " HTTP/1.1" + Crlf);
                if (!fProxyUserPass.isEmpty())
                    fOutbound->Write("Proxy-Authorization: Basic " + fProxyUserPass + Crlf);
                fOutbound->Write(Crlf);
                fConnectionReadList->Clear();
                fConnectionReadList->Add(fOutbound->Handle());

                QByteArray reply;
                while (timeLeft > 0) {
                    if (fConnectionReadList->SelectReadList(*fDataAvailableList,
                                                            static_cast<int>(qMin<qint64>(100, timeLeft))))
                        fOutbound->ReadAvailable();
                    if (!fOutbound->InputBufferIsEmpty())
                        reply += fOutbound->ExtractAll().toLower();
                    timeLeft = fConnectTimeOut - (TickCount() - t0);
                    if (reply.contains(HeadEnd))
                        break;
                    // A proxy that has closed the connection will say no more; waiting out the
                    // budget would only spin on its readable end.
                    if (!fOutbound->Connected())
                        break;
                }
                if (!reply.contains("200 connection established")) {
                    if (!reply.isEmpty())
                        client->Write(reply);
                    throw Exception(QStringLiteral(
                        "Cannot create tunnel conection. Wong user name or password for local proxy server!"));
                }
                if (fServer)
                    fServer->SendDebugData(QStringLiteral("REPLY FROM LOCAL PROXY FOR TUNNEL CONNECTION"));
            }
            fReadList->Add(fOutbound->Handle());
            fCurrentDestinationHost = fDestinationHost;
            fCurrentDestinationPort = fDestinationPort;
        }
        if (fOutbound->Connected() && !fOutbound->InputBufferIsEmpty())
            client->Write(fOutbound->ExtractAll());
    } catch (...) {
        // The server's thread reports the error and ends the connection; the browser only sees
        // its connection closed.
        client->Disconnect();
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// TProxyServer

TProxyServer::TProxyServer(QObject *AOwner) : TTcpServer(AOwner) {
    SetContextClass(ContextClassOf<TPairedConnectionContext>());
}

TProxyServer::~TProxyServer() {
    // The connection threads read the settings below: end them before the members go.
    SetActive(false);
}

QString TProxyServer::GetGatewayProxy() const {
    return JoinHostPort(fGatewayProxyHost, fGatewayProxyPort);
}
void TProxyServer::SetGatewayProxy(const QString &Value) {
    SplitHostPort(Value, fGatewayProxyHost, fGatewayProxyPort);
}
QString TProxyServer::GetGatewayProxyUserPass() const {
    return QString::fromLatin1(fGatewayProxyUserPass);
}
void TProxyServer::SetGatewayProxyUserPass(const QString &Value) {
    fGatewayProxyUserPass = EncodeUserPass(Value);
}
QString TProxyServer::GetLocalProxy() const {
    return JoinHostPort(fLocalProxyHost, fLocalProxyPort);
}
void TProxyServer::SetLocalProxy(const QString &Value) {
    SplitHostPort(Value, fLocalProxyHost, fLocalProxyPort);
}
QString TProxyServer::GetLocalProxyUserPass() const {
    return QString::fromLatin1(fLocalProxyUserPass);
}
void TProxyServer::SetLocalProxyUserPass(const QString &Value) {
    fLocalProxyUserPass = EncodeUserPass(Value);
}

void TProxyServer::SendDebugData(const QString &Data) const {
    if (fDebugData)
        fDebugData(Data);
}

bool TProxyServer::ParseRequest(const QByteArray &Block, QByteArray &Method, QByteArray &Host, int &Port) {
    Host.clear();
    const qsizetype end = Block.indexOf(HeadEnd);
    if (end < 0)
        return false;
    // Through the first CR LF of the terminator, so that every head line keeps its CR LF.
    const QByteArray head = Block.left(end + 2).toLower();
    const qsizetype space = head.indexOf(' ');
    Method = space < 0 ? QByteArray() : head.left(space);
    if (Method == "connect") {
        const qsizetype next = head.indexOf(' ', space + 1);
        if (next < 0)
            return false;
        Host = head.mid(space + 1, next - space - 1);
        Port = 443;
    } else {
        // Only a header line that starts with "host:" names the host: matched anywhere, the text
        // would also be found inside "http://localhost:8080/" or "X-Forwarded-Host:".
        const qsizetype at = head.indexOf("\r\nhost:");
        if (at < 0)
            return false;
        const qsizetype value = at + 7;
        const qsizetype eol = head.indexOf(Crlf, value);
        Host = TrimBytes(head.mid(value, eol - value));
        Port = 80;
    }
    const qsizetype colon = Host.indexOf(':');
    if (colon >= 0) {
        Port = StrToInt(QString::fromLatin1(Host.mid(colon + 1)));
        Host.truncate(colon);
    }
    return true;
}

bool TProxyServer::IsGatewayHost(const QByteArray &Host) const {
    const QString host = QString::fromLatin1(Host);
    for (const QString &item : fGatewayHosts)
        if (!item.isEmpty() && host.contains(item))
            return true;
    return false;
}

QByteArray TProxyServer::AddProxyAuthorization(const QByteArray &Block, const QByteArray &UserPass) {
    const qsizetype end = Block.indexOf(HeadEnd);
    if (end < 0)
        return Block;
    static const QByteArray line = QByteArrayLiteral("\r\nProxy-Authorization: Basic ");
    QByteArray result;
    result.reserve(Block.size() + line.size() + UserPass.size());
    result.append(Block.constData(), end)
        .append(line)
        .append(UserPass)
        .append(Block.constData() + end, Block.size() - end);
    return result;
}

QByteArray TProxyServer::MakeRelativeRequest(const QByteArray &Block) {
    const qsizetype eol = Block.indexOf(Crlf);
    if (eol < 0)
        return Block;
    const qsizetype scheme = Block.indexOf("http://");
    if (scheme < 0 || scheme >= eol)
        return Block;
    const qsizetype slash = Block.indexOf('/', scheme + 7);
    if (slash < 0 || slash > eol)
        return Block;
    QByteArray result = Block;
    result.replace(Block.mid(scheme, slash - scheme), QByteArray());
    return result;
}

int TProxyServer::RouteRequest(TPairedConnectionContext &Context, const QByteArray &Host, int Port) {
    int route;
    const char *text;
    if (!fLocalProxyHost.isEmpty() && IsGatewayHost(Host)) {
        route = 1;
        text = "REQUEST WILL BE TUNNELED VIA LOCAL&GATEWAY PROXY SERVER (";
        Context.fProxyHost = fLocalProxyHost;
        Context.fProxyPort = fLocalProxyPort;
        Context.fProxyUserPass = fLocalProxyUserPass;
        Context.fDestinationHost = fGatewayProxyHost;
        Context.fDestinationPort = fGatewayProxyPort;
        if (!fGatewayProxyUserPass.isEmpty())
            Context.fNetData = AddProxyAuthorization(Context.fNetData, fGatewayProxyUserPass);
    } else if (!fLocalProxyHost.isEmpty()) {
        route = 2;
        text = "REQUEST WILL BE TUNNELED VIA LOCAL PROXY SERVER (";
        Context.fProxyHost.clear();
        Context.fDestinationHost = fLocalProxyHost;
        Context.fDestinationPort = fLocalProxyPort;
        if (!fLocalProxyUserPass.isEmpty())
            Context.fNetData = AddProxyAuthorization(Context.fNetData, fLocalProxyUserPass);
    } else if (IsGatewayHost(Host)) {
        route = 3;
        text = "REQUEST WILL BE TUNNELED VIA GATEWAY PROXY SERVER (";
        Context.fDestinationHost = fGatewayProxyHost;
        Context.fDestinationPort = fGatewayProxyPort;
        if (!fGatewayProxyUserPass.isEmpty())
            Context.fNetData = AddProxyAuthorization(Context.fNetData, fGatewayProxyUserPass);
    } else {
        route = 4;
        text = "REQUEST WILL BE SEND DIRECTLY (";
        Context.fDestinationHost = Host;
        Context.fDestinationPort = Port;
        Context.fNetData = MakeRelativeRequest(Context.fNetData);
    }
    if (DebugEnabled())
        SendDebugData(QLatin1String(text) + QString::fromLatin1(Host) + u')');
    return route;
}

void TProxyServer::ContextCreated(TTcpServerContext *AContext) {
    if (auto *context = dynamic_cast<TPairedConnectionContext *>(AContext))
        context->SetServer(this);
}

void TProxyServer::DoConnect(TTcpServerContext *AContext) {
    auto &context = static_cast<TPairedConnectionContext &>(*AContext);
    context.fReadList->Clear();
    context.fReadList->Add(AContext->Connection()->Handle());
}

void TProxyServer::DoDisconnect(TTcpServerContext *AContext) {
    TTcpServer::DoDisconnect(AContext);
    auto &context = static_cast<TPairedConnectionContext &>(*AContext);
    if (context.fOutbound && context.fOutbound->Connected())
        context.fOutbound->Disconnect();
}

bool TProxyServer::DoExecute(TTcpServerContext *AContext) {
    auto &context = static_cast<TPairedConnectionContext &>(*AContext);
    TTcpConnection *client = AContext->Connection();
    TTcpClient *outbound = context.fOutbound.get();

    // An established tunnel only carries bytes: they go from socket to socket inside the kernel.
    // The debug texts need the bytes themselves, so with a debug handler they take the copying
    // path below; so do bytes still buffered from before the tunnel stood.
    const bool splice = context.fDirectTunnel && !DebugEnabled() && client->InputBufferIsEmpty() &&
                        outbound->InputBufferIsEmpty() && outbound->Connected();
    if (context.fReadList->SelectReadList(*context.fDataAvailableList, 1000)) {
        if (client->Connected() && context.fDataAvailableList->Contains(client->Handle()))
            splice ? client->SpliceTo(*outbound) : client->ReadAvailable();
        if (outbound->Connected() && context.fDataAvailableList->Contains(outbound->Handle()))
            splice ? outbound->SpliceTo(*client) : outbound->ReadAvailable();
    }
    if (splice)
        return outbound->Connected() && client->Connected();

    if (client->Connected() && !client->InputBufferIsEmpty()) {
        context.fNetData = client->ExtractAll();
        QByteArray method;
        QByteArray host;
        int port = 0;
        if (!context.fDirectTunnel) {
            // A block that does not parse goes the way the previous block of this connection went.
            if (ParseRequest(context.fNetData, method, host, port))
                RouteRequest(context, host, port);
            if (DebugEnabled())
                SendDebugData(QStringLiteral("TRYING TO ESTABLISH OUTGOING CONNECTION"));
            context.OutboundConnect();
        }
        if (outbound->Connected()) {
            if (method != "connect") {
                outbound->Write(context.fNetData);
            } else {
                // The pair leads to an upstream proxy unless it leads to the requested host and
                // port themselves; the host alone would mistake a proxy on the requested machine
                // (another port of the same address) for the destination.
                if (context.fDestinationHost != host || context.fDestinationPort != port)
                    outbound->Write(context.fNetData); // the upstream proxy answers the CONNECT itself
                else
                    client->Write(TunnelEstablished);
                context.fDirectTunnel = true;
            }
        }
        if (DebugEnabled())
            SendDebugData(QStringLiteral("USER > OUTSIDE \r\n") + QString::fromLatin1(context.fNetData));
    }

    if (outbound->Connected() && !outbound->InputBufferIsEmpty()) {
        context.fNetData = outbound->ExtractAll();
        if (client->Connected())
            client->Write(context.fNetData);
        if (DebugEnabled())
            SendDebugData(QStringLiteral("OUTSIDE > USER\r\n") + QString::fromLatin1(context.fNetData));
    }

    return outbound->Connected() && client->Connected();
}
