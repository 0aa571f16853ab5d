#include "frmOrvUninstallMain.h"

#include <iterator>
#include <vector>

#include "LibrarySearch.h"
#include "frmOrvUninstallMainLogic.h"
#include "platform/Processes.h"
#include "unitOrvCInstallUtils.h"

namespace velmora {

namespace {

const wchar_t kMainFormClass[] = L"TOrvUninstallMainForm";

// The design's pixel sizes are for 96 pixels per inch.
constexpr int kDesignDpi = 96;
constexpr UINT kWmDpiChanged = 0x02E0;  // WM_DPICHANGED, Windows 8.1 and later

// Functions of newer Windows, looked up at run time: Windows 7 and 8 lack them.
HMODULE User32() { return GetModuleHandleW(L"user32.dll"); }

// The DPI of a monitor (Windows 8.1 and later); before, the system's.
int MonitorDpi(HMONITOR monitor) {
    using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto getDpiForMonitor =
        LookUpFunction<GetDpiForMonitorFunction>(LoadSystemLibrary(L"shcore.dll"), "GetDpiForMonitor");
    UINT x = 0;
    UINT y = 0;
    // MDT_EFFECTIVE_DPI.
    if (monitor && getDpiForMonitor && getDpiForMonitor(monitor, 0, &x, &y) == S_OK && y > 0)
        return static_cast<int>(y);
    int dpi = 0;
    if (const unique_screen_dc screen{GetDC(nullptr)}) dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? dpi : kDesignDpi;
}

// The DPI of the window's monitor.
int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = LookUpFunction<GetDpiForWindowFunction>(User32(), "GetDpiForWindow");
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(hwnd)) return static_cast<int>(dpi);
    }
    // Windows 8.1 to 10 1511: the monitor's own.
    return MonitorDpi(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST));
}

// The outer size of a window with this client rectangle: with the frame sizes
// of that DPI where Windows can tell them, else with the system's.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi) {
    using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = LookUpFunction<AdjustWindowRectExForDpiFunction>(User32(), "AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    }
}

// The controls' ids: WM_COMMAND names the control by its id.
enum : int { idListView = 100, idUninstallButton = 101, idExitButton = 102 };

// One control as designed: its bounds and its caption.
struct TControlDesign {
    TBounds Bounds;
    const char16_t* Caption;
};

// The window as designed (96 pixels per inch, text height 12): its properties,
// its controls in creation (and tab) order, and the list's columns.
struct TMainFormDescription {
    static constexpr const char16_t* Caption = u"Velmora";
    static constexpr int ClientWidth = 792;
    static constexpr int ClientHeight = 486;
    static constexpr int Color = COLOR_BTNFACE;
    static constexpr const char16_t* FontName = u"宋体";
    static constexpr int FontHeight = -12;
    static constexpr BYTE FontCharset = GB2312_CHARSET;

    static constexpr TControlDesign Label1 = {{16, 16, 96, 12}, u"当前安装的程序："};
    static constexpr TControlDesign ListView = {{16, 40, 761, 393}, nullptr};
    static constexpr TControlDesign UninstallButton = {{16, 448, 75, 25}, u"卸载"};
    static constexpr TControlDesign ExitButton = {{704, 448, 75, 25}, u"退出"};
    static constexpr int TileSize = 24;   // the ImageList's images
    static constexpr int IconOffset = 4;  // where a tile's icon starts

    static constexpr TListView::TColumn Columns[3] = {
        {u"软件插件名称", 300},
        {u"厂商签名", 140},
        {u"描述", 280},
    };
};

// The window's font in a height of pixels (negative: the character height).
HFONT CreateDescriptionFont(int height) {
    using D = TMainFormDescription;
    LOGFONTW logFont = {};
    logFont.lfHeight = height;
    logFont.lfWeight = FW_NORMAL;
    logFont.lfCharSet = D::FontCharset;
    lstrcpynW(logFont.lfFaceName, Wide(D::FontName), LF_FACESIZE);
    return CreateFontIndirectW(&logFont);
}

}  // namespace

TOrvUninstallMainForm::TOrvUninstallMainForm() {
    // A failure here leaves nothing behind: the window, its user data cleared
    // first, and the font go with their owners.
    LoadDescription();
    Guarded([this] { FormCreate(); });
}

TOrvUninstallMainForm::~TOrvUninstallMainForm() {
    if (hwnd_) ShowWindow(Handle(), SW_HIDE);
    Guarded([this] { FormDestroy(); });
    // The rows still refer to entries FormDestroy has freed; the controls go
    // with the window, without anything following those references.
}

