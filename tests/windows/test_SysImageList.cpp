// The image-list component against the real shell and common controls.
#include <gtest/gtest.h>

#include <memory>

#include "Support.h"
#include "unitOrvCSysImageList.h"

#include <objbase.h>
#include <shellapi.h>

namespace velmora::testing {
namespace {

HIMAGELIST ShellList(bool large) {
    SHFILEINFOW info = {};
    return reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"", 0, &info, sizeof info, (large ? SHGFI_LARGEICON : SHGFI_SMALLICON) | SHGFI_SYSICONINDEX));
}

// Pixels an image drew on a 48x48 canvas filled with a colour no icon uses.
int DrawnPixels(const TImageListComponent& list, int index, bool& drew) {
    const HDC dc = CreateCompatibleDC(nullptr);
    const HBITMAP bitmap = CreateBitmap(48, 48, 1, 32, nullptr);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    const COLORREF fill = RGB(0x12, 0x34, 0x56);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) SetPixel(dc, x, y, fill);
    drew = list.Draw(dc, 4, 4, index, true);
    int changed = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) changed += GetPixel(dc, x, y) != fill;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return changed;
}

std::u16string Missing(const std::wstring& name) { return U16(TempFile(L"no-such") + L"\\" + name); }

TEST(SysImageList, AttachesTheShellsListOfItsSizeAndReattachesOnlyOnAChange) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    TOrvCSysImageList list;
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    EXPECT_EQ(list.Handle(), ShellList(false));
    EXPECT_EQ(list.Width(), GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(list.Height(), GetSystemMetrics(SM_CYSMICON));
    EXPECT_EQ(list.BkColor(), clNone);
    list.SetIconSize(isOrvCSmallIcons);
    list.SetIconSet(isOrvCSystem);
    EXPECT_EQ(changes, 0);
    list.SetIconSize(isOrvCLargeIcons);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(list.Handle(), ShellList(true));
    EXPECT_EQ(list.Width(), GetSystemMetrics(SM_CXICON));

    // The toolbar set lives in a hidden toolbar until switched back.
    list.SetIconSet(isOrvCToolbar);
    const HWND toolbar = list.ToolbarWindow();
    ASSERT_TRUE(IsWindow(toolbar));
    EXPECT_EQ(changes, 2);
    EXPECT_GT(list.Count(), 15);  // standard, view and history bitmaps
    EXPECT_EQ(list.Width(), 24);
    bool drew = false;
    EXPECT_GT(DrawnPixels(list, 0, drew), 0);
    list.SetIconSize(isOrvCSmallIcons);
    EXPECT_FALSE(IsWindow(toolbar));
    EXPECT_EQ(list.Width(), 16);
    const HWND smallToolbar = list.ToolbarWindow();
    list.SetIconSet(isOrvCSystem);
    EXPECT_FALSE(IsWindow(smallToolbar));
    EXPECT_EQ(list.Handle(), ShellList(false));
    EXPECT_EQ(changes, 4);
}

TEST(SysImageList, DestroyingAComponentLeavesTheShellsListToOthers) {
    auto first = std::make_unique<TOrvCSysImageList>();
    TOrvCSysImageList second;
    ASSERT_EQ(first->Handle(), second.Handle());
    const int index = second.GetIconIndex(Missing(L"file.txt"), false);
    first.reset();
    ASSERT_EQ(ShellList(false), second.Handle());
    ASSERT_GT(second.Count(), index);
    bool drew = false;
    EXPECT_GT(DrawnPixels(second, index, drew), 0);
    EXPECT_TRUE(drew);
    // Indexes that name no image draw nothing.
    for (const int none : {second.Count(), -1}) {
        EXPECT_EQ(DrawnPixels(second, none, drew), 0);
        EXPECT_FALSE(drew);
    }
}

TEST(SysImageList, FilesAreAnsweredByTheirTypeWithoutBeingReadDirectoriesAsFolders) {
    TOrvCSysImageList list;
    const int program = list.GetIconIndex(Missing(L"setup.exe"), false);
    EXPECT_EQ(list.GetIconIndex(Missing(L"OTHER.EXE"), true), program);
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(list.GetIconIndex(U16(system) + u"\\notepad.exe", false), program);  // its own icon is not read
    // A file type of its own whose icon is one of the shell's.
    const std::wstring icon = std::wstring(system) + L"\\shell32.dll,3";
    RegSetKeyValueW(HKEY_CLASSES_ROOT, L".velmoratest", nullptr, REG_SZ, L"VelmoraTest", 24);
    RegSetKeyValueW(HKEY_CLASSES_ROOT, L"VelmoraTest\\DefaultIcon", nullptr, REG_SZ, icon.c_str(), DWORD(icon.size() * 2 + 2));
    const int text = list.GetIconIndex(Missing(L"file.velmoratest"), false);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"VelmoraTest");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".velmoratest");
    EXPECT_NE(text, program);
    const int closed = list.GetIconIndex(U16(system), false);
    EXPECT_NE(closed, text);
    EXPECT_NE(closed, program);
    EXPECT_NE(list.GetIconIndex(U16(system), true), closed);
    EXPECT_NE(list.GetIconIndex(Missing(L"folder"), false), closed);  // a missing directory is only a name
}

}  // namespace
}  // namespace velmora::testing
