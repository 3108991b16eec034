// The per-user store: typed values, keys and values that exist or not, the file location, and
// writers that race or die in the middle of a write.

#include "platform/Registry.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Key = QStringLiteral("\\Software\\RVN\\");

class RegistryTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    QString File() const { return Dir.path() + QStringLiteral("/relayvane/registry.ini"); }
};

// Every line of the store file must be one the reader understands: nothing half-written.
void ExpectWellFormed(const QString &FileName) {
    QFile f(FileName);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    static const QRegularExpression line(QStringLiteral(
        R"(^(;.*|\[[^\]]*\]|"([^"\\]|\\.)*"=("([^"\\]|\\.)*"|dword:[0-9a-f]{8}|hex:([0-9a-f]{2}(,[0-9a-f]{2})*)?))$)"));
    const QString text = QString::fromUtf8(f.readAll());
    ASSERT_TRUE(text.endsWith(QLatin1Char('\n')));
    for (const QString &l : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        EXPECT_TRUE(line.match(l).hasMatch()) << l.toStdString();
}

} // namespace

TEST_F(RegistryTest, ValuesKeepTheirTypesAcrossObjects) {
    {
        TRegistry reg(File());
        ASSERT_TRUE(reg.OpenKey(Key, true));
        reg.WriteInteger(QStringLiteral("Int"), -7);
        reg.WriteString(QStringLiteral("Str"), QStringLiteral("a \"quoted\" line\nsecond\\line Größe=1 [x]"));
        reg.WriteString(QStringLiteral("Empty"), QString());
        reg.WriteBinaryData(QStringLiteral("Bin"), QByteArray("\x00\x01\xff\n", 4));
        reg.WriteBinaryData(QStringLiteral("NoBytes"), QByteArray());
        reg.WriteString(QStringLiteral("Name with = and \"quote\""), QStringLiteral("v"));
    }
    TRegistry reg(File());
    ASSERT_TRUE(reg.OpenKey(Key, false));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("int")), -7) << "names compare without regard to case";
    EXPECT_EQ(reg.ReadString(QStringLiteral("Str")), QStringLiteral("a \"quoted\" line\nsecond\\line Größe=1 [x]"));
    EXPECT_EQ(reg.ReadString(QStringLiteral("Empty")), QString());
    EXPECT_EQ(reg.ReadBinaryData(QStringLiteral("Bin")), QByteArray("\x00\x01\xff\n", 4));
    EXPECT_EQ(reg.ReadBinaryData(QStringLiteral("NoBytes")), QByteArray());
    EXPECT_EQ(reg.ReadString(QStringLiteral("Name with = and \"quote\"")), QStringLiteral("v"));
    EXPECT_EQ(reg.GetDataType(QStringLiteral("Int")), TRegDataType::rdInteger);
    EXPECT_EQ(reg.GetDataType(QStringLiteral("Str")), TRegDataType::rdString);
    EXPECT_EQ(reg.GetDataType(QStringLiteral("Bin")), TRegDataType::rdBinary);
    EXPECT_EQ(reg.GetDataSize(QStringLiteral("Bin")), 4);
    EXPECT_EQ(reg.GetDataSize(QStringLiteral("Nothing")), -1);
    EXPECT_EQ(reg.GetValueNames(), (QStringList{"Int", "Str", "Empty", "Bin", "NoBytes", "Name with = and \"quote\""}));

    // A value is read only as what it was written as.
    EXPECT_THROW(reg.ReadString(QStringLiteral("Int")), ERegistryException);
    EXPECT_THROW(reg.ReadInteger(QStringLiteral("Bin")), ERegistryException);
    EXPECT_THROW(reg.ReadBinaryData(QStringLiteral("Str")), ERegistryException);
    EXPECT_THROW(reg.ReadInteger(QStringLiteral("Nothing")), ERegistryException);
    // Overwriting may change the type.
    reg.WriteString(QStringLiteral("Int"), QStringLiteral("now text"));
    EXPECT_EQ(reg.GetDataType(QStringLiteral("Int")), TRegDataType::rdString);
    ExpectWellFormed(File());
}

TEST_F(RegistryTest, KeysAndValuesExistOrNot) {
    TRegistry reg(File());
    EXPECT_FALSE(reg.KeyExists(Key));
    EXPECT_FALSE(reg.OpenKey(Key, false));
    EXPECT_FALSE(QFile::exists(File())) << "looking does not create anything";
    EXPECT_FALSE(reg.ValueExists(QStringLiteral("X")));
    EXPECT_THROW(reg.WriteInteger(QStringLiteral("X"), 1), ERegistryException) << "no key is open";

    ASSERT_TRUE(reg.OpenKey(Key, true));
    EXPECT_TRUE(reg.KeyExists(QStringLiteral("\\software\\rvn")));
    EXPECT_TRUE(reg.KeyExists(QStringLiteral("\\Software")));
    EXPECT_EQ(reg.CurrentPath(), QStringLiteral("Software\\RVN"));
    EXPECT_FALSE(reg.ValueExists(QStringLiteral("X")));
    reg.WriteString(QStringLiteral("X"), QString());
    EXPECT_TRUE(reg.ValueExists(QStringLiteral("X"))) << "an empty value is not a missing one";
    EXPECT_TRUE(reg.DeleteValue(QStringLiteral("X")));
    EXPECT_FALSE(reg.DeleteValue(QStringLiteral("X")));
    EXPECT_FALSE(reg.ValueExists(QStringLiteral("X")));

    // Relative keys are below the open one.
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("Sub"), true));
    EXPECT_EQ(reg.CurrentPath(), QStringLiteral("Software\\RVN\\Sub"));
    reg.WriteInteger(QStringLiteral("Y"), 1);
    reg.CloseKey();
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\Software"), false));
    EXPECT_EQ(reg.GetKeyNames(), QStringList{"RVN"});
    EXPECT_TRUE(reg.DeleteKey(QStringLiteral("RVN")));
    EXPECT_FALSE(reg.KeyExists(QStringLiteral("\\Software\\RVN\\Sub")));
    EXPECT_TRUE(reg.KeyExists(QStringLiteral("\\Software")));

    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("\\Software")));
    EXPECT_THROW(reg.WriteInteger(QStringLiteral("Z"), 1), ERegistryException);
}

