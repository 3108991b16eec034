#pragma once
// Reading and changing single keys of INI text (Opera's operaprefs.ini, KDE's kioslaverc,
// Firefox's profiles.ini) without disturbing the rest, and reading a whole INI text at once (the
// embedded interface language table): pure functions on text, no I/O.
//
// Rules (those of the Windows private-profile reader, which the language table was written for):
// section and key names are compared without case after trimming spaces and tabs; the first
// matching section and, inside it, the first matching key count; lines starting with ';', '#' or
// "//" are comments; a byte-order mark before the first line is ignored. A write replaces the value of
// an existing key in place (keeping its spelling and line ending), adds a missing key after the
// last key line of the section, and appends a missing section at the end. New lines take the
// text's own line ending (CR LF when its first line break is one).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace initext {

/// One key line of a section, key and value trimmed of spaces and tabs.
struct TIniEntry {
    QString Key;
    QString Value;
};

/// One section with its key lines in text order (a repeated key appears each time it is written).
struct TIniSection {
    QString Name;
    QList<TIniEntry> Entries;
};

/// Text of INI file bytes: UTF-16 little- or big-endian when the bytes start with its byte-order
/// mark, otherwise UTF-8 (with or without its mark). The mark is not part of the result.
QString DecodeText(const QByteArray &Bytes);

/// Every section in text order, duplicates included, with its key lines; comments, lines without
/// "=" and key lines before the first section are skipped. Readers of the result take the first
/// section and the first key of a name, as ReadValue does.
QList<TIniSection> ParseSections(const QString &Text);

/// Names of the sections, in file order (duplicates included).
QStringList SectionNames(const QString &Text);
/// The trimmed value of Key in Section; false when the section or key is missing.
bool ReadValue(const QString &Text, const QString &Section, const QString &Key, QString &Value);
/// Text with Key of Section set to Value.
QString WriteValue(const QString &Text, const QString &Section, const QString &Key, const QString &Value);

} // namespace initext