void TOrvUninstallMainForm::LoadDescription() {
    using D = TMainFormDescription;
    loading_ = true;
    const HINSTANCE instance = Application().Instance();

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = &TOrvUninstallMainForm::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = Application().Icon();
    windowClass.hIconSm = Application().Icon();
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(D::Color + 1));
    windowClass.lpszClassName = kMainFormClass;
    if (!RegisterClassExW(&windowClass)) {
        // A second window of the class finds it registered already.
        const DWORD error = GetLastError();
        if (error != ERROR_CLASS_ALREADY_EXISTS) throw WindowsError(u"Cannot register the main window's class", error);
    }

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD exStyle = Application().MainFormOnTaskBar() ? WS_EX_APPWINDOW : 0;
    RECT outer = {0, 0, D::ClientWidth, D::ClientHeight};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    // WM_NCCREATE hands the window to hwnd_.
    if (!CreateWindowExW(exStyle, kMainFormClass, Wide(D::Caption), style, CW_USEDEFAULT, CW_USEDEFAULT,
                         outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance, this)) {
        const DWORD error = GetLastError();
        // A window whose creation failed is destroyed already.
        hwnd_.release();
        throw WindowsError(u"Cannot create the main window", error);
    }
    const HWND hwnd = Handle();

    font_.reset(CreateDescriptionFont(D::FontHeight));
    Label1.Create(hwnd, D::Label1.Caption, D::Label1.Bounds, font_.get());
    ListView.Create(hwnd, D::ListView.Bounds, idListView, {std::begin(D::Columns), std::end(D::Columns)});
    UninstallButton.Create(hwnd, D::UninstallButton.Caption, D::UninstallButton.Bounds, idUninstallButton);
    ExitButton.Create(hwnd, D::ExitButton.Caption, D::ExitButton.Bounds, idExitButton);
    SetControlsFont(font_.get());
    Tiles.Redraw(TileGeometry());

    // On a monitor at another DPI than the design's, everything is scaled,
    // the client area included.
    const int dpi = WindowDpi(hwnd);
    if (dpi != kDesignDpi) {
        ScaleTo(dpi);
        RECT scaled = {0, 0, Scaled(D::ClientWidth), Scaled(D::ClientHeight)};
        AdjustWindowRectForDpi(scaled, style, exStyle, dpi);
        SetWindowPos(hwnd, nullptr, 0, 0, scaled.right - scaled.left, scaled.bottom - scaled.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    loading_ = false;
}

void TOrvUninstallMainForm::SetControlsFont(HFONT font) {
    for (const TControl* control :
         std::initializer_list<const TControl*>{&Label1, &ListView, &UninstallButton, &ExitButton}) {
        SendMessageW(control->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), loading_ ? FALSE : TRUE);
    }
}

int TOrvUninstallMainForm::Scaled(int designPixels) const { return MulDiv(designPixels, dpi_, kDesignDpi); }

TBounds TOrvUninstallMainForm::Scaled(const TBounds& design) const {
    return {Scaled(design.Left), Scaled(design.Top), Scaled(design.Width), Scaled(design.Height)};
}

void TOrvUninstallMainForm::ScaleTo(int dpi) {
    using D = TMainFormDescription;
    const int oldDpi = dpi_;
    dpi_ = dpi;
    if (const HFONT font = CreateDescriptionFont(Scaled(D::FontHeight))) {
        SetControlsFont(font);
        font_.reset(font);
    }
    // The description's bounds, scaled; the layout then sets what follows the
    // window's size.
    Label1.Fit(Scaled(D::Label1.Bounds.Left), Scaled(D::Label1.Bounds.Top), font_.get());
    ListView.SetBounds(Scaled(D::ListView.Bounds));
    UninstallButton.SetBounds(Scaled(D::UninstallButton.Bounds));
    ExitButton.SetBounds(Scaled(D::ExitButton.Bounds));
    // Attached again, the list takes the new tile size for its row height.
    Tiles.Redraw(TileGeometry());
    // The columns keep the widths the user gave them, at the new scale.
    for (int column = 0; column < static_cast<int>(std::size(D::Columns)); ++column) {
        ListView.SetColumnWidth(column, MulDiv(ListView.ColumnWidth(column), dpi, oldDpi));
    }
}

void TOrvUninstallMainForm::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    const int windowDpi = dpi_;
    const int dpi = HIWORD(wParam);
    if (ListView.Handle() && dpi != windowDpi) ScaleTo(dpi);
    // The suggested rectangle keeps the window where the user put it, at the new scale.
    const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
    RECT current = {};
    GetWindowRect(Handle(), &current);
    const TBounds at = DpiChangedBounds(
        windowDpi, dpi, {current.left, current.top, current.right - current.left, current.bottom - current.top},
        {suggested.left, suggested.top, suggested.right - suggested.left, suggested.bottom - suggested.top});
    SetWindowPos(Handle(), nullptr, at.Left, at.Top, at.Width, at.Height, SWP_NOZORDER | SWP_NOACTIVATE);
    // Also when the client size stayed the same, the new sizes need the layout.
    if (!loading_) FormResize();
}

