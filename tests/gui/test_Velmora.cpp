// The real Velmora.exe under Wine and Xvfb, started as a user starts it (with
// Drisk.x64 beside it) and driven from outside: the list it shows, its layout,
// its error boxes, the ways it ends, and the uninstall command with the child
// program standing in for uninstallers that log their runs and remove their
// own entries. Each test starts from empty Uninstall keys and cleans up after.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "Driver.h"
#include "Support.h"

namespace velmora::gui {
namespace {

using namespace velmora::testing;

const std::wstring kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class Velmora : public ::testing::Test {
protected:
    Velmora() : dir_(TempFile(L"gui") + L"\\"), log_(TempFile(L"uninstall") + L".log") {
        ClearUninstallKeys();
        DeleteFileW(HandOffPath().c_str());
        DeleteFileW(log_.c_str());
        CreateDirectoryW(dir_.c_str(), nullptr);
        for (const auto& [from, name] : {std::pair{VELMORA_EXE_PATH, L"Velmora.exe"}, {VELMORA_DRISK_PATH, L"Drisk.x64"}})
            if (!CopyFileW(Wide(FromUtf8(from)).c_str(), (dir_ + name).c_str(), FALSE))
                throw DriverError(std::string("cannot copy ") + from + " (are both Windows trees built?)");
    }
    ~Velmora() override {
        rows_.reset();
        process_.reset();
        ClearUninstallKeys();
        DeleteFileW(HandOffPath().c_str());
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
        WaitUntilDrawn(main_);
    }
    void Screenshot(const std::wstring& name) {
        if (main_) WaitUntilDrawn(main_);
        SaveScreenshot(name);
    }
    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        for (const ListRow& row : rows_->Rows()) names.push_back(row.texts.at(0));
        return names;
    }
    // The log's lines, "KEY start" and "KEY end", in the order written.
    std::vector<std::string> Log() {
        std::istringstream in(ReadFileBytes(log_));
        std::vector<std::string> events;
        for (std::string key, what; in >> key >> what;) events.push_back(key + " " + what);
        return events;
    }
    // An entry whose uninstaller is the child program: it logs its run and
    // removes the entry unless `keep`; any further steps follow.
    void Install(const std::wstring& key, const std::wstring& hive = L"HKLM", int view = 32, bool keep = false,
                 const std::wstring& steps = L"") {
        const std::wstring path = hive + L"\\" + kUninstallKey + key;
        std::wstring command = L"\"" + ProgramDirectory() + L"velmora_test_child.exe\" --log \"" + log_ + L"\" " + key;
        if (!keep) command += L" --remove \"" + path + L"\" " + std::to_wstring(view);
        InstallCommand(key, key == L"P1" && steps == L"missing" ? L"\"C:\\no such place\\unins000.exe\" /S" : command + steps,
                       hive, view);
    }
    // The command line stored as REG_EXPAND_SZ, exactly as given.
    static void InstallCommand(const std::wstring& key, const std::wstring& command, const std::wstring& hive = L"HKLM",
                               int view = 32) {
        std::wstring hex;
        wchar_t byte[8];
        for (const wchar_t c : command + L'\0') swprintf(byte, 8, L"%02x,%02x,", c & 0xFF, c >> 8), hex += byte;
        ImportRegText(L"[" + std::wstring(hive == L"HKCU" ? L"HKEY_CURRENT_USER" : L"HKEY_LOCAL_MACHINE") + L"\\" +
                          kUninstallKey + key + L"]\r\n\"DisplayName\"=\"" + key + L" product\"\r\n\"UninstallString\"=hex(2):" +
                          hex.substr(0, hex.size() - 1) + L"\r\n",
                      view);
    }
    // Presses the uninstall button and answers the confirmation.
    void Confirm(int answer) {
        ClickButton(uninstall_);
        const HWND box = WaitForMessageBox(process_->Id(), L"Velmora");
        const MessageBoxInfo info = ReadMessageBox(box);
        EXPECT_EQ(info.text, L"确定要卸载选择的软件/插件吗？");
        EXPECT_EQ(info.owner, main_);
        EXPECT_EQ(info.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_FALSE(IsEnabled(uninstall_));
        AnswerMessageBox(box, answer);
        WaitUntil([&] { return !IsWindow(box); }, "the confirmation to close");
    }
    void WaitForCommand() {
        WaitUntil([&] { return IsEnabled(uninstall_); }, "the uninstall command to end", 60000);
        WaitUntilDrawn(main_);
    }

    std::wstring dir_, log_;
    std::unique_ptr<Process> process_;
    HWND main_ = nullptr, list_ = nullptr, uninstall_ = nullptr, exit_ = nullptr;
    std::unique_ptr<RemoteListView> rows_;
};

TEST_F(Velmora, ListsBothViewsAndTheUsersEntriesSortedByNameWithTheirTiles) {
    ImportRegFile(FixtureDirectory() + L"gui/list.reg", 32);
    ImportRegFile(FixtureDirectory() + L"companion/view64.reg", 64);
    ImportRegFile(FixtureDirectory() + L"companion/user.reg", 64);
    Start();
    Screenshot(L"list");
    // One line per row: its three texts, and its tile: the default one (0) or one of its own.
    std::wstring shown;
    std::vector<int> tiles;
    for (const ListRow& row : rows_->Rows()) {
        shown += row.texts.at(0) + L" | " + row.texts.at(1) + L" | " + row.texts.at(2) + (row.image ? L" | own\n" : L"\n");
        if (row.image) tiles.push_back(row.image);
        EXPECT_FALSE(row.ticked);
    }
    EXPECT_EQ(Narrow(shown), NormaliseExpected(ReadFileBytes(FixtureDirectory() + L"gui/list.expected")));
    std::sort(tiles.begin(), tiles.end());
    for (std::size_t i = 0; i < tiles.size(); ++i) EXPECT_EQ(tiles[i], static_cast<int>(i + 1)) << "tiles are not 1..n";
    EXPECT_EQ(rows_->Columns(), (std::vector<std::pair<std::wstring, int>>{{L"软件插件名称", 300}, {L"厂商签名", 140}, {L"描述", 280}}));
    EXPECT_FALSE(FileExists(HandOffPath()));
}

TEST_F(Velmora, OpensCentredAndKeepsItsMarginsThroughMaximiseAndRestore) {
    Start();
    const RECT outer = RectInParent(main_);
    EXPECT_EQ(outer.left, 640 - (outer.right - outer.left) / 2);  // on a 1280x1024 screen
    EXPECT_EQ(outer.top, 512 - (outer.bottom - outer.top) / 2);
    const auto expectLayout = [&](SIZE client) {
        const RECT list = RectInParent(list_), uninstall = RectInParent(uninstall_), exit = RectInParent(exit_);
        EXPECT_EQ((std::vector<LONG>{uninstall.left, uninstall.top, uninstall.right, uninstall.bottom}),
                  (std::vector<LONG>{16, client.cy - 41, 91, client.cy - 16}));
        EXPECT_EQ((std::vector<LONG>{exit.left, exit.top, exit.right, exit.bottom}),
                  (std::vector<LONG>{client.cx - 91, client.cy - 41, client.cx - 16, client.cy - 16}));
        EXPECT_EQ((std::vector<LONG>{list.left, list.top, list.right, list.bottom}),
                  (std::vector<LONG>{16, 40, client.cx - 16, client.cy - 57}));
    };
    const SIZE client = ClientSize(main_);
    EXPECT_EQ((std::pair{client.cx, client.cy}), (std::pair{792L, 486L}));
    expectLayout(client);
    EXPECT_EQ(RectInParent(RequireChild(main_, L"Static", L"当前安装的程序：")).left, 16);
    for (const WPARAM command : {SC_MAXIMIZE, SC_RESTORE}) {
        const SIZE before = ClientSize(main_);
        Post(main_, WM_SYSCOMMAND, command);
        WaitUntil([&] { return ClientSize(main_).cx != before.cx; }, "a new size");
        Sleep(300);
        expectLayout(ClientSize(main_));
        Screenshot(command == SC_MAXIMIZE ? L"maximised" : L"restored");
    }
    EXPECT_EQ(ClientSize(main_).cx, 792);
}

TEST_F(Velmora, AScanErrorIsShownOnceBeforeTheWindowThenTheListIsEmpty) {
    ImportRegFile(FixtureDirectory() + L"gui/bad_display_name.reg", 32);
    Start(true);
    const HWND box = WaitForMessageBox(process_->Id(), L"Velmora", 60000);
    const MessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(info.text, L"Invalid data type for 'DisplayName'");  // no full stop after a quotation mark
    EXPECT_EQ(info.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(FindTopLevelWindow(process_->Id(), L"Velmora", L"TOrvUninstallMainForm"), nullptr);
    Screenshot(L"scan-error");
    AnswerMessageBox(box, IDOK);
    Attach();
    EXPECT_EQ(rows_->RowCount(), 0);
    EXPECT_EQ(FindTopLevelWindow(process_->Id(), L"", L"#32770"), nullptr) << "a second box appeared";
}

TEST_F(Velmora, EveryWayOfClosingEndsTheProgramWithCodeZero) {
    for (int way = 0; way < 4; ++way) {
        Start();
        if (way == 0) ClickButton(exit_);
        if (way == 1) Post(main_, WM_CLOSE);
        if (way == 2) Post(main_, WM_SYSCOMMAND, SC_CLOSE);
        if (way == 3) PressAltF4(main_);
        EXPECT_EQ(process_->WaitForExit(30000), 0u) << "way " << way;
    }
}

// The uninstall command: which rows are ticked, the answer, the uninstallers'
// runs in order, and the rows left after the rebuild.
struct Uninstall {
    const char* name;
    std::vector<int> ticked;
    int answer;
    std::vector<std::string> runs;
    std::vector<std::wstring> left;
};

class UninstallCommand : public Velmora, public ::testing::WithParamInterface<Uninstall> {};

TEST_P(UninstallCommand, RunsTheTickedRowsBottomUpOneAtATimeThenRebuilds) {
    const Uninstall& u = GetParam();
    const std::string name = u.name;
    if (name == "handoff") {  // the 64-bit view and the current user's entries, through Drisk.x64
        Install(L"P1");
        Install(L"P2", L"HKLM", 64);
        Install(L"P3", L"HKCU", 64);
    } else {
        for (int i = 1; i <= 5; ++i)
            Install(L"P" + std::to_wstring(i), L"HKLM", 32, name == "cancelled" && i == 2,
                    name == "cancelled" && i == 1 ? L"missing" : L" --sleep 300");
    }
    Start();
    for (const int row : u.ticked) rows_->SetTicked(row, true);
    rows_->Select(3 % rows_->RowCount());
    const std::vector<ListRow> before = rows_->Rows();
    Screenshot(L"uninstall-" + Wide(FromUtf8(name)));
    Confirm(u.answer);
    WaitForCommand();
    EXPECT_EQ(Log(), u.runs);
    EXPECT_EQ(Names(), u.left);
    for (const ListRow& row : rows_->Rows()) {
        const auto& was = *std::find_if(before.begin(), before.end(), [&](auto& r) { return r.texts == row.texts; });
        EXPECT_EQ(row.ticked, u.answer == IDNO && was.ticked) << "a rebuild keeps no tick, No changes none";
        EXPECT_EQ(row.selected, u.answer == IDNO && was.selected);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, UninstallCommand, ::testing::Values(
    Uninstall{"ticked", {0, 2, 4}, IDYES, {"P5 start", "P5 end", "P3 start", "P3 end", "P1 start", "P1 end"},
              {L"P2 product", L"P4 product"}},
    Uninstall{"no", {1}, IDNO, {}, {L"P1 product", L"P2 product", L"P3 product", L"P4 product", L"P5 product"}},
    Uninstall{"none-ticked", {}, IDYES, {}, {L"P1 product", L"P2 product", L"P3 product", L"P4 product", L"P5 product"}},
    // P1's uninstaller cannot start, P2's is cancelled by its user.
    Uninstall{"cancelled", {0, 1, 2}, IDYES, {"P3 start", "P3 end", "P2 start", "P2 end"},
              {L"P1 product", L"P2 product", L"P4 product", L"P5 product"}},
    Uninstall{"handoff", {1, 2}, IDYES, {"P3 start", "P3 end", "P2 start", "P2 end"}, {L"P1 product"}}),
    [](const auto& info) { std::string n = info.param.name; n.erase(std::remove(n.begin(), n.end(), '-'), n.end()); return n; });

TEST_F(Velmora, TheWindowStaysLiveWhileAnUninstallerRunsAndACloseWaitsForIt) {
    Install(L"P1", L"HKLM", 32, false, L" --sleep 4000000000");
    Start();
    rows_->SetTicked(0, true);
    Confirm(IDYES);
    WaitUntil([&] { return !Log().empty(); }, "the uninstaller to start");
    for (int i = 0; i < 15; ++i, Sleep(200))
        ASSERT_TRUE(RoundTripMs(main_, 2000).has_value()) << "the window stopped answering";
    EXPECT_FALSE(IsEnabled(uninstall_));
    EXPECT_TRUE(IsEnabled(exit_));
    Screenshot(L"uninstaller-running");
    Post(main_, WM_CLOSE);
    Sleep(500);
    EXPECT_TRUE(process_->IsRunning()) << "the close did not wait for the uninstaller";
    RunProgram(L"taskkill.exe /f /im velmora_test_child.exe");
    EXPECT_EQ(process_->WaitForExit(30000), 0u);
    EXPECT_EQ(Log(), std::vector<std::string>{"P1 start"});
}

TEST_F(Velmora, AFailedRebuildShowsTheErrorEmptiesTheListAndTheNextCommandWorks) {
    for (int i = 2; i <= 5; ++i) Install(L"P" + std::to_wstring(i));
    Install(L"P1", L"HKLM", 32, false, L" --corrupt \"HKLM\\" + kUninstallKey + L"P3\" 32");
    Start();
    rows_->SetTicked(0, true);
    Confirm(IDYES);
    const HWND error = WaitForMessageBox(process_->Id(), L"Velmora", 30000);
    EXPECT_EQ(ReadMessageBox(error).text, L"Invalid data type for 'DisplayName'");
    EXPECT_EQ(ReadMessageBox(error).buttons, std::vector<int>{IDOK});
    Screenshot(L"rebuild-error");
    AnswerMessageBox(error, IDOK);
    WaitForCommand();
    EXPECT_EQ(rows_->RowCount(), 0);
    Install(L"P3");  // mended: the next command rebuilds the list
    Confirm(IDYES);
    WaitForCommand();
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"P2 product", L"P3 product", L"P4 product", L"P5 product"}));
}

TEST_F(Velmora, AStoredCommandLineReachesTheUninstallerExactly) {
    const std::wstring record = TempFile(L"record"), injected = TempFile(L"injected");
    const std::wstring command = L"\"" + ProgramDirectory() + L"velmora_test_child.exe\" --record \"" + record +
                                 L"\" %TEMP% \"%ProgramFiles%\" a^&b & echo x > \"" + injected + L"\" | more 'q\"uo\"te' \"\"\"";
    InstallCommand(L"Shellish", command);
    Start();
    rows_->SetTicked(0, true);
    Confirm(IDYES);
    WaitForCommand();
    EXPECT_EQ(ReadFileBytes(record), Narrow(command));
    EXPECT_FALSE(FileExists(injected)) << "the line went through a shell";
    DeleteFileW(record.c_str());
}

}  // namespace
}  // namespace velmora::gui
