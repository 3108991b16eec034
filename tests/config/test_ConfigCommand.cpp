// relayvane-cli config: the real binary against golden files and temporary configuration files.
// RELAYVANE_UPDATE_GOLDEN=1 rewrites the golden files from the current output.

#include "config/ProgramConfig.h"
#include "tests/config/ConfigTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace configtest;
using testsupport::DataPath;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

struct TRun {
    int Status = -1;
    QByteArray Out;
    QByteArray Err;
};

TRun Cli(const QStringList &Args, const QByteArray &Stdin = QByteArray()) {
    TRun r;
    r.Status = testsupport::RunProgram(QStringLiteral(RELAYVANE_CLI), QStringList{QStringLiteral("config")} + Args,
                                       &r.Out, &r.Err, Stdin);
    return r;
}

void ExpectGolden(const QByteArray &Output, const QString &Name) {
    const QString path = DataPath(QStringLiteral("config"), Name);
    if (qEnvironmentVariableIsSet("RELAYVANE_UPDATE_GOLDEN"))
        WriteFile(path, Output);
    EXPECT_EQ(Output.toStdString(), ReadFile(path).toStdString()) << "golden file " << path.toStdString();
}

/// A configuration file with every property changed (the golden files' input).
QString WriteSample(const QTemporaryDir &Dir) {
    const QString file = Dir.filePath(QStringLiteral("config.cfg"));
    TProgramConfig c(nullptr, QLocale::English);
    ChangeEverything(c);
    c.SaveToFile(file);
    return file;
}

TEST(ConfigCommand, Help) {
    const TRun r = Cli({QStringLiteral("--help")});
    EXPECT_EQ(r.Status, 0);
    EXPECT_TRUE(r.Out.startsWith("usage: relayvane-cli config"));
    EXPECT_TRUE(r.Out.contains("set NAME VALUE"));
}

TEST(ConfigCommand, ShowMatchesTheGoldenFile) {
    QTemporaryDir dir;
    const QString file = WriteSample(dir);
    const TRun r = Cli({QStringLiteral("--config"), file, QStringLiteral("show")});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.isEmpty());
    ExpectGolden(r.Out, QStringLiteral("show.golden"));
    // show is the default command
    EXPECT_EQ(Cli({QStringLiteral("--config=") + file}).Out, r.Out);
}

TEST(ConfigCommand, DumpMatchesTheGoldenFile) {
    QTemporaryDir dir;
    const QString file = WriteSample(dir);
    const TRun r = Cli({QStringLiteral("dump"), QStringLiteral("--file"), file});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    ExpectGolden(r.Out, QStringLiteral("dump.golden"));
    EXPECT_EQ(Cli({QStringLiteral("show"), QStringLiteral("--json"), QStringLiteral("--file"), file}).Out, r.Out);
}

TEST(ConfigCommand, ShowOfTheDefaults) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("missing.cfg"));
    qputenv("LC_ALL", "C");
    const TRun r = Cli({QStringLiteral("--config"), file});
    qunsetenv("LC_ALL");
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    ExpectGolden(r.Out, QStringLiteral("show-defaults.golden"));
    EXPECT_FALSE(QFile::exists(file)); // showing never writes
}

TEST(ConfigCommand, Get) {
    QTemporaryDir dir;
    const QString file = WriteSample(dir);
    auto get = [&](const QStringList &Args) {
        const TRun r = Cli(QStringList{QStringLiteral("--config"), file, QStringLiteral("get")} + Args);
        EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        return r.Out;
    };
    EXPECT_EQ(get({QStringLiteral("Language")}), QStringLiteral("русский\n").toUtf8());
    EXPECT_EQ(get({QStringLiteral("Enabled")}), "false\n");
    EXPECT_EQ(get({QStringLiteral("SortOption")}), "stPort\n");
    EXPECT_EQ(get({QStringLiteral("ProxyFilter.Country")}), "US,CA\n");
    EXPECT_EQ(get({QStringLiteral("ProxyFilter.MiniSpeed")}), "10.25\n");
    EXPECT_EQ(get({QStringLiteral("ProxyList.NoDuplicates")}), "false\n");
    EXPECT_EQ(get({QStringLiteral("ProxyList")}),
              QStringLiteral("10.0.0.1:3128\tUS\tUnited States\t0.25\n10.0.0.2:3129\tRU\tРоссия\t0.5\n"
                             "10.0.0.3:3130\tUS\tUnited States\t0.75\n")
                  .toUtf8());
    EXPECT_EQ(get({QStringLiteral("BanedProxy")}), "10.0.0.1:3128=46000.5\n10.0.0.2:3129=46000.75\n");
    EXPECT_EQ(get({QStringLiteral("--json"), QStringLiteral("BanedProxy")}),
              "[\n  \"10.0.0.1:3128=46000.5\",\n  \"10.0.0.2:3129=46000.75\"\n]\n");
    EXPECT_EQ(get({QStringLiteral("--json"), QStringLiteral("Language")}), QStringLiteral("\"русский\"\n").toUtf8());
    EXPECT_TRUE(get({QStringLiteral("ProxyFilter")}).startsWith("Active = false\nCountry = US,CA\n"));
}