LRESULT CALLBACK TOrvUninstallMainForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* form = static_cast<TOrvUninstallMainForm*>(create->lpCreateParams);
        form->hwnd_.reset(hwnd);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TOrvUninstallMainForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcW(hwnd, message, wParam, lParam);
    // A message whose handling failed answers 0.
    LRESULT result = 0;
    Guarded([&] { result = form->HandleMessage(message, wParam, lParam); });
    return result;
}

LRESULT TOrvUninstallMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            if (!loading_) {
                resized_ = true;
                FormResize();
            }
            return 0;
        case WM_COMMAND:
            OnCommand(wParam, lParam);
            return 0;
        case WM_ACTIVATE:
            // Remember the control that had the keyboard, to give it back when
            // the window is active again.
            if (LOWORD(wParam) == WA_INACTIVE) {
                const HWND focus = GetFocus();
                if (focus && IsChild(Handle(), focus)) lastFocus_ = focus;
            }
            return DefWindowProcW(Handle(), message, wParam, lParam);
        case WM_SETFOCUS:
            FocusControl();
            return 0;
        case WM_CLOSE:
            Close();
            return 0;
        case kWmDpiChanged:
            OnDpiChanged(wParam, lParam);
            return 0;
        default:
            return DefWindowProcW(Handle(), message, wParam, lParam);
    }
}

void TOrvUninstallMainForm::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) != BN_CLICKED) return;
    int id = LOWORD(wParam);
    // Enter, as the dialog manager reports it for a window that is no dialog:
    // it presses the button that has the keyboard.
    if (id == IDOK && !lParam) {
        const HWND focus = GetFocus();
        id = focus && GetParent(focus) == Handle() ? GetDlgCtrlID(focus) : 0;
    }
    switch (id) {
        case idUninstallButton:
            UninstallButtonClick();
            break;
        case idExitButton:
            ExitButtonClick();
            break;
        default:
            break;
    }
}

void TOrvUninstallMainForm::ShowFirst(int showCommand) {
    if (!firstShown_) {
        firstShown_ = true;
        using D = TMainFormDescription;
        const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE));
        const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE));
        const TPlacement placement = FirstPlacement(
            {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
             GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)},
            dpi_,
            [&](int dpi) {
                RECT outer = {0, 0, MulDiv(D::ClientWidth, dpi, kDesignDpi), MulDiv(D::ClientHeight, dpi, kDesignDpi)};
                AdjustWindowRectForDpi(outer, style, exStyle, dpi);
                return TBounds{0, 0, outer.right - outer.left, outer.bottom - outer.top};
            },
            [](const TBounds& at) {
                const RECT rect = {at.Left, at.Top, at.Left + at.Width, at.Top + at.Height};
                return MonitorDpi(MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST));
            });
        // A hidden window is not told of a new monitor's DPI: it takes it here.
        if (placement.Dpi != dpi_) ScaleTo(placement.Dpi);
        const TBounds& at = placement.Bounds;
        SetWindowPos(Handle(), nullptr, at.Left, at.Top, at.Width, at.Height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    int state = SW_SHOWNORMAL;
    if (showCommand == SW_SHOWMAXIMIZED) state = SW_SHOWMAXIMIZED;
    else if (showCommand == SW_SHOWMINNOACTIVE) state = SW_SHOWMINNOACTIVE;
    ShowWindow(Handle(), state);
    // The platform normally sends the first size notification by now; make sure
    // the layout is in force from the start either way.
    if (!resized_) {
        resized_ = true;
        FormResize();
    }
    UpdateWindow(Handle());
}

// The keyboard goes to the control that last had it, or to the list; never to
// the window itself, where no key would do anything, nor to a disabled button.
void TOrvUninstallMainForm::FocusControl() {
    HWND target = lastFocus_;
    if (!target || !IsWindow(target) || !IsWindowEnabled(target) || !IsWindowVisible(target))
        target = ListView.Handle();
    if (target) SetFocus(target);
}

void TOrvUninstallMainForm::FocusList() {
    lastFocus_ = ListView.Handle();
    if (GetActiveWindow() == Handle()) FocusControl();
}

void TOrvUninstallMainForm::Close() {
    // The main window ends the application; it is neither hidden nor destroyed here.
    PostQuitMessage(0);
}

// ---------------------------------------------------------------------------
// Handlers

