#pragma once
// The list service's request and reply logic, free of I/O: the eleven-field filter form, the
// error reply in six languages, the proxy list text, the country/port list, and zlib packing.

#include "service/ServiceProxy.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

/// What a list request asks for. Zero (or -1 for the yes/no wishes) means "no condition".
struct TListQuery {
    QString Language = QStringLiteral("english"); ///< lower case; unknown names fall back to English
    QString CountryCode;                          ///< upper case; empty = any country
    int Https = -1;                               ///< -1 any, 0 without HTTPS, 1 with HTTPS
    int Post = -1;                                ///< -1 any, 0 without POST, 1 with POST
    int MinSpeed = 0;                             ///< kB/s
    int Port = 0;                                 ///< 0 = any port
    int MaxPing = 0;                              ///< seconds
    int TypeMask = 0;                             ///< bit (1 << TAnonymity) per wanted type; 0 = any
    int MinUptime = 0;                            ///< per cent
    int MinUptimeHours = 0;                       ///< hours
    int IntervalMinutes = 0;                      ///< only proxies checked this recently

    bool operator==(const TListQuery &) const = default;
};

/// Why a list request could not be read.
struct TListError {
    enum TKind { ekMissingField, ekNotANumber, ekUnknownValue, ekMalformedForm, ekTooLarge };
    TKind Kind = ekMalformedForm;
    QString Field;
    QString Value;
};

/// The names of the form's fields, in the order the program sends them.
const QStringList &ListFormFields();

/// Reads the form (field name -> value). Returns the error when a field is missing, a number is no
/// number, or a value is not one of the known codes; otherwise fills Query.
std::optional<TListError> ParseListForm(const QMap<QString, QString> &Fields, TListQuery &Query);

/// The interface languages whose texts the service has.
const QStringList &ServiceLanguages();
/// The error's message in Language ("english", "russian", "ukrainian", "french", "spanish",
/// "german"; any other name gives English). Never contains "|" or line breaks.
QString ListErrorMessage(const TListError &Error, const QString &Language);

/// "Error|" + message + "|" + link + "|" as UTF-8 (bars and line breaks in the texts become blanks).
QByteArray ErrorReplyText(const QString &Message, const QString &Link);

/// One line per proxy: address|port|code|"country name"|score, CR LF after each line.
QByteArray FormatServiceList(const std::vector<TServiceProxy> &Proxies);

/// The country block ("any" first, then code:name), an empty line, the port block ("any" first,
/// then port:port); CR LF line ends.
QByteArray FormatCountryPortList(const std::vector<std::pair<QString, QString>> &Countries,
                                 const std::vector<int> &Ports);

/// The zlib stream (RFC 1950) of Data, as compress2 makes it.
QByteArray ZlibCompress(const QByteArray &Data, int Level = 6);