TEST(ConfigCommand, SetChangesOneValueAndSaves) {
    QTemporaryDir dir;
    const QString file = WriteSample(dir);
    const struct {
        const char *Name;
        const char *Value;
    } cases[] = {
        {"Enabled", "true"},
        {"MaxPing", "-7"},
        {"SortOption", "stCountry"},
        {"Language", "deutsch"},
        {"Country", ""},
        {"ProxyFilter.Country", "DE"},
        {"ProxyFilter.MaxPing", "2.5"},
        {"ProxyFilter.HttpPost", "tsTrue"},
        {"ProxyList.NoDuplicates", "true"},
    };
    for (const auto &c : cases) {
        const TRun r = Cli({QStringLiteral("--config"), file, QStringLiteral("set"), QLatin1String(c.Name),
                            QString::fromUtf8(c.Value)});
        ASSERT_EQ(r.Status, 0) << c.Name << ": " << r.Err.toStdString();
        EXPECT_TRUE(r.Out.isEmpty());
        const TRun g = Cli({QStringLiteral("--config"), file, QStringLiteral("get"), QLatin1String(c.Name)});
        EXPECT_EQ(g.Out, QByteArray(c.Value) + '\n') << c.Name;
    }
    // The rest of the file is untouched.
    TProgramConfig loaded(nullptr, QLocale::English);
    loaded.LoadFromFile(file);
    EXPECT_EQ(loaded.ProxyList()->Count(), 3);
    EXPECT_EQ(loaded.BanedProxy()->Count(), 2);
    EXPECT_EQ(loaded.Browser(), QStringLiteral("mozilla firefox"));
}

TEST(ConfigCommand, BadNamesAndValuesFailWithOneLine) {
    QTemporaryDir dir;
    const QString file = WriteSample(dir);
    const QByteArray before = ReadFile(file);
    const struct {
        QStringList Args;
        const char *Message;
    } cases[] = {
        {{QStringLiteral("set"), QStringLiteral("Colour"), QStringLiteral("red")}, "unknown property 'Colour'"},
        {{QStringLiteral("set"), QStringLiteral("ProxyFilter.Colour"), QStringLiteral("red")},
         "unknown property 'ProxyFilter.Colour'"},
        {{QStringLiteral("set"), QStringLiteral("MaxPing"), QStringLiteral("fast")},
         "'fast' is not a valid value for MaxPing (wants a 32-bit integer)"},
        {{QStringLiteral("set"), QStringLiteral("Enabled"), QStringLiteral("maybe")}, "(wants true or false)"},
        {{QStringLiteral("set"), QStringLiteral("SortOption"), QStringLiteral("stName")},
         "(wants one of stCountry, stPort, stRating)"},
        {{QStringLiteral("set"), QStringLiteral("ProxyFilter.MaxPing"), QStringLiteral("1,5")}, "wants a number"},
        {{QStringLiteral("set"), QStringLiteral("ProxyList"), QStringLiteral("x")}, "use 'config import'"},
        {{QStringLiteral("set"), QStringLiteral("Enabled")}, "usage: relayvane-cli config set NAME VALUE"},
        {{QStringLiteral("get"), QStringLiteral("Nope")}, "unknown property 'Nope'"},
        {{QStringLiteral("frobnicate")}, "unknown command 'frobnicate'"},
        {{QStringLiteral("--verbose")}, "unknown option '--verbose'"},
    };
    for (const auto &c : cases) {
        const TRun r = Cli(QStringList{QStringLiteral("--config"), file} + c.Args);
        EXPECT_EQ(r.Status, 1) << c.Message;
        EXPECT_TRUE(r.Err.startsWith("relayvane-cli: config: ")) << r.Err.toStdString();
        EXPECT_TRUE(r.Err.contains(c.Message)) << r.Err.toStdString();
        EXPECT_EQ(r.Err.count('\n'), 1) << r.Err.toStdString();
        EXPECT_TRUE(r.Out.isEmpty());
    }
    EXPECT_EQ(ReadFile(file), before);
}

