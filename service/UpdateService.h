#pragma once
// The update service, free of I/O: the announced version and its five-field reply.

#include <QByteArray>
#include <QString>

/// What the update service announces. The defaults announce the program's own version 3.1.3,
/// so the program offers nothing.
struct TUpdateInfo {
    int Major = 3;
    int Minor = 1;
    int Release = 3;
    QString Message; ///< empty: a default sentence naming the version
    QString Link;    ///< empty: the service's home page

    bool operator==(const TUpdateInfo &) const = default;
};

/// Reads "MAJOR.MINOR.RELEASE" (three decimal numbers 0 to 9999); false otherwise.
bool ParseVersion(const QString &Text, TUpdateInfo &Info);
/// "MAJOR.MINOR.RELEASE".
QString VersionText(const TUpdateInfo &Info);
/// Empty when Text can stand in a reply field; otherwise why not (a "|" or a line break would
/// split the five fields).
QString CheckUpdateText(const QString &Text);

/// MAJOR|MINOR|RELEASE|MESSAGE|LINK as UTF-8; an empty message or link takes its default, the
/// link defaulting to HomeUrl.
QByteArray UpdateReply(const TUpdateInfo &Info, const QString &HomeUrl);
