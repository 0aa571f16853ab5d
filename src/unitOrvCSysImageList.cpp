#include "unitOrvCSysImageList.h"

#include <shellapi.h>

namespace velmora {
namespace {

HIMAGELIST AttachSystemList(TOrvCIconSize size) {
    SHFILEINFOW info = {};
    const UINT sizeFlag = size == isOrvCLargeIcons ? SHGFI_LARGEICON : SHGFI_SMALLICON;
    // With SHGFI_SYSICONINDEX the result is the system image list itself.
    return reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"", 0, &info, sizeof(SHFILEINFOW), sizeFlag | SHGFI_SYSICONINDEX | SHGFI_ICONLOCATION));
}

}  // namespace

TOrvCSysImageList::TOrvCSysImageList(HINSTANCE instance)
    : instance_(instance), iconSet_(isOrvCSystem), iconSize_(isOrvCSmallIcons) {
    TImageListComponent::SetShareImages(true);
    SetDrawingStyle(dsTransparent);
    SetBkColor(clNone);
    UpdateImageList();
}

void TOrvCSysImageList::SetIconSet(TOrvCIconSet iconSet) {
    if (iconSet == iconSet_) return;
    iconSet_ = iconSet;
    UpdateImageList();
}

void TOrvCSysImageList::SetIconSize(TOrvCIconSize iconSize) {
    if (iconSize == iconSize_) return;
    iconSize_ = iconSize;
    UpdateImageList();
}

void TOrvCSysImageList::Loaded() {
    loading_ = false;
    UpdateImageList();
}

void TOrvCSysImageList::DestroyToolbar() {
    if (!toolbar_) return;
    // The toolbar destroys its image list with it.
    ReleaseHandle();
    toolbar_.reset();
}

void TOrvCSysImageList::UpdateImageList() {
    if (loading_) return;
    DestroyToolbar();

    if (iconSet_ == isOrvCSystem) {
        SetHandle(AttachSystemList(iconSize_));
    } else {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES};
        InitCommonControlsEx(&classes);
        // Message-only: the toolbar is never shown and so needs no desktop.
        toolbar_.reset(
            CreateWindowExW(0, TOOLBARCLASSNAMEW, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance_, nullptr));
        // The component reports no errors: without its toolbar it has no
        // images, as without a list from the shell.
        HIMAGELIST list = nullptr;
        if (toolbar_) {
            const bool large = iconSize_ == isOrvCLargeIcons;
            const UINT_PTR bitmaps[] = {
                large ? UINT_PTR{IDB_STD_LARGE_COLOR} : UINT_PTR{IDB_STD_SMALL_COLOR},
                large ? UINT_PTR{IDB_VIEW_LARGE_COLOR} : UINT_PTR{IDB_VIEW_SMALL_COLOR},
                large ? UINT_PTR{IDB_HIST_LARGE_COLOR} : UINT_PTR{IDB_HIST_SMALL_COLOR},
            };
            for (const UINT_PTR id : bitmaps) {
                TBADDBITMAP stock = {HINST_COMMCTRL, id};
                SendMessageW(toolbar_.get(), TB_ADDBITMAP, 1000, reinterpret_cast<LPARAM>(&stock));
            }
            list = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar_.get(), TB_GETIMAGELIST, 0, 0));
        }
        SetHandle(list);
    }
    SetBkColor(clNone);
}

int TOrvCSysImageList::GetIconIndex(const std::u16string& path, bool open) const {
    return GetFileIconIndex(path, open, iconSize_ == isOrvCLargeIcons);
}

int GetFileIconIndex(const std::u16string& path, bool open, bool large) {
    UINT flags = SHGFI_SYSICONINDEX;
    if (open) flags |= SHGFI_OPENICON;
    if (!large) flags |= SHGFI_SMALLICON;
    const DWORD attributes = GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        flags |= SHGFI_USEFILEATTRIBUTES;
    SHFILEINFOW info = {};
    if (!SHGetFileInfoW(Wide(path), FILE_ATTRIBUTE_NORMAL, &info, sizeof info, flags)) return 0;
    return info.iIcon;
}

}  // namespace velmora
