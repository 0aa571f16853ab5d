#include "frmOrvUninstallMain.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "frmOrvUninstallMainLogic.h"
#include "platform/Processes.h"
#include "unitOrvCInstallUtils.h"

namespace velmora {

namespace {

const wchar_t kMainFormClass[] = L"TOrvUninstallMainForm";

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// The design's pixel sizes are for 96 pixels per inch.
constexpr int kDesignDpi = 96;
constexpr UINT kWmDpiChanged = 0x02E0;  // WM_DPICHANGED, Windows 8.1 and later

// Functions of newer Windows, looked up at run time: Windows 7 and 8 lack them.
template <typename Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The DPI of the window's monitor; before Windows 10 1607, the system's.
int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(hwnd)) return static_cast<int>(dpi);
    }
    int dpi = 0;
    if (const HDC screen = GetDC(nullptr)) {
        dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? dpi : kDesignDpi;
}

// The outer size of a window with this client rectangle: with the frame sizes
// of that DPI where Windows can tell them, else with the system's.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi) {
    using AdjustFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = User32Function<AdjustFunction>("AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    }
}

enum TControlKind { ckLabel, ckListView, ckButton, ckImageList };

struct TControlDescription {
    const char16_t* Name;
    TControlKind Kind;
    TBounds Bounds;
    const char16_t* Caption;
    int Id;
};

struct TEventBinding {
    const char16_t* Component;  // empty: the window itself
    const char16_t* Event;
    void (TOrvUninstallMainForm::*Handler)();
};

}  // namespace

// The window as designed (96 pixels per inch, text height 12): its properties,
// controls in creation (and tab) order, the list's columns and the bindings of
// events to handlers. Loading it builds the window.
struct TMainFormDescription {
    static constexpr const char16_t* Caption = u"Velmora";
    static constexpr int ClientWidth = 792;
    static constexpr int ClientHeight = 486;
    static constexpr int Color = COLOR_BTNFACE;
    static constexpr const char16_t* FontName = u"宋体";
    static constexpr int FontHeight = -12;
    static constexpr BYTE FontCharset = GB2312_CHARSET;

    static constexpr int TileSize = 24;  // the ImageList's images, as in Controls
    static constexpr int IconOffset = 4;  // where a tile's icon starts

    static const TControlDescription Controls[5];
    static const TListView::TColumn Columns[3];
    static const TEventBinding Events[5];
};

const TControlDescription TMainFormDescription::Controls[5] = {
    {u"Label1", ckLabel, {16, 16, 96, 12}, u"当前安装的程序：", 0},
    {u"ListView", ckListView, {16, 40, 761, 393}, nullptr, 100},
    {u"UninstallButton", ckButton, {16, 448, 75, 25}, u"卸载", 101},
    {u"ExitButton", ckButton, {704, 448, 75, 25}, u"退出", 102},
    {u"ImageList", ckImageList, {0, 0, 24, 24}, nullptr, 0},
};

const TListView::TColumn TMainFormDescription::Columns[3] = {
    {u"软件插件名称", 300},
    {u"厂商签名", 140},
    {u"描述", 280},
};

const TEventBinding TMainFormDescription::Events[5] = {
    {u"", u"OnCreate", &TOrvUninstallMainForm::FormCreate},
    {u"", u"OnDestroy", &TOrvUninstallMainForm::FormDestroy},
    {u"", u"OnResize", &TOrvUninstallMainForm::FormResize},
    {u"UninstallButton", u"OnClick", &TOrvUninstallMainForm::UninstallButtonClick},
    {u"ExitButton", u"OnClick", &TOrvUninstallMainForm::ExitButtonClick},
};

// The window's font in a height of pixels (negative: the character height).
static HFONT CreateDescriptionFont(int height) {
    using D = TMainFormDescription;
    LOGFONTW logFont = {};
    logFont.lfHeight = height;
    logFont.lfWeight = FW_NORMAL;
    logFont.lfCharSet = D::FontCharset;
    lstrcpynW(logFont.lfFaceName, Wide(D::FontName), LF_FACESIZE);
    return CreateFontIndirectW(&logFont);
}

