#include "platform/Controls.h"

#include <algorithm>

namespace velmora {

namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
wchar_t* WideMutable(std::u16string& text) { return reinterpret_cast<wchar_t*>(&text[0]); }

int CALLBACK CompareNames(LPARAM first, LPARAM second, LPARAM) noexcept {
    return lstrcmpW(Wide(reinterpret_cast<const TListItem*>(first)->Caption),
                    Wide(reinterpret_cast<const TListItem*>(second)->Caption));
}

}  // namespace

void TControl::Create(HWND parent, const wchar_t* className, const std::u16string& text, DWORD style,
                      DWORD exStyle, const TBounds& bounds, int id) {
    bounds_ = bounds;
    hwnd_ = CreateWindowExW(exStyle, className, Wide(text), WS_CHILD | WS_VISIBLE | style, bounds.Left, bounds.Top,
                            std::max(bounds.Width, 0), std::max(bounds.Height, 0), parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
}

void TControl::SetBounds(const TBounds& bounds) {
    bounds_ = bounds;
    SetWindowPos(hwnd_, nullptr, bounds.Left, bounds.Top, std::max(bounds.Width, 0), std::max(bounds.Height, 0),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

TBounds TLabel::Measured(HWND parent, const std::u16string& caption, const TBounds& bounds, HFONT font) const {
    TBounds sized = bounds;
    if (const HDC dc = GetDC(parent)) {
        const HGDIOBJ old = SelectObject(dc, font);
        SIZE extent = {};
        if (GetTextExtentPoint32W(dc, Wide(caption), static_cast<int>(caption.size()), &extent)) {
            sized.Width = extent.cx;
            sized.Height = extent.cy;
        }
        SelectObject(dc, old);
        ReleaseDC(parent, dc);
    }
    return sized;
}

void TLabel::Create(HWND parent, const std::u16string& caption, const TBounds& bounds, HFONT font) {
    TControl::Create(parent, L"STATIC", caption, SS_LEFT | SS_NOPREFIX, 0, Measured(parent, caption, bounds, font),
                     -1);
}

void TLabel::Fit(int left, int top, HFONT font) {
    const int length = GetWindowTextLengthW(hwnd_);
    std::u16string caption(static_cast<std::size_t>(length) + 1, u'\0');
    caption.resize(static_cast<std::size_t>(GetWindowTextW(hwnd_, WideMutable(caption), length + 1)));
    SetBounds(Measured(GetParent(hwnd_), caption, TBounds{left, top, bounds_.Width, bounds_.Height}, font));
}

void TButton::Create(HWND parent, const std::u16string& caption, const TBounds& bounds, int id) {
    TControl::Create(parent, L"BUTTON", caption, WS_TABSTOP | BS_PUSHBUTTON, 0, bounds, id);
}

void TListView::Create(HWND parent, const TBounds& bounds, int id, const std::vector<TColumn>& columns) {
    // The window owns the image lists; the control must not destroy them.
    TControl::Create(parent, WC_LISTVIEWW, u"",
                     WS_TABSTOP | LVS_REPORT | LVS_SHAREIMAGELISTS | LVS_NOSORTHEADER, WS_EX_CLIENTEDGE, bounds, id);
    const DWORD extended = LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
    SendMessageW(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    int index = 0;
    for (const TColumn& column : columns) {
        std::u16string caption = column.Caption;
        LVCOLUMNW lvc = {};
        lvc.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        lvc.pszText = WideMutable(caption);
        lvc.cx = column.Width;
        lvc.iSubItem = index;
        SendMessageW(hwnd_, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&lvc));
        ++index;
    }
}

void TListView::SetSmallImages(HIMAGELIST images) {
    SendMessageW(hwnd_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
}

void TListView::SetColumnWidth(int column, int width) {
    SendMessageW(hwnd_, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(width, 0));
}

int TListView::Count() const { return static_cast<int>(SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0)); }

int TListView::AddRow(const TListItem& item) {
    items_.push_back(std::make_unique<TListItem>(item));
    TListItem& row = *items_.back();
    LVITEMW lvi = {};
    lvi.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    lvi.iItem = Count();
    lvi.pszText = WideMutable(row.Caption);
    lvi.lParam = reinterpret_cast<LPARAM>(&row);
    lvi.iImage = row.ImageIndex;
    const int index = static_cast<int>(SendMessageW(hwnd_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&lvi)));
    if (index < 0) {
        items_.pop_back();
        return index;
    }
    for (int sub = 0; sub < 2; ++sub) {
        LVITEMW text = {};
        text.iSubItem = sub + 1;
        text.pszText = WideMutable(row.SubItems[sub]);
        SendMessageW(hwnd_, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&text));
    }
    return index;
}

void TListView::Clear() {
    SendMessageW(hwnd_, LVM_DELETEALLITEMS, 0, 0);
    items_.clear();
}

bool TListView::Checked(int index) const {
    const auto state = SendMessageW(hwnd_, LVM_GETITEMSTATE, index, LVIS_STATEIMAGEMASK);
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void* TListView::Data(int index) const {
    LVITEMW lvi = {};
    lvi.mask = LVIF_PARAM;
    lvi.iItem = index;
    if (!SendMessageW(hwnd_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lvi)) || lvi.lParam == 0) return nullptr;
    return reinterpret_cast<const TListItem*>(lvi.lParam)->Data;
}

void TListView::BeginUpdate() {
    if (updateCount_++ == 0) {
        SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
        if (const HWND header = reinterpret_cast<HWND>(SendMessageW(hwnd_, LVM_GETHEADER, 0, 0))) {
            SendMessageW(header, WM_SETREDRAW, FALSE, 0);
        }
    }
}

void TListView::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0) {
        if (const HWND header = reinterpret_cast<HWND>(SendMessageW(hwnd_, LVM_GETHEADER, 0, 0))) {
            SendMessageW(header, WM_SETREDRAW, TRUE, 0);
        }
        SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(hwnd_, nullptr, TRUE);
    }
}

void TListView::SortByName() { SendMessageW(hwnd_, LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(&CompareNames)); }

}  // namespace velmora
