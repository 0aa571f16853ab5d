// The real Velmora.exe with uninstallers that misbehave: one that never ends,
// and a command line full of shell syntax and environment references stored as
// REG_EXPAND_SZ, which must reach process creation exactly as stored.
#include <gtest/gtest.h>

#include "platform/WindowsHeaders.h"

#include <tlhelp32.h>

#include <filesystem>
#include <fstream>

#include "VelmoraSession.h"
#include "WindowsTestSupport.h"
#include "platform/Text.h"

namespace velmora::gui {
namespace {

const std::wstring kUninstallKey =
    L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring TempPath(const wchar_t* tag) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"velmora-hostile-" + tag + L"-" + std::to_wstring(GetCurrentProcessId());
}

std::wstring Hex(const std::wstring& text) {
    std::wstring out;
    wchar_t byte[8];
    for (const wchar_t c : text) {
        swprintf(byte, 8, L"%02x,%02x,", c & 0xFF, (c >> 8) & 0xFF);
        out += byte;
    }
    return out + L"00,00";
}

// One entry in the 32-bit view, its command line stored as REG_EXPAND_SZ.
void InstallEntry(const std::wstring& key, const std::wstring& name, const std::wstring& command) {
    const std::wstring text = L"Windows Registry Editor Version 5.00\r\n\r\n[" + kUninstallKey + key +
                              L"]\r\n\"DisplayName\"=\"" + name + L"\"\r\n\"UninstallString\"=hex(2):" + Hex(command) +
                              L"\r\n";
    const std::wstring file = TempPath(L"entry") + L".reg";
    std::string bytes = "\xFF\xFE";
    for (const wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    std::ofstream(std::filesystem::path(file), std::ios::binary) << bytes;
    testing::ImportRegFile(std::string(file.begin(), file.end()), 32);
    DeleteFileW(file.c_str());
}

void WaitUntilEnabled(HWND button, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!IsEnabled(button)) {
        if (GetTickCount() - start > timeoutMs) throw DriverError("the uninstall button stayed disabled");
        Sleep(20);
    }
}

// The running child of `parent` whose program file has this name, or 0.
DWORD ChildProcess(DWORD parent, const std::wstring& exeName) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent && _wcsicmp(entry.szExeFile, exeName.c_str()) == 0) {
            found = entry.th32ProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return found;
}

void RunTickedRow(VelmoraSession& session, int row) {
    session.Rows().SetTicked(row, true);
    ClickButton(session.UninstallButton());
    AnswerMessageBox(WaitForMessageBox(session.Program().Id(), L"Velmora"), IDYES);
}

TEST(VelmoraHostile, AnUninstallerThatNeverEndsIsWaitedForWithTheWindowLive) {
    const std::wstring log = TempPath(L"never") + L".log";
    DeleteFileW(log.c_str());
    VelmoraSession session;
    InstallEntry(L"Forever", L"Never ends",
                 L"\"" + testing::ProgramDirectory() + L"velmora_fake_uninstaller.exe\" --log \"" + log +
                     L"\" Forever --sleep 4000000000");
    session.Start();
    RunTickedRow(session, 0);

    DWORD uninstaller = 0;
    const DWORD start = GetTickCount();
    while (!(uninstaller = ChildProcess(session.Program().Id(), L"velmora_fake_uninstaller.exe")) &&
           GetTickCount() - start < 20000)
        Sleep(50);
    ASSERT_NE(uninstaller, 0u) << "the uninstaller did not start";
    // Some seconds of waiting: the window answers throughout, the command goes on.
    for (int i = 0; i < 15; ++i) {
        ASSERT_TRUE(RoundTripMs(session.Main(), 2000).has_value()) << "the window stopped answering";
        Sleep(200);
    }
    EXPECT_FALSE(IsEnabled(session.UninstallButton()));
    EXPECT_TRUE(session.Program().IsRunning());
    session.Screenshot(L"hostile-never-ends");

    // Ended from outside, the uninstaller is done with; the list is rebuilt.
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, uninstaller);
    ASSERT_NE(process, nullptr);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    WaitUntilEnabled(session.UninstallButton(), 30000);
    EXPECT_EQ(Names(session.Rows().Rows()), std::vector<std::wstring>{L"Never ends"});
    EXPECT_FALSE(session.Rows().IsTicked(0));
    DeleteFileW(log.c_str());
}

TEST(VelmoraHostile, AStoredCommandLineReachesTheUninstallerExactly) {
    const std::wstring record = TempPath(L"record") + L".txt";
    const std::wstring injected = TempPath(L"injected") + L".txt";
    DeleteFileW(record.c_str());
    DeleteFileW(injected.c_str());
    const std::wstring command = L"\"" + testing::ProgramDirectory() + L"velmora_test_child.exe\" --record \"" + record +
                                 L"\" %TEMP% \"%ProgramFiles%\" a^&b & echo x > \"" + injected +
                                 L"\" | more 'q\"uo\"te' \"\"\"";
    VelmoraSession session;
    InstallEntry(L"Shellish", L"Shell syntax", command);
    session.Start();
    RunTickedRow(session, 0);
    WaitUntilEnabled(session.UninstallButton(), 30000);

    EXPECT_EQ(testing::ReadFileBytes(record), ToUtf8(std::u16string(command.begin(), command.end())));
    EXPECT_FALSE(testing::FileExists(injected)) << "the line went through a shell";
    DeleteFileW(record.c_str());
    DeleteFileW(injected.c_str());
}

}  // namespace
}  // namespace velmora::gui
