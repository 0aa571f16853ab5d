// RunAndWait and IsWow64 with real child programs under Wine.
#include <gtest/gtest.h>

#include "platform/WindowsHeaders.h"

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

TEST(Wow64, AnswersForTheRunningProcess) {
    // A 32-bit process in the 64-bit prefix runs under WOW64; a 64-bit one does not.
    EXPECT_EQ(IsWow64(), sizeof(void*) == 4);
}

TEST(Win32Prefix, IsWow64AnswersFalse) { EXPECT_FALSE(IsWow64()); }

}  // namespace
}  // namespace velmora::testing
