// The list text formats: ParseStream (free format) and ParseStreamVIP (service format),
// the active proxy rule, duplicates, and the mended failure rule (a failed parse changes nothing).

#include "catalogue/Marlo.Common.ProxyList.h"
#include "tests/catalogue/CatalogueTestSupport.h"
#include "tests/catalogue/ReferenceParser.h"
#include "tests/support/RecordingWarningSink.h"

#include <QBuffer>
#include <QStringEncoder>
#include <gtest/gtest.h>
#include <random>

using cataloguetest::Addresses;
using cataloguetest::NewList;
using cataloguetest::Records;

namespace {

enum class TOutcome { Ok, ListError, ConvertError };

struct TFreeCase {
    const char *Name;
    QByteArray Text;
    QStringList Expected; // "ip:port" in order
    TOutcome Outcome = TOutcome::Ok;
};

void PrintTo(const TFreeCase &C, std::ostream *Os) {
    *Os << C.Name;
}

class FreeFormat : public ::testing::TestWithParam<TFreeCase> {};

} // namespace

TEST_P(FreeFormat, Parses) {
    const TFreeCase &c = GetParam();
    auto list = NewList();
    switch (c.Outcome) {
    case TOutcome::Ok:
        list->ParseText(c.Text, nullptr);
        EXPECT_EQ(Addresses(*list), c.Expected);
        break;
    case TOutcome::ListError:
        EXPECT_THROW(list->ParseText(c.Text, nullptr), EProxyListError);
        break;
    case TOutcome::ConvertError:
        EXPECT_THROW(list->ParseText(c.Text, nullptr), EConvertError);
        break;
    }
    // Whatever the outcome, the hand-made scanner agrees with the literal regular expression.
    const reference::TResult ref = reference::ParseFree(c.Text, true);
    EXPECT_EQ(ref.Error, c.Outcome != TOutcome::Ok);
    if (!ref.Error) {
        QStringList refAddresses;
        for (const auto &p : ref.Proxies)
            refAddresses << p.IP + u':' + QString::number(p.Port);
        EXPECT_EQ(refAddresses, c.Expected);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Forms, FreeFormat, ::testing::Values(
    TFreeCase{"colon", "1.2.3.4:8080", {"1.2.3.4:8080"}},
    TFreeCase{"at_sign", "1.2.3.4@8080", {"1.2.3.4:8080"}},
    TFreeCase{"one_space", "1.2.3.4 8080", {"1.2.3.4:8080"}},
    TFreeCase{"two_spaces", "1.2.3.4  8080", {"1.2.3.4:8080"}},
    TFreeCase{"three_spaces", "1.2.3.4   8080", {"1.2.3.4:8080"}},
    // "    " becomes "::" by the pair rule: an empty field stands where the port is expected.
    TFreeCase{"four_spaces_leave_an_empty_port_field", "1.2.3.4    8080", {}, TOutcome::ConvertError},
    TFreeCase{"tab", "1.2.3.4\t8080", {"1.2.3.4:8080"}},
    TFreeCase{"line_feed", "1.2.3.4\n8080", {"1.2.3.4:8080"}},
    TFreeCase{"cr_lf", "1.2.3.4\r\n8080\r\n", {"1.2.3.4:8080"}},
    TFreeCase{"carriage_return", "1.2.3.4\r8080", {"1.2.3.4:8080"}},
    TFreeCase{"colon_with_spaces", "1.2.3.4 : 8080", {"1.2.3.4:8080"}},
    TFreeCase{"tab_and_colon", "1.2.3.4\t:\t8080", {"1.2.3.4:8080"}},
    TFreeCase{"user_pass_at", "user:pass@1.2.3.4:8080\n", {"1.2.3.4:8080"}},
    TFreeCase{"user_with_digits", "bob:pw12@1.2.3.4:8080", {"1.2.3.4:8080"}},
    TFreeCase{"words_and_columns_around", "proxy 1.2.3.4:8080 elite US 12ms\n", {"1.2.3.4:8080"}},
    TFreeCase{"several_per_line", "1.2.3.4:80, 5.6.7.8:81;9.9.9.9:8080", {"1.2.3.4:80", "5.6.7.8:81", "9.9.9.9:8080"}},
    TFreeCase{"list", "1.2.3.4:80\n5.6.7.8:3128\n\n77.1.2.3:8080\n", {"1.2.3.4:80", "5.6.7.8:3128", "77.1.2.3:8080"}},
    // An address without port, then an address whose first number has two digits: the match runs
    // over the line break and takes those digits as the port; the rest of the line has no match.
    TFreeCase{"match_spans_lines", "1.2.3.4\n55.66.77.88:8080\n", {"1.2.3.4:55"}},
    TFreeCase{"address_only_line_then_one_digit_start", "1.2.3.4\n5.6.7.8:8080\n", {"5.6.7.8:8080"}},
    TFreeCase{"four_digit_first_number", "1234.5.6.7:80", {"234.5.6.7:80"}},
    TFreeCase{"four_digit_second_number", "1.2222.3.4.5:80", {"222.3.4.5:80"}},
    TFreeCase{"one_digit_port", "1.2.3.4:8\n", {}},
    TFreeCase{"one_digit_ports_everywhere", "1.2.3.4:8\n5.6.7.8:9", {}},
    TFreeCase{"long_digit_run_gives_five", "1.2.3.4:123456", {"1.2.3.4:12345"}},
    TFreeCase{"no_range_check", "1.2.3.4:99999 300.1.1.1:80", {"1.2.3.4:99999", "300.1.1.1:80"}},
    TFreeCase{"no_port_at_all", "1.2.3.4", {}},
    TFreeCase{"three_parts_only", "1.2.3:8080", {}},
    TFreeCase{"empty", "", {}},
    TFreeCase{"signed_port_field", "1.2.3.4:+80", {"1.2.3.4:80"}},
    TFreeCase{"html_table_cells", "<td>1.2.3.4</td><td>8080</td>", {}, TOutcome::ListError},
    TFreeCase{"word_between", "1.2.3.4 port 8080", {}, TOutcome::ConvertError},
    TFreeCase{"two_colons", "1.2.3.4::8080", {}, TOutcome::ConvertError},
    TFreeCase{"letter_glued_to_address", "1.2.3.4x:8080", {}, TOutcome::ConvertError},
    TFreeCase{"latin1_byte_glued_to_address", "1.2.3.4\xE9:8080", {}, TOutcome::ConvertError},
    // The space becomes ":", and the quote opens a quoted field that runs to the end: the port.
    TFreeCase{"quote_before_port", "1.2.3.4 \"8080", {"1.2.3.4:8080"}}));
// clang-format on

TEST(ParseStream, CountriesFromTheDatabase) {
    auto list = NewList();
    list->ParseText("8.8.8.8:53\n10.0.0.1:80\n128.0.0.1:80\n77.1.1.1:8080\n1.0.0.255:80\n1.0.1.0:80\n300.1.1.1:80\n",
                    nullptr);
    EXPECT_EQ(Records(*list),
              QStringList({"8.8.8.8:53 US United States 0", "10.0.0.1:80   0", "128.0.0.1:80 US United States 0",
                           "77.1.1.1:8080 DE Germany 0", "1.0.0.255:80 AP Asia/Pacific Region 0", "1.0.1.0:80   0",
                           // each part counts with its low 8 bits: 300 is 44, no block there
                           "300.1.1.1:80   0"}));
}

TEST(ParseStream, ReadsTheStream) {
    auto list = NewList();
    QByteArray bytes("x 77.0.0.9:3128 y");
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    list->ParseStream(buffer, nullptr);
    EXPECT_EQ(Records(*list), QStringList({"77.0.0.9:3128 DE Germany 0"}));
}

namespace {

QByteArray Encode(const QString &Text, const std::string &How) {
    if (How == "utf16le")
        return QByteArray("\xFF\xFE", 2) + QByteArray(QStringEncoder(QStringConverter::Utf16LE).encode(Text));
    if (How == "utf16be")
        return QByteArray("\xFE\xFF", 2) + QByteArray(QStringEncoder(QStringConverter::Utf16BE).encode(Text));
    if (How == "utf8")
        return QByteArray("\xEF\xBB\xBF") + Text.toUtf8();
    return Text.toLatin1();
}

} // namespace

TEST(ParseStream, Encodings) {
    const QString good = QStringLiteral("Größe 77.1.1.1:80 – ü\n8.8.4.4:53\r\n200.1.1.1 81 Überall");
    // A no-break space is no blank: it stays in the address, which then is no address.
    const QString glued = QStringLiteral("Größe 77.1.1.1:80\n8.8.4.4\u00a0:53");
    for (const std::string how : {"utf16le", "utf16be", "utf8", "latin1"}) {
        auto list = NewList();
        list->ParseText(Encode(good, how), nullptr);
        EXPECT_EQ(Records(*list), QStringList({"77.1.1.1:80 DE Germany 0", "8.8.4.4:53 US United States 0",
                                               "200.1.1.1:81 CA Canada 0"}))
            << how;
        EXPECT_THROW(list->ParseText(Encode(glued, how), nullptr), EConvertError) << how;
    }
    // Without a byte-order mark UTF-8 is read byte by byte (Latin-1): the address is unaffected.
    auto list = NewList();
    list->ParseText(QStringLiteral("Größe: 77.1.1.1:80").toUtf8(), nullptr);
    EXPECT_EQ(Addresses(*list), QStringList({"77.1.1.1:80"}));
}

TEST(ParseStream, Duplicates) {
    const QByteArray text = "1.2.3.4:80\n1.2.3.4:80\n1.2.3.4:81\n01.2.3.4:80\n1.2.3.4 80\n";
    auto unique = NewList(true);
    unique->ParseText(text, nullptr);
    EXPECT_EQ(Addresses(*unique), QStringList({"1.2.3.4:80", "1.2.3.4:81", "01.2.3.4:80"}));
    auto all = NewList(false);
    all->ParseText(text, nullptr);
    EXPECT_EQ(Addresses(*all), QStringList({"1.2.3.4:80", "1.2.3.4:80", "1.2.3.4:81", "01.2.3.4:80", "1.2.3.4:80"}));
    // The index goes on answering after the parse.
    EXPECT_TRUE(unique->ProxyExists(QStringLiteral("01.2.3.4"), 80));
    EXPECT_FALSE(all->ProxyExists(QStringLiteral("1.2.3.4"), 80));
}

// Parsed addresses share their storage: each must still behave as a string of its own.
TEST(ParseStream, AddressesAreIndependentStrings) {
    QByteArray text;
    for (int i = 0; i < 3000; ++i) // several storage blocks
        text += QByteArray("10.0.") + QByteArray::number(i / 256) + '.' + QByteArray::number(i % 256) + ":80\n";
    auto list = NewList();
    list->ParseText(text, nullptr);
    ASSERT_EQ(list->Count(), 3000);
    for (int i : {0, 1, 1499, 2999}) {
        const QString ip = list->Items(i)->IP();
        EXPECT_EQ(ip, QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256));
        EXPECT_EQ(ip.utf16()[ip.size()], 0) << i; // terminated like any QString
    }
    // Editing one address, in place or by growing it, leaves its neighbours alone.
    QString first = list->Items(0)->IP();
    first[0] = u'9';
    first += QStringLiteral("999");
    list->Items(1)->SetIP(list->Items(1)->IP() + QStringLiteral("7"));
    EXPECT_EQ(first, QStringLiteral("90.0.0.0999"));
    EXPECT_EQ(list->Items(0)->IP(), QStringLiteral("10.0.0.0"));
    EXPECT_EQ(list->Items(1)->IP(), QStringLiteral("10.0.0.17"));
    EXPECT_EQ(list->Items(2)->IP(), QStringLiteral("10.0.0.2"));
    // An address outlives the list it came from, and the last holder of a block may edit it.
    QString kept = list->Items(2998)->IP();
    list.reset();
    EXPECT_EQ(kept, QStringLiteral("10.0.11.182"));
    kept.append(QStringLiteral(":8080"));
    kept.prepend(u'x');
    EXPECT_EQ(kept, QStringLiteral("x10.0.11.182:8080"));
}

