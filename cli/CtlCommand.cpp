// relayvane-cli ctl: drives this user's running relayvane through its control socket, with the
// same handlers the hotkeys run, and reports the program's state afterwards.

#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "platform/ControlChannel.h"
#include "platform/SysUtils.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

const char *const kCtlHelp =
    "usage: relayvane-cli ctl COMMAND [--json] [--socket PATH] [--timeout SECONDS]\n"
    "\n"
    "Controls the relayvane that runs for this user, as its menu items and hotkeys do, and prints\n"
    "its state afterwards.\n"
    "\n"
    "Commands:\n"
    "  status          only print the state\n"
    "  enable          switch proxying on, or off when it is on (CTRL+SHIFT+E)\n"
    "  switch          move to a proxy of the menu picked at random (CTRL+SHIFT+S)\n"
    "  delete          delete the active proxy from its list (CTRL+SHIFT+D)\n"
    "  download        start downloading a fresh proxy list (CTRL+SHIFT+R); 'status' shows when\n"
    "                  it has ended\n"
    "  use IP:PORT     make the proxy menu's entry IP:PORT the active proxy and switch proxying on\n"
    "\n"
    "The state: the active proxy with its country, whether proxying is on (Enabled), how many\n"
    "entries of the user's list (FUSerProxyCount) and of the downloaded list (FVipProxyCount) the\n"
    "proxy menu holds, and whether a download runs (DownloadProxy).\n"
    "\n"
    "Options:\n"
    "  --json              print the state as one JSON object\n"
    "  --socket PATH       the control socket; default: $XDG_RUNTIME_DIR/relayvane/ctl.sock, or\n"
    "                      /tmp/relayvane-UID/ctl.sock without a runtime folder\n"
    "  --timeout SECONDS   how long to wait for the answer (default 30; a warning the program\n"
    "                      shows in a window waits for the person to close it)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 when the command ran, 1 when the program refused it (an unknown menu entry,\n"
    "...) or cannot be reached (one line on stderr), 2 for bad usage.\n";

int Usage(const QString &Msg) {
    CliFail(QStringLiteral("ctl: %1; see 'relayvane-cli ctl --help'").arg(Msg));
    return 2;
}

QString Text(const QJsonObject &O, const char *Key) {
    return O.value(QLatin1String(Key)).toString();
}

void PrintState(const QJsonObject &O, bool Json) {
    if (Json) {
        QByteArray Out = "{\n  \"ActiveProxy\": ";
        if (O.value(QLatin1String("ActiveProxy")).isString())
            AppendJsonString(Out, Text(O, "ActiveProxy"));
        else
            Out += "null";
        Out += ",\n  \"Country\": ";
        AppendJsonString(Out, Text(O, "Country"));
        Out += ",\n  \"CountryCode\": ";
        AppendJsonString(Out, Text(O, "CountryCode"));
        Out += ",\n  \"Enabled\": ";
        Out += O.value(QLatin1String("Enabled")).toBool() ? "true" : "false";
        Out += ",\n  \"FUSerProxyCount\": " + QByteArray::number(O.value(QLatin1String("FUSerProxyCount")).toInt());
        Out += ",\n  \"FVipProxyCount\": " + QByteArray::number(O.value(QLatin1String("FVipProxyCount")).toInt());
        Out += ",\n  \"DownloadProxy\": ";
        Out += O.value(QLatin1String("DownloadProxy")).toBool() ? "true" : "false";
        Out += "\n}\n";
        std::fwrite(Out.constData(), 1, static_cast<size_t>(Out.size()), stdout);
        return;
    }
    QTextStream S(stdout);
    QString Active = QStringLiteral("none");
    if (O.value(QLatin1String("ActiveProxy")).isString()) {
        Active = Text(O, "ActiveProxy");
        const QString Country = Text(O, "Country");
        const QString Code = Text(O, "CountryCode");
        if (!Country.isEmpty())
            Active += QStringLiteral(" (%1%2)").arg(Country, Code.isEmpty() ? QString() : QStringLiteral(", ") + Code);
    }
    S << "Active proxy:       " << Active << "\n"
      << "Proxying:           " << (O.value(QLatin1String("Enabled")).toBool() ? "on" : "off") << "\n"
      << "User proxies:       " << O.value(QLatin1String("FUSerProxyCount")).toInt() << "\n"
      << "Downloaded proxies: " << O.value(QLatin1String("FVipProxyCount")).toInt() << "\n"
      << "Downloading:        " << (O.value(QLatin1String("DownloadProxy")).toBool() ? "yes" : "no") << "\n";
}

int RunCtl(const QStringList &Args) {
    if (CliWantsHelp(Args)) {
        std::fputs(kCtlHelp, stdout);
        return 0;
    }
    bool Json = false;
    QString Socket;
    int TimeoutMs = 30000;
    QStringList Words;
    for (int i = 0; i < Args.size(); ++i) {
        const QString &A = Args[i];
        if (A == QLatin1String("--json")) {
            Json = true;
        } else if (A == QLatin1String("--socket")) {
            if (i + 1 >= Args.size() || Args[i + 1].isEmpty())
                return Usage(QStringLiteral("--socket needs a PATH"));
            Socket = Args[++i];
        } else if (A == QLatin1String("--timeout")) {
            bool Ok = false;
            const double Seconds = i + 1 < Args.size() ? Args[i + 1].toDouble(&Ok) : 0;
            if (!Ok || Seconds <= 0 || Seconds > 86400)
                return Usage(QStringLiteral("--timeout needs a number of seconds (up to 86400)"));
            ++i;
            TimeoutMs = static_cast<int>(Seconds * 1000);
        } else if (A.startsWith(u'-')) {
            return Usage(QStringLiteral("unknown argument '%1'").arg(A));
        } else {
            Words << A;
        }
    }
    if (Words.isEmpty())
        return Usage(QStringLiteral("a COMMAND is needed"));
    const QString Command = Words.first();
    static const QStringList kPlain{"status", "enable", "switch", "delete", "download"};
    if (kPlain.contains(Command)) {
        if (Words.size() != 1)
            return Usage(QStringLiteral("%1 takes no argument").arg(Command));
    } else if (Command == QLatin1String("use")) {
        if (Words.size() != 2)
            return Usage(QStringLiteral("use needs one IP:PORT"));
        const QString &Entry = Words[1];
        const int Colon = Entry.lastIndexOf(u':');
        bool Ok = false;
        const int Port = Colon > 0 ? Entry.mid(Colon + 1).toInt(&Ok) : 0;
        if (!Ok || Port < 1 || Port > 65535)
            return Usage(QStringLiteral("'%1' is not IP:PORT").arg(Entry));
    } else {
        return Usage(QStringLiteral("unknown command '%1'").arg(Command));
    }

    const TControlReply Reply =
        ControlRequest(Socket.isEmpty() ? ControlSocketPath() : Socket, Words.join(u' ').toUtf8(), TimeoutMs);
    if (!Reply.Ok)
        return CliFail(QStringLiteral("ctl: ") + QString::fromUtf8(Reply.Payload));
    QJsonParseError Error{};
    const QJsonDocument Doc = QJsonDocument::fromJson(Reply.Payload, &Error);
    if (Error.error != QJsonParseError::NoError || !Doc.isObject())
        return CliFail(QStringLiteral("ctl: relayvane's answer is not the state it should be"));
    PrintState(Doc.object(), Json);
    return 0;
}

const TCliRegistrar kCtlRegistrar{{"ctl", "control the running relayvane: status, enable, switch, use ...", RunCtl}};

} // namespace
