// The real Velmora.exe under Wine and Xvfb, started as a user starts it (with
// Drisk.x64 beside it) and driven from outside: the list it shows, its layout,
// its error boxes, the ways it ends, and the uninstall command, with the child
// program standing in for uninstallers that log their runs and remove their
// own entries. Each test starts from empty Uninstall keys and cleans up after.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <tuple>

#include "Driver.h"
#include "Support.h"

// After <windows.h>, which Driver.h brings.
#include <shellapi.h>

namespace velmora::gui {
using namespace velmora::testing;

const std::wstring kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The test product that Windows Installer installs (tests/windows/msi).
const std::wstring kMsiProductCode = L"{5E1F0C3A-7B42-4D19-9A61-2C8D4E7F3B10}";

// A copy of the child program in the 64-bit System32 alone.
const std::wstring kSystemChild = InSystem32(L"velmora_system_child.exe");

class Velmora : public ::testing::Test {
protected:
    Velmora() {
        ClearUninstallKeys();
        DeleteFileW(HandOffPath().c_str());
        CreateDirectoryW(dir_.c_str(), nullptr);
        for (const auto& [from, name] :
             {std::pair{VELMORA_EXE_PATH, L"Velmora.exe"}, {VELMORA_DRISK_PATH, L"Drisk.x64"}})
            CopyFileW(Wide(from).c_str(), (dir_ + name).c_str(), FALSE);  // both Windows trees are built first
    }
    ~Velmora() override {
        RunProgram(L"taskkill.exe /f /im velmora_test_child.exe");
        if (msi_) RunProgram(L"msiexec.exe /x " + kMsiProductCode + L" /qn");
        if (windows7_) RunProgram(L"reg.exe delete HKCU\\Software\\Wine\\AppDefaults\\Velmora.exe /f");
        DeleteFileW(kSystemChild.c_str());
        rows_.reset();
        process_.reset();
        ClearUninstallKeys();
        DeleteFileW(log_.c_str());
    }
    // Starts Velmora and, unless an error box comes first, finds its window.
    void Start(bool errorFirst = false) {
        process_ = std::make_unique<Process>(L"\"" + dir_ + L"Velmora.exe\"", dir_);
        if (!errorFirst) Attach();
    }
    void Attach() {
        main_ = WaitForTopLevelWindow(process_->Id(), L"Velmora", L"TOrvUninstallMainForm", 60000);
        list_ = RequireChild(main_, L"SysListView32");
        uninstall_ = RequireChild(main_, L"Button", L"卸载");
        exit_ = RequireChild(main_, L"Button", L"退出");
        rows_ = std::make_unique<RemoteListView>(list_);
    }
    // The client size, the label, list and buttons, the column widths and the
    // row height (which follows the tiles), once the window has handled its size.
    std::vector<LONG> Layout() {
        RoundTripMs(main_, kTimeoutMs);
        Sleep(200);
        const SIZE client = ClientSize(main_);
        std::vector<LONG> at{client.cx, client.cy};
        for (const HWND control : {RequireChild(main_, L"Static", L"当前安装的程序："), list_, uninstall_, exit_}) {
            const RECT r = RectInParent(control);
            at.insert(at.end(), {r.left, r.top, r.right, r.bottom});
        }
        for (int column = 0; column < 3; ++column) at.push_back(rows_->ColumnWidth(column));
        const RECT row = rows_->RowRect(0);
        return at.push_back(row.bottom - row.top), at;
    }
    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        for (const ListRow& row : rows_->Rows(1)) names.push_back(row.texts[0]);
        return names;
    }
    // An uninstaller log: "KEY start" and "KEY end", in the order written.
    std::vector<std::string> Log(const std::wstring& path) {
        std::istringstream in(ReadFileBytes(path));
        std::vector<std::string> events;
        for (std::string line, key, what; std::getline(in, line);)
            if (std::istringstream(line) >> key >> what) events.push_back(key + " " + what);
        return events;
    }
    // An entry "KEY product" whose uninstaller is the child program: it logs its
    // run and, unless kept, removes the entry; `steps` follow. The command line
    // is stored as REG_EXPAND_SZ, as given, in the hive's 32- or 64-bit view.
    void Install(const std::wstring& key, const std::wstring& hive = L"HKLM", int view = 32, bool keep = false,
                 const std::wstring& steps = L"", std::wstring command = L"") {
        const std::wstring path = hive + L"\\" + kUninstallKey + key;
        if (command.empty())
            command = L"\"" + ProgramDirectory() + L"velmora_test_child.exe\" --log \"" + log_ + L"\" " + key +
                      (keep ? L"" : L" --remove \"" + path + L"\" " + std::to_wstring(view)) + steps;
        HKEY created = nullptr;
        ASSERT_EQ(RegCreateKeyExW(hive == L"HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, path.substr(5).c_str(), 0,
                                  nullptr, 0, KEY_ALL_ACCESS | (view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY),
                                  nullptr, &created, nullptr),
                  0);
        const unique_hkey entry(created);
        for (const auto& [name, type, text] :
             {std::tuple{L"DisplayName", REG_SZ, key + L" product"}, {L"UninstallString", REG_EXPAND_SZ, command}})
            RegSetValueExW(entry.get(), name, 0, type, (const BYTE*)text.c_str(), DWORD(text.size() + 1) * 2);
    }
    // Presses the uninstall button, checks and answers the confirmation.
    void Confirm(int answer) {
        ClickButton(uninstall_);
        const HWND box = WaitForMessageBox(process_->Id(), L"Velmora");
        const MessageBoxInfo info = ReadMessageBox(box);
        EXPECT_EQ(info.text, L"确定要卸载选择的软件/插件吗？");
        EXPECT_EQ(info.owner, main_);
        EXPECT_EQ(info.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_FALSE(IsWindowEnabled(uninstall_));
        AnswerMessageBox(box, answer);
        WaitUntil([&] { return !IsWindow(box); }, "the confirmation to close");
    }
    // Waits for the command's end, the window answering all the while.
    void WaitForCommand() {
        const auto ended = [&] {
            if (!RoundTripMs(main_, 2000)) throw DriverError("the window stopped answering");
            return IsWindowEnabled(uninstall_) != FALSE;
        };
        WaitUntil(ended, "the command to end", 60000);
    }

    std::wstring dir_ = TempFile(L"gui") + L"\\", log_ = TempFile(L"uninstall") + L".log";
    std::unique_ptr<Process> process_;
    bool msi_ = false, windows7_ = false;
    // A file the uninstall command must have removed.
    std::wstring gone_;
    HWND main_ = nullptr, list_ = nullptr, uninstall_ = nullptr, exit_ = nullptr;
    std::unique_ptr<RemoteListView> rows_;
};

TEST_F(Velmora, ListsBothViewsAndTheUsersEntriesSortedInAWindowThatKeepsItsLayoutAndAnswersTheKeyboard) {
    ImportRegFile(FixtureDirectory() + L"gui/list.reg", 32);
    ImportRegFile(FixtureDirectory() + L"companion/view64.reg", 64);
    ImportRegFile(FixtureDirectory() + L"companion/user.reg", 64);
    Start();
    EXPECT_EQ(Focus(main_, list_), list_) << "the keyboard does not start on the list";
    // One line per row: its three texts, and "own" for a tile of its own (not the default 0).
    std::wstring shown;
    std::vector<int> tiles;
    for (const ListRow& row : rows_->Rows()) {
        std::wstring line =
            row.texts.at(0) + L" | " + row.texts.at(1) + L" | " + row.texts.at(2) + (row.image ? L" | own" : L"");
        shown += line.erase(line.find_last_not_of(L' ') + 1) + L"\n";
        if (row.image) tiles.push_back(row.image);
        EXPECT_FALSE(row.ticked);
    }
    EXPECT_EQ(Narrow(shown), Expected(FixtureDirectory() + L"gui/list.expected"));
    std::sort(tiles.begin(), tiles.end());
    for (std::size_t i = 0; i < tiles.size(); ++i) EXPECT_EQ(tiles[i], static_cast<int>(i + 1)) << "tiles are not 1..n";
    EXPECT_FALSE(FileExists(HandOffPath()));

    // Centred at first, its margins kept through maximise and restore.
    const RECT outer = RectInParent(main_);  // on a 1280x1024 screen
    EXPECT_EQ((std::pair{outer.left, outer.top}),
              (std::pair{640 - (outer.right - outer.left) / 2, 512 - (outer.bottom - outer.top) / 2}));
    for (const WPARAM command : {WPARAM(0), WPARAM(SC_MAXIMIZE), WPARAM(SC_RESTORE)}) {
        const SIZE before = ClientSize(main_);
        if (command) Post(main_, WM_SYSCOMMAND, command);
        if (command) WaitUntil([&] { return ClientSize(main_).cx != before.cx; }, "a new size");
        const std::vector<LONG> at = Layout();
        const LONG w = at[0], h = at[1];
        EXPECT_EQ(w == 792 && h == 486, command != SC_MAXIMIZE);
        EXPECT_EQ(at[2], 16) << "the label's left margin";
        EXPECT_EQ(std::vector<LONG>(at.begin() + 6, at.begin() + 18),
                  (std::vector<LONG>{16, 40, w - 16, h - 57, 16, h - 41, 91, h - 16, w - 91, h - 41, w - 16, h - 16}));
    }

    // Each tile, as the last layout left it, is its entry's small system icon
    // drawn on white at (4, 4), as the shell gives it for the file type, or for
    // a folder that exists; a row without an icon shows the program's own (a
    // program's).
    auto icon = [](const wchar_t* path, UINT flags) {
        SHFILEINFOW info{};
        const auto icons = reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(path, FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                                                                       SHGFI_SYSICONINDEX | SHGFI_SMALLICON | flags));
        const unique_screen_dc screen(GetDC(nullptr));
        const unique_hdc dc(CreateCompatibleDC(screen.get()));
        const unique_hbitmap bitmap(CreateCompatibleBitmap(screen.get(), 24, 24));
        SelectObject(dc.get(), bitmap.get());
        const RECT tile{0, 0, 24, 24};
        FillRect(dc.get(), &tile, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ImageList_Draw(icons, info.iIcon, dc.get(), 4, 4, ILD_TRANSPARENT);
        return Pixels(dc.get(), tile);
    };
    auto tile = [&](const std::wstring& name) {
        const std::vector<std::wstring> names = Names();
        const RECT at =
            rows_->RowRect(static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin()), LVIR_ICON);
        return ScreenPixels(list_, {at.left, at.top, at.left + 24, at.top + 24});
    };
    const std::vector<DWORD> program = icon(L"x.exe", SHGFI_USEFILEATTRIBUTES), folder = icon(L"C:\\windows", 0);
    EXPECT_NE(program, folder);
    EXPECT_EQ(tile(L"zeta tools"), program);
    EXPECT_EQ(tile(L"Beta without icon"), program);
    EXPECT_EQ(tile(L"Folder icon"), folder);

