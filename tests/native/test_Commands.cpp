// RunAndWait's loop and the uninstall command's walk, with scripted processes
// and a fake of the window as the command sees it: what only a script can give
// (a child that runs for so many polls, a pump that ticks rows, a rescan that
// fails) and what only a fake can count (handles, the order of the calls).
#include <gtest/gtest.h>

#include <stdexcept>

#include "Substitutes.h"
#include "frmOrvUninstallMainLogic.h"

namespace velmora::testing {
namespace {

using Calls = std::vector<std::string>;

// Records every call; each child runs for `polls` polls, and may do its work
// when it starts (an uninstaller removing its entry).
class FakeProcesses final : public IProcesses {
public:
    bool startFails = false;
    int polls = 0, wow64 = 1;  // wow64 -1: the query does not exist
    std::function<void(const std::u16string&)> onStart;
    Calls calls;
    StartupRecord startup;
    std::uint32_t flags = 0;

    bool CreateProcess(char16_t* line, std::uint32_t creationFlags, const StartupRecord& s, ProcessRecord* child) override {
        calls.push_back("create " + ToUtf8(line));
        startup = s, flags = creationFlags, remaining_ = polls;
        if (!startFails && onStart) onStart(line);
        return !startFails && (*child = {0x100, 0x200}, true);
    }
    std::uint32_t WaitForSingleObject(ProcessHandle, std::uint32_t ms) override {
        calls.push_back(ms == kInfinite ? "wait infinite" : "wait " + std::to_string(ms));
        return ms != kInfinite && remaining_-- > 0 ? kWaitTimeout : kWaitObject0;
    }
    bool GetExitCodeProcess(ProcessHandle, std::uint32_t* code) override {
        return calls.push_back("exitcode"), *code = 0xC0000005u, true;
    }
    bool CloseHandle(ProcessHandle handle) override { return calls.push_back(handle == 0x100 ? "close process" : "close thread"), true; }
    void Sleep(std::uint32_t ms) override { calls.push_back("sleep " + std::to_string(ms)); }
    bool QueryWow64(bool* isWow64) override { return wow64 >= 0 && (*isWow64 = wow64 == 1, true); }

private:
    int remaining_ = 0;
};

TEST(RunAndWait, PollsServicingMessagesThenClosesBothHandlesWhateverHappens) {
    FakeProcesses processes;
    processes.polls = 2;
    EXPECT_EQ(RunAndWait(processes, [&] { processes.calls.push_back("messages"); }, u"\"C:\\A B\\u.exe\" /S", 5),
              static_cast<int>(0xC0000005u));
    EXPECT_EQ(processes.calls, (Calls{"create \"C:\\A B\\u.exe\" /S", "wait 0", "messages", "sleep 10", "wait 0", "messages",
                                      "sleep 10", "wait 0", "wait infinite", "exitcode", "close process", "close thread"}));
    EXPECT_EQ(processes.flags, 0x30u);  // a new console, normal priority
    EXPECT_EQ(processes.startup.cb, sizeof(void*) == 4 ? 68u : 104u);
    EXPECT_EQ(processes.startup.dwFlags, 1u);
    EXPECT_EQ(processes.startup.wShowWindow, 5u);

    processes = FakeProcesses();
    processes.polls = 5;
    EXPECT_THROW(RunAndWait(processes, [] { throw std::runtime_error("pump"); }, u"x.exe", 5), std::runtime_error);
    EXPECT_EQ(Calls(processes.calls.end() - 2, processes.calls.end()), (Calls{"close process", "close thread"}));
}

TEST(RunAndWait, StartsOnlyWhatProcessCreationTakesAndNothingAfterAFailedStart) {
    const std::u16string longest(kMaxCommandLine, u'c');
    FakeProcesses processes;
    EXPECT_NE(RunAndWait(processes, nullptr, longest, 5), -1);
    EXPECT_EQ(processes.calls.front(), "create " + ToUtf8(longest));
    processes.calls.clear();
    EXPECT_EQ(RunAndWait(processes, nullptr, longest + u"c", 5), -1);
    EXPECT_TRUE(processes.calls.empty());
    processes.startFails = true;
    EXPECT_EQ(RunAndWait(processes, nullptr, u"missing.exe", 5), -1);
    EXPECT_EQ(processes.calls, Calls{"create missing.exe"});
}

TEST(IsWow64, FollowsTheQueryAndItsAbsence) {
    FakeProcesses processes;
    EXPECT_TRUE(IsWow64(processes));
    processes.wow64 = 0;
    EXPECT_FALSE(IsWow64(processes));
    processes.wow64 = -1;
    EXPECT_FALSE(IsWow64(processes));
}

TEST(ExceptionDisplayText, AFullStopOnlyAfterAUnitAboveIt) {
    for (const auto& [message, shown] : std::vector<std::pair<std::u16string, std::u16string>>{
             {u"Invalid data type for 'X'", u"Invalid data type for 'X'"}, {u"Disk full", u"Disk full."},
             {u"读取失败", u"读取失败."}, {u"Why?", u"Why?."}, {u"Done.", u"Done."}, {u"a-", u"a-"}, {u"", u""}})
        EXPECT_EQ(ExceptionDisplayText(message), shown) << ToUtf8(message);
}

// Five entries P1..P5 shown in that order; each uninstaller removes its own.
class UninstallCommandTest : public ::testing::Test, public IUninstallView {
protected:
    UninstallCommandTest() {
        for (const char16_t* name : {u"P1", u"P2", u"P3", u"P4", u"P5"})
            SmallRegistry::SetText(registry.Add(name), u"UninstallString", std::u16string(name) + u" /x");
        processes.onStart = [this](const std::u16string& line) { registry.Find(line.substr(0, 2))->gone = true; };
        inventory = Create();
        PopulateList();
        log.clear();
    }
    std::unique_ptr<TOrvUninstallReader> Create() { return std::make_unique<TOrvUninstallReader>(registry, files); }
    void Run(std::function<void()> pump = nullptr) {
        UninstallCommand(*this, inventory, [this] { return Create(); }, processes, [&] { if (pump) pump(); });
    }
    Calls Started() const {
        Calls started;
        for (const std::string& call : processes.calls)
            if (call.rfind("create", 0) == 0 || call == "close thread") started.push_back(call);
        return started;
    }