TOrvUninstallMainForm::TOrvUninstallMainForm() {
    try {
        LoadDescription();
    } catch (...) {
        // No window may outlive the object its procedure refers to.
        if (hwnd_) {
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            DestroyWindow(hwnd_);
        }
        if (font_) DeleteObject(font_);
        throw;
    }
    if (onCreate_) Guarded(onCreate_);
}

TOrvUninstallMainForm::~TOrvUninstallMainForm() {
    if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
    if (onDestroy_) Guarded(onDestroy_);
    if (hwnd_) {
        // The rows still refer to entries FormDestroy has freed; the controls go
        // now without anything following those references.
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
    SysImageList.reset();
    imageList_.SetHandle(nullptr);
    if (font_) DeleteObject(font_);
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
    RegisterClassExW(&windowClass);

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD exStyle = Application().MainFormOnTaskBar() ? WS_EX_APPWINDOW : 0;
    RECT outer = {0, 0, D::ClientWidth, D::ClientHeight};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    hwnd_ = CreateWindowExW(exStyle, kMainFormClass, Wide(D::Caption), style, CW_USEDEFAULT, CW_USEDEFAULT,
                            outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance, this);
    if (!hwnd_) {
        loading_ = false;
        throw Exception(u"Cannot create the main window");
    }

    font_ = CreateDescriptionFont(D::FontHeight);

    for (const TControlDescription& control : D::Controls) {
        const std::u16string name = control.Name;
        switch (control.Kind) {
            case ckLabel:
                label1_.Create(hwnd_, control.Caption, control.Bounds, font_);
                Label1 = &label1_;
                break;
            case ckListView:
                listView_.Create(hwnd_, control.Bounds, control.Id,
                                 std::vector<TListView::TColumn>(std::begin(D::Columns), std::end(D::Columns)));
                ListView = &listView_;
                break;
            case ckButton: {
                TButton& button = name == u"UninstallButton" ? uninstallButton_ : exitButton_;
                button.Create(hwnd_, control.Caption, control.Bounds, control.Id);
                (name == u"UninstallButton" ? UninstallButton : ExitButton) = &button;
                break;
            }
            case ckImageList:
                imageList_.Create(control.Bounds.Width, control.Bounds.Height, ILC_COLORDDB | ILC_MASK);
                ImageList = &imageList_;
                break;
        }
    }
    // The controls use the window's font.
    for (TControl* control : std::initializer_list<TControl*>{Label1, ListView, UninstallButton, ExitButton}) {
        SendMessageW(control->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
    ListView->SetSmallImages(ImageList->Handle());

    for (const TEventBinding& binding : D::Events) {
        const std::u16string component = binding.Component;
        const std::u16string event = binding.Event;
        auto handler = [this, method = binding.Handler] { (this->*method)(); };
        if (component.empty() && event == u"OnCreate") onCreate_ = handler;
        else if (component.empty() && event == u"OnDestroy") onDestroy_ = handler;
        else if (component.empty() && event == u"OnResize") onResize_ = handler;
        else if (component == u"UninstallButton") UninstallButton->OnClick = handler;
        else if (component == u"ExitButton") ExitButton->OnClick = handler;
    }

    // On a monitor at another DPI than the design's, everything is scaled,
    // the client area included.
    const int dpi = WindowDpi(hwnd_);
    if (dpi != kDesignDpi) {
        ScaleTo(dpi);
        RECT scaled = {0, 0, Scaled(D::ClientWidth), Scaled(D::ClientHeight)};
        AdjustWindowRectForDpi(scaled, style, exStyle, dpi);
        SetWindowPos(hwnd_, nullptr, 0, 0, scaled.right - scaled.left, scaled.bottom - scaled.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    loading_ = false;
}

int TOrvUninstallMainForm::Scaled(int designPixels) const { return MulDiv(designPixels, dpi_, kDesignDpi); }

void TOrvUninstallMainForm::ScaleTo(int dpi) {
    using D = TMainFormDescription;
    dpi_ = dpi;
    if (const HFONT font = CreateDescriptionFont(Scaled(D::FontHeight))) {
        for (TControl* control : std::initializer_list<TControl*>{Label1, ListView, UninstallButton, ExitButton}) {
            SendMessageW(control->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), loading_ ? FALSE : TRUE);
        }
        if (font_) DeleteObject(font_);
        font_ = font;
    }
    // The description's bounds, scaled; the layout then sets what follows the
    // window's size.
    for (const TControlDescription& control : D::Controls) {
        const TBounds bounds = {Scaled(control.Bounds.Left), Scaled(control.Bounds.Top),
                                Scaled(control.Bounds.Width), Scaled(control.Bounds.Height)};
        const std::u16string name = control.Name;
        switch (control.Kind) {
            case ckLabel: Label1->Fit(bounds.Left, bounds.Top, font_); break;
            case ckListView: ListView->SetBounds(bounds); break;
            case ckButton: (name == u"UninstallButton" ? UninstallButton : ExitButton)->SetBounds(bounds); break;
            case ckImageList: RedrawTiles(); break;
        }
    }
    for (int column = 0; column < static_cast<int>(std::size(D::Columns)); ++column) {
        ListView->SetColumnWidth(column, Scaled(D::Columns[column].Width));
    }
    // Attached again, the list takes the new tile size for its row height.
    ListView->SetSmallImages(nullptr);
    ListView->SetSmallImages(ImageList->Handle());
}

void TOrvUninstallMainForm::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    if (ListView) ScaleTo(HIWORD(wParam));
    // The suggested rectangle keeps the window where the user put it, at the new scale.
    const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // Also when the client size stayed the same, the new sizes need the layout.
    if (!loading_ && onResize_) onResize_();
}

LRESULT CALLBACK TOrvUninstallMainForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* form = static_cast<TOrvUninstallMainForm*>(create->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TOrvUninstallMainForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcW(hwnd, message, wParam, lParam);
    try {
        return form->HandleMessage(message, wParam, lParam);
    } catch (...) {
        Application().HandleException(std::current_exception());
        return 0;
    }
}

LRESULT TOrvUninstallMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            if (!loading_ && onResize_) {
                resized_ = true;
                onResize_();
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
                if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
            }
            return DefWindowProcW(hwnd_, message, wParam, lParam);
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
            return DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

void TOrvUninstallMainForm::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) != BN_CLICKED) return;
    HWND control = reinterpret_cast<HWND>(lParam);
    // Enter, as the dialog manager reports it for a window that is no dialog:
    // it presses the button that has the keyboard.
    if (!control && LOWORD(wParam) == IDOK) control = GetFocus();
    for (TButton* button : {UninstallButton, ExitButton}) {
        if (button && control == button->Handle() && button->OnClick) button->OnClick();
    }
}

