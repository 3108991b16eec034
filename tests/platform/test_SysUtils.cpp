#include "platform/SysUtils.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char *text;
    char delimiter;
    QStringList fields;
};

TEST(SplitDelimited, FieldsFollowTheDelimitedTextRules) {
    const SplitCase cases[] = {
        {"1.2.3.4:8080", ':', {"1.2.3.4", "8080"}},
        {"  1.2.3.4 | 80 |US", '|', {"1.2.3.4", "80", "US"}},
        {"a||b", '|', {"a", "", "b"}},
        {"a|", '|', {"a", ""}},
        {"a| ", '|', {"a"}},
        {"two words", '|', {"two", "words"}},
        {"\"United States\"|7.5", '|', {"United States", "7.5"}},
        {"\"say \"\"hi\"\"\"|x", '|', {"say \"hi\"", "x"}},
        {"\"unclosed|x", '|', {"unclosed|x"}},
        {"", '|', {}},
        {"\t\r\n", '|', {}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(SplitDelimited(QString::fromLatin1(c.text), QLatin1Char(c.delimiter)), c.fields) << c.text;
    }
}

TEST(StrToInt, AcceptsDecimalIntegersOnly) {
    EXPECT_EQ(StrToInt(u"8080"), 8080);
    EXPECT_EQ(StrToInt(u"  -12"), -12);
    EXPECT_EQ(StrToInt(u"+7"), 7);
    EXPECT_EQ(StrToInt(u"2147483647"), 2147483647);
    EXPECT_EQ(StrToInt(u"-2147483648"), INT32_MIN);
    for (const char16_t *bad : {u"", u"  ", u"12a", u"1.5", u"2147483648", u"-", u"12 "}) {
        EXPECT_THROW(StrToInt(bad), EConvertError) << QString::fromUtf16(bad).toStdString();
    }
    try {
        StrToInt(u"abc");
        FAIL();
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'abc' is not a valid integer value"));
    }
}

TEST(StrToFloat, UsesAPointAsSeparatorWhateverTheLocale) {
    EXPECT_DOUBLE_EQ(StrToFloat(u"7.5"), 7.5);
    EXPECT_DOUBLE_EQ(StrToFloat(u"-0.25"), -0.25);
    EXPECT_DOUBLE_EQ(StrToFloat(u"10"), 10);
    EXPECT_DOUBLE_EQ(StrToFloat(u"1.5E3"), 1500);
    for (const char16_t *bad : {u"7,5", u"", u"abc", u"1.2.3", u"e5"})
        EXPECT_THROW(StrToFloat(bad), EConvertError) << QString::fromUtf16(bad).toStdString();
}

TEST(FloatToStr, WritesTheGeneralForm) {
    EXPECT_EQ(FloatToStr(2.75), QStringLiteral("2.75"));
    EXPECT_EQ(FloatToStr(-1), QStringLiteral("-1"));
    EXPECT_EQ(FloatToStr(0.1 + 0.2), QStringLiteral("0.3"));
    EXPECT_EQ(FloatToStr(1e20), QStringLiteral("1E20"));
}

TEST(TrimControl, RemovesControlCharactersAtBothEnds) {
    EXPECT_EQ(TrimControl(u"\x01 text \t\r\n"), QStringLiteral("text"));
    EXPECT_EQ(TrimControl(u"   "), QString());
}

} // namespace
