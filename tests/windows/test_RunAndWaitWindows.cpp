// RunAndWait and IsWow64 with real child programs under Wine.
#include <gtest/gtest.h>

#include "platform/WindowsHeaders.h"

#include <sstream>
#include <vector>

#include "WindowsTestSupport.h"
#include "platform/Text.h"
#include "unitOrvCInstallUtils.h"

namespace velmora::testing {
namespace {

const std::u16string kChild = u"velmora_test_child.exe";

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::wstring RecordPath() {
    wchar_t directory[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, directory);
    return std::wstring(directory) + L"velmora-child-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
}

// Runs the child so that it records the command line it received.
std::string CommandLineSeenByChild(const std::u16string& arguments) {
    const std::wstring record = RecordPath();
    DeleteFileW(record.c_str());
    const std::u16string line = kChild + u" --record \"" + U16(record) + u"\"" + arguments;
    EXPECT_EQ(RunAndWait(line, SW_HIDE), 0);
    const std::string seen = ReadFileBytes(record);
    DeleteFileW(record.c_str());
    return seen;
}

std::string Utf8(const std::u16string& text) { return ToUtf8(text); }

TEST(RunAndWaitWindows, AnswersTheChildsExitCode) {
    EXPECT_EQ(RunAndWait(kChild + u" --exit 7", SW_HIDE), 7);
    EXPECT_EQ(RunAndWait(kChild + u" --exit -2", SW_SHOW), -2);
    EXPECT_EQ(RunAndWait(kChild, SW_HIDE), 0);
}

TEST(RunAndWaitWindows, AProgramThatDoesNotExistAnswersMinusOneAtOnce) {
    const DWORD start = GetTickCount();
    EXPECT_EQ(RunAndWait(u"velmora_no_such_program.exe /x", SW_SHOW), -1);
    EXPECT_EQ(RunAndWait(u"", SW_SHOW), -1);
    EXPECT_EQ(RunAndWait(u"\"C:\\no such dir\\unins000.exe\"", SW_SHOW), -1);
    EXPECT_LT(GetTickCount() - start, 5000u);
}

TEST(RunAndWaitWindows, CommandLinesArriveExactlyAsGiven) {
    const std::u16string odd = u" \"quoted arg\" 'single' %PATH% a^&b|c>d \"trailing\\\\\" x=\"y z\"";
    const std::wstring record = RecordPath();
    EXPECT_EQ(CommandLineSeenByChild(odd),
              Utf8(kChild + u" --record \"" + U16(record) + u"\"" + odd));

    // 511 and 2,000 characters in all.
    for (const std::size_t total : {std::size_t{511}, std::size_t{2000}}) {
        const std::u16string head = kChild + u" --record \"" + U16(record) + u"\" --pad ";
        ASSERT_LT(head.size(), total);
        const std::u16string pad(total - head.size(), u'p');
        EXPECT_EQ(CommandLineSeenByChild(u" --pad " + pad).size(), total);
    }
}

LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        ++*reinterpret_cast<int*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST(RunAndWaitWindows, MessagesAreHandledWhileTheChildRuns) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VelmoraTestCounter";
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowW(L"VelmoraTestCounter", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    int handled = 0;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&handled));
    PostMessageW(window, WM_APP, 0, 0);
    PostMessageW(window, WM_APP, 0, 0);

    // Nothing else services this thread's queue: only RunAndWait's pump can.
    EXPECT_EQ(RunAndWait(kChild + u" --sleep 400", SW_HIDE), 0);
    EXPECT_EQ(handled, 2);
    DestroyWindow(window);
}

// The machine's own process functions, except that process creation fails as
// it does on Windows for a program that needs administrator rights, and the
// shell's start can be refused as a user refuses the consent prompt.
class ElevationRequired final : public IProcesses {
public:
    bool refuseConsent = false;
    std::vector<ShellStartRecord> shellStarts;

    bool CreateProcess(char16_t*, std::uint32_t, const StartupRecord&, ProcessRecord*) override {
        lastError_ = kErrorElevationRequired;
        return false;
    }
    bool ShellExecuteEx(const ShellStartRecord& start, ProcessHandle* process) override {
        shellStarts.push_back(start);
        if (refuseConsent) {
            lastError_ = kErrorCancelled;
            return false;
        }
        const bool started = real_.ShellExecuteEx(start, process);
        lastError_ = real_.GetLastError();
        return started;
    }
    std::uint32_t GetLastError() override { return lastError_; }

    std::uint32_t WaitForSingleObject(ProcessHandle h, std::uint32_t ms) override {
        return real_.WaitForSingleObject(h, ms);
    }
    bool GetExitCodeProcess(ProcessHandle h, std::uint32_t* code) override { return real_.GetExitCodeProcess(h, code); }
    bool CloseHandle(ProcessHandle h) override { return real_.CloseHandle(h); }
    void Sleep(std::uint32_t ms) override { real_.Sleep(ms); }
    bool QueryWow64(bool* isWow64) override { return real_.QueryWow64(isWow64); }
    bool SearchPath(const std::u16string& name, std::u16string* path) override { return real_.SearchPath(name, path); }
    std::uint32_t GetProcessId(ProcessHandle h) override { return real_.GetProcessId(h); }
    std::vector<ProcessEntry> ProcessSnapshot() override { return real_.ProcessSnapshot(); }
    ProcessHandle OpenProcess(std::uint32_t id) override { return real_.OpenProcess(id); }
    bool GetProcessCreationTime(ProcessHandle h, std::uint64_t* time) override {
        return real_.GetProcessCreationTime(h, time);
    }
    bool QueryFullProcessImageName(ProcessHandle h, std::u16string* path) override {
        return real_.QueryFullProcessImageName(h, path);
    }
    std::vector<std::u16string> TemporaryDirectories() override { return real_.TemporaryDirectories(); }

private:
    IProcesses& real_ = SystemProcesses();
    std::uint32_t lastError_ = 0;
};

