// The image-list component against the real shell and common controls.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/WindowsHeaders.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "unitOrvCSysImageList.h"

namespace velmora::testing {
namespace {

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::wstring SystemDirectory() {
    wchar_t directory[MAX_PATH] = {};
    GetSystemDirectoryW(directory, MAX_PATH);
    return directory;
}

HIMAGELIST ShellList(bool large) {
    SHFILEINFOW info = {};
    return reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(
        L"", 0, &info, sizeof info, (large ? SHGFI_LARGEICON : SHGFI_SMALLICON) | SHGFI_SYSICONINDEX));
}

// A 48x48 memory canvas filled with a colour no icon uses.
class Canvas {
public:
    static constexpr int kSize = 48;
    static constexpr COLORREF kFill = RGB(0x12, 0x34, 0x56);

    Canvas() : dc_(CreateCompatibleDC(nullptr)), bitmap_(CreateBitmap(kSize, kSize, 1, 32, nullptr)) {
        old_ = SelectObject(dc_, bitmap_);
        Clear();
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return dc_; }
    void Clear() {
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) SetPixel(dc_, x, y, kFill);
    }
    int ChangedPixels() const {
        int changed = 0;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) changed += GetPixel(dc_, x, y) != kFill;
        return changed;
    }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_ = nullptr;
};

class SysImageList : public ::testing::Test {
protected:
    static constexpr const wchar_t* kExtension = L".velmoratesticon";
    static constexpr const wchar_t* kClass = L"Velmora.TestIconFile";

    void SetUp() override {
        comReady_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES};
        InitCommonControlsEx(&classes);
        // A file type of our own whose icon is one of the shell's, so that its
        // index differs from a program's wherever the shell tells types apart.
        const std::wstring icon = SystemDirectory() + L"\\shell32.dll,3";
        const std::wstring classKey = std::wstring(kClass) + L"\\DefaultIcon";
        ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, kExtension, nullptr, REG_SZ, kClass,
                                  DWORD((wcslen(kClass) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, classKey.c_str(), nullptr, REG_SZ, icon.c_str(),
                                  DWORD((icon.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);

        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        directory_ = std::wstring(temp) + L"velmora-icons-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(directory_.c_str(), nullptr);
    }

    void TearDown() override {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kClass);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kExtension);
        RemoveDirectoryW(directory_.c_str());
        if (comReady_) CoUninitialize();
    }

    std::u16string Missing(const std::wstring& name) const {
        return U16(directory_ + L"\\no-such-" + name);
    }

    std::wstring directory_;
    bool comReady_ = false;
};

TEST_F(SysImageList, AttachesTheShellsListOfItsSizeAndReattachesOnlyOnAChange) {
    TOrvCSysImageList list;
    int changes = 0;
    list.OnChange = [&] { ++changes; };

    EXPECT_EQ(list.Handle(), ShellList(false));
    EXPECT_TRUE(list.ShareImages());
    EXPECT_EQ(list.Width(), GetSystemMetrics(SM_CXSMICON));
    EXPECT_GT(list.Count(), 0);

    list.SetIconSize(isOrvCSmallIcons);
    EXPECT_EQ(changes, 0);

    list.SetIconSize(isOrvCLargeIcons);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(list.Handle(), ShellList(true));
    EXPECT_EQ(list.Width(), GetSystemMetrics(SM_CXICON));
    EXPECT_NE(list.Width(), GetSystemMetrics(SM_CXSMICON));

    list.SetIconSize(isOrvCLargeIcons);
    list.SetIconSet(isOrvCSystem);
    EXPECT_EQ(changes, 1);

    list.SetIconSize(isOrvCSmallIcons);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(list.Width(), GetSystemMetrics(SM_CXSMICON));
}

TEST_F(SysImageList, DestroyingAComponentLeavesTheShellsListToOthers) {
    auto first = std::make_unique<TOrvCSysImageList>();
    TOrvCSysImageList second;
    ASSERT_EQ(first->Handle(), second.Handle());
    const int index = second.GetIconIndex(Missing(L"file.txt"), false);
    first.reset();

    ASSERT_EQ(ShellList(false), second.Handle());
    EXPECT_GT(ImageList_GetImageCount(second.Handle()), 0);
    EXPECT_GE(index, 0);
    EXPECT_LT(index, second.Count());

    Canvas canvas;
    EXPECT_TRUE(second.Draw(canvas.Dc(), 4, 4, index, true));
    EXPECT_GT(canvas.ChangedPixels(), 0);

    // Indexes that name no image draw nothing.
    canvas.Clear();
    EXPECT_FALSE(second.Draw(canvas.Dc(), 4, 4, second.Count(), true));
    EXPECT_FALSE(second.Draw(canvas.Dc(), 4, 4, -1, true));
    EXPECT_EQ(canvas.ChangedPixels(), 0);
}

