// relayvane-cli lookup: its output against golden files, its errors and its help.

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::DataPath;
using testsupport::ReadFile;
using testsupport::RunProgram;

namespace {

const QString kCli = QStringLiteral(RELAYVANE_CLI);
const QStringList kAddresses = {QStringLiteral("8.8.8.8"),     QStringLiteral("127.0.0.1"), QStringLiteral("10.0.0.1"),
                                QStringLiteral("192.168.1.1"), QStringLiteral("1.0.0.256"), QStringLiteral("128.0.0.1"),
                                QStringLiteral("0.0.0.1")};

} // namespace

TEST(LookupCommand, PrintsOneTabSeparatedLinePerAddress) {
    QByteArray out, err;
    ASSERT_EQ(RunProgram(kCli, QStringList{QStringLiteral("lookup")} + kAddresses, &out, &err), 0) << err.constData();
    EXPECT_EQ(out, ReadFile(DataPath(QStringLiteral("geoip"), QStringLiteral("lookup.golden"))));
    EXPECT_TRUE(out.startsWith("8.8.8.8\t")) << "names the United States";
    EXPECT_TRUE(out.contains("\tUS\tUnited States\n"));
    EXPECT_TRUE(out.contains("127.0.0.1\t0\t\t\n"));
    EXPECT_TRUE(out.contains("10.0.0.1\t0\t\t\n"));
    EXPECT_TRUE(err.isEmpty());
}

TEST(LookupCommand, PrintsJson) {
    QByteArray out, err;
    ASSERT_EQ(
        RunProgram(kCli, QStringList{QStringLiteral("lookup"), QStringLiteral("--json")} + kAddresses, &out, &err), 0)
        << err.constData();
    EXPECT_EQ(out, ReadFile(DataPath(QStringLiteral("geoip"), QStringLiteral("lookup.json.golden"))));
}

TEST(LookupCommand, BadInputIsOneLineOnStderrAndStatusOne) {
    const struct {
        QStringList args;
        const char *message;
    } cases[] = {
        {{QStringLiteral("8.8.8.8"), QStringLiteral("1.2.3")},
         "relayvane-cli: lookup: '1.2.3' is not an IPv4 address: '' is not a valid integer value\n"},
        {{QStringLiteral("1.2.3.x")},
         "relayvane-cli: lookup: '1.2.3.x' is not an IPv4 address: 'x' is not a valid integer value\n"},
        {{}, "relayvane-cli: lookup: no address given; see 'relayvane-cli lookup --help'\n"},
        {{QStringLiteral("--xml"), QStringLiteral("8.8.8.8")},
         "relayvane-cli: lookup: unknown option '--xml'; see 'relayvane-cli lookup --help'\n"},
    };
    for (const auto &c : cases) {
        QByteArray out, err;
        EXPECT_EQ(RunProgram(kCli, QStringList{QStringLiteral("lookup")} + c.args, &out, &err), 1) << c.message;
        EXPECT_EQ(err, QByteArray(c.message));
        EXPECT_TRUE(out.isEmpty()) << "no partial output: " << out.constData();
    }
}

TEST(LookupCommand, Help) {
    QByteArray out, err;
    EXPECT_EQ(RunProgram(kCli, {QStringLiteral("lookup"), QStringLiteral("--help")}, &out, &err), 0);
    EXPECT_TRUE(out.startsWith("usage: relayvane-cli lookup [--json] IP...\n"));
    EXPECT_TRUE(err.isEmpty());
    EXPECT_EQ(RunProgram(kCli, {QStringLiteral("--help")}, &out, &err), 0);
    EXPECT_TRUE(out.contains("  lookup "));
}