// ---------------------------------------------------------------------------------------------
// The active proxy rule

namespace {

TProxtData *AddTested(TProxyCollection &List, const QString &IP, int Port) {
    TProxtData *r = List.Add(QStringLiteral("Oldland"), QStringLiteral("OL"), 4.25, IP, Port);
    r->SetAlive(tsTrue);
    r->SetSpeed(5000);
    r->SetPing(2);
    r->SetTested(true);
    return r;
}

} // namespace

TEST(ActiveProxyRule, ActiveProxyComesFirstEvenWhenNotInTheText) {
    TProxyCollection other;
    TProxtData *active = AddTested(other, QStringLiteral("9.9.9.9"), 3128);
    auto list = NewList();
    list->ParseText("1.2.3.4:80\n", active);
    EXPECT_EQ(Records(*list), QStringList({"9.9.9.9:3128 OL Oldland 4.25", "1.2.3.4:80 AU Australia 0"}));
    const TProxtData *first = list->Items(0);
    EXPECT_NE(first, active);
    EXPECT_EQ(first->Alive(), tsUnknown); // test results are not carried over
    EXPECT_EQ(first->Speed(), -1);
    EXPECT_FALSE(first->Tested());
}

TEST(ActiveProxyRule, TheTextsCopyIsSkippedWithNoDuplicates) {
    auto list = NewList(true);
    TProxtData *active = AddTested(*list, QStringLiteral("8.8.8.8"), 80);
    AddTested(*list, QStringLiteral("7.7.7.7"), 80);
    // The active proxy belongs to the list being replaced: its values are taken before it goes.
    list->ParseText("1.2.3.4:80 8.8.8.8:80", active);
    EXPECT_EQ(Records(*list), QStringList({"8.8.8.8:80 OL Oldland 4.25", "1.2.3.4:80 AU Australia 0"}));
}

