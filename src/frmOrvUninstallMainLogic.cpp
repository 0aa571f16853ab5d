#include "frmOrvUninstallMainLogic.h"

#include "platform/UniqueAny.h"

namespace velmora {

const char16_t kHandOffProgram[] = u"Drisk.x64";

THandOffRun::THandOffRun(IProcesses& processes)
    : tried_(IsWow64(processes)),
      process_(tried_ ? StartProcess(processes, kHandOffProgram, kSwHide, {}, false, wsProcessOnly) : std::nullopt) {}

void THandOffRun::Wait(const ProcessMessagesProc& processMessages) {
    if (process_) process_->Wait(processMessages);
    process_.reset();
}

void RunHandOffAndMerge(TOrvUninstallReader& inventory, IProcesses& processes,
                        const ProcessMessagesProc& processMessages, THandOffRun* startedAhead) {
    if (!IsWow64(processes)) return;
    // Whatever the companion answers, even when it cannot be started, a file it
    // or an earlier run left is merged.
    if (startedAhead && startedAhead->Tried()) {
        startedAhead->Wait(processMessages);
    } else {
        RunAndWait(processes, processMessages, kHandOffProgram, kSwHide, {}, false, wsProcessOnly);
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
            RunAndWait(processes, processMessages, UninstallCommandLine(entry->UninstallString), kSwShow, view.Window(),
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
        view.MergeHandOff();
        view.PopulateList();
    } catch (...) {
        view.ClearRows();
        throw;
    }
}

namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool EqualsIgnoringCase(const std::u16string& text, const std::u16string& lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (Lower(text[i]) != lower[i]) return false;
    }
    return true;
}

bool IsHex(char16_t c) { return (c >= u'0' && c <= u'9') || (Lower(c) >= u'a' && Lower(c) <= u'f'); }

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, hexadecimal digits in either case.
bool IsProductCode(const std::u16string& text) {
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != u'-' : !IsHex(text[i])) return false;
    }
    return true;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::u16string UninstallCommandLine(const std::u16string& stored) {
    // The program: a quoted first token, or the text up to the first blank.
    std::size_t end = 0;
    std::u16string program;
    if (!stored.empty() && stored[0] == u'"') {
        const std::size_t close = stored.find(u'"', 1);
        if (close == std::u16string::npos) return stored;
        program = stored.substr(1, close - 1);
        end = close + 1;
    } else {
        while (end < stored.size() && !IsBlank(stored[end])) ++end;
        program = stored.substr(0, end);
    }
    const std::size_t slash = program.find_last_of(u"\\/");
    const std::u16string name = slash == std::u16string::npos ? program : program.substr(slash + 1);
    if (!EqualsIgnoringCase(name, u"msiexec") && !EqualsIgnoringCase(name, u"msiexec.exe")) return stored;
    // The switch (after the blanks that end an unquoted program, or right after
    // the closing quote), then the code, blanks allowed before it.
    std::size_t at = end;
    while (at < stored.size() && IsBlank(stored[at])) ++at;
    if (at + 2 > stored.size()) return stored;
    if ((stored[at] != u'/' && stored[at] != u'-') || Lower(stored[at + 1]) != u'i') return stored;
    std::size_t code = at + 2;
    while (code < stored.size() && IsBlank(stored[code])) ++code;
    if (!IsProductCode(stored.substr(code))) return stored;
    std::u16string removal = stored;
    removal[at + 1] = stored[at + 1] == u'I' ? u'X' : u'x';
    return removal;
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

TBounds DpiChangedBounds(int windowDpi, int newDpi, const TBounds& current, const TBounds& suggested) {
    if (newDpi != windowDpi) return suggested;
    return {suggested.Left, suggested.Top, current.Width, current.Height};
}

}  // namespace velmora