TEST_F(RegistryTest, DatesAreEightLittleEndianBytesOfDaysSince1899) {
    TRegistry reg(File());
    ASSERT_TRUE(reg.OpenKey(Key, true));
    reg.WriteDate(QStringLiteral("NextVersionCheckDate"), 46000.0); // 2025-12-09
    EXPECT_EQ(reg.ReadBinaryData(QStringLiteral("NextVersionCheckDate")), QByteArray::fromHex("000000000076e640"));
    EXPECT_EQ(reg.ReadDate(QStringLiteral("NextVersionCheckDate")), 46000.0);
    reg.WriteBinaryData(QStringLiteral("Short"), QByteArray("abc"));
    EXPECT_THROW(reg.ReadDate(QStringLiteral("Short")), ERegistryException);
}

TEST_F(RegistryTest, LivesUnderTheUsersConfigFolder) {
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", Dir.path().toLocal8Bit());
    EXPECT_EQ(TRegistry::DefaultFileName(), File());
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key, true));
    reg.WriteInteger(QStringLiteral("A"), 1);
    EXPECT_TRUE(QFile::exists(File()));
    EXPECT_EQ(QFileInfo(QFileInfo(File()).path()).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);
    qputenv("XDG_CONFIG_HOME", old);
}

TEST_F(RegistryTest, ParallelWritersLoseNothing) {
    // Each writer reads, changes and replaces the whole file: without the lock one would drop
    // the values the other wrote in between.
    constexpr int Writers = 3, Rounds = 40;
    std::vector<pid_t> children;
    for (int w = 0; w < Writers; ++w) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                TRegistry reg(File());
                reg.OpenKey(Key, true);
                for (int i = 0; i < Rounds; ++i)
                    reg.WriteInteger(QStringLiteral("W%1_%2").arg(w).arg(i), i);
            } catch (...) {
                status = 1;
            }
            _exit(status);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    TRegistry reg(File());
    ASSERT_TRUE(reg.OpenKey(Key, false));
    EXPECT_EQ(reg.GetValueNames().size(), Writers * Rounds);
}

TEST_F(RegistryTest, AWriterKilledMidWriteLeavesOldOrNewValues) {
    {
        TRegistry reg(File());
        ASSERT_TRUE(reg.OpenKey(Key, true));
        reg.WriteString(QStringLiteral("Keep"), QStringLiteral("untouched"));
        reg.WriteInteger(QStringLiteral("Counter"), 0);
        reg.WriteString(QStringLiteral("CounterText"), QStringLiteral("0"));
        reg.WriteBinaryData(QStringLiteral("CounterBytes"), QByteArray::number(0));
    }
    // Kill the writer at different moments; each round it writes the three values in turn.
    for (int kill = 0; kill < 6; ++kill) {
        SCOPED_TRACE(kill);
        int before = 0;
        {
            TRegistry reg(File());
            reg.OpenKey(Key, false);
            before = reg.ReadInteger(QStringLiteral("Counter"));
        }
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                TRegistry reg(File());
                reg.OpenKey(Key, false);
                for (int i = before + 1;; ++i) {
                    reg.WriteInteger(QStringLiteral("Counter"), i);
                    reg.WriteString(QStringLiteral("CounterText"), QString::number(i));
                    reg.WriteBinaryData(QStringLiteral("CounterBytes"), QByteArray::number(i));
                }
            } catch (...) {
            }
            _exit(1);
        }
        // Whatever happens below, the writer must not outlive this round: an orphan that keeps
        // writing would also hold the test's output open.
        struct TReaper {
            pid_t Pid;
            ~TReaper() {
                if (::kill(Pid, SIGKILL) == 0)
                    waitpid(Pid, nullptr, 0);
            }
        } reaper{pid};
        // Let it get going, a little further each time, then kill it without warning.
        for (int i = 0; i < 1000; ++i) {
            TRegistry reg(File());
            reg.OpenKey(Key, false);
            if (reg.ReadInteger(QStringLiteral("Counter")) >= before + 1 + kill * 3)
                break;
            usleep(1000);
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        ExpectWellFormed(File());
        TRegistry reg(File());
        ASSERT_TRUE(reg.OpenKey(Key, false));
        EXPECT_EQ(reg.ReadString(QStringLiteral("Keep")), QStringLiteral("untouched"));
        const int counter = reg.ReadInteger(QStringLiteral("Counter"));
        const int text = reg.ReadString(QStringLiteral("CounterText")).toInt();
        const int bytes = reg.ReadBinaryData(QStringLiteral("CounterBytes")).toInt();
        EXPECT_GT(counter, before);
        // Written in this order, so each is the newest or one round behind the one before.
        EXPECT_TRUE(counter >= text && text >= bytes && counter - bytes <= 1) << counter << " " << text << " " << bytes;
        // The next writer takes over cleanly after the killed one.
        reg.WriteInteger(QStringLiteral("Counter"), counter);
    }
}
