// The component stream on bytes, on test-only classes: tags, the string-tag rule,
// the 80-bit float, the meta-object-driven writer and reader, and zlib.

#include "config/ComponentStream.h"
#include "tests/config/StreamBytes.h"
#include "tests/config/StreamTestTypes.h"

#include <QRandomGenerator>
#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <zlib.h>

namespace {

QByteArray Hex(const TExtendedBytes &E) {
    return QByteArray(reinterpret_cast<const char *>(E.data()), 10).toHex(' ');
}

TExtendedBytes FromHex(const char *H) {
    const QByteArray b = QByteArray::fromHex(H);
    TExtendedBytes e{};
    std::memcpy(e.data(), b.constData(), 10);
    return e;
}

// ---------------------------------------------------------------------------------------------
// 80-bit extended float

TEST(Extended, WorkedExampleBytes) {
    // Rank 2.75 is 00 00 00 00 00 00 00 B0 00 40; -1 is 00 00 00 00 00 00 00 80 FF BF.
    EXPECT_EQ(Hex(DoubleToExtended(2.75)), "00 00 00 00 00 00 00 b0 00 40");
    EXPECT_EQ(Hex(DoubleToExtended(-1.0)), "00 00 00 00 00 00 00 80 ff bf");
    EXPECT_EQ(ExtendedToDouble(FromHex("000000000000 00B0 0040")), 2.75);
    EXPECT_EQ(ExtendedToDouble(FromHex("000000000000 0080 FFBF")), -1.0);
}

TEST(Extended, SpecialValues) {
    EXPECT_EQ(Hex(DoubleToExtended(0.0)), "00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(Hex(DoubleToExtended(-0.0)), "00 00 00 00 00 00 00 00 00 80");
    EXPECT_EQ(Hex(DoubleToExtended(1.0)), "00 00 00 00 00 00 00 80 ff 3f");
    EXPECT_EQ(Hex(DoubleToExtended(std::numeric_limits<double>::infinity())), "00 00 00 00 00 00 00 80 ff 7f");
    EXPECT_EQ(Hex(DoubleToExtended(-std::numeric_limits<double>::infinity())), "00 00 00 00 00 00 00 80 ff ff");
    EXPECT_TRUE(std::isnan(ExtendedToDouble(DoubleToExtended(std::numeric_limits<double>::quiet_NaN()))));
    EXPECT_TRUE(std::signbit(ExtendedToDouble(DoubleToExtended(-0.0))));
    // Smallest subnormal double: 2^-1074 -> exponent 16383-1074 = 0x3BCD, mantissa 8000…
    EXPECT_EQ(Hex(DoubleToExtended(std::numeric_limits<double>::denorm_min())), "00 00 00 00 00 00 00 80 cd 3b");
    EXPECT_EQ(ExtendedToDouble(DoubleToExtended(std::numeric_limits<double>::denorm_min())),
              std::numeric_limits<double>::denorm_min());
    // Out of the double's range: overflow to infinity, underflow to zero.
    EXPECT_EQ(ExtendedToDouble(FromHex("0000000000000080 FF7F") /* inf */), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ExtendedToDouble(FromHex("0000000000000080 0050")), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ExtendedToDouble(FromHex("0000000000000080 0030")), 0.0);
}

TEST(Extended, EveryDoubleSurvivesTheRoundTrip) {
    QRandomGenerator rng(12345);
    for (int i = 0; i < 200000; ++i) {
        const quint64 bits = rng.generate64();
        const double d = std::bit_cast<double>(bits);
        const double back = ExtendedToDouble(DoubleToExtended(d));
        if (std::isnan(d)) {
            ASSERT_TRUE(std::isnan(back));
            continue;
        }
        ASSERT_EQ(std::bit_cast<quint64>(back), bits) << d;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// On x86 the compiler's long double is the 80-bit format itself: the hardware is the reference for
// the rounding from 80 to 64 bits.
TEST(Extended, RoundsLikeTheX87) {
    static_assert(std::numeric_limits<long double>::digits == 64);
    QRandomGenerator rng(777);
    auto check = [](const TExtendedBytes &e) {
        long double ld = 0;
        std::memcpy(&ld, e.data(), 10);
        const double want = static_cast<double>(ld);
        const double got = ExtendedToDouble(e);
        if (std::isnan(want)) {
            ASSERT_TRUE(std::isnan(got)) << Hex(e).constData();
            return;
        }
        ASSERT_EQ(std::bit_cast<quint64>(got), std::bit_cast<quint64>(want)) << Hex(e).constData();
    };
    for (int i = 0; i < 300000; ++i) {
        TExtendedBytes e{};
        const quint64 mant = rng.generate64() | (quint64(1) << 63); // normal numbers (no unnormals)
        // Exponents mostly around the double's range, including its edges.
        int exp = 0;
        switch (i % 4) {
        case 0:
            exp = static_cast<int>(rng.bounded(0x7FFF));
            break;
        case 1:
            exp = 16383 - 1022 - 60 + static_cast<int>(rng.bounded(70));
            break; // subnormal results
        case 2:
            exp = 16383 + 1023 - 3 + static_cast<int>(rng.bounded(6));
            break; // overflow edge
        default:
            exp = 16383 - 30 + static_cast<int>(rng.bounded(60));
            break;
        }
        if (exp == 0)
            exp = 1;
        for (int b = 0; b < 8; ++b)
            e[b] = static_cast<quint8>(mant >> (8 * b));
        const quint16 se = static_cast<quint16>(exp | (rng.bounded(2) << 15));
        e[8] = static_cast<quint8>(se);
        e[9] = static_cast<quint8>(se >> 8);
        check(e);
        // Exact ties: the 11 bits below the double's mantissa are 100 0000 0000.
        const quint64 tie = (mant & ~quint64(0x7FF)) | 0x400;
        for (int b = 0; b < 8; ++b)
            e[b] = static_cast<quint8>(tie >> (8 * b));
        check(e);
    }
    // Denormals of the 80-bit format (exponent 0) and pseudo-denormals (leading bit set).
    for (quint64 m : {quint64(1), quint64(0x7FFFFFFFFFFFFFFF), quint64(0x8000000000000001)}) {
        TExtendedBytes e{};
        for (int b = 0; b < 8; ++b)
            e[b] = static_cast<quint8>(m >> (8 * b));
        check(e);
    }
}
#endif

// ---------------------------------------------------------------------------------------------
// The string-tag rule and the other value encodings

struct TStringCase {
    const char *Label;
    QString Text;
    TValueType Tag;
};

TEST(StringTag, ChoiceRule) {
    const QString s255(255, u'a'), s256(256, u'a');
    const TStringCase cases[] = {
        {"ASCII short", QStringLiteral("1.2.3.4"), vaString},
        {"ASCII 255 bytes", s255, vaString},
        {"ASCII 256 bytes is long", s256, vaLString},
        {"Cyrillic", QStringLiteral("русский"), vaWString},
        {"Ukrainian", QStringLiteral("український"), vaWString},
        {"español", QStringLiteral("español"), vaUTF8String},
        {"française", QStringLiteral("française"), vaUTF8String},
        {"deutsch", QStringLiteral("deutsch"), vaString},
        {"empty", QString(), vaWString},
        {"one é: 2 bytes is not less than 2", QStringLiteral("é"), vaWString},
        {"CJK", QStringLiteral("日本"), vaWString},
        {"emoji surrogate pair", QStringLiteral("😀"), vaWString},
        {"mostly ASCII with one emoji", QStringLiteral("ab😀"), vaUTF8String},
    };
    for (const auto &c : cases)
        EXPECT_EQ(StringValueType(c.Text), c.Tag) << c.Label;
}

TEST(StringTag, Encodings) {
    auto enc = [](const QString &s) {
        QByteArray out;
        TStreamWriter(out).WriteString(s);
        return out;
    };
    EXPECT_EQ(enc(QStringLiteral("1.2.3.4")), TBytes().String("1.2.3.4").Bytes());
    EXPECT_EQ(enc(QStringLiteral("русский")), TBytes().Wide(QStringLiteral("русский")).Bytes());
    EXPECT_EQ(enc(QStringLiteral("русский")).left(5), QByteArray::fromHex("1207000000"));
    EXPECT_EQ(enc(QStringLiteral("español")), QByteArray::fromHex("1408000000") + QStringLiteral("español").toUtf8());
    EXPECT_EQ(enc(QString()), QByteArray::fromHex("1200000000"));
    const QString s300(300, u'x');
    EXPECT_EQ(enc(s300), TBytes().Byte(12).Le32(300).Raw(s300.toLatin1()).Bytes());
}

TEST(Writer, IntegersTakeTheSmallestTag) {
    auto enc = [](qint32 v) {
        QByteArray out;
        TStreamWriter(out).WriteInteger(v);
        return out.toHex(' ');
    };
    EXPECT_EQ(enc(0), "02 00");
    EXPECT_EQ(enc(-128), "02 80");
    EXPECT_EQ(enc(127), "02 7f");
    EXPECT_EQ(enc(128), "03 80 00");
    EXPECT_EQ(enc(-129), "03 7f ff");
    EXPECT_EQ(enc(8080), "03 90 1f");
    EXPECT_EQ(enc(32767), "03 ff 7f");
    EXPECT_EQ(enc(-32768), "03 00 80");
    EXPECT_EQ(enc(32768), "04 00 80 00 00");
    EXPECT_EQ(enc(-32769), "04 ff 7f ff ff");
    EXPECT_EQ(enc(std::numeric_limits<qint32>::min()), "04 00 00 00 80");
}

TEST(Writer, NamesLongerThan255BytesAreRefused) {
    QByteArray out;
    EXPECT_THROW(TStreamWriter(out).WritePropName(QByteArray(256, 'n')), EWriteError);
}

TEST(Reader, ReadsEveryStringTag) {
    const QString texts[] = {QStringLiteral("plain"), QStringLiteral("русский"), QStringLiteral("español"),
                             QString(300, u'z'), QString()};
    for (const QString &t : texts) {
        QByteArray b;
        TStreamWriter(b).WriteString(t);
        TStreamReader r(b);
        const quint8 tag = r.ReadValueType("a value");
        EXPECT_EQ(r.ReadStringData(tag), t);
        EXPECT_TRUE(r.AtEnd());
    }
}

TEST(Reader, AbsurdLengthsFailWithoutAllocating) {
    // A wide string claiming 2^31-1 code units, a long string claiming 4 GB: errors, not allocations.
    for (const char *hex : {"12ffffff7f4142", "0cffffffff41", "14ffffffff", "0605abc"}) {
        const QByteArray b = QByteArray::fromHex(hex);
        TStreamReader r(b);
        const quint8 tag = r.ReadValueType("a value");
        EXPECT_THROW(r.ReadStringData(tag), EReadError) << hex;
    }
}

// ---------------------------------------------------------------------------------------------
// The meta-object-driven writer

// clang-format off (the bytes stay laid out record by record)
TEST(Component, WritesPublishedPropertiesInDeclarationOrder) {
    TTestRoot root;
    const QByteArray want = TBytes()
                                .Header("TTestRoot")
                                .Name("BaseValue")
                                .Int8(1) // base class first
                                .Name("Flag")
                                .True()
                                .Name("Number")
                                .Int8(0) // integers always
                                // Real 0 and Text empty are not written
                                .Name("Mode")
                                .Ident("tmSecond")
                                .Name("Items.Unique")
                                .False()
                                .Name("Items")
                                .Byte(14)
                                .End()
                                // Lines.Strings: no lines, no record
                                .Name("Sub.Text")
                                .String("sub")
                                // Sub.Number 0, Computed read-only, Hidden not stored: none
                                .End()
                                .End();
    EXPECT_EQ(WriteComponent(root).toHex(' '), want.toHex(' '));
}
// clang-format on

TTestRoot &Fill(TTestRoot &Root) {
    Root.SetBaseValue(-300);
    Root.SetFlag(false);
    Root.SetNumber(100000);
    Root.SetReal(0.1);
    Root.SetText(QStringLiteral("español"));
    Root.SetMode(TTestRoot::tmThird);
    Root.Items()->SetUnique(true);
    TTestItem *a = Root.Items()->Add();
    a->SetName(QStringLiteral("first"));
    a->SetValue(2.75);
    a->SetKind(TTestItem::tkTwo);
    a->SetCount(7);
    a->SetFlag(true);
    TTestItem *b = Root.Items()->Add();
    b->SetName(QStringLiteral("русский"));
    b->SetValue(0); // zero: not written, comes back as the item default -1
    Root.Lines()->Add(QStringLiteral("1.2.3.4:80=45000.5"));
    Root.Lines()->Add(QString());
    Root.Lines()->Add(QStringLiteral("ünïcode"));
    Root.Sub()->SetText(QString());
    Root.Sub()->SetNumber(-1);
    Root.SetHidden(QStringLiteral("never written"));
    return Root;
}

// clang-format off (the bytes stay laid out record by record)
TEST(Component, WritesCollectionsListsAndSubObjects) {
    TTestRoot root;
    Fill(root);
    const QByteArray want = TBytes()
                                .Header("TTestRoot")
                                .Name("BaseValue")
                                .Int16(-300)
                                .Name("Flag")
                                .False()
                                .Name("Number")
                                .Int32(100000)
                                .Name("Real")
                                .Ext("00d0cccccccccccc fb3f")
                                .Name("Text")
                                .Utf8(QStringLiteral("español"))
                                .Name("Mode")
                                .Ident("tmThird")
                                .Name("Items.Unique")
                                .True()
                                .Name("Items")
                                .Byte(14)
                                .Byte(1)
                                .Name("Name")
                                .String("first")
                                .Name("Value")
                                .Ext("00000000000000b0 0040")
                                .Name("Kind")
                                .Ident("tkTwo")
                                .Name("Count")
                                .Int8(7)
                                .Name("Flag")
                                .True()
                                .End()
                                .Byte(1)
                                .Name("Name")
                                .Wide(QStringLiteral("русский"))
                                .Name("Kind")
                                .Ident("tkNone")
                                .Name("Count")
                                .Int8(0)
                                .Name("Flag")
                                .False()
                                .End()
                                .End()
                                .Name("Lines.Strings")
                                .Byte(1)
                                .String("1.2.3.4:80=45000.5")
                                .Wide(QString())
                                .Utf8(QStringLiteral("ünïcode"))
                                .End()
                                .Name("Sub.Number")
                                .Ext("0000000000000080 ffbf")
                                .End()
                                .End();
    EXPECT_EQ(WriteComponent(root).toHex(' '), want.toHex(' '));
}
// clang-format on

void ExpectSame(const TTestRoot &A, const TTestRoot &B) {
    EXPECT_EQ(A.BaseValue(), B.BaseValue());
    EXPECT_EQ(A.Flag(), B.Flag());
    EXPECT_EQ(A.Number(), B.Number());
    EXPECT_EQ(A.Real(), B.Real());
    EXPECT_EQ(A.Text(), B.Text());
    EXPECT_EQ(A.Mode(), B.Mode());
    EXPECT_EQ(A.Items()->Unique(), B.Items()->Unique());
    ASSERT_EQ(A.Items()->Count(), B.Items()->Count());
    for (int i = 0; i < A.Items()->Count(); ++i) {
        EXPECT_EQ(A.Items()->Items(i)->Name(), B.Items()->Items(i)->Name());
        EXPECT_EQ(A.Items()->Items(i)->Value(), B.Items()->Items(i)->Value());
        EXPECT_EQ(A.Items()->Items(i)->Kind(), B.Items()->Items(i)->Kind());
        EXPECT_EQ(A.Items()->Items(i)->Count(), B.Items()->Items(i)->Count());
        EXPECT_EQ(A.Items()->Items(i)->Flag(), B.Items()->Items(i)->Flag());
    }
    EXPECT_EQ(A.Lines()->Strings(), B.Lines()->Strings());
    EXPECT_EQ(A.Sub()->Text(), B.Sub()->Text());
    EXPECT_EQ(A.Sub()->Number(), B.Sub()->Number());
}

TEST(Component, RoundTrip) {
    TTestRoot written;
    Fill(written);
    TTestRoot read;
    ReadComponent(WriteComponent(written), read);
    // What the stream does not carry: a zero float comes back as the item default, an empty text
    // keeps the reader's current value, a non-stored property is not touched.
    written.Items()->Items(1)->SetValue(-1);
    written.Sub()->SetText(QStringLiteral("sub"));
    ExpectSame(written, read);
    EXPECT_EQ(read.Hidden(), QString());
}

// clang-format off (the bytes stay laid out record by record)
TEST(Component, ReaderAcceptsEveryTagOfAKind) {
    TTestRoot root;
    const QByteArray s = TBytes()
                             .Header("Anything") // class and object names are read and ignored
                             .Name("Number")
                             .Int32(5) // small value in a 32-bit tag
                             .Name("BaseValue")
                             .Int16(7) // order does not matter
                             .Name("Real")
                             .Int8(-3) // float from an integer tag
                             .Name("Text")
                             .Byte(12)
                             .Le32(3)
                             .Raw("abc") // long string tag for a short text
                             .Name("Sub.Text")
                             .Wide(QStringLiteral("wide"))
                             .Name("Sub.Number")
                             .Int32(70000)
                             .Name("Lines.Strings")
                             .Byte(1)
                             .Byte(12)
                             .Le32(1)
                             .Raw("x")
                             .Utf8(QStringLiteral("y"))
                             .End()
                             .End()
                             .End();
    ReadComponent(s, root);
    EXPECT_EQ(root.Number(), 5);
    EXPECT_EQ(root.BaseValue(), 7);
    EXPECT_EQ(root.Real(), -3.0);
    EXPECT_EQ(root.Text(), QStringLiteral("abc"));
    EXPECT_EQ(root.Sub()->Text(), QStringLiteral("wide"));
    EXPECT_EQ(root.Sub()->Number(), 70000.0);
    EXPECT_EQ(root.Lines()->Strings(), QStringList({QStringLiteral("x"), QStringLiteral("y")}));
}
// clang-format on

// clang-format off (the bytes stay laid out record by record)
TEST(Component, CollectionItemsMaySitAfterAnIndex) {
    TTestRoot root;
    const QByteArray s = TBytes()
                             .Header("TTestRoot")
                             .Name("Items")
                             .Byte(14)
                             .Int8(0)
                             .Byte(1)
                             .Name("Name")
                             .String("a")
                             .End()
                             .Int16(1000)
                             .Byte(1)
                             .Name("Name")
                             .String("b")
                             .End()
                             .Byte(1)
                             .End() // an item with no property: all defaults
                             .End()
                             .End()
                             .End();
    ReadComponent(s, root);
    ASSERT_EQ(root.Items()->Count(), 3);
    EXPECT_EQ(root.Items()->Items(0)->Name(), QStringLiteral("a"));
    EXPECT_EQ(root.Items()->Items(1)->Name(), QStringLiteral("b"));
    EXPECT_EQ(root.Items()->Items(2)->Value(), -1.0);
}
// clang-format on

// clang-format off (the bytes stay laid out record by record)
TEST(Component, EmptyCollectionValueLeavesTheList) {
    TTestRoot root;
    root.Items()->Add()->SetName(QStringLiteral("kept"));
    ReadComponent(TBytes().Header("TTestRoot").Name("Items").Byte(14).End().End().End(), root);
    ASSERT_EQ(root.Items()->Count(), 1);
    EXPECT_EQ(root.Items()->Items(0)->Name(), QStringLiteral("kept"));
    // One with items replaces the records.
    ReadComponent(
        TBytes().Header("TTestRoot").Name("Items").Byte(14).Byte(1).Name("Name").String("new").End().End().End().End(),
        root);
    ASSERT_EQ(root.Items()->Count(), 1);
    EXPECT_EQ(root.Items()->Items(0)->Name(), QStringLiteral("new"));
}
// clang-format on

// clang-format off (the bytes stay laid out record by record)
TEST(Component, StringListValueReplacesTheLines) {
    TTestRoot root;
    root.Lines()->Add(QStringLiteral("old"));
    ReadComponent(
        TBytes().Header("TTestRoot").Name("Lines.Strings").Byte(1).String("n1").String("n2").End().End().End(), root);
    EXPECT_EQ(root.Lines()->Strings(), QStringList({QStringLiteral("n1"), QStringLiteral("n2")}));
}
// clang-format on

struct TBadCase {
    const char *Label;
    QByteArray Stream;
    const char *Reason; // a piece of the message
};

// clang-format off (the bytes stay laid out record by record)
TEST(Component, BadStreamsRaiseClearErrors) {
    const QByteArray head = TBytes().Header("TTestRoot");
    const TBadCase cases[] = {
        {"empty", QByteArray(), "no signature"},
        {"no signature", QByteArray("TPF1") + QByteArray(20, '\0'), "no signature \"TPF0\""},
        {"unknown property", TBytes().Raw(head).Name("Nope").True().End().End(), "unknown property 'Nope'"},
        {"unknown dotted", TBytes().Raw(head).Name("Sub.Nope").True().End().End(), "unknown property 'Sub.Nope'"},
        {"dotted through a scalar", TBytes().Raw(head).Name("Number.X").True().End().End(),
         "unknown property 'Number.X'"},
        {"objectName is not published here", TBytes().Raw(head).Name("objectName").String("x").End().End(),
         "unknown property 'objectName'"},
        {"Boolean from a text", TBytes().Raw(head).Name("Flag").String("true").End().End(),
         "property 'Flag' wants a Boolean"},
        {"integer from a float", TBytes().Raw(head).Name("Number").Ext("00000000000000800040").End().End(),
         "property 'Number' wants an integer"},
        {"text from an integer", TBytes().Raw(head).Name("Text").Int8(1).End().End(), "property 'Text' wants a text"},
        {"enum from a text", TBytes().Raw(head).Name("Mode").String("tmFirst").End().End(),
         "property 'Mode' wants an identifier"},
        {"unknown enum name", TBytes().Raw(head).Name("Mode").Ident("tmFourth").End().End(),
         "'tmFourth' is not a value of TTestMode"},
        {"collection from a list", TBytes().Raw(head).Name("Items").Byte(1).End().End().End(),
         "property 'Items' wants a collection"},
        {"object with a value", TBytes().Raw(head).Name("Sub").String("x").End().End(), "'Sub' is an object"},
        {"item without list begin", TBytes().Raw(head).Name("Items").Byte(14).String("x").End().End().End(),
         "where an item (tag 1) belongs"},
        {"unknown item property",
         TBytes().Raw(head).Name("Items").Byte(14).Byte(1).Name("Zip").True().End().End().End().End(),
         "unknown property 'Zip' in an item of 'Items'"},
        {"read-only item property",
         TBytes().Raw(head).Name("Items").Byte(14).Byte(1).Name("Derived").String("x").End().End().End().End(),
         "cannot be set"},
        {"read-only property", TBytes().Raw(head).Name("Computed").String("x").End().End(), "cannot be set"},
        {"line of a list not a text", TBytes().Raw(head).Name("Lines.Strings").Byte(1).Int8(3).End().End().End(),
         "as a line"},
        {"unknown tag", TBytes().Raw(head).Name("Flag").Byte(99).End().End(), "tag 99 (unknown tag)"},
        {"truncated in a name",
         head + QByteArray("\x07"
                           "Ena",
                           4),
         "ends too early (truncated)"},
        {"truncated before a value", TBytes().Raw(head).Name("Flag"), "ends too early (truncated)"},
        {"truncated in a float", TBytes().Raw(head).Name("Real").Byte(5).Hex("0000"), "ends too early (truncated)"},
        {"truncated before the end marks", TBytes().Raw(head).Name("Flag").True(), "ends too early (truncated)"},
        {"missing end of child objects", TBytes().Raw(head).End(), "ends too early (truncated)"},
        {"child objects", TBytes().Raw(head).End().Name("TChild").End(), "child objects are not supported"},
    };
    for (const auto &c : cases) {
        TTestRoot root;
        try {
            ReadComponent(c.Stream, root);
            ADD_FAILURE() << c.Label << ": no error";
        } catch (const EReadError &e) {
            EXPECT_TRUE(e.Message().contains(QLatin1String(c.Reason))) << c.Label << ": " << e.Message().toStdString();
            EXPECT_TRUE(e.Message().contains(QLatin1String("(at byte "))) << c.Label;
        }
    }
}
// clang-format on

TEST(Component, ValuesBeforeAFaultStaySetInTheRawReader) {
    // ReadComponent itself is the plain reader; all-or-nothing is TSaveLoadComponent's business.
    TTestRoot root;
    EXPECT_THROW(ReadComponent(TBytes().Header("TTestRoot").Name("Number").Int8(42).Name("Bad").True(), root),
                 EReadError);
    EXPECT_EQ(root.Number(), 42);
}

TEST(Component, MutatedStreamsNeverCrash) {
    TTestRoot src;
    Fill(src);
    const QByteArray good = WriteComponent(src);
    QRandomGenerator rng(99);
    for (int i = 0; i < 20000; ++i) {
        QByteArray b = good;
        const int edits = 1 + static_cast<int>(rng.bounded(4));
        for (int e = 0; e < edits; ++e) {
            const auto at = static_cast<qsizetype>(rng.bounded(static_cast<quint32>(b.size())));
            switch (rng.bounded(4)) {
            case 0:
                b[at] = static_cast<char>(rng.bounded(256));
                break;
            case 1:
                b.truncate(at);
                break;
            case 2:
                b.insert(at, static_cast<char>(rng.bounded(256)));
                break;
            default:
                b.remove(at, 1 + static_cast<qsizetype>(rng.bounded(8)));
                break;
            }
            if (b.isEmpty())
                break;
        }
        TTestRoot root;
        try {
            ReadComponent(b, root);
        } catch (const EReadError &) {
        }
    }
}

TEST(Component, CopyPublishedProperties) {
    TTestRoot a;
    Fill(a);
    TTestRoot b;
    b.Lines()->Add(QStringLiteral("replaced"));
    TTestCollection *items = b.Items();
    CopyPublishedProperties(a, b);
    EXPECT_EQ(b.Items(), items); // the owned objects stay
    ExpectSame(a, b);
    TTestSub other;
    EXPECT_THROW(CopyPublishedProperties(a, other), EAssignError);
}

// ---------------------------------------------------------------------------------------------
// zlib

TEST(Zlib, LevelNineStartsWith78DA) {
    const QByteArray packed = ZCompress(QByteArray("TPF0 and more"), 9);
    EXPECT_EQ(packed.left(2).toHex(), "78da");
    EXPECT_EQ(ZDecompress(packed), QByteArray("TPF0 and more"));
    EXPECT_EQ(ZDecompress(ZCompress(QByteArray())), QByteArray());
}

TEST(Zlib, SmallDataIsZlibsOwnOneShotCompression) {
    const QByteArray data = QByteArray("TPF0\x0eTProgramConfig") + QByteArray(5000, 'x');
    uLongf len = compressBound(static_cast<uLong>(data.size()));
    QByteArray want(static_cast<qsizetype>(len), '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef *>(want.data()), &len, reinterpret_cast<const Bytef *>(data.constData()),
                        static_cast<uLong>(data.size()), 9),
              Z_OK);
    want.truncate(static_cast<qsizetype>(len));
    EXPECT_EQ(ZCompress(data, 9), want);
}

TEST(Zlib, LargeDataIsDeflatedInSlicesIntoOneStream) {
    // 5.5 MiB: six slices, the last one short; text that refers back across slice borders.
    QByteArray data;
    QRandomGenerator rng(5);
    while (data.size() < 5 * (1 << 20) + (1 << 19))
        data += QByteArray("\x04Port\x03") + QByteArray::number(rng.bounded(65536)) + QByteArray(rng.bounded(40), 'z');
    const QByteArray packed = ZCompress(data, 9);
    EXPECT_EQ(packed.left(2).toHex(), "78da");
    EXPECT_LT(packed.size(), data.size() / 4);
    EXPECT_EQ(ZDecompress(packed), data);  // inflate checks the joined Adler-32 too
    EXPECT_EQ(ZCompress(data, 9), packed); // the same bytes every time
    EXPECT_EQ(ZCompress(data, 1).left(2).toHex(), "7801");
    EXPECT_EQ(ZDecompress(ZCompress(data, 1)), data);
}

TEST(Zlib, BadDataRaisesClearErrors) {
    const QByteArray good = ZCompress(QByteArray(100000, 'a') + QByteArray("tail"), 9);
    auto message = [](const QByteArray &B, qsizetype Max = qsizetype(1) << 30) {
        try {
            ZDecompress(B, Max);
        } catch (const EReadError &e) {
            return e.Message();
        }
        return QStringLiteral("no error");
    };
    EXPECT_TRUE(message(QByteArray()).contains(QLatin1String("not a zlib stream")));
    EXPECT_TRUE(message(QByteArray("TPF0\x0eTProgramConfig")).contains(QLatin1String("not a zlib stream")));
    EXPECT_TRUE(message(good.left(good.size() - 5)).contains(QLatin1String("ends too early")));
    EXPECT_TRUE(message(good.left(2)).contains(QLatin1String("ends too early")));
    QByteArray badSum = good;
    badSum[badSum.size() - 1] = static_cast<char>(badSum[badSum.size() - 1] ^ 1);
    EXPECT_TRUE(message(badSum).contains(QLatin1String("damaged")));
    EXPECT_TRUE(message(good, 1000).contains(QLatin1String("larger than 1000 bytes")));
    EXPECT_EQ(message(good + QByteArray("trailing")), QStringLiteral("no error"));
}

} // namespace
