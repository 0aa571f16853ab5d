// Times Velmora and the programs it is compared with, from outside, inside one
// Wine prefix. Every contender is started the same way, by CreateProcessW from
// this program, so each pays the same process start-up.
//
//   BenchDriver startup N ROWS REPS BIN
//       Per repetition, in rotating order, every contender of the table below,
//       after one warm-up round (repetition 0).
//   BenchDriver fills N ROWS 1 BIN
//       Velmora.exe of BIN started once, up to its window with ROWS rows, and
//       closed: a check (for a program that runs only emulated here, its time
//       is the emulator's, and the report leaves it out). Fails when the list
//       never fills.
//   BenchDriver wait N ROWS REPS BIN
//       Velmora running an uninstaller that sleeps 5 s: the round trip of
//       messages sent to its window meanwhile; and marks between which
//       bench/run.sh takes the processor time of Velmora, of the wait floor and
//       of the prefix's wineserver from Linux.
//
// Prints one tab-separated line per figure:
//   N  contender  repetition  milliseconds  peak-working-set-KiB  note
// and the marks "N cpu-begin REP CONTENDER PROGRAM" and "N cpu-end REP CONTENDER".
#include "Hooks.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Driver.h"

namespace {

using namespace velmora;
using namespace velmora::gui;
using bench::NowMs;

constexpr DWORD kBenchTimeoutMs = 120000;
constexpr DWORD kPollMs = 2;

struct TBench {
    std::wstring n;
    int rows = 0;
    std::wstring bin;     // holds Velmora.exe, Drisk.x64 and the bench programs
    int panelRows = -1;  // Add/Remove Programs' own row count, learnt in the warm-up
};

void Print(const TBench& bench, const char* what, int repetition, const std::string& rest) {
    std::printf("%ls\t%s\t%d\t%s\n", bench.n.c_str(), what, repetition, rest.c_str());
    std::fflush(stdout);
}
void Record(const TBench& bench, const char* contender, int repetition, double ms, double peakKiB = 0,
            const std::string& note = "") {
    Print(bench, contender, repetition, std::to_string(ms) + "\t" + std::to_string(int(peakKiB)) + "\t" + note);
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// A started program, ended however the scope is left: closed through its
// window where it has one, otherwise ended by force.
class TChild {
public:
    explicit TChild(unique_handle process) : process_(std::move(process)) {}
    // Standard input and error on NUL; output there too, unless the program
    // prints figures of its own.
    TChild(const std::wstring& commandLine, const std::wstring& directory, bool ownOutput = false) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        const unique_hfile nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           &inherit, OPEN_EXISTING, 0, nullptr));
        STARTUPINFOW startup = {sizeof startup};
        startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
        startup.wShowWindow = SW_SHOWNORMAL;
        startup.hStdInput = startup.hStdError = nul.get();
        startup.hStdOutput = ownOutput ? GetStdHandle(STD_OUTPUT_HANDLE) : nul.get();
        std::wstring line = commandLine;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, directory.c_str(), &startup,
                            &info))
            throw DriverError("cannot start " + Narrow(commandLine) + " (" + std::to_string(GetLastError()) + ")");
        const unique_handle thread(info.hThread);
        process_.reset(info.hProcess);
    }
    TChild(TChild&&) = default;
    ~TChild() {
        if (process_ && !Ended(0)) {
            TerminateProcess(process_.get(), 1);
            Ended(10000);
        }
    }
    bool Ended(DWORD ms = kBenchTimeoutMs) const { return WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0; }
    void Close(HWND window) const {
        PostMessageW(window, WM_CLOSE, 0, 0);
        Ended(15000);
    }
    DWORD Id() const { return GetProcessId(process_.get()); }
    double PeakKiB() const {
        PROCESS_MEMORY_COUNTERS counters = {sizeof counters};
        return GetProcessMemoryInfo(process_.get(), &counters, sizeof counters) ? counters.PeakWorkingSetSize / 1024.0
                                                                                 : 0;
    }

private:
    unique_handle process_;
};

// The first list view of the window, or of one of its children (a property
// sheet keeps it in a page).
HWND FindList(HWND window) {
    HWND list = FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr);
    for (HWND child = nullptr; !list && (child = FindWindowExW(window, child, nullptr, nullptr));)
        list = FindWindowExW(child, nullptr, WC_LISTVIEWW, nullptr);
    return list;
}
int ListRows(HWND window) {
    DWORD_PTR count = 0;
    const HWND list = FindList(window);
    return list && SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 2000, &count) ? int(count) : -1;
}

