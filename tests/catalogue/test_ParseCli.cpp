// relayvane-cli parse against golden files (tests/catalogue/data/cli/*.out). The country database
// is the fixture in tests/catalogue/data/geoip, handed in through RELAYVANE_GEOIP_CSV, so the
// expected output does not follow the built-in data. UPDATE_GOLDEN=1 rewrites the golden files.

#include "tests/catalogue/CatalogueTestSupport.h"

#include <QFile>
#include <gtest/gtest.h>
#include <zlib.h>

using testsupport::DataPath;

namespace {

QString Cli(const QString &Name) {
    return DataPath(QStringLiteral("catalogue"), QStringLiteral("cli/") + Name);
}

QByteArray Compress(const QByteArray &Bytes) {
    uLongf size = compressBound(static_cast<uLong>(Bytes.size()));
    QByteArray out(static_cast<qsizetype>(size), '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef *>(out.data()), &size,
                        reinterpret_cast<const Bytef *>(Bytes.constData()), static_cast<uLong>(Bytes.size()), 9),
              Z_OK);
    out.resize(static_cast<qsizetype>(size));
    return out;
}

struct TCliCase {
    const char *Name;
    QStringList Args; // "@name" stands for the fixture file cli/name
    QByteArray Stdin; // "@name" reads cli/name, "@z:name" its zlib-compressed bytes
    int Status;
    const char *Stdout; // golden file under cli/, or null for no output
    const char *Stderr; // golden file under cli/, or null for no output
};

void PrintTo(const TCliCase &C, std::ostream *Os) {
    *Os << C.Name;
}

class ParseCli : public ::testing::TestWithParam<TCliCase> {
protected:
    static void SetUpTestSuite() {
        qputenv("RELAYVANE_GEOIP_CSV", DataPath(QStringLiteral("catalogue"), QStringLiteral("geoip")).toLocal8Bit());
    }
};

void CheckGolden(const char *File, const QByteArray &Actual, const char *What) {
    const QString path = Cli(QString::fromLatin1(File));
    if (qEnvironmentVariableIsSet("UPDATE_GOLDEN")) {
        testsupport::WriteFile(path, Actual);
        return;
    }
    EXPECT_EQ(Actual.toStdString(), testsupport::ReadFile(path).toStdString()) << What << " differs from " << File;
}

} // namespace

TEST_P(ParseCli, MatchesTheGoldenFiles) {
    const TCliCase &c = GetParam();
    QStringList args{QStringLiteral("parse")};
    for (const QString &a : c.Args)
        args << (a.startsWith(u'@') ? Cli(a.mid(1)) : a);
    QByteArray in = c.Stdin;
    if (in.startsWith("@z:"))
        in = Compress(testsupport::ReadFile(Cli(QString::fromLatin1(in.mid(3)))));
    else if (in.startsWith('@'))
        in = testsupport::ReadFile(Cli(QString::fromLatin1(in.mid(1))));
    QByteArray out, err;
    const int status = testsupport::RunProgram(QStringLiteral(RELAYVANE_CLI), args, &out, &err, in);
    EXPECT_EQ(status, c.Status) << err.toStdString();
    if (c.Stdout) {
        CheckGolden(c.Stdout, out, "stdout");
    } else {
        EXPECT_EQ(out.toStdString(), "");
    }
    if (c.Stderr) {
        CheckGolden(c.Stderr, err, "stderr");
    } else {
        EXPECT_EQ(err.toStdString(), "");
    }
    if (c.Status != 0) {
        EXPECT_EQ(err.count('\n'), 1) << "one line on stderr";
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Golden, ParseCli, ::testing::Values(
    TCliCase{"free_file", {"@free.txt"}, {}, 0, "free.out", nullptr},
    TCliCase{"free_stdin_dash", {"-"}, "@free.txt", 0, "free.out", nullptr},
    TCliCase{"free_stdin_default", {}, "@free.txt", 0, "free.out", nullptr},
    TCliCase{"free_allow_duplicates", {"--allow-duplicates", "@free.txt"}, {}, 0, "free-duplicates.out", nullptr},
    TCliCase{"free_active", {"--active", "8.8.8.8:8080", "@free.txt"}, {}, 0, "free-active.out", nullptr},
    TCliCase{"free_json", {"--json", "@free.txt"}, {}, 0, "free.json", nullptr},
    TCliCase{"empty_json", {"--json", "-"}, "", 0, "empty.json", nullptr},
    TCliCase{"service_plain", {"--service", "@service.txt"}, {}, 0, "service.out", nullptr},
    TCliCase{"service_zlib", {"--service"}, "@z:service.txt", 0, "service.out", nullptr},
    TCliCase{"service_json", {"--service", "--json", "@service.txt"}, {}, 0, "service.json", nullptr},
    TCliCase{"service_error_reply", {"--service", "@service-error.txt"}, {}, 1, nullptr, "service-error.err"},
    TCliCase{"service_error_reply_zlib", {"--service"}, "@z:service-error.txt", 1, nullptr, "service-error.err"},
    TCliCase{"service_bad_line", {"--service", "-"}, "1.2.3.4|80|AU|Australia|5\n8.8.8.8|80|US|United States|8\n", 1, nullptr, "service-bad.err"},
    TCliCase{"service_damaged_zlib", {"--service", "-"}, QByteArray("\x78\x9c\x01\x02\x03", 5), 1, nullptr, "service-damaged.err"},
    TCliCase{"free_bad_entry", {"-"}, "1.2.3.4:80\n<td>5.6.7.8</td><td>8080</td>\n", 1, nullptr, "free-bad.err"},
    TCliCase{"unknown_option", {"--frobnicate"}, {}, 1, nullptr, "unknown-option.err"},
    TCliCase{"bad_active", {"--active", "8.8.8.8"}, {}, 1, nullptr, "bad-active.err"},
    TCliCase{"help", {"--help"}, {}, 0, "help.out", nullptr}));
// clang-format on

TEST(ParseCliMissingFile, NamesTheFile) {
    QByteArray out, err;
    const int status = testsupport::RunProgram(
        QStringLiteral(RELAYVANE_CLI), {QStringLiteral("parse"), QStringLiteral("/nonexistent/list.txt")}, &out, &err);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(err.startsWith("relayvane-cli: parse: cannot open '/nonexistent/list.txt': ")) << err.toStdString();
    EXPECT_EQ(err.count('\n'), 1);
}
