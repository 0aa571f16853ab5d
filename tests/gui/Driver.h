// Drives a Windows program's window from outside, as a user would: starts the
// program, finds its windows and controls, reads and changes its list view,
// presses buttons, answers its message boxes and takes screenshots.
//
// Every wait has a timeout; a timeout or a refused operation throws DriverError
// with a message saying what was expected, so a test fails instead of hanging.
#pragma once

#include "platform/WindowsHeaders.h"

#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::gui {

class DriverError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// UTF-8 for messages.
std::string Narrow(const std::wstring& text);

// Waits in this library are in milliseconds.
constexpr DWORD kDefaultTimeoutMs = 10000;

// ---------------------------------------------------------------------------
// Processes

// Kills the process if it is still running, then closes the handle.
void KillAndClose(HANDLE process);

// A program started by the driver. Ending the object kills the program if it is
// still running, the last resort of a test's teardown.
class Process {
public:
    // CreateProcessW with the given command line; an empty working directory
    // means the driver's own. showCommand reaches the program through STARTUPINFO.
    static Process Start(const std::wstring& commandLine, const std::wstring& workingDirectory = L"",
                         int showCommand = SW_SHOWNORMAL);

    DWORD Id() const { return id_; }
    HANDLE Handle() const { return handle_.get(); }
    bool IsRunning() const;
    // The exit code; throws if the program is still running after timeoutMs.
    DWORD WaitForExit(DWORD timeoutMs = kDefaultTimeoutMs) const;
    // Terminates the program (if running) and waits for it to be gone.
    void Kill();

private:
    unique_any<HANDLE, &KillAndClose> handle_;
    DWORD id_ = 0;
};

// ---------------------------------------------------------------------------
// Windows and controls

std::wstring WindowText(HWND window);  // WM_GETTEXT, answered by the window's own thread
std::wstring ClassName(HWND window);
DWORD ProcessOf(HWND window);

// The visible top-level window of processId with this caption and class (an
// empty string matches any); nullptr if there is none now.
HWND FindTopLevelWindow(DWORD processId, const std::wstring& caption, const std::wstring& className);
// The same, waiting until such a window is visible.
HWND WaitForTopLevelWindow(DWORD processId, const std::wstring& caption, const std::wstring& className,
                           DWORD timeoutMs = kDefaultTimeoutMs);
// Waits until the window is destroyed or hidden.
void WaitUntilGone(HWND window, DWORD timeoutMs = kDefaultTimeoutMs);

// Waits until the window and its descendants have nothing left to paint and
// the window's thread is idle again, so that a screenshot shows them drawn.
void WaitUntilDrawn(HWND window, DWORD timeoutMs = kDefaultTimeoutMs);

// Descendants of parent with this class and text (empty matches any), in Z order.
std::vector<HWND> FindChildren(HWND parent, const std::wstring& className, const std::wstring& text = L"");
// The first such descendant; throws if there is none.
HWND RequireChild(HWND parent, const std::wstring& className, const std::wstring& text = L"");

// The window's rectangle in its parent's client coordinates (screen
// coordinates for a top-level window).
RECT RectInParent(HWND window);
SIZE ClientSize(HWND window);
bool IsEnabled(HWND window);

// ---------------------------------------------------------------------------
// Input. Everything is posted, so the driver never blocks on a target that is
// showing a modal box.

void ClickButton(HWND button);   // BM_CLICK
void PostClose(HWND window);     // WM_CLOSE
void PostSysClose(HWND window);  // WM_SYSCOMMAND SC_CLOSE, as the title bar's close box
// Keys as keyboard input (a chord such as {VK_MENU, VK_F4}: pressed in order,
// released in reverse): makes the window the foreground window, then sends the
// keys with SendInput.
void PressKeys(HWND window, std::initializer_list<WORD> chord, DWORD timeoutMs = kDefaultTimeoutMs);
// The control that has the keyboard in the window's thread (GetGUIThreadInfo),
// once it is expected or timeoutMs has passed.
HWND WaitForFocus(HWND window, HWND expected, DWORD timeoutMs = kDefaultTimeoutMs);

// Posts SC_MAXIMIZE / SC_RESTORE and waits until the client size has changed
// and settled; answers the new client size.
SIZE Maximize(HWND window, DWORD timeoutMs = kDefaultTimeoutMs);
SIZE Restore(HWND window, DWORD timeoutMs = kDefaultTimeoutMs);
// Asks for this client size (the frame kept as it is) and waits as above.
SIZE ResizeClient(HWND window, int width, int height, DWORD timeoutMs = kDefaultTimeoutMs);

// The time a WM_NULL takes to be answered by the window's thread, in
// milliseconds; nullopt if no answer came within timeoutMs (the thread is busy).
std::optional<double> RoundTripMs(HWND window, DWORD timeoutMs);

// ---------------------------------------------------------------------------
// Message boxes

struct MessageBoxInfo {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;  // the IDOK/IDYES/... of its buttons, in Z order
};

// Waits for a visible dialog-class window ("#32770") of processId, with this
// caption unless caption is empty.
HWND WaitForMessageBox(DWORD processId, const std::wstring& caption = L"", DWORD timeoutMs = kDefaultTimeoutMs);
MessageBoxInfo ReadMessageBox(HWND box);
// Clicks the box's button with this id (IDOK, IDYES, IDNO, ...); throws if the
// box has no such button.
void AnswerMessageBox(HWND box, int buttonId);

// ---------------------------------------------------------------------------
// A list view in another process. The item structures and text buffers are
// placed in the target's memory, which needs both programs to be of the same
// bitness; the constructor refuses otherwise.

struct ListRow {
    std::vector<std::wstring> texts;  // one per column
    bool ticked = false;              // state image 2 of a check-box list
    int image = -1;
    bool selected = false;
    bool focused = false;
};

class RemoteListView {
public:
    explicit RemoteListView(HWND listView, DWORD timeoutMs = kDefaultTimeoutMs);
    RemoteListView(const RemoteListView&) = delete;
    RemoteListView& operator=(const RemoteListView&) = delete;
    ~RemoteListView();

    HWND Window() const { return listView_; }
    int RowCount() const;
    int ColumnCount() const;
    std::vector<std::wstring> HeaderTexts() const;
    int ColumnWidth(int column) const;

    std::wstring Text(int row, int column) const;
    int StateImage(int row) const;  // 0 none, 1 unticked, 2 ticked
    bool IsTicked(int row) const { return StateImage(row) == 2; }
    int Image(int row) const;
    RECT RowRect(int row) const;  // LVIR_BOUNDS, in the list's client coordinates
    ListRow Row(int row) const;
    std::vector<ListRow> Rows() const;

    void SetTicked(int row, bool ticked);
    // Selects exactly these rows and focuses the first of them.
    void SelectRows(const std::vector<int>& rows);

private:
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) const;
    void SetState(int row, UINT state, UINT mask);

    HWND listView_;
    DWORD timeoutMs_;
    unique_handle process_;
    void* remote_ = nullptr;  // an item structure followed by a text buffer, in the target
};

// ---------------------------------------------------------------------------
// Screenshots

// Writes the whole virtual screen to path as a 24-bit BMP.
void SaveScreenshot(const std::wstring& path);
// dir\name.bmp, dir being VELMORA_SCREENSHOTS (created if missing) or, without
// it, the temporary directory.
std::wstring ScreenshotPath(const std::wstring& name);

}  // namespace velmora::gui
