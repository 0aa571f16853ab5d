// A container of same-sized images backed by a native image list: the handle,
// whether the list is someone else's (shared), drawing style, colours and a
// notification when the images change.
#pragma once

#include <functional>

#include "platform/WindowsHeaders.h"

namespace velmora {

// Colours as the component stores them: an RGB value, or one of these markers.
constexpr COLORREF clNone = 0x1FFFFFFF;     // no colour: draw transparently
constexpr COLORREF clDefault = 0x20000000;  // the list's own default colour

enum TDrawingStyle { dsFocus, dsSelected, dsNormal, dsTransparent };

class TImageListComponent {
public:
    TImageListComponent() = default;
    virtual ~TImageListComponent();
    TImageListComponent(const TImageListComponent&) = delete;
    TImageListComponent& operator=(const TImageListComponent&) = delete;

    HIMAGELIST Handle() const { return handle_.get(); }
    // Attaches another list. The previous one is destroyed unless the component
    // shares its images; OnChange follows when the handle actually changes.
    void SetHandle(HIMAGELIST handle);
    // Creates an empty list of its own (not shared) and attaches it.
    bool Create(int width, int height, UINT flags = ILC_COLORDDB | ILC_MASK, int initial = 0, int grow = 4);

    bool ShareImages() const { return shareImages_; }
    void SetShareImages(bool share) { shareImages_ = share; }

    // Read from the attached list when there is one.
    COLORREF BkColor() const;
    void SetBkColor(COLORREF color);
    COLORREF BlendColor() const { return blendColor_; }
    void SetBlendColor(COLORREF color) { blendColor_ = color; }
    TDrawingStyle DrawingStyle() const { return drawingStyle_; }
    void SetDrawingStyle(TDrawingStyle style) { drawingStyle_ = style; }

    int Count() const;
    int Width() const;
    int Height() const;

    // Draws one image with its top-left corner at (x, y); a disabled image is
    // blended half-way into the button face. Answers false, drawing nothing,
    // when there is no such image.
    bool Draw(HDC dc, int x, int y, int index, bool enabled = true) const;

    std::function<void()> OnChange;

protected:
    // Forgets the handle without destroying it or notifying: for a list whose
    // owner is about to destroy it.
    void ReleaseHandle() { handle_.release(); }

private:
    // Held as owned; a shared list is released, never destroyed.
    unique_himagelist handle_;
    bool shareImages_ = false;
    COLORREF bkColor_ = clNone;
    COLORREF blendColor_ = clNone;
    TDrawingStyle drawingStyle_ = dsTransparent;
};

}  // namespace velmora
