// An image list that owns no images: it attaches to a list the shell already
// holds (the system list of file-type icons, or the common controls' stock
// toolbar bitmaps) and answers where a path's icon sits in the system list.
//
// The shell functions behind it expect COM to be initialised on the calling
// thread, and the component must be used from the thread that created it.
#pragma once

#include <string>

#include "platform/ImageListComponent.h"

namespace velmora {

enum TOrvCIconSet { isOrvCSystem = 0, isOrvCToolbar = 1 };
enum TOrvCIconSize { isOrvCSmallIcons = 0, isOrvCLargeIcons = 1 };

class TOrvCSysImageList : public TImageListComponent {
public:
    explicit TOrvCSysImageList(HINSTANCE instance = GetModuleHandleW(nullptr));

    TOrvCIconSet IconSet() const { return iconSet_; }
    void SetIconSet(TOrvCIconSet iconSet);
    TOrvCIconSize IconSize() const { return iconSize_; }
    void SetIconSize(TOrvCIconSize iconSize);

    // While loading, property changes are only stored; Loaded attaches once.
    void BeginLoading() { loading_ = true; }
    void Loaded();

    // Attaches the list that IconSet and IconSize name. A shell call that
    // yields no list leaves the component without images.
    void UpdateImageList();

    // The index of the path's icon in the system list of this component's size.
    int GetIconIndex(const std::u16string& path, bool open) const;

    // The attached lists belong to the shell or the toolbar, never to this component.
    void SetShareImages(bool) = delete;

private:
    void DestroyToolbar();

    HINSTANCE instance_;
    TOrvCIconSet iconSet_;
    TOrvCIconSize iconSize_;
    // Destroyed with the component, and the toolbar's list with it.
    unique_hwnd toolbar_;
    bool loading_ = false;
};

// The index of a path's icon in the shell's system image list (open: the open
// form, as for an expanded folder). Anything but an existing directory is
// answered from its file type alone, without touching the file. Answers 0 when
// the shell has no answer.
int GetFileIconIndex(const std::u16string& path, bool open, bool large);

}  // namespace velmora
