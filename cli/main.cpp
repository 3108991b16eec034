// relayvane-cli: the command-line front on the Relayvane core.

#include "cli/CliCommand.h"
#include "platform/SysUtils.h"

#include <QCoreApplication>
#include <QTextStream>
#include <algorithm>
#include <cstdio>

std::vector<TCliCommand> &CliCommands() {
    static std::vector<TCliCommand> commands;
    return commands;
}

int CliFail(const QString &Message) {
    QTextStream(stderr) << "relayvane-cli: " << Message << Qt::endl;
    return 1;
}

bool CliWantsHelp(const QStringList &Args) {
    return Args.contains(QStringLiteral("--help")) || Args.contains(QStringLiteral("-h"));
}

static void PrintUsage(FILE *to) {
    QTextStream out(to);
    out << "usage: relayvane-cli COMMAND [OPTIONS] [ARGS]\n\n"
        << "Relayvane's command-line front: the relay, the proxy list parsers, the country\n"
        << "database, the configuration file, list downloads and the proxy checker.\n\n"
        << "Commands:\n";
    auto commands = CliCommands();
    std::sort(commands.begin(), commands.end(),
              [](const TCliCommand &a, const TCliCommand &b) { return qstrcmp(a.Name, b.Name) < 0; });
    for (const auto &c : commands)
        out << "  " << QString::fromLatin1(c.Name).leftJustified(12) << c.Summary << "\n";
    out << "\nRun 'relayvane-cli COMMAND --help' for a command's options.\n";
}

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("relayvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral("3.1.3"));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        PrintUsage(stderr);
        return 2;
    }
    const QString name = args.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        PrintUsage(stdout);
        return 0;
    }
    if (name == QLatin1String("--version")) {
        QTextStream(stdout) << "relayvane-cli 3.1.3" << Qt::endl;
        return 0;
    }
    for (const auto &c : CliCommands()) {
        if (name == QLatin1String(c.Name)) {
            try {
                return c.Run(args);
            } catch (const Exception &e) {
                return CliFail(e.Message());
            } catch (const std::exception &e) {
                return CliFail(QString::fromLocal8Bit(e.what()));
            }
        }
    }
    CliFail(QStringLiteral("unknown command '%1'; see 'relayvane-cli --help'").arg(name));
    return 2;
}
