// Drives a Windows program's window from outside, as a user would: starts the
// program, finds its windows and controls, reads and ticks its list view,
// presses buttons, answers its message boxes and takes screenshots. Every wait
// has a timeout; a timeout or a refused operation throws DriverError saying
// what was expected, so a test fails instead of hanging.
#pragma once

#include "platform/WindowsHeaders.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::gui {

class DriverError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Narrow(const std::wstring& text);  // UTF-8, for messages

constexpr DWORD kTimeoutMs = 20000;

// A started program; killed when the object goes, if still running.
class Process {
public:
    explicit Process(const std::wstring& commandLine, const std::wstring& directory = L"");
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();
    DWORD Id() const { return id_; }
    bool IsRunning() const { return WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT; }
    // The exit code; throws if still running after timeoutMs.
    DWORD WaitForExit(DWORD timeoutMs = kTimeoutMs) const;

private:
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
};

// Polls until the condition holds; throws saying `what` after timeoutMs.
void WaitUntil(const std::function<bool()>& condition, const std::string& what, DWORD timeoutMs = kTimeoutMs);

std::wstring WindowText(HWND window);
// The visible top-level window of the process with this caption and class
// (empty matches any): nullptr when there is none now, or waited for.
HWND FindTopLevelWindow(DWORD processId, const std::wstring& caption, const std::wstring& className);
HWND WaitForTopLevelWindow(DWORD processId, const std::wstring& caption, const std::wstring& className,
                           DWORD timeoutMs = kTimeoutMs);
// The first descendant with this class and text (empty matches any); throws if none.
HWND RequireChild(HWND parent, const std::wstring& className, const std::wstring& text = L"");
// The window's rectangle in its parent's client coordinates (the screen's for a top-level one).
RECT RectInParent(HWND window);
SIZE ClientSize(HWND window);
bool IsEnabled(HWND window);

// Input is posted, so the driver never blocks on a program showing a modal box.
void ClickButton(HWND button);
void Post(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// Alt+F4 as keyboard input, to the window made the foreground window first.
void PressAltF4(HWND window);
// The time a WM_NULL takes to be answered; nullopt if none came within timeoutMs.
std::optional<double> RoundTripMs(HWND window, DWORD timeoutMs);
// Waits until the window and its children have nothing left to paint.
void WaitUntilDrawn(HWND window);

struct MessageBoxInfo {
    HWND owner = nullptr;
    std::wstring text;
    std::vector<int> buttons;  // IDOK, IDYES, ... in Z order
};
HWND WaitForMessageBox(DWORD processId, const std::wstring& caption = L"", DWORD timeoutMs = kTimeoutMs);
MessageBoxInfo ReadMessageBox(HWND box);
void AnswerMessageBox(HWND box, int buttonId);

// A list view of another process of the same bitness: item structures and
// texts travel through a block of the target's memory.
struct ListRow {
    std::vector<std::wstring> texts;  // one per column
    bool ticked = false;
    bool selected = false;
    int image = -1;
};

class RemoteListView {
public:
    explicit RemoteListView(HWND listView);
    RemoteListView(const RemoteListView&) = delete;
    RemoteListView& operator=(const RemoteListView&) = delete;
    ~RemoteListView();
    int RowCount() const;
    std::wstring Text(int row, int column) const;
    std::vector<ListRow> Rows() const;
    // Column captions and widths.
    std::vector<std::pair<std::wstring, int>> Columns() const;
    void SetTicked(int row, bool ticked);
    void Select(int row);

private:
    LRESULT Send(UINT message, WPARAM wParam, void* item) const;
    std::wstring ReadText() const;
    template <typename T> T Read() const;
    template <typename T> void Write(const T& value) const;
    HWND list_;
    HANDLE process_ = nullptr;
    char* remote_ = nullptr;  // an item structure, then a text buffer
};

// Writes the screen as dir\name.bmp, dir being VELMORA_SCREENSHOTS or the temporary directory.
void SaveScreenshot(const std::wstring& name);

}  // namespace velmora::gui
