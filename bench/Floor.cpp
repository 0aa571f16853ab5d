// The bench's own windowed programs, with none of Velmora's code:
//
//   Floor list PROGRAM64 HANDOFF   the floor of Velmora's start-up: what the design
//                                  makes unavoidable, each the fastest way the
//                                  platform allows (see below)
//   Floor window                   an empty report list, shown: what any windowed
//                                  program pays before its own work
//   Floor wait COMMAND             an idle window that runs COMMAND and waits for
//                                  it as any window that stays live must: polling
//                                  every 10 ms, servicing its messages between polls
//
// Each reaches its message loop; closing the window ends it.
#include "platform/WindowsHeaders.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace velmora;

const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr int kTile = 24;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

struct TEntry {
    std::wstring name, publisher, comments, icon;
    int image = 0;
};

// A string value into text, empty when missing.
std::wstring Read(HKEY key, const wchar_t* name) {
    wchar_t data[2048] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    return RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) ? L"" : data;
}
DWORD ReadNumber(HKEY key, const wchar_t* name) {
    DWORD data = 0, size = sizeof data;
    return RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) ? 0 : data;
}

// The view the 32-bit program reads: its own view for a 32-bit build, and the
// one a 64-bit build (beside Velmora.exe's stand-in) must ask for.
constexpr REGSAM kView = KEY_WOW64_32KEY;

// The 32-bit view: the display values only of a key that has a command line
// and is not hidden.
void Scan(std::vector<TEntry>& entries) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | kView, &opened) != ERROR_SUCCESS) return;
    const unique_hkey uninstall(opened);
    wchar_t name[256];
    for (DWORD index = 0, length = 256;
         RegEnumKeyExW(uninstall.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = 256) {
        if (RegOpenKeyExW(uninstall.get(), name, 0, KEY_QUERY_VALUE | kView, &opened) != ERROR_SUCCESS) continue;
        const unique_hkey key(opened);
        if (Read(key.get(), L"UninstallString").empty() || ReadNumber(key.get(), L"NoRemove") == 1 ||
            ReadNumber(key.get(), L"SystemComponent") == 1)
            continue;
        TEntry entry{Read(key.get(), L"DisplayName"), Read(key.get(), L"Publisher"), Read(key.get(), L"Comments"),
                     Read(key.get(), L"DisplayIcon")};
        if (entry.name.empty()) entry.name = name;
        entries.push_back(std::move(entry));
    }
}

// The hand-off file: its section names, then each section whole.
void ReadHandOff(const wchar_t* path, std::vector<TEntry>& entries) {
    std::vector<wchar_t> names(1 << 20), section(1 << 16);
    GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()), path);
    for (const wchar_t* name = names.data(); *name; name += wcslen(name) + 1) {
        GetPrivateProfileSectionW(name, section.data(), static_cast<DWORD>(section.size()), path);
        TEntry entry;
        for (const wchar_t* line = section.data(); *line; line += wcslen(line) + 1) {
            const wchar_t* value = wcschr(line, L'=');
            if (!value) continue;
            const std::wstring key(line, value++);
            std::wstring* field = key == L"DisplayName" ? &entry.name
                                  : key == L"Publisher" ? &entry.publisher
                                  : key == L"Comment"   ? &entry.comments
                                  : key == L"DisplayIcon" ? &entry.icon
                                                          : nullptr;
            if (field) *field = value;
        }
        entries.push_back(std::move(entry));
    }
}

// One icon lookup and one tile per entry with an icon. Each icon is drawn
// once, on white; its tiles are copies of that drawing, laid side by side into
// strips that go into the image list with one call each.
void AddTiles(HIMAGELIST system, HIMAGELIST tiles, std::vector<TEntry>& entries, std::size_t first) {
    constexpr int kStrip = 256, kPixels = kTile * kTile;
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), kTile, kTile, 1, 32, BI_RGB}};
    DWORD* scratch = nullptr;
    // The tile outlives the device context it is selected into.
    const unique_hbitmap tile(
        CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&scratch), nullptr, 0));
    const unique_hdc dc(CreateCompatibleDC(nullptr));
    SelectObject(dc.get(), tile.get());
    std::map<int, std::vector<DWORD>> drawn;
    std::vector<const std::vector<DWORD>*> batch;
    // The batch's tiles side by side, row by row, into the image list.
    const auto add = [&] {
        std::vector<DWORD> strip(batch.size() * kPixels);
        for (std::size_t k = 0; k < batch.size(); ++k)
            for (std::size_t y = 0; y < kTile; ++y)
                std::copy_n(batch[k]->data() + y * kTile, kTile, strip.data() + (y * batch.size() + k) * kTile);
        info.bmiHeader.biWidth = static_cast<LONG>(batch.size()) * kTile;
        const unique_hbitmap bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, nullptr, nullptr, 0));
        SetDIBits(dc.get(), bitmap.get(), 0, kTile, strip.data(), &info, DIB_RGB_COLORS);
        ImageList_AddMasked(tiles, bitmap.get(), 0xFFFFFF);
        batch.clear();
    };
    for (std::size_t i = first; i < entries.size(); ++i) {
        if (entries[i].icon.empty()) continue;
        std::wstring path = entries[i].icon.substr(0, entries[i].icon.find(L','));
        if (!path.empty() && path[0] == L'"') path = path.substr(1, path.size() - 2);
        SHFILEINFOW file = {};
        SHGetFileInfoW(path.c_str(), FILE_ATTRIBUTE_NORMAL, &file, sizeof file,
                       SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES);
        auto found = drawn.find(file.iIcon);
        if (found == drawn.end()) {
            std::fill_n(scratch, kPixels, 0xFFFFFF);
            ImageList_Draw(system, file.iIcon, dc.get(), 4, 4, ILD_TRANSPARENT);
            GdiFlush();
            found = drawn.emplace(file.iIcon, std::vector<DWORD>(scratch, scratch + kPixels)).first;
        }
        entries[i].image = ImageList_GetImageCount(tiles) + static_cast<int>(batch.size());
        batch.push_back(&found->second);
        if (batch.size() == kStrip) add();
    }
    if (!batch.empty()) add();
}

