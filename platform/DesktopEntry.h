#pragma once
// The program's launcher on the user's desktop, made on the first run: "Relayvane.desktop" in the
// XDG desktop folder, starting the executable that made it, in that executable's folder.

#include <QString>

/// The desktop folder as `xdg-user-dir DESKTOP` finds it: XDG_DESKTOP_DIR from
/// $XDG_CONFIG_HOME/user-dirs.dirs (~/.config when unset or relative), "$HOME/..." expanded;
/// else Home + "/Desktop". Empty when user-dirs.dirs sets it to the home folder itself, which
/// xdg-user-dirs means as "no desktop folder".
QString DesktopFolderFrom(const QString &Home, const QString &XdgConfigHome);
/// The same for this process ($HOME, $XDG_CONFIG_HOME).
QString DesktopFolder();

/// The text of the launcher for the executable ExePath: Exec quoted as the Desktop Entry rules
/// ask (so folders with blanks, quotes or "$" still start it), Path its folder with a trailing "/".
QString DesktopEntryText(const QString &ExePath);

/// Writes Folder/Relayvane.desktop for ExePath (replacing an old one whole, mode 0755 so desktops
/// offer to run it). The folder must exist: a missing desktop is not made up. Returns false with
/// a message in *Error instead of raising, so that start-up never stops over it.
bool WriteDesktopEntry(const QString &Folder, const QString &ExePath, QString *Error = nullptr);