struct TContender {
    const char* name;
    std::wstring commandLine;
    // The contender's top-level window, and the state of it that ends its time;
    // without one, the time runs to the program's end.
    const wchar_t* windowClass;
    std::function<bool(HWND)> ready;
    // Prints its own figures, told N and the repetition.
    bool ownFigures = false;
};

// Wine's own programs, in their 64-bit form as `wine PROGRAM` starts them in a
// 64-bit prefix; a 32-bit driver reaches them through sysnative.
#ifdef _WIN64
#define VELMORA_BENCH_SYSTEM L"C:\\windows\\system32\\"
#else
#define VELMORA_BENCH_SYSTEM L"C:\\windows\\sysnative\\"
#endif

std::vector<TContender> Contenders(TBench& bench) {
    const std::wstring bin = bench.bin + L"\\";
    const auto filled = [&bench](HWND window) { return ListRows(window) == bench.rows; };
    // The panel fills its list in steps: in the warm-up, its row count is the
    // one that has held for 3 s.
    const auto panelFilled = [&bench, last = -1, since = 0.0](HWND window) mutable {
        const int rows = ListRows(window);
        if (bench.panelRows >= 0) return rows >= bench.panelRows;
        if (rows != last) last = rows, since = NowMs();
        if (rows <= 0 || NowMs() - since < 3000) return false;
        return bench.panelRows = rows, true;
    };
    // Velmora first: the check of the real program runs it alone.
    return {
        {"velmora", Quoted(bin + L"Velmora.exe"), L"TOrvUninstallMainForm", filled},
        {"nothing", Quoted(bin + L"Nothing.exe"), nullptr, nullptr},
        {"floor", Quoted(bin + L"Floor.exe") + L" list " + Quoted(bin + L"Nothing64.exe") + L" " +
                      Quoted(bin + L"handoff.ini"),
         L"VelmoraBenchFloor", filled},
        {"window", Quoted(bin + L"Floor.exe") + L" window", L"VelmoraBenchFloor",
         [](HWND window) { return ListRows(window) == 0; }},
        {"wine-uninstaller", VELMORA_BENCH_SYSTEM L"uninstaller.exe --list", nullptr, nullptr},
        {"wine-appwiz", VELMORA_BENCH_SYSTEM L"control.exe appwiz.cpl", L"#32770", panelFilled},
        {"phases", Quoted(bin + L"BenchPhases.exe") + L" " + bench.n, nullptr, nullptr, true},
    };
}

// The top-level window of the process with the class, once ready holds.
HWND WaitForWindow(const TChild& child, const wchar_t* windowClass, const std::function<bool(HWND)>& ready,
                   const char* what) {
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindTopLevelWindow(child.Id(), L"", windowClass)) && ready(window); },
              std::string(what) + "'s window", kBenchTimeoutMs, kPollMs);
    return window;
}

// The one timing: from the start to the contender's end, or to its window
// being ready; then the window is closed.
void Time(TBench& bench, const TContender& contender, int repetition) {
    const double start = NowMs();
    const TChild child(contender.ownFigures ? contender.commandLine + L" " + std::to_wstring(repetition)
                                            : contender.commandLine,
                       bench.bin, contender.ownFigures);
    if (!contender.ready) {
        if (!child.Ended()) throw DriverError(std::string(contender.name) + " never ended");
        if (!contender.ownFigures) Record(bench, contender.name, repetition, NowMs() - start);
        return;
    }
    const HWND window = WaitForWindow(child, contender.windowClass, contender.ready, contender.name);
    Record(bench, contender.name, repetition, NowMs() - start, child.PeakKiB());
    child.Close(window);
}

// Processor time of the program, taken from Linux between the two marks over
// a stretch that lies wholly inside the state being measured.
void MeasureCpu(const TBench& bench, const char* contender, int repetition, const char* program) {
    Print(bench, "cpu-begin", repetition, std::string(contender) + " " + program);
    Sleep(4000);
    Print(bench, "cpu-end", repetition, contender);
}

// The uninstaller that sleeps 5 s: bench/measure.sh gives it an Uninstall
// entry of its own (the 32-bit view) under this name for the wait.
constexpr wchar_t kSleeperName[] = L"Velmora bench: sleeps 5 s";

