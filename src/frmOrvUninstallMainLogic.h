// The main window's logic that needs no window system: the companion's run and
// the merge of its 64-bit hand-off into the inventory, the uninstall command,
// the layout and first placement arithmetic, and the icon path of an entry. The window calls these with the machine's
// functions; tests call them with substitutes.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Bounds.h"
#include "platform/Processes.h"
#include "unitOrvCInstallUtils.h"
#include "unitOrvUninstallClasses.h"

namespace velmora {

// The 64-bit companion, started by its bare name: the system's search finds it
// beside the running program first.
extern const char16_t kHandOffProgram[];
constexpr int kSwHide = 0;
constexpr int kSwShow = 5;

// The companion's run for one merge, started ahead of it so that it works while
// the window prepares its icons and scans the registry. On 32-bit Windows
// nothing is started. Left without a merge (the scan failed), the companion
// runs to its end unwaited for, and its file is merged next time as any file
// left over is.
class THandOffRun {
public:
    explicit THandOffRun(IProcesses& processes);

    // Whether the start was tried (on 64-bit Windows).
    bool Tried() const { return tried_; }
    // Waits for the companion as RunAndWait waits; at once when it could not
    // be started or has been waited for.
    void Wait(const ProcessMessagesProc& processMessages);

private:
    bool tried_ = false;
    std::optional<TRunningProcess> process_;
};

// On 64-bit Windows, runs the companion hidden (or takes the run started
// ahead), waits for it and appends the entries of its hand-off file; on 32-bit
// Windows does nothing at all.
void RunHandOffAndMerge(TOrvUninstallReader& inventory, IProcesses& processes,
                        const ProcessMessagesProc& processMessages, THandOffRun* startedAhead = nullptr);

// The main window as the uninstall command sees it.
class IUninstallView {
public:
    virtual ~IUninstallView() = default;
    // The window, owner of any consent prompt an uninstaller brings up.
    virtual WindowHandle Window() = 0;
    virtual int RowCount() = 0;
    // Read when the walk reaches the row: the user may tick rows meanwhile.
    virtual bool RowChecked(int row) = 0;
    virtual TOrvUninstallInfo* RowEntry(int row) = 0;
    // The confirmation box; true for Yes.
    virtual bool ConfirmUninstall() = 0;
    virtual void SetUninstallEnabled(bool enabled) = 0;
    // Removes every row (none may lead to an entry a rescan has freed).
    virtual void ClearRows() = 0;
    // The window's merge of the companion's entries into its inventory.
    virtual void MergeHandOff() = 0;
    virtual void PopulateList() = 0;
};

extern const char16_t kUninstallConfirmation[];

// The uninstall command: after a Yes, runs the command line of every ticked row
// from the last row up to the first, each shown and waited for, then rebuilds the
// inventory and the list. The button is disabled throughout and enabled again
// whatever happens. An inventory that could not be created at start-up is
// created anew; a rebuild that fails empties the list before the error passes on.
void UninstallCommand(IUninstallView& view, std::unique_ptr<TOrvUninstallReader>& inventory,
                      const std::function<std::unique_ptr<TOrvUninstallReader>()>& createInventory,
                      IProcesses& processes, const ProcessMessagesProc& processMessages);

// The command line an entry's uninstall starts: the stored one, except for a
// Windows Installer maintenance call, which Windows Installer itself stores
// for the products it installs ("MsiExec.exe /I{product code}") and which
// would only repair or change the product. That one becomes the same call with
// /X, the removal Programs and Features makes. Exactly: msiexec or msiexec.exe,
// with or without a path, quoted or not, letter case ignored; /I or -I; one
// product code in braces; nothing else.
std::u16string UninstallCommandLine(const std::u16string& stored);

// The file path in a DisplayIcon value: the text before the first comma, with a
// leading double quote and the last character removed when it starts with one.
std::u16string ExtractIconPath(const std::u16string& value);

// The controls that follow the window's size.
struct TMainLayout {
    TBounds ListView;
    TBounds UninstallButton;
    TBounds ExitButton;
};

// Anchors the buttons a margin (16 pixels at 96 pixels per inch) above the
// bottom edge, the exit button a margin from the right edge, and lets the list
// fill the space above them, a margin from the right edge and from the buttons.
// No lower bound: a tiny client area gives zero or negative sizes.
void ApplyLayout(TMainLayout& layout, int clientWidth, int clientHeight, int margin = 16);

// Where a window of the given outer size goes when centred on the virtual screen
// (left, top, width, height of the rectangle bounding all monitors); never left
// of or above its top-left corner.
void DesktopCenter(int desktopLeft, int desktopTop, int desktopWidth, int desktopHeight, int width, int height,
                   int& left, int& top);

// The first placement on the desktop (the virtual screen's bounds): centred, at
// the size for the DPI of the monitor where the centred window lands, which may
// not be the monitor the window was made on. outerSize gives the window's size
// at a DPI; dpiAt the DPI of the monitor a rectangle lies on most.
struct TPlacement {
    int Dpi;
    TBounds Bounds;
};
TPlacement FirstPlacement(const TBounds& desktop, int currentDpi, const std::function<TBounds(int dpi)>& outerSize,
                          const std::function<int(const TBounds&)>& dpiAt);

// Where the window goes when Windows tells it of a DPI change: the suggested
// rectangle; but when the DPI is the window's already (Windows may send the
// message for a hidden window's first move or at its first showing, after the
// first placement has sized it), only the suggested position, at the current
// size, so that nothing is scaled twice.
TBounds DpiChangedBounds(int windowDpi, int newDpi, const TBounds& current, const TBounds& suggested);

}  // namespace velmora
