#pragma once
// Control of a running program from outside (`relayvane-cli ctl`): a Unix socket in the user's
// private runtime folder, mode 0600, speaking the one-line protocol of platform/ControlChannel.h.
// Commands run the very handlers the hotkeys run, on the main thread, with this server as their
// sender (so a switch asked for here drops the proxy being left when the settings say so, as a
// hotkey's switch does).

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class TMainForm;

/// The program's control socket server.
class TControlServer : public QObject {
    Q_OBJECT

public:
    explicit TControlServer(TMainForm &Form, QObject *Owner = nullptr);
    ~TControlServer() override;

    /// Listens on SocketPath (default ControlSocketPath()). A file left there by an ended run is
    /// replaced; call only while holding the instance lock. Raises Exception on failure.
    void Listen(const QString &SocketPath = QString());
    QString SocketPath() const { return FPath; }

    /// Runs one request line (without its newline) and returns the answer line (without newline).
    QByteArray Execute(const QByteArray &Request);
    /// The program's state as a JSON object: ActiveProxy, Country, CountryCode, Enabled,
    /// FUSerProxyCount, FVipProxyCount, DownloadProxy.
    QByteArray StateJson() const;

private:
    void OnNewConnection();
    void OnReadyRead(QLocalSocket *Socket);
    static void Answer(QLocalSocket *Socket, const QByteArray &Line);

    TMainForm &FForm;
    QLocalServer *FServer = nullptr;
    QString FPath;
    int FClients = 0;
};
