#include "frmOrvUninstallMainLogic.h"

#include "platform/UniqueAny.h"

namespace velmora {

const char16_t kHandOffProgram[] = u"Drisk.x64";

THandOffRun::THandOffRun(IProcesses& processes)
    : tried_(IsWow64(processes)), process_(tried_ ? StartProcess(processes, kHandOffProgram, kSwHide, 0, false, wsProcessOnly) : std::nullopt) {}

void THandOffRun::Wait(const ProcessMessagesProc& processMessages) {
    if (process_) process_->Wait(processMessages);
    process_.reset();
}

void MergeHandOffInventory(TOrvUninstallReader& inventory, IProcesses& processes,
                           const ProcessMessagesProc& processMessages, THandOffRun* startedAhead) {
    if (!IsWow64(processes)) return;
    // Whatever the companion answers, even when it cannot be started, a file it
    // or an earlier run left is merged.
    if (startedAhead && startedAhead->Tried()) {
        startedAhead->Wait(processMessages);
    } else {
        RunAndWait(processes, processMessages, kHandOffProgram, kSwHide, 0, false, wsProcessOnly);
    }
    inventory.LoadFromHandOffFile();
}

const char16_t kUninstallConfirmation[] = u"确定要卸载选择的软件/插件吗？";

void UninstallCommand(IUninstallView& view, std::unique_ptr<TOrvUninstallReader>& inventory,
                      const std::function<std::unique_ptr<TOrvUninstallReader>()>& createInventory,
                      IProcesses& processes, const ProcessMessagesProc& processMessages) {
    view.SetUninstallEnabled(false);
    // Enabled again however the command ends.
    const scope_exit enable([&] { view.SetUninstallEnabled(true); });
    if (!view.ConfirmUninstall()) return;

    // Bottom to top; no row is added or removed before the rebuild, so the
    // indexes hold. A command that cannot start or fails is passed over. An
    // entry that came through the companion (it has no key name) belongs to the
    // 64-bit side and starts as Windows' own 64-bit list would start it.
    for (int row = view.RowCount() - 1; row >= 0; --row) {
        if (!view.RowChecked(row)) continue;
        if (const TOrvUninstallInfo* entry = view.RowEntry(row)) {
            RunAndWait(processes, processMessages, entry->UninstallString, kSwShow, view.Window(),
                       entry->KeyName.empty());
        }
    }

    if (!inventory) {
        // Start-up could not create it: try again; the list is empty meanwhile.
        view.ClearRows();
        inventory = createInventory();
    } else {
        try {
            inventory->Refresh();
        } catch (...) {
            // The rows now refer to freed entries: they must go before anything
            // can follow them.
            view.ClearRows();
            throw;
        }
    }
    try {
        view.MergeHandOffInventory();
        view.PopulateList();
    } catch (...) {
        view.ClearRows();
        throw;
    }
}

std::u16string ExtractIconPath(const std::u16string& value) {
    std::u16string path = value.substr(0, value.find(u','));
    if (path.empty()) return path;
    if (path[0] == u'"') {
        // Both ends go, whatever the last character is.
        path = path.size() >= 2 ? path.substr(1, path.size() - 2) : std::u16string();
    }
    return path;
}

void ApplyLayout(TMainLayout& layout, int clientWidth, int clientHeight, int margin) {
    layout.UninstallButton.Top = clientHeight - margin - layout.UninstallButton.Height;
    layout.ExitButton.Top = layout.UninstallButton.Top;
    layout.ExitButton.Left = clientWidth - margin - layout.ExitButton.Width;
    layout.ListView.Width = clientWidth - 2 * margin;
    layout.ListView.Height = layout.ExitButton.Top - margin - layout.ListView.Top;
}

void DesktopCenter(int desktopLeft, int desktopTop, int desktopWidth, int desktopHeight, int width, int height,
                   int& left, int& top) {
    // Integer division truncates toward zero, as the placement rule asks.
    left = desktopLeft + desktopWidth / 2 - width / 2;
    top = desktopTop + desktopHeight / 2 - height / 2;
    if (left < desktopLeft) left = desktopLeft;
    if (top < desktopTop) top = desktopTop;
}

TPlacement FirstPlacement(const TBounds& desktop, int currentDpi, const std::function<TBounds(int dpi)>& outerSize,
                          const std::function<int(const TBounds&)>& dpiAt) {
    auto centred = [&](int dpi) {
        TBounds bounds = outerSize(dpi);
        DesktopCenter(desktop.Left, desktop.Top, desktop.Width, desktop.Height, bounds.Width, bounds.Height,
                      bounds.Left, bounds.Top);
        return bounds;
    };
    TPlacement placement{currentDpi, centred(currentDpi)};
    // Sized for where it lands, and centred again at that size.
    const int dpi = dpiAt(placement.Bounds);
    if (dpi != currentDpi) placement = {dpi, centred(dpi)};
    return placement;
}

}  // namespace velmora