TEST(ActiveProxyRule, WithoutNoDuplicatesTheTextsCopyStays) {
    auto list = NewList(false);
    TProxyCollection other;
    TProxtData *active = AddTested(other, QStringLiteral("8.8.8.8"), 80);
    list->ParseText("8.8.8.8:80", active);
    EXPECT_EQ(Records(*list), QStringList({"8.8.8.8:80 OL Oldland 4.25", "8.8.8.8:80 US United States 0"}));
}

TEST(ActiveProxyRule, NoActiveProxyEmptiesTheList) {
    auto list = NewList();
    AddTested(*list, QStringLiteral("7.7.7.7"), 80);
    list->ParseText("nothing here", nullptr);
    EXPECT_EQ(list->Count(), 0);
    AddTested(*list, QStringLiteral("7.7.7.7"), 80);
    list->ParseTextVIP("", nullptr);
    EXPECT_EQ(list->Count(), 0);
}

// ---------------------------------------------------------------------------------------------
// A failed parse leaves the collection exactly as it was

namespace {

struct TFailCase {
    const char *Name;
    bool Service;
    QByteArray Text;
};

void PrintTo(const TFailCase &C, std::ostream *Os) {
    *Os << C.Name;
}

class FailedParse : public ::testing::TestWithParam<TFailCase> {};

} // namespace

