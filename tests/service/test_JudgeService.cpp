// The judge's rules on header sets, and its two replies read the way the checker reads them.

#include "tests/service/QtPrinters.h"
#include "service/JudgeService.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

QStringList Lines(const QByteArray &Reply) {
    QString text = QString::fromUtf8(Reply);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(u'\n');
    if (text.endsWith(u'\n'))
        lines.removeLast();
    return lines;
}

TEST(JudgeAnonymity, RulesOverHeaderSets) {
    const QString user = "203.0.113.7";
    struct TCase {
        const char *Why;
        THeaderList Headers;
        const char *Letter;
    };
    const TCase cases[] = {
        {"plain browser request", {{"Host", "judge:80"}, {"User-Agent", "x"}, {"Accept", "*/*"}}, "e"},
        {"client address in X-Forwarded-For", {{"X-Forwarded-For", "203.0.113.7"}}, "t"},
        {"in a chain of X-Forwarded-For", {{"x-forwarded-for", "10.1.1.1, 203.0.113.7"}}, "t"},
        {"Forwarded for=", {{"Forwarded", "for=203.0.113.7;proto=http"}}, "t"},
        {"Forwarded with port", {{"Forwarded", "for=\"203.0.113.7:4711\""}}, "t"},
        {"X-Real-IP", {{"X-Real-IP", "203.0.113.7"}}, "t"},
        {"Client-IP", {{"Client-IP", "203.0.113.7"}}, "t"},
        {"True-Client-IP", {{"True-Client-IP", "203.0.113.7"}}, "t"},
        {"X-Client-IP", {{"X-Client-IP", "203.0.113.7"}}, "t"},
        {"tinyproxy's own header", {{"X-Tinyproxy", "203.0.113.7"}}, "t"},
        {"Via naming the client", {{"Via", "1.1 203.0.113.7 (proxy)"}}, "t"},
        {"Via only", {{"Via", "1.1 gateway (tinyproxy/1.11.1)"}}, "a"},
        {"X-Forwarded-For with another address", {{"X-Forwarded-For", "198.51.100.1"}}, "a"},
        {"longer number is not the address", {{"X-Forwarded-For", "203.0.113.71"}}, "a"},
        {"address inside a longer one", {{"X-Real-IP", "1203.0.113.7"}}, "a"},
        {"Proxy-Connection", {{"Proxy-Connection", "keep-alive"}}, "a"},
        {"X-Proxy-ID", {{"X-Proxy-ID", "123"}}, "a"},
        {"X-Forwarded-Proto", {{"X-Forwarded-Proto", "http"}}, "a"},
        {"address in a header that forwards nothing", {{"Referer", "http://203.0.113.7/"}}, "e"},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(JudgeAnonymity(c.Headers, user), c.Letter) << c.Why;
    EXPECT_EQ(JudgeAnonymity({{"X-Forwarded-For", "1.2.3.4"}}, ""), "a") << "no userip: never transparent";
    EXPECT_EQ(JudgeAnonymity({{"X-Forwarded-For", "1.2.3.4"}}, "::ffff:1.2.3.4"), "t");
}

TEST(JudgeBotnet, ArrivedFromTheProxyOrElsewhere) {
    EXPECT_EQ(JudgeBotnet("198.51.100.5", std::nullopt), "");
    EXPECT_EQ(JudgeBotnet("198.51.100.5", QString("198.51.100.5:8080")), "p");
    EXPECT_EQ(JudgeBotnet("::ffff:198.51.100.5", QString("198.51.100.5:8080")), "p");
    EXPECT_EQ(JudgeBotnet("198.51.100.6", QString("198.51.100.5:8080")), "b");
    EXPECT_EQ(JudgeBotnet("198.51.100.5", QString("")), "b");
    EXPECT_EQ(JudgeBotnet("::1", QString("[::1]:3128")), "p");
}

TEST(JudgeReplies, FiveLinesWithTheMarker) {
    TJudgeRequest r;
    r.PeerAddress = "198.51.100.5";
    r.Headers = {{"Via", "1.1 x"}};
    r.UserIp = "203.0.113.7";
    r.Proxy = "198.51.100.5:3128";
    r.Time = "1000.25";
    r.Field1 = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    r.Field2 = r.Field1;
    QStringList lines = Lines(*JudgeTestReply(r, 1002.5));
    EXPECT_EQ(lines, QStringList({"Qm7RvK2pLc9WnT4z", "a", "p", "2.250", "y"}));

    r.Field2 = "something else";
    r.Proxy.reset();
    r.Time = "2000"; // a clock ahead of the judge's: ping is never negative
    lines = Lines(*JudgeTestReply(r, 1000));
    EXPECT_EQ(lines, QStringList({"Qm7RvK2pLc9WnT4z", "a", "", "0.000", "n"}));

    r.Field2.reset();
    EXPECT_EQ(Lines(*JudgeTestReply(r, 3000)).at(4), "n") << "field2 never arrived";

    for (const char *bad : {"", "12,5", "soon", "nan", "inf"}) {
        r.Time = bad;
        EXPECT_FALSE(JudgeTestReply(r, 1000)) << bad;
    }
}

TEST(JudgeReplies, ShowIpGivesAddressAndClock) {
    const QStringList lines = Lines(JudgeShowIpReply("::ffff:127.0.0.1", 1733900000.5));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "127.0.0.1");
    EXPECT_EQ(lines[1], "1733900000.500");
}

} // namespace
