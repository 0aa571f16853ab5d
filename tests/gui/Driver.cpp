#include "Driver.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <thread>
#include <utility>

namespace velmora::gui {

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
    return out;
}


namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kPollMs = 20;
constexpr int kTextChars = 2048;  // the remote text buffer, in characters

std::string Hex(uintptr_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

std::string Describe(HWND window) {
    return Hex(reinterpret_cast<uintptr_t>(window)) + " (class \"" + Narrow(ClassName(window)) + "\")";
}

[[noreturn]] void FailWithLastError(const std::string& what) {
    const DWORD error = GetLastError();
    throw DriverError(what + " (error " + std::to_string(error) + ")");
}

// Polls condition until it holds or timeoutMs has passed; answers whether it held.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}

// The text used to match windows while enumerating them, where nothing may
// throw: the window's answer to WM_GETTEXT, or the text the system keeps for it
// when its thread is busy.
std::wstring MatchText(HWND window) {
    wchar_t text[512] = {};
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 1000,
                            &copied)) {
        return std::wstring(text, std::min<size_t>(copied, 511));
    }
    const int length = GetWindowTextW(window, text, 512);
    return std::wstring(text, length > 0 ? length : 0);
}

bool SameClass(HWND window, const std::wstring& className) {
    return className.empty() || _wcsicmp(ClassName(window).c_str(), className.c_str()) == 0;
}

bool IsWow64(HANDLE process) {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(process, &wow64)) FailWithLastError("IsWow64Process failed");
    return wow64 != FALSE;
}

int ControlId(HWND control) {
    // Dialog templates hold 16-bit ids; 0xFFFF may come back sign-extended.
    return GetDlgCtrlID(control) & 0xFFFF;
}

SIZE WaitForNewClientSize(HWND window, SIZE before, DWORD timeoutMs, const char* what) {
    SIZE now = before;
    const bool changed = WaitFor(
        [&] {
            now = ClientSize(window);
            return now.cx != before.cx || now.cy != before.cy;
        },
        timeoutMs);
    if (!changed) {
        throw DriverError(std::string(what) + ": the client size stayed " + std::to_string(before.cx) + "x" +
                          std::to_string(before.cy) + " for " + std::to_string(timeoutMs) + " ms");
    }
    // A resize may arrive in steps; wait until two readings agree.
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const SIZE next = ClientSize(window);
        if (next.cx == now.cx && next.cy == now.cy) break;
        now = next;
    }
    return now;
}

}  // namespace

// ---------------------------------------------------------------------------
// Processes

Process Process::Start(const std::wstring& commandLine, const std::wstring& workingDirectory, int showCommand) {
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showCommand);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &info)) {
        FailWithLastError("cannot start " + Narrow(commandLine));
    }
    CloseHandle(info.hThread);
    Process process;
    process.handle_.reset(info.hProcess);
    process.id_ = info.dwProcessId;
    return process;
}

void KillAndClose(HANDLE process) {
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
}

bool Process::IsRunning() const {
    return handle_ && WaitForSingleObject(handle_.get(), 0) == WAIT_TIMEOUT;
}

DWORD Process::WaitForExit(DWORD timeoutMs) const {
    if (!handle_) throw DriverError("WaitForExit: no process was started");
    const DWORD waited = WaitForSingleObject(handle_.get(), timeoutMs);
    if (waited == WAIT_TIMEOUT) {
        throw DriverError("process " + std::to_string(id_) + " was still running after " + std::to_string(timeoutMs) +
                          " ms");
    }
    if (waited != WAIT_OBJECT_0) FailWithLastError("waiting for process " + std::to_string(id_) + " failed");
    DWORD code = 0;
    if (!GetExitCodeProcess(handle_.get(), &code)) FailWithLastError("GetExitCodeProcess failed");
    return code;
}

void Process::Kill() {
    if (!IsRunning()) return;
    if (!TerminateProcess(handle_.get(), 1)) FailWithLastError("cannot terminate process " + std::to_string(id_));
    if (WaitForSingleObject(handle_.get(), 5000) != WAIT_OBJECT_0) {
        throw DriverError("process " + std::to_string(id_) + " did not end after TerminateProcess");
    }
}