    // The window as the command sees it.
    int RowCount() override { return static_cast<int>(rows.size()); }
    bool RowChecked(int row) override { return rows.at(row).second; }
    TOrvUninstallInfo* RowEntry(int row) override { return rows.at(row).first; }
    bool ConfirmUninstall() override { return log.push_back(enabled ? "confirm enabled" : "confirm"), answer; }
    void SetUninstallEnabled(bool value) override { log.push_back((enabled = value) ? "enable" : "disable"); }
    void ClearRows() override { log.push_back("clear"), rows.clear(); }
    void MergeHandOffInventory() override { log.push_back("merge"); }
    void PopulateList() override {
        log.push_back("populate");
        rows.clear();
        for (std::size_t i = 0; i < inventory->Entries.Count(); ++i) rows.push_back({inventory->Entries[i], false});
    }

    SmallRegistry registry;
    ScriptedFiles files;
    FakeProcesses processes;
    std::unique_ptr<TOrvUninstallReader> inventory;
    std::vector<std::pair<TOrvUninstallInfo*, bool>> rows;
    bool answer = true, enabled = true;
    Calls log;
};

TEST_F(UninstallCommandTest, TickedRowsRunBottomUpEachWaitedForThenTheListIsRebuilt) {
    rows[0].second = rows[2].second = rows[4].second = true;
    processes.polls = 1;
    Run();
    EXPECT_EQ(Started(), (Calls{"create P5 /x", "close thread", "create P3 /x", "close thread", "create P1 /x", "close thread"}));
    EXPECT_EQ(processes.startup.wShowWindow, 5u);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].first->KeyName + rows[1].first->KeyName, u"P2P4");
    EXPECT_EQ(log, (Calls{"disable", "confirm", "merge", "populate", "enable"}));
    EXPECT_TRUE(registry.handles.empty());
    EXPECT_EQ(registry.misuse, 0);
}

TEST_F(UninstallCommandTest, NoChangesNothingAndTicksCountWhenTheWalkReachesThem) {
    rows[1].second = true;
    answer = false;
    Run();
    EXPECT_TRUE(processes.calls.empty());
    EXPECT_EQ(log, (Calls{"disable", "confirm", "enable"}));

    answer = true;
    rows[1].second = false;
    rows[4].second = true;
    processes.polls = 2;
    Run([this] { if (!rows.empty()) rows[1].second = true; });  // ticked while P5's uninstaller runs
    EXPECT_EQ(Started(), (Calls{"create P5 /x", "close thread", "create P2 /x", "close thread"}));
}

TEST_F(UninstallCommandTest, ACommandThatCannotStartIsPassedOver) {
    rows[1].second = rows[3].second = true;
    processes.startFails = true;
    Run();
    EXPECT_EQ(processes.calls, (Calls{"create P4 /x", "create P2 /x"}));
    EXPECT_EQ(rows.size(), 5u);
}

TEST_F(UninstallCommandTest, AFailedRebuildEmptiesTheListAndTheNextCommandWorks) {
    rows[0].second = true;
    processes.onStart = [this](const std::u16string&) {
        SmallRegistry::Set(*registry.Find(u"P3"), u"DisplayName", kRegMultiSz, {0x41, 0, 0, 0, 0, 0});
    };
    EXPECT_THROW(Run(), ERegistryException);
    EXPECT_EQ(log, (Calls{"disable", "confirm", "clear", "enable"}));
    SmallRegistry::SetText(*registry.Find(u"P3"), u"DisplayName", u"P3");
    Run();
    EXPECT_EQ(rows.size(), 5u);

    // An inventory that start-up could not create is created anew, or the list stays empty.
    inventory.reset();
    rows.clear();
    SmallRegistry::Set(*registry.Find(u"P3"), u"Comments", kRegBinary, {1, 2});
    EXPECT_THROW(Run(), ERegistryException);
    EXPECT_EQ(inventory, nullptr);
    registry.Find(u"P3")->values.pop_back();
    Run();
    ASSERT_NE(inventory, nullptr);
    EXPECT_EQ(rows.size(), 5u);
}

}  // namespace
}  // namespace velmora::testing
