// The real Velmora.exe under Wine and Xvfb, driven from outside: the list it
// shows, its layout, its start-up error display and the ways it ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "FixtureRegistry.h"
#include "VelmoraSession.h"
#include "WindowsTestSupport.h"
#include "frmOrvUninstallMainLogic.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::gui {
namespace {

std::wstring W(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

void ImportFixture(const std::string& name, int bits) {
    testing::ImportRegFile(testing::FixtureDirectory() + name, bits);
}

void ServiceMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

RECT Rect(int left, int top, int width, int height) { return RECT{left, top, left + width, top + height}; }

void ExpectRect(HWND window, const RECT& expected) {
    const RECT actual = RectInParent(window);
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right, expected.right);
    EXPECT_EQ(actual.bottom, expected.bottom);
}

TEST(VelmoraWindow, ListsTheInventorySortedByNameWithItsTiles) {
    VelmoraSession session;
    ImportFixture("gui/list.reg", 32);
    ImportFixture("handoff/view64.reg", 64);
    ImportFixture("handoff/user.reg", 64);

    // What the list must show: the scan and the hand-off, as Velmora makes them,
    // in lstrcmpW order.
    testing::CopyBesideProgram(VELMORA_DRISK_PATH, L"Drisk.x64");
    TOrvUninstallReader expected;
    MergeHandOffInventory(expected, SystemProcesses(), ServiceMessages);
    std::vector<const TOrvUninstallInfo*> entries;
    for (std::size_t i = 0; i < expected.Entries.Count(); ++i) entries.push_back(expected.Entries[i]);
    std::stable_sort(entries.begin(), entries.end(), [](const TOrvUninstallInfo* a, const TOrvUninstallInfo* b) {
        return lstrcmpW(W(a->DisplayName).c_str(), W(b->DisplayName).c_str()) < 0;
    });
    ASSERT_EQ(entries.size(), 11u);  // 6 of the 32-bit view, 4 of the 64-bit view, 1 of the user

    session.Start();
    const std::vector<ListRow> rows = session.Rows().Rows();
    session.Screenshot(L"window-list");
    ASSERT_EQ(rows.size(), entries.size());
    std::set<int> iconTiles;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(ToUtf8(entries[i]->DisplayName));
        ASSERT_EQ(rows[i].texts.size(), 3u);
        EXPECT_EQ(rows[i].texts[0], W(entries[i]->DisplayName));
        EXPECT_EQ(rows[i].texts[1], W(entries[i]->Publisher));
        EXPECT_EQ(rows[i].texts[2], W(entries[i]->Comments));
        EXPECT_FALSE(rows[i].ticked);
        if (entries[i]->DisplayIcon.empty()) {
            EXPECT_EQ(rows[i].image, 0) << "an entry without an icon shows the default tile";
        } else {
            iconTiles.insert(rows[i].image);
        }
    }
    // One tile of its own per entry with an icon, after the default tile.
    const auto withIcon = std::count_if(entries.begin(), entries.end(), [](auto* e) { return !e->DisplayIcon.empty(); });
    ASSERT_EQ(iconTiles.size(), static_cast<std::size_t>(withIcon));
    EXPECT_EQ(*iconTiles.begin(), 1);
    EXPECT_EQ(*iconTiles.rbegin(), withIcon);

    EXPECT_EQ(session.Rows().HeaderTexts(), (std::vector<std::wstring>{L"软件插件名称", L"厂商签名", L"描述"}));
    EXPECT_EQ(session.Rows().ColumnWidth(0), 300);
    EXPECT_EQ(session.Rows().ColumnWidth(1), 140);
    EXPECT_EQ(session.Rows().ColumnWidth(2), 280);
    EXPECT_FALSE(testing::FileExists(VelmoraSession::HandOffPath()));
}

