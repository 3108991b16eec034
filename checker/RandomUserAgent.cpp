#include "checker/RandomUserAgent.h"

#include <chrono>
#include <functional>
#include <random>
#include <thread>

const QStringList &UserAgentPlatforms() {
    static const QStringList table{
        QStringLiteral("Windows; U;"),           QStringLiteral("compatible; MSIE 5.0;"),
        QStringLiteral("compatible; MSIE 6.0;"), QStringLiteral("compatible; MSIE 7.0;"),
        QStringLiteral("compatible; MSIE 8.0;"),
    };
    return table;
}

const QStringList &UserAgentSystems() {
    static const QStringList table{
        QStringLiteral("Windows 95;"),     QStringLiteral("Windows 98;"),     QStringLiteral("Windows ME;"),
        QStringLiteral("Windows CE;"),     QStringLiteral("Windows 2000;"),   QStringLiteral("Windows XP;"),
        QStringLiteral("Windows NT;"),     QStringLiteral("Windows NT 5.0;"), QStringLiteral("Windows NT 5.1;"),
        QStringLiteral("Windows NT 5.2;"), QStringLiteral("Windows NT 6.0;"),
    };
    return table;
}

const QStringList &UserAgentLanguages() {
    // The duplicates belong to the table: they make those tags twice as likely.
    static const QStringList table =
        QStringLiteral(
            "af sq ar ar-ar ar-dz ar-bh ar-eg ar-iq ar-jo ar-kw ar-lb ar-ly ar-ma ar-om ar-qa ar-sa ar-sy ar-tn ar-ae "
            "ar-ye eu be bg ca zh-hk zh-cn zh-sg zh-tw zh-mo hr cs da da-dk nl nl-nl nl-be en en-au en-bz en-ca en "
            "en-ie en-jm en-nz en-za en-tt en-gb en-us et fo fa fi fi-fi fr-be fr-ca fr-lu fr fr-fr fr-ch mk gd-ie gd "
            "de de-de de-at de-li de-lu de-ch el he hi hu hu-hu is id it it-it it-ch ja ja-jp ko ko-kr ko lv lt ms mt "
            "no no-no nb nn pl pt-br pt-pt pt rm ro ro-mo ru ru-ru ru-mo sz sr sr sk sl sb es-ar es-bo es-cl es-co "
            "es-cr es-do es-ec es-sv es-es es-gt es-hn es-mx es-ni es-pa es-py es-pe es-pr es es-uy es-us es-ve sx sv "
            "sv-se sv-fi th ts tn tr uk ur us ve vi xh ji zh zh-Hans zh-Hant zh-tw zu")
            .split(QLatin1Char(' '));
    return table;
}

QString RandomUserAgent() {
    // One generator per thread, reseeded from the clock on every call; the thread's id is mixed in
    // so that workers asking in the same clock tick still get different identities.
    thread_local std::mt19937 gen;
    const auto now = static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    const auto tid = static_cast<std::uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
    std::seed_seq seed{static_cast<std::uint32_t>(now), static_cast<std::uint32_t>(now >> 32),
                       static_cast<std::uint32_t>(tid), static_cast<std::uint32_t>(tid >> 32)};
    gen.seed(seed);
    auto draw = [](int from, int to) { return std::uniform_int_distribution<int>(from, to)(gen); };

    const int m = draw(1, 4);
    const QString &p = UserAgentPlatforms().at(draw(0, int(UserAgentPlatforms().size()) - 1));
    const QString &w = UserAgentSystems().at(draw(0, int(UserAgentSystems().size()) - 1));
    const QString &l = UserAgentLanguages().at(draw(0, int(UserAgentLanguages().size()) - 1));
    const int d1 = draw(0, 8), d2 = draw(0, 8), d3 = draw(0, 8);
    return QStringLiteral("Mozilla/%1.0 (%2 %3 %4; rv:1.%5.%6.%7)").arg(m).arg(p, w, l).arg(d1).arg(d2).arg(d3);
}