TEST(ConfigCommand, UnreadableFileIsReportedAndNeverChanged) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    WriteFile(file, "this is no configuration");
    for (const QStringList &args :
         {QStringList{QStringLiteral("show")},
          QStringList{QStringLiteral("set"), QStringLiteral("Enabled"), QStringLiteral("false")},
          QStringList{QStringLiteral("get"), QStringLiteral("Enabled")}}) {
        const TRun r = Cli(QStringList{QStringLiteral("--config"), file} + args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.contains(
            QStringLiteral("Cannot read the configuration file \"%1\": not a zlib stream").arg(file).toUtf8()))
            << r.Err.toStdString();
        EXPECT_EQ(ReadFile(file), QByteArray("this is no configuration"));
    }
}

TEST(ConfigCommand, DefaultsPathAndEnvironment) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("fresh/config.cfg"));
    qputenv("LC_ALL", "C");
    TRun r = Cli({QStringLiteral("defaults"), QStringLiteral("--config"), file});
    qunsetenv("LC_ALL");
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    TProgramConfig loaded(nullptr, QLocale::Japanese);
    loaded.SetLanguage(QStringLiteral("changed"));
    loaded.LoadFromFile(file);
    EXPECT_EQ(Describe(loaded), Describe(TProgramConfig(nullptr, QLocale::English)));

    r = Cli({QStringLiteral("path"), QStringLiteral("--config"), file});
    EXPECT_EQ(r.Out, file.toUtf8() + '\n');
    qputenv("RELAYVANE_CONFIG", QFile::encodeName(file));
    r = Cli({QStringLiteral("path")});
    EXPECT_EQ(r.Out, file.toUtf8() + '\n');
    r = Cli({QStringLiteral("get"), QStringLiteral("Language")});
    qunsetenv("RELAYVANE_CONFIG");
    EXPECT_EQ(r.Out, "english\n");
}

TEST(ConfigCommand, ImportReplacesAListFromFreeText) {
    QTemporaryDir dir;
    const QString file = WriteSample(dir);
    const QString list = dir.filePath(QStringLiteral("list.txt"));
    WriteFile(list, "some text 8.8.8.8:3128 more\n1.1.1.1 80\n8.8.8.8:3128 again\n");
    TRun r = Cli({QStringLiteral("--config"), file, QStringLiteral("import"), QStringLiteral("--user"), list});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    // The sample's user list allows duplicates (NoDuplicates false), so the repeated proxy stays.
    EXPECT_EQ(r.Out, "imported 3 proxies into ProxyListUser\n");
    r = Cli({QStringLiteral("--config"), file, QStringLiteral("import"), QStringLiteral("--downloaded"),
             QStringLiteral("-")},
            "9.9.9.9:9999\n");
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, "imported 1 proxy into ProxyList\n");
    TProgramConfig loaded(nullptr, QLocale::English);
    loaded.LoadFromFile(file);
    ASSERT_EQ(loaded.ProxyListUser()->Count(), 3);
    EXPECT_EQ(loaded.ProxyListUser()->Items(0)->AsString(), QStringLiteral("8.8.8.8:3128"));
    EXPECT_EQ(loaded.ProxyListUser()->Items(1)->AsString(), QStringLiteral("1.1.1.1:80"));
    ASSERT_EQ(loaded.ProxyList()->Count(), 1);
    EXPECT_EQ(loaded.ProxyList()->Items(0)->AsString(), QStringLiteral("9.9.9.9:9999"));

    r = Cli({QStringLiteral("--config"), file, QStringLiteral("import"), list});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains("exactly one of --user and --downloaded"));
}

} // namespace
