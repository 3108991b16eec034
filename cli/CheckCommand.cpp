// relayvane-cli check: the proxy checker without a window. It checks the configuration's two lists
// (or a list file) with the checker's workers, shows progress on a terminal, rates the proxies as
// the checker window does, prints the results and, when asked, stores them into the configuration.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "checker/CheckerSites.h"
#include "checker/Marlo.Common.ProxyTest.h"
#include "checker/ProxyRating.h"
#include "cli/CliCommand.h"
#include "cli/ProgressLine.h"
#include "config/ConfigFile.h"
#include "config/ProgramConfig.h"
#include "platform/SysUtils.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QTextStream>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

const char *const kCheckHelp =
    "usage: relayvane-cli check [--config FILE | --list FILE] [--threads N] [--timeout S]\n"
    "                           [--speed-timeout S] [--tests alive,info,botnet,https,speed]\n"
    "                           [--sites FILE] [--json] [--save]\n"
    "\n"
    "Checks proxies with the proxy checker: whether each one is alive (a known page comes back with\n"
    "its phrase), its anonymity type, bot-net flag, ping and POST support (the judge), whether an\n"
    "HTTPS page loads through it (a CONNECT tunnel) and its download speed. Then rates every proxy\n"
    "from 0 to 5 as the checker window does and prints one row per proxy.\n"
    "\n"
    "Options:\n"
    "  --config FILE        check both lists of this configuration (default: $RELAYVANE_CONFIG, else\n"
    "                       config.cfg next to the program when that folder is writable, else\n"
    "                       $XDG_CONFIG_HOME/relayvane/config.cfg)\n"
    "  --list FILE          check the proxies of a list file instead (any text with ip:port pairs)\n"
    "  --threads N          worker threads, 1 to 100 (default 5)\n"
    "  --timeout S          read time-out of the ordinary requests, 1 to 60 seconds (default 10)\n"
    "  --speed-timeout S    read time-out of the speed download, 1 to 60 seconds (default 30)\n"
    "  --tests LIST         comma-separated: alive (always done), info (judge test), botnet (the judge\n"
    "                       test for every proxy, with the bot-net query; without it only untested\n"
    "                       proxies go to the judge), https, speed (default: all of them)\n"
    "  --sites FILE         test sites as JSON, replacing the built-in ones as a whole:\n"
    "                       {\"judges\": [URL...], \"http\": [{\"url\": URL, \"keyword\": TEXT}...],\n"
    "                        \"speed\": [URL...], \"https\": [{\"url\": URL, \"keyword\": TEXT}...]}\n"
    "  --json               print a JSON array with every published property of each proxy\n"
    "  --save               store the results and ratings into the configuration (not with --list)\n"
    "  -h, --help           show this help\n"
    "\n"
    "The judges are $RELAYVANE_JUDGE/type.php and $RELAYVANE_SERVICE/engine/type.php (default base\n"
    "http://127.0.0.1:8731). Ctrl+C stops the check: running tests get 5 seconds to finish, then\n"
    "their connections are closed; the results so far are printed (and saved with --save) and the\n"
    "exit status is 130.\n";

std::atomic<bool> gInterrupted{false};

