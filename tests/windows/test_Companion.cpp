// Drisk.x64 under Wine: what it writes from the real registry reads back through
// the real profile functions as the fixture's expected entries, and a kill at
// any moment of writing never leaves a half file to be read.
#include <gtest/gtest.h>

#include "platform/WindowsHeaders.h"

#include <algorithm>

#include "Support.h"
#include "unitOrvCInstallUtils.h"

namespace velmora::testing {
namespace {

class Companion : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::u16string from = FromUtf8(VELMORA_DRISK_PATH);
        ASSERT_TRUE(CopyFileW(Wide(from).c_str(), (ProgramDirectory() + L"Drisk.x64").c_str(), FALSE));
    }
    void TearDown() override {
        ClearUninstallKeys();
        DeleteFileW(HandOffPath().c_str());
    }
    static std::string Loaded() {
        TOrvUninstallReader inventory;
        inventory.Clear();
        inventory.LoadFromHandOffFile();
        return DescribeInventory(inventory.Entries, "");
    }
};

TEST_F(Companion, TheOtherViewAndTheUsersEntriesArriveIntact) {
    ClearUninstallKeys();
    const std::wstring dir = FixtureDirectory() + L"companion/";
    ImportRegFile(dir + L"view32.reg", 32);
    ImportRegFile(dir + L"view64.reg", 64);
    ImportRegFile(dir + L"user.reg", 64);
    DeleteFileW(HandOffPath().c_str());
    ASSERT_EQ(RunAndWait(u"Drisk.x64", SW_HIDE), 0);
    ClearUninstallKeys();  // what is read comes from the file alone
    EXPECT_EQ(Loaded(), NormaliseExpected(ReadFileBytes(dir + L"drisk.expected")));
    EXPECT_FALSE(FileExists(HandOffPath()));
}

TEST_F(Companion, AKillWhileItWritesNeverLeavesAHalfFile) {
    std::wstring reg;
    for (int i = 0; i < 1000; ++i) {
        const std::wstring n = std::to_wstring(i);
        reg += L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kill" + n +
               L"]\r\n\"DisplayName\"=\"Killed halfway " + n + std::wstring(100, L'k') + L"\"\r\n\"UninstallString\"=\"k" +
               n + L".exe\"\r\n\r\n";
    }
    ImportRegText(reg, 64);
    const DWORD start = GetTickCount();
    ASSERT_EQ(RunAndWait(u"Drisk.x64", SW_HIDE), 0);
    const DWORD whole = GetTickCount() - start;
    const std::string complete = Loaded();
    ASSERT_EQ(std::count(complete.begin(), complete.end(), '\n'), 1000 * 7);

    for (const DWORD percent : {30u, 60u, 90u}) {
        STARTUPINFOW startup{sizeof startup};
        PROCESS_INFORMATION process{};
        std::wstring line = L"Drisk.x64";
        ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
        Sleep(whole * percent / 100);
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        // Whatever the moment, the hand-off file is absent or whole; the sibling
        // temporary file is the companion's own, and is left alone.
        const bool present = FileExists(HandOffPath());
        EXPECT_EQ(Loaded(), present ? complete : "") << percent << "%";
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW((HandOffPath() + L".*.tmp").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
            DeleteFileW((Wide(GetTempDirectory()) + found.cFileName).c_str());
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }
}

}  // namespace
}  // namespace velmora::testing
