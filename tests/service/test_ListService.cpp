// The list service's form reading, error texts and reply formats, on bytes.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "service/ListService.h"
#include "sourcing/DownloadCountryThread.h"
#include "tests/service/QtPrinters.h"
#include "tests/support/RecordingWarningSink.h"

#include <QSet>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

QMap<QString, QString> AnyForm() {
    QMap<QString, QString> f;
    for (const QString &name : ListFormFields())
        f.insert(name, QStringLiteral("any"));
    f[QStringLiteral("lang")] = QStringLiteral("english");
    for (const char *n : {"speed", "ping", "uptime", "uptimeinhours", "interval"})
        f[QLatin1String(n)] = QStringLiteral("0");
    return f;
}

using TCapture = testsupport::RecordingWarningSink;

TEST(ListForm, ReadsTheProgramsValues) {
    QMap<QString, QString> f = AnyForm();
    f["lang"] = "Russian";
    f["cc"] = "de";
    f["ssl"] = "2";
    f["post"] = "1";
    f["speed"] = "10";
    f["port"] = "8080";
    f["ping"] = "15";
    f["type"] = "23";
    f["uptime"] = "70";
    f["uptimeinhours"] = "24";
    f["interval"] = "15";
    TListQuery q;
    ASSERT_FALSE(ParseListForm(f, q));
    TListQuery want;
    want.Language = "russian";
    want.CountryCode = "DE";
    want.Https = 1;
    want.Post = 0;
    want.MinSpeed = 10;
    want.Port = 8080;
    want.MaxPing = 15;
    want.TypeMask = (1 << int(TAnonymity::Anonymous)) | (1 << int(TAnonymity::Elite));
    want.MinUptime = 70;
    want.MinUptimeHours = 24;
    want.IntervalMinutes = 15;
    EXPECT_EQ(q, want);
}

TEST(ListForm, AnyAndEmptyMeanNoCondition) {
    for (const char *v : {"", "any", "ANY"}) {
        QMap<QString, QString> f = AnyForm();
        f["cc"] = v;
        f["port"] = v;
        TListQuery q;
        ASSERT_FALSE(ParseListForm(f, q)) << v;
        EXPECT_EQ(q, (TListQuery{})) << v;
    }
}

TEST(ListForm, TypeCodes) {
    const int t = 1 << int(TAnonymity::Transparent), a = 1 << int(TAnonymity::Anonymous),
              e = 1 << int(TAnonymity::Elite);
    const std::pair<const char *, int> cases[] = {{"23", a | e}, {"3", e}, {"1", t}, {"2", a}, {"any", 0}};
    for (const auto &[code, mask] : cases) {
        QMap<QString, QString> f = AnyForm();
        f["type"] = code;
        TListQuery q;
        ASSERT_FALSE(ParseListForm(f, q)) << code;
        EXPECT_EQ(q.TypeMask, mask) << code;
    }
}

TEST(ListForm, UnreadableFormsNameTheField) {
    struct TCase {
        const char *Field;
        const char *Value; // nullptr: the field is left out
        TListError::TKind Kind;
    };
    const TCase cases[] = {
        {"lang", nullptr, TListError::ekMissingField}, {"interval", nullptr, TListError::ekMissingField},
        {"speed", "fast", TListError::ekNotANumber},   {"ping", "1.5", TListError::ekNotANumber},
        {"uptime", "", TListError::ekNotANumber},      {"uptimeinhours", "99999999999", TListError::ekNotANumber},
        {"port", "http", TListError::ekNotANumber},    {"port", "70000", TListError::ekUnknownValue},
        {"port", "0", TListError::ekUnknownValue},     {"type", "4", TListError::ekUnknownValue},
        {"type", "elite", TListError::ekUnknownValue}, {"type", "", TListError::ekUnknownValue},
        {"ssl", "yes", TListError::ekUnknownValue},    {"post", "3", TListError::ekUnknownValue},
        {"cc", "usa", TListError::ekUnknownValue},     {"cc", "1x", TListError::ekUnknownValue},
    };
    for (const TCase &c : cases) {
        QMap<QString, QString> f = AnyForm();
        if (c.Value)
            f[c.Field] = c.Value;
        else
            f.remove(c.Field);
        TListQuery q;
        const auto error = ParseListForm(f, q);
        ASSERT_TRUE(error) << c.Field << "=" << (c.Value ? c.Value : "(missing)");
        EXPECT_EQ(error->Kind, c.Kind) << c.Field;
        EXPECT_EQ(error->Field, c.Field);
        EXPECT_TRUE(ListErrorMessage(*error, "english").contains(c.Field));
    }
}

TEST(ListErrorMessages, SixLanguagesNoBarsEnglishFallback) {
    const TListError kinds[] = {{TListError::ekMissingField, "cc", {}},
                                {TListError::ekNotANumber, "speed", "x|y\r\nz"},
                                {TListError::ekUnknownValue, "type", "9"},
                                {TListError::ekMalformedForm, {}, {}},
                                {TListError::ekTooLarge, {}, {}}};
    ASSERT_EQ(ServiceLanguages().size(), 6);
    for (const TListError &e : kinds) {
        QSet<QString> texts;
        for (const QString &lang : ServiceLanguages()) {
            const QString m = ListErrorMessage(e, lang);
            EXPECT_FALSE(m.contains(u'|') || m.contains(u'\r') || m.contains(u'\n')) << m.toStdString();
            texts.insert(m);
        }
        EXPECT_EQ(texts.size(), 6) << "each language has its own text";
        EXPECT_EQ(ListErrorMessage(e, "klingon"), ListErrorMessage(e, "english"));
        EXPECT_EQ(ListErrorMessage(e, "GERMAN"), ListErrorMessage(e, "german"));
    }
}

