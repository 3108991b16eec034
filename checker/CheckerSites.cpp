#include "checker/CheckerSites.h"

#include "checker/Marlo.Common.ProxyTest.h"
#include "platform/ServiceEndpoints.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

TCheckerSites DefaultCheckerSites() {
    TCheckerSites s;
    s.Judges = {JudgeBaseUrl() + QStringLiteral("/type.php"), ServiceBaseUrl() + QStringLiteral("/engine/type.php")};
    // Well-known public pages that answer plain "http://" and carry a stable phrase: a job board,
    // a programming forum, a computer maker, a browser maker, the computer maker's browser page,
    // a graphics program and a programming language.
    const QList<TCheckerSite> pages = {
        {QStringLiteral("http://www.monster.com/"), QStringLiteral("Monster")},
        {QStringLiteral("http://stackoverflow.com/"), QStringLiteral("Stack Overflow")},
        {QStringLiteral("http://www.apple.com/"), QStringLiteral("Apple")},
        {QStringLiteral("http://www.mozilla.org/"), QStringLiteral("Mozilla")},
        {QStringLiteral("http://www.apple.com/safari/"), QStringLiteral("Safari")},
        {QStringLiteral("http://www.gimp.org/"), QStringLiteral("GIMP")},
        {QStringLiteral("http://www.python.org/"), QStringLiteral("Python")},
    };
    s.Http = pages + pages.mid(2); // the last five a second time: they carry twice the load
    s.Speed = {pages.at(0).Url, pages.at(1).Url};
    s.Https = {
        {QStringLiteral("https://www.paypal.com/"), QStringLiteral("PayPal")},
        {QStringLiteral("https://stripe.com/"), QStringLiteral("Stripe")},
        {QStringLiteral("https://www.skrill.com/"), QStringLiteral("Skrill")},
        {QStringLiteral("https://telegram.org/"), QStringLiteral("Telegram")},
        {QStringLiteral("https://signal.org/"), QStringLiteral("Signal")},
    };
    return s;
}

namespace {

QStringList Urls(const QJsonObject &Root, const QString &Key, const QString &Path) {
    if (!Root.value(Key).isArray())
        throw EConvertError(QStringLiteral("%1: \"%2\" must be a list of URLs").arg(Path, Key));
    QStringList out;
    for (const QJsonValue &v : Root.value(Key).toArray()) {
        if (!v.isString() || v.toString().isEmpty())
            throw EConvertError(QStringLiteral("%1: \"%2\" must be a list of URLs").arg(Path, Key));
        out.append(v.toString());
    }
    return out;
}

QList<TCheckerSite> Pages(const QJsonObject &Root, const QString &Key, const QString &Path) {
    if (!Root.value(Key).isArray())
        throw EConvertError(QStringLiteral("%1: \"%2\" must be a list of {\"url\", \"keyword\"}").arg(Path, Key));
    QList<TCheckerSite> out;
    for (const QJsonValue &v : Root.value(Key).toArray()) {
        const QJsonObject o = v.toObject();
        if (!o.value(QLatin1String("url")).isString() || !o.value(QLatin1String("keyword")).isString() ||
            o.value(QLatin1String("url")).toString().isEmpty())
            throw EConvertError(QStringLiteral("%1: \"%2\" must be a list of {\"url\", \"keyword\"}").arg(Path, Key));
        out.append({o.value(QLatin1String("url")).toString(), o.value(QLatin1String("keyword")).toString()});
    }
    return out;
}

} // namespace

TCheckerSites LoadCheckerSites(const QString &Path) {
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("cannot read the sites file %1: %2").arg(Path, f.errorString()));
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        throw EConvertError(QStringLiteral("%1: not a JSON object (%2)").arg(Path, err.errorString()));
    const QJsonObject root = doc.object();
    TCheckerSites s;
    s.Judges = Urls(root, QStringLiteral("judges"), Path);
    s.Http = Pages(root, QStringLiteral("http"), Path);
    s.Speed = Urls(root, QStringLiteral("speed"), Path);
    s.Https = Pages(root, QStringLiteral("https"), Path);
    return s;
}

void RegisterCheckerSites(TKvProxyTest &Test, const TCheckerSites &Sites) {
    for (const QString &u : Sites.Judges)
        Test.AddTypeSiteUrl(u);
    for (const TCheckerSite &p : Sites.Http)
        Test.AddHttpSiteUrl(p.Url, p.Keyword);
    for (const QString &u : Sites.Speed)
        Test.AddSpeedSiteUrl(u);
    for (const TCheckerSite &p : Sites.Https)
        Test.AddHttpsSiteUrl(p.Url, p.Keyword);
}
