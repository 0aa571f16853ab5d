// RunAndWait's loop and the uninstall command's walk, with scripted processes
// and a fake of the window as the command sees it: what only a script can give
// (a child that runs for so many polls, a pump that ticks a row, a rescan that
// fails) and what only a fake can count (handles, rows read, the order of calls).
// The real window runs the same scenarios end to end in tests/gui.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <stdexcept>

#include "Substitutes.h"
#include "frmOrvUninstallMainLogic.h"

namespace velmora::testing {
using Calls = std::vector<std::string>;
using Ids = std::vector<std::uint32_t>;
using Snapshot = std::vector<TProcessEntry>;

// Records every call; each child runs for `polls` polls and may do its work
// when it starts (an uninstaller removing its entry). With `elevate`, process
// creation asks for elevation and the shell starts the program.
class FakeProcesses final : public IProcesses {
public:
    using H = ProcessHandle;
    bool elevate = false, wow64 = true, jobLimitsFail = false;
    int polls = 0;
    Calls calls;
    TStartupRecord startup;
    std::uint32_t flags = 0;
    long lastError = 0;
    // The open handles by value, each with its kind: process, thread, job, descendant.
    std::map<std::uintptr_t, std::string> openHandles;

    bool CreateProcessW(char16_t* line, std::uint32_t f, const TStartupRecord& s, TProcessRecord* child) override {
        calls.push_back("create " + ToUtf8(line));
        lastError = elevate ? kErrorElevationRequired : kErrorFileNotFound;
        startup = s, flags = f, remaining_ = polls;
        return !elevate && (*child = {Open(0x100, "process"), Open(0x200, "thread")}, true);
    }
    std::uint32_t WaitForSingleObject(ProcessHandle handle, std::uint32_t ms) override {
        if (Value(handle) > 0x1000) {
            if (!openHandles.count(Value(handle))) ADD_FAILURE() << "waited on a descendant's handle after its close";
            const bool runs = endsAt.count(Id(handle)) ? now < endsAt[Id(handle)] : descendantPolls-- > 0;
            return runs ? kWaitTimeout : kWaitObject0;
        }
        calls.push_back(ms == kInfinite ? "wait infinite" : "wait " + std::to_string(ms));
        return ms != kInfinite && remaining_-- > 0 ? kWaitTimeout : kWaitObject0;
    }
    bool GetExitCodeProcess(H, std::uint32_t* code) override { return calls.push_back("exitcode"), *code = 3, true; }
    // Every handle is closed once, and only one that is open; a close leaves
    // its own last error, as a failing one would.
    bool CloseHandle(H handle) override {
        const auto open = openHandles.find(Value(handle));
        lastError = kErrorInvalidHandle;
        if (open == openHandles.end()) return ADD_FAILURE() << "closed a handle that is not open", false;
        // A job's members are let go (they may break away unasked) before it closes.
        if (open->second == "job" && assigned_ && calls.back() != "job limits 6144") ADD_FAILURE() << "a job kept hold";
        if (open->second != "descendant") calls.push_back("close " + open->second);
        openHandles.erase(open);
        return true;
    }
    ~FakeProcesses() override {
        for (const auto& [handle, kind] : openHandles) ADD_FAILURE() << "a " << kind << " handle was left open";
    }
    void Sleep(std::uint32_t) override { ++now, calls.push_back("sleep"); }
    bool QueryWow64(bool* isWow64) override { return *isWow64 = wow64, true; }
    // A failed start is a missing program, unless it asks for elevation.
    long GetLastError() override { return lastError; }
    void SetLastError(long error) override { lastError = error; }
    // Any name of a program is found as it stands.
    bool SearchPathW(const std::u16string& name, std::u16string* path) override {
        calls.push_back("search " + ToUtf8(name));
        return name.size() > 4 && name.substr(name.size() - 4) == u".exe" && (*path = name, true);
    }
    bool ShellExecuteExW(const TShellStartRecord& start, ProcessHandle* process) override {
        calls.push_back("shell " + ToUtf8(start.lpFile) + " | " + ToUtf8(start.lpParameters));
        remaining_ = polls;
        return *process = Open(0x100, "process"), true;
    }
    // The started process is number 10; `before` lists the machine's processes
    // just before the start and `snapshot` at each later look, and only those
    // `openable` names can be opened (as 0x1000 + id), each created at 1 or at
    // `createdAt`, running until the clock (one tick a sleep) reaches `endsAt`
    // or else for `descendantPolls` tests, its image in `images` or unreadable.
    // An unopened one's image, read without a handle, is in `unopenedImages`.
    // With `members`, the started process is in a job that lists them at each look.
    // looks: the snapshots after the one before the start; imagesFrom: the
    // clock from which `images` can be read.
    Snapshot before{{4, 0}};
    std::function<Snapshot()> snapshot;
    std::function<Ids()> members;
    Ids openable;
    int descendantPolls = 0, now = 0, looks = -1, imagesFrom = 0;
    std::map<std::uint32_t, int> endsAt;
    std::map<std::uint32_t, std::uint64_t> createdAt;
    std::map<std::uint32_t, std::u16string> images, unopenedImages;
    std::vector<std::u16string> temporary;
    std::uint32_t GetProcessId(ProcessHandle) override { return 10; }
    Snapshot ProcessSnapshot() override { return ++looks == 0 ? before : snapshot ? snapshot() : Snapshot{}; }
    H OpenProcess(std::uint32_t id) override {
        return std::count(openable.begin(), openable.end(), id) ? Open(0x1000 + id, "descendant") : H{};
    }
    bool ProcessCreationTime(ProcessHandle handle, std::uint64_t* time) override {
        return *time = createdAt.count(Id(handle)) ? createdAt[Id(handle)] : 1, true;
    }
    bool QueryFullProcessImageNameW(ProcessHandle handle, std::u16string* path) override {
        return now >= imagesFrom && images.count(Id(handle)) && (*path = images[Id(handle)], true);
    }
    bool ProcessImagePath(std::uint32_t id, std::u16string* path) override {
        return unopenedImages.count(id) && (*path = unopenedImages[id], true);
    }
    std::vector<std::u16string> TemporaryDirectories() override { return temporary; }
    std::uint32_t ResumeThread(ProcessHandle) override { return calls.push_back("resume"), 1; }
    ProcessHandle CreateJobObjectW() override { return members ? Open(0x300, "job") : H{}; }
    bool SetInformationJobObject(ProcessHandle, std::uint32_t limits) override {
        return calls.push_back("job limits " + std::to_string(limits)), !jobLimitsFail;
    }
    bool AssignProcessToJobObject(ProcessHandle, ProcessHandle) override { return assigned_ = true; }
    std::vector<std::uint32_t> JobProcessIds(ProcessHandle) override { return members ? members() : Ids{}; }
    bool Wow64DisableWow64FsRedirection(void**) override { return calls.push_back("fs off"), true; }
    bool Wow64RevertWow64FsRedirection(void*) override { return calls.push_back("fs on"), true; }
    std::u16string GetSystemDirectoryW() override { return u"C:\\WINDOWS\\system32"; }
    std::u16string GetWindowsDirectoryW() override { return u"C:\\WINDOWS"; }
    long OpenDescendants() const {
        return std::count_if(openHandles.begin(), openHandles.end(), [](auto& h) { return h.second == "descendant"; });
    }

private:
    static std::uintptr_t Value(H handle) { return static_cast<std::uintptr_t>(handle); }
    static std::uint32_t Id(H handle) { return static_cast<std::uint32_t>(Value(handle) - 0x1000); }
    H Open(std::uintptr_t value, const char* kind) {
        if (!openHandles.emplace(value, kind).second) ADD_FAILURE() << "a " << kind << " handle opened twice";
        return static_cast<H>(value);
    }
    int remaining_ = 0;
    bool assigned_ = false;
};

// The fake itself fails a test that leaves a handle open.
TEST(RunAndWait, PollsServicingMessagesUntilTheChildEndsThenClosesBothHandles) {
    FakeProcesses processes;
    processes.polls = 2;
    // The line reaches process creation as it stands: shell syntax and references untouched.
    const std::u16string line = u"\"C:\\A B\\u.exe\" /S %TEMP% a^&b | more";
    const auto pump = [&] { processes.calls.push_back("messages"); };
    EXPECT_EQ(RunAndWait(processes, pump, line, 5), 3);
    EXPECT_EQ(processes.calls,
              (Calls{"create " + ToUtf8(line), "resume", "wait 0", "messages", "sleep", "wait 0", "messages", "sleep",
                     "wait 0", "wait infinite", "exitcode", "close process", "close thread"}));
    // A new console, normal priority, suspended until it is in a job; shown as asked.
    EXPECT_EQ((Ids{processes.flags, processes.startup.dwFlags, processes.startup.wShowWindow}), (Ids{0x34, 1, 5}));
}

TEST(RunAndWait, TakesTheLongestLineProcessCreationTakesAndNoLonger) {
    FakeProcesses processes;
    const std::u16string longest(kMaxCommandLine, u'c');
    EXPECT_EQ(RunAndWait(processes, nullptr, longest, 5), 3);
    EXPECT_EQ(processes.calls.front(), "create " + ToUtf8(longest));
    processes.calls.clear();
    EXPECT_EQ(RunAndWait(processes, nullptr, longest + u"c", 5), -1);
    EXPECT_EQ(processes.calls, Calls{});
}

// The owner of a handle leaves the last error as the failed call before its
// close left it.
TEST(RunAndWait, AClosedHandleKeepsTheLastError) {
    FakeProcesses processes;
    processes.openable = {11};
    processes.lastError = kErrorElevationRequired;
    unique_process_handle(processes.OpenProcess(11), TProcessHandleCloser(processes)).reset();
    EXPECT_EQ(processes.lastError, kErrorElevationRequired);
}

// 11, opened, whose program can be read from 30 on, running until 80.
void Starting(FakeProcesses& p, const std::u16string& image) {
    p.openable = {11};
    p.images = {{11, image}};
    p.imagesFrom = 30;
    p.endsAt = {{11, 80}};
    p.snapshot = [] { return Snapshot{{11, 10}}; };
}

// 11, which cannot be opened (another account's copy), named by a look with
// the started process as its parent three times, then no more; 12, listed
// with it, ended before the start.
void Unopened(FakeProcesses& p, Snapshot before, const std::u16string& image) {
    p.before = std::move(before);
    if (!image.empty()) p.unopenedImages = {{11, image}};
    p.snapshot = [&p] { return p.looks <= 3 ? Snapshot{{11, 10}, {12, 99}} : Snapshot{{11, 98}}; };
}

// A wrapper (10) that runs 60 polls; its middle (11) until 30, the copy (12)
// it hands over to, from the temporary folder, until 100. Without a job
// (Windows 7, or a job that cannot be set) the middle is found while the
// wrapper still runs, so that the copy is known by its parent; a job finds it
// without those looks.
void Chain(FakeProcesses& p, bool job, bool jobLimitsFail = false) {
    p.polls = 60;
    p.openable = {11, 12};
    p.images = {{12, u"C:\\Temp\\au_.exe"}};
    p.endsAt = {{11, 30}, {12, 100}};
    p.snapshot = [&p] {
        Snapshot running;
        if (p.now < 30) running.push_back({11, 10});
        if (p.now >= 20) running.push_back({12, 11});
        return running;
    };
    if (job) p.members = [&p] { return p.now < 30 ? Ids{10, 11, 12} : Ids{10, 12}; };
    p.jobLimitsFail = jobLimitsFail;
}

// What holds the wait once the started process (10) has ended: the scene, and
// the clock's range when the wait lets go (one tick a sleep) and the looks it
// took (-1: not counted).
struct Hold {
    const char* name;
    std::function<void(FakeProcesses&)> scene;
    int from, to, looks;
};
class Holds : public ::testing::TestWithParam<Hold> {};
TEST_P(Holds, TheWaitLetsGoWhenNothingThatMayBeACopyRuns) {
    FakeProcesses processes;
    processes.temporary = {u"C:\\Temp\\"};
    GetParam().scene(processes);
    EXPECT_EQ(RunAndWait(processes, nullptr, u"u.exe", 5), 3);
    EXPECT_GE(processes.now, GetParam().from);
    EXPECT_LE(processes.now, GetParam().to);
    if (GetParam().looks >= 0) {
        EXPECT_EQ(processes.looks, GetParam().looks);
    }
}
// clang-format off
INSTANTIATE_TEST_SUITE_P(RunAndWait, Holds, ::testing::Values(
    // An unopened child may be a copy when it is new since the start and its
    // image, read without a handle, is in a temporary folder or unreadable: it
    // is held until a look no longer lists it. One that ran before the start
    // names a dead holder of the started process's id as its parent (as
    // csrss.exe names smss.exe); a browser elsewhere is left running.
    Hold{"unopened_new_unreadable", [](auto& p) { Unopened(p, {{4, 0}, {12, 99}}, u""); }, 1, 1000, 4},
    Hold{"unopened_new_in_temp", [](auto& p) { Unopened(p, {{4, 0}}, u"C:\\Temp\\au_.exe"); }, 1, 1000, 4},
    Hold{"unopened_new_elsewhere", [](auto& p) { Unopened(p, {{4, 0}}, u"C:\\Program Files\\browser.exe"); }, 0, 0, 1},
    Hold{"unopened_listed_before", [](auto& p) { Unopened(p, {{4, 0}, {11, 10}}, u"C:\\Temp\\au_.exe"); }, 0, 0, 1},
    Hold{"unopened_no_list_before", [](auto& p) { Unopened(p, {}, u""); }, 0, 0, 1},
    Hold{"unopened_job_member", [](auto& p) {
        p.members = [&p] { return p.looks <= 3 ? Ids{10, 13} : Ids{10}; };
    }, 1, 1000, 4},
    // Under Wine, a child still starting has no program to read yet: it holds
    // the wait until its program can be read (from 30), and then for as long
    // as it runs (until 80) only when it is a copy.
    Hold{"unreadable_then_a_browser", [](auto& p) { Starting(p, u"C:\\Program Files\\browser.exe"); }, 30, 79, -1},
    Hold{"unreadable_then_a_copy", [](auto& p) { Starting(p, u"C:\\Temp\\au_.exe"); }, 80, 80, -1},
    // The folder matched whatever the case (three tests of 11 see it run); a
    // folder whose name only begins like it does not hold the wait (12).
    Hold{"temporary_folder_in_any_case", [](auto& p) {
        p.openable = {11, 12};
        p.images = {{11, u"C:\\uSERS\\zoe\\TEMP\\aZA\\au_.exe"}, {12, u"C:\\users\\zoe\\Tempest\\x.exe"}};
        p.temporary = {u"D:\\", u"c:\\Users\\ZOE\\temp\\Aza\\"};
        p.descendantPolls = 3;
        p.snapshot = [] { return Snapshot{{11, 10}, {12, 10}}; };
    }, 2, 2, -1},
    Hold{"chain_without_a_job", [](auto& p) { Chain(p, false); }, 100, 100, 4},
    Hold{"chain_in_a_job", [](auto& p) { Chain(p, true); }, 100, 100, 2},
    Hold{"chain_in_a_job_that_cannot_be_set", [](auto& p) { Chain(p, true, true); }, 100, 100, 4},
    Hold{"job_member_gone_once_opened", [](auto& p) {
        p.openable = {14};
        p.members = [&p] { return p.OpenDescendants() ? Ids{10} : Ids{10, 14}; };
    }, 0, 0, -1},
    // 12 names 11 as its parent but is older than it, the 11 found first
    // having taken a dead parent's id: the parent search passes it over, the
    // job keeps it until it ends at 50.
    Hold{"job_member_the_parent_search_passed_over", [](auto& p) {
        p.openable = {11, 12};
        p.images = {{11, u"C:\\Tools\\wrapper.exe"}, {12, u"C:\\Temp\\au_.exe"}};
        p.createdAt = {{11, 5}, {12, 3}};
        p.endsAt = {{11, 1000}, {12, 50}};
        p.snapshot = [] { return Snapshot{{11, 10}, {12, 11}}; };
        p.members = [] { return Ids{10, 11, 12}; };
    }, 50, 50, -1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A program that needs elevation: process creation and the program's lookup
// see the 64-bit file system when asked for; the shell starts it after
// redirection is back on, a program of the 64-bit System32 by its Sysnative
// name, which a 32-bit process reaches with redirection on.
TEST(RunAndWait, TheShellStartsAnElevatedProgramWithRedirectionOn) {
    FakeProcesses processes;
    processes.elevate = true;
    EXPECT_EQ(RunAndWait(processes, nullptr, u"C:\\Windows\\System32\\u.exe /S", 5, {}, true), 3);
    EXPECT_EQ(Calls(processes.calls.begin(), processes.calls.begin() + 5),
              (Calls{"fs off", "create C:\\Windows\\System32\\u.exe /S", "search C:\\Windows\\System32\\u.exe", "fs on",
                     "shell C:\\WINDOWS\\Sysnative\\u.exe | /S"}));
    // Elsewhere, or with the process's own view, the program stays as found.
    for (const bool native : {true, false}) {
        processes.calls.clear();
        EXPECT_EQ(RunAndWait(processes, nullptr, u"D:\\u.exe", 5, {}, native), 3);
        EXPECT_EQ(processes.calls.at(native ? 4 : 2), "shell D:\\u.exe | ");
    }
    processes.calls.clear();
    RunAndWait(processes, nullptr, u"C:\\Windows\\System32\\u.exe", 5);
    EXPECT_EQ(processes.calls.at(2), "shell C:\\Windows\\System32\\u.exe | ");
}

// An inventory over no registry, with a hand-off file of one entry.
class MergeTest : public ::testing::Test {
protected:
    MergeTest() { files.sections = {{u"Planted", {{u"DisplayName", u"Planted entry"}}}}; }
    SmallRegistry registry;
    ScriptedFiles files;
    TOrvUninstallReader inventory{registry, files};
    FakeProcesses processes;
};

TEST_F(MergeTest, On32BitWindowsNothingIsStartedAndNothingRead) {
    processes.wow64 = false;
    RunHandOffAndMerge(inventory, processes, nullptr);
    THandOffRun{processes};
    EXPECT_EQ(processes.calls, Calls{});
    EXPECT_EQ(inventory.Entries.Count(), 0u);
    EXPECT_EQ(files.flushes, 0);
}

// The merge waits for the run started ahead and starts no other; a run no merge
// takes (the scan failed) is let go unwaited for. The companion starts no
// process: it runs hidden, in no job, not suspended, and nothing but its own
// process is looked for.
TEST_F(MergeTest, ARunStartedAheadIsWaitedForOnceAndOneNotTakenIsLetGo) {
    processes.polls = 1;
    {
        THandOffRun ahead(processes);
        RunHandOffAndMerge(inventory, processes, nullptr, &ahead);
        THandOffRun{processes};
    }
    Calls started;
    for (const std::string& call : processes.calls)
        if (call.rfind("create", 0) == 0 || call.rfind("close", 0) == 0 || call == "exitcode") started.push_back(call);
    EXPECT_EQ(started, (Calls{"create Drisk.x64", "exitcode", "close process", "close thread", "create Drisk.x64",
                              "close process", "close thread"}));
    EXPECT_EQ((Ids{processes.flags, processes.startup.wShowWindow}), (Ids{0x30, 0}));
    EXPECT_EQ(processes.looks, -1);
    EXPECT_EQ(inventory.Entries.Count(), 1u);
}

// What an entry's uninstall starts, line by line as the fixture gives it.
TEST(UninstallCommandLine, AWindowsInstallerMaintenanceCallBecomesItsRemovalAndAllElseStaysAsStored) {
    std::ifstream in(VELMORA_FIXTURE_DIR "/commands/uninstall_lines.txt", std::ios::binary);
    int read = 0;
    for (std::string line; std::getline(in, line);) {
        if (line[0] == '#') continue;
        const std::size_t arrow = line.find(" => ");
        const std::string stored = line.substr(0, arrow),
                          started = arrow == line.npos ? stored : line.substr(arrow + 4);
        EXPECT_EQ(ToUtf8(UninstallCommandLine(FromUtf8(stored))), started) << stored;
        ++read;
    }
    EXPECT_EQ(read, 24) << "the fixture was not read whole";
    EXPECT_EQ(UninstallCommandLine(u""), u"");
}

// The text conversions the error display uses on what an exception says.
TEST(Text, BrokenUtf8AndUnpairedSurrogatesBecomeReplacementCharacters) {
    // An overlong form, a surrogate and a code point past U+10FFFF are refused
    // byte by byte.
    EXPECT_EQ(FromUtf8("a\xFF\xE4\xB8"
                       "b\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\xC3\xA9\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80"),
              u"a\uFFFD\uFFFD\uFFFDb\U0001F600\U0010FFFF\u00E9" + std::u16string(9, u'\uFFFD'));
    EXPECT_EQ(ToUtf8(u"\U0001F600\xD800x\U0001F600\xDC00\U0010FFFF\U00010000\xDFFF"),
              "\xF0\x9F\x98\x80\xEF\xBF\xBDx\xF0\x9F\x98\x80\xEF\xBF\xBD\xF4\x8F\xBF\xBF\xF0\x90\x80\x80\xEF\xBF\xBD");
    EXPECT_EQ(ExceptionDisplayText(u"Disk full"), u"Disk full.");
    EXPECT_EQ(ExceptionDisplayText(u"Done."), u"Done.");
}

// An icon reference: what stands before the first comma, both ends gone when quoted.
TEST(ExtractIconPath, TakesWhatStandsBeforeTheFirstCommaUnquoted) {
    EXPECT_EQ(ExtractIconPath(u"\"C:\\A B\\a.exe\",2") + u"|" + ExtractIconPath(u"C:\\b.ico") + u"|" +
                  ExtractIconPath(u"\"c.exe'") + u"|" + ExtractIconPath(u"\"") + u"|" + ExtractIconPath(u",1"),
              u"C:\\A B\\a.exe|C:\\b.ico|c.exe||");
}

// The first placement takes the DPI of the monitor the centred window lands
// on: 1,280 pixels at 96 DPI on the left, 2,560 at 144 on the right.
TEST(FirstPlacement, SizesTheWindowForTheMonitorItLandsOnThenCentresIt) {
    const auto size = [](int dpi) { return TBounds{0, 0, 800 * dpi / 96, 520 * dpi / 96}; };
    const auto dpiAt = [](const TBounds& at) { return at.Left + at.Width / 2 < 1280 ? 96 : 144; };
    const TPlacement right = FirstPlacement({0, 0, 3840, 1440}, 96, size, dpiAt);
    EXPECT_EQ(right.Dpi, 144);
    EXPECT_EQ(right.Bounds, (TBounds{1320, 330, 1200, 780}));
    const TPlacement left = FirstPlacement({-3000, 0, 3200, 1440}, 144, size, dpiAt);
    EXPECT_EQ(left.Dpi, 96);
    EXPECT_EQ(left.Bounds, (TBounds{-1800, 460, 800, 520}));
}

// A DPI change takes the suggested rectangle; a notice of the DPI the window
// has already moves it only, at its size.
TEST(DpiChangedBounds, KeepsTheSizeWhenTheDpiIsTheWindowsAlready) {
    const TBounds current{560, 280, 1200, 780}, suggested{100, 50, 1800, 1170};
    EXPECT_EQ(DpiChangedBounds(144, 144, current, suggested), (TBounds{100, 50, 1200, 780}));
    EXPECT_EQ(DpiChangedBounds(96, 144, current, suggested), suggested);
}

}  // namespace velmora::testing