// ---------------------------------------------------------------------------
// Windows and controls

namespace {

[[noreturn]] void FailToAnswer(HWND window, const char* message) {
    if (!IsWindow(window)) throw DriverError("window " + Hex(reinterpret_cast<uintptr_t>(window)) + " is gone");
    throw DriverError("window " + Describe(window) + " did not answer " + message + " within " +
                      std::to_string(kDefaultTimeoutMs) + " ms");
}

}  // namespace

std::wstring WindowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kDefaultTimeoutMs, &length)) {
        FailToAnswer(window, "WM_GETTEXTLENGTH");
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_NORMAL,
                             kDefaultTimeoutMs, &copied)) {
        FailToAnswer(window, "WM_GETTEXT");
    }
    text.resize(std::min<size_t>(copied, length));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

DWORD ProcessOf(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

namespace {

struct TopLevelSearch {
    DWORD processId;
    const std::wstring* caption;
    const std::wstring* className;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
    auto& s = *reinterpret_cast<TopLevelSearch*>(param);
    if (ProcessOf(window) != s.processId || !IsWindowVisible(window)) return TRUE;
    if (!SameClass(window, *s.className)) return TRUE;
    if (!s.caption->empty() && MatchText(window) != *s.caption) return TRUE;
    s.found = window;
    return FALSE;
}

struct ChildSearch {
    const std::wstring* className;
    const std::wstring* text;
    std::vector<HWND> found;
};

BOOL CALLBACK MatchChild(HWND window, LPARAM param) {
    auto& s = *reinterpret_cast<ChildSearch*>(param);
    if (SameClass(window, *s.className) && (s.text->empty() || MatchText(window) == *s.text)) {
        s.found.push_back(window);
    }
    return TRUE;
}

}  // namespace

HWND FindTopLevelWindow(DWORD processId, const std::wstring& caption, const std::wstring& className) {
    TopLevelSearch search{processId, &caption, &className, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForTopLevelWindow(DWORD processId, const std::wstring& caption, const std::wstring& className,
                           DWORD timeoutMs) {
    HWND found = nullptr;
    if (!WaitFor([&] { return (found = FindTopLevelWindow(processId, caption, className)) != nullptr; }, timeoutMs)) {
        throw DriverError("no visible window \"" + Narrow(caption) + "\" of class \"" + Narrow(className) +
                          "\" in process " + std::to_string(processId) + " within " + std::to_string(timeoutMs) +
                          " ms");
    }
    return found;
}

void WaitUntilGone(HWND window, DWORD timeoutMs) {
    if (!WaitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs)) {
        throw DriverError("window " + Describe(window) + " was still shown after " + std::to_string(timeoutMs) +
                          " ms");
    }
}

namespace {

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

bool NeedsPainting(HWND window) {
    std::vector<HWND> windows{window};
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&windows));
    for (HWND each : windows) {
        if (IsWindowVisible(each) && GetUpdateRect(each, nullptr, FALSE)) return true;
    }
    return false;
}

}  // namespace