    // Space ticks the row the arrows reach; Tab and Shift+Tab go round the
    // controls; Enter presses the focused button.
    PressKeys(main_, {VK_DOWN});
    PressKeys(main_, {VK_SPACE});
    const auto tickedAndSelected = [&] {
        const std::vector<ListRow> rows = rows_->Rows(1);
        return std::any_of(rows.begin(), rows.end(), [](auto& row) { return row.ticked && row.selected; });
    };
    WaitUntil(tickedAndSelected, "Space to tick the focused row");
    for (const auto& [chord, next] : {std::pair{std::vector<WORD>{VK_TAB}, uninstall_},
                                      {{VK_TAB}, exit_},
                                      {{VK_SHIFT, VK_TAB}, uninstall_},
                                      {{VK_TAB}, exit_}}) {
        PressKeys(main_, chord);
        EXPECT_EQ(Focus(main_, next), next);
    }
    // Away and back: the keyboard returns to the button that had it.
    const unique_hwnd other(
        CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr));
    for (const HWND front : {other.get(), main_})
        WaitUntil([&] { return SetForegroundWindow(front), GetForegroundWindow() == front; }, "a window in front");
    EXPECT_EQ(Focus(main_, exit_), exit_) << "the keyboard did not come back to the button";
    PressKeys(main_, {VK_RETURN});
    EXPECT_EQ(process_->WaitForExit(30000), 0u);
}

