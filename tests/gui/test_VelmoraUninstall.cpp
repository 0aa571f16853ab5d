// The uninstall command end to end: the real Velmora.exe, the real registry and
// stand-in uninstallers that log their runs and remove their own entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "VelmoraSession.h"
#include "WindowsTestSupport.h"

namespace velmora::gui {
namespace {

const std::wstring kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct Product {
    std::wstring key;
    std::wstring name;
    std::wstring command;  // the UninstallString
    std::wstring hive = L"HKLM";
    int view = 32;
};

class UninstallEndToEnd : public ::testing::Test {
protected:
    UninstallEndToEnd() {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, temp);
        log_ = std::wstring(temp) + L"velmora-uninstall-" + std::to_wstring(GetCurrentProcessId()) + L".log";
        DeleteFileW(log_.c_str());
    }
    ~UninstallEndToEnd() override { DeleteFileW(log_.c_str()); }

    // The stand-in uninstaller's command line: it logs under the product's key
    // name and, unless cancelled, removes the product's key.
    std::wstring Uninstaller(const Product& product, bool removes, const std::wstring& extra = L"") const {
        std::wstring line = L"\"" + testing::ProgramDirectory() + L"velmora_fake_uninstaller.exe\" --log \"" + log_ +
                            L"\" " + product.key;
        if (removes) {
            line += L" --remove \"" + product.hive + L"\\" + kUninstallKey + L"\\" + product.key + L"\" " +
                    std::to_wstring(product.hive == L"HKCU" ? 0 : product.view);
        }
        return line + extra;
    }

    // Imports the products, each into its hive and view.
    void Install(const std::vector<Product>& products) {
        for (const int view : {32, 64}) {
            std::wstring text = L"Windows Registry Editor Version 5.00\r\n\r\n";
            bool any = false;
            for (const Product& p : products) {
                if ((p.hive == L"HKCU" ? 64 : p.view) != view) continue;
                any = true;
                text += L"[" + std::wstring(p.hive == L"HKCU" ? L"HKEY_CURRENT_USER" : L"HKEY_LOCAL_MACHINE") + L"\\" +
                        kUninstallKey + L"\\" + p.key + L"]\r\n";
                text += L"\"DisplayName\"=\"" + Escape(p.name) + L"\"\r\n";
                text += L"\"UninstallString\"=\"" + Escape(p.command) + L"\"\r\n\r\n";
            }
            if (!any) continue;
            const std::wstring file = log_ + L"." + std::to_wstring(view) + L".reg";
            std::string bytes = "\xFF\xFE";
            for (const wchar_t c : text) {
                bytes += static_cast<char>(c & 0xFF);
                bytes += static_cast<char>(c >> 8);
            }
            std::ofstream(std::filesystem::path(file), std::ios::binary) << bytes;
            testing::ImportRegFile(std::string(file.begin(), file.end()), view);
            DeleteFileW(file.c_str());
        }
    }

    static std::wstring Escape(const std::wstring& text) {
        std::wstring out;
        for (const wchar_t c : text) {
            if (c == L'\\' || c == L'"') out += L'\\';
            out += c;
        }
        return out;
    }

    // The log's lines as "NAME start" / "NAME end", checking that times rise.
    std::vector<std::string> LogEvents() const {
        std::istringstream in(testing::ReadFileBytes(log_));
        std::vector<std::string> events;
        std::string name, what;
        unsigned long long time = 0, last = 0;
        while (in >> name >> what >> time) {
            EXPECT_GE(time, last) << "log times go backwards";
            last = time;
            events.push_back(name + " " + what);
        }
        return events;
    }