void TOrvUninstallMainForm::ShowFirst(int showCommand) {
    if (!firstShown_) {
        firstShown_ = true;
        RECT outer = {};
        GetWindowRect(hwnd_, &outer);
        int left = 0;
        int top = 0;
        DesktopCenter(GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                      GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN),
                      outer.right - outer.left, outer.bottom - outer.top, left, top);
        SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    int state = SW_SHOWNORMAL;
    if (showCommand == SW_SHOWMAXIMIZED) state = SW_SHOWMAXIMIZED;
    else if (showCommand == SW_SHOWMINNOACTIVE) state = SW_SHOWMINNOACTIVE;
    ShowWindow(hwnd_, state);
    // The platform normally sends the first size notification by now; make sure
    // the layout is in force from the start either way.
    if (!resized_ && onResize_) {
        resized_ = true;
        onResize_();
    }
    UpdateWindow(hwnd_);
}

// The keyboard goes to the control that last had it, or to the list; never to
// the window itself, where no key would do anything, nor to a disabled button.
void TOrvUninstallMainForm::FocusControl() {
    HWND target = lastFocus_;
    if (!target || !IsWindow(target) || !IsWindowEnabled(target) || !IsWindowVisible(target))
        target = ListView ? ListView->Handle() : nullptr;
    if (target) SetFocus(target);
}

void TOrvUninstallMainForm::FocusList() {
    lastFocus_ = ListView ? ListView->Handle() : nullptr;
    if (GetActiveWindow() == hwnd_) FocusControl();
}

void TOrvUninstallMainForm::Close() {
    // The main window ends the application; it is neither hidden nor destroyed here.
    PostQuitMessage(0);
}

// ---------------------------------------------------------------------------
// Handlers

