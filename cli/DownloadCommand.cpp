// relayvane-cli download: the program's list download without a window. It reads the
// configuration, downloads from the configured source (the list service or the custom URL) with
// the active proxy kept, switches the menu filter off and saves the configuration.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "cli/CliCommand.h"
#include "cli/ProgressLine.h"
#include "config/ConfigFile.h"
#include "config/ProgramConfig.h"
#include "platform/ServiceEndpoints.h"
#include "platform/SysUtils.h"
#include "sourcing/ProxyListDownload.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

const char *const kDownloadHelp =
    "usage: relayvane-cli download [--config FILE] [--json]\n"
    "\n"
    "Downloads a fresh proxy list into the configuration, as the program's \"Download proxy servers\"\n"
    "item does: from the list service with the configured filters (country, port, type, SSL, POST,\n"
    "speed, ping, uptime) when UseListService is true, otherwise from CustomURL (any text with\n"
    "address and port pairs). The active proxy (ActiveProxyServer) stays in the list; the proxy\n"
    "filter of the menu is switched off; the configuration is saved.\n"
    "\n"
    "Options:\n"
    "  --config FILE   the configuration file; default: $RELAYVANE_CONFIG, else config.cfg next to\n"
    "                  the program when that folder is writable, else\n"
    "                  $XDG_CONFIG_HOME/relayvane/config.cfg\n"
    "  --json          print {\"total\": N, \"config\": FILE} instead of the sentence\n"
    "  -h, --help      show this help\n"
    "\n"
    "The list service's address is $RELAYVANE_SERVICE (default http://127.0.0.1:8731).\n"
    "On success prints \"Total proxy servers downloaded: N\". On failure (no connection, an HTTP\n"
    "error, a damaged reply, a list that cannot be read, or the list service's own error reply)\n"
    "prints \"Cannot download proxy list\" and the reason on stderr, leaves the saved\n"
    "configuration as it was, and exits with status 1.\n";

const QString kCannot = QStringLiteral("Cannot download proxy list");

int Fail(const QString &Reason) {
    return CliFail(kCannot + QStringLiteral(": ") + Reason);
}

/// Keeps the list service's error reply; the download then counts as failed.
struct TServiceWarning : IWarningSink {
    bool Called = false;
    QString Message, Link;
    void ShowWarningMessage(const QString &Msg, const QString &Url) override {
        Called = true;
        Message = Msg;
        Link = Url;
    }
};

/// Bytes received so far on one terminal line, at most ten times a second.
class TProgress {
public:
    TProgress() { FTimer.start(); }
    bool Update(qint64 Received, qint64 Total) {
        if (!FLine.Enabled() || Received <= 0 || (FTimer.elapsed() < 100 && Received != Total))
            return true;
        FTimer.restart();
        QString line = QStringLiteral("Downloading proxy list... %1 KiB").arg(double(Received) / 1024.0, 0, 'f', 1);
        if (Total > 0)
            line += QStringLiteral(" of %1 KiB (%2%)")
                        .arg(double(Total) / 1024.0, 0, 'f', 1)
                        .arg(int(100 * Received / Total));
        FLine.Show(line);
        return true;
    }
    void Clear() { FLine.Clear(); }

private:
    TProgressLine FLine;
    QElapsedTimer FTimer;
};

/// The record of the configuration's active proxy ("IP:port"), in the downloaded list or the user's.
const TProxtData *FindActiveProxy(const TProgramConfig &Config) {
    const QString wanted = Config.ActiveProxyServer();
    if (wanted.isEmpty())
        return nullptr;
    for (const TProxyCollection *list : {Config.ProxyList(), Config.ProxyListUser()})
        for (int i = 0; i < list->Count(); ++i) {
            const TProxtData *p = list->Items(i);
            if (p->IP() + QLatin1Char(':') + QString::number(p->Port()) == wanted)
                return p;
        }
    return nullptr;
}

int RunDownload(const QStringList &Args) {
    if (CliWantsHelp(Args)) {
        QTextStream(stdout) << kDownloadHelp;
        return 0;
    }
    bool json = false;
    for (int i = 0; i < Args.size(); ++i) {
        const QString &a = Args[i];
        if (a == QLatin1String("--json"))
            json = true;
        else if (a == QLatin1String("--config") && i + 1 < Args.size())
            ++i;
        else if (a == QLatin1String("--config"))
            return CliFail(QStringLiteral("download: --config needs a FILE"));
        else if (!a.startsWith(QLatin1String("--config=")))
            return CliFail(
                QStringLiteral("download: unknown argument '%1'; see 'relayvane-cli download --help'").arg(a));
    }
    const QString path = ConfigFilePath(ConfigOptionFromArguments(Args));

    TProgramConfig config;
    try {
        // A file that cannot be read is reported and left alone; it is not replaced by defaults.
        config.LoadFromFile(path);
    } catch (const Exception &e) {
        return Fail(e.Message());
    }

    TServiceWarning warning;
    config.ProxyList()->SetWarningSink(&warning);
    TProgress progress;
    TListDownloadOptions options;
    options.OnWork = [&progress](qint64 Received, qint64 Total) { return progress.Update(Received, Total); };
    try {
        DownloadProxyList(config, FindActiveProxy(config), options);
    } catch (const EProxyListDownloadError &e) {
        progress.Clear();
        return Fail(e.Message());
    }
    progress.Clear();
    if (warning.Called) {
        // The service refused the request (a filter it does not know, say). The program shows
        // this as a warning and keeps only the active proxy; here nothing is saved instead, so a
        // script's saved list is not emptied by a refusal.
        QString reason = QStringLiteral("the list service says: ") + warning.Message;
        if (!warning.Link.isEmpty())
            reason += QStringLiteral(" (") + warning.Link + QLatin1Char(')');
        return Fail(reason);
    }

    config.ProxyFilter()->SetActive(false);
    try {
        config.SaveToFile(path);
    } catch (const Exception &e) {
        return Fail(e.Message());
    }
    const int total = config.ProxyList()->Count();
    QTextStream out(stdout);
    if (json)
        out << QJsonDocument(QJsonObject{{QStringLiteral("total"), total}, {QStringLiteral("config"), path}})
                   .toJson(QJsonDocument::Compact)
            << '\n';
    else
        out << "Total proxy servers downloaded: " << total << '\n';
    return 0;
}

const TCliRegistrar kRegistrar{{"download", "download a fresh proxy list into the configuration", RunDownload}};

} // namespace