TEST(RunAndWaitWindows, AProgramThatNeedsElevationIsStartedByTheShellAndWaitedFor) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    // A program whose unquoted path holds blanks.
    const std::wstring odd = std::wstring(temp) + L"velmora elevation\\";
    CreateDirectoryW(odd.c_str(), nullptr);
    CreateDirectoryW((odd + L"sub dir").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((ProgramDirectory() + L"velmora_test_child.exe").c_str(),
                          (odd + L"sub dir\\prog.exe").c_str(), FALSE));
    const std::u16string child = U16(ProgramDirectory()) + kChild;
    const std::u16string record = u"--record \"" + U16(RecordPath()) + u"\"";
    struct Case {
        std::u16string commandLine;
        std::u16string program;
        std::u16string arguments;
        int exitCode;
    } cases[] = {
        {u"\"" + child + u"\" " + record + u" --exit 3 \"quoted arg\"", child,
         record + u" --exit 3 \"quoted arg\"", 3},
        {U16(odd) + u"sub dir\\prog  " + record + u" --sleep 300 --exit 7 ", U16(odd) + u"sub dir\\prog.exe",
         record + u" --sleep 300 --exit 7 ", 7},
        {u"velmora_test_child\t" + record + u" %PATH% \"a \"\"b\" c\\\" 'd'", child,
         record + u" %PATH% \"a \"\"b\" c\\\" 'd'", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.commandLine));
        DeleteFileW(RecordPath().c_str());
        ElevationRequired processes;
        EXPECT_EQ(RunAndWait(processes, nullptr, c.commandLine, SW_HIDE, 0x1234), c.exitCode);
        ASSERT_EQ(processes.shellStarts.size(), 1u);
        const ShellStartRecord& start = processes.shellStarts[0];
        EXPECT_EQ(ToUtf8(start.lpFile), ToUtf8(c.program));
        EXPECT_EQ(ToUtf8(start.lpParameters), ToUtf8(c.arguments));
        EXPECT_EQ(start.hwnd, 0x1234u);
        EXPECT_EQ(start.nShow, SW_HIDE);
        // The child has ended and recorded what it was given, arguments untouched.
        const std::string seen = ReadFileBytes(RecordPath());
        EXPECT_GE(seen.size(), c.arguments.size());
        EXPECT_EQ(seen.substr(seen.size() - std::min(seen.size(), c.arguments.size())), ToUtf8(c.arguments));
    }
    DeleteFileW(RecordPath().c_str());

    ElevationRequired refused;
    refused.refuseConsent = true;
    EXPECT_EQ(RunAndWait(refused, nullptr, cases[0].commandLine, SW_SHOW), -1);
    EXPECT_EQ(refused.shellStarts.size(), 1u);
    EXPECT_FALSE(FileExists(RecordPath()));
    // A program that is not there cannot be started by the shell either.
    ElevationRequired missing;
    EXPECT_EQ(RunAndWait(missing, nullptr, u"velmora_no_such_program /S", SW_SHOW), -1);
    EXPECT_TRUE(missing.shellStarts.empty());
    DeleteFileW((odd + L"sub dir\\prog.exe").c_str());
}

std::wstring TempDirectory() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

std::u16string NsisUninstallString(const std::wstring& product) {
    const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelmoraNsis" + product;
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"UninstallString", RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return u"";
    return U16(value);
}

TEST(RunAndWaitWindows, WaitsForTheCopyAnUninstallerHandsOverTo) {
    const std::wstring log = TempDirectory() + L"velmora-nsis.log";
    DeleteFileW(log.c_str());
    for (const wchar_t* product : {L"A", L"B"}) {
        ASSERT_EQ(RunAndWait(U16(L"\"" + ProgramDirectory() + L"velmora_nsis_" + product + L".exe\" /S"), SW_HIDE), 0);
    }
    const std::u16string a = NsisUninstallString(L"A");
    const std::u16string b = NsisUninstallString(L"B");
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());

    // Each returns only when its copy has removed the entry and ended.
    EXPECT_EQ(RunAndWait(a, SW_SHOW), 0);
    EXPECT_TRUE(NsisUninstallString(L"A").empty());
    EXPECT_FALSE(NsisUninstallString(L"B").empty());
    EXPECT_EQ(RunAndWait(b, SW_SHOW), 0);
    EXPECT_TRUE(NsisUninstallString(L"B").empty());

    std::istringstream lines(ReadFileBytes(log));
    std::vector<std::string> events;
    std::string product, what, folder;
    const std::string temp = ToUtf8(U16(TempDirectory()));
    while (lines >> product >> what) {
        events.push_back(product + " " + what);
        if (what != "start") continue;
        // The work was done by a copy in the temporary folder, not by the program started.
        std::getline(lines, folder);
        EXPECT_EQ(folder.substr(1, temp.size()), temp);
    }
    EXPECT_EQ(events, (std::vector<std::string>{"A start", "A end", "B start", "B end"}));
    DeleteFileW(log.c_str());
}

TEST(Wow64, AnswersForTheRunningProcess) {
    // A 32-bit process in the 64-bit prefix runs under WOW64; a 64-bit one does not.
    EXPECT_EQ(IsWow64(), sizeof(void*) == 4);
}

TEST(Win32Prefix, IsWow64AnswersFalse) { EXPECT_FALSE(IsWow64()); }

}  // namespace
}  // namespace velmora::testing