void WaitUntilDrawn(HWND window, DWORD timeoutMs) {
    if (!WaitFor([&] { return !NeedsPainting(window); }, timeoutMs)) {
        throw DriverError("window " + Describe(window) + " still had parts to paint after " +
                          std::to_string(timeoutMs) + " ms");
    }
    // The last WM_PAINT is done once the thread answers a message again.
    if (!RoundTripMs(window, timeoutMs)) {
        throw DriverError("window " + Describe(window) + " did not answer after painting");
    }
    // Wine hands a window's drawing to the X server when its thread next waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

std::vector<HWND> FindChildren(HWND parent, const std::wstring& className, const std::wstring& text) {
    ChildSearch search{&className, &text, {}};
    EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND RequireChild(HWND parent, const std::wstring& className, const std::wstring& text) {
    const std::vector<HWND> found = FindChildren(parent, className, text);
    if (found.empty()) {
        throw DriverError("window " + Describe(parent) + " has no control of class \"" + Narrow(className) +
                          "\" with text \"" + Narrow(text) + "\"");
    }
    return found.front();
}

RECT RectInParent(HWND window) {
    RECT rect{};
    if (!GetWindowRect(window, &rect)) FailWithLastError("GetWindowRect failed for " + Describe(window));
    const bool child = (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) != 0;
    if (child) {
        MapWindowPoints(HWND_DESKTOP, GetAncestor(window, GA_PARENT), reinterpret_cast<POINT*>(&rect), 2);
    }
    return rect;
}

SIZE ClientSize(HWND window) {
    RECT rect{};
    if (!GetClientRect(window, &rect)) FailWithLastError("GetClientRect failed for " + Describe(window));
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

bool IsEnabled(HWND window) {
    if (!IsWindow(window)) throw DriverError("IsEnabled: " + Hex(reinterpret_cast<uintptr_t>(window)) + " is gone");
    return IsWindowEnabled(window) != FALSE;
}

// ---------------------------------------------------------------------------
// Input

namespace {

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const char* what) {
    if (!PostMessageW(window, message, wParam, lParam)) FailWithLastError(std::string("cannot post ") + what);
}

}  // namespace

void ClickButton(HWND button) {
    Post(button, BM_CLICK, 0, 0, "BM_CLICK");
}

void PostClose(HWND window) {
    Post(window, WM_CLOSE, 0, 0, "WM_CLOSE");
}

void PostSysClose(HWND window) {
    Post(window, WM_SYSCOMMAND, SC_CLOSE, 0, "WM_SYSCOMMAND SC_CLOSE");
}

void PressKeys(HWND window, std::initializer_list<WORD> chord, DWORD timeoutMs) {
    // Keyboard input goes to the foreground window, so make it that first.
    if (!WaitFor(
            [&] {
                if (GetForegroundWindow() == window) return true;
                SetForegroundWindow(window);
                return GetForegroundWindow() == window;
            },
            timeoutMs)) {
        throw DriverError("cannot make " + Describe(window) + " the foreground window for key input");
    }
    // The keys go down in order and come up in reverse order.
    std::vector<INPUT> keys(chord.size() * 2);
    std::size_t i = 0;
    for (const WORD code : chord) {
        for (const std::size_t at : {i, keys.size() - 1 - i}) {
            keys[at].type = INPUT_KEYBOARD;
            keys[at].ki.wVk = code;
            keys[at].ki.wScan = static_cast<WORD>(MapVirtualKeyW(code, MAPVK_VK_TO_VSC));
            keys[at].ki.dwFlags = at == i ? 0 : KEYEVENTF_KEYUP;
        }
        ++i;
    }
    if (SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT)) != keys.size())
        FailWithLastError("SendInput refused the keys");
}

HWND WaitForFocus(HWND window, HWND expected, DWORD timeoutMs) {
    HWND focus = nullptr;
    WaitFor(
        [&] {
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            focus = GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
            return focus == expected;
        },
        timeoutMs);
    return focus;
}

SIZE Maximize(HWND window, DWORD timeoutMs) {
    const SIZE before = ClientSize(window);
    Post(window, WM_SYSCOMMAND, SC_MAXIMIZE, 0, "SC_MAXIMIZE");
    return WaitForNewClientSize(window, before, timeoutMs, "Maximize");
}

SIZE Restore(HWND window, DWORD timeoutMs) {
    const SIZE before = ClientSize(window);
    Post(window, WM_SYSCOMMAND, SC_RESTORE, 0, "SC_RESTORE");
    return WaitForNewClientSize(window, before, timeoutMs, "Restore");
}

SIZE ResizeClient(HWND window, int width, int height, DWORD timeoutMs) {
    const SIZE before = ClientSize(window);
    RECT outer{};
    if (!GetWindowRect(window, &outer)) FailWithLastError("GetWindowRect failed for " + Describe(window));
    const int frameWidth = (outer.right - outer.left) - before.cx;
    const int frameHeight = (outer.bottom - outer.top) - before.cy;
    if (!SetWindowPos(window, nullptr, 0, 0, width + frameWidth, height + frameHeight,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS)) {
        FailWithLastError("SetWindowPos failed for " + Describe(window));
    }
    return WaitForNewClientSize(window, before, timeoutMs, "ResizeClient");
}

