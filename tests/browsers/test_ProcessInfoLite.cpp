// The process list on /proc: names, paths, ending processes, the refresh timer.

#include "browsers/ProcessInfoLite.h"
#include "platform/SysUtils.h"
#include "tests/browsers/BrowserSandbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using browsertest::SleepCopy;
using testsupport::ChildProcess;

namespace {

/// Refreshes the list until the process shows up (it appears once exec has happened).
TProcessItemLite *WaitForItem(TProcessCollection &List, pid_t Pid, const QString &ExeFile) {
    for (int i = 0; i < 500; ++i) {
        List.UpdateProcesses();
        TProcessItemLite *item = List.FindByID(static_cast<uint32_t>(Pid));
        if (item && item->ExeFile() == ExeFile)
            return item;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

TEST(ProcessCollection, FindByNameComparesWholeNamesIgnoringAsciiCase) {
    TProcessCollection list;
    list.Add(QStringLiteral("firefox.exe"), 1, 10);
    list.Add(QStringLiteral("Firefox.exe"), 1, 11);
    list.Add(QStringLiteral("firefox-esr"), 1, 12);
    list.Add(QStringLiteral(u"\u00e4pp"), 1, 13);
    list.Add(QStringLiteral("  padded  "), 1, 14);
    struct {
        const char16_t *Name;
        int Pid; // 0: not found
    } cases[] = {
        {u"FIREFOX.EXE", 10}, // first of two equal names
        {u"firefox.exe", 10},
        {u"fox.exe", 0},
        {u"firefox", 0},
        {u"FIREFOX-ESR", 12},
        {u"\u00c4PP", 0}, // only ASCII letters fold
        {u"\u00e4pp", 13},
        {u"padded", 14}, // blanks are trimmed when items are made
        {u"", 0},
    };
    for (const auto &c : cases) {
        TProcessItemLite *item = list.FindByName(QString::fromUtf16(c.Name));
        SCOPED_TRACE(QString::fromUtf16(c.Name).toStdString());
        EXPECT_EQ(item ? static_cast<int>(item->ProcessID()) : 0, c.Pid);
    }
    EXPECT_EQ(list.FindByID(12)->ExeFile(), QStringLiteral("firefox-esr"));
    EXPECT_EQ(list.FindByID(99), nullptr);
    int walked = 0;
    for (TProcessEnumerator e = list.GetEnumerator(); e.MoveNext();)
        EXPECT_EQ(e.Current()->ProcessID(), static_cast<uint32_t>(10 + walked++));
    EXPECT_EQ(walked, 5);
}

TEST(ProcessCollection, SnapshotGivesFullExecutableNamesPathsAndParents) {
    QTemporaryDir dir;
    // Longer than the 15 characters of /proc/PID/comm.
    const QString longName = QStringLiteral("relayvane-test-long-program-name");
    const QString path = SleepCopy(dir.path(), longName);
    ChildProcess child;
    ASSERT_TRUE(child.Start(path, {QStringLiteral("30")}));
    TProcessCollection list;
    TProcessItemLite *item = WaitForItem(list, child.Pid(), longName);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->ParentProcessID(), static_cast<uint32_t>(::getpid()));
    EXPECT_EQ(item->FullPath(), QFileInfo(path).canonicalFilePath());
    EXPECT_TRUE(item->IsAccessible());
    EXPECT_FALSE(item->Is64Bits()); // a 64-bit build handles every process
    // The exe link changes a moment before exec has laid out the arguments: wait for them.
    for (int i = 0; i < 200 && item->CommandLine().isEmpty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(item->CommandLine(), (QStringList{path, QStringLiteral("30")}));
    EXPECT_EQ(item->ToString(), longName);
    EXPECT_EQ(list.FindByName(longName.toUpper()), item);
    EXPECT_TRUE(list.LastUpdate().isValid());
}

TEST(ProcessItemLite, TerminateEndsTheProcessAndFailsQuietlyOnceItIsGone) {
    QTemporaryDir dir;
    const QString path = SleepCopy(dir.path(), QStringLiteral("rvn-victim"));
    ChildProcess child;
    ASSERT_TRUE(child.Start(path, {QStringLiteral("30")}));
    TProcessCollection list;
    TProcessItemLite *item = WaitForItem(list, child.Pid(), QStringLiteral("rvn-victim"));
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->TerminateProcess());
    for (int i = 0; i < 500 && child.Running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(child.Running());
    EXPECT_FALSE(item->TerminateProcess());
    EXPECT_FALSE(item->IsAccessible());
    EXPECT_THROW(item->FullPath(), EOSError);
    EXPECT_THROW(item->Is64Bits(), EOSError);
}

TEST(ProcessItemLite, AnItemOfAnotherProcessWithTheSameIdIsNotEnded) {
    // The id of an old snapshot item may have been given to a new process: the start time tells.
    QTemporaryDir dir;
    const QString path = SleepCopy(dir.path(), QStringLiteral("rvn-bystander"));
    ChildProcess child;
    ASSERT_TRUE(child.Start(path, {QStringLiteral("30")}));
    TProcessCollection list;
    ASSERT_NE(WaitForItem(list, child.Pid(), QStringLiteral("rvn-bystander")), nullptr);
    TProcessItemLite *stale = list.Add(QStringLiteral("rvn-bystander"), 1, static_cast<uint32_t>(child.Pid()), 1);
    EXPECT_FALSE(stale->TerminateProcess());
    EXPECT_FALSE(stale->CloseProcess());
    EXPECT_TRUE(child.Running());
}

TEST(ProcessItemLite, CloseProcessAsksPolitelyAndWaits) {
    QTemporaryDir dir;
    const QString path = SleepCopy(dir.path(), QStringLiteral("rvn-polite"));
    ChildProcess polite;
    ASSERT_TRUE(polite.Start(path, {QStringLiteral("30")}));
    // The same program with SIGTERM ignored (kept across exec): it outlives the wait.
    ChildProcess stubborn;
    ASSERT_TRUE(stubborn.Start(QStringLiteral("/bin/sh"),
                               {QStringLiteral("-c"), QStringLiteral("trap '' TERM; exec \"$0\" 30"), path}));
    TProcessCollection list;
    TProcessItemLite *p = WaitForItem(list, polite.Pid(), QStringLiteral("rvn-polite"));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->CloseProcess());
    TProcessItemLite *s = WaitForItem(list, stubborn.Pid(), QStringLiteral("rvn-polite"));
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->CloseProcess());
    EXPECT_TRUE(stubborn.Running());
    EXPECT_TRUE(s->TerminateProcess());
}

TEST(ProcessInfoLite, ActivationRefreshesAndTheTimerKeepsRefreshing) {
    TProcessInfoLite info;
    EXPECT_FALSE(info.Active());
    EXPECT_EQ(info.UpdateInterval(), 1000);
    int before = 0, after = 0;
    info.SetOnBeforeUpdateList([&](QObject *sender, bool &cancel) {
        EXPECT_EQ(sender, &info);
        EXPECT_FALSE(cancel);
        ++before;
    });
    info.SetOnAfterUpdateList([&](QObject *sender) {
        EXPECT_EQ(sender, &info);
        ++after;
    });
    info.SetUpdateInterval(20);
    info.SetActive(true);
    EXPECT_EQ(after, 1); // switching on refreshes at once
    ASSERT_NE(info.CurrentProcess(), nullptr);
    EXPECT_EQ(info.CurrentProcess()->ProcessID(), static_cast<uint32_t>(::getpid()));
    EXPECT_EQ(info.CurrentProcess()->ExeFile(), QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QElapsedTimer guard;
    guard.start();
    while (after < 3 && guard.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_GE(after, 3);
    EXPECT_EQ(before, after);
    info.SetActive(false);
}

TEST(ProcessInfoLite, CancelledRefreshLeavesTheListAlone) {
    TProcessInfoLite info;
    int after = 0;
    info.SetOnAfterUpdateList([&](QObject *) { ++after; });
    // Read before any activation: the empty list is filled first.
    ASSERT_GT(info.RunningProcesses()->Count(), 0);
    const QDateTime stamp = info.RunningProcesses()->LastUpdate();
    info.SetOnBeforeUpdateList([](QObject *, bool &cancel) { cancel = true; });
    info.UpdateList();
    EXPECT_EQ(after, 0);
    EXPECT_EQ(info.RunningProcesses()->LastUpdate(), stamp);
}

TEST(ProcessInfoLite, ElfClassOfExecutables) {
    QTemporaryDir dir;
    const QString elf32 = dir.filePath(QStringLiteral("elf32"));
    testsupport::WriteFile(elf32, QByteArray("\x7f"
                                             "ELF\x01\x01\x01",
                                             7) +
                                      QByteArray(57, '\0'));
    const QString text = dir.filePath(QStringLiteral("script"));
    testsupport::WriteFile(text, "#!/bin/sh\n");
    EXPECT_EQ(processinfo::ElfClassOfFile(QStringLiteral("/bin/sleep")), sizeof(void *) == 8 ? 2 : 1);
    EXPECT_EQ(processinfo::ElfClassOfFile(elf32), 1);
    EXPECT_EQ(processinfo::ElfClassOfFile(text), 0);
    EXPECT_EQ(processinfo::ElfClassOfFile(dir.filePath(QStringLiteral("missing"))), 0);
}

} // namespace
