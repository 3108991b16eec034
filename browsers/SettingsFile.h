#pragma once
// Reading and replacing the small settings files of browsers and desktops. A replacement goes
// through a temporary file in the same folder and a rename, so a crash or a full disk never
// leaves a half-written file behind.

#include <QByteArray>
#include <QString>

namespace settingsfile {

/// The whole file; false when it does not exist or cannot be read.
bool ReadBytes(const QString &Path, QByteArray &Bytes);
/// Replaces the file (or creates it, with its folder) through a temporary file and a rename; the old
/// file's permissions are kept, a symbolic link is followed. False when anything fails; the old file
/// is then untouched.
bool WriteAtomically(const QString &Path, const QByteArray &Bytes);
/// UTF-8 text with a leading byte-order mark kept as U+FEFF, so writing it back keeps the mark.
QString DecodeUtf8(const QByteArray &Bytes);
/// $XDG_CONFIG_HOME, or $HOME/.config when it is unset or not absolute.
QString ConfigHome();
/// $HOME (from the environment, so a sandbox HOME is honoured).
QString HomeDir();

} // namespace settingsfile
