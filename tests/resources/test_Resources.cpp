// The embedded resources: the flag pictures and the path of a country's flag.

#include "resources/Resources.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

// Width, height, bit depth and colour type from a PNG's signature and IHDR chunk.
struct PngHead {
    bool ok = false;
    quint32 width = 0, height = 0;
    int depth = 0, colourType = 0;
};

PngHead ReadPngHead(const QByteArray &b) {
    PngHead h;
    if (b.size() < 33 || !b.startsWith("\x89PNG\r\n\x1a\n") || b.mid(12, 4) != "IHDR")
        return h;
    h.ok = true;
    h.width = qFromBigEndian<quint32>(b.constData() + 16);
    h.height = qFromBigEndian<quint32>(b.constData() + 20);
    h.depth = static_cast<uchar>(b[24]);
    h.colourType = static_cast<uchar>(b[25]);
    return h;
}

} // namespace

TEST(Resources, EveryFlagIsA20By20PngWithAlpha) {
    const QStringList flags = QDir(QStringLiteral(":/")).entryList({QStringLiteral("FLAG_*")}, QDir::Files);
    EXPECT_GT(flags.size(), 200);
    EXPECT_TRUE(flags.contains(QStringLiteral("FLAG_NN")));
    EXPECT_TRUE(flags.contains(QStringLiteral("FLAG_US")));
    EXPECT_TRUE(flags.contains(QStringLiteral("FLAG_EU")));
    for (const QString &name : flags) {
        QFile f(QStringLiteral(":/") + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        const PngHead h = ReadPngHead(f.readAll());
        EXPECT_TRUE(h.ok) << name.toStdString();
        EXPECT_EQ(h.width, 20u) << name.toStdString();
        EXPECT_EQ(h.height, 20u) << name.toStdString();
        EXPECT_EQ(h.colourType, 6) << name.toStdString() << ": RGBA, so the canvas stays transparent";
    }
}

TEST(Resources, FlagResourcePathFallsBackToTheNoCountryPicture) {
    EXPECT_EQ(FlagResourcePath(u"US"), QStringLiteral(":/FLAG_US"));
    EXPECT_EQ(FlagResourcePath(u"de"), QStringLiteral(":/FLAG_DE"));
    EXPECT_EQ(FlagResourcePath(u""), QStringLiteral(":/FLAG_NN"));
    EXPECT_EQ(FlagResourcePath(u"AP"), QStringLiteral(":/FLAG_NN")); // a region with no flag
    EXPECT_EQ(FlagResourcePath(u"/../WHOIS_IPS"), QStringLiteral(":/FLAG_NN"));
    EXPECT_EQ(FlagResourcePath(u"U S"), QStringLiteral(":/FLAG_NN"));
}

TEST(Resources, CountryDatabaseResourcesAreEmbedded) {
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/WHOIS_IPS")));
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/WHOIS_COUNTRY")));
}