std::optional<double> RoundTripMs(HWND window, DWORD timeoutMs) {
    if (!IsWindow(window)) throw DriverError("RoundTripMs: " + Hex(reinterpret_cast<uintptr_t>(window)) + " is gone");
    DWORD_PTR result = 0;
    const auto start = Clock::now();
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result)) return std::nullopt;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// ---------------------------------------------------------------------------
// Message boxes

HWND WaitForMessageBox(DWORD processId, const std::wstring& caption, DWORD timeoutMs) {
    HWND found = nullptr;
    if (!WaitFor([&] { return (found = FindTopLevelWindow(processId, caption, L"#32770")) != nullptr; },
                 timeoutMs)) {
        throw DriverError("no message box \"" + Narrow(caption) + "\" of process " + std::to_string(processId) +
                          " within " + std::to_string(timeoutMs) + " ms");
    }
    return found;
}

MessageBoxInfo ReadMessageBox(HWND box) {
    MessageBoxInfo info;
    info.window = box;
    info.owner = GetWindow(box, GW_OWNER);
    info.caption = WindowText(box);
    bool haveText = false;
    for (HWND control : FindChildren(box, L"")) {
        if (GetAncestor(control, GA_PARENT) != box) continue;
        const int id = ControlId(control);
        if (!haveText && id == 0xFFFF && SameClass(control, L"Static")) {
            info.text = WindowText(control);
            haveText = true;
        } else if (SameClass(control, L"Button")) {
            info.buttons.push_back(id);
        }
    }
    if (!haveText) throw DriverError("dialog " + Describe(box) + " has no message text (static control 0xFFFF)");
    return info;
}

void AnswerMessageBox(HWND box, int buttonId) {
    for (HWND control : FindChildren(box, L"Button")) {
        if (ControlId(control) == buttonId) {
            ClickButton(control);
            return;
        }
    }
    throw DriverError("message box " + Describe(box) + " has no button with id " + std::to_string(buttonId));
}

// ---------------------------------------------------------------------------
// The remote list view

namespace {

// The remote block: the item structure first, then the text buffer.
constexpr size_t kItemBytes = (std::max(sizeof(LVITEMW), sizeof(HDITEMW)) + 15) & ~size_t{15};
constexpr size_t kBlockBytes = kItemBytes + kTextChars * sizeof(wchar_t);

}  // namespace

RemoteListView::RemoteListView(HWND listView, DWORD timeoutMs) : listView_(listView), timeoutMs_(timeoutMs) {
    if (!IsWindow(listView)) throw DriverError("RemoteListView: no such window");
    if (!SameClass(listView, WC_LISTVIEWW)) throw DriverError("RemoteListView: " + Describe(listView) + " is no list view");
    const DWORD processId = ProcessOf(listView);
    process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                               FALSE, processId));
    if (!process_) FailWithLastError("cannot open process " + std::to_string(processId) + " of the list view");
    if (IsWow64(process_.get()) != IsWow64(GetCurrentProcess())) {
        throw DriverError("the list view's process " + std::to_string(processId) +
                          " is of another bitness than the driver; its item structures would not match");
    }
    remote_ = VirtualAllocEx(process_.get(), nullptr, kBlockBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote_) {
        const DWORD error = GetLastError();
        throw DriverError("VirtualAllocEx in process " + std::to_string(processId) + " failed (error " +
                          std::to_string(error) + ")");
    }
}

RemoteListView::~RemoteListView() {
    VirtualFreeEx(process_.get(), remote_, 0, MEM_RELEASE);
}

LRESULT RemoteListView::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(listView_, message, wParam, lParam, SMTO_NORMAL, timeoutMs_, &result)) {
        throw DriverError("list view " + Hex(reinterpret_cast<uintptr_t>(listView_)) + " did not answer message " +
                          Hex(message) + " within " + std::to_string(timeoutMs_) + " ms");
    }
    return static_cast<LRESULT>(result);
}

