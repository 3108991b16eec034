// relayvane-service: the companion web service (list service, country/port list, update service,
// proxy judge, home and FAQ pages) and the commands that fill its store.

#include "geoip/CountryDatabase.h"
#include "platform/ServiceEndpoints.h"
#include "service/ServiceImport.h"
#include "service/ServiceServer.h"
#include "service/ServiceStore.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTextStream>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char *kUsage = R"(usage: relayvane-service [--db PATH] COMMAND [OPTIONS]

The companion web service of Relayvane: the proxy list service, the country/port list, the update
service, the proxy judge, and the home and FAQ pages, backed by an SQLite store.

Commands:
  serve [--listen ADDR:PORT]   serve HTTP (default %1, the program's default service base)
  import [--json] FILE|-       add or update proxies from free list text or JSON records
  list [--json]                print the stored proxies
  set-update VERSION MESSAGE LINK
                               announce VERSION (MAJOR.MINOR.RELEASE) with MESSAGE and LINK

Options:
  --db PATH    the store (default %2)
  -h, --help   this text; "relayvane-service COMMAND --help" tells about one command
  --version    the version

Score (0 to 10, one decimal; the program shows score / 2 as the rating):
  speed 3 points at 100 kB/s or more, in proportion below; ping 2 points at 0 s falling to 0 at
  10 s; uptime 3 points at 100 %, in proportion; anonymity 1 point for elite, 0.5 for anonymous;
  HTTPS and POST support 0.5 points each. Fields never measured earn nothing.
)";

constexpr const char *kServeHelp = R"(usage: relayvane-service [--db PATH] serve [OPTIONS]

Serves the list service, country/port list, update service, judge and pages over HTTP until
SIGINT or SIGTERM. One access log line per request goes to stderr.

Options:
  --listen ADDR:PORT  address and port to listen on (default %1; port 0: any free port, printed)
  --public-url URL    base of the links the service hands out (default: the Host the caller used)
  --limit N           most proxies in one list reply (default 1000; 0: no limit)
  --threads N         connections served at once (default 32)
  --max-body BYTES    largest request body accepted (default 65536)
)";

constexpr const char *kImportHelp = R"(usage: relayvane-service [--db PATH] import [--json] FILE|-

Adds or updates proxies in the store, from FILE or, with "-", from standard input.

Without --json the input is free list text: every IPv4 address and port pair in it is taken
(ip:port, ip port, user:pass@ip:port, tables...). The country comes from the built-in country
database; measured fields of proxies already stored stay as they were.

With --json the input is an array of records (or {"proxies": [...]}), each with "address" and
"port" and optionally "type" (transparent, anonymous, elite), "https", "post" (true/false),
"speed" (kB/s), "ping" (s), "uptime" (%), "uptime_hours", "last_check" (seconds since 1970 or an
ISO 8601 date), "country_code" and "country". A record replaces what was stored for its proxy;
measured fields it leaves out become unknown. The score is computed from the measured fields.
)";

constexpr const char *kListHelp = R"(usage: relayvane-service [--db PATH] list [--json]

Prints the stored proxies, by address and port: a table, or with --json an array of records in
the form "import --json" reads (plus "score").
)";

constexpr const char *kSetUpdateHelp =
    R"(usage: relayvane-service [--db PATH] set-update MAJOR.MINOR.RELEASE MESSAGE LINK

Sets what the update service announces. The program offers the update when the major number is
above 3, the minor above 1 or the release above 3; "3.1.3" (the default) offers nothing.
MESSAGE and LINK must not contain "|" or line breaks.
)";

class TUsageError : public Exception {
public:
    using Exception::Exception;
};

void Print(FILE *To, const QString &Text) {
    const QByteArray utf8 = Text.toUtf8();
    std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), To);
}

bool WantsHelp(const QStringList &Args) {
    return Args.contains(QStringLiteral("--help")) || Args.contains(QStringLiteral("-h"));
}

int ToInt(const QString &Text, const QString &Option, int Min, int Max) {
    int32_t value = 0;
    if (!TryStrToInt(Text, value) || value < Min || value > Max)
        throw TUsageError(
            QStringLiteral("%1 wants a number from %2 to %3, not \"%4\"").arg(Option).arg(Min).arg(Max).arg(Text));
    return value;
}

QString TakeValue(QStringList &Args, int &i) {
    if (i + 1 >= Args.size())
        throw TUsageError(QStringLiteral("%1 needs a value").arg(Args[i]));
    ++i;
    return Args[i];
}

void ParseListen(const QString &Text, TServiceOptions &Options) {
    const qsizetype colon = Text.lastIndexOf(u':');
    if (colon <= 0)
        throw TUsageError(QStringLiteral("--listen wants ADDR:PORT, not \"%1\"").arg(Text));
    QString host = Text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    Options.Host = host;
    Options.Port = ToInt(Text.mid(colon + 1), QStringLiteral("--listen"), 0, 65535);
}