TEST_P(FailedParse, LeavesTheListIntact) {
    const TFailCase &c = GetParam();
    for (bool noDuplicates : {true, false}) {
        auto list = NewList(noDuplicates);
        TProxtData *a = AddTested(*list, QStringLiteral("7.7.7.7"), 80);
        TProxtData *b = list->Add(QStringLiteral("Germany"), QStringLiteral("DE"), 1, QStringLiteral("77.7.7.7"), 8080);
        const QStringList before = Records(*list);
        EXPECT_THROW(c.Service ? list->ParseTextVIP(c.Text, a) : list->ParseText(c.Text, a), Exception);
        EXPECT_EQ(Records(*list), before);
        ASSERT_EQ(list->Count(), 2);
        EXPECT_EQ(list->Items(0), a); // the very same records, not copies
        EXPECT_EQ(list->Items(1), b);
        EXPECT_EQ(a->Alive(), tsTrue);
        EXPECT_EQ(a->Index(), 0);
        EXPECT_EQ(list->ProxyExists(QStringLiteral("77.7.7.7"), 8080), noDuplicates);
        EXPECT_FALSE(list->ProxyExists(QStringLiteral("1.2.3.4"), 80));
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Errors, FailedParse, ::testing::Values(
    TFailCase{"free_too_few_fields", false, "1.2.3.4:80\n<td>5.6.7.8</td><td>8080</td>"},
    TFailCase{"free_port_no_number", false, "1.2.3.4:80\n5.6.7.8 port 8080"},
    TFailCase{"free_bad_address", false, "1.2.3.4:80\n5.6.7.8x:8080"},
    TFailCase{"service_too_few_fields", true, "1.2.3.4|80|AU|Australia|5\n5.6.7.8\n"},
    TFailCase{"service_fewer_than_five", true, "1.2.3.4|80|AU|Australia|5\n5.6.7.8|80|AU\n"},
    TFailCase{"service_port_no_number", true, "1.2.3.4|80|AU|Australia|5\n5.6.7.8|http|AU|Australia|5\n"},
    TFailCase{"service_score_no_number", true, "1.2.3.4|80|AU|Australia|5\n5.6.7.8|80|AU|Australia|high\n"},
    TFailCase{"service_score_with_comma", true, "1.2.3.4|80|AU|Australia|7,5\n"},
    TFailCase{"service_unquoted_space", true, "1.2.3.4|80|AU|Australia|5\n8.8.8.8|80|US|United States|8\n"},
    TFailCase{"service_blank_line", true, "1.2.3.4|80|AU|Australia|5\n\n5.6.7.8|80|AU|Australia|5\n"}));
// clang-format on

TEST(FailedParse, MessagesNameThePlace) {
    auto list = NewList();
    try {
        list->ParseTextVIP("1.2.3.4|80|AU|Australia|5\n8.8.8.8|80|US|United States|8\n", nullptr);
        FAIL() << "no exception";
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Line 2 of the list service reply: 'States' is not a valid floating "
                                              "point value"));
    }
    try {
        list->ParseText("ok 1.2.3.4:80\n<td>5.6.7.8</td><td>8080</td>", nullptr);
        FAIL() << "no exception";
    } catch (const EProxyListError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Proxy entry \"5.6.7.8</td><td>8080\" has no port after the address"));
    }
}

