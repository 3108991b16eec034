// TSaveLoadComponent on real files: the zlib file, atomic saving, failed saves, bad files, all-or-nothing.

#include "config/Marlo.Core.Classes.ExtendedClasses.h"
#include "config/ProgramConfig.h"
#include "tests/config/ConfigTestSupport.h"
#include "tests/config/StreamBytes.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace configtest;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

QStringList Entries(const QString &Dir) {
    return QDir(Dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

void AddManyProxies(TProgramConfig &C, int Count) {
    for (int i = 0; i < Count; ++i)
        AddProxy(*C.ProxyList(), QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255),
                 1024 + (i * 7919) % 60000, (i % 21) * 0.25);
}

TEST(SaveLoadFile, SavesTheZlibStreamAndLoadsItBack) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    TProgramConfig c(nullptr, QLocale::English);
    ChangeEverything(c);
    c.SaveToFile(file);
    const QByteArray bytes = ReadFile(file);
    EXPECT_EQ(bytes.left(2).toHex(' '), "78 da");
    EXPECT_EQ(ZDecompress(bytes), WriteComponent(c));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u); // a new file: it may hold proxy credentials
    TProgramConfig back(nullptr, QLocale::English);
    back.LoadFromFile(file);
    EXPECT_EQ(Describe(back), Describe(c));
    EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("config.cfg")}); // no temporary file left
}

TEST(SaveLoadFile, MissingFileLeavesTheDefaults) {
    QTemporaryDir dir;
    TProgramConfig c(nullptr, QLocale::English);
    const QString before = Describe(c);
    EXPECT_NO_THROW(c.LoadFromFile(dir.filePath(QStringLiteral("config.cfg"))));
    EXPECT_EQ(Describe(c), before);
}

TEST(SaveLoadFile, SaveReplacesAndKeepsPermissions) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    WriteFile(file, "old");
    ::chmod(QFile::encodeName(file).constData(), 0640);
    TProgramConfig c(nullptr, QLocale::English);
    c.SaveToFile(file);
    EXPECT_EQ(ReadFile(file), c.SaveToBytes());
    struct stat st {};
    ::stat(QFile::encodeName(file).constData(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(SaveLoadFile, SaveFollowsASymbolicLink) {
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real.cfg"));
    const QString link = dir.filePath(QStringLiteral("config.cfg"));
    WriteFile(real, "old");
    ASSERT_TRUE(QFile::link(real, link));
    TProgramConfig c(nullptr, QLocale::English);
    c.SaveToFile(link);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadFile(real), c.SaveToBytes());
}

TEST(SaveLoadFile, SaveCreatesAMissingFolder) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a/relayvane/config.cfg"));
    TProgramConfig(nullptr, QLocale::English).SaveToFile(file);
    EXPECT_TRUE(QFileInfo(file).isFile());
}

// A write that fails half-way (the file size limit stands in for a full disk; the tests run as root, so
// permissions cannot make it fail) leaves the old file byte for byte and no temporary file.
TEST(SaveLoadFile, FailedWriteLeavesTheOldFileIntact) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    TProgramConfig small(nullptr, QLocale::English);
    small.SaveToFile(file);
    const QByteArray old = ReadFile(file);

    TProgramConfig big(nullptr, QLocale::English);
    AddManyProxies(big, 5000);
    ASSERT_GT(big.SaveToBytes().size(), 4096);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = saved;
    lim.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
    QString message;
    try {
        big.SaveToFile(file);
    } catch (const EFCreateError &e) {
        message = e.Message();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(message.startsWith(QStringLiteral("Cannot create file \"%1\".").arg(file))) << message.toStdString();
    EXPECT_TRUE(message.contains(QLatin1String("too large"))) << message.toStdString();
    EXPECT_EQ(ReadFile(file), old);
    EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("config.cfg")});
}

TEST(SaveLoadFile, TargetThatIsAFolderFailsClearly) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    ASSERT_TRUE(QDir().mkpath(file + QStringLiteral("/inside")));
    TProgramConfig c(nullptr, QLocale::English);
    try {
        c.SaveToFile(file);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError &e) {
        EXPECT_TRUE(e.Message().contains(file));
        EXPECT_TRUE(e.Message().contains(QLatin1String("folder")));
    }
    EXPECT_TRUE(QFileInfo(file + QStringLiteral("/inside")).isDir());
    EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("config.cfg")});
}

