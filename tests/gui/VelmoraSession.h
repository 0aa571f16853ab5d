// A run of the real Velmora.exe for the GUI tests: a fresh registry and hand-off
// state, the program copied with Drisk.x64 beside it, and the window's parts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Driver.h"

namespace velmora::gui {

class VelmoraSession {
public:
    VelmoraSession();
    ~VelmoraSession();

    // Starts Velmora and waits for its main window (or, with expectError, for the
    // error box that comes before it; the window is then looked for later).
    void Start(bool expectError = false);
    // Finds the main window and its controls once it is visible.
    void AttachToWindow();

    Process& Program() { return process_; }
    HWND Main() const { return main_; }
    HWND List() const { return list_; }
    HWND UninstallButton() const { return uninstall_; }
    HWND ExitButton() const { return exit_; }
    RemoteListView& Rows() { return *rows_; }
    void Screenshot(const std::wstring& name);

    // The directory Velmora runs from, with a trailing backslash.
    const std::wstring& Directory() const { return directory_; }
    static std::wstring HandOffPath();

private:
    std::wstring directory_;
    Process process_;
    HWND main_ = nullptr;
    HWND list_ = nullptr;
    HWND uninstall_ = nullptr;
    HWND exit_ = nullptr;
    std::unique_ptr<RemoteListView> rows_;
};

// The rows' first-column texts, top to bottom.
std::vector<std::wstring> Names(const std::vector<ListRow>& rows);

}  // namespace velmora::gui