// Sets the prefix's pixels per inch, as Wine reads them when a program starts;
// none means the default (96).
void SetPixelsPerInch(const std::wstring& dpi) {
    for (const std::wstring key : {L"\"HKCU\\Control Panel\\Desktop\"", L"\"HKCC\\Software\\Fonts\""})
        RunProgram(L"reg.exe " + (dpi.empty() ? L"delete " + key : L"add " + key + L" /t REG_DWORD /d " + dpi) +
                   L" /v LogPixels /f /reg:64");
}

TEST_F(Velmora, At144PixelsPerInchEverythingIsTheDesignScaledByOneAndAHalf) {
    // Read as the window lays itself out, not as scaled for a caller unaware of DPI.
    using SetContext = HANDLE(WINAPI*)(HANDLE);
    const auto setContext =
        (SetContext)(void*)GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext");
    ASSERT_NE(setContext, nullptr);
    setContext((HANDLE)-3);  // per-monitor aware
    Install(L"P1");
    // The layout as started, or after Windows has told the running window of
    // 144 (moved to another monitor) with a window rectangle for its client
    // area scaled.
    auto layout = [&](bool changed) {
        Start();
        if (changed) {
            const RECT outer = RectInParent(main_);
            const SIZE client = ClientSize(main_);
            RECT suggested{outer.left, outer.top, outer.right + client.cx / 2, outer.bottom + client.cy / 2};
            rows_->Send(WM_DPICHANGED, MAKEWPARAM(144, 144), &suggested, sizeof suggested, main_);
        }
        const std::vector<LONG> at = Layout();
        ClickButton(exit_);
        process_->WaitForExit(30000);
        return at;
    };
    const std::vector<LONG> designed = layout(false), changed = layout(true);
    SetPixelsPerInch(L"144");
    const scope_exit restore([] { SetPixelsPerInch(L""); });
    const std::vector<LONG> scaled = layout(false);
    ASSERT_EQ(scaled.size(), designed.size());
    for (std::size_t i = 0; i < designed.size(); ++i) {
        EXPECT_NEAR(scaled[i], designed[i] * 1.5, 1.0) << "value " << i;
        EXPECT_NEAR(changed[i], designed[i] * 1.5, 1.0) << "value " << i << " after a change";
    }
}

