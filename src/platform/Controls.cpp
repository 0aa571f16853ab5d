#include "platform/Controls.h"

#include <algorithm>
#include <climits>

#include "platform/Application.h"

namespace velmora {

namespace {

int CALLBACK CompareNames(LPARAM first, LPARAM second, LPARAM) noexcept {
    return lstrcmpW(Wide(reinterpret_cast<const TListItem*>(first)->Caption),
                    Wide(reinterpret_cast<const TListItem*>(second)->Caption));
}

}  // namespace

void TControl::Create(HWND parent, const wchar_t* className, const std::u16string& text, DWORD style, DWORD exStyle,
                      const TBounds& bounds, int id) {
    bounds_ = bounds;
    hwnd_ = CreateWindowExW(exStyle, className, Wide(text), WS_CHILD | WS_VISIBLE | style, bounds.Left, bounds.Top,
                            std::max(bounds.Width, 0), std::max(bounds.Height, 0), parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
    if (!hwnd_) {
        throw WindowsError(u"Cannot create the " + FromWide(className, wcslen(className)) + u" control",
                           GetLastError());
    }
}

void TControl::SetBounds(const TBounds& bounds) {
    bounds_ = bounds;
    SetWindowPos(hwnd_, nullptr, bounds.Left, bounds.Top, std::max(bounds.Width, 0), std::max(bounds.Height, 0),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

TBounds TLabel::Measured(const std::u16string& caption, const TBounds& bounds, HFONT font) {
    TBounds sized = bounds;
    if (const unique_screen_dc dc{GetDC(nullptr)}) {
        const HGDIOBJ old = SelectObject(dc.get(), font);
        SIZE extent = {};
        if (GetTextExtentPoint32W(dc.get(), Wide(caption), static_cast<int>(caption.size()), &extent)) {
            sized.Width = extent.cx;
            sized.Height = extent.cy;
        }
        SelectObject(dc.get(), old);
    }
    return sized;
}

void TLabel::Create(HWND parent, const std::u16string& caption, const TBounds& bounds, HFONT font) {
    TControl::Create(parent, L"STATIC", caption, SS_LEFT | SS_NOPREFIX, 0, Measured(caption, bounds, font), -1);
}

void TLabel::Fit(int left, int top, HFONT font) {
    const int length = GetWindowTextLengthW(hwnd_);
    std::u16string caption(static_cast<std::size_t>(length) + 1, u'\0');
    caption.resize(static_cast<std::size_t>(GetWindowTextW(hwnd_, Wide(caption.data()), length + 1)));
    SetBounds(Measured(caption, TBounds{left, top, bounds_.Width, bounds_.Height}, font));
}

void TButton::Create(HWND parent, const std::u16string& caption, const TBounds& bounds, int id) {
    TControl::Create(parent, L"BUTTON", caption, WS_TABSTOP | BS_PUSHBUTTON, 0, bounds, id);
}

void TListView::Create(HWND parent, const TBounds& bounds, int id, const std::vector<TColumn>& columns) {
    // The window owns the image lists; the control must not destroy them.
    TControl::Create(parent, WC_LISTVIEWW, u"", WS_TABSTOP | LVS_REPORT | LVS_SHAREIMAGELISTS | LVS_NOSORTHEADER,
                     WS_EX_CLIENTEDGE, bounds, id);
    const DWORD extended = LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
    ListView_SetExtendedListViewStyleEx(hwnd_, extended, extended);
    for (int index = 0; index < static_cast<int>(columns.size()); ++index) {
        LVCOLUMNW lvc = {};
        lvc.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        // The control copies the text and never writes to it.
        lvc.pszText = const_cast<wchar_t*>(Wide(columns[index].Caption));
        lvc.cx = columns[index].Width;
        lvc.iSubItem = index;
        ListView_InsertColumn(hwnd_, index, &lvc);
    }
}

void TListView::SetSmallImages(HIMAGELIST images) { ListView_SetImageList(hwnd_, images, LVSIL_SMALL); }

void TListView::SetColumnWidth(int column, int width) { ListView_SetColumnWidth(hwnd_, column, width); }

int TListView::ColumnWidth(int column) const { return ListView_GetColumnWidth(hwnd_, column); }

int TListView::Count() const { return ListView_GetItemCount(hwnd_); }

int TListView::AddRow(TListItem&& item) {
    items_.push_back(std::make_unique<TListItem>(std::move(item)));
    TListItem& row = *items_.back();
    LVITEMW lvi = {};
    lvi.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    // Past the last row: the list puts it at the end, without being asked its count.
    lvi.iItem = INT_MAX;
    lvi.pszText = Wide(row.Caption.data());
    lvi.lParam = reinterpret_cast<LPARAM>(&row);
    lvi.iImage = row.ImageIndex;
    const int index = ListView_InsertItem(hwnd_, &lvi);
    if (index < 0) {
        items_.pop_back();
        return index;
    }
    for (int sub = 0; sub < 2; ++sub) ListView_SetItemText(hwnd_, index, sub + 1, Wide(row.SubItems[sub].data()));
    return index;
}

void TListView::Clear() {
    ListView_DeleteAllItems(hwnd_);
    items_.clear();
}

bool TListView::Checked(int index) const { return ListView_GetCheckState(hwnd_, index) == 1; }

void* TListView::Data(int index) const {
    LVITEMW lvi = {};
    lvi.mask = LVIF_PARAM;
    lvi.iItem = index;
    if (!ListView_GetItem(hwnd_, &lvi) || lvi.lParam == 0) return nullptr;
    return reinterpret_cast<const TListItem*>(lvi.lParam)->Data;
}

// The list and its header both stop drawing, and both draw again.
void TListView::BeginUpdate() {
    if (updateCount_++ == 0) {
        SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
        if (const HWND header = ListView_GetHeader(hwnd_)) SendMessageW(header, WM_SETREDRAW, FALSE, 0);
    }
}

void TListView::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0) {
        if (const HWND header = ListView_GetHeader(hwnd_)) SendMessageW(header, WM_SETREDRAW, TRUE, 0);
        SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(hwnd_, nullptr, TRUE);
    }
}

void TListView::SortByName() { ListView_SortItems(hwnd_, CompareNames, 0); }

}  // namespace velmora
