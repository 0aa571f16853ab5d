// The uninstall command's walk and rebuild against a fake view, the scripted
// process functions and the in-memory registry.
#include <gtest/gtest.h>

#include <algorithm>

#include "FakeProcesses.h"
#include "frmOrvUninstallMainLogic.h"
#include "platform/MemoryRegistry.h"
#include "platform/PortableProfile.h"

namespace velmora::testing {
namespace {

const std::u16string kUninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Rows in display order, each pointing at an inventory entry, as a fill leaves them.
class FakeView final : public IUninstallView {
public:
    explicit FakeView(std::unique_ptr<TOrvUninstallReader>& inventory) : inventory_(inventory) {}

    struct Row {
        TOrvUninstallInfo* entry;
        bool checked;
    };
    std::vector<Row> rows;
    bool answerYes = true;
    bool enabled = true;
    std::vector<std::string> log;

    WindowHandle Window() override { return 0; }
    int RowCount() override { return static_cast<int>(rows.size()); }
    bool RowChecked(int row) override { return rows.at(row).checked; }
    TOrvUninstallInfo* RowEntry(int row) override {
        log.push_back("entry " + ToUtf8(rows.at(row).entry->KeyName));
        return rows.at(row).entry;
    }
    bool ConfirmUninstall() override {
        log.push_back(enabled ? "confirm while enabled" : "confirm");
        return answerYes;
    }
    void SetUninstallEnabled(bool value) override {
        enabled = value;
        log.push_back(value ? "enable" : "disable");
    }
    void ClearRows() override {
        rows.clear();
        log.push_back("clear");
    }
    void MergeHandOffInventory() override { log.push_back("merge"); }
    void PopulateList() override {
        log.push_back("populate");
        rows.clear();
        for (std::size_t i = 0; i < inventory_->Entries.Count(); ++i) rows.push_back({inventory_->Entries[i], false});
        // Displayed sorted by name; the fixtures' names sort like their keys.
        std::sort(rows.begin(), rows.end(),
                  [](const Row& a, const Row& b) { return a.entry->DisplayName < b.entry->DisplayName; });
    }

private:
    std::unique_ptr<TOrvUninstallReader>& inventory_;
};

class UninstallCommandTest : public ::testing::Test {
protected:
    UninstallCommandTest() {
        for (const char16_t* name : {u"P1", u"P2", u"P3", u"P4", u"P5"}) AddProduct(name);
        inventory = std::make_unique<TOrvUninstallReader>(registry, files);
        // Each fake uninstaller removes its own product's key.
        processes.onStart = [this](const std::u16string& commandLine) {
            const std::u16string key = commandLine.substr(0, commandLine.find(u' '));
            registry.DeleteKey(kHKeyLocalMachine, kUninstall + key);
        };
        view.PopulateList();
        view.log.clear();
    }
    void AddProduct(const std::u16string& name) {
        registry.SetString(kHKeyLocalMachine, kUninstall + name, u"DisplayName", name);
        registry.SetString(kHKeyLocalMachine, kUninstall + name, u"UninstallString", name + u" /uninstall");
    }
    void Run() {
        UninstallCommand(view, inventory, [this] { return std::make_unique<TOrvUninstallReader>(registry, files); },
                         processes, [this] { processes.calls.push_back("messages"); if (pump) pump(); });
    }
    std::vector<std::u16string> Started() const { return processes.commandLines; }
    std::vector<std::u16string> Listed() const {
        std::vector<std::u16string> names;
        for (const auto& row : view.rows) names.push_back(row.entry->DisplayName);
        return names;
    }