TEST_F(SysImageList, FilesAreAnsweredByTheirTypeWithoutBeingRead) {
    TOrvCSysImageList list;
    const int program = list.GetIconIndex(Missing(L"setup.exe"), false);
    EXPECT_EQ(list.GetIconIndex(Missing(L"other.exe"), false), program);
    EXPECT_EQ(list.GetIconIndex(Missing(L"OTHER.EXE"), true), program);
    EXPECT_NE(list.GetIconIndex(Missing(std::wstring(L"file") + kExtension), false), program);

    // An existing program with an icon of its own still gets the type's icon.
    const std::u16string notepad = U16(SystemDirectory() + L"\\notepad.exe");
    ASSERT_NE(GetFileAttributesW(reinterpret_cast<const wchar_t*>(notepad.c_str())),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(list.GetIconIndex(notepad, false), program);

    // The large list has its own indexes; both name an image of their list.
    const int large = GetFileIconIndex(Missing(std::wstring(L"file") + kExtension), false, true);
    EXPECT_GE(large, 0);
    EXPECT_LT(large, ImageList_GetImageCount(ShellList(true)));
}

TEST_F(SysImageList, ExistingDirectoriesGetTheirFolderIcons) {
    TOrvCSysImageList list;
    const std::u16string directory = U16(directory_);
    const int closed = list.GetIconIndex(directory, false);
    const int open = list.GetIconIndex(directory, true);

    EXPECT_NE(closed, list.GetIconIndex(Missing(L"file.txt"), false));
    EXPECT_NE(closed, list.GetIconIndex(Missing(L"setup.exe"), false));
    EXPECT_NE(open, closed);
    // A missing directory is only a name: it gets a file's icon.
    EXPECT_NE(list.GetIconIndex(Missing(L"folder"), false), closed);
    EXPECT_LT(closed, list.Count());
    EXPECT_LT(open, list.Count());
}

TEST_F(SysImageList, TheToolbarSetLivesInAHiddenToolbarUntilSwitchedBack) {
    TOrvCSysImageList list;
    int changes = 0;
    list.OnChange = [&] { ++changes; };

    list.SetIconSet(isOrvCToolbar);
    const HWND smallToolbar = list.ToolbarWindow();
    ASSERT_TRUE(IsWindow(smallToolbar));
    EXPECT_FALSE(IsWindowVisible(smallToolbar));
    EXPECT_EQ(changes, 1);
    EXPECT_NE(list.Handle(), ShellList(false));
    // Standard, view and history bitmaps together.
    EXPECT_GT(list.Count(), 15);
    EXPECT_EQ(list.Width(), 16);
    Canvas canvas;
    EXPECT_TRUE(list.Draw(canvas.Dc(), 0, 0, 0, true));
    EXPECT_GT(canvas.ChangedPixels(), 0);

    // The same size again keeps the toolbar it has.
    list.SetIconSize(isOrvCSmallIcons);
    list.SetIconSet(isOrvCToolbar);
    EXPECT_EQ(list.ToolbarWindow(), smallToolbar);
    EXPECT_EQ(changes, 1);

    list.SetIconSize(isOrvCLargeIcons);
    EXPECT_FALSE(IsWindow(smallToolbar));
    EXPECT_TRUE(IsWindow(list.ToolbarWindow()));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(list.Width(), 24);

    const HWND largeToolbar = list.ToolbarWindow();
    list.SetIconSet(isOrvCSystem);
    EXPECT_FALSE(IsWindow(largeToolbar));
    EXPECT_EQ(list.ToolbarWindow(), nullptr);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(list.Handle(), ShellList(true));

    // Destroying the component takes its hidden toolbar with it.
    HWND toolbar = nullptr;
    {
        TOrvCSysImageList other;
        other.SetIconSet(isOrvCToolbar);
        toolbar = other.ToolbarWindow();
        ASSERT_TRUE(IsWindow(toolbar));
    }
    EXPECT_FALSE(IsWindow(toolbar));
}

}  // namespace
}  // namespace velmora::testing