void TOrvUninstallMainForm::FormCreate() {
    // The companion works in its own process while the icons are prepared and
    // the registry is scanned; the merge waits for it.
    THandOffRun handOff(SystemProcesses());
    SysImageList = std::make_unique<TOrvCSysImageList>(Application().Instance());
    UninstallReader = std::make_unique<TOrvUninstallReader>();
    MergeHandOffInventory(&handOff);
    PopulateList();
}

void TOrvUninstallMainForm::FormDestroy() { UninstallReader.reset(); }

void TOrvUninstallMainForm::FormResize() {
    RECT client = {};
    GetClientRect(Handle(), &client);
    TMainLayout layout{ListView.Bounds(), UninstallButton.Bounds(), ExitButton.Bounds()};
    ApplyLayout(layout, client.right - client.left, client.bottom - client.top, Scaled(16));
    UninstallButton.SetBounds(layout.UninstallButton);
    ExitButton.SetBounds(layout.ExitButton);
    ListView.SetBounds(layout.ListView);
}

void TOrvUninstallMainForm::ExitButtonClick() { Close(); }

void TOrvUninstallMainForm::MergeHandOffInventory(THandOffRun* startedAhead) {
    RunHandOffAndMerge(*UninstallReader, SystemProcesses(), ProcessApplicationMessages, startedAhead);
}

namespace {

// The window's list, button and confirmation box as the uninstall command uses them.
class TMainFormUninstallView final : public IUninstallView {
public:
    TMainFormUninstallView(TOrvUninstallMainForm& form, HWND window) : form_(form), window_(window) {}

    WindowHandle Window() override { return ToSeam<WindowHandle>(window_); }
    int RowCount() override { return form_.ListView.Count(); }
    bool RowChecked(int row) override { return form_.ListView.Checked(row); }
    TOrvUninstallInfo* RowEntry(int row) override { return static_cast<TOrvUninstallInfo*>(form_.ListView.Data(row)); }
    bool ConfirmUninstall() override {
        return MessageBoxW(window_, Wide(kUninstallConfirmation), Wide(Application().Title()),
                           MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    void SetUninstallEnabled(bool enabled) override { form_.UninstallButton.SetEnabled(enabled); }
    void ClearRows() override { form_.ListView.Clear(); }
    void MergeHandOff() override { form_.MergeHandOffInventory(); }
    void PopulateList() override { form_.PopulateList(); }

private:
    TOrvUninstallMainForm& form_;
    HWND window_;
};

}  // namespace

void TOrvUninstallMainForm::UninstallButtonClick() {
    TMainFormUninstallView view(*this, Handle());
    // The keyboard is back on the list when the command ends, however it ends.
    const scope_exit focusList([this] { FocusList(); });
    UninstallCommand(
        view, UninstallReader, [] { return std::make_unique<TOrvUninstallReader>(); }, SystemProcesses(),
        ProcessApplicationMessages);
}

// ---------------------------------------------------------------------------
// The list fill

TTileGeometry TOrvUninstallMainForm::TileGeometry() const {
    using D = TMainFormDescription;
    return {Scaled(D::TileSize), Scaled(D::IconOffset), dpi_};
}

void TOrvUninstallMainForm::PopulateList() {
    // The list's drawing stays suspended for the fill, whatever happens.
    ListView.BeginUpdate();
    const scope_exit endUpdate([this] { ListView.EndUpdate(); });
    ListView.Clear();

    // Every entry with an icon gets a tile of its own, after the default tile.
    const std::size_t count = UninstallReader ? UninstallReader->Entries.Count() : 0;
    std::vector<int> tileIcons{SysImageList->GetIconIndex(ProgramPath(), false)};
    std::vector<std::size_t> entryTile(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const TOrvUninstallInfo* entry = UninstallReader->Entries[i];
        if (entry->DisplayIcon.empty()) continue;
        entryTile[i] = tileIcons.size();
        tileIcons.push_back(SysImageList->GetIconIndex(ExtractIconPath(entry->DisplayIcon), false));
    }
    const std::vector<int> tileImage = Tiles.Fill(*SysImageList, std::move(tileIcons), TileGeometry());

    for (std::size_t i = 0; i < count; ++i) {
        TOrvUninstallInfo* entry = UninstallReader->Entries[i];
        TListItem row;
        row.Caption = entry->DisplayName;
        row.SubItems[0] = entry->Publisher;
        row.SubItems[1] = entry->Comments;
        row.Data = entry;
        row.ImageIndex = tileImage[entryTile[i]];
        ListView.AddRow(std::move(row));
    }
    // One sort, after the last row.
    ListView.SortByName();
}

}  // namespace velmora
