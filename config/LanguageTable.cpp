#include "config/LanguageTable.h"

#include "platform/IniText.h"
#include "platform/ServiceEndpoints.h"

#include <QFile>

namespace {

/// The English FAQ sentence with the site address that follows it; the table's own texts carry the
/// same sentence in each language.
QString FaqSentence() {
    return QStringLiteral(" For more information please refer to FAQ at ") + ServiceBaseUrl() + u'/';
}

/// A text from the table whose FAQ sentence names the address the table was written with: the
/// same text naming the site the program talks to now (RELAYVANE_SERVICE may move it).
QString WithCurrentSite(const QString &Text) {
    const QString shipped = QLatin1String(kLanguageTableSiteAddress) + u'/';
    if (!Text.endsWith(shipped))
        return Text;
    return Text.left(Text.size() - shipped.size()) + ServiceBaseUrl() + u'/';
}

} // namespace

const TLanguageTable &TLanguageTable::Builtin() {
    // A function-local static is initialised once even when several threads ask at the same time.
    static const TLanguageTable table = [] {
        QFile file(QStringLiteral(":/INTERFACE_LANG"));
        if (!file.open(QIODevice::ReadOnly)) {
            // Without the table every caption shows its fallback text: the program stays usable.
            qWarning("relayvane: the embedded language table :/INTERFACE_LANG is missing");
            return TLanguageTable();
        }
        return FromBytes(file.readAll());
    }();
    return table;
}

TLanguageTable TLanguageTable::FromBytes(const QByteArray &Bytes) {
    TLanguageTable t;
    for (const initext::TIniSection &s : initext::ParseSections(initext::DecodeText(Bytes))) {
        const QString name = s.Name.toLower();
        // Only the first section of a name counts, as with the key lookup of a single section.
        if (t.FValues.contains(name))
            continue;
        t.FSectionNames << s.Name;
        QStringList &order = t.FKeyOrder[name];
        QHash<QString, QString> &values = t.FValues[name];
        for (const initext::TIniEntry &e : s.Entries) {
            order << e.Key;
            const QString key = e.Key.toLower();
            if (!values.contains(key))
                values.insert(key, e.Value);
        }
    }
    return t;
}

QString TLanguageTable::ReadString(const QString &Language, const QString &Key, const QString &Fallback) const {
    const auto section = FValues.constFind(Language.toLower());
    if (section == FValues.constEnd())
        return Fallback;
    const auto value = section->constFind(Key.toLower());
    return value == section->constEnd() ? Fallback : *value;
}

QStringList TLanguageTable::Keys(const QString &Language) const {
    return FKeyOrder.value(Language.toLower());
}

TMessageStrings LoadMessageStrings(const TLanguageTable &Table, const QString &Language) {
    TMessageStrings ms;
    auto read = [&](const char *Key, const char *Fallback) {
        return Table.ReadString(Language, QLatin1String(Key), QLatin1String(Fallback));
    };
    // The eight texts that send the user to the FAQ: the fallback carries the English sentence.
    auto readFaq = [&](const char *Key, const char *Fallback) {
        return WithCurrentSite(Table.ReadString(Language, QLatin1String(Key), QLatin1String(Fallback) + FaqSentence()));
    };
    ms.sTransparent = read("sTransparent", "Transparent");
    ms.sAnonymous = read("sAnonymous", "Anonymous");
    ms.sElite = read("sElite", "Elite");
    ms.sAlive = read("sAlive", "Alive");
    ms.sDead = read("sDead", "Dead");
    ms.sYes = read("sYes", "Yes");
    ms.sNo = read("sNo", "No");
    ms.sPending = read("sPending", "Pending");
    ms.sChecking = read("sChecking", "Checking");
    ms.sDone = read("sDone", "Done");
    ms.sError = read("sError", "Error");
    ms.sCheckinNotFinished =
        read("sCheckinNotFinished", "You cannot close the window until the proxy checking is not finished. Try to "
                                    "stop the process and after close the window.");
    ms.sCheckingFinished = read(
        "sCheckingFinished", "Proxy checking is finished. Now you can remove dead proxy servers and save the result.");
    ms.sLoading = read("sLoading", "Loading...");
    ms.sInvalidCustomUrl = read("sInvalidCustomUrl", "Custom URL is not valid");
    ms.sSelectCountry = read("sSelectCountry", "Please select a proxy country");
    ms.sSelectPort = read("sSelectPort", "Please select a proxy port");
    ms.sErrorLoadingData = read("sErrorLoadingData", "Cannot loading data from server");
    ms.sErrorLoadingProxyList = read("sErrorLoadingProxyList", "Cannot download proxy list");
    ms.sProxyDownloadedTitle = read("sProxyDownloadedTitle", "Total proxy servers were downloaded");
    ms.sProxyDownloadedMsg = read("sProxyDownloadedMsg", "Total proxy servers downloaded");
    ms.sProxyChangedTitle = read("sProxyChangedTitle", "Proxy server changed");
    ms.sProxyChangedProxy = read("sProxyChangedProxy", "Proxy");
    ms.sProxyChangedCountry = read("sProxyChangedCountry", "Country");
    ms.sCannotRunTwoCopies = readFaq("sCannotRunTwoCopies", "You cannot run two copies of that program.");
    ms.sCloseFirefox = readFaq("sCloseFirefox", "To do this operaton, please close Firefox browser first.");
    ms.sCloseOpera = readFaq("sCloseOpera", "To do this operaton, please close Opera browser first.");
    ms.sCannotSetupIE =
        readFaq("sCannotSetupIE", "Program cannot be prepare for Internet Explorer, Google Chrome and Safari!");
    ms.sCannotSetupFF = readFaq("sCannotSetupFF", "Program cannot be prepare for Firefox!");
    ms.sCannotSetupOP = readFaq("sCannotSetupOP", "Program cannot be prepare for Opera!");
    ms.sCloseToUpdate = readFaq("sCloseToUpdate", "Please restart the program to make changes affect!");
    ms.sCannotSetupLocalProxy =
        readFaq("sCannotSetupLocalProxy", "Cannot setup local proxy server. Make sure that you entered values in "
                                          "proper format, following two formats are allowed: ip:port and "
                                          "user:pass@ip:port!");
    return ms;
}

TMessageStrings LoadMessageStrings(const QString &Language) {
    return LoadMessageStrings(TLanguageTable::Builtin(), Language);
}

QString WindowTitle(const QString &Title) {
    return Title + QStringLiteral(" - RVN 3.1.3");
}
