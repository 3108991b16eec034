// Where config.cfg lives, and the start-up load that moves an unreadable file aside.

#include "config/ConfigFile.h"
#include "config/ProgramConfig.h"
#include "tests/config/ConfigTestSupport.h"
#include "tests/config/StreamBytes.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace configtest;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

TConfigPathSources Sources(bool ExeDirWritable) {
    TConfigPathSources s;
    s.ExecutableDir = QStringLiteral("/opt/relayvane");
    s.Home = QStringLiteral("/home/ann");
    s.IsWritableDir = [ExeDirWritable](const QString &Dir) {
        EXPECT_EQ(Dir, QStringLiteral("/opt/relayvane"));
        return ExeDirWritable;
    };
    return s;
}

TEST(ConfigFilePath, NextToTheExecutableWhenWritable) {
    EXPECT_EQ(ConfigFilePathFrom(Sources(true)), QStringLiteral("/opt/relayvane/config.cfg"));
}

TEST(ConfigFilePath, XdgConfigHomeOtherwise) {
    TConfigPathSources s = Sources(false);
    EXPECT_EQ(ConfigFilePathFrom(s), QStringLiteral("/home/ann/.config/relayvane/config.cfg"));
    s.XdgConfigHome = QStringLiteral("/xdg/conf");
    EXPECT_EQ(ConfigFilePathFrom(s), QStringLiteral("/xdg/conf/relayvane/config.cfg"));
    s.XdgConfigHome = QStringLiteral("relative/conf"); // not absolute: ignored, as the XDG rules say
    EXPECT_EQ(ConfigFilePathFrom(s), QStringLiteral("/home/ann/.config/relayvane/config.cfg"));
}

TEST(ConfigFilePath, CommandLineThenEnvironmentOverride) {
    TConfigPathSources s = Sources(true);
    s.Environment = QStringLiteral("/env/my.cfg");
    EXPECT_EQ(ConfigFilePathFrom(s), QStringLiteral("/env/my.cfg"));
    s.CommandLine = QStringLiteral("/cli/other.cfg");
    EXPECT_EQ(ConfigFilePathFrom(s), QStringLiteral("/cli/other.cfg"));
}

TEST(ConfigFilePath, OptionFromArguments) {
    EXPECT_EQ(ConfigOptionFromArguments({}), QString());
    EXPECT_EQ(
        ConfigOptionFromArguments({QStringLiteral("--headless"), QStringLiteral("--config"), QStringLiteral("/a.cfg")}),
        QStringLiteral("/a.cfg"));
    EXPECT_EQ(ConfigOptionFromArguments({QStringLiteral("--config=/b.cfg")}), QStringLiteral("/b.cfg"));
    EXPECT_EQ(ConfigOptionFromArguments({QStringLiteral("--config")}), QString()); // no value
}

TEST(ConfigFilePath, ThisProcessHonoursTheEnvironment) {
    qputenv("RELAYVANE_CONFIG", "/tmp/from-env.cfg");
    EXPECT_EQ(ConfigFilePath(), QStringLiteral("/tmp/from-env.cfg"));
    EXPECT_EQ(ConfigFilePath(QStringLiteral("/tmp/cli.cfg")), QStringLiteral("/tmp/cli.cfg"));
    qunsetenv("RELAYVANE_CONFIG");
    EXPECT_TRUE(ConfigFilePath().endsWith(QLatin1String("/config.cfg")));
}

// ---------------------------------------------------------------------------------------------

TEST(LoadConfigOrDefaults, MissingFileGivesTheDefaults) {
    QTemporaryDir dir;
    TProgramConfig c(nullptr, QLocale::English);
    const QString defaults = Describe(c);
    const TConfigLoadResult r = LoadConfigOrDefaults(c, dir.filePath(QStringLiteral("config.cfg")));
    EXPECT_EQ(r.Status, TConfigLoadResult::clMissing);
    EXPECT_EQ(Describe(c), defaults);
}