    MemoryRegistry registry;
    PortableProfileFiles files;
    FakeProcesses processes;
    std::unique_ptr<TOrvUninstallReader> inventory;
    FakeView view{inventory};
    std::function<void()> pump;
};

TEST_F(UninstallCommandTest, RunsTickedRowsBottomUpOneAfterAnotherThenRebuilds) {
    view.rows[0].checked = view.rows[2].checked = view.rows[4].checked = true;
    processes.pollsWhileRunning = 1;
    Run();

    EXPECT_EQ(Started(), (std::vector<std::u16string>{u"P5 /uninstall", u"P3 /uninstall", u"P1 /uninstall"}));
    // Each child is waited for before the next starts: a create is always
    // followed by its own waits and handle closing.
    std::vector<std::string> sequence;
    for (const auto& call : processes.calls) {
        if (call.rfind("create", 0) == 0 || call == "close thread") sequence.push_back(call);
    }
    EXPECT_EQ(sequence, (std::vector<std::string>{"create P5 /uninstall", "close thread", "create P3 /uninstall",
                                                  "close thread", "create P1 /uninstall", "close thread"}));
    EXPECT_EQ(processes.lastStartup.wShowWindow, 5u);
    EXPECT_EQ(Listed(), (std::vector<std::u16string>{u"P2", u"P4"}));
    EXPECT_TRUE(std::none_of(view.rows.begin(), view.rows.end(), [](const auto& r) { return r.checked; }));
    EXPECT_EQ(view.log.front(), "disable");
    EXPECT_EQ(view.log.back(), "enable");
    EXPECT_TRUE(view.enabled);
}

TEST_F(UninstallCommandTest, NoLeavesEverythingAsItWas) {
    view.rows[1].checked = true;
    view.answerYes = false;
    Run();
    EXPECT_TRUE(processes.calls.empty());
    EXPECT_EQ(view.log, (std::vector<std::string>{"disable", "confirm", "enable"}));
    EXPECT_TRUE(view.rows[1].checked);
}

TEST_F(UninstallCommandTest, YesWithNothingTickedStillRebuilds) {
    Run();
    EXPECT_TRUE(processes.calls.empty());
    EXPECT_EQ(view.log, (std::vector<std::string>{"disable", "confirm", "merge", "populate", "enable"}));
    EXPECT_EQ(Listed().size(), 5u);
}

TEST_F(UninstallCommandTest, TicksChangedDuringTheWalkCountWhenReached) {
    view.rows[4].checked = true;
    processes.pollsWhileRunning = 2;
    // While P5's uninstaller runs, the user ticks P2 and unticks nothing else.
    pump = [this] { view.rows[1].checked = true; };
    Run();
    EXPECT_EQ(Started(), (std::vector<std::u16string>{u"P5 /uninstall", u"P2 /uninstall"}));
}

TEST_F(UninstallCommandTest, ACommandThatCannotStartIsPassedOver) {
    view.rows[1].checked = view.rows[3].checked = true;
    processes.startFails = true;
    Run();
    EXPECT_EQ(Started(), (std::vector<std::u16string>{u"P4 /uninstall", u"P2 /uninstall"}));
    EXPECT_EQ(Listed().size(), 5u);  // nothing was removed
}

TEST_F(UninstallCommandTest, AFailedRebuildEmptiesTheListAndTheNextCommandWorks) {
    view.rows[0].checked = true;
    // The uninstaller leaves a malformed entry behind.
    processes.onStart = [this](const std::u16string&) {
        registry.SetValue(kHKeyLocalMachine, kUninstall + u"P3", u"DisplayName", kRegMultiSz, {0x41, 0, 0, 0, 0, 0});
    };
    try {
        Run();
        FAIL() << "the rescan error was swallowed";
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'DisplayName'");
    }
    EXPECT_TRUE(view.rows.empty());
    EXPECT_TRUE(view.enabled);

    registry.SetString(kHKeyLocalMachine, kUninstall + u"P3", u"DisplayName", u"P3");
    processes.onStart = nullptr;
    Run();
    EXPECT_EQ(Listed().size(), 5u);
}

TEST_F(UninstallCommandTest, AMissingInventoryIsCreatedAnewOrTheListStaysEmpty) {
    inventory.reset();
    view.rows.clear();
    registry.SetValue(kHKeyLocalMachine, kUninstall + u"P3", u"Comments", kRegBinary, {1, 2});
    EXPECT_THROW(Run(), ERegistryException);
    EXPECT_EQ(inventory, nullptr);
    EXPECT_TRUE(view.rows.empty());
    EXPECT_TRUE(view.enabled);

    registry.DeleteValue(kHKeyLocalMachine, kUninstall + u"P3", u"Comments");
    Run();
    ASSERT_NE(inventory, nullptr);
    EXPECT_EQ(Listed().size(), 5u);
}

}  // namespace
}  // namespace velmora::testing
