// relayvane-cli lookup [--json] IP...: the country of each address from the built-in database.

#include "cli/CliCommand.h"
#include "geoip/CountryDatabase.h"
#include "platform/SysUtils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <cstdio>
#include <vector>

namespace {

const char *const kLookupHelp = "usage: relayvane-cli lookup [--json] IP...\n"
                                "\n"
                                "Looks each IPv4 address up in the built-in country database and prints one line per\n"
                                "address:  IP<TAB>cIndex<TAB>code<TAB>name\n"
                                "An address that no block covers has no country: cIndex 0 and empty code and name.\n"
                                "Each of the four dotted parts counts with its low 8 bits (1.0.0.256 is looked up as\n"
                                "1.0.0.0); a part that is not a decimal number is an error.\n"
                                "\n"
                                "Options:\n"
                                "  --json     print a JSON array of {\"ip\", \"cIndex\", \"code\", \"name\"} objects\n"
                                "  -h, --help show this help\n";

int RunLookup(const QStringList &Args) {
    if (CliWantsHelp(Args)) {
        QTextStream(stdout) << kLookupHelp;
        return 0;
    }
    bool json = false;
    QStringList addresses;
    for (const QString &a : Args) {
        if (a == QLatin1String("--json"))
            json = true;
        else if (a.startsWith(QLatin1String("--")))
            return CliFail(QStringLiteral("lookup: unknown option '%1'; see 'relayvane-cli lookup --help'").arg(a));
        else
            addresses.append(a);
    }
    if (addresses.isEmpty())
        return CliFail(QStringLiteral("lookup: no address given; see 'relayvane-cli lookup --help'"));

    // Every address is checked before anything is printed, so a bad one leaves no partial output.
    std::vector<uint32_t> keys;
    keys.reserve(static_cast<size_t>(addresses.size()));
    for (const QString &a : addresses) {
        try {
            keys.push_back(TCountryDatabase::IpToKey(a));
        } catch (const EConvertError &e) {
            return CliFail(QStringLiteral("lookup: '%1' is not an IPv4 address: %2").arg(a, e.Message()));
        }
    }

    TCountryDatabase db;
    db.LoadDatabase(QString());

    QTextStream out(stdout);
    QJsonArray array;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        const TCountryInfo *found = db.FindCountryByKey(keys[static_cast<size_t>(i)]);
        const TCountryInfo info = found ? *found : TCountryInfo();
        if (json) {
            array.append(QJsonObject{{QStringLiteral("ip"), addresses[i]},
                                     {QStringLiteral("cIndex"), int(info.cIndex)},
                                     {QStringLiteral("code"), info.code},
                                     {QStringLiteral("name"), info.name}});
        } else {
            out << addresses[i] << '\t' << int(info.cIndex) << '\t' << info.code << '\t' << info.name << '\n';
        }
    }
    if (json)
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
    return 0;
}

const TCliRegistrar kLookupRegistrar{{"lookup", "country of IPv4 addresses from the built-in database", RunLookup}};

} // namespace