TEST(VelmoraWindow, LayoutKeepsItsMarginsThroughMaximiseAndRestore) {
    VelmoraSession session;
    session.Start();
    const SIZE client = ClientSize(session.Main());
    EXPECT_EQ(client.cx, 792);
    EXPECT_EQ(client.cy, 486);
    ExpectRect(session.UninstallButton(), Rect(16, 445, 75, 25));
    ExpectRect(session.ExitButton(), Rect(701, 445, 75, 25));
    ExpectRect(session.List(), Rect(16, 40, 760, 389));
    EXPECT_EQ(RectInParent(RequireChild(session.Main(), L"Static", L"当前安装的程序：")).left, 16);

    const SIZE maximised = Maximize(session.Main());
    EXPECT_GT(maximised.cx, 792);
    ExpectRect(session.UninstallButton(), Rect(16, maximised.cy - 41, 75, 25));
    ExpectRect(session.ExitButton(), Rect(maximised.cx - 91, maximised.cy - 41, 75, 25));
    ExpectRect(session.List(), Rect(16, 40, maximised.cx - 32, maximised.cy - 41 - 16 - 40));
    session.Screenshot(L"window-maximised");

    const SIZE restored = Restore(session.Main());
    EXPECT_EQ(restored.cx, 792);
    EXPECT_EQ(restored.cy, 486);
    ExpectRect(session.List(), Rect(16, 40, 760, 389));
}

// The prefix's pixels per inch, as Wine reads them when a program starts; the
// earlier setting comes back at the end.
class PixelsPerInch {
public:
    explicit PixelsPerInch(DWORD dpi) {
        for (Setting& setting : settings_) {
            HKEY key = nullptr;
            if (RegCreateKeyExW(setting.root, setting.path, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                                &key, nullptr) != ERROR_SUCCESS) {
                throw DriverError("cannot open the key of LogPixels");
            }
            DWORD size = sizeof setting.old;
            setting.had = RegQueryValueExW(key, L"LogPixels", nullptr, nullptr,
                                           reinterpret_cast<BYTE*>(&setting.old), &size) == ERROR_SUCCESS;
            RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
            RegCloseKey(key);
        }
    }
    ~PixelsPerInch() {
        for (const Setting& setting : settings_) {
            HKEY key = nullptr;
            if (RegOpenKeyExW(setting.root, setting.path, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
                continue;
            }
            if (setting.had) {
                RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&setting.old),
                               sizeof setting.old);
            } else {
                RegDeleteValueW(key, L"LogPixels");
            }
            RegCloseKey(key);
        }
    }

private:
    struct Setting {
        HKEY root;
        const wchar_t* path;
        bool had = false;
        DWORD old = 0;
    };
    Setting settings_[2] = {{HKEY_CURRENT_USER, L"Control Panel\\Desktop"},
                            {HKEY_CURRENT_CONFIG, L"Software\\Fonts"}};
};

// What the driver reads of the window: the client size, the controls, the
// column widths and the first row.
struct WindowLayout {
    SIZE client{};
    std::vector<RECT> controls;
    std::vector<int> columns;
    RECT row{};
};

WindowLayout ReadLayout(VelmoraSession& session) {
    WindowLayout layout;
    layout.client = ClientSize(session.Main());
    for (HWND control : {RequireChild(session.Main(), L"Static", L"当前安装的程序："), session.List(),
                         session.UninstallButton(), session.ExitButton()}) {
        layout.controls.push_back(RectInParent(control));
    }
    for (int column = 0; column < 3; ++column) layout.columns.push_back(session.Rows().ColumnWidth(column));
    layout.row = session.Rows().RowRect(0);
    return layout;
}

void ExpectScaled(int designed, int actual, const char* what) {
    EXPECT_NEAR(actual, designed * 3 / 2.0, 1.0) << what;
}

void ExpectScaled(const WindowLayout& designed, const WindowLayout& actual) {
    ExpectScaled(designed.client.cx, actual.client.cx, "client width");
    ExpectScaled(designed.client.cy, actual.client.cy, "client height");
    for (std::size_t i = 0; i < designed.controls.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        ExpectScaled(designed.controls[i].left, actual.controls[i].left, "left");
        ExpectScaled(designed.controls[i].top, actual.controls[i].top, "top");
        ExpectScaled(designed.controls[i].right, actual.controls[i].right, "right");
        ExpectScaled(designed.controls[i].bottom, actual.controls[i].bottom, "bottom");
    }
    for (std::size_t i = 0; i < designed.columns.size(); ++i) {
        ExpectScaled(designed.columns[i], actual.columns[i], "column width");
    }
    // The row follows the tiles, which follow the DPI.
    ExpectScaled(designed.row.bottom - designed.row.top, actual.row.bottom - actual.row.top, "row height");
}

