#include "Driver.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cwchar>

namespace velmora::gui {

std::string Narrow(const std::wstring& text) {
    std::string out(text.size() * 3 + 1, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], (int)out.size(), nullptr, nullptr));
    return out;
}

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw DriverError(what + " (error " + std::to_string(GetLastError()) + ")");
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    return std::wstring(name, std::max(0, GetClassNameW(window, name, 256)));
}

bool Matches(HWND window, const std::wstring& className, const std::wstring& text) {
    return (className.empty() || _wcsicmp(ClassName(window).c_str(), className.c_str()) == 0) &&
           (text.empty() || WindowText(window) == text);
}

struct Search {
    DWORD processId;
    const std::wstring &caption, &className;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    auto& s = *reinterpret_cast<Search*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if ((!s.processId || (processId == s.processId && IsWindowVisible(window))) && Matches(window, s.className, s.caption))
        s.found.push_back(window);
    return TRUE;
}

}  // namespace

Process::Process(const std::wstring& commandLine, const std::wstring& directory) {
    std::wstring line = commandLine;
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        Fail("cannot start " + Narrow(commandLine));
    CloseHandle(info.hThread);
    handle_ = info.hProcess;
    id_ = info.dwProcessId;
}

Process::~Process() {
    if (IsRunning()) TerminateProcess(handle_, 1), WaitForSingleObject(handle_, 5000);
    CloseHandle(handle_);
}

DWORD Process::WaitForExit(DWORD timeoutMs) const {
    if (WaitForSingleObject(handle_, timeoutMs) != WAIT_OBJECT_0) throw DriverError("the program did not end");
    DWORD code = 0;
    GetExitCodeProcess(handle_, &code);
    return code;
}

void WaitUntil(const std::function<bool()>& condition, const std::string& what, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) throw DriverError("timed out waiting for " + what);
        Sleep(20);
    }
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &copied))
        return std::wstring(text, std::max(0, GetWindowTextW(window, text, 1024)));
    return std::wstring(text, std::min<DWORD_PTR>(copied, 1023));
}

HWND FindTopLevelWindow(DWORD processId, const std::wstring& caption, const std::wstring& className) {
    Search search{processId, caption, className, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

HWND WaitForTopLevelWindow(DWORD processId, const std::wstring& caption, const std::wstring& className, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopLevelWindow(processId, caption, className)) != nullptr; },
              "a window \"" + Narrow(caption) + "\" of class " + Narrow(className), timeoutMs);
    return found;
}

HWND RequireChild(HWND parent, const std::wstring& className, const std::wstring& text) {
    Search search{0, text, className, {}};
    EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&search));
    if (search.found.empty()) throw DriverError("no control " + Narrow(className) + " \"" + Narrow(text) + "\"");
    return search.found.front();
}

RECT RectInParent(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    if (GetWindowLongW(window, GWL_STYLE) & WS_CHILD)
        MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE ClientSize(HWND window) {
    RECT rect{};
    GetClientRect(window, &rect);
    return SIZE{rect.right, rect.bottom};
}

bool IsEnabled(HWND window) {
    if (!IsWindow(window)) throw DriverError("the window is gone");
    return IsWindowEnabled(window) != FALSE;
}

void ClickButton(HWND button) { Post(button, BM_CLICK); }

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!PostMessageW(window, message, wParam, lParam)) Fail("cannot post message " + std::to_string(message));
}

void PressAltF4(HWND window) {
    WaitUntil([&] { return SetForegroundWindow(window), GetForegroundWindow() == window; }, "the foreground");
    INPUT keys[4] = {};
    const WORD codes[4] = {VK_MENU, VK_F4, VK_F4, VK_MENU};
    for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = codes[i];
        keys[i].ki.wScan = static_cast<WORD>(MapVirtualKeyW(codes[i], MAPVK_VK_TO_VSC));
        keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
    }
    if (SendInput(4, keys, sizeof(INPUT)) != 4) Fail("SendInput refused Alt+F4");
}

std::optional<double> RoundTripMs(HWND window, DWORD timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result)) return std::nullopt;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void WaitUntilDrawn(HWND window) {
    WaitUntil([&] { return !GetUpdateRect(window, nullptr, FALSE) && RoundTripMs(window, kTimeoutMs); }, "painting");
    Sleep(150);  // Wine hands the drawing to the X server when the thread next waits
}

HWND WaitForMessageBox(DWORD processId, const std::wstring& caption, DWORD timeoutMs) {
    return WaitForTopLevelWindow(processId, caption, L"#32770", timeoutMs);
}

