#include "platform/Application.h"

#include <objbase.h>

#include <string>
#include <vector>

#include "platform/Text.h"

namespace velmora {

namespace {

const wchar_t kApplicationClass[] = L"TApplication";

// The message of an exception, or of the innermost one it wraps when that has a
// message of its own.
std::u16string MessageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return u"Out of memory";
    } catch (const std::exception& e) {
        const auto* own = dynamic_cast<const Exception*>(&e);
        std::u16string message = own ? own->Message() : FromUtf8(e.what());
        try {
            std::rethrow_if_nested(e);
        } catch (...) {
            const std::u16string inner = MessageOf(std::current_exception());
            if (!inner.empty()) message = inner;
        }
        return message;
    } catch (...) {
        return u"Unknown error";
    }
}

bool IsAbort(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        return true;
    } catch (...) {
        return false;
    }
}

// Disables one of the thread's top-level windows, if visible and enabled, and
// adds it to the list of windows to enable again. Without the memory to
// remember it, it and the windows after it stay enabled.
BOOL CALLBACK DisableTaskWindow(HWND window, LPARAM list) noexcept {
    if (IsWindowVisible(window) && IsWindowEnabled(window)) {
        try {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        } catch (...) {
            return FALSE;
        }
        EnableWindow(window, FALSE);
    }
    return TRUE;
}

}  // namespace

TApplication& Application() {
    static TApplication application;
    return application;
}

void ProcessApplicationMessages() { Application().ProcessMessages(); }

Exception WindowsError(const std::u16string& what, DWORD code) {
    if (code == ERROR_SUCCESS) return Exception(what);
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string reason = length ? FromWide(text, length) : std::u16string();
    LocalFree(text);
    // Windows ends its texts with a full stop and a line break.
    while (!reason.empty() &&
           (reason.back() == u'\r' || reason.back() == u'\n' || reason.back() == u'.' || reason.back() == u' ')) {
        reason.pop_back();
    }
    const std::string number = std::to_string(code);
    return Exception(what + u": " + (reason.empty() ? u"" : reason + u" ") + u"(" +
                     std::u16string(number.begin(), number.end()) + u")");
}

void TApplication::Initialize(HINSTANCE instance) {
    instance_ = instance;
    icon_ = LoadIconW(instance, L"MAINICON");
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon_;
    windowClass.lpszClassName = kApplicationClass;
    if (!RegisterClassW(&windowClass)) {
        // An application initialised again finds its class registered already.
        const DWORD error = GetLastError();
        if (error != ERROR_CLASS_ALREADY_EXISTS) {
            throw WindowsError(u"Cannot register the application window's class", error);
        }
    }
    // Never shown: it only anchors the application (message boxes without an
    // active window, the task-bar setting).
    handle_.reset(CreateWindowExW(0, kApplicationClass, L"",
                                  WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                                  GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr,
                                  nullptr, instance, nullptr));
    if (!handle_) throw WindowsError(u"Cannot create the application window", GetLastError());
}

void TApplication::InitializeCom() { comInitialized_ = SUCCEEDED(CoInitialize(nullptr)); }

void TApplication::SetMainFormOnTaskBar(bool value) {
    mainFormOnTaskBar_ = value;
    if (value && handle_) {
        // The hidden window must not get a task-bar button of its own.
        SetWindowLongPtrW(handle_.get(), GWL_EXSTYLE, GetWindowLongPtrW(handle_.get(), GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
    }
}

void TApplication::CreateMainForm(const std::function<std::unique_ptr<TForm>()>& create) {
    mainForm_ = create();
    if (mainFormOnTaskBar_ && handle_) {
        const LONG_PTR style = GetWindowLongPtrW(handle_.get(), GWL_EXSTYLE);
        SetWindowLongPtrW(handle_.get(), GWL_EXSTYLE,
                          (style | WS_EX_NOACTIVATE) & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW));
    }
}

void TApplication::Run() {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const int showCommand = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWNORMAL;
    // Without a main window there is nothing to run: the program ends rather
    // than wait for messages with no window.
    if (!mainForm_) return;
    Guarded([&] { mainForm_->ShowFirst(showCommand); });
    while (!terminated_) {
        MSG msg;
        if (!ProcessMessage(msg)) WaitMessage();
    }
}

void TApplication::Finish() {
    mainForm_.reset();
    if (comInitialized_) {
        CoUninitialize();
        comInitialized_ = false;
    }
}

bool TApplication::ProcessMessage(MSG& msg) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        terminated_ = true;
        return true;
    }
    // Tab and arrow keys move between the main window's controls.
    const HWND main = mainForm_ ? mainForm_->Handle() : nullptr;
    if (main && IsDialogMessageW(main, &msg)) return true;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (ProcessMessage(msg)) {}
}

void TApplication::HandleException(std::exception_ptr error) noexcept {
    try {
        if (const HWND capture = GetCapture()) SendMessageW(capture, WM_CANCELMODE, 0, 0);
        if (IsAbort(error)) return;
        ShowException(MessageOf(error));
    } catch (...) {
        // Nothing is left to report with; the program goes on.
    }
}

void TApplication::ShowException(const std::u16string& message) {
    const std::u16string text = ExceptionDisplayText(message);
    const HWND hidden = handle_.get();
    const HWND active = GetActiveWindow();
    const HWND focus = GetFocus();
    HWND owner = active ? active : (hidden ? GetLastActivePopup(hidden) : nullptr);
    // The hidden window has no task-bar button, and a box it owned would have
    // none either. While no main window is visible (an error at start-up) the
    // box stands alone, with a button of its own to find it by; once one is,
    // the box is the main window's, in front of it even when another program
    // is active, so that it never hides behind the window it blocks.
    if (!owner || owner == hidden) {
        const HWND main = mainForm_ ? mainForm_->Handle() : nullptr;
        owner = main && IsWindowVisible(main) ? main : nullptr;
    }
    UINT flags = MB_OK | MB_ICONSTOP;
    DWORD layout = 0;
    if (GetProcessDefaultLayout(&layout) && (layout & LAYOUT_RTL)) flags |= MB_RTLREADING;

    // Let the box open on the monitor of the active window: it centres on its
    // owner, which may be the hidden application window.
    RECT hiddenRect = {};
    bool moved = false;
    if (active && hidden && GetWindowRect(hidden, &hiddenRect) &&
        MonitorFromWindow(active, MONITOR_DEFAULTTONEAREST) != MonitorFromWindow(hidden, MONITOR_DEFAULTTONEAREST)) {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        if (GetMonitorInfoW(MonitorFromWindow(active, MONITOR_DEFAULTTONEAREST), &monitor)) {
            const RECT& area = monitor.rcWork;
            SetWindowPos(hidden, nullptr, (area.left + area.right) / 2, (area.top + area.bottom) / 2, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            moved = true;
        }
    }
    {
        // The thread's other windows are disabled while the box is shown.
        std::vector<HWND> disabled;
        EnumThreadWindows(GetCurrentThreadId(), DisableTaskWindow, reinterpret_cast<LPARAM>(&disabled));
        const scope_exit enable([&] {
            for (const HWND window : disabled) {
                if (IsWindow(window)) EnableWindow(window, TRUE);
            }
        });
        MessageBoxW(owner, Wide(text), Wide(title_), flags);
    }
    if (moved) {
        SetWindowPos(hidden, nullptr, hiddenRect.left, hiddenRect.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (active && IsWindow(active)) SetActiveWindow(active);
    if (focus && IsWindow(focus)) SetFocus(focus);
}

}  // namespace velmora
