// Drives a Windows program's window from outside, as a user would: finds its
// windows and controls, reads and ticks its list view, presses buttons, answers
// its message boxes. Every wait has a timeout; a timeout or
// a refused operation throws DriverError saying what was expected, so that a
// test fails instead of hanging.
#pragma once

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Text.h"

namespace velmora::gui {

class DriverError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr DWORD kTimeoutMs = 20000;

// Polls until the condition holds; throws naming `what` after timeoutMs.
inline void WaitUntil(const std::function<bool()>& condition, const std::string& what, DWORD timeoutMs = kTimeoutMs,
                      DWORD pollMs = 20) {
    for (const DWORD start = GetTickCount(); !condition(); Sleep(pollMs))
        if (GetTickCount() - start > timeoutMs) throw DriverError("timed out waiting for " + what);
}

// The visible top-level window of the process with this caption and class
// (empty matches any); nullptr if there is none now.
inline HWND FindTopLevelWindow(DWORD processId, const std::wstring& caption, const std::wstring& className) {
    for (HWND window = nullptr;
         (window = FindWindowExW(nullptr, window, className.empty() ? nullptr : className.c_str(),
                                 caption.empty() ? nullptr : caption.c_str()));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window)) return window;
    }
    return nullptr;
}
inline HWND WaitForTopLevelWindow(DWORD processId, const std::wstring& caption, const std::wstring& className,
                                  DWORD timeoutMs = kTimeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopLevelWindow(processId, caption, className)) != nullptr; },
              "a window " + Narrow(className) + " \"" + Narrow(caption) + "\"", timeoutMs);
    return found;
}
// The first child with this class and text (empty matches any); throws if there is none.
inline HWND RequireChild(HWND parent, const std::wstring& className, const std::wstring& text = L"") {
    if (const HWND found = FindWindowExW(parent, nullptr, className.c_str(), text.empty() ? nullptr : text.c_str()))
        return found;
    throw DriverError("no control " + Narrow(className) + " \"" + Narrow(text) + "\"");
}

// The window's rectangle in its parent's client coordinates (the screen's for a top-level one).
inline RECT RectInParent(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    if (GetWindowLongW(window, GWL_STYLE) & WS_CHILD)
        MapWindowPoints(HWND_DESKTOP, GetParent(window), (POINT*)&rect, 2);
    return rect;
}
inline SIZE ClientSize(HWND window) {
    RECT rect{};
    GetClientRect(window, &rect);
    return {rect.right, rect.bottom};
}

// Input is posted, so the driver never blocks on a program that shows a modal box.
inline void Post(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    if (!PostMessageW(window, message, wParam, lParam))
        throw DriverError("cannot post message " + std::to_string(message));
}
inline void ClickButton(HWND button) { Post(button, BM_CLICK); }

// Keys as keyboard input to the window, made the foreground window first: a
// chord such as {VK_SHIFT, VK_TAB} goes down in order and up in reverse.
inline void PressKeys(HWND window, const std::vector<WORD>& chord) {
    WaitUntil([&] { return SetForegroundWindow(window), GetForegroundWindow() == window; }, "the window in front");
    std::vector<INPUT> keys(chord.size() * 2, INPUT{INPUT_KEYBOARD});
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const bool down = i < chord.size();
        const WORD code = chord[down ? i : keys.size() - 1 - i];
        keys[i].ki = {code, static_cast<WORD>(MapVirtualKeyW(code, MAPVK_VK_TO_VSC)),
                      DWORD(down ? 0 : KEYEVENTF_KEYUP)};
    }
    if (SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT)) != keys.size())
        throw DriverError("SendInput refused");
}

// The control that has the keyboard in the window's thread, once it is the one
// expected or after five seconds.
inline HWND Focus(HWND window, HWND expected) {
    GUITHREADINFO info{sizeof info};
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20))
        if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus == expected) break;
    return info.hwndFocus;
}

// The time a WM_NULL takes to be answered; nullopt if no answer came within timeoutMs.
inline std::optional<double> RoundTripMs(HWND window, DWORD timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result)) return std::nullopt;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

