#include "app/ControlServer.h"

#include "app/MainFormCode.h"
#include "catalogue/Marlo.Common.ProxyList.h"
#include "config/ProgramConfig.h"
#include "platform/ControlChannel.h"
#include "platform/SysUtils.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

namespace {

// A handful of scripts at once is plenty; beyond that a client is turned away at once.
constexpr int kMaxClients = 16;
// A client that connects and says nothing does not keep its slot for ever.
constexpr int kIdleMs = 10000;

QString Address(const TProxtData *P) {
    return P->IP() + u':' + QString::number(P->Port());
}

QByteArray ErrorLine(const QString &Msg) {
    QString OneLine = Msg;
    OneLine.replace(u'\n', u' ').replace(u'\r', u' ');
    return "ERROR " + OneLine.toUtf8();
}

} // namespace

TControlServer::TControlServer(TMainForm &Form, QObject *Owner) : QObject(Owner), FForm(Form) {}

TControlServer::~TControlServer() {
    // QLocalServer removes its socket file when it closes.
    if (FServer)
        FServer->close();
}

void TControlServer::Listen(const QString &SocketPath) {
    FPath = SocketPath.isEmpty() ? ControlSocketPath() : SocketPath;
    delete FServer;
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    FServer->setMaxPendingConnections(kMaxClients);
    // The instance lock says no other copy of ours listens here: what is left is a stale file.
    QLocalServer::removeServer(FPath);
    if (!FServer->listen(FPath))
        throw Exception(
            QStringLiteral("cannot listen on the control socket %1: %2").arg(FPath, FServer->errorString()));
    // Read and write for the owner only; the folder around it is private as well.
    QFile::setPermissions(FPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    connect(FServer, &QLocalServer::newConnection, this, &TControlServer::OnNewConnection);
}

void TControlServer::OnNewConnection() {
    while (QLocalSocket *Socket = FServer->nextPendingConnection()) {
        connect(Socket, &QLocalSocket::disconnected, Socket, &QObject::deleteLater);
        if (FClients >= kMaxClients) {
            Answer(Socket, ErrorLine(QStringLiteral("busy: too many control connections")));
            continue;
        }
        ++FClients;
        connect(Socket, &QObject::destroyed, this, [this] { --FClients; });
        auto *Idle = new QTimer(Socket);
        Idle->setSingleShot(true);
        connect(Idle, &QTimer::timeout, Socket, [Socket] {
            Socket->abort();
            Socket->deleteLater();
        });
        Idle->start(kIdleMs);
        connect(Socket, &QLocalSocket::readyRead, this, [this, Socket] { OnReadyRead(Socket); });
        // Bytes that came with the connection itself.
        if (Socket->bytesAvailable() > 0)
            QMetaObject::invokeMethod(
                this,
                [this, P = QPointer<QLocalSocket>(Socket)] {
                    if (P)
                        OnReadyRead(P);
                },
                Qt::QueuedConnection);
    }
}

void TControlServer::OnReadyRead(QLocalSocket *Socket) {
    if (Socket->property("answered").toBool())
        return;
    if (!Socket->canReadLine()) {
        if (Socket->bytesAvailable() >= kControlMaxRequest) {
            Socket->setProperty("answered", true);
            Answer(Socket, ErrorLine(QStringLiteral("request too long")));
        }
        return;
    }
    const QByteArray Line = Socket->readLine(kControlMaxRequest + 1);
    Socket->setProperty("answered", true);
    if (!Line.endsWith('\n')) {
        Answer(Socket, ErrorLine(QStringLiteral("request too long")));
        return;
    }
    QPointer<QLocalSocket> Alive(Socket);
    // A handler may show a modal dialog; the socket may be gone by the time it returns.
    const QByteArray Reply = Execute(Line.trimmed());
    if (Alive)
        Answer(Alive, Reply);
}

void TControlServer::Answer(QLocalSocket *Socket, const QByteArray &Line) {
    Socket->write(Line + '\n');
    Socket->flush();
    Socket->disconnectFromServer();
}

QByteArray TControlServer::StateJson() const {
    QJsonObject O;
    const TProxtData *P = FForm.ActiveProxy;
    O.insert(QStringLiteral("ActiveProxy"), P ? QJsonValue(Address(P)) : QJsonValue());
    O.insert(QStringLiteral("Country"), P ? P->Country() : QString());
    O.insert(QStringLiteral("CountryCode"), P ? P->CountryCode() : QString());
    O.insert(QStringLiteral("Enabled"), FForm.ProgramConfig ? FForm.ProgramConfig->Enabled() : false);
    O.insert(QStringLiteral("FUSerProxyCount"), FForm.FUSerProxyCount);
    O.insert(QStringLiteral("FVipProxyCount"), FForm.FVipProxyCount);
    O.insert(QStringLiteral("DownloadProxy"), FForm.DownloadProxy);
    return QJsonDocument(O).toJson(QJsonDocument::Compact);
}

QByteArray TControlServer::Execute(const QByteArray &Request) {
    const QString Text = QString::fromUtf8(Request).simplified();
    const int Blank = Text.indexOf(u' ');
    const QString Command = Blank < 0 ? Text : Text.left(Blank);
    const QString Argument = Blank < 0 ? QString() : Text.mid(Blank + 1);
    auto NoArgument = [&] { return Argument.isEmpty(); };
    try {
        if (Command == QLatin1String("status") && NoArgument()) {
        } else if (Command == QLatin1String("enable") && NoArgument()) {
            FForm.EnableProxyClick(this);
        } else if (Command == QLatin1String("switch") && NoArgument()) {
            FForm.SwitchProxyClick(this);
        } else if (Command == QLatin1String("delete") && NoArgument()) {
            FForm.DeleteProxyClick(this);
        } else if (Command == QLatin1String("download") && NoArgument()) {
            FForm.LoadProxyClick(this);
        } else if (Command == QLatin1String("use") && !Argument.isEmpty() && !Argument.contains(u' ')) {
            TMenuItemEx *Entry = nullptr;
            if (FForm.SelectProxy) {
                for (int i = 0; i < FForm.SelectProxy->Count() && !Entry; ++i) {
                    TMenuItemEx *Item = FForm.SelectProxy->Items(i);
                    if (Item->Data() && Address(Item->Data()) == Argument)
                        Entry = Item;
                }
            }
            if (!Entry)
                return ErrorLine(QStringLiteral("%1 is not in the proxy menu").arg(Argument));
            FForm.ProxyClicked(Entry);
        } else if (Command.isEmpty()) {
            return ErrorLine(QStringLiteral("empty request"));
        } else if (QStringList{"status", "enable", "switch", "delete", "download"}.contains(Command)) {
            return ErrorLine(QStringLiteral("%1 takes no argument").arg(Command));
        } else if (Command == QLatin1String("use")) {
            return ErrorLine(QStringLiteral("use needs one IP:PORT"));
        } else {
            return ErrorLine(QStringLiteral("unknown command '%1'").arg(Command.left(64)));
        }
    } catch (const Exception &E) {
        return ErrorLine(E.Message());
    } catch (const std::exception &E) {
        return ErrorLine(QString::fromLocal8Bit(E.what()));
    }
    return "OK " + StateJson();
}
