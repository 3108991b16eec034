#pragma once
// Helpers for the configuration tests: a full text description of an object's published values
// (for comparing two configurations), and a configuration with every property changed.

#include "config/ProgramConfig.h"

#include <QMetaProperty>
#include <QString>

namespace configtest {

inline QString DescribeValue(const QMetaProperty &P, const QVariant &V) {
    if (P.isEnumType()) {
        const QMetaType t = V.metaType();
        const int v =
            t.sizeOf() == 1 ? *static_cast<const quint8 *>(V.constData()) : *static_cast<const int *>(V.constData());
        return QString::fromLatin1(P.enumerator().valueToKey(v));
    }
    if (V.metaType().id() == QMetaType::Double)
        return QString::number(V.toDouble(), 'g', 17);
    if (V.metaType().id() == QMetaType::QStringList)
        return V.toStringList().join(QStringLiteral("|"));
    return V.toString();
}

/// Every stored published value of Obj, sub-objects and collection items included, one per line.
inline QString Describe(const QObject &Obj, const QString &Prefix = QString()) {
    QString out;
    const QMetaObject *m = Obj.metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < m->propertyCount(); ++i) {
        const QMetaProperty p = m->property(i);
        if (!p.isStored())
            continue;
        const QString name = Prefix + QLatin1String(p.name());
        const QVariant v = p.read(&Obj);
        if (p.metaType().flags() & QMetaType::PointerToQObject) {
            const QObject *sub = *static_cast<QObject *const *>(v.constData());
            out += Describe(*sub, name + u'.');
            if (const auto *coll = qobject_cast<const TMyCollection *>(sub)) {
                for (int r = 0; r < coll->Count(); ++r) {
                    const TMyCollectionItem *item = coll->Item(r);
                    const QMetaObject *im = item->GadgetMetaObject();
                    for (int k = 0; k < im->propertyCount(); ++k) {
                        const QMetaProperty ip = im->property(k);
                        if (ip.isStored())
                            out += QStringLiteral("%1[%2].%3 = %4\n")
                                       .arg(name)
                                       .arg(r)
                                       .arg(QLatin1String(ip.name()), DescribeValue(ip, ip.readOnGadget(item)));
                    }
                }
            }
            continue;
        }
        out += name + QStringLiteral(" = ") + DescribeValue(p, v) + u'\n';
    }
    return out;
}

inline TProxtData *AddProxy(TProxyCollection &List, const QString &Ip, int Port, double Rank = 0) {
    TProxtData *p = List.Add();
    p->SetIP(Ip);
    p->SetPort(Port);
    p->SetRank(Rank);
    return p;
}

/// A configuration in which every published property differs from its default.
inline void ChangeEverything(TProgramConfig &C) {
    C.SetEnabled(false);
    C.ProxyList()->SetNoDuplicates(false);
    for (int i = 0; i < 3; ++i) {
        TProxtData *p = AddProxy(*C.ProxyList(), QStringLiteral("10.0.0.%1").arg(i + 1), 3128 + i, 0.25 * (i + 1));
        p->SetCountry(i == 1 ? QStringLiteral("Россия") : QStringLiteral("United States"));
        p->SetCountryCode(i == 1 ? QStringLiteral("RU") : QStringLiteral("US"));
        p->SetAlive(tsTrue);
        p->SetTranparent(tsFalse);
        p->SetAnonymous(tsTrue);
        p->SetElite(tsFalse);
        p->SetBotnet(tsTrue);
        p->SetHttpGet(tsFalse);
        p->SetHttpPost(tsTrue);
        p->SetHttpsGet(tsFalse);
        p->SetHttpsPost(tsTrue);
        p->SetSpeed(12345.5 * (i + 1));
        p->SetPing(0.125 + i);
        p->SetTested(true);
    }
    C.ProxyListUser()->SetNoDuplicates(false);
    TProxtData *u = AddProxy(*C.ProxyListUser(), QStringLiteral("192.168.1.1"), 65535, 5);
    u->SetSpeed(-2); // the checker's "measured time was zero"
    // Tested is read after the results, and Tested false resets them: a record with results
    // is a tested one.
    u->SetTested(true);
    C.SetLanguage(QStringLiteral("русский"));
    C.SetBrowser(QStringLiteral("mozilla firefox"));
    C.SetCountry(QStringLiteral("España"));
    C.SetPort(QStringLiteral("8080"));
    C.SetProxyType(QStringLiteral("elite"));
    C.SetSupportSSL(QStringLiteral("yes"));
    C.SetSupportCONNECT(QStringLiteral("no"));
    C.SetSupportPostGet(QStringLiteral("any"));
    C.SetMiniSpeed(-1);
    C.SetMaxPing(40000);
    C.SetMiniUptime(100000);
    C.SetTimeInteval(-200);
    C.SetUseListService(false);
    C.SetCustomURL(QStringLiteral("http://example.org/") + QString(300, u'p'));
    C.SetAutoDownloadProxy(true);
    C.SetAutoDownloadInterval(1);
    C.SetAutoChangeProxy(true);
    C.SetAutoChangeInterval(2147483647);
    C.SetRemoveProxyOnSwitch(true);
    C.SetSortOption(TProxyCollection::stPort);
    C.SetKeepHistory(true);
    C.SetKeepHistoryHours(-2147483647 - 1);
    C.SetUseLocalProxy(true);
    C.SetLocalProxyIp(QStringLiteral("user:pass@127.0.0.1:8118"));
    C.SetLocalProxyUserPAss(QStringLiteral("unused"));
    C.BanedProxy()->Add(QStringLiteral("10.0.0.1:3128=46000.5"));
    C.BanedProxy()->Add(QStringLiteral("10.0.0.2:3129=46000.75"));
    C.ProxyFilter()->SetActive(false);
    C.ProxyFilter()->SetCountry(QStringLiteral("US,CA"));
    C.ProxyFilter()->SetPort(QStringLiteral("3128"));
    C.ProxyFilter()->SetProxyType(QStringLiteral("anonymous"));
    C.ProxyFilter()->SetBotNetProxy(tsFalse);
    C.ProxyFilter()->SetHttpsPost(tsTrue);
    C.ProxyFilter()->SetHttpPost(tsFalse);
    C.ProxyFilter()->SetMaxPing(4.5);
    C.ProxyFilter()->SetMiniSpeed(10.25);
    C.SetMiniUptimeHr(12);
    C.SetSort(true);
    C.SetActiveProxyServer(QStringLiteral("10.0.0.2:3129"));
    C.SetGroupBoxVIPState(false);
    C.SetGroupBoxFreeState(true);
    C.SetGroupBoxSettingsState(true);
}

} // namespace configtest