// ---------------------------------------------------------------------------------------------
// Service format

namespace {

using TRecordingSink = testsupport::RecordingWarningSink;

} // namespace

TEST(ParseStreamVIP, LinesToRecords) {
    auto list = NewList();
    list->ParseTextVIP("1.2.3.4|8080|US|\"United States\"|7.5\r\n"
                       "77.1.1.1:3128|DE|Germany|10\n"
                       "5.5.5.5|80|CI|\"C\xC3\xB4te d'Ivoire\"|1\r"
                       "6.6.6.6|81|XX|\"Say \"\"hi\"\"\"|0.5|extra\n",
                       nullptr);
    EXPECT_EQ(Records(*list),
              QStringList({"1.2.3.4:8080 US United States 3.75", "77.1.1.1:3128 DE Germany 5",
                           QStringLiteral("5.5.5.5:80 CI Côte d'Ivoire 0.5"), "6.6.6.6:81 XX Say \"hi\" 0.25"}));
    EXPECT_EQ(list->Items(0)->Speed(), -1);
}

TEST(ParseStreamVIP, ScoreSevenAndAHalfIsRankThreeThreeQuarters) {
    auto list = NewList();
    list->ParseTextVIP("8.8.8.8|80|US|USA|7.5", nullptr);
    ASSERT_EQ(list->Count(), 1);
    EXPECT_EQ(list->Items(0)->Rank(), 3.75);
}

