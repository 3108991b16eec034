#pragma once
// Reading and changing single keys of INI text (Opera's operaprefs.ini, KDE's kioslaverc,
// Firefox's profiles.ini) without disturbing the rest: pure functions on text, no I/O.
//
// Rules: section and key names are compared without case after trimming blanks; the first
// matching section and, inside it, the first matching key count; lines starting with ';' or '#'
// are comments; a byte-order mark before the first line is ignored. A write replaces the value of
// an existing key in place (keeping its spelling and line ending), adds a missing key after the
// last key line of the section, and appends a missing section at the end. New lines take the
// text's own line ending (CR LF when its first line break is one).

#include <QString>
#include <QStringList>

namespace initext {

/// Names of the sections, in file order (duplicates included).
QStringList SectionNames(const QString &Text);
/// The trimmed value of Key in Section; false when the section or key is missing.
bool ReadValue(const QString &Text, const QString &Section, const QString &Key, QString &Value);
/// Text with Key of Section set to Value.
QString WriteValue(const QString &Text, const QString &Section, const QString &Key, const QString &Value);

} // namespace initext
