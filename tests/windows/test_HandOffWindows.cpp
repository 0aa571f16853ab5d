// The 64-bit hand-off with the real companion, the real registry and the real
// profile functions under Wine.
#include <gtest/gtest.h>

#include "platform/WindowsHeaders.h"

#include "FixtureRegistry.h"
#include "WindowsTestSupport.h"
#include "frmOrvUninstallMainLogic.h"
#include "platform/ProfileFiles.h"
#include "unitOrvUninstallClasses.h"

#ifdef _WIN64
#include "HandOff.h"
#endif

namespace velmora::testing {
namespace {

std::wstring HandOffPath() {
    const std::u16string path = GetTempDirectory() + kHandOffFileName;
    return std::wstring(path.begin(), path.end());
}

void LoadHandOffFixtures() {
    ClearUninstallKeys();
    const std::string dir = FixtureDirectory() + "handoff/";
    ImportRegFile(dir + "view32.reg", 32);
    ImportRegFile(dir + "view64.reg", 64);
    ImportRegFile(dir + "user.reg", 64);
}

void ProcessMessagesPlainly() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

#ifndef _WIN64

struct Expected {
    const char16_t* displayName;
    const char16_t* publisher;
    const char16_t* comments;
    const char16_t* displayIcon;
    const char16_t* uninstallString;
    const char16_t* keyName;
};

TEST(HandOffWindows, TheCompanionIsFoundBesideTheProgram) {
    CopyBesideProgram(VELMORA_DRISK_PATH, L"Drisk.x64");
    DeleteFileW(HandOffPath().c_str());
    EXPECT_EQ(RunAndWait(u"Drisk.x64", SW_HIDE), 0);
    EXPECT_TRUE(FileExists(HandOffPath()));
    DeleteFileW(HandOffPath().c_str());
}

TEST(HandOffWindows, MergeAppendsTheOtherViewAndTheUsersEntriesIntact) {
    CopyBesideProgram(VELMORA_DRISK_PATH, L"Drisk.x64");
    LoadHandOffFixtures();
    DeleteFileW(HandOffPath().c_str());

    TOrvUninstallReader inventory;
    MergeHandOffInventory(inventory, SystemProcesses(), ProcessMessagesPlainly);
    ClearUninstallKeys();

    const Expected expected[] = {
        {u"Thirty-Two Bit App", u"Old School Ltd.", u"", u"", u"C:\\Program Files (x86)\\App32\\uninst.exe", u"App32"},
        {u"Multi-line comment", u"", u"line one  line two line three", u"", u"multi.exe", u""},
        {u"\"", u"'single quoted'", u"\"double quoted\"", u"", u"MsiExec.exe /X{1B2C3D4E-0000-1111-2222-333344445555}", u""},
        {u"  Spaces and \"quotes\"  ", u"a=b; [c] d", u"中文注释 — ünïcödé 😀", u"'C:\\icon.ico',0",
         u"\"C:\\Program Files\\Tricky\\unins.exe\" /x \"arg with spaces\"", u""},
        {u"Zed64", u"", u"", u"", u"zed.exe", u""},
        {u"Per-user App", u"[Section] Lookalike", u"", u"", u"\"C:\\Users\\Public\\UserApp\\uninstall.exe\" --user", u""},
    };
    ASSERT_EQ(inventory.Entries.Count(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const TOrvUninstallInfo& entry = *inventory.Entries[i];
        SCOPED_TRACE(ToUtf8(expected[i].displayName));
        EXPECT_EQ(entry.DisplayName, expected[i].displayName);
        EXPECT_EQ(entry.Publisher, expected[i].publisher);
        EXPECT_EQ(entry.Comments, expected[i].comments);
        EXPECT_EQ(entry.DisplayIcon, expected[i].displayIcon);
        EXPECT_EQ(entry.UninstallString, expected[i].uninstallString);
        EXPECT_EQ(entry.KeyName, expected[i].keyName);
    }
    EXPECT_FALSE(FileExists(HandOffPath()));
}

TEST(Win32Prefix, MergeRunsNothingAndLeavesAPlantedFile) {
    const std::wstring path = HandOffPath();
    const std::string planted = "[Planted]\r\nDisplayName=Not to be read\r\n";
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, planted.data(), static_cast<DWORD>(planted.size()), &written, nullptr);
    CloseHandle(file);
    // A companion that would leave a trace if it were started.
    DeleteFileW((ProgramDirectory() + L"Drisk.x64").c_str());

    TOrvUninstallReader inventory;
    const std::size_t before = inventory.Entries.Count();
    MergeHandOffInventory(inventory, SystemProcesses(), ProcessMessagesPlainly);
    EXPECT_EQ(inventory.Entries.Count(), before);
    EXPECT_EQ(ReadFileBytes(path), planted);
    DeleteFileW(path.c_str());
}

#else

// What the companion writes reads back, through the Windows profile functions,
// as exactly the entries its own scan found (line breaks made spaces).
TEST(DriskWindows, EveryValueRoundTripsThroughTheProfileFunctions) {
    CopyBesideProgram(VELMORA_DRISK_PATH, L"Drisk.x64");
    LoadHandOffFixtures();
    DeleteFileW(HandOffPath().c_str());

    TOrvUninstallList expected;
    drisk::CollectEntries(SystemRegistry(), kHKeyLocalMachine, expected);
    drisk::CollectEntries(SystemRegistry(), kHKeyCurrentUser, expected);
    ASSERT_EQ(RunAndWait(u"Drisk.x64", SW_HIDE), 0);
    ClearUninstallKeys();
    ASSERT_EQ(expected.Count(), 5u);

    TOrvUninstallReader inventory(SystemRegistry(), SystemProfileFiles());
    inventory.LoadFromHandOffFile();
    ASSERT_EQ(inventory.Entries.Count(), expected.Count());
    auto flattened = [](std::u16string text) {
        for (auto& c : text) {
            if (c == u'\r' || c == u'\n') c = u' ';
        }
        return text;
    };
    for (std::size_t i = 0; i < expected.Count(); ++i) {
        const TOrvUninstallInfo& want = *expected[i];
        const TOrvUninstallInfo& got = *inventory.Entries[i];
        SCOPED_TRACE(ToUtf8(want.DisplayName));
        EXPECT_EQ(got.Comments, flattened(want.Comments));
        EXPECT_EQ(got.DisplayIcon, want.DisplayIcon);
        EXPECT_EQ(got.DisplayName, want.DisplayName);
        EXPECT_EQ(got.Publisher, want.Publisher);
        EXPECT_EQ(got.UninstallString, want.UninstallString);
    }
    EXPECT_FALSE(FileExists(HandOffPath()));
}

#endif

}  // namespace
}  // namespace velmora::testing