TEST(ParseStreamVIP, NoCountryDatabaseIsUsed) {
    TProxyCollection list; // no database given: a lookup would load the real one
    list.ParseTextVIP("8.8.8.8|80|ZZ|Nowhere|2", nullptr);
    EXPECT_EQ(Records(list), QStringList({"8.8.8.8:80 ZZ Nowhere 1"}));
}

TEST(ParseStreamVIP, DuplicatesAndTheActiveProxy) {
    const QByteArray text = "1.2.3.4|80|AU|Australia|2\n1.2.3.4|80|AU|Australia|4\n8.8.8.8|80|US|USA|6\n";
    auto unique = NewList(true);
    TProxyCollection other;
    TProxtData *active = AddTested(other, QStringLiteral("8.8.8.8"), 80);
    unique->ParseTextVIP(text, active);
    EXPECT_EQ(Records(*unique), QStringList({"8.8.8.8:80 OL Oldland 4.25", "1.2.3.4:80 AU Australia 1"}));
    auto all = NewList(false);
    all->ParseTextVIP(text, nullptr);
    EXPECT_EQ(all->Count(), 3);
    // A duplicate is skipped before its other fields are read.
    unique->ParseTextVIP("1.2.3.4|80|AU|Australia|2\n1.2.3.4|80\n", nullptr);
    EXPECT_EQ(unique->Count(), 1);
}

namespace {

struct TErrorReplyCase {
    const char *Name;
    QByteArray Text;
    QString Msg, Url;
};

void PrintTo(const TErrorReplyCase &C, std::ostream *Os) {
    *Os << C.Name;
}

class ErrorReply : public ::testing::TestWithParam<TErrorReplyCase> {};

} // namespace

TEST_P(ErrorReply, GoesToTheWarningSinkAndKeepsOnlyTheActiveProxy) {
    const TErrorReplyCase &c = GetParam();
    auto list = NewList();
    TRecordingSink sink;
    list->SetWarningSink(&sink);
    TProxtData *active = AddTested(*list, QStringLiteral("7.7.7.7"), 80);
    AddTested(*list, QStringLiteral("6.6.6.6"), 80);
    list->ParseTextVIP(c.Text, active);
    EXPECT_EQ(sink.Calls, 1);
    EXPECT_EQ(sink.Msg, c.Msg);
    EXPECT_EQ(sink.Url, c.Url);
    EXPECT_EQ(Records(*list), QStringList({"7.7.7.7:80 OL Oldland 4.25"}));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, ErrorReply, ::testing::Values(
    TErrorReplyCase{"word_bar_message_bar", "Error|Service is down|", "Service is down", ""},
    TErrorReplyCase{"with_link", "ERROR|Too many requests| http://example.org/faq.php \r\n", "Too many requests",
                    "http://example.org/faq.php"},
    TErrorReplyCase{"no_bar", "an error happened\n", "", "an error happened"},
    TErrorReplyCase{"error_bar_inside_a_word", "Terror|x|y", "Tx", "y"},
    TErrorReplyCase{"error_without_bar_is_kept", "Terrors|x|y", "Terrors", "x|y"},
    TErrorReplyCase{"error_in_a_proxy_line", "1.2.3.4|80|ER|Errorland|5\n", "1.2.3.4", "80|ER|Errorland|5"},
    TErrorReplyCase{"link_cut_to_255", "error|m|" + QByteArray(300, 'a'), "m", QString(255, u'a')}));
