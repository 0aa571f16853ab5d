// The GUI driver against its small target program (velmora_driver_target.exe,
// beside this test program).
#include "Driver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace velmora::gui {
namespace {

std::wstring BesideThisProgram(const std::wstring& name) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        char buffer[65536];
        size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, read);
        std::fclose(file);
    }
    return bytes;
}

std::wstring CurrentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return std::wstring(name.begin(), name.end());
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        target_ = Process::Start(L"\"" + BesideThisProgram(L"velmora_driver_target.exe") + L"\"");
        window_ = WaitForTopLevelWindow(target_.Id(), L"Driver Target", L"DriverTargetWindow");
    }

    void TearDown() override {
        // What the screen showed when a test failed; the target is killed after.
        if (HasFailure()) SaveScreenshot(ScreenshotPath(CurrentTestName() + L"-failed"));
    }

    HWND List() const { return RequireChild(window_, L"SysListView32"); }
    HWND Button(const wchar_t* text) const { return RequireChild(window_, L"Button", text); }

    Process target_;
    HWND window_ = nullptr;
};

TEST_F(DriverTest, FindsTheWindowAndItsControls) {
    EXPECT_EQ(ProcessOf(window_), target_.Id());
    EXPECT_EQ(FindTopLevelWindow(target_.Id(), L"Driver Target", L"drivertargetwindow"), window_);
    EXPECT_EQ(FindTopLevelWindow(target_.Id(), L"", L""), window_);
    EXPECT_EQ(FindTopLevelWindow(target_.Id(), L"Driver", L""), nullptr);
    EXPECT_EQ(FindTopLevelWindow(target_.Id(), L"", L"#32770"), nullptr);
    EXPECT_EQ(FindTopLevelWindow(GetCurrentProcessId(), L"Driver Target", L""), nullptr);
    EXPECT_THROW(WaitForTopLevelWindow(target_.Id(), L"No Such Window", L"", 200), DriverError);

    EXPECT_EQ(FindChildren(window_, L"Button").size(), 2u);
    EXPECT_NE(Button(L"Ask"), Button(L"Stall"));
    EXPECT_EQ(WindowText(Button(L"Stall")), L"Stall");
    EXPECT_THROW(RequireChild(window_, L"Button", L"Nope"), DriverError);
    EXPECT_THROW(RequireChild(window_, L"Static"), DriverError);
}

TEST_F(DriverTest, GivesControlRectanglesInTheParentsClientArea) {
    // The target lays the list out 8 pixels from the client edges, the buttons
    // 8 pixels above the bottom edge, Ask left of Stall.
    const SIZE client = ClientSize(window_);
    const RECT list = RectInParent(List());
    const RECT ask = RectInParent(Button(L"Ask"));
    const RECT stall = RectInParent(Button(L"Stall"));
    EXPECT_EQ(list.left, 8);
    EXPECT_EQ(list.top, 8);
    EXPECT_EQ(list.right, client.cx - 8);
    EXPECT_EQ(stall.right, client.cx - 8);
    EXPECT_EQ(stall.bottom, client.cy - 8);
    EXPECT_EQ(ask.bottom, stall.bottom);
    EXPECT_EQ(ask.right + 8, stall.left);
    EXPECT_EQ(stall.right - stall.left, 90);
    EXPECT_EQ(list.bottom + 8, ask.top);

    // A top-level window's rectangle is in screen coordinates.
    RECT screen{};
    GetWindowRect(window_, &screen);
    const RECT top = RectInParent(window_);
    EXPECT_EQ(top.left, screen.left);
    EXPECT_EQ(top.bottom, screen.bottom);
}

TEST_F(DriverTest, ReadsTheListViewAcrossProcesses) {
    RemoteListView list(List());
    EXPECT_EQ(list.RowCount(), 3);
    EXPECT_EQ(list.ColumnCount(), 3);
    EXPECT_EQ(list.HeaderTexts(), (std::vector<std::wstring>{L"Name", L"Publisher", L"Comment"}));
    EXPECT_EQ(list.ColumnWidth(0), 200);
    EXPECT_EQ(list.ColumnWidth(1), 150);
    EXPECT_EQ(list.ColumnWidth(2), 120);

    const std::vector<ListRow> rows = list.Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].texts, (std::vector<std::wstring>{L"Alpha Editor", L"Alpha Ltd", L""}));
    EXPECT_EQ(rows[1].texts, (std::vector<std::wstring>{L"中文程序", L"北京软件公司", L"注释"}));
    EXPECT_EQ(rows[2].texts, (std::vector<std::wstring>{L"Gamma Tool", L"", L"portable"}));
    EXPECT_TRUE(rows[0].ticked);
    EXPECT_FALSE(rows[1].ticked);
    EXPECT_FALSE(rows[2].ticked);
    EXPECT_EQ(list.StateImage(1), 1);
    EXPECT_EQ(rows[0].image, 2);
    EXPECT_EQ(rows[1].image, 0);
    EXPECT_EQ(rows[2].image, 1);
    EXPECT_EQ(list.Text(1, 0), L"中文程序");

    EXPECT_THROW(list.Text(3, 0), DriverError);
    EXPECT_THROW(list.Text(0, 3), DriverError);
    EXPECT_THROW(list.Image(-1), DriverError);
    EXPECT_THROW(RemoteListView{Button(L"Ask")}, DriverError);
}

