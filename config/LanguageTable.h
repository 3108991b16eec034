#pragma once
// The interface language table: every text the program shows, in six languages, carried as the
// embedded resource ":/INTERFACE_LANG" (UTF-16LE INI text, one section per language). Each window
// reads its own keys with a fallback text, so a missing language or key never leaves a caption
// empty. The resource is read in memory by our INI reader (platform/IniText), never copied to a
// fixed-name file in a shared temporary folder.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

/// The 32 message texts of the main window (its field `ms`), in the order the program lists them.
struct TMessageStrings {
    QString sTransparent;
    QString sAnonymous;
    QString sElite;
    QString sAlive;
    QString sDead;
    QString sYes;
    QString sNo;
    QString sPending;
    QString sChecking;
    QString sDone;
    QString sError;
    QString sCheckinNotFinished;
    QString sCheckingFinished;
    QString sLoading;
    QString sInvalidCustomUrl;
    QString sSelectCountry;
    QString sSelectPort;
    QString sErrorLoadingData;
    QString sErrorLoadingProxyList;
    QString sProxyDownloadedTitle;
    QString sProxyDownloadedMsg;
    QString sProxyChangedTitle;
    QString sProxyChangedProxy;
    QString sProxyChangedCountry;
    QString sCannotRunTwoCopies;
    QString sCloseFirefox;
    QString sCloseOpera;
    QString sCannotSetupIE;
    QString sCannotSetupFF;
    QString sCannotSetupOP;
    QString sCloseToUpdate;
    QString sCannotSetupLocalProxy;
};

/// A parsed language table: sections and keys looked up without regard to case, the first
/// occurrence of a section or key counting.
class TLanguageTable {
public:
    /// The embedded ":/INTERFACE_LANG", parsed on first use (thread-safe) and kept for the run.
    static const TLanguageTable &Builtin();

    /// A table from the bytes of a table file (UTF-16 with byte-order mark, or UTF-8).
    static TLanguageTable FromBytes(const QByteArray &Bytes);

    /// The value of Key in the section named Language; Fallback when the section or key is missing.
    QString ReadString(const QString &Language, const QString &Key, const QString &Fallback) const;

    /// Section names in table order, as spelled in the table.
    QStringList Languages() const { return FSectionNames; }
    /// Keys of a section in table order (duplicates included); empty for an unknown section.
    QStringList Keys(const QString &Language) const;

private:
    QStringList FSectionNames;
    QHash<QString, QStringList> FKeyOrder;           // lower-case section -> keys as written
    QHash<QString, QHash<QString, QString>> FValues; // lower-case section -> lower-case key -> value
};

/// The address the shipped table names in its FAQ sentences; LoadMessageStrings puts the current
/// service base (ServiceBaseUrl(), which follows RELAYVANE_SERVICE) in its place.
inline constexpr const char *kLanguageTableSiteAddress = "http://127.0.0.1:8731";

/// The 32 message texts of Language, each key read with its fallback; the eight texts that send
/// the user to the FAQ end with the FAQ sentence naming the current site address.
TMessageStrings LoadMessageStrings(const QString &Language);
/// The same from a given table (tests and tools).
TMessageStrings LoadMessageStrings(const TLanguageTable &Table, const QString &Language);

/// A window title: Title + " - RVN 3.1.3".
QString WindowTitle(const QString &Title);
