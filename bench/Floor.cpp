// The floor of Velmora's start-up: what any program that shows the same list
// cannot avoid, and nothing more, with none of Velmora's code. It creates a
// window with the window's font and a report list view with tick boxes and three
// columns, attaches the shell's small system image list (one SHGetFileInfoW),
// runs a do-nothing 64-bit program hidden and waits for it, opens every entry key
// of the Uninstall key (the 32-bit view, as the 32-bit program reads it) once and
// reads its seven values once, adds one text row per entry, sorts once, shows
// the window and reaches its message loop. Closing the window ends it.
//
//   Floor PROGRAM   PROGRAM: the do-nothing 64-bit program's command line
#include "BenchWindow.h"

#include <shellapi.h>

namespace {

const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t* const kValues[] = {L"UninstallString", L"NoRemove",    L"SystemComponent", L"Comments",
                                  L"DisplayIcon",     L"DisplayName", L"Publisher"};

int CALLBACK CompareTexts(LPARAM a, LPARAM b, LPARAM) {
    return lstrcmpiW(reinterpret_cast<const wchar_t*>(a), reinterpret_cast<const wchar_t*>(b));
}

// Every entry key once, its values once, each into one buffer; a row per key
// with its key name as text (kept alive for the sort).
void AddRows(HWND list) {
    static BYTE data[16384];
    HKEY uninstall = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | KEY_WOW64_32KEY, &uninstall) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        auto* name = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, 256 * sizeof(wchar_t)));
        DWORD length = 256;
        const LONG rc = RegEnumKeyExW(uninstall, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        HKEY entry = nullptr;
        if (rc != ERROR_SUCCESS ||
            RegOpenKeyExW(uninstall, name, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &entry) != ERROR_SUCCESS)
            continue;
        for (const wchar_t* value : kValues) {
            DWORD type = 0;
            DWORD size = sizeof data;
            RegQueryValueExW(entry, value, nullptr, &type, data, &size);
        }
        RegCloseKey(entry);
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = index;
        item.pszText = name;
        item.lParam = reinterpret_cast<LPARAM>(name);
        ListView_InsertItem(list, &item);
    }
    RegCloseKey(uninstall);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    const HWND window = bench::CreateBenchWindow(instance, L"VelmoraBenchFloor");
    LOGFONTW logFont = {};
    logFont.lfHeight = -12;
    logFont.lfCharSet = GB2312_CHARSET;
    lstrcpyW(logFont.lfFaceName, L"宋体");
    const HFONT font = CreateFontIndirectW(&logFont);
    const HWND list = bench::CreateBenchList(window, LVS_SHAREIMAGELISTS);
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES);
    for (int column = 0; column < 3; ++column) {
        LVCOLUMNW lvc = {};
        lvc.mask = LVCF_TEXT | LVCF_WIDTH;
        lvc.pszText = const_cast<wchar_t*>(L"Column");
        lvc.cx = 200;
        ListView_InsertColumn(list, column, &lvc);
    }
    SHFILEINFOW info = {};
    const auto images =
        reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(L"", 0, &info, sizeof info, SHGFI_SMALLICON | SHGFI_SYSICONINDEX));
    ListView_SetImageList(list, images, LVSIL_SMALL);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    // The list draws nothing while it is filled and sorted.
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    AddRows(list);
    ListView_SortItems(list, CompareTexts, 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    return bench::ShowAndRun(window);
}
