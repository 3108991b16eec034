#pragma once
// Where "config.cfg" lives on Linux, and how the program loads it at start-up.
//
// Location (first that applies):
//   1. `--config PATH` on the command line;
//   2. the environment variable RELAYVANE_CONFIG;
//   3. "config.cfg" next to the executable when that folder is writable (a portable run, as the Windows
//      program always does);
//   4. $XDG_CONFIG_HOME/relayvane/config.cfg, with ~/.config when XDG_CONFIG_HOME is unset or not an
//      absolute path (XDG Base Directory rules).
//
// Start-up: LoadConfigOrDefaults loads the file all or nothing (see Marlo.Core.Classes.ExtendedClasses.h).
// A file that exists but cannot be read is moved aside to "config.cfg.bad" (or "config.cfg.bad.2", … when
// that name is taken, so an older bad file is never overwritten) and the program goes on with the
// defaults; the next save then writes a fresh "config.cfg" and leaves the bad copy alone for the user.

#include "config/Marlo.Core.Classes.ExtendedClasses.h"

#include <QString>
#include <QStringList>
#include <functional>

/// Everything the location depends on, so the rule can be tested without touching the real system.
struct TConfigPathSources {
    QString CommandLine;   ///< the PATH of --config, empty when not given
    QString Environment;   ///< RELAYVANE_CONFIG, empty when unset
    QString ExecutableDir; ///< folder of the running executable
    QString XdgConfigHome; ///< XDG_CONFIG_HOME, empty when unset
    QString Home;          ///< HOME
    /// True when a folder is writable; by default access(W_OK).
    std::function<bool(const QString &)> IsWritableDir;
};

/// The value of "--config PATH" or "--config=PATH" in Args (last one wins); empty when absent.
QString ConfigOptionFromArguments(const QStringList &Args);
/// The location rule above, applied to Sources.
QString ConfigFilePathFrom(const TConfigPathSources &Sources);
/// The location for this process: CommandLinePath (from --config), the environment, the executable's
/// folder, the XDG folder.
QString ConfigFilePath(const QString &CommandLinePath = QString());

/// What LoadConfigOrDefaults found.
struct TConfigLoadResult {
    enum TStatus { clLoaded, clMissing, clUnreadable };
    TStatus Status = clMissing;
    /// For clUnreadable: the reason, naming the file (one line, fit for a warning or stderr).
    QString Error;
    /// For clUnreadable: where the bad file now is; empty when it could not be moved.
    QString MovedTo;
};

/// Loads FileName into Config. A missing file leaves the defaults; an unreadable one (bad content or
/// cannot be opened) leaves Config unchanged, is moved aside by MoveAsideBadFile and reported. Never
/// raises for a bad file.
TConfigLoadResult LoadConfigOrDefaults(TSaveLoadComponent &Config, const QString &FileName);

/// Renames FileName to the first free of FileName + ".bad", ".bad.2", ".bad.3", …; returns the new name,
/// empty when the rename failed.
QString MoveAsideBadFile(const QString &FileName);