void TOrvUninstallMainForm::FormCreate() {
    SysImageList = std::make_unique<TOrvCSysImageList>(Application().Instance());
    UninstallReader = std::make_unique<TOrvUninstallReader>();
    MergeHandOffInventory();
    PopulateList();
}

void TOrvUninstallMainForm::FormDestroy() { UninstallReader.reset(); }

void TOrvUninstallMainForm::FormResize() {
    RECT client = {};
    GetClientRect(hwnd_, &client);
    TMainLayout layout{ListView->Bounds(), UninstallButton->Bounds(), ExitButton->Bounds()};
    ApplyLayout(layout, client.right - client.left, client.bottom - client.top, Scaled(16));
    UninstallButton->SetBounds(layout.UninstallButton);
    ExitButton->SetBounds(layout.ExitButton);
    ListView->SetBounds(layout.ListView);
}

void TOrvUninstallMainForm::ExitButtonClick() { Close(); }

void TOrvUninstallMainForm::MergeHandOffInventory() {
    velmora::MergeHandOffInventory(*UninstallReader, SystemProcesses(), [] { Application().ProcessMessages(); });
}

namespace {

// The window's list, button and confirmation box as the uninstall command uses them.
class TMainFormUninstallView final : public IUninstallView {
public:
    TMainFormUninstallView(TOrvUninstallMainForm& form, HWND window) : form_(form), window_(window) {}

    WindowHandle Window() override { return reinterpret_cast<WindowHandle>(window_); }
    int RowCount() override { return form_.ListView->Count(); }
    bool RowChecked(int row) override { return form_.ListView->Checked(row); }
    TOrvUninstallInfo* RowEntry(int row) override {
        return static_cast<TOrvUninstallInfo*>(form_.ListView->Data(row));
    }
    bool ConfirmUninstall() override {
        return MessageBoxW(window_, Wide(kUninstallConfirmation), Wide(Application().Title()),
                           MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    void SetUninstallEnabled(bool enabled) override { form_.UninstallButton->SetEnabled(enabled); }
    void ClearRows() override { form_.ListView->Clear(); }
    void MergeHandOffInventory() override { form_.MergeHandOffInventory(); }
    void PopulateList() override { form_.PopulateList(); }

private:
    TOrvUninstallMainForm& form_;
    HWND window_;
};

}  // namespace

void TOrvUninstallMainForm::UninstallButtonClick() {
    TMainFormUninstallView view(*this, hwnd_);
    // The keyboard is back on the list when the command ends, however it ends.
    struct TFocusListAtEnd {
        TOrvUninstallMainForm& form;
        ~TFocusListAtEnd() { form.FocusList(); }
    } focusList{*this};
    UninstallCommand(
        view, UninstallReader, [] { return std::make_unique<TOrvUninstallReader>(); }, SystemProcesses(),
        [] { Application().ProcessMessages(); });
}

// ---------------------------------------------------------------------------
// The list fill

namespace {

// The tiles' pixel format: square (24 x 24 at 96 pixels per inch), 32 bits per
// pixel, rows bottom-up.
BITMAPINFO TileBitmapInfo(int size) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// A drawn tile: its colour bitmap (transparent pixels black) and its mask. Null
// bitmaps mean the tile could not be made, and the list gets no image for it.
class TTileBitmaps {
public:
    TTileBitmaps(HBITMAP image, HBITMAP mask) : image_(image), mask_(mask) {}
    TTileBitmaps(TTileBitmaps&& other) noexcept
        : image_(std::exchange(other.image_, nullptr)), mask_(std::exchange(other.mask_, nullptr)) {}
    TTileBitmaps(const TTileBitmaps&) = delete;
    TTileBitmaps& operator=(const TTileBitmaps&) = delete;
    TTileBitmaps& operator=(TTileBitmaps&&) = delete;
    ~TTileBitmaps() {
        if (image_) DeleteObject(image_);
        if (mask_) DeleteObject(mask_);
    }

