#pragma once
// One proxy as relayvane-service stores and serves it, and the score it is ranked by.

#include <QString>
#include <QStringView>
#include <optional>

/// Anonymity type of a stored proxy; the numbers are what the store keeps.
enum class TAnonymity : int { Unknown = 0, Transparent = 1, Anonymous = 2, Elite = 3 };

/// "transparent", "anonymous", "elite" or "" (unknown).
QString AnonymityName(TAnonymity Value);
/// Reads one of the three names (case-insensitive); false for anything else.
bool AnonymityFromName(QStringView Name, TAnonymity &Value);

/// A stored proxy. Measured fields are empty while unknown (a proxy imported from plain text).
struct TServiceProxy {
    QString Address; ///< dotted IPv4 address
    int Port = 0;
    QString CountryCode; ///< two-letter code in upper case, empty when the address has no country
    QString CountryName; ///< English name, empty when the address has no country
    TAnonymity Anonymity = TAnonymity::Unknown;
    std::optional<bool> Https;
    std::optional<bool> Post;
    std::optional<double> Speed;       ///< kB/s
    std::optional<double> Ping;        ///< seconds
    std::optional<double> Uptime;      ///< per cent, 0 to 100
    std::optional<double> UptimeHours; ///< hours the proxy has been seen working
    std::optional<qint64> LastCheck;   ///< seconds since 1970 (UTC) of the last check
    double Score = 0;                  ///< 0 to 10, see ComputeScore

    bool operator==(const TServiceProxy &) const = default;
};

/// The score, 0 to 10 with one decimal, from the measured fields (unknown fields earn nothing):
///   speed        3 points at 100 kB/s or faster, in proportion below
///   ping         2 points at 0 s, falling linearly to 0 points at 10 s or slower
///   uptime       3 points at 100 %, in proportion
///   anonymity    1 point for elite, 0.5 for anonymous, 0 for transparent
///   HTTPS, POST  0.5 points each when supported
double ComputeScore(const TServiceProxy &Proxy);

/// True for a dotted IPv4 address: four decimal parts of 1 to 3 digits, each 0 to 255.
bool IsIPv4Address(QStringView Text);
