#pragma once
// What "relayvane-service import" reads: free list text (every address and port pair, through the
// catalogue's own parser) and JSON records that carry measured fields.
//
// JSON: an array of objects, or an object whose "proxies" member is that array. Each object:
//   "address" (or "ip")    dotted IPv4 address                       required
//   "port"                 1 to 65535                                required
//   "type"                 "transparent", "anonymous" or "elite"     optional
//   "https", "post"        true or false                             optional
//   "speed"                kB/s, >= 0                                optional
//   "ping"                 seconds, >= 0                             optional
//   "uptime"               per cent, 0 to 100                        optional
//   "uptime_hours"         hours, >= 0                               optional
//   "last_check"           seconds since 1970, or an ISO 8601 date   optional
//   "country_code", "country"  override the country database's answer    optional
// A record replaces what was stored for its proxy: measured fields it leaves out become unknown.

#include "service/ServiceProxy.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <vector>

class TCountryDatabase;

/// Reads JSON records; raises Exception naming the first bad record and field.
std::vector<TServiceProxy> ParseImportJson(const QByteArray &Json);

/// Reads free list text with the catalogue's parser (duplicates dropped); each proxy gets the
/// country the catalogue's database gives its address.
std::vector<TServiceProxy> ParseImportText(QIODevice &Stream);

/// Gives every record without a country code the country of its address from Database.
void AssignCountries(std::vector<TServiceProxy> &Proxies, const TCountryDatabase &Database);
