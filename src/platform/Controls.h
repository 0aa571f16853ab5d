// Thin wrappers over the child controls the main window uses: a label, push
// buttons and a report-view list with tick boxes. Each keeps its bounds as the
// window gave them (no lower bound) and hands Windows a size of at least zero.
#pragma once

#include "platform/WindowsHeaders.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/Bounds.h"

namespace velmora {

class TControl {
public:
    TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;
    virtual ~TControl() = default;

    HWND Handle() const { return hwnd_; }
    const TBounds& Bounds() const { return bounds_; }
    void SetBounds(const TBounds& bounds);
    void SetEnabled(bool enabled) { EnableWindow(hwnd_, enabled ? TRUE : FALSE); }

protected:
    void Create(HWND parent, const wchar_t* className, const std::u16string& text, DWORD style, DWORD exStyle,
                const TBounds& bounds, int id);

    HWND hwnd_ = nullptr;
    TBounds bounds_;
};

class TLabel : public TControl {
public:
    // A label whose size follows its text in the given font.
    void Create(HWND parent, const std::u16string& caption, const TBounds& bounds, HFONT font);
    // Moves the label and sizes it to its text in a new font.
    void Fit(int left, int top, HFONT font);

private:
    static TBounds Measured(const std::u16string& caption, const TBounds& bounds, HFONT font);
};

class TButton : public TControl {
public:
    void Create(HWND parent, const std::u16string& caption, const TBounds& bounds, int id);
};

// One row: its own copies of the three texts and a non-owning reference to the
// entry it shows.
struct TListItem {
    std::u16string Caption;
    std::u16string SubItems[2];
    void* Data = nullptr;
    int ImageIndex = -1;
};

class TListView : public TControl {
public:
    struct TColumn {
        const char16_t* Caption;
        int Width;
    };

    // Report view with tick boxes, grid lines and full-row selection; headers
    // that are not buttons; names that cannot be edited.
    void Create(HWND parent, const TBounds& bounds, int id, const std::vector<TColumn>& columns);
    // Setting the same list again makes the rows take a changed image size.
    void SetSmallImages(HIMAGELIST images);
    void SetColumnWidth(int column, int width);
    int ColumnWidth(int column) const;

    int Count() const;
    // Adds a row at the end with its texts, data and image, taking the item
    // over; answers its index.
    int AddRow(TListItem&& item);
    void Clear();
    bool Checked(int index) const;
    void* Data(int index) const;

    // Suspends drawing of the list and its header until the matching EndUpdate,
    // which repaints once.
    void BeginUpdate();
    void EndUpdate();
    // Sorts the rows once by their names (lstrcmpW).
    void SortByName();

private:
    std::vector<std::unique_ptr<TListItem>> items_;
    int updateCount_ = 0;
};

}  // namespace velmora