namespace {

template <typename T>
void WriteRemote(HANDLE process, void* at, const T& value) {
    SIZE_T written = 0;
    if (!WriteProcessMemory(process, at, &value, sizeof value, &written) || written != sizeof value) {
        FailWithLastError("WriteProcessMemory failed");
    }
}

template <typename T>
T ReadRemote(HANDLE process, const void* at) {
    T value{};
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, at, &value, sizeof value, &read) || read != sizeof value) {
        FailWithLastError("ReadProcessMemory failed");
    }
    return value;
}

// A NUL-terminated text of at most kTextChars characters at a target address.
std::wstring ReadRemoteText(HANDLE process, const void* at) {
    if (!at) return {};
    std::wstring text(kTextChars, L'\0');
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, at, &text[0], kTextChars * sizeof(wchar_t), &read)) {
        FailWithLastError("ReadProcessMemory failed for a text");
    }
    text.resize(std::min<size_t>(std::wcslen(text.c_str()), read / sizeof(wchar_t)));
    return text;
}

}  // namespace

int RemoteListView::RowCount() const {
    return static_cast<int>(Send(LVM_GETITEMCOUNT, 0, 0));
}

int RemoteListView::ColumnCount() const {
    const HWND header = reinterpret_cast<HWND>(Send(LVM_GETHEADER, 0, 0));
    if (!header) return 0;
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(header, HDM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, timeoutMs_, &count)) {
        throw DriverError("the list view's header did not answer HDM_GETITEMCOUNT");
    }
    return static_cast<int>(static_cast<LRESULT>(count));
}

std::vector<std::wstring> RemoteListView::HeaderTexts() const {
    const HWND header = reinterpret_cast<HWND>(Send(LVM_GETHEADER, 0, 0));
    const int columns = ColumnCount();
    wchar_t* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote_) + kItemBytes);
    std::vector<std::wstring> texts;
    for (int column = 0; column < columns; ++column) {
        HDITEMW item{};
        item.mask = HDI_TEXT;
        item.pszText = remoteText;
        item.cchTextMax = kTextChars;
        WriteRemote(process_.get(), remote_, item);
        DWORD_PTR ok = 0;
        if (!SendMessageTimeoutW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(remote_), SMTO_NORMAL,
                                 timeoutMs_, &ok) ||
            !ok) {
            throw DriverError("HDM_GETITEMW failed for column " + std::to_string(column));
        }
        // The control may point pszText at its own copy instead of filling the buffer.
        texts.push_back(ReadRemoteText(process_.get(), ReadRemote<HDITEMW>(process_.get(), remote_).pszText));
    }
    return texts;
}

int RemoteListView::ColumnWidth(int column) const {
    return static_cast<int>(Send(LVM_GETCOLUMNWIDTH, column, 0));
}

namespace {

void CheckIndex(const char* what, int index, int count) {
    if (index < 0 || index >= count) {
        throw DriverError(std::string(what) + " " + std::to_string(index) + " is out of range (" +
                          std::to_string(count) + ")");
    }
}

}  // namespace

std::wstring RemoteListView::Text(int row, int column) const {
    CheckIndex("row", row, RowCount());
    CheckIndex("column", column, std::max(1, ColumnCount()));
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote_) + kItemBytes);
    item.cchTextMax = kTextChars;
    WriteRemote(process_.get(), remote_, item);
    Send(LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote_));
    return ReadRemoteText(process_.get(), ReadRemote<LVITEMW>(process_.get(), remote_).pszText);
}

int RemoteListView::StateImage(int row) const {
    CheckIndex("row", row, RowCount());
    return static_cast<int>((Send(LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> 12);
}

int RemoteListView::Image(int row) const {
    CheckIndex("row", row, RowCount());
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    WriteRemote(process_.get(), remote_, item);
    if (!Send(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote_))) {
        throw DriverError("LVM_GETITEMW failed for row " + std::to_string(row));
    }
    return ReadRemote<LVITEMW>(process_.get(), remote_).iImage;
}

RECT RemoteListView::RowRect(int row) const {
    CheckIndex("row", row, RowCount());
    WriteRemote(process_.get(), remote_, RECT{LVIR_BOUNDS, 0, 0, 0});
    if (!Send(LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote_))) {
        throw DriverError("LVM_GETITEMRECT refused row " + std::to_string(row));
    }
    return ReadRemote<RECT>(process_.get(), remote_);
}