TEST(LoadConfigOrDefaults, GoodFileIsLoaded) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    TProgramConfig saved(nullptr, QLocale::English);
    ChangeEverything(saved);
    saved.SaveToFile(file);
    TProgramConfig c(nullptr, QLocale::English);
    const TConfigLoadResult r = LoadConfigOrDefaults(c, file);
    EXPECT_EQ(r.Status, TConfigLoadResult::clLoaded);
    EXPECT_EQ(Describe(c), Describe(saved));
}

// clang-format off (the bytes stay laid out record by record)
TEST(LoadConfigOrDefaults, BadFilesAreKeptAsideAndTheDefaultsUsed) {
    const QByteArray good = TProgramConfig(nullptr, QLocale::English).SaveToBytes();
    const struct {
        const char *Label;
        QByteArray Content;
    } cases[] = {
        {"not zlib", QByteArray("garbage")},
        {"no signature", ZCompress(QByteArray("TPFX"))},
        {"unknown property",
         ZCompress(TBytes().Header("TProgramConfig").Name("Enabled").False().Name("Zzz").True().End().End())},
        {"wrong kind", ZCompress(TBytes().Header("TProgramConfig").Name("MaxPing").String("15").End().End())},
        {"truncated zlib", good.left(good.size() - 3)},
        {"truncated stream", ZCompress(TBytes().Header("TProgramConfig").Name("Enabled").False())},
    };
    for (const auto &b : cases) {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("config.cfg"));
        WriteFile(file, b.Content);
        TProgramConfig c(nullptr, QLocale::English);
        const QString defaults = Describe(c);
        const TConfigLoadResult r = LoadConfigOrDefaults(c, file);
        EXPECT_EQ(r.Status, TConfigLoadResult::clUnreadable) << b.Label;
        EXPECT_TRUE(r.Error.contains(file)) << b.Label << ": " << r.Error.toStdString();
        EXPECT_EQ(r.MovedTo, file + QStringLiteral(".bad")) << b.Label;
        EXPECT_EQ(Describe(c), defaults) << b.Label; // Enabled false before the fault is not kept
        EXPECT_FALSE(QFileInfo::exists(file)) << b.Label;
        EXPECT_EQ(ReadFile(r.MovedTo), b.Content) << b.Label;

        // The next save writes a fresh file and leaves the bad one alone.
        c.SaveToFile(file);
        EXPECT_EQ(ReadFile(r.MovedTo), b.Content) << b.Label;
        TProgramConfig again(nullptr, QLocale::English);
        EXPECT_EQ(LoadConfigOrDefaults(again, file).Status, TConfigLoadResult::clLoaded) << b.Label;
    }
}
// clang-format on

TEST(LoadConfigOrDefaults, AnEarlierBadFileIsNeverOverwritten) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    WriteFile(file + QStringLiteral(".bad"), "first bad file");
    WriteFile(file, "second bad file");
    TProgramConfig c(nullptr, QLocale::English);
    TConfigLoadResult r = LoadConfigOrDefaults(c, file);
    EXPECT_EQ(r.MovedTo, file + QStringLiteral(".bad.2"));
    WriteFile(file, "third bad file");
    r = LoadConfigOrDefaults(c, file);
    EXPECT_EQ(r.MovedTo, file + QStringLiteral(".bad.3"));
    EXPECT_EQ(ReadFile(file + QStringLiteral(".bad")), QByteArray("first bad file"));
    EXPECT_EQ(ReadFile(file + QStringLiteral(".bad.2")), QByteArray("second bad file"));
    EXPECT_EQ(ReadFile(file + QStringLiteral(".bad.3")), QByteArray("third bad file"));
}

TEST(LoadConfigOrDefaults, AFolderInThePlaceOfTheFileIsReportedNotMoved) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    ASSERT_TRUE(QDir().mkpath(file));
    TProgramConfig c(nullptr, QLocale::English);
    const TConfigLoadResult r = LoadConfigOrDefaults(c, file);
    EXPECT_EQ(r.Status, TConfigLoadResult::clUnreadable);
    EXPECT_TRUE(r.MovedTo.isEmpty());
    EXPECT_TRUE(QFileInfo(file).isDir());
}

} // namespace