TEST(SaveLoadFile, FolderThatIsAFileFailsClearly) {
    QTemporaryDir dir;
    const QString notADir = dir.filePath(QStringLiteral("plain"));
    WriteFile(notADir, "a file, not a folder");
    TProgramConfig c(nullptr, QLocale::English);
    EXPECT_THROW(c.SaveToFile(notADir + QStringLiteral("/config.cfg")), EFCreateError);
    EXPECT_THROW(c.SaveToFile(notADir + QStringLiteral("/deeper/config.cfg")), EFCreateError);
    EXPECT_EQ(ReadFile(notADir), QByteArray("a file, not a folder"));
}

struct TBadFile {
    const char *Label;
    QByteArray Content;
    const char *Reason;
};

QByteArray Stream(const TBytes &B) {
    return ZCompress(B.Bytes());
}

// clang-format off (the bytes stay laid out record by record)
std::vector<TBadFile> BadFiles() {
    const QByteArray good = TProgramConfig(nullptr, QLocale::English).SaveToBytes();
    return {
        {"empty file", QByteArray(), "not a zlib stream"},
        {"not zlib", QByteArray("Enabled=true\nLanguage=english\n"), "not a zlib stream"},
        {"zlib cut short", good.left(good.size() / 2), "ends too early"},
        {"zlib damaged", good.left(good.size() - 1) + char(good.back() ^ 0x55), "damaged"},
        {"no signature", Stream(TBytes().Raw("TPF1").Name("TProgramConfig").End().End().End()), "no signature"},
        {"unknown property", Stream(TBytes().Header("TProgramConfig").Name("Colour").String("red").End().End()),
         "unknown property 'Colour'"},
        {"unknown sub-property",
         Stream(TBytes().Header("TProgramConfig").Name("ProxyFilter.Colour").True().End().End()),
         "unknown property 'ProxyFilter.Colour'"},
        {"wrong kind of value", Stream(TBytes().Header("TProgramConfig").Name("Enabled").String("yes").End().End()),
         "property 'Enabled' wants a Boolean"},
        {"unknown enumeration name",
         Stream(TBytes().Header("TProgramConfig").Name("SortOption").Ident("stName").End().End()),
         "'stName' is not a value of TSortType"},
        {"stream truncated", Stream(TBytes().Header("TProgramConfig").Name("Enabled").True()), "truncated"},
        {"item truncated",
         Stream(TBytes().Header("TProgramConfig").Name("ProxyList").Byte(14).Byte(1).Name("Port").Byte(3).Byte(0x90)),
         "truncated"},
    };
}
// clang-format on

TEST(SaveLoadFile, BadFilesRaiseAClearErrorAndChangeNothing) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    for (const TBadFile &b : BadFiles()) {
        WriteFile(file, b.Content);
        TProgramConfig c(nullptr, QLocale::English);
        AddProxy(*c.ProxyList(), QStringLiteral("1.2.3.4"), 80);
        const QString before = Describe(c);
        try {
            c.LoadFromFile(file);
            ADD_FAILURE() << b.Label << ": no error";
        } catch (const EReadError &e) {
            const QString m = e.Message();
            EXPECT_TRUE(m.startsWith(QStringLiteral("Cannot read the configuration file \"%1\": ").arg(file)))
                << b.Label << ": " << m.toStdString();
            EXPECT_TRUE(m.contains(QLatin1String(b.Reason))) << b.Label << ": " << m.toStdString();
        }
        EXPECT_EQ(Describe(c), before) << b.Label;
        EXPECT_EQ(ReadFile(file), b.Content) << b.Label; // loading never touches the file
    }
}

TEST(SaveLoadFile, UnopenableFileRaisesEFOpenError) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    ASSERT_TRUE(QDir().mkpath(file)); // a folder where the file should be
    TProgramConfig c(nullptr, QLocale::English);
    EXPECT_THROW(c.LoadFromFile(file), EInOutError);
}

} // namespace