// The main window and its report list, both destroyed with the window.
std::pair<HWND, HWND> CreateWindows(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSW windowClass = {0, WindowProc, 0, 0, instance, nullptr, LoadCursorW(nullptr, IDC_ARROW),
                             reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), nullptr, L"VelmoraBenchFloor"};
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                        CW_USEDEFAULT, 808, 525, nullptr, nullptr, instance, nullptr);
    return {window, CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 16, 40,
                                    761, 393, window, nullptr, nullptr, nullptr)};
}

int RunLoop(HWND window) {
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}

unique_handle Start(wchar_t* commandLine, WORD show) {
    STARTUPINFOW startup = {sizeof startup};
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                        &process))
        return {};
    const unique_handle thread(process.hThread);
    return unique_handle(process.hProcess);
}

int Wait(HWND window, wchar_t* commandLine) {
    ShowWindow(window, SW_SHOWNORMAL);
    if (const unique_handle process = Start(commandLine, SW_SHOWNORMAL)) {
        MSG msg;
        while (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(10);
        }
    }
    return RunLoop(window);
}

int List(HINSTANCE instance, wchar_t* program, const wchar_t* handOff) {
    const unique_handle child = Start(program, SW_HIDE);
    const auto [window, list] = CreateWindows(instance);
    LOGFONTW logFont = {-12};
    logFont.lfCharSet = GB2312_CHARSET;
    lstrcpyW(logFont.lfFaceName, L"宋体");
    const unique_hfont font(CreateFontIndirectW(&logFont));
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    const int widths[] = {300, 140, 280};
    for (int column = 0; column < 3; ++column) {
        LVCOLUMNW lvc = {LVCF_TEXT | LVCF_WIDTH, 0, widths[column], const_cast<wchar_t*>(L"Column")};
        ListView_InsertColumn(list, column, &lvc);
    }
    SHFILEINFOW info = {};
    const auto system = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"", 0, &info, sizeof info, SHGFI_SMALLICON | SHGFI_SYSICONINDEX));
    // The list owns its image list and destroys it with itself.
    const HIMAGELIST tiles = ImageList_Create(kTile, kTile, ILC_COLORDDB | ILC_MASK, 256, 256);
    ListView_SetImageList(list, tiles, LVSIL_SMALL);

    // The default tile first: the icon of the program's own type.
    std::vector<TEntry> entries(1);
    entries[0].icon = L"Floor.exe";
    AddTiles(system, tiles, entries, 0);
    entries.clear();
    Scan(entries);
    AddTiles(system, tiles, entries, 0);
    // The 64-bit child has run beside all of the above.
    if (child) WaitForSingleObject(child.get(), INFINITE);
    const std::size_t handedOver = entries.size();
    ReadHandOff(handOff, entries);
    AddTiles(system, tiles, entries, handedOver);
    std::sort(entries.begin(), entries.end(),
              [](const TEntry& a, const TEntry& b) { return lstrcmpW(a.name.c_str(), b.name.c_str()) < 0; });

    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ListView_SetItemCount(list, entries.size());
    for (const TEntry& entry : entries) {
        LVITEMW item = {LVIF_TEXT | LVIF_IMAGE, INT_MAX};
        item.pszText = const_cast<wchar_t*>(entry.name.c_str());
        item.iImage = entry.image;
        const int row = ListView_InsertItem(list, &item);
        ListView_SetItemText(list, row, 1, const_cast<wchar_t*>(entry.publisher.c_str()));
        ListView_SetItemText(list, row, 2, const_cast<wchar_t*>(entry.comments.c_str()));
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    return RunLoop(window);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int count = 0;
    const unique_win32<wchar_t**, &LocalFree> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    wchar_t** const argv = arguments.get();
    const std::wstring mode = count > 1 ? argv[1] : L"";
    if (mode == L"list" && count == 4) return List(instance, argv[2], argv[3]);
    const HWND window = CreateWindows(instance).first;
    if (mode == L"wait" && count > 2) return Wait(window, wcsstr(GetCommandLineW(), L" wait ") + 6);
    return mode == L"window" ? RunLoop(window) : 2;
}