    bool Valid() const { return image_ && mask_; }
    HBITMAP Image() const { return image_; }
    HBITMAP Mask() const { return mask_; }

private:
    HBITMAP image_;
    HBITMAP mask_;
};

// The scratch bitmap every tile of a fill is drawn on, with a memory DC.
class TScratchBitmap {
public:
    explicit TScratchBitmap(int size) : size_(size) {
        const BITMAPINFO info = TileBitmapInfo(size);
        const HDC screen = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels_), nullptr, 0);
        if (!dc_ || !bitmap_) {
            Release();
            throw Exception(u"Out of system resources");
        }
        old_ = SelectObject(dc_, bitmap_);
        brush_ = CreateSolidBrush(RGB(255, 255, 255));
    }
    TScratchBitmap(const TScratchBitmap&) = delete;
    TScratchBitmap& operator=(const TScratchBitmap&) = delete;
    ~TScratchBitmap() { Release(); }

    HDC Dc() const { return dc_; }
    void FillWhite() {
        RECT all = {0, 0, size_, size_};
        FillRect(dc_, &all, brush_);
    }
    // The tile as drawn so far, as the image list takes it: every pure white
    // pixel transparent, all others opaque. The scratch bitmap itself stays as
    // it is.
    TTileBitmaps Capture() {
        GdiFlush();
        const HDC screen = GetDC(nullptr);
        const HBITMAP image = CreateCompatibleBitmap(screen, size_, size_);
        ReleaseDC(nullptr, screen);
        const HBITMAP mask = CreateBitmap(size_, size_, 1, 1, nullptr);
        if (image && mask) {
            // Monochrome rows are padded to 16 bits; a set bit marks a transparent pixel.
            const int stride = ((size_ + 15) / 16) * 2;
            std::vector<BYTE> maskBits(static_cast<std::size_t>(stride * size_), 0);
            std::vector<DWORD> colour(pixels_, pixels_ + size_ * size_);
            for (int y = 0; y < size_; ++y) {
                // DIB rows run bottom-up.
                const int source = (size_ - 1 - y) * size_;
                for (int x = 0; x < size_; ++x) {
                    if ((colour[source + x] & 0xFFFFFF) == 0xFFFFFF) {
                        maskBits[y * stride + x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
                        colour[source + x] = 0;  // transparent pixels must be black in the image
                    }
                }
            }
            SetBitmapBits(mask, static_cast<DWORD>(maskBits.size()), maskBits.data());
            const BITMAPINFO info = TileBitmapInfo(size_);
            SetDIBits(dc_, image, 0, static_cast<UINT>(size_), colour.data(), &info, DIB_RGB_COLORS);
        }
        return TTileBitmaps(image, mask);
    }

private:
    void Release() {
        if (dc_ && old_) SelectObject(dc_, old_);
        if (bitmap_) DeleteObject(bitmap_);
        if (brush_) DeleteObject(brush_);
        if (dc_) DeleteDC(dc_);
        dc_ = nullptr;
        bitmap_ = nullptr;
        brush_ = nullptr;
        old_ = nullptr;
    }

    int size_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    HBRUSH brush_ = nullptr;
    DWORD* pixels_ = nullptr;
};

// Draws the tiles of one fill on one scratch bitmap. Tiles that show the same
// system icon look the same: each such icon is drawn once, and its tiles are
// copies of that drawing.
class TTilePainter {
public:
    TTilePainter(const TOrvCSysImageList& icons, int size, int iconOffset)
        : icons_(icons), scratch_(size), iconOffset_(iconOffset) {}

    const TTileBitmaps* Tile(int icon) {
        auto found = drawn_.find(icon);
        if (found == drawn_.end()) {
            scratch_.FillWhite();
            icons_.Draw(scratch_.Dc(), iconOffset_, iconOffset_, icon, true);
            found = drawn_.emplace(icon, scratch_.Capture()).first;
        }
        return &found->second;
    }

private:
    const TOrvCSysImageList& icons_;
    TScratchBitmap scratch_;
    int iconOffset_;
    std::map<int, TTileBitmaps> drawn_;
};

std::u16string ProgramPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) return std::u16string(path.begin(), path.begin() + length);
        path.resize(path.size() * 2);
    }
}

// Keeps the list's drawing suspended for a fill, whatever happens.
class TUpdateBracket {
public:
    explicit TUpdateBracket(TListView& list) : list_(list) { list_.BeginUpdate(); }
    TUpdateBracket(const TUpdateBracket&) = delete;
    TUpdateBracket& operator=(const TUpdateBracket&) = delete;
    ~TUpdateBracket() { list_.EndUpdate(); }

private:
    TListView& list_;
};

}  // namespace