// clang-format on

TEST(ParseStreamVIP, ErrorReplyWithoutSinkIsDropped) {
    auto list = NewList();
    EXPECT_NO_THROW(list->ParseTextVIP("Error|down|", nullptr));
    EXPECT_EQ(list->Count(), 0);
}

TEST(ParseStreamVIP, Utf8ByteOrderMarkAndEmptyReply) {
    auto list = NewList();
    list->ParseTextVIP("\xEF\xBB\xBF"
                       "1.2.3.4|80|AU|Australia|3",
                       nullptr);
    EXPECT_EQ(Records(*list), QStringList({"1.2.3.4:80 AU Australia 1.5"}));
    list->ParseTextVIP("", nullptr);
    EXPECT_EQ(list->Count(), 0);
    QByteArray bytes("1.2.3.4|80|AU|Australia|3\n");
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    list->ParseStreamVIP(buffer, nullptr);
    EXPECT_EQ(list->Count(), 1);
}

// ---------------------------------------------------------------------------------------------
// The scanner against the literal regular expression, on random text made of the characters that
// matter (digits, dots, separators, blanks, quotes, letters, non-ASCII).

TEST(ParseStream, AgreesWithTheRegularExpressionOnRandomText) {
    std::mt19937 rng(2024);
    const std::vector<QString> atoms = {"0",
                                        "1",
                                        "7",
                                        "12",
                                        "123",
                                        "1234",
                                        "99999",
                                        "123456",
                                        ".",
                                        ".",
                                        ".",
                                        ":",
                                        "@",
                                        " ",
                                        "  ",
                                        "\t",
                                        "\r",
                                        "\n",
                                        "\r\n",
                                        "\"",
                                        "x",
                                        "ab",
                                        QStringLiteral("é"),
                                        QStringLiteral("–"),
                                        QString(QChar(0)),
                                        "1.2.3.4",
                                        "10.0.0.",
                                        "255.255.255.255:",
                                        "user:pw@",
                                        ",",
                                        "|",
                                        QStringLiteral("\u00a0")};
    int agreements = 0, records = 0;
    for (int round = 0; round < 6000; ++round) {
        QString text;
        const int len = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < len; ++i)
            text += atoms[rng() % atoms.size()];
        const int encoding = static_cast<int>(rng() % 3);
        QByteArray bytes =
            encoding == 0 ? text.toLatin1()
            : encoding == 1
                ? QByteArray("\xEF\xBB\xBF") + text.toUtf8()
                : QByteArray("\xFF\xFE", 2) + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
        const bool noDuplicates = rng() % 2;
        const reference::TResult ref = reference::ParseFree(bytes, noDuplicates);
        ASSERT_TRUE(ref.Valid);
        auto list = NewList(noDuplicates);
        bool error = false;
        try {
            list->ParseText(bytes, nullptr);
        } catch (const Exception &) {
            error = true;
        }
        ASSERT_EQ(error, ref.Error) << text.toStdString();
        if (!error) {
            ASSERT_EQ(list->Count(), ref.Proxies.size()) << text.toStdString();
            for (int i = 0; i < list->Count(); ++i) {
                ASSERT_EQ(list->Items(i)->IP(), ref.Proxies[i].IP) << text.toStdString();
                ASSERT_EQ(list->Items(i)->Port(), ref.Proxies[i].Port) << text.toStdString();
            }
            records += list->Count();
        }
        ++agreements;
    }
    EXPECT_EQ(agreements, 6000);
    EXPECT_GT(records, 500); // the generator does make matches
}