void OnSigint(int) {
    gInterrupted = true;
    // A second Ctrl+C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}

/// "checked / total, alive so far" on one terminal line.
class TCheckProgress {
public:
    explicit TCheckProgress(int Total) : FTotal(Total) {}
    void Done(bool Alive) {
        ++FChecked;
        FAlive += Alive ? 1 : 0;
        Show();
    }
    void Show() {
        const int width = 30;
        const int filled = FTotal > 0 ? width * FChecked / FTotal : width;
        FLine.Show(QStringLiteral("Checking proxies [%1%2] %3 / %4, alive %5")
                       .arg(QString(filled, u'#'), QString(width - filled, u' '))
                       .arg(FChecked)
                       .arg(FTotal)
                       .arg(FAlive));
    }
    void Clear() { FLine.Clear(); }

private:
    TProgressLine FLine;
    int FTotal;
    int FChecked = 0;
    int FAlive = 0;
};

QString TriText(TTriState v) {
    switch (v) {
    case tsTrue:
        return QStringLiteral("yes");
    case tsFalse:
        return QStringLiteral("no");
    default:
        return QStringLiteral("-");
    }
}

QJsonObject ToJson(const TProxtData &p) {
    QJsonObject o;
    const QMetaObject *mo = p.GadgetMetaObject();
    for (int i = 0; i < mo->propertyCount(); ++i) {
        const QMetaProperty prop = mo->property(i);
        const QVariant v = prop.readOnGadget(&p);
        if (prop.isEnumType())
            o.insert(QString::fromLatin1(prop.name()), QString::fromLatin1(prop.enumerator().valueToKey(v.toInt())));
        else
            o.insert(QString::fromLatin1(prop.name()), QJsonValue::fromVariant(v));
    }
    return o;
}

void PrintTable(QTextStream &out, const QList<TProxtData *> &Records) {
    const QStringList head = {"Proxy", "Alive", "Type", "Botnet", "POST", "HTTPS", "Speed", "Ping", "Rank"};
    QList<QStringList> rows{head};
    for (const TProxtData *p : Records)
        rows.append({p->AsString(), TriText(p->Alive()), p->TypeAsStringEng(), TriText(p->Botnet()),
                     TriText(p->HttpPost()), TriText(p->HttpsPost()), p->SpeedAsString(), p->PingAsString(),
                     FloatToStr(p->Rank())});
    QList<int> widths(head.size(), 0);
    for (const auto &r : rows)
        for (int c = 0; c < r.size(); ++c)
            widths[c] = std::max(widths[c], int(r[c].size()));
    for (const auto &r : rows) {
        QString line;
        for (int c = 0; c < r.size(); ++c)
            line += (c ? QStringLiteral("  ") : QString()) + r[c].leftJustified(widths[c]);
        out << line.trimmed() << '\n';
    }
}

struct TCheckOptions {
    QString listFile, sitesFile;
    int threads = 5, timeout = 10, speedTimeout = 30;
    TTests tests{ttDeadOrAlive, ttTest1, ttHttps, ttSpeed};
    bool json = false, save = false;
};

int NumberOption(const QString &Name, const QString &Value, int From, int To, int &Out) {
    int32_t v = 0;
    if (!TryStrToInt(Value, v) || v < From || v > To)
        return CliFail(QStringLiteral("check: %1 wants a whole number from %2 to %3, not '%4'")
                           .arg(Name)
                           .arg(From)
                           .arg(To)
                           .arg(Value));
    Out = v;
    return 0;
}

int ParseTests(const QString &Value, TTests &Out) {
    bool info = false, botnet = false, https = false, speed = false;
    for (const QString &t : Value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString n = t.trimmed();
        if (n == QLatin1String("info"))
            info = true;
        else if (n == QLatin1String("botnet"))
            botnet = true;
        else if (n == QLatin1String("https"))
            https = true;
        else if (n == QLatin1String("speed"))
            speed = true;
        else if (n != QLatin1String("alive"))
            return CliFail(QStringLiteral("check: unknown test '%1' (alive, info, botnet, https, speed)").arg(n));
    }
    // As in the checker window: liveness always; the bot-net query only as part of the judge test.
    Out = {ttDeadOrAlive};
    if (info)
        Out.Bits |= quint8(1u << (botnet ? ttTest1 : ttTest1NoBootnet));
    if (https)
        Out.Bits |= quint8(1u << ttHttps);
    if (speed)
        Out.Bits |= quint8(1u << ttSpeed);
    return 0;
}

int RunCheck(const QStringList &Args) {
    if (CliWantsHelp(Args)) {
        QTextStream(stdout) << kCheckHelp;
        return 0;
    }
    TCheckOptions opt;
    bool haveConfig = false;
    for (int i = 0; i < Args.size(); ++i) {
        const QString &a = Args[i];
        auto value = [&](QString &Out) {
            if (i + 1 >= Args.size())
                return CliFail(QStringLiteral("check: %1 needs a value").arg(a));
            Out = Args[++i];
            return 0;
        };
        QString v;
        int rc = 0;
        if (a == QLatin1String("--json"))
            opt.json = true;
        else if (a == QLatin1String("--save"))
            opt.save = true;
        else if (a == QLatin1String("--config")) {
            rc = value(v);
            haveConfig = true;
        } else if (a.startsWith(QLatin1String("--config=")))
            haveConfig = true;
        else if (a == QLatin1String("--list"))
            rc = value(opt.listFile);
        else if (a == QLatin1String("--sites"))
            rc = value(opt.sitesFile);
        else if (a == QLatin1String("--threads"))
            rc = value(v) ? 1 : NumberOption(a, v, 1, 100, opt.threads);
        else if (a == QLatin1String("--timeout"))
            rc = value(v) ? 1 : NumberOption(a, v, 1, 60, opt.timeout);
        else if (a == QLatin1String("--speed-timeout"))
            rc = value(v) ? 1 : NumberOption(a, v, 1, 60, opt.speedTimeout);
        else if (a == QLatin1String("--tests"))
            rc = value(v) ? 1 : ParseTests(v, opt.tests);
        else
            return CliFail(QStringLiteral("check: unknown argument '%1'; see 'relayvane-cli check --help'").arg(a));
        if (rc)
            return rc;
    }
    if (haveConfig && !opt.listFile.isEmpty())
        return CliFail(QStringLiteral("check: give either --config or --list, not both"));
    if (opt.save && !opt.listFile.isEmpty())
        return CliFail(QStringLiteral("check: --save stores into the configuration; it cannot go with --list"));

    const TCheckerSites sites = opt.sitesFile.isEmpty() ? DefaultCheckerSites() : LoadCheckerSites(opt.sitesFile);

    // The proxies: both lists of the configuration, or the list file.
    TProgramConfig config;
    TProxyCollection fileList;
    QList<TProxyCollection *> lists;
    QString configPath;
    if (!opt.listFile.isEmpty()) {
        QFile f(opt.listFile);
        if (!f.open(QIODevice::ReadOnly))
            return CliFail(QStringLiteral("check: cannot read %1: %2").arg(opt.listFile, f.errorString()));
        fileList.SetNoDuplicates(true);
        fileList.ParseStream(f, nullptr);
        lists = {&fileList};
    } else {
        configPath = ConfigFilePath(ConfigOptionFromArguments(Args));
        // A file that cannot be read is reported and left alone.
        config.LoadFromFile(configPath);
        lists = {config.ProxyList(), config.ProxyListUser()};
    }

    TKvProxyTest test;
    RegisterCheckerSites(test, sites);
    QList<TProxtData *> all;
    for (TProxyCollection *l : lists)
        for (int i = 0; i < l->Count(); ++i) {
            test.AddProxyServer(l->Items(i));
            all.append(l->Items(i));
        }

    TCheckProgress progress(int(all.size()));
    test.SetOnProxyTest([&progress](QObject *, TProxtData *Proxy, TChackAction Action) {
        if (Proxy && Action == caDone)
            progress.Done(Proxy->Alive() != tsFalse);
    });
    QEventLoop loop;
    bool ended = false;
    test.SetOnJobEnd([&](QObject *) {
        ended = true;
        loop.quit();
    });

    gInterrupted = false;
    auto previous = std::signal(SIGINT, OnSigint);
    QTimer watch;
    bool stopping = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (gInterrupted && !stopping) {
            stopping = true;
            progress.Clear();
            std::fputs("relayvane-cli: stopping the check (5 seconds for the running tests)\n", stderr);
            test.StopTest(true, 5000);
        }
    });
    watch.start(100);
    progress.Show();
    test.CheckProxyServer(opt.tests, opt.timeout * 1000, opt.speedTimeout * 1000, quint8(opt.threads));
    if (!ended)
        loop.exec();
    watch.stop();
    std::signal(SIGINT, previous);
    progress.Clear();

    for (TProxyCollection *l : lists) {
        QList<TProxtData *> records;
        for (int i = 0; i < l->Count(); ++i)
            records.append(l->Items(i));
        RateProxies(records);
    }

    if (opt.save)
        config.SaveToFile(configPath);

    QTextStream out(stdout);
    if (opt.json) {
        QJsonArray arr;
        for (const TProxtData *p : all)
            arr.append(ToJson(*p));
        out << QJsonDocument(arr).toJson(QJsonDocument::Indented);
    } else {
        PrintTable(out, all);
    }
    out.flush();
    return stopping ? 130 : 0;
}

const TCliRegistrar kRegistrar{{"check", "check proxies: alive, anonymity, POST, HTTPS, speed; rate them", RunCheck}};

} // namespace