ListRow RemoteListView::Row(int row) const {
    ListRow result;
    const int columns = std::max(1, ColumnCount());
    for (int column = 0; column < columns; ++column) result.texts.push_back(Text(row, column));
    const UINT state =
        static_cast<UINT>(Send(LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK | LVIS_SELECTED | LVIS_FOCUSED));
    result.ticked = ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
    result.selected = (state & LVIS_SELECTED) != 0;
    result.focused = (state & LVIS_FOCUSED) != 0;
    result.image = Image(row);
    return result;
}

std::vector<ListRow> RemoteListView::Rows() const {
    std::vector<ListRow> rows;
    const int count = RowCount();
    for (int row = 0; row < count; ++row) rows.push_back(Row(row));
    return rows;
}

void RemoteListView::SetState(int row, UINT state, UINT mask) {
    LVITEMW item{};
    item.state = state;
    item.stateMask = mask;
    WriteRemote(process_.get(), remote_, item);
    if (!Send(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote_))) {
        throw DriverError("LVM_SETITEMSTATE failed for row " + std::to_string(row));
    }
}

void RemoteListView::SetTicked(int row, bool ticked) {
    CheckIndex("row", row, RowCount());
    SetState(row, INDEXTOSTATEIMAGEMASK(ticked ? 2 : 1), LVIS_STATEIMAGEMASK);
}

void RemoteListView::SelectRows(const std::vector<int>& rows) {
    const int count = RowCount();
    for (int row : rows) CheckIndex("row", row, count);
    SetState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    bool first = true;
    for (int row : rows) {
        SetState(row, LVIS_SELECTED | (first ? LVIS_FOCUSED : 0), LVIS_SELECTED | LVIS_FOCUSED);
        first = false;
    }
}

// ---------------------------------------------------------------------------
// Screenshots

void SaveScreenshot(const std::wstring& path) {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width <= 0 || height <= 0) throw DriverError("SaveScreenshot: the screen has no size");

    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, the order a BMP file stores
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~DWORD{3};
    header.biSizeImage = stride * static_cast<DWORD>(height);

    HDC screen = GetDC(nullptr);
    if (!screen) FailWithLastError("GetDC(nullptr) failed");
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits,
                                      nullptr, 0);
    bool copied = false;
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY | CAPTUREBLT) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    std::string pixels;
    if (copied) pixels.assign(static_cast<const char*>(bits), header.biSizeImage);
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied) throw DriverError("SaveScreenshot: copying the screen failed");

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;

    const HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr);
    if (out == INVALID_HANDLE_VALUE) FailWithLastError("cannot create " + Narrow(path));
    DWORD written = 0;
    const bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) &&
                    WriteFile(out, &header, sizeof header, &written, nullptr) &&
                    WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr) &&
                    written == pixels.size();
    CloseHandle(out);
    if (!ok) throw DriverError("cannot write " + Narrow(path));
}

std::wstring ScreenshotPath(const std::wstring& name) {
    wchar_t buffer[MAX_PATH + 1] = {};
    std::wstring dir;
    const DWORD length = GetEnvironmentVariableW(L"VELMORA_SCREENSHOTS", buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        dir = buffer;
        if (!CreateDirectoryW(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            FailWithLastError("cannot create the screenshot directory " + Narrow(dir));
        }
    } else {
        const DWORD tempLength = GetTempPathW(MAX_PATH, buffer);
        if (tempLength == 0 || tempLength >= MAX_PATH) FailWithLastError("GetTempPathW failed");
        dir = buffer;
    }
    if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
    return dir + name + L".bmp";
}

}  // namespace velmora::gui