TEST(VelmoraWindow, At144PixelsPerInchEverythingIsScaledByOneAndAHalf) {
    // Read as the window lays itself out, not as scaled for a caller unaware of DPI.
    using SetContext = HANDLE(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContext>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    ASSERT_NE(setContext, nullptr);
    const HANDLE perMonitorAware = reinterpret_cast<HANDLE>(-3);
    const HANDLE oldContext = setContext(perMonitorAware);

    WindowLayout designed, designedResized, scaled, scaledResized;
    {
        VelmoraSession session;
        ImportFixture("gui/list.reg", 32);
        session.Start();
        designed = ReadLayout(session);
        ResizeClient(session.Main(), 600, 400);
        designedResized = ReadLayout(session);
    }
    {
        PixelsPerInch dpi(144);
        VelmoraSession session;
        ImportFixture("gui/list.reg", 32);
        session.Start();
        scaled = ReadLayout(session);
        session.Screenshot(L"window-144dpi");
        ResizeClient(session.Main(), 900, 600);
        scaledResized = ReadLayout(session);
    }
    setContext(oldContext);
    ExpectScaled(designed, scaled);
    {
        SCOPED_TRACE("after a resize");
        ExpectScaled(designedResized, scaledResized);
    }
}

TEST(VelmoraWindow, AScanErrorIsShownOnceBeforeTheWindowThenTheListIsEmpty) {
    VelmoraSession session;
    ImportFixture("gui/bad_display_name.reg", 32);
    session.Start(/*expectError=*/true);

    const HWND box = WaitForMessageBox(session.Program().Id(), L"Velmora", 60000);
    const MessageBoxInfo info = ReadMessageBox(box);
    // The message ends in a quotation mark, which gets no full stop.
    EXPECT_EQ(info.text, L"Invalid data type for 'DisplayName'");
    EXPECT_EQ(info.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(FindTopLevelWindow(session.Program().Id(), L"Velmora", L"TOrvUninstallMainForm"), nullptr)
        << "the window was shown before the error";
    session.Screenshot(L"window-scan-error");
    AnswerMessageBox(box, IDOK);

    session.AttachToWindow();
    EXPECT_EQ(session.Rows().RowCount(), 0);
    EXPECT_EQ(FindTopLevelWindow(session.Program().Id(), L"", L"#32770"), nullptr) << "a second box appeared";
}

TEST(VelmoraWindow, TheKeyboardStartsOnTheListAndReachesEveryControl) {
    VelmoraSession session;
    ImportFixture("gui/list.reg", 32);
    session.Start();
    const HWND main = session.Main();
    EXPECT_EQ(WaitForFocus(main, session.List()), session.List());
    PressKeys(main, {VK_DOWN});
    PressKeys(main, {VK_SPACE});
    for (int i = 0; i < 100 && !session.Rows().IsTicked(0); ++i) Sleep(50);
    EXPECT_TRUE(session.Rows().IsTicked(0)) << "Space did not tick the focused row";

    PressKeys(main, {VK_TAB});
    EXPECT_EQ(WaitForFocus(main, session.UninstallButton()), session.UninstallButton());
    PressKeys(main, {VK_TAB});
    EXPECT_EQ(WaitForFocus(main, session.ExitButton()), session.ExitButton());
    PressKeys(main, {VK_SHIFT, VK_TAB});
    EXPECT_EQ(WaitForFocus(main, session.UninstallButton()), session.UninstallButton());
    PressKeys(main, {VK_TAB});
    EXPECT_EQ(WaitForFocus(main, session.ExitButton()), session.ExitButton());
    PressKeys(main, {VK_RETURN});
    EXPECT_EQ(session.Program().WaitForExit(30000), 0u);
}

TEST(VelmoraWindow, EveryWayOfClosingEndsTheProgramWithCodeZero) {
    {
        VelmoraSession session;
        session.Start();
        ClickButton(session.ExitButton());
        EXPECT_EQ(session.Program().WaitForExit(30000), 0u);
    }
    {
        VelmoraSession session;
        session.Start();
        PostClose(session.Main());
        EXPECT_EQ(session.Program().WaitForExit(30000), 0u);
    }
    {
        VelmoraSession session;
        session.Start();
        PostSysClose(session.Main());
        EXPECT_EQ(session.Program().WaitForExit(30000), 0u);
    }
    {
        VelmoraSession session;
        session.Start();
        PressKeys(session.Main(), {VK_MENU, VK_F4});
        EXPECT_EQ(session.Program().WaitForExit(30000), 0u);
    }
}

}  // namespace
}  // namespace velmora::gui
