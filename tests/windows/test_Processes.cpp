// RunAndWait, IsWow64 and the hand-off merge with real processes under Wine:
// the child program records the command line it was given, exits with a code,
// starts a grandchild or crashes; standing in for Drisk.x64 it shows that a
// companion that is missing or crashes still lets a left-over file be merged.
#include <gtest/gtest.h>

#include "platform/WindowsHeaders.h"

#include "Support.h"
#include "frmOrvUninstallMainLogic.h"

namespace velmora::testing {
namespace {

const std::u16string kChild = u"velmora_test_child.exe";

// What RunAndWait answers for each command line, and whether the child received
// the line exactly (it records what it got): no shell, no expansion, no quoting.
TEST(RunAndWait, CommandLinesReachTheChildExactlyAndItsExitCodeComesBack) {
    const std::u16string record = U16(TempFile(L"record"));
    const std::u16string head = kChild + u" --record \"" + record + u"\"";
    const struct {
        std::u16string line;
        int exitCode;
    } cases[] = {
        {head + u" --exit 7", 7},
        {head + u" --exit -2", -2},
        {head + u" & echo x > \"" + record + u".2\" | more && %TEMP% ^\"", 0},
        {u"\"" + kChild + u"\" --record \"" + record + u"\" a\"b c\"d \"\"\"e\" \\\"f\\\\\" '%ComSpec%' !x! $(y) `z`", 0},
        {head + u" --pad " + std::u16string(511 - head.size() - 7, u'p'), 0},
        {head + u" --pad " + std::u16string(2000 - head.size() - 7, u'p'), 0},
        {u"velmora_no_such_program.exe /x", -1},
        {u"", -1},
        {u"%ComSpec% /c " + head, -1},  // an environment reference is no program's name
    };
    for (const auto& c : cases) {
        DeleteFileW(Wide(record).c_str());
        EXPECT_EQ(RunAndWait(c.line, SW_HIDE), c.exitCode) << ToUtf8(c.line);
        EXPECT_EQ(ReadFileBytes(Wide(record)), c.exitCode == -1 ? "" : ToUtf8(c.line));
    }
    EXPECT_FALSE(FileExists(Wide(record + u".2"))) << "a line went through a shell";
    DeleteFileW(Wide(record).c_str());
}

TEST(RunAndWait, OnlyTheDirectChildIsWaitedForAndMessagesAreHandledMeanwhile) {
    const std::wstring late = TempFile(L"grandchild");
    DeleteFileW(late.c_str());
    // Nothing else services this thread's queue: only RunAndWait's pump can.
    PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
    EXPECT_EQ(RunAndWait(kChild + u" --sleep 400 --spawn \"" + kChild + u" --sleep 2500 --record " + U16(late) + u"\"", SW_HIDE), 0);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE)) << "the queue was not serviced";
    EXPECT_FALSE(FileExists(late)) << "RunAndWait waited for the grandchild";
    for (int i = 0; i < 400 && !FileExists(late); ++i) Sleep(50);
    EXPECT_TRUE(FileExists(late)) << "the grandchild never ran";
    DeleteFileW(late.c_str());
}

std::vector<std::u16string> Merge() {
    TOrvUninstallReader inventory;
    inventory.Clear();
    MergeHandOffInventory(inventory, SystemProcesses(), ServiceMessages);
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < inventory.Entries.Count(); ++i) names.push_back(inventory.Entries[i]->DisplayName);
    return names;
}

const std::string kOneSection = "[Planted]\r\nDisplayName=Planted entry\r\nUninstallString=planted.exe /x\r\n";

// A 32-bit process in the 64-bit prefix runs under WOW64 and starts Drisk.x64
// from beside itself; here the child stands in for it.
TEST(Companion, MissingOrCrashingItStillMergesALeftOverFileOnce) {
    EXPECT_TRUE(IsWow64());
    const std::wstring companion = ProgramDirectory() + L"Drisk.x64";
    DeleteFileW(companion.c_str());
    WriteFileBytes(HandOffPath(), kOneSection);
    EXPECT_EQ(Merge(), std::vector<std::u16string>{u"Planted entry"});
    EXPECT_TRUE(Merge().empty());

    ASSERT_TRUE(CopyFileW((ProgramDirectory() + Wide(kChild)).c_str(), companion.c_str(), FALSE));
    SetEnvironmentVariableW(L"VELMORA_TEST_CHILD_STEPS", L"--crash");
    EXPECT_EQ(RunAndWait(u"Drisk.x64", SW_HIDE), static_cast<int>(0xC0000005u));
    WriteFileBytes(HandOffPath(), kOneSection);
    EXPECT_EQ(Merge(), std::vector<std::u16string>{u"Planted entry"});
    EXPECT_TRUE(Merge().empty());
    SetEnvironmentVariableW(L"VELMORA_TEST_CHILD_STEPS", nullptr);
    DeleteFileW(companion.c_str());
}

// Run in the tree's WINEARCH=win32 prefix: no WOW64, so no companion is started
// and a file left there is not touched.
TEST(Win32Prefix, NoWow64AndTheMergeDoesNothing) {
    EXPECT_FALSE(IsWow64());
    WriteFileBytes(HandOffPath(), kOneSection);
    EXPECT_TRUE(Merge().empty());
    EXPECT_EQ(ReadFileBytes(HandOffPath()), kOneSection);
    DeleteFileW(HandOffPath().c_str());
}

}  // namespace
}  // namespace velmora::testing