// The sleeper once the parent has started it.
TChild SleeperStartedBy(const TChild& parent) {
    unique_handle found;
    WaitUntil(
        [&] {
            const unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
            PROCESSENTRY32W entry = {sizeof entry};
            for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !found;
                 more = Process32NextW(snapshot.get(), &entry)) {
                if (entry.th32ParentProcessID == parent.Id() &&
                    lstrcmpiW(entry.szExeFile, L"velmora_fake_uninstaller.exe") == 0)
                    found.reset(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE,
                                            entry.th32ProcessID));
            }
            return bool(found);
        },
        "the uninstaller to start", kBenchTimeoutMs, kPollMs);
    return TChild(std::move(found));
}

// One uninstall of the sleeper. With probe, messages are sent to the window
// every 20 ms during the wait and their round trips printed (the longest as
// the figure, all in the note); without, the window is left alone for its
// processor time, and before the command too.
void WaitRun(const TBench& bench, int repetition, bool probe) {
    const TChild velmora(Quoted(bench.bin + L"\\Velmora.exe"), bench.bin);
    const HWND main = WaitForWindow(velmora, L"TOrvUninstallMainForm",
                                    [&](HWND window) { return ListRows(window) == bench.rows + 1; }, "Velmora");
    RemoteListView rows(FindList(main));
    for (int i = 0; i < rows.RowCount(); ++i)
        if (rows.Text(i, 0) == kSleeperName) rows.SetTicked(i, true);
    const HWND button = RequireChild(main, L"Button", L"卸载");
    if (!probe) MeasureCpu(bench, "idle-cpu", repetition, "velmora.exe");
    ClickButton(button);
    AnswerMessageBox(WaitForMessageBox(velmora.Id()), IDYES);
    const TChild running = SleeperStartedBy(velmora);
    if (probe) {
        std::vector<double> trips;
        while (!running.Ended(20)) trips.push_back(RoundTripMs(main, 5000).value_or(5000.0));
        std::string note = "trips=";
        for (const double trip : trips) note += std::to_string(trip) + ",";
        Record(bench, "wait-rtt", repetition, trips.empty() ? 0 : *std::max_element(trips.begin(), trips.end()), 0,
               note);
    } else {
        MeasureCpu(bench, "wait-cpu", repetition, "velmora.exe");
    }
    running.Ended();
    // The rescan that follows puts the button back; then the window closes.
    WaitUntil([&] { return IsWindowEnabled(button) != FALSE; }, "the uninstall command to end", kBenchTimeoutMs);
    velmora.Close(main);
}

// The wait floor running the same sleeper.
void WaitFloorRun(const TBench& bench, int repetition) {
    const TChild floor(Quoted(bench.bin + L"\\Floor.exe") + L" wait " +
                           Quoted(bench.bin + L"\\velmora_fake_uninstaller.exe") + L" --sleep 5000",
                       bench.bin);
    const HWND window = WaitForWindow(floor, L"VelmoraBenchFloor", [](HWND) { return true; }, "the wait floor");
    const TChild running = SleeperStartedBy(floor);
    MeasureCpu(bench, "wait-floor-cpu", repetition, "floor.exe");
    running.Ended();
    floor.Close(window);
}

void Run(const std::wstring& mode, TBench& bench, int reps) {
    if (mode == L"startup") {
        const std::vector<TContender> contenders = Contenders(bench);
        for (int rep = 0; rep <= reps; ++rep)
            for (std::size_t i = 0; i < contenders.size(); ++i)
                Time(bench, contenders[(i + rep) % contenders.size()], rep);
    } else if (mode == L"fills") {
        Time(bench, Contenders(bench).front(), 1);
    } else if (mode == L"wait") {
        for (int rep = 1; rep <= reps; ++rep) {
            WaitRun(bench, rep, false);
            WaitFloorRun(bench, rep);
            WaitRun(bench, rep, true);
        }
    } else {
        throw DriverError("unknown mode");
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: BenchDriver startup|fills|wait N ROWS REPS BIN\n");
        return 2;
    }
    TBench bench{argv[2], static_cast<int>(std::wcstol(argv[3], nullptr, 10)), argv[5]};
    try {
        Run(argv[1], bench, static_cast<int>(std::wcstol(argv[4], nullptr, 10)));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "BenchDriver: %s\n", e.what());
        return 1;
    }
    return 0;
}