TEST(ErrorReply, TheProgramShowsMessageAndLink) {
    const QByteArray text = ErrorReplyText("Das Feld \"x\" fehlt.", "http://h:1/faq.php");
    EXPECT_EQ(text, QByteArray("Error|Das Feld \"x\" fehlt.|http://h:1/faq.php|"));
    TProxyCollection c;
    TCapture sink;
    c.SetWarningSink(&sink);
    c.ParseTextVIP(text, nullptr);
    EXPECT_EQ(c.Count(), 0);
    ASSERT_EQ(sink.Calls, 1);
    EXPECT_EQ(sink.Msg, "Das Feld \"x\" fehlt.");
    EXPECT_TRUE(sink.Url.startsWith("http://h:1/faq.php")) << sink.Url.toStdString();
}

TEST(ServiceListFormat, ReadBackByTheProgramsParser) {
    auto make = [](const char *address, int port, const char *code, const char *name, double score) {
        TServiceProxy p;
        p.Address = address;
        p.Port = port;
        p.CountryCode = code;
        p.CountryName = name;
        p.Score = score;
        return p;
    };
    const std::vector<TServiceProxy> proxies = {
        make("1.2.3.4", 8080, "KR", "Korea, Republic of", 7.5),
        make("5.6.7.8", 80, "US", "United States", 10),
        make("9.9.9.9", 3128, "", "", 0.3), // no country
        make("8.8.4.4", 1080, "XX", "Odd \"Name\"", 2),
    };
    const QByteArray text = FormatServiceList(proxies);
    EXPECT_TRUE(text.startsWith("1.2.3.4|8080|KR|\"Korea, Republic of\"|7.5\r\n")) << text.constData();
    EXPECT_FALSE(text.toLower().contains("error"));

    TProxyCollection c;
    c.SetNoDuplicates(true);
    c.ParseTextVIP(text, nullptr);
    ASSERT_EQ(c.Count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(c.Items(i)->IP(), proxies[i].Address);
        EXPECT_EQ(c.Items(i)->Port(), proxies[i].Port);
        EXPECT_EQ(c.Items(i)->CountryCode(), proxies[i].CountryCode);
        EXPECT_EQ(c.Items(i)->Country(), proxies[i].CountryName);
        EXPECT_DOUBLE_EQ(c.Items(i)->Rank(), proxies[i].Score / 2);
    }
}

TEST(ServiceListFormat, NamesNeverTurnTheListIntoAnErrorReply) {
    TServiceProxy p;
    p.Address = "1.2.3.4";
    p.Port = 80;
    p.CountryCode = "ZZ";
    p.CountryName = "Terror Bay";
    p.Score = 4;
    TProxyCollection c;
    TCapture sink;
    c.SetWarningSink(&sink);
    c.ParseTextVIP(FormatServiceList({p}), nullptr);
    EXPECT_EQ(sink.Calls, 0);
    ASSERT_EQ(c.Count(), 1);
    EXPECT_EQ(c.Items(0)->Country(), "ZZ");
}

TEST(CountryPortList, BlocksAsTheProgramReadsThem) {
    const QByteArray reply =
        FormatCountryPortList({{"DE", "Germany"}, {"KR", "Korea: South"}, {"", "skipped"}}, {80, 8080});
    EXPECT_EQ(
        reply,
        QByteArray("any:Any country\r\nDE:Germany\r\nKR:Korea: South\r\n\r\nany:Any port\r\n80:80\r\n8080:8080\r\n"));
    QStringList countries, ports;
    SplitCountryPortReply(QString::fromUtf8(reply), countries, ports); // the program's own reading
    EXPECT_EQ(countries, QStringList({"any=Any country", "DE=Germany", "KR=Korea= South"}));
    EXPECT_EQ(ports, QStringList({"any=Any port", "80=80", "8080=8080"}));

    countries.clear();
    ports.clear();
    SplitCountryPortReply(QString::fromUtf8(FormatCountryPortList({}, {})), countries, ports);
    EXPECT_EQ(countries, QStringList({"any=Any country"}));
    EXPECT_EQ(ports, QStringList({"any=Any port"}));
}

TEST(Zlib, CompressIsAZlibStream) {
    QByteArray data;
    for (int i = 0; i < 5000; ++i)
        data += "1.2.3." + QByteArray::number(i % 256) + "|8080|US|\"United States\"|5\r\n";
    const QByteArray packed = ZlibCompress(data);
    ASSERT_GE(packed.size(), 2);
    EXPECT_EQ(static_cast<unsigned char>(packed[0]) & 0x0f, 8) << "deflate method in the zlib header";
    EXPECT_EQ(((static_cast<unsigned char>(packed[0]) << 8) | static_cast<unsigned char>(packed[1])) % 31, 0);
    QByteArray back(data.size(), Qt::Uninitialized);
    uLongf size = static_cast<uLongf>(back.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef *>(back.data()), &size,
                         reinterpret_cast<const Bytef *>(packed.constData()), static_cast<uLong>(packed.size())),
              Z_OK);
    EXPECT_EQ(back, data);
    EXPECT_LT(packed.size(), data.size() / 5);
}

} // namespace