// SIGINT and SIGTERM are blocked in every thread and taken by one waiting thread, which stops the
// server; no work happens inside a signal handler.
int Serve(TServiceStore &Store, QStringList Args) {
    TServiceOptions options;
    for (int i = 0; i < Args.size(); ++i) {
        const QString &a = Args[i];
        if (a == u"--listen")
            ParseListen(TakeValue(Args, i), options);
        else if (a == u"--public-url")
            options.PublicUrl = TakeValue(Args, i);
        else if (a == u"--limit")
            options.ListLimit = ToInt(TakeValue(Args, i), a, 0, 1000000);
        else if (a == u"--threads")
            options.Threads = ToInt(TakeValue(Args, i), a, 1, 1024);
        else if (a == u"--max-body")
            options.MaxBodyBytes = static_cast<size_t>(ToInt(TakeValue(Args, i), a, 1024, 64 * 1024 * 1024));
        else
            throw TUsageError(QStringLiteral("serve: unknown option \"%1\"").arg(a));
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TServiceServer server(Store, options);
    const int port = server.Bind();
    Print(stderr, QStringLiteral("relayvane-service: serving %1 on %2:%3\n").arg(Store.Path(), options.Host).arg(port));
    std::fflush(stderr);

    std::atomic<bool> done{false};
    std::thread waiter([&] {
        const timespec tick{0, 200 * 1000 * 1000};
        while (!done) {
            const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
            if (sig == SIGINT || sig == SIGTERM) {
                Print(stderr, QStringLiteral("relayvane-service: stopping on signal %1\n").arg(sig));
                server.Stop();
                return;
            }
        }
    });
    const bool ok = server.Run();
    done = true;
    waiter.join();
    Print(stderr, QStringLiteral("relayvane-service: stopped\n"));
    return ok ? 0 : 1;
}

QByteArray ReadInput(const QString &Name) {
    QFile file;
    const bool ok =
        Name == u"-" ? file.open(stdin, QIODevice::ReadOnly) : (file.setFileName(Name), file.open(QIODevice::ReadOnly));
    if (!ok)
        throw Exception(QStringLiteral("Cannot read %1: %2").arg(Name, file.errorString()));
    return file.readAll();
}

int Import(TServiceStore &Store, QStringList Args) {
    const bool json = Args.removeAll(QStringLiteral("--json")) > 0;
    if (Args.size() != 1)
        throw TUsageError(QStringLiteral("import wants one FILE or \"-\""));
    const QByteArray bytes = ReadInput(Args[0]);
    std::vector<TServiceProxy> proxies;
    if (json) {
        proxies = ParseImportJson(bytes);
        bool needCountries = false;
        for (const TServiceProxy &p : proxies)
            needCountries = needCountries || p.CountryCode.isEmpty();
        if (needCountries) {
            TCountryDatabase database;
            database.LoadDatabase(QCoreApplication::applicationDirPath());
            AssignCountries(proxies, database);
        }
        Store.PutProxies(proxies);
    } else {
        QByteArray copy = bytes;
        QBuffer buffer(&copy);
        buffer.open(QIODevice::ReadOnly);
        proxies = ParseImportText(buffer);
        Store.AddAddresses(proxies);
    }
    Print(stdout, QStringLiteral("imported %1 proxies; the store holds %2\n").arg(proxies.size()).arg(Store.Count()));
    return 0;
}

QJsonObject ToJson(const TServiceProxy &p) {
    QJsonObject o;
    o.insert(QStringLiteral("address"), p.Address);
    o.insert(QStringLiteral("port"), p.Port);
    o.insert(QStringLiteral("country_code"), p.CountryCode);
    o.insert(QStringLiteral("country"), p.CountryName);
    if (p.Anonymity != TAnonymity::Unknown)
        o.insert(QStringLiteral("type"), AnonymityName(p.Anonymity));
    if (p.Https)
        o.insert(QStringLiteral("https"), *p.Https);
    if (p.Post)
        o.insert(QStringLiteral("post"), *p.Post);
    if (p.Speed)
        o.insert(QStringLiteral("speed"), *p.Speed);
    if (p.Ping)
        o.insert(QStringLiteral("ping"), *p.Ping);
    if (p.Uptime)
        o.insert(QStringLiteral("uptime"), *p.Uptime);
    if (p.UptimeHours)
        o.insert(QStringLiteral("uptime_hours"), *p.UptimeHours);
    if (p.LastCheck)
        o.insert(QStringLiteral("last_check"), static_cast<double>(*p.LastCheck));
    o.insert(QStringLiteral("score"), p.Score);
    return o;
}

QString Cell(const std::optional<double> &v) {
    return v ? FloatToStr(*v) : QStringLiteral("-");
}
QString Cell(const std::optional<bool> &v) {
    return v ? (*v ? QStringLiteral("yes") : QStringLiteral("no")) : QStringLiteral("-");
}

int List(TServiceStore &Store, QStringList Args) {
    const bool json = Args.removeAll(QStringLiteral("--json")) > 0;
    if (!Args.isEmpty())
        throw TUsageError(QStringLiteral("list: unknown option \"%1\"").arg(Args[0]));
    const auto proxies = Store.All();
    if (json) {
        QJsonArray array;
        for (const TServiceProxy &p : proxies)
            array.append(ToJson(p));
        Print(stdout, QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
        return 0;
    }
    QString out;
    QTextStream s(&out);
    s << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
             .arg(QStringLiteral("ADDRESS:PORT"), -22)
             .arg(QStringLiteral("CC"), -3)
             .arg(QStringLiteral("TYPE"), -12)
             .arg(QStringLiteral("HTTPS"), -5)
             .arg(QStringLiteral("POST"), -4)
             .arg(QStringLiteral("KB/S"), 8)
             .arg(QStringLiteral("PING"), 6)
             .arg(QStringLiteral("UPTIME"), 6)
             .arg(QStringLiteral("SCORE"), 5)
      << '\n';
    for (const TServiceProxy &p : proxies) {
        const QString type = p.Anonymity == TAnonymity::Unknown ? QStringLiteral("-") : AnonymityName(p.Anonymity);
        s << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
                 .arg(p.Address + u':' + QString::number(p.Port), -22)
                 .arg(p.CountryCode.isEmpty() ? QStringLiteral("-") : p.CountryCode, -3)
                 .arg(type, -12)
                 .arg(Cell(p.Https), -5)
                 .arg(Cell(p.Post), -4)
                 .arg(Cell(p.Speed), 8)
                 .arg(Cell(p.Ping), 6)
                 .arg(Cell(p.Uptime), 6)
                 .arg(FloatToStr(p.Score), 5)
          << '\n';
    }
    s << proxies.size() << " proxies\n";
    s.flush();
    Print(stdout, out);
    return 0;
}

int SetUpdate(TServiceStore &Store, const QStringList &Args) {
    if (Args.size() != 3)
        throw TUsageError(QStringLiteral("set-update wants VERSION MESSAGE LINK"));
    TUpdateInfo info;
    if (!ParseVersion(Args[0], info))
        throw TUsageError(QStringLiteral("the version must be MAJOR.MINOR.RELEASE, not \"%1\"").arg(Args[0]));
    for (int i : {1, 2}) {
        const QString why = CheckUpdateText(Args[i]);
        if (!why.isEmpty())
            throw TUsageError(
                QStringLiteral("the %1 %2").arg(i == 1 ? QStringLiteral("message") : QStringLiteral("link"), why));
    }
    info.Message = Args[1];
    info.Link = Args[2];
    ServiceSettings::SaveUpdateInfo(Store, info);
    Print(stdout, QStringLiteral("the update service now announces %1\n").arg(VersionText(info)));
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    try {
        QString dbPath;
        for (int i = 0; i < args.size();) {
            if (args[i] == u"--db") {
                if (i + 1 >= args.size())
                    throw TUsageError(QStringLiteral("--db needs a value"));
                dbPath = args[i + 1];
                args.remove(i, 2);
            } else {
                ++i;
            }
        }
        if (args.isEmpty() || args[0] == u"--help" || args[0] == u"-h" || args[0] == u"help") {
            Print(args.isEmpty() ? stderr : stdout,
                  QString::fromUtf8(kUsage).arg(ServiceEndpoints::DefaultServiceBaseUrl().mid(7),
                                                TServiceStore::DefaultPath()));
            return args.isEmpty() ? 1 : 0;
        }
        if (args[0] == u"--version") {
            Print(stdout, QStringLiteral("relayvane-service 3.1.3\n"));
            return 0;
        }
        const QString command = args.takeFirst();
        using TCommand = int (*)(TServiceStore &, QStringList);
        TCommand run = nullptr;
        if (command == u"serve")
            run = Serve;
        else if (command == u"import")
            run = Import;
        else if (command == u"list")
            run = List;
        else if (command == u"set-update")
            run = [](TServiceStore &s, QStringList a) { return SetUpdate(s, a); };
        else
            throw TUsageError(QStringLiteral("unknown command \"%1\" (see --help)").arg(command));
        if (WantsHelp(args)) {
            // Help needs no store: answer before one is opened (or created).
            const char *help = command == u"serve"    ? kServeHelp
                               : command == u"import" ? kImportHelp
                               : command == u"list"   ? kListHelp
                                                      : kSetUpdateHelp;
            QString text = QString::fromUtf8(help);
            if (help == kServeHelp)
                text = text.arg(ServiceEndpoints::DefaultServiceBaseUrl().mid(7));
            Print(stdout, text);
            return 0;
        }
        TServiceStore store(dbPath.isEmpty() ? TServiceStore::DefaultPath() : dbPath);
        return run(store, args);
    } catch (const Exception &e) {
        Print(stderr, QStringLiteral("relayvane-service: %1\n").arg(e.Message()));
        return 1;
    } catch (const std::exception &e) {
        Print(stderr, QStringLiteral("relayvane-service: %1\n").arg(QString::fromUtf8(e.what())));
        return 1;
    }
}