class UninstallCommand;

// The uninstall command: what the row installs before Velmora starts, the rows
// ticked, the answer, the uninstallers' runs in order, the rows left after the
// rebuild, and whether the window is asked to close while an uninstaller runs.
struct Uninstall {
    const char* name;
    std::function<void(UninstallCommand&)> prepare;
    std::vector<int> ticked;
    int answer;
    std::vector<std::string> runs;
    std::vector<std::wstring> left;
    bool closedWhileRunning = false;
};

class UninstallCommand : public Velmora, public ::testing::WithParamInterface<Uninstall> {
public:
    // P1..P5, whose uninstallers take `steps`; the one numbered `kept` keeps its
    // entry, as one its user cancels, and `first` replaces P1's command line.
    void Products(const std::wstring& steps, int kept = 0, const std::wstring& first = L"") {
        for (int i = 1; i <= 5; ++i)
            Install(L"P" + std::to_wstring(i), L"HKLM", 32, i == kept, steps, i == 1 ? first : L"");
    }
    // The 64-bit view and the current user's entries reach the list through Drisk.x64.
    void OtherViews() {
        for (const auto& [key, hive, view] :
             {std::tuple{L"P1", L"HKLM", 32}, {L"P2", L"HKLM", 64}, {L"P3", L"HKCU", 64}})
            Install(key, hive, view);
    }
    // Real NSIS-built products: each uninstaller copies itself into the temporary
    // folder, starts the copy and ends at once; the copy does the work and logs here.
    // Through a wrapper, the copy's parent has ended before the wrapper does.
    void NsisProducts(bool wrap) {
        log_ = Wide(GetTempDirectory()) + std::wstring(L"velmora-nsis.log");
        DeleteFileW(log_.c_str());
        for (const wchar_t* product : {L"A", L"B"}) {
            ASSERT_EQ(RunProgram(L"\"" + ProgramDirectory() + L"velmora_nsis_" + product + L".exe\" /S"), 0);
            if (!wrap) continue;
            const std::wstring key = kUninstallKey + L"VelmoraNsis" + product;
            wchar_t command[1024] = {};
            DWORD size = sizeof command;
            ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"UninstallString", RRF_RT_REG_SZ, nullptr, command,
                                   &size),
                      0);
            const std::wstring wrapped = Wrapped(command);
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"UninstallString", REG_SZ, wrapped.c_str(),
                            DWORD(wrapped.size() + 1) * 2);
        }
    }
    // A Windows Installer product: Windows Installer stores its maintenance call
    // "MsiExec.exe /I{...}", which would only reconfigure it.
    void MsiProduct() {
        ASSERT_EQ(RunProgram(L"msiexec.exe /i \"" + ProgramDirectory() + L"velmora_msi_product.msi\" /qn"), 0);
        msi_ = true;
        gone_ = _wgetenv(L"ProgramFiles(x86)") + std::wstring(L"\\Velmora MSI Product\\readme.txt");
        ASSERT_TRUE(FileExists(gone_));
    }
    // Where Windows reports 7 (to Velmora alone) no job is made: a wrapper
    // runs a middle that starts a copy of the uninstaller in the temporary
    // folder and ends before the wrapper does; only the copy logs and removes P1.
    void WrapperChainOnWindows7() {
        ASSERT_EQ(RunProgram(L"reg.exe add HKCU\\Software\\Wine\\AppDefaults\\Velmora.exe /v Version /d win7 /f"), 0);
        windows7_ = true;
        const std::wstring folder = TempFile(L"copy");
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring copy = folder + L"\\velmora_test_child.exe";
        ASSERT_TRUE(CopyFileW((ProgramDirectory() + L"velmora_test_child.exe").c_str(), copy.c_str(), FALSE));
        const std::wstring middle = ProgramDirectory() + L"velmora_test_child.exe --spawn \"" + copy + L" --log " +
                                    log_ + L" P1 --sleep 2500 --remove HKLM\\" + kUninstallKey +
                                    L"P1 32\" --sleep 1000";
        Install(L"P1", L"HKLM", 32, false, L"", Wrapped(middle));
    }
    // A 64-bit product's uninstaller that only the 64-bit System32 holds
    // (a 32-bit program reaches that folder as Sysnative).
    void InSystem32Alone() {
        ASSERT_TRUE(CopyFileW((ProgramDirectory() + L"velmora_test_child.exe").c_str(), kSystemChild.c_str(), FALSE));
        Install(L"P1", L"HKLM", 64, false, L"",
                L"C:\\Windows\\System32\\velmora_system_child.exe --log \"" + log_ + L"\" P1 --remove \"HKLM\\" +
                    kUninstallKey + L"P1\" 64");
    }
};