MessageBoxInfo ReadMessageBox(HWND box) {
    MessageBoxInfo info;
    info.owner = GetWindow(box, GW_OWNER);
    for (HWND control = GetWindow(box, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(control) & 0xFFFF;
        if (id == 0xFFFF && Matches(control, L"Static", L"")) info.text = WindowText(control);
        else if (Matches(control, L"Button", L"")) info.buttons.push_back(id);
    }
    return info;
}

void AnswerMessageBox(HWND box, int buttonId) {
    const HWND button = GetDlgItem(box, buttonId);
    if (!button) throw DriverError("the message box has no button " + std::to_string(buttonId));
    ClickButton(button);
}

namespace {
constexpr int kTextChars = 2048;
constexpr size_t kItemBytes = 128;  // room for an LVITEMW or LVCOLUMNW of either bitness
}  // namespace

RemoteListView::RemoteListView(HWND listView) : list_(listView) {
    DWORD processId = 0;
    GetWindowThreadProcessId(listView, &processId);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process_) Fail("cannot open the list view's process");
    remote_ = static_cast<char*>(
        VirtualAllocEx(process_, nullptr, kItemBytes + kTextChars * 2, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!remote_) Fail("VirtualAllocEx failed");
}

RemoteListView::~RemoteListView() {
    VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
    CloseHandle(process_);
}

template <typename T> T RemoteListView::Read() const {
    T value{};
    if (!ReadProcessMemory(process_, remote_, &value, sizeof value, nullptr)) Fail("ReadProcessMemory failed");
    return value;
}

template <typename T> void RemoteListView::Write(const T& value) const {
    if (!WriteProcessMemory(process_, remote_, &value, sizeof value, nullptr)) Fail("WriteProcessMemory failed");
}

LRESULT RemoteListView::Send(UINT message, WPARAM wParam, void* item) const {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(list_, message, wParam, reinterpret_cast<LPARAM>(item), SMTO_NORMAL, kTimeoutMs, &result))
        throw DriverError("the list view did not answer message " + std::to_string(message));
    return static_cast<LRESULT>(result);
}

std::wstring RemoteListView::ReadText() const {
    std::wstring text(kTextChars, L'\0');
    ReadProcessMemory(process_, remote_ + kItemBytes, &text[0], kTextChars * 2, nullptr);
    return text.substr(0, std::wcslen(text.c_str()));
}

int RemoteListView::RowCount() const { return static_cast<int>(Send(LVM_GETITEMCOUNT, 0, nullptr)); }

std::wstring RemoteListView::Text(int row, int column) const {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(remote_ + kItemBytes);
    item.cchTextMax = kTextChars;
    Write(item);
    Send(LVM_GETITEMTEXTW, row, remote_);
    return ReadText();
}

std::vector<ListRow> RemoteListView::Rows() const {
    std::vector<ListRow> rows(RowCount());
    const int columns = static_cast<int>(Columns().size());
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        for (int column = 0; column < columns; ++column) rows[row].texts.push_back(Text(row, column));
        const auto state = static_cast<UINT>(Send(LVM_GETITEMSTATE, row, reinterpret_cast<void*>(LVIS_STATEIMAGEMASK | LVIS_SELECTED)));
        rows[row].ticked = (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
        rows[row].selected = state & LVIS_SELECTED;
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        Write(item);
        Send(LVM_GETITEMW, 0, remote_);
        rows[row].image = Read<LVITEMW>().iImage;
    }
    return rows;
}

std::vector<std::pair<std::wstring, int>> RemoteListView::Columns() const {
    std::vector<std::pair<std::wstring, int>> columns;
    for (int column = 0;; ++column) {
        LVCOLUMNW item{};
        item.mask = LVCF_TEXT | LVCF_WIDTH;
        item.pszText = reinterpret_cast<wchar_t*>(remote_ + kItemBytes);
        item.cchTextMax = kTextChars;
        Write(item);
        if (!Send(LVM_GETCOLUMNW, column, remote_)) return columns;
        columns.emplace_back(ReadText(), Read<LVCOLUMNW>().cx);
    }
}

void RemoteListView::SetTicked(int row, bool ticked) {
    LVITEMW item{};
    item.state = INDEXTOSTATEIMAGEMASK(ticked ? 2 : 1);
    item.stateMask = LVIS_STATEIMAGEMASK;
    Write(item);
    if (!Send(LVM_SETITEMSTATE, row, remote_)) throw DriverError("cannot tick row " + std::to_string(row));
}

void RemoteListView::Select(int row) {
    LVITEMW item{};
    item.state = item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    Write(item);
    Send(LVM_SETITEMSTATE, row, remote_);
}

void SaveScreenshot(const std::wstring& name) {
    wchar_t dir[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"VELMORA_SCREENSHOTS", dir, MAX_PATH)) GetTempPathW(MAX_PATH, dir);
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    BITMAPINFOHEADER header{sizeof header, width, height, 1, 24, BI_RGB};
    header.biSizeImage = ((width * 3 + 3) & ~3) * height;
    const HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    BITMAPFILEHEADER file{0x4D42, DWORD(sizeof(BITMAPFILEHEADER) + sizeof header + header.biSizeImage), 0, 0,
                          DWORD(sizeof(BITMAPFILEHEADER) + sizeof header)};
    const HANDLE out = CreateFileW((std::wstring(dir) + L"\\" + name + L".bmp").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(out, &file, sizeof file, &written, nullptr);
    WriteFile(out, &header, sizeof header, &written, nullptr);
    WriteFile(out, bits, header.biSizeImage, &written, nullptr);
    CloseHandle(out);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

}  // namespace velmora::gui