inline HWND WaitForMessageBox(DWORD processId, const std::wstring& caption = L"", DWORD timeoutMs = kTimeoutMs) {
    return WaitForTopLevelWindow(processId, caption, L"#32770", timeoutMs);
}
struct MessageBoxInfo {
    HWND owner;
    std::wstring text;
    std::vector<int> buttons;  // IDOK, IDYES, ... in that order
};
inline MessageBoxInfo ReadMessageBox(HWND box) {
    // The text's control id, 0xFFFF in the template, may come back sign-extended.
    const HWND label = GetDlgItem(box, 0xFFFF) ? GetDlgItem(box, 0xFFFF) : GetDlgItem(box, -1);
    wchar_t text[1024] = {};
    MessageBoxInfo info{GetWindow(box, GW_OWNER), std::wstring(text, std::max(0, GetWindowTextW(label, text, 1024)))};
    for (const int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
        if (GetDlgItem(box, id)) info.buttons.push_back(id);
    return info;
}
inline void AnswerMessageBox(HWND box, int buttonId) {
    if (!GetDlgItem(box, buttonId)) throw DriverError("the message box has no button " + std::to_string(buttonId));
    ClickButton(GetDlgItem(box, buttonId));
}

// A list view of another process of the same bitness: item structures and
// texts travel through a block of the target's memory.
struct ListRow {
    std::vector<std::wstring> texts;  // one per column
    bool ticked, selected;
    int image;
};

// The colours of a rectangle of a device context, row by row.
inline std::vector<DWORD> Pixels(HDC source, const RECT& rect) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const unique_hdc memory(CreateCompatibleDC(source));
    const unique_hbitmap bitmap(CreateCompatibleBitmap(source, width, height));
    SelectObject(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, width, height, source, rect.left, rect.top, SRCCOPY);
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB}};
    std::vector<DWORD> pixels(static_cast<std::size_t>(width) * height);
    GetDIBits(memory.get(), bitmap.get(), 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    for (DWORD& pixel : pixels) pixel &= 0xFFFFFF;  // the colour alone
    return pixels;
}

// What the screen shows of a rectangle of a window's client area.
inline std::vector<DWORD> ScreenPixels(HWND window, RECT rect) {
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return Pixels(unique_screen_dc(GetDC(nullptr)).get(), rect);
}

class RemoteListView {
public:
    explicit RemoteListView(HWND listView) : list_(listView) {
        DWORD processId = 0;
        GetWindowThreadProcessId(listView, &processId);
        process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
        remote_ =
            (char*)VirtualAllocEx(process_.get(), nullptr, kItemBytes + kTextChars * 2, MEM_COMMIT, PAGE_READWRITE);
        if (!remote_) throw DriverError("cannot reach into the list view's process");
    }
    ~RemoteListView() { VirtualFreeEx(process_.get(), remote_, 0, MEM_RELEASE); }
    int RowCount() const { return (int)Send(LVM_GETITEMCOUNT, 0, nullptr, 0); }
    std::wstring Text(int row, int column) const {
        LVITEMW item{0, 0, column, 0, 0, (wchar_t*)(remote_ + kItemBytes), kTextChars};
        Send(LVM_GETITEMTEXTW, row, &item, sizeof item);
        std::wstring text(kTextChars, L'\0');
        ReadProcessMemory(process_.get(), remote_ + kItemBytes, &text[0], kTextChars * 2, nullptr);
        return text.substr(0, std::wcslen(text.c_str()));
    }
    std::vector<ListRow> Rows(int columns = 3) const {
        std::vector<ListRow> rows;
        for (int row = 0; row < RowCount(); ++row) {
            LVITEMW item{LVIF_IMAGE | LVIF_STATE, row, 0, 0, LVIS_STATEIMAGEMASK | LVIS_SELECTED};
            Send(LVM_GETITEMW, 0, &item, sizeof item);
            rows.push_back({{},
                            (item.state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2),
                            (item.state & LVIS_SELECTED) != 0,
                            item.iImage});
            for (int column = 0; column < columns; ++column) rows.back().texts.push_back(Text(row, column));
        }
        return rows;
    }
    void SetState(int row, UINT state, UINT mask) {
        LVITEMW item{0, 0, 0, state, mask};
        if (!Send(LVM_SETITEMSTATE, row, &item, sizeof item))
            throw DriverError("cannot change row " + std::to_string(row));
    }
    void SetTicked(int row, bool ticked) { SetState(row, INDEXTOSTATEIMAGEMASK(ticked ? 2 : 1), LVIS_STATEIMAGEMASK); }
    int ColumnWidth(int column) const { return (int)Send(LVM_GETCOLUMNWIDTH, column, nullptr, 0); }
    RECT RowRect(int row, LONG part = LVIR_BOUNDS) const {
        RECT rect{part};
        Send(LVM_GETITEMRECT, row, &rect, sizeof rect);
        return rect;
    }

private:
    static constexpr int kTextChars = 2048;
    static constexpr std::size_t kItemBytes = 128;  // room for an LVITEMW or an LVCOLUMNW

    // Sends a message whose item, if any, is copied there and back.
    LRESULT Send(UINT message, WPARAM wParam, void* item, std::size_t size) const {
        DWORD_PTR result = 0;
        if (size) WriteProcessMemory(process_.get(), remote_, item, size, nullptr);
        if (!SendMessageTimeoutW(list_, message, wParam, size ? (LPARAM)remote_ : 0, SMTO_NORMAL, kTimeoutMs, &result))
            throw DriverError("the list view did not answer message " + std::to_string(message));
        if (size) ReadProcessMemory(process_.get(), remote_, item, size, nullptr);
        return (LRESULT)result;
    }
    HWND list_;
    unique_handle process_;
    char* remote_;
};

}  // namespace velmora::gui
