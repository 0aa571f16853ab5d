// A small window for the GUI driver's own tests. It has a check-box list view
// (three columns, three rows with images, one row in Chinese), an "Ask" button
// that asks "Sure?" and ends the program with exit code 3 on Yes (enabled only
// while some row is ticked), and a "Stall" button that keeps the window's thread
// busy for two seconds. WM_CLOSE ends it with exit code 0.
#include "platform/WindowsHeaders.h"

#include <commctrl.h>

namespace {

enum : int { kListId = 100, kAskId = 101, kStallId = 102 };
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 28;
constexpr int kMargin = 8;

HWND g_list = nullptr;
HWND g_ask = nullptr;
HWND g_stall = nullptr;
int g_exitCode = 0;

bool AnyTicked() {
    const int count = ListView_GetItemCount(g_list);
    for (int i = 0; i < count; ++i) {
        if (ListView_GetItemState(g_list, i, LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2)) return true;
    }
    return false;
}

void AddRow(int row, const wchar_t* name, const wchar_t* publisher, const wchar_t* comment, int image) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(name);
    item.iImage = image;
    ListView_InsertItem(g_list, &item);
    ListView_SetItemText(g_list, row, 1, const_cast<wchar_t*>(publisher));
    ListView_SetItemText(g_list, row, 2, const_cast<wchar_t*>(comment));
}

void Create(HWND window) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    g_ask = CreateWindowExW(0, L"BUTTON", L"Ask", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                            window, reinterpret_cast<HMENU>(kAskId), instance, nullptr);
    g_stall = CreateWindowExW(0, L"BUTTON", L"Stall", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0,
                              0, window, reinterpret_cast<HMENU>(kStallId), instance, nullptr);
    g_list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 0, 0, window,
                             reinterpret_cast<HMENU>(kListId), instance, nullptr);
    ListView_SetExtendedListViewStyle(g_list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);

    HIMAGELIST images = ImageList_Create(24, 24, ILC_COLOR32 | ILC_MASK, 3, 0);
    const wchar_t* icons[] = {IDI_APPLICATION, IDI_WARNING, IDI_INFORMATION};
    for (const wchar_t* icon : icons) ImageList_AddIcon(images, LoadIconW(nullptr, icon));
    ListView_SetImageList(g_list, images, LVSIL_SMALL);

    const wchar_t* headers[] = {L"Name", L"Publisher", L"Comment"};
    const int widths[] = {200, 150, 120};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(headers[i]);
        column.cx = widths[i];
        column.iSubItem = i;
        ListView_InsertColumn(g_list, i, &column);
    }
    AddRow(0, L"Alpha Editor", L"Alpha Ltd", L"", 2);
    AddRow(1, L"中文程序", L"北京软件公司", L"注释", 0);
    AddRow(2, L"Gamma Tool", L"", L"portable", 1);
    ListView_SetItemState(g_list, 0, INDEXTOSTATEIMAGEMASK(2), LVIS_STATEIMAGEMASK);
    EnableWindow(g_ask, AnyTicked());
}

// The list fills the window above a row of buttons at the bottom right.
void Layout(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const int buttonTop = client.bottom - kMargin - kButtonHeight;
    MoveWindow(g_list, kMargin, kMargin, client.right - 2 * kMargin, buttonTop - 2 * kMargin, TRUE);
    MoveWindow(g_stall, client.right - kMargin - kButtonWidth, buttonTop, kButtonWidth, kButtonHeight, TRUE);
    MoveWindow(g_ask, client.right - 2 * (kMargin + kButtonWidth), buttonTop, kButtonWidth, kButtonHeight, TRUE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        Create(window);
        return 0;
    case WM_SIZE:
        Layout(window);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kAskId &&
            MessageBoxW(window, L"Sure?", L"Driver Target", MB_YESNO | MB_ICONQUESTION) == IDYES) {
            g_exitCode = 3;
            DestroyWindow(window);
        } else if (LOWORD(wParam) == kStallId) {
            Sleep(2000);
        }
        return 0;
    case WM_NOTIFY: {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if (change->hdr.idFrom == kListId && change->hdr.code == LVN_ITEMCHANGED && (change->uChanged & LVIF_STATE)) {
            EnableWindow(g_ask, AnyTicked());
        }
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(g_exitCode);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"DriverTargetWindow";
    RegisterClassW(&windowClass);

    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Driver Target", WS_OVERLAPPEDWINDOW, 40, 40, 600,
                                  400, nullptr, nullptr, instance, nullptr);
    if (!window) return 10;
    ShowWindow(window, show);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
