// The application object: the hidden application window, the program icon and
// title, COM on the GUI thread, the message loop and the top-level error display.
// Every window procedure of the program hands the exceptions it catches to
// HandleException, so no C++ exception ever unwinds through Windows.
#pragma once

#include "platform/WindowsHeaders.h"

#include "platform/Text.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace velmora {

// A top-level window the application owns and destroys at the end.
class TForm {
public:
    virtual ~TForm() = default;
    virtual HWND Handle() const = 0;
    // Shows the window for the first time (placement and show state included).
    virtual void ShowFirst(int showCommand) = 0;
};

class TApplication {
public:
    TApplication() = default;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Creates the hidden application window and loads the program icon.
    void Initialize(HINSTANCE instance);
    // Initialises COM for the GUI thread, remembering whether that succeeded.
    void InitializeCom();
    // Gives the one task-bar button to the main window.
    void SetMainFormOnTaskBar(bool value);
    void SetTitle(const std::u16string& title) { title_ = title; }
    const std::u16string& Title() const { return title_; }

    HINSTANCE Instance() const { return instance_; }
    HWND Handle() const { return handle_.get(); }
    HICON Icon() const { return icon_; }
    bool MainFormOnTaskBar() const { return mainFormOnTaskBar_; }

    // Creates the main window; the application owns it from then on.
    void CreateMainForm(const std::function<std::unique_ptr<TForm>()>& create);
    TForm* MainForm() const { return mainForm_.get(); }

    // Shows the main window and runs the message loop until a quit message.
    void Run();
    // Destroys the main window and uninitialises COM.
    void Finish();
    // Dispatches every message waiting in the queue and returns when it is empty.
    // A quit message ends the application: Run's loop ends when control is
    // back in it.
    void ProcessMessages();

    // The top-level error display: shows the exception and lets the program go on.
    void HandleException(std::exception_ptr error) noexcept;
    void ShowException(const std::u16string& message);

private:
    bool ProcessMessage(MSG& msg);

    HINSTANCE instance_ = nullptr;
    unique_hwnd handle_;
    HICON icon_ = nullptr;
    std::u16string title_;
    bool comInitialized_ = false;
    bool mainFormOnTaskBar_ = false;
    bool terminated_ = false;
    std::unique_ptr<TForm> mainForm_;
};

// The program's one application object.
TApplication& Application();

// The exception for a failed Windows call of the program's own: what failed,
// then Windows' text for the error code and the code, "what: text (code)"; only
// what failed when the call left no error code.
Exception WindowsError(const std::u16string& what, DWORD code);

// The program's one message pump, Application().ProcessMessages(): what every
// wait that keeps the window live passes.
void ProcessApplicationMessages();

// Runs a handler, sending any exception it raises to the error display: the
// guard around every handler that Windows calls.
template <typename Handler>
void Guarded(Handler&& handler) noexcept {
    try {
        handler();
    } catch (...) {
        Application().HandleException(std::current_exception());
    }
}

}  // namespace velmora
