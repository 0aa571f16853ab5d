#include "platform/ImageListComponent.h"

namespace velmora {
namespace {

COLORREF ToNative(COLORREF color) {
    if (color == clNone) return CLR_NONE;
    if (color == clDefault) return CLR_DEFAULT;
    return color;
}

COLORREF FromNative(COLORREF color) {
    if (color == CLR_NONE) return clNone;
    if (color == CLR_DEFAULT) return clDefault;
    return color;
}

UINT StyleFlags(TDrawingStyle style) {
    switch (style) {
        case dsFocus:
            return ILD_FOCUS;
        case dsSelected:
            return ILD_SELECTED;
        case dsNormal:
            return ILD_NORMAL;
        case dsTransparent:
            break;
    }
    return ILD_TRANSPARENT;
}

}  // namespace

TImageListComponent::~TImageListComponent() {
    if (shareImages_) handle_.release();
}

void TImageListComponent::SetHandle(HIMAGELIST handle) {
    // Replacing a list with itself must not destroy it.
    if (handle == handle_.get()) return;
    if (shareImages_) handle_.release();
    handle_.reset(handle);
    if (OnChange) OnChange();
}

bool TImageListComponent::Create(int width, int height, UINT flags, int initial, int grow) {
    HIMAGELIST list = ImageList_Create(width, height, flags, initial, grow);
    if (!list) return false;
    // The old list goes by the old sharing; the new one is this component's.
    SetHandle(list);
    shareImages_ = false;
    if (bkColor_ != clNone) ImageList_SetBkColor(list, ToNative(bkColor_));
    return true;
}

COLORREF TImageListComponent::BkColor() const {
    return handle_ ? FromNative(ImageList_GetBkColor(handle_.get())) : bkColor_;
}

void TImageListComponent::SetBkColor(COLORREF color) {
    bkColor_ = color;
    if (handle_) ImageList_SetBkColor(handle_.get(), ToNative(color));
}

int TImageListComponent::Count() const { return handle_ ? ImageList_GetImageCount(handle_.get()) : 0; }

int TImageListComponent::Width() const {
    int width = 0, height = 0;
    if (!handle_ || !ImageList_GetIconSize(handle_.get(), &width, &height)) return 0;
    return width;
}

int TImageListComponent::Height() const {
    int width = 0, height = 0;
    if (!handle_ || !ImageList_GetIconSize(handle_.get(), &width, &height)) return 0;
    return height;
}

bool TImageListComponent::Draw(HDC dc, int x, int y, int index, bool enabled) const {
    if (!handle_ || !dc || index < 0 || index >= Count()) return false;
    UINT style = StyleFlags(drawingStyle_);
    COLORREF background = drawingStyle_ == dsTransparent ? CLR_NONE : ToNative(BkColor());
    COLORREF blend = ToNative(blendColor_);
    if (!enabled) {
        style |= ILD_BLEND50;
        blend = GetSysColor(COLOR_BTNFACE);
    }
    return ImageList_DrawEx(handle_.get(), index, dc, x, y, 0, 0, background, blend, style) != FALSE;
}

}  // namespace velmora
