#pragma once
// The command table of relayvane-cli: each command registers itself from its own source file.

#include <QStringList>
#include <functional>
#include <vector>

struct TCliCommand {
    const char *Name;
    const char *Summary;
    /// Runs the command with the arguments after its name; returns the exit status.
    std::function<int(const QStringList &Args)> Run;
};

/// All registered commands, in registration order.
std::vector<TCliCommand> &CliCommands();

/// Registers a command at start-up: `static TCliRegistrar reg{{"name", "summary", run}};`
struct TCliRegistrar {
    explicit TCliRegistrar(TCliCommand Command) { CliCommands().push_back(std::move(Command)); }
};

/// Prints "relayvane-cli: MESSAGE" on stderr and returns 1, the status of every failed command.
int CliFail(const QString &Message);
/// True when Args holds --help or -h.
bool CliWantsHelp(const QStringList &Args);
