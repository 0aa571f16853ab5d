// Faults that need the real functions under Wine: a hand-off file that another
// process holds, that is read-only, that is a directory or 50 MB long; a
// companion that is missing, crashes or is killed while it writes; children
// that outlive their parent; command lines full of shell syntax.
#include <gtest/gtest.h>

#include "platform/WindowsHeaders.h"

#include <string>
#include <vector>

#include "FixtureRegistry.h"
#include "WindowsTestSupport.h"
#include "frmOrvUninstallMainLogic.h"
#include "platform/ProfileFiles.h"
#include "platform/Text.h"
#include "unitOrvCInstallUtils.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::testing {
namespace {

#ifndef _WIN64

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::wstring HandOffPath() { return Wide(GetTempDirectory() + kHandOffFileName); }

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

const std::string kOneSection = "[Planted]\r\nDisplayName=Planted entry\r\nUninstallString=planted.exe /x\r\n";

std::vector<std::u16string> Names(const TOrvUninstallReader& inventory) {
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < inventory.Entries.Count(); ++i) names.push_back(inventory.Entries[i]->DisplayName);
    return names;
}

void ProcessMessagesPlainly() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// A child started without waiting for it; killed when the object goes.
class Child {
public:
    explicit Child(const std::wstring& commandLine) {
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_))
            info_ = {};
    }
    ~Child() {
        if (!info_.hProcess) return;
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 10000);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    HANDLE Handle() const { return info_.hProcess; }

private:
    PROCESS_INFORMATION info_{};
};

