#pragma once
// The checker's test sites: judge endpoints, liveness pages with their phrases, speed pages and
// HTTPS pages. The defaults live here and nowhere else; a sites file replaces them as a whole.

#include <QList>
#include <QString>
#include <QStringList>

class TKvProxyTest;

/// A page and a phrase that the page contains.
struct TCheckerSite {
    QString Url;
    QString Keyword;
    bool operator==(const TCheckerSite &) const = default;
};

/// One complete set of test sites, in registration order.
struct TCheckerSites {
    QStringList Judges;
    QList<TCheckerSite> Http;
    QStringList Speed;
    QList<TCheckerSite> Https;
};

/// The built-in sites: 2 judges (the judge host's "/type.php" and the list service's
/// "/engine/type.php"), 12 liveness entries from 7 public pages, 2 speed pages, 5 HTTPS pages.
TCheckerSites DefaultCheckerSites();

/// Reads a sites file (JSON: {"judges": [URL...], "http": [{"url", "keyword"}...], "speed": [URL...],
/// "https": [{"url", "keyword"}...]}); every list must be present. Raises EInOutError when the file
/// cannot be read and EConvertError naming the fault when its content is wrong.
TCheckerSites LoadCheckerSites(const QString &Path);

/// Registers the sites with a scheduler, in the order of the lists.
void RegisterCheckerSites(TKvProxyTest &Test, const TCheckerSites &Sites);
