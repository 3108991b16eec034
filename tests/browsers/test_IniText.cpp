// INI text edits: reads of the first section and key, writes that change one value and nothing else.

#include "platform/IniText.h"

#include <gtest/gtest.h>

namespace {

struct ReadCase {
    const char *Name;
    const char *Text;
    const char *Section;
    const char *Key;
    bool Found;
    const char *Value;
};

class IniRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, FindsTheFirstSectionAndKey) {
    const ReadCase &c = GetParam();
    QString value = QStringLiteral("unchanged");
    EXPECT_EQ(
        initext::ReadValue(QString::fromUtf8(c.Text), QString::fromUtf8(c.Section), QString::fromUtf8(c.Key), value),
        c.Found);
    if (c.Found) {
        EXPECT_EQ(value, QString::fromUtf8(c.Value));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniRead,
    ::testing::Values(
        ReadCase{"plain", "[Proxy]\nHTTP server=1.2.3.4:80\n", "Proxy", "HTTP server", true, "1.2.3.4:80"},
        ReadCase{"case_and_blanks", "[ proxy ]\r\n  http SERVER =  a:1  \r\n", "Proxy", "HTTP server", true, "a:1"},
        ReadCase{"bom_first_line", "\xEF\xBB\xBF[Proxy]\nUse HTTP=1\n", "Proxy", "Use HTTP", true, "1"},
        ReadCase{"other_section", "[Other]\nUse HTTP=1\n[Proxy]\nX=1\n", "Proxy", "Use HTTP", false, ""},
        ReadCase{"first_key_wins", "[Proxy]\nK=1\nK=2\n", "Proxy", "K", true, "1"},
        ReadCase{"first_section_only", "[P]\nA=1\n[P]\nB=2\n", "P", "B", false, ""},
        ReadCase{"comment", "[P]\n;K=1\n#K=2\nK=3\n", "P", "K", true, "3"},
        ReadCase{"slash_comment", "[P]\n// K=1\n//=====\nK=2\n", "P", "K", true, "2"},
        ReadCase{"tabs_around_key_and_value", "[P]\n\tK\t\t= \tv w\t \n", "P", "K", true, "v w"},
        // Only spaces and tabs are blanks: another white space character belongs to the value.
        ReadCase{"other_white_space_kept", "[P]\nK=\xC2\xA0v\n", "P", "K", true, "\xC2\xA0v"},
        ReadCase{"empty_value", "[P]\nK=\n", "P", "K", true, ""},
        ReadCase{"value_with_equals", "[P]\nK=a=b\n", "P", "K", true, "a=b"},
        ReadCase{"no_section", "K=1\n", "P", "K", false, ""}),
    [](const auto &info) { return std::string(info.param.Name); });

struct WriteCase {
    const char *Name;
    const char *Before;
    const char *Section;
    const char *Key;
    const char *Value;
    const char *After;
};

class IniWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(IniWrite, ChangesOneValueOnly) {
    const WriteCase &c = GetParam();
    // QString::fromUtf8 drops a leading byte-order mark; the files are decoded keeping it.
    QString before = QString::fromUtf8(c.Before);
    if (QByteArray(c.Before).startsWith("\xEF\xBB\xBF"))
        before.prepend(QChar(0xFEFF));
    EXPECT_EQ(
        initext::WriteValue(before, QString::fromUtf8(c.Section), QString::fromUtf8(c.Key), QString::fromUtf8(c.Value))
            .toUtf8()
            .toStdString(),
        std::string(c.After));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWrite,
    ::testing::Values(
        WriteCase{"replace_keeps_spelling_and_crlf", "[Proxy]\r\nuse http=0\r\n[X]\r\nA=1\r\n", "Proxy", "Use HTTP",
                  "1", "[Proxy]\r\nuse http=1\r\n[X]\r\nA=1\r\n"},
        WriteCase{"add_key_after_last_key", "[Proxy]\nA=1\n\n[X]\nB=2\n", "proxy", "C", "3",
                  "[Proxy]\nA=1\nC=3\n\n[X]\nB=2\n"},
        WriteCase{"add_key_last_line_without_break", "[Proxy]\nA=1", "Proxy", "B", "2", "[Proxy]\nA=1\nB=2\n"},
        WriteCase{"new_section_after_blank_line", "[X]\nA=1\n", "Proxy", "Use HTTP", "1",
                  "[X]\nA=1\n\n[Proxy]\nUse HTTP=1\n"},
        WriteCase{"new_section_crlf_no_final_break", "[X]\r\nA=1", "Proxy", "K", "v",
                  "[X]\r\nA=1\r\n\r\n[Proxy]\r\nK=v\r\n"},
        WriteCase{"empty_text", "", "Proxy", "K", "v", "[Proxy]\nK=v\n"},
        WriteCase{"bom_kept", "\xEF\xBB\xBF[Proxy]\nK=1\n", "Proxy", "K", "2", "\xEF\xBB\xBF[Proxy]\nK=2\n"},
        // A last line that ends in a lone CR has no line break yet: the new key must not join it.
        WriteCase{"last_line_ends_in_cr", "[P]\nA=1\r", "P", "B", "2", "[P]\nA=1\r\nB=2\n"},
        WriteCase{"comment_not_taken", "[P]\n;K=1\n", "P", "K", "2", "[P]\n;K=1\nK=2\n"}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST(IniText, SectionNamesInFileOrder) {
    EXPECT_EQ(initext::SectionNames(QStringLiteral("[General]\nA=1\n[Install4F96D1932A9F858E]\n[Profile0]\n")),
              (QStringList{QStringLiteral("General"), QStringLiteral("Install4F96D1932A9F858E"),
                           QStringLiteral("Profile0")}));
}

TEST(IniText, ParseSectionsKeepsOrderAndRepeats) {
    const QList<initext::TIniSection> s = initext::ParseSections(QStringLiteral(
        "K=before any section\r\n[A]\r\n\tX\t= 1\r\n// X = 9\r\nx = 2\r\nno key\r\n=3\r\n[ B ]\r\n[A]\r\nY=4"));
    ASSERT_EQ(s.size(), 3);
    EXPECT_EQ(s[0].Name, QStringLiteral("A"));
    ASSERT_EQ(s[0].Entries.size(), 2);
    EXPECT_EQ(s[0].Entries[0].Key, QStringLiteral("X"));
    EXPECT_EQ(s[0].Entries[0].Value, QStringLiteral("1"));
    EXPECT_EQ(s[0].Entries[1].Key, QStringLiteral("x"));
    EXPECT_EQ(s[0].Entries[1].Value, QStringLiteral("2"));
    EXPECT_EQ(s[1].Name, QStringLiteral("B"));
    EXPECT_TRUE(s[1].Entries.isEmpty());
    EXPECT_EQ(s[2].Name, QStringLiteral("A"));
    ASSERT_EQ(s[2].Entries.size(), 1);
    EXPECT_EQ(s[2].Entries[0].Value, QStringLiteral("4"));
}

TEST(IniText, DecodeTextByByteOrderMark) {
    const struct {
        const char *Name;
        QByteArray Bytes;
    } cases[] = {
        {"utf16le", QByteArray("\xFF\xFE[\x00\xE4\x00]\x00", 8)},
        {"utf16be", QByteArray("\xFE\xFF\x00[\x00\xE4\x00]", 8)},
        {"utf8_bom", QByteArray("\xEF\xBB\xBF[\xC3\xA4]")},
        {"utf8", QByteArray("[\xC3\xA4]")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(initext::DecodeText(c.Bytes), QString::fromUtf8("[\xC3\xA4]")) << c.Name;
}

} // namespace