// Whether someone holds the file open without sharing it.
bool IsLocked(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

std::wstring ChildPath() { return ProgramDirectory() + L"velmora_test_child.exe"; }

class HandOffFileFaults : public ::testing::Test {
protected:
    HandOffFileFaults() {
        ClearUninstallKeys();
        Cleanup();
    }
    ~HandOffFileFaults() override { Cleanup(); }
    static void Cleanup() {
        SetFileAttributesW(HandOffPath().c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(HandOffPath().c_str());
        RemoveDirectoryW(HandOffPath().c_str());
    }
    static std::size_t Load() {
        TOrvUninstallReader inventory;
        inventory.LoadFromHandOffFile();
        return inventory.Entries.Count();
    }
};

// GetFileAttributes failing as it does for a file in use; everything else real.
class SharingViolationFiles final : public IProfileFiles {
public:
    std::uint32_t GetPrivateProfileString(const char16_t* s, const char16_t* k, const char16_t* d, char16_t* b,
                                          std::uint32_t n, const std::u16string& p) override {
        return real.GetPrivateProfileString(s, k, d, b, n, p);
    }
    bool WritePrivateProfileString(const char16_t* s, const char16_t* k, const char16_t* v,
                                   const std::u16string& p) override {
        return real.WritePrivateProfileString(s, k, v, p);
    }
    std::uint32_t GetTempPath(std::uint32_t n, char16_t* b) override { return real.GetTempPath(n, b); }
    std::uint32_t GetFileAttributes(const std::u16string&) override {
        error = kErrorSharingViolation;
        return kInvalidFileAttributes;
    }
    std::uintptr_t FindFirstFile(const std::u16string& p, std::uint32_t* a) override {
        ++searches;
        const std::uintptr_t h = real.FindFirstFile(p, a);
        error = real.LastError();
        return h;
    }
    bool FindClose(std::uintptr_t h) override { return real.FindClose(h); }
    bool DeleteFile(const std::u16string& p) override {
        const bool ok = real.DeleteFile(p);
        error = real.LastError();
        return ok;
    }
    long LastError() override { return error; }
    bool ReadAllBytes(const std::u16string& p, std::string& bytes) override { return real.ReadAllBytes(p, bytes); }
    std::uint32_t AnsiCharCount(const std::string& bytes) override { return real.AnsiCharCount(bytes); }

    IProfileFiles& real = SystemProfileFiles();
    long error = 0;
    int searches = 0;
};

TEST_F(HandOffFileFaults, AFileHeldByAnotherProcessStaysUntilItIsFreeThenIsMerged) {
    WriteBytes(HandOffPath(), kOneSection);
    {
        Child holder(L"\"" + ChildPath() + L"\" --lock \"" + HandOffPath() + L"\" --sleep 60000");
        ASSERT_NE(holder.Handle(), nullptr);
        const DWORD start = GetTickCount();
        while (!IsLocked(HandOffPath()) && GetTickCount() - start < 20000) Sleep(20);
        ASSERT_TRUE(IsLocked(HandOffPath()));

        // Nothing can be read or deleted; the file stays for next time.
        EXPECT_EQ(Load(), 0u);
        EXPECT_TRUE(FileExists(HandOffPath()));

        // Where the attributes cannot be had, a directory search still finds it.
        SharingViolationFiles files;
        TOrvUninstallReader inventory(SystemRegistry(), files);
        inventory.LoadFromHandOffFile();
        EXPECT_EQ(files.searches, 1);
        EXPECT_TRUE(FileExists(HandOffPath()));
    }
    ASSERT_FALSE(IsLocked(HandOffPath()));
    // Free again: the search says it exists, so it is read and deleted.
    SharingViolationFiles files;
    TOrvUninstallReader inventory(SystemRegistry(), files);
    inventory.LoadFromHandOffFile();
    EXPECT_EQ(Names(inventory), std::vector<std::u16string>{u"Planted entry"});
    EXPECT_EQ(files.searches, 1);
    EXPECT_FALSE(FileExists(HandOffPath()));
}

TEST_F(HandOffFileFaults, AReadOnlyFileIsMergedEveryTimeAndNeverLost) {
    WriteBytes(HandOffPath(), kOneSection);
    ASSERT_TRUE(SetFileAttributesW(HandOffPath().c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Load(), 1u);
    EXPECT_TRUE(FileExists(HandOffPath()));
    EXPECT_EQ(Load(), 1u);
    SetFileAttributesW(HandOffPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Load(), 1u);
    EXPECT_FALSE(FileExists(HandOffPath()));
}

TEST_F(HandOffFileFaults, ADirectoryOfThatNameIsNeitherReadNorRemoved) {
    ASSERT_TRUE(CreateDirectoryW(HandOffPath().c_str(), nullptr));
    EXPECT_EQ(Load(), 0u);
    const DWORD attributes = GetFileAttributesW(HandOffPath().c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(HandOffFileFaults, AFiftyMegabyteFileIsReadToItsEnd) {
    std::string bytes = "[First]\r\nDisplayName=" + std::string(3000, 'd') + "\r\nUninstallString=first.exe\r\n";
    const std::string comment = ";" + std::string(126, 'c') + "\r\n";
    bytes.reserve(50u << 20);
    while (bytes.size() + comment.size() < (50u << 20) - 100) bytes += comment;
    bytes += "[Last]\r\nDisplayName=Last one\r\nUninstallString=\"C:\\last.exe\" /S\r\n";
    WriteBytes(HandOffPath(), bytes);

    TOrvUninstallReader inventory;
    inventory.LoadFromHandOffFile();
    ASSERT_EQ(inventory.Entries.Count(), 2u);
    EXPECT_EQ(inventory.Entries[0]->DisplayName, std::u16string(2047, u'd'));
    EXPECT_EQ(inventory.Entries[1]->UninstallString, u"\"C:\\last.exe\" /S");
    EXPECT_FALSE(FileExists(HandOffPath()));
}

// ---------------------------------------------------------------------------
// The companion

class CompanionFaults : public HandOffFileFaults {
protected:
    ~CompanionFaults() override {
        SetEnvironmentVariableW(L"VELMORA_TEST_CHILD_STEPS", nullptr);
        DeleteFileW(Companion().c_str());
    }
    static std::wstring Companion() { return ProgramDirectory() + L"Drisk.x64"; }
    // Merges with whatever stands beside the program as Drisk.x64.
    static std::vector<std::u16string> Merge() {
        TOrvUninstallReader inventory;
        MergeHandOffInventory(inventory, SystemProcesses(), ProcessMessagesPlainly);
        return Names(inventory);
    }
};

TEST_F(CompanionFaults, MissingOrCrashingItStillMergesALeftOverFileOnce) {
    DeleteFileW(Companion().c_str());
    WriteBytes(HandOffPath(), kOneSection);
    EXPECT_EQ(Merge(), std::vector<std::u16string>{u"Planted entry"});
    EXPECT_FALSE(FileExists(HandOffPath()));
    EXPECT_TRUE(Merge().empty());

    ASSERT_TRUE(CopyFileW(ChildPath().c_str(), Companion().c_str(), FALSE));
    SetEnvironmentVariableW(L"VELMORA_TEST_CHILD_STEPS", L"--crash");
    EXPECT_EQ(RunAndWait(u"Drisk.x64", SW_HIDE), static_cast<int>(0xC0000005u));
    WriteBytes(HandOffPath(), kOneSection);
    EXPECT_EQ(Merge(), std::vector<std::u16string>{u"Planted entry"});
    EXPECT_TRUE(Merge().empty());
}

TEST_F(CompanionFaults, AKillWhileItWritesNeverLeavesAHalfFile) {
    CopyBesideProgram(VELMORA_DRISK_PATH, L"Drisk.x64");
    // Enough entries that writing takes a while.
    std::string reg = "Windows Registry Editor Version 5.00\r\n";
    const int count = 1500;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        reg += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kill" + n +
               "]\r\n\"DisplayName\"=\"Killed halfway " + n + " " + std::string(100, 'k') +
               "\"\r\n\"UninstallString\"=\"C:\\\\kill\\\\" + n + ".exe\"\r\n";
    }
    const std::string regFile = ScratchDirectory() + "kill.reg";
    WriteTextFile(regFile, reg);
    ImportRegFile(regFile, 64);
    DeleteFileA(regFile.c_str());

    // A whole run, to know how long one takes.
    const DWORD start = GetTickCount();
    ASSERT_EQ(RunAndWait(u"Drisk.x64", SW_HIDE), 0);
    const DWORD whole = GetTickCount() - start;
    ASSERT_TRUE(FileExists(HandOffPath()));
    DeleteFileW(HandOffPath().c_str());

    const std::wstring temp = Wide(GetTempDirectory());
    for (const DWORD percent : {10u, 35u, 60u, 80u, 95u}) {
        SCOPED_TRACE(percent);
        {
            Child companion(L"\"" + Companion() + L"\"");
            ASSERT_NE(companion.Handle(), nullptr);
            Sleep(whole * percent / 100);
        }  // killed
        // Whatever the moment, the hand-off file is either absent or whole.
        const bool present = FileExists(HandOffPath());
        TOrvUninstallReader inventory;
        const std::size_t before = inventory.Entries.Count();
        inventory.LoadFromHandOffFile();
        EXPECT_EQ(inventory.Entries.Count() - before, present ? static_cast<std::size_t>(count) : 0u);
        EXPECT_FALSE(FileExists(HandOffPath()));
        // A sibling temporary file is the companion's; loading leaves it alone.
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW((temp + L"OrvUninstall.ini.*.tmp").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do DeleteFileW((temp + found.cFileName).c_str());
            while (FindNextFileW(search, &found));
            FindClose(search);
        }
    }
    ClearUninstallKeys();
}

TEST_F(CompanionFaults, AHalfWrittenSiblingIsNeverReadNorDeleted) {
    DeleteFileW(Companion().c_str());
    const std::wstring sibling = HandOffPath() + L".4242.tmp";
    WriteBytes(HandOffPath(), kOneSection);
    const std::string half("\xFF\xFE[\0H\0a\0l\0f\0]\0\r\0\n\0D\0i\0s", 21);
    WriteBytes(sibling, half);
    EXPECT_EQ(Merge(), std::vector<std::u16string>{u"Planted entry"});
    EXPECT_EQ(ReadFileBytes(sibling), half);
    DeleteFileW(sibling.c_str());
}

// ---------------------------------------------------------------------------
// Processes and command lines

std::wstring RecordPath(const wchar_t* tag) {
    return Wide(GetTempDirectory()) + L"velmora-fault-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
}

// A program the child leaves running outside the temporary folders (here the
// build tree) does not hold the wait.
TEST(ProcessFaults, OnlyTheDirectChildIsWaitedFor) {
    const std::wstring late = RecordPath(L"grandchild");
    DeleteFileW(late.c_str());
    const std::u16string line = u"velmora_test_child.exe --spawn \"velmora_test_child.exe --sleep 2500 --record " +
                                U16(late) + u"\"";
    EXPECT_EQ(RunAndWait(line, SW_HIDE), 0);
    EXPECT_FALSE(FileExists(late)) << "RunAndWait waited for the grandchild";
    const DWORD start = GetTickCount();
    while (!FileExists(late) && GetTickCount() - start < 20000) Sleep(50);
    EXPECT_TRUE(FileExists(late)) << "the grandchild never ran";
    DeleteFileW(late.c_str());
}

TEST(ProcessFaults, CommandLinesAreNeitherExpandedNorRunThroughAShell) {
    const std::wstring first = RecordPath(L"first");
    const std::wstring second = RecordPath(L"second");
    DeleteFileW(first.c_str());
    DeleteFileW(second.c_str());
    // Through a shell, the echo after "&" would write the second file.
    const std::u16string chained = u"velmora_test_child.exe --record \"" + U16(first) + u"\" & echo injected > \"" +
                                   U16(second) + u"\" | more && %TEMP% ^\"";
    EXPECT_EQ(RunAndWait(chained, SW_HIDE), 0);
    EXPECT_EQ(ReadFileBytes(first), ToUtf8(chained));
    EXPECT_FALSE(FileExists(second)) << "the second command of the line ran";

    const std::u16string odd = u"\"velmora_test_child.exe\" --record \"" + U16(first) +
                               u"\" a\"b c\"d \"\"\"e\" \\\"f\\\\\" '%ComSpec%' !x! $(y) `z`";
    EXPECT_EQ(RunAndWait(odd, SW_HIDE), 0);
    EXPECT_EQ(ReadFileBytes(first), ToUtf8(odd));

    // An environment reference as the program is looked for as a file of that name.
    EXPECT_EQ(RunAndWait(u"%ComSpec% /c velmora_test_child.exe --record \"" + U16(second) + u"\"", SW_HIDE), -1);
    EXPECT_FALSE(FileExists(second));
    DeleteFileW(first.c_str());
}

#endif

}  // namespace
}  // namespace velmora::testing