    // Presses the uninstall button, answers the confirmation and waits until
    // the command has ended (the button is enabled again).
    void RunCommand(VelmoraSession& session, int answer, DWORD timeoutMs = 60000) {
        ClickButton(session.UninstallButton());
        const HWND box = WaitForMessageBox(session.Program().Id(), L"Velmora");
        const MessageBoxInfo info = ReadMessageBox(box);
        EXPECT_EQ(info.text, L"确定要卸载选择的软件/插件吗？");
        EXPECT_EQ(info.owner, session.Main());
        EXPECT_EQ(info.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_FALSE(IsEnabled(session.UninstallButton()));
        AnswerMessageBox(box, answer);
        WaitUntilEnabled(session.UninstallButton(), timeoutMs);
    }

    static void WaitUntilEnabled(HWND button, DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        while (!IsEnabled(button)) {
            if (GetTickCount() - start > timeoutMs) throw DriverError("the uninstall button stayed disabled");
            Sleep(20);
        }
        Sleep(100);
    }

    std::wstring log_;
};

std::vector<Product> FiveProducts() {
    std::vector<Product> products;
    for (int i = 1; i <= 5; ++i) {
        products.push_back({L"P" + std::to_wstring(i), L"Product " + std::to_wstring(i), L""});
    }
    return products;
}

TEST_F(UninstallEndToEnd, TickedRowsRunBottomUpOneAtATimeAndDisappear) {
    std::vector<Product> products = FiveProducts();
    for (Product& p : products) p.command = Uninstaller(p, true, L" --sleep 300");
    VelmoraSession session;  // starts from empty Uninstall keys
    Install(products);
    session.Start();
    ASSERT_EQ(Names(session.Rows().Rows()),
              (std::vector<std::wstring>{L"Product 1", L"Product 2", L"Product 3", L"Product 4", L"Product 5"}));
    for (const int row : {0, 2, 4}) session.Rows().SetTicked(row, true);
    session.Screenshot(L"uninstall-ticked");

    RunCommand(session, IDYES);
    EXPECT_EQ(LogEvents(), (std::vector<std::string>{"P5 start", "P5 end", "P3 start", "P3 end", "P1 start", "P1 end"}));
    const std::vector<ListRow> rows = session.Rows().Rows();
    EXPECT_EQ(Names(rows), (std::vector<std::wstring>{L"Product 2", L"Product 4"}));
    EXPECT_TRUE(std::none_of(rows.begin(), rows.end(), [](const ListRow& r) { return r.ticked; }));
    EXPECT_EQ(WaitForFocus(session.Main(), session.List()), session.List()) << "the keyboard left the list";
    session.Screenshot(L"uninstall-after");
}

TEST_F(UninstallEndToEnd, UninstallersThatHandOverToACopyOfThemselvesRunOneAfterAnother) {
    VelmoraSession session;  // starts from empty Uninstall keys
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring log = std::wstring(temp) + L"velmora-nsis.log";
    DeleteFileW(log.c_str());
    // Real NSIS-built products: each uninstaller copies itself into the
    // temporary folder, starts the copy and ends at once; the copy does the work.
    for (const wchar_t* product : {L"A", L"B"}) {
        const std::wstring installer = testing::ProgramDirectory() + L"velmora_nsis_" + product + L".exe";
        ASSERT_EQ(Process::Start(L"\"" + installer + L"\" /S").WaitForExit(60000), 0u);
    }
    session.Start();
    ASSERT_EQ(Names(session.Rows().Rows()), (std::vector<std::wstring>{L"NSIS Product A", L"NSIS Product B"}));
    session.Rows().SetTicked(0, true);
    session.Rows().SetTicked(1, true);

    RunCommand(session, IDYES);
    std::istringstream lines(testing::ReadFileBytes(log));
    std::vector<std::string> events;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        events.push_back(line.substr(0, line.find(' ', 2)));
    }
    EXPECT_EQ(events, (std::vector<std::string>{"B start", "B end", "A start", "A end"}));
    EXPECT_EQ(session.Rows().RowCount(), 0);
    DeleteFileW(log.c_str());
}

TEST_F(UninstallEndToEnd, NoChangesNothingAndYesWithNothingTickedRebuilds) {
    std::vector<Product> products = FiveProducts();
    for (Product& p : products) p.command = Uninstaller(p, true);
    VelmoraSession session;  // starts from empty Uninstall keys
    Install(products);
    session.Start();
    session.Rows().SetTicked(1, true);
    session.Rows().SelectRows({3});
    const std::vector<ListRow> before = session.Rows().Rows();

    RunCommand(session, IDNO);
    const std::vector<ListRow> afterNo = session.Rows().Rows();
    ASSERT_EQ(afterNo.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(afterNo[i].texts, before[i].texts);
        EXPECT_EQ(afterNo[i].ticked, before[i].ticked);
    }
    EXPECT_TRUE(LogEvents().empty());

    session.Rows().SetTicked(1, false);
    RunCommand(session, IDYES);
    EXPECT_TRUE(LogEvents().empty());
    const std::vector<ListRow> rebuilt = session.Rows().Rows();
    EXPECT_EQ(rebuilt.size(), 5u);
    EXPECT_TRUE(std::none_of(rebuilt.begin(), rebuilt.end(),
                             [](const ListRow& r) { return r.ticked || r.selected || r.focused; }))
        << "a fill keeps no tick, selection or focus";
}

TEST_F(UninstallEndToEnd, AFailedStartIsPassedOverAndACancelledUninstallKeepsItsEntry) {
    std::vector<Product> products = FiveProducts();
    products[0].command = L"\"C:\\no such place\\unins000.exe\" /S";
    products[1].command = Uninstaller(products[1], false);  // cancelled by the user
    products[2].command = Uninstaller(products[2], true);
    products[3].command = Uninstaller(products[3], true);
    products[4].command = Uninstaller(products[4], true);
    VelmoraSession session;  // starts from empty Uninstall keys
    Install(products);
    session.Start();
    for (const int row : {0, 1, 2}) session.Rows().SetTicked(row, true);

    RunCommand(session, IDYES);
    EXPECT_EQ(LogEvents(), (std::vector<std::string>{"P3 start", "P3 end", "P2 start", "P2 end"}));
    EXPECT_EQ(Names(session.Rows().Rows()),
              (std::vector<std::wstring>{L"Product 1", L"Product 2", L"Product 4", L"Product 5"}));
}

TEST_F(UninstallEndToEnd, EntriesFromTheHandOffAreUninstalledTheSameWay) {
    std::vector<Product> products = {
        {L"P32", L"Product 32", L""},
        {L"P64", L"Product 64", L"", L"HKLM", 64},
        {L"PUser", L"Product User", L"", L"HKCU", 64},
    };
    for (Product& p : products) p.command = Uninstaller(p, true);
    VelmoraSession session;  // starts from empty Uninstall keys
    Install(products);
    session.Start();
    ASSERT_EQ(Names(session.Rows().Rows()),
              (std::vector<std::wstring>{L"Product 32", L"Product 64", L"Product User"}));
    session.Rows().SetTicked(1, true);
    session.Rows().SetTicked(2, true);

    RunCommand(session, IDYES);
    EXPECT_EQ(LogEvents(), (std::vector<std::string>{"PUser start", "PUser end", "P64 start", "P64 end"}));
    EXPECT_EQ(Names(session.Rows().Rows()), std::vector<std::wstring>{L"Product 32"});
}

TEST_F(UninstallEndToEnd, TheWindowStaysLiveWhileAnUninstallerRunsAndACloseWaitsForIt) {
    std::vector<Product> products = FiveProducts();
    for (Product& p : products) p.command = Uninstaller(p, true, L" --sleep 4000");
    VelmoraSession session;  // starts from empty Uninstall keys
    Install(products);
    session.Start();
    session.Rows().SetTicked(0, true);

    ClickButton(session.UninstallButton());
    AnswerMessageBox(WaitForMessageBox(session.Program().Id(), L"Velmora"), IDYES);
    // Wait until the uninstaller has started.
    const DWORD start = GetTickCount();
    while (LogEvents().empty() && GetTickCount() - start < 20000) Sleep(20);
    ASSERT_EQ(LogEvents(), std::vector<std::string>{"P1 start"});

    std::vector<double> trips;
    for (int i = 0; i < 40; ++i) {
        const auto trip = RoundTripMs(session.Main(), 2000);
        ASSERT_TRUE(trip.has_value()) << "the window did not answer while the uninstaller ran";
        trips.push_back(*trip);
        Sleep(25);
    }
    EXPECT_FALSE(IsEnabled(session.UninstallButton()));
    EXPECT_TRUE(IsEnabled(session.ExitButton()));
    std::sort(trips.begin(), trips.end());
    std::printf("message round trips while waiting: p50 %.2f ms, max %.2f ms over %zu\n", trips[trips.size() / 2],
                trips.back(), trips.size());
    RecordProperty("RoundTripP50Ms", std::to_string(trips[trips.size() / 2]));
    RecordProperty("RoundTripMaxMs", std::to_string(trips.back()));
    session.Screenshot(L"uninstall-running");

    // A close request now takes effect once the command has returned.
    PostClose(session.Main());
    Sleep(300);
    EXPECT_TRUE(session.Program().IsRunning());
    EXPECT_EQ(session.Program().WaitForExit(30000), 0u);
    EXPECT_EQ(LogEvents(), (std::vector<std::string>{"P1 start", "P1 end"}));
}

TEST_F(UninstallEndToEnd, AFailedRebuildShowsTheErrorEmptiesTheListAndTheNextCommandWorks) {
    std::vector<Product> products = FiveProducts();
    for (Product& p : products) p.command = Uninstaller(p, true);
    // Product 1's uninstaller leaves Product 3's entry malformed.
    products[0].command = Uninstaller(products[0], true, L" --corrupt \"HKLM\\" + kUninstallKey + L"\\P3\" 32");
    VelmoraSession session;  // starts from empty Uninstall keys
    Install(products);
    session.Start();
    session.Rows().SetTicked(0, true);

    ClickButton(session.UninstallButton());
    const HWND confirmation = WaitForMessageBox(session.Program().Id(), L"Velmora");
    AnswerMessageBox(confirmation, IDYES);
    WaitUntilGone(confirmation);
    const HWND error = WaitForMessageBox(session.Program().Id(), L"Velmora", 30000);
    const MessageBoxInfo info = ReadMessageBox(error);
    EXPECT_EQ(info.text, L"Invalid data type for 'DisplayName'");
    EXPECT_EQ(info.buttons, std::vector<int>{IDOK});
    session.Screenshot(L"uninstall-rebuild-error");
    AnswerMessageBox(error, IDOK);
    WaitUntilEnabled(session.UninstallButton(), 30000);
    EXPECT_EQ(session.Rows().RowCount(), 0);

    // Mend the entry; the next command rebuilds the list.
    Product mended = products[2];
    mended.command = Uninstaller(mended, true);
    Install({mended});
    RunCommand(session, IDYES);
    EXPECT_EQ(Names(session.Rows().Rows()),
              (std::vector<std::wstring>{L"Product 2", L"Product 3", L"Product 4", L"Product 5"}));
}

}  // namespace
}  // namespace velmora::gui
