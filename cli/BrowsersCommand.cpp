// relayvane-cli browsers: shows, sets up and restores the browsers' proxy settings the way the
// program does at start-up and exit.

#include "browsers/BrowserSetup.h"
#include "browsers/ProcessInfoLite.h"
#include "browsers/ProxyManager.h"
#include "cli/CliCommand.h"
#include "config/ConfigFile.h"
#include "config/ProgramConfig.h"
#include "platform/Registry.h"
#include "platform/SysUtils.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <cstdio>
#include <unistd.h>

namespace {

const char *const kHelp =
    "usage: relayvane-cli browsers [status|setup|restore] [--browser NAME] [--system-only] [--config FILE]\n"
    "                              [--json]\n"
    "\n"
    "Shows and changes where the browsers send their traffic: the desktop's proxy settings (GNOME's\n"
    "org.gnome.system.proxy, or kioslaverc on KDE; Chromium and most programs follow them), Firefox's\n"
    "prefs.js of the default profile and Opera's operaprefs.ini.\n"
    "\n"
    "Commands:\n"
    "  status     what each place holds now, what is remembered of the user's own settings, and\n"
    "             which browsers run (the default)\n"
    "  setup      points the chosen browsers at the relay 127.0.0.1:3128 and remembers what they had;\n"
    "             Firefox and Opera are closed first and started again afterwards\n"
    "  restore    gives every browser the remembered settings back and forgets them\n"
    "\n"
    "Options:\n"
    "  --browser NAME   one of \"all browsers\", \"google chrome\", \"internet explorer\", \"apple safari\",\n"
    "                   \"mozilla firefox\", \"opera browser\"; default: Browser of the configuration\n"
    "  --system-only    only the desktop's settings: no browser is closed, Firefox and Opera stay\n"
    "                   (what turning proxying on and off does)\n"
    "  --config FILE    the configuration file to take Browser from (see 'relayvane-cli config --help')\n"
    "  --json           status as JSON\n"
    "  -h, --help       show this help\n"
    "\n"
    "The remembered settings live in $XDG_CONFIG_HOME/relayvane/registry.ini under \\Software\\RVN\\.\n"
    "Environment: RELAYVANE_SYSTEM_PROXY=gnome|kde|none picks the desktop settings by hand.\n"
    "Exit status: 0 on success; 1 when a browser could not be set up or on a usage error.\n";

const QStringList kBrowsers = {QStringLiteral("all browsers"),      QStringLiteral("google chrome"),
                               QStringLiteral("internet explorer"), QStringLiteral("apple safari"),
                               QStringLiteral("mozilla firefox"),   QStringLiteral("opera browser")};

int Fail(const QString &Msg) {
    return CliFail(QStringLiteral("browsers: ") + Msg);
}

QJsonObject Place(bool Readable, const QString &Server, bool State, const QString &Where) {
    QJsonObject o;
    o[QStringLiteral("readable")] = Readable;
    o[QStringLiteral("server")] = Server;
    o[QStringLiteral("enabled")] = State;
    o[QStringLiteral("location")] = Where;
    return o;
}

QJsonObject Remembered(const char *Suffix) {
    QJsonObject o;
    try {
        TRegistry reg;
        if (!reg.OpenKeyReadOnly(TRegistry::ProgramKey()))
            return o;
        const QString s = QLatin1String(Suffix);
        const QString changed = QStringLiteral("ProxyServerChanged") + s,
                      server = QStringLiteral("DefaultProxyServer") + s,
                      state = QStringLiteral("DefaultProxyState") + s;
        if (reg.ValueExists(changed))
            o[QStringLiteral("changed")] = reg.ReadInteger(changed) != 0;
        if (reg.ValueExists(server))
            o[QStringLiteral("server")] = reg.ReadString(server);
        if (reg.ValueExists(state))
            o[QStringLiteral("enabled")] = reg.ReadInteger(state) != 0;
    } catch (const Exception &e) {
        o[QStringLiteral("error")] = e.Message();
    }
    return o;
}

int Status(const QString &Browser, bool Json) {
    TProxyManager manager;
    QString server;
    bool state = false;
    QJsonObject places;
    bool ok = manager.GetProxyIE(server, state);
    places[QStringLiteral("system")] =
        Place(ok, server, state,
              manager.SystemBackend()->Name() + QStringLiteral(": ") + manager.SystemBackend()->Location());
    ok = manager.GetProxyFirefox(server, state);
    const QString profile = TProxyManager::FirefoxProfileFolder();
    QJsonObject firefox = Place(ok, server, state,
                                ok                  ? TProxyManager::FirefoxPrefsFile()
                                : profile.isEmpty() ? QStringLiteral("no profile found")
                                                    : profile + QStringLiteral(" (no prefs.js)"));
    if (!profile.isEmpty())
        firefox[QStringLiteral("running")] = QFileInfo(profile + QStringLiteral("/lock")).isSymLink() ||
                                             QFileInfo::exists(profile + QStringLiteral("/lock"));
    places[QStringLiteral("firefox")] = firefox;
    ok = manager.GetProxyOpera(server, state);
    places[QStringLiteral("opera")] =
        Place(ok, server, state, TProxyManager::OperaPrefsFile() + (ok ? QString() : QStringLiteral(" (missing)")));
    QJsonObject remembered;
    remembered[QStringLiteral("system")] = Remembered("IE");
    remembered[QStringLiteral("firefox")] = Remembered("FF");
    remembered[QStringLiteral("opera")] = Remembered("OP");

    TProcessInfoLite processes;
    TBrowserSetup setup(&manager, &processes);
    QJsonArray running;
    const uint32_t me = static_cast<uint32_t>(::getuid());
    const QStringList names = setup.BrowserProcessNames(QStringLiteral("all browsers"));
    for (const auto &item : *processes.RunningProcesses()) {
        if (item->Uid() != me)
            continue;
        for (const QString &n : names)
            if (processinfo::SameNameIgnoringAsciiCase(item->ExeFile(), n)) {
                QJsonObject p;
                p[QStringLiteral("pid")] = static_cast<qint64>(item->ProcessID());
                p[QStringLiteral("name")] = item->ExeFile();
                running.append(p);
            }
    }

    if (Json) {
        QJsonObject root;
        root[QStringLiteral("browser")] = Browser;
        root[QStringLiteral("relay")] = TBrowserSetup::RelayAddress();
        root[QStringLiteral("places")] = places;
        root[QStringLiteral("remembered")] = remembered;
        root[QStringLiteral("running")] = running;
        QTextStream(stdout) << QJsonDocument(root).toJson(QJsonDocument::Indented);
        return 0;
    }
    QTextStream out(stdout);
    out << "browser: " << Browser << "\n";
    const auto line = [&](const char *Title, const QString &Key) {
        const QJsonObject p = places[Key].toObject();
        out << Title << ":\n  now:        ";
        if (!p[QStringLiteral("readable")].toBool())
            out << "-";
        else
            out << (p[QStringLiteral("server")].toString().isEmpty() ? QStringLiteral("(no server)")
                                                                     : p[QStringLiteral("server")].toString())
                << (p[QStringLiteral("enabled")].toBool() ? " (on)" : " (off)");
        if (p[QStringLiteral("running")].toBool())
            out << ", profile in use";
        out << "\n  where:      " << p[QStringLiteral("location")].toString() << "\n  remembered: ";
        const QJsonObject r = remembered[Key].toObject();
        if (!r[QStringLiteral("changed")].toBool())
            out << "nothing (not changed by Relayvane)";
        else
            out << (r[QStringLiteral("server")].toString().isEmpty() ? QStringLiteral("(no server)")
                                                                     : r[QStringLiteral("server")].toString())
                << (r[QStringLiteral("enabled")].toBool() ? " (on)" : " (off)");
        if (r.contains(QStringLiteral("error")))
            out << " [" << r[QStringLiteral("error")].toString() << "]";
        out << "\n";
    };
    line("desktop proxy settings", QStringLiteral("system"));
    line("Firefox", QStringLiteral("firefox"));
    line("Opera", QStringLiteral("opera"));
    out << "running browsers: ";
    if (running.isEmpty())
        out << "none";
    for (qsizetype i = 0; i < running.size(); ++i)
        out << (i ? ", " : "") << running[i].toObject()[QStringLiteral("name")].toString() << " ("
            << running[i].toObject()[QStringLiteral("pid")].toInteger() << ")";
    out << "\n";
    return 0;
}

int Run(const QStringList &Args) {
    if (CliWantsHelp(Args)) {
        QTextStream(stdout) << kHelp;
        return 0;
    }
    QString command, browser, configFile;
    bool json = false, systemOnly = false;
    for (qsizetype i = 0; i < Args.size(); ++i) {
        const QString &a = Args[i];
        if (a == QLatin1String("--json")) {
            json = true;
        } else if (a == QLatin1String("--system-only")) {
            systemOnly = true;
        } else if (a == QLatin1String("--browser") || a == QLatin1String("--config")) {
            if (i + 1 >= Args.size())
                return Fail(a + QStringLiteral(" needs a value"));
            (a == QLatin1String("--browser") ? browser : configFile) = Args[++i];
        } else if (a.startsWith(QLatin1String("--browser="))) {
            browser = a.mid(10);
        } else if (a.startsWith(QLatin1String("--config="))) {
            configFile = a.mid(9);
        } else if (a.startsWith(u'-')) {
            return Fail(QStringLiteral("unknown option '%1'; see 'relayvane-cli browsers --help'").arg(a));
        } else if (command.isEmpty()) {
            command = a;
        } else {
            return Fail(QStringLiteral("unexpected argument '%1'").arg(a));
        }
    }
    if (command.isEmpty())
        command = QStringLiteral("status");
    if (command != QLatin1String("status") && command != QLatin1String("setup") && command != QLatin1String("restore"))
        return Fail(QStringLiteral("unknown command '%1'; see 'relayvane-cli browsers --help'").arg(command));

    if (browser.isEmpty()) {
        TProgramConfig config;
        const QString file = ConfigFilePath(configFile);
        const TConfigLoadResult loaded = LoadConfigOrDefaults(config, file);
        if (loaded.Status == TConfigLoadResult::clUnreadable)
            return Fail(loaded.Error);
        browser = config.Browser();
    }
    if (!kBrowsers.contains(browser))
        return Fail(
            QStringLiteral("unknown browser '%1'; one of: %2").arg(browser, kBrowsers.join(QStringLiteral(", "))));

    if (command == QLatin1String("status"))
        return Status(browser, json);

    TProxyManager manager;
    TProcessInfoLite processes;
    TBrowserSetup setup(&manager, &processes);
    setup.SetBrowser(browser);
    setup.SetOnWarning([](const QString &Msg, const QString &) { CliFail(QStringLiteral("browsers: ") + Msg); });
    if (command == QLatin1String("setup")) {
        if (setup.SetupBrowser(systemOnly) != 1)
            return 1; // the warning went to stderr
        QTextStream(stdout) << "set up " << browser << ": browsers point at " << TBrowserSetup::RelayAddress() << "\n";
        return 0;
    }
    setup.RestoreBrowser(systemOnly);
    QTextStream(stdout) << "restored the remembered browser settings\n";
    return 0;
}

const TCliRegistrar kRegistrar{{"browsers", "show, set up and restore the browsers' proxy settings", Run}};

} // namespace