void TOrvUninstallMainForm::PopulateList() {
    using D = TMainFormDescription;
    TTilePainter painter(*SysImageList, Scaled(D::TileSize), Scaled(D::IconOffset));
    TUpdateBracket bracket(*ListView);

    ListView->Clear();
    const HIMAGELIST images = ImageList->Handle();
    ImageList_Remove(images, -1);
    tileIcons_.clear();

    // Every entry with an icon gets a tile of its own, after the default tile.
    std::vector<int> tileIcon;  // the system icon each tile shows
    auto tileOf = [&](const std::u16string& path) -> const TTileBitmaps* {
        tileIcon.push_back(SysImageList->GetIconIndex(path, false));
        return painter.Tile(tileIcon.back());
    };
    const std::size_t count = UninstallReader ? UninstallReader->Entries.Count() : 0;
    std::vector<const TTileBitmaps*> tiles;
    tiles.reserve(count + 1);
    tiles.push_back(tileOf(ProgramPath()));
    std::vector<std::size_t> entryTile(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const TOrvUninstallInfo* entry = UninstallReader->Entries[i];
        if (entry->DisplayIcon.empty()) continue;
        entryTile[i] = tiles.size();
        tiles.push_back(tileOf(ExtractIconPath(entry->DisplayIcon)));
    }

    // The images go in in tile order, leaving out tiles that could not be made.
    // Room for all of them is made at once: added one by one, the list would be
    // regrown and copied every few images.
    std::vector<int> tileImage(tiles.size(), -1);
    int imageCount = 0;
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        if (tiles[t]->Valid()) tileImage[t] = imageCount++;
    }
    if (ImageList_SetImageCount(images, static_cast<UINT>(imageCount))) {
        for (std::size_t t = 0; t < tiles.size(); ++t) {
            if (tileImage[t] >= 0 && !ImageList_Replace(images, tileImage[t], tiles[t]->Image(), tiles[t]->Mask()))
                tileImage[t] = -1;
        }
    } else {
        for (std::size_t t = 0; t < tiles.size(); ++t) {
            if (tileImage[t] >= 0) tileImage[t] = ImageList_Add(images, tiles[t]->Image(), tiles[t]->Mask());
        }
    }
    // What each image shows, for drawing the tiles again at another DPI.
    tileIcons_.assign(static_cast<std::size_t>(std::max(ImageList_GetImageCount(images), 0)), -1);
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        if (tileImage[t] >= 0 && static_cast<std::size_t>(tileImage[t]) < tileIcons_.size()) {
            tileIcons_[static_cast<std::size_t>(tileImage[t])] = tileIcon[t];
        }
    }

    for (std::size_t i = 0; i < count; ++i) {
        TOrvUninstallInfo* entry = UninstallReader->Entries[i];
        TListItem row;
        row.Caption = entry->DisplayName;
        row.SubItems[0] = entry->Publisher;
        row.SubItems[1] = entry->Comments;
        row.Data = entry;
        row.ImageIndex = tileImage[entryTile[i]];
        ListView->AddRow(row);
    }
    // One sort, after the last row.
    ListView->SortByName();
}

void TOrvUninstallMainForm::RedrawTiles() {
    using D = TMainFormDescription;
    const HIMAGELIST images = ImageList->Handle();
    const int size = Scaled(D::TileSize);
    // Changing the size empties the list; the images go back in the same order,
    // so the rows' image indexes hold.
    ImageList_SetIconSize(images, size, size);
    if (tileIcons_.empty() || !SysImageList) return;
    if (!ImageList_SetImageCount(images, static_cast<UINT>(tileIcons_.size()))) {
        tileIcons_.clear();
        return;
    }
    TTilePainter painter(*SysImageList, size, Scaled(D::IconOffset));
    for (std::size_t i = 0; i < tileIcons_.size(); ++i) {
        const TTileBitmaps* tile = painter.Tile(tileIcons_[i]);
        if (tile->Valid()) ImageList_Replace(images, static_cast<int>(i), tile->Image(), tile->Mask());
    }
}

}  // namespace velmora