TEST_F(DriverTest, TickingRowsIsReadBackAndNotifiesTheTarget) {
    RemoteListView list(List());
    const HWND ask = Button(L"Ask");
    ASSERT_TRUE(IsEnabled(ask));  // the target enables Ask while a row is ticked

    list.SetTicked(0, false);
    EXPECT_FALSE(list.IsTicked(0));
    EXPECT_EQ(list.StateImage(0), 1);
    EXPECT_FALSE(IsEnabled(ask));

    list.SetTicked(2, true);
    EXPECT_TRUE(list.IsTicked(2));
    EXPECT_FALSE(list.IsTicked(0));
    EXPECT_FALSE(list.IsTicked(1));
    EXPECT_TRUE(IsEnabled(ask));
    EXPECT_THROW(list.SetTicked(3, true), DriverError);
}

TEST_F(DriverTest, SelectsRows) {
    RemoteListView list(List());
    list.SelectRows({1});
    std::vector<ListRow> rows = list.Rows();
    EXPECT_FALSE(rows[0].selected);
    EXPECT_TRUE(rows[1].selected);
    EXPECT_TRUE(rows[1].focused);
    EXPECT_FALSE(rows[2].selected);

    list.SelectRows({2, 0});
    rows = list.Rows();
    EXPECT_TRUE(rows[0].selected);
    EXPECT_FALSE(rows[1].selected);
    EXPECT_FALSE(rows[1].focused);
    EXPECT_TRUE(rows[2].selected);
    EXPECT_TRUE(rows[2].focused);

    list.SelectRows({});
    for (const ListRow& row : list.Rows()) EXPECT_FALSE(row.selected);
    // Selecting leaves the ticks alone.
    EXPECT_TRUE(list.IsTicked(0));
}