TEST_P(UninstallCommand, RunsTheTickedRowsBottomUpOneAtATimeThenRebuilds) {
    const Uninstall& u = GetParam();
    ASSERT_NO_FATAL_FAILURE(u.prepare(*this));
    Start();
    for (const int row : u.ticked) rows_->SetTicked(row, true);
    rows_->SetState(rows_->RowCount() - 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    const std::vector<ListRow> before = rows_->Rows();
    Confirm(u.answer);
    if (u.closedWhileRunning) {  // the close request takes effect when the uninstaller has ended
        Post(main_, WM_CLOSE);
        Sleep(1000);
        EXPECT_TRUE(process_->IsRunning() && IsWindowEnabled(exit_) && !IsWindowEnabled(uninstall_));
        EXPECT_EQ(process_->WaitForExit(30000), 0u);
        EXPECT_EQ(Log(log_), u.runs);
        return;
    }
    WaitForCommand();
    EXPECT_EQ(Log(log_), u.runs);
    EXPECT_EQ(Names(), u.left);
    if (!gone_.empty()) {
        EXPECT_FALSE(FileExists(gone_)) << "the product's file is still there";
    }
    EXPECT_EQ(Focus(main_, list_), list_) << "the keyboard is not back on the list";
    for (const ListRow& row : rows_->Rows()) {  // a rebuild keeps no tick or selection; No changes nothing
        const auto was = std::find_if(before.begin(), before.end(), [&](auto& r) { return r.texts == row.texts; });
        EXPECT_EQ(row.ticked, u.answer == IDNO && was->ticked);
        EXPECT_EQ(row.selected, u.answer == IDNO && was->selected);
    }
}

const auto kSleepers = [](auto& t) { t.Products(L" --sleep 300"); };
const std::vector<std::wstring> kAll{L"P1 product", L"P2 product", L"P3 product", L"P4 product", L"P5 product"};
const std::vector<std::string> kCopies{"B start", "B end", "A start", "A end"};
// One scenario a row.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Scenarios, UninstallCommand, ::testing::Values(
    Uninstall{"ticked", kSleepers, {0, 2, 4}, IDYES, {"P5 start", "P5 end", "P3 start", "P3 end", "P1 start", "P1 end"},
              {L"P2 product", L"P4 product"}},
    Uninstall{"no", kSleepers, {1}, IDNO, {}, kAll},
    // P1's uninstaller cannot start, P2's is cancelled by its user.
    Uninstall{"cancelled", [](auto& t) { t.Products(L" --sleep 300", 2, L"\"C:\\no such place\\unins000.exe\" /S"); },
              {0, 1, 2}, IDYES, {"P3 start", "P3 end", "P2 start", "P2 end"}, {kAll[0], kAll[1], kAll[3], kAll[4]}},
    // P2 comes back through the rebuild's own run of Drisk.x64.
    Uninstall{"handoff", &UninstallCommand::OtherViews, {0, 2}, IDYES, {"P3 start", "P3 end", "P1 start", "P1 end"},
              {L"P2 product"}},
    // P4's uninstaller leaves a process of its own running: only it is waited for.
    Uninstall{"spawns", [](auto& t) { t.Products(L" --spawn \"velmora_test_child.exe --sleep 600000\""); }, {3}, IDYES,
              {"P4 start", "P4 end"}, {kAll[0], kAll[1], kAll[2], kAll[4]}},
    // Each copy ends before the next uninstaller starts.
    Uninstall{"nsis", [](auto& t) { t.NsisProducts(false); }, {0, 1}, IDYES, kCopies, {}},
    Uninstall{"wrapper", [](auto& t) { t.NsisProducts(true); }, {0, 1}, IDYES, kCopies, {}},
    Uninstall{"wrapper7", &UninstallCommand::WrapperChainOnWindows7, {0}, IDYES, {"P1 start", "P1 end"}, {}},
    Uninstall{"system32", &UninstallCommand::InSystem32Alone, {0}, IDYES, {"P1 start", "P1 end"}, {}},
    Uninstall{"msi", &UninstallCommand::MsiProduct, {0}, IDYES, {}, {}},
    Uninstall{"closed", [](auto& t) { t.Products(L" --sleep 3000"); }, {1}, IDYES, {"P2 start", "P2 end"}, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A scan error at start is shown once before the window, which then shows an
// empty list; the next command makes the inventory anew. A rebuild that fails
// shows its error over the window and empties the list; the next command works.
TEST_F(Velmora, ScanErrorsAreShownTheListIsEmptiedAndTheNextCommandRebuildsIt) {
    ImportRegFile(FixtureDirectory() + L"gui/bad_display_name.reg", 32);
    // A hand-off file is neither read nor deleted after a failed scan.
    ASSERT_TRUE(CopyFileW((FixtureDirectory() + L"handoff/drisk_form.ini").c_str(), HandOffPath().c_str(), FALSE));
    Start(true);
    const HWND box = WaitForMessageBox(process_->Id(), L"Velmora", 60000);
    const MessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(info.text, L"Invalid data type for 'DisplayName'");  // no full stop after a quotation mark
    EXPECT_EQ(info.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(info.owner, nullptr) << "owned by the hidden window, the box has no task-bar button";
    EXPECT_EQ(FindTopLevelWindow(process_->Id(), L"Velmora", L"TOrvUninstallMainForm"), nullptr);
    AnswerMessageBox(box, IDOK);
    Attach();
    EXPECT_EQ(rows_->RowCount(), 0);
    EXPECT_TRUE(FileExists(HandOffPath()));
    EXPECT_EQ(FindTopLevelWindow(process_->Id(), L"", L"#32770"), nullptr) << "a second box appeared";

    ClearUninstallKeys();
    Install(L"P1", L"HKLM", 32, false, L" --corrupt \"HKLM\\" + kUninstallKey + L"P2\" 32 --sleep 2000");
    Install(L"P2");
    Confirm(IDYES);
    WaitForCommand();
    rows_->SetTicked(0, true);
    Confirm(IDYES);
    // Away while the uninstaller runs: the error box is the window's, which is disabled while it shows.
    const unique_hwnd other(
        CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr));
    WaitUntil([&] { return SetForegroundWindow(other.get()), GetForegroundWindow() == other.get(); }, "another window");
    const HWND error = WaitForMessageBox(process_->Id(), L"Velmora", 30000);
    EXPECT_EQ(ReadMessageBox(error).text, L"Invalid data type for 'DisplayName'");
    EXPECT_EQ(ReadMessageBox(error).owner, main_);
    EXPECT_FALSE(IsWindowEnabled(main_));
    AnswerMessageBox(error, IDOK);
    WaitUntil([&] { return IsWindowEnabled(main_) != FALSE; }, "the window enabled again");
    EXPECT_EQ(rows_->RowCount(), 0);
    Install(L"P2");  // mended
    Confirm(IDYES);
    WaitForCommand();
    EXPECT_EQ(Names(), std::vector<std::wstring>{L"P2 product"});
    Post(main_, WM_SYSCOMMAND, SC_CLOSE);  // as the title bar's close box
    EXPECT_EQ(process_->WaitForExit(30000), 0u);
}

}  // namespace velmora::gui