TEST_F(DriverTest, ReadsAndAnswersTheMessageBox) {
    ClickButton(Button(L"Ask"));
    HWND box = WaitForMessageBox(target_.Id(), L"Driver Target");
    const MessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(info.caption, L"Driver Target");
    EXPECT_EQ(info.text, L"Sure?");
    EXPECT_EQ(info.owner, window_);
    EXPECT_EQ(info.buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_FALSE(IsEnabled(window_));  // the box is modal to its owner
    EXPECT_THROW(AnswerMessageBox(box, IDOK), DriverError);

    AnswerMessageBox(box, IDNO);
    WaitUntilGone(box);
    EXPECT_THROW(target_.WaitForExit(300), DriverError);
    EXPECT_TRUE(IsEnabled(window_));

    ClickButton(Button(L"Ask"));
    box = WaitForMessageBox(target_.Id(), L"Driver Target");
    AnswerMessageBox(box, IDYES);
    EXPECT_EQ(target_.WaitForExit(), 3u);
}

TEST_F(DriverTest, TellsALiveWindowFromABusyOne) {
    const std::optional<double> live = RoundTripMs(window_, 2000);
    ASSERT_TRUE(live.has_value());
    EXPECT_LT(*live, 500.0);

    ClickButton(Button(L"Stall"));  // the target's thread sleeps for 2 s
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(RoundTripMs(window_, 300).has_value());
    const std::optional<double> late = RoundTripMs(window_, 5000);
    ASSERT_TRUE(late.has_value());
    EXPECT_GT(*late, 1000.0);

    const std::optional<double> again = RoundTripMs(window_, 2000);
    ASSERT_TRUE(again.has_value());
    EXPECT_LT(*again, 500.0);

    // A busy window is still found by its caption.
    ClickButton(Button(L"Stall"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(RoundTripMs(window_, 100).has_value());
    EXPECT_EQ(FindTopLevelWindow(target_.Id(), L"Driver Target", L""), window_);
}

TEST_F(DriverTest, MaximisesAndRestores) {
    const SIZE before = ClientSize(window_);
    const SIZE maximised = Maximize(window_);
    EXPECT_TRUE(IsZoomed(window_));
    EXPECT_GT(maximised.cx, before.cx);
    EXPECT_GT(maximised.cy, before.cy);
    EXPECT_GT(maximised.cx, GetSystemMetrics(SM_CXSCREEN) * 9 / 10);
    EXPECT_EQ(RectInParent(List()).right, maximised.cx - 8);  // the target laid itself out again

    const SIZE restored = Restore(window_);
    EXPECT_FALSE(IsZoomed(window_));
    EXPECT_EQ(restored.cx, before.cx);
    EXPECT_EQ(restored.cy, before.cy);
    EXPECT_THROW(Restore(window_, 500), DriverError);  // nothing changes any more
}

TEST_F(DriverTest, ScreenshotShowsTheScreen) {
    const std::wstring path = ScreenshotPath(L"driver-target");
    DeleteFileW(path.c_str());
    WaitUntilDrawn(window_);
    SaveScreenshot(path);

    const std::string bytes = ReadAll(path);
    ASSERT_GT(bytes.size(), sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    BITMAPINFOHEADER header{};
    std::memcpy(&header, bytes.data() + sizeof(BITMAPFILEHEADER), sizeof header);
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    ASSERT_EQ(header.biWidth, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    ASSERT_EQ(header.biHeight, GetSystemMetrics(SM_CYVIRTUALSCREEN));
    EXPECT_EQ(header.biBitCount, 24);
    const size_t stride = (static_cast<size_t>(header.biWidth) * 3 + 3) & ~size_t{3};
    ASSERT_EQ(bytes.size(), sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + stride * header.biHeight);

    // The empty lower part of the list view shows its background colour.
    const HWND list = List();
    DWORD_PTR background = 0;
    ASSERT_TRUE(SendMessageTimeoutW(list, LVM_GETBKCOLOR, 0, 0, SMTO_NORMAL, 5000, &background));
    RECT client{};
    GetClientRect(list, &client);
    POINT point{client.right - 10, client.bottom - 10};
    ClientToScreen(list, &point);
    const size_t row = static_cast<size_t>(header.biHeight - 1 - (point.y - top));
    const size_t at = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + row * stride + (point.x - left) * 3;
    const auto pixel = RGB(static_cast<unsigned char>(bytes[at + 2]), static_cast<unsigned char>(bytes[at + 1]),
                           static_cast<unsigned char>(bytes[at]));
    EXPECT_EQ(pixel, static_cast<COLORREF>(background));
}

TEST_F(DriverTest, StartFailsClearlyAndKillEndsABusyTarget) {
    EXPECT_THROW(Process::Start(L"\"C:\\no\\such\\program.exe\""), DriverError);

    ClickButton(Button(L"Stall"));
    target_.Kill();
    EXPECT_FALSE(target_.IsRunning());
    EXPECT_EQ(target_.WaitForExit(0), 1u);
}

// Each way a user closes the window ends the target with exit code 0.
struct CloseWay {
    const char* name;
    void (*close)(HWND);
};

void AltF4(HWND window) {
    PressAltF4(window);
}

class DriverCloseTest : public DriverTest, public ::testing::WithParamInterface<CloseWay> {};

TEST_P(DriverCloseTest, EndsTheTargetWithExitCodeZero) {
    GetParam().close(window_);
    EXPECT_EQ(target_.WaitForExit(), 0u);
}

std::string CloseWayName(const ::testing::TestParamInfo<CloseWay>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Ways, DriverCloseTest,
                         ::testing::Values(CloseWay{"WmClose", PostClose}, CloseWay{"SysClose", PostSysClose},
                                           CloseWay{"AltF4", AltF4}),
                         CloseWayName);

// The list view of a program of the other bitness is refused, not misread.
TEST(DriverBitness, RefusesAListViewOfTheOtherBitness) {
    // A 32-bit program reaches the 64-bit system directory through "sysnative".
    const wchar_t* taskManager = L"C:\\windows\\sysnative\\taskmgr.exe";
    if (GetFileAttributesW(taskManager) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no 64-bit system directory";
    Process manager = Process::Start(taskManager);
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(manager.Handle(), &wow64));
    BOOL selfWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &selfWow64);
    ASSERT_NE(wow64, selfWow64) << "the task manager started is of the driver's own bitness";

    const HWND window = WaitForTopLevelWindow(manager.Id(), L"", L"");
    HWND list = nullptr;
    for (int i = 0; i < 100 && !list; ++i) {
        const std::vector<HWND> found = FindChildren(window, L"SysListView32");
        if (!found.empty()) list = found.front();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(list, nullptr);
    try {
        RemoteListView refused(list);
        FAIL() << "a list view of the other bitness was accepted";
    } catch (const DriverError& error) {
        EXPECT_NE(std::string(error.what()).find("bitness"), std::string::npos) << error.what();
    }
}

}  // namespace
}  // namespace velmora::gui
