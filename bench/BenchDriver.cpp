// Times Velmora and the programs it is compared with, from outside, inside one
// Wine prefix. Every contender is started the same way (CreateProcessW from this
// program), so each pays the same process start-up.
//
//   BenchDriver startup N ROWS REPS BIN OUT
//       Per repetition, in rotating order: a do-nothing program, the floor
//       program (start to its window visible with its rows), Velmora.exe (start
//       to its window visible with ROWS rows), an empty window, Wine's
//       uninstaller --list (start to exit), Wine's Add/Remove Programs panel
//       (start to its list holding all its rows) and Velmora's start-up phase by
//       phase (BenchPhases.exe). One warm-up round first.
//   BenchDriver fills N ROWS 1 BIN OUT
//       Velmora.exe of BIN started once, up to its window with ROWS rows, and
//       closed: a check, not a timing (for a program that runs only emulated
//       here, a time would be the emulator's). Fails when the list never fills.
//   BenchDriver wait N ROWS REPS BIN OUT
//       Velmora running an uninstaller that sleeps 5 s: Velmora's CPU time over
//       the wait, and the round trip of messages sent to its window meanwhile;
//       the wait floor's CPU time over the same sleeper's run.
//
// Each measurement is appended to OUT as a tab-separated line:
//   N  contender  repetition  milliseconds  peak-working-set-KiB  note
#include "platform/WindowsHeaders.h"

#include <commctrl.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "Driver.h"

namespace {

using velmora::Narrow;
using velmora::gui::DriverError;

// ---------------------------------------------------------------------------
// Output

std::wstring g_out;
int g_n = 0;

void Record(const std::string& contender, int repetition, double ms, double peakKiB, const std::string& note = "") {
    char line[512];
    std::snprintf(line, sizeof line, "%d\t%s\t%d\t%.3f\t%.0f\t%s\n", g_n, contender.c_str(), repetition, ms, peakKiB,
                  note.c_str());
    const HANDLE file = CreateFileW(g_out.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw DriverError("cannot write the results file");
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    CloseHandle(file);
    std::fputs(line, stdout);
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Processes

struct Started {
    HANDLE process = nullptr;
    DWORD id = 0;
};

// Starts a program with its standard handles on NUL (or on a file), so console
// programs write nowhere that costs time.
Started Start(const std::wstring& commandLine, const std::wstring& directory, const std::wstring& output = L"") {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr);
    HANDLE out = nul;
    if (!output.empty()) {
        out = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_SHOWNORMAL;
    startup.hStdInput = nul;
    startup.hStdOutput = out;
    startup.hStdError = nul;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    PROCESS_INFORMATION info = {};
    const BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   directory.empty() ? nullptr : directory.c_str(), &startup, &info);
    if (out != nul) CloseHandle(out);
    CloseHandle(nul);
    if (!ok)
        throw DriverError("cannot start " + Narrow(commandLine) + " (error " + std::to_string(GetLastError()) + ")");
    CloseHandle(info.hThread);
    return {info.hProcess, info.dwProcessId};
}

void EndProcess(Started& started, DWORD graceMs) {
    if (!started.process) return;
    if (WaitForSingleObject(started.process, graceMs) != WAIT_OBJECT_0) {
        TerminateProcess(started.process, 1);
        WaitForSingleObject(started.process, 10000);
    }
    CloseHandle(started.process);
    started.process = nullptr;
}

double PeakWorkingSetKiB(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
    return static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
}

// ---------------------------------------------------------------------------
// The Linux side of a Wine process, through Wine's Z: drive.

std::string ReadWholeFile(const std::wstring& path) {
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char piece[4096];
    DWORD got = 0;
    while (ReadFile(file, piece, sizeof piece, &got, nullptr) && got > 0) text.append(piece, got);
    CloseHandle(file);
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The Unix process whose command line contains needle (lower case) and, when
// given, whose environment contains environmentNeedle; 0 if none.
unsigned long UnixPidOf(const std::string& needle, const std::string& environmentNeedle = "") {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    unsigned long pid = 0;
    do {
        const std::wstring name = found.cFileName;
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](wchar_t c) { return std::iswdigit(c); }))
            continue;
        std::string line = ReadWholeFile(L"Z:\\proc\\" + name + L"\\cmdline");
        std::replace(line.begin(), line.end(), '\0', ' ');
        if (Lower(line).find(needle) == std::string::npos) continue;
        if (!environmentNeedle.empty()) {
            const std::string environment = ReadWholeFile(L"Z:\\proc\\" + name + L"\\environ");
            if (environment.find(environmentNeedle) == std::string::npos) continue;
        }
        pid = std::wcstoul(name.c_str(), nullptr, 10);
        break;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return pid;
}

// CPU time of all threads of a Unix process so far, in milliseconds (the
// scheduler's nanosecond account, not the 10 ms ticks of /proc/PID/stat).
double UnixCpuMs(unsigned long pid) {
    const std::wstring tasks = L"Z:\\proc\\" + std::to_wstring(pid) + L"\\task\\";
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((tasks + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return -1;
    double total = 0;
    do {
        if (found.cFileName[0] == L'.') continue;
        const std::string stat = ReadWholeFile(tasks + found.cFileName + L"\\schedstat");
        total += std::strtod(stat.c_str(), nullptr) / 1e6;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return total;
}

// "WINEPREFIX=..." of this run: tells this prefix's processes from those of
// other Wine prefixes on the machine.
const std::string& PrefixNeedle() {
    static const std::string needle = [] {
        wchar_t value[1024] = {};
        GetEnvironmentVariableW(L"WINEPREFIX", value, 1024);
        return "WINEPREFIX=" + Narrow(value);
    }();
    return needle;
}

double UnixPeakKiB(unsigned long pid) {
    const std::string status = ReadWholeFile(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\status");
    const auto at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::strtod(status.c_str() + at + 6, nullptr);
}

double ProcessCpuMs(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

// ---------------------------------------------------------------------------
// Windows

BOOL CALLBACK MatchList(HWND window, LPARAM param) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (lstrcmpW(name, WC_LISTVIEWW) != 0) return TRUE;
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
}

// The first list view among the window's descendants (a property sheet keeps
// it in a page).
HWND FindList(HWND window) {
    HWND found = nullptr;
    EnumChildWindows(window, MatchList, reinterpret_cast<LPARAM>(&found));
    return found;
}

struct TopSearch {
    DWORD processId;           // 0: any process but this one
    const wchar_t* className;  // null: any class
    bool needList;
    HWND found;
};

BOOL CALLBACK MatchTop(HWND window, LPARAM param) {
    auto& s = *reinterpret_cast<TopSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (s.processId ? owner != s.processId : owner == GetCurrentProcessId()) return TRUE;
    if (!IsWindowVisible(window)) return TRUE;
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (s.className && lstrcmpW(name, s.className) != 0) return TRUE;
    if (s.needList && !FindList(window)) return TRUE;
    s.found = window;
    return FALSE;
}

HWND FindTop(DWORD processId, const wchar_t* className, bool needList) {
    TopSearch search{processId, className, needList, nullptr};
    EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

constexpr DWORD kPollMs = 2;
constexpr double kTimeoutMs = 120000;

int ItemCount(HWND list) {
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 2000, &count)) return -1;
    return static_cast<int>(count);
}

template <typename Condition>
void PollUntil(Condition condition, double start, const char* what) {
    while (!condition()) {
        if (NowMs() - start > kTimeoutMs) throw DriverError(std::string("timed out waiting for ") + what);
        Sleep(kPollMs);
    }
}

// ---------------------------------------------------------------------------
// Contenders

struct Setup {
    int rows = 0;
    std::wstring bin;  // holds Velmora.exe, Drisk.x64 and the bench programs
};

double RunToExit(const std::wstring& commandLine, const std::wstring& directory, DWORD* exitCode = nullptr,
                 const std::wstring& output = L"") {
    const double start = NowMs();
    Started started = Start(commandLine, directory, output);
    if (WaitForSingleObject(started.process, static_cast<DWORD>(kTimeoutMs)) != WAIT_OBJECT_0)
        throw DriverError("timed out waiting for " + Narrow(commandLine));
    const double elapsed = NowMs() - start;
    if (exitCode) GetExitCodeProcess(started.process, exitCode);
    CloseHandle(started.process);
    return elapsed;
}

struct VelmoraRun {
    Started process;
    HWND main = nullptr;
    HWND list = nullptr;
    double ms = 0;
};

VelmoraRun StartVelmora(const Setup& setup, int rows) {
    VelmoraRun run;
    const double start = NowMs();
    run.process = Start(L"\"" + setup.bin + L"\\Velmora.exe\"", setup.bin);
    PollUntil([&] { return (run.main = FindTop(run.process.id, L"TOrvUninstallMainForm", false)) != nullptr; }, start,
              "Velmora's window");
    run.list = FindWindowExW(run.main, nullptr, WC_LISTVIEWW, nullptr);
    if (!run.list) throw DriverError("Velmora's window has no list");
    PollUntil([&] { return ItemCount(run.list) == rows; }, start, "Velmora's rows");
    run.ms = NowMs() - start;
    return run;
}

void CloseVelmora(VelmoraRun& run) {
    PostMessageW(run.main, WM_CLOSE, 0, 0);
    EndProcess(run.process, 15000);
}

void TimeVelmora(const Setup& setup, int repetition) {
    VelmoraRun run = StartVelmora(setup, setup.rows);
    const double peak = PeakWorkingSetKiB(run.process.process);
    const unsigned long pid = UnixPidOf("velmora.exe", PrefixNeedle());
    const double hwm = pid ? UnixPeakKiB(pid) : 0;
    CloseVelmora(run);
    Record("velmora", repetition, run.ms, peak, "VmHWM_KiB=" + std::to_string(static_cast<long>(hwm)));
}

void TimeNothing(const Setup& setup, int repetition) {
    Record("nothing", repetition, RunToExit(L"\"" + setup.bin + L"\\Nothing.exe\"", setup.bin), 0);
}

// A window with an empty list, shown, its message loop reached: what any
// windowed program pays before its own work.
void TimeWindow(const Setup& setup, int repetition) {
    const double start = NowMs();
    Started started = Start(L"\"" + setup.bin + L"\\Window.exe\"", setup.bin);
    HWND window = nullptr;
    PollUntil([&] { return (window = FindTop(started.id, L"VelmoraBenchWindow", true)) != nullptr; }, start,
              "the bench window");
    const HWND list = FindList(window);
    PollUntil([&] { return ItemCount(list) == 0; }, start, "the bench window's list");
    const double ms = NowMs() - start;
    const double peak = PeakWorkingSetKiB(started.process);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EndProcess(started, 10000);
    Record("window", repetition, ms, peak);
}

// The floor: the work no program that shows the same list can avoid, with a
// do-nothing 64-bit program in place of Drisk.x64; start to its window visible
// with its rows (all added before it shows).
void TimeFloor(const Setup& setup, int repetition) {
    const double start = NowMs();
    Started started = Start(L"\"" + setup.bin + L"\\Floor.exe\" \"" + setup.bin + L"\\Nothing64.exe\"", setup.bin);
    HWND window = nullptr;
    PollUntil([&] { return (window = FindTop(started.id, L"VelmoraBenchFloor", true)) != nullptr; }, start,
              "the floor's window");
    const int rows = ItemCount(FindList(window));
    const double ms = NowMs() - start;
    const double peak = PeakWorkingSetKiB(started.process);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EndProcess(started, 10000);
    Record("floor", repetition, ms, peak, "rows=" + std::to_string(rows));
}

// Velmora's start-up phase by phase, measured inside a cold process that runs
// Velmora's entry (BenchPhases.exe appends its own lines).
void TimePhases(const Setup& setup, int repetition) {
    RunToExit(L"\"" + setup.bin + L"\\BenchPhases.exe\" " + std::to_wstring(g_n) + L" " + std::to_wstring(repetition) +
                  L" \"" + g_out + L"\"",
              setup.bin);
}
// Wine's own programs, in their 64-bit form as `wine PROGRAM` starts them in a
// 64-bit prefix; a 32-bit driver reaches them through sysnative.
#ifdef _WIN64
#define VELMORA_BENCH_SYSTEM L"C:\\windows\\system32\\"
#else
#define VELMORA_BENCH_SYSTEM L"C:\\windows\\sysnative\\"
#endif
const wchar_t kUninstaller[] = VELMORA_BENCH_SYSTEM L"uninstaller.exe --list";
const wchar_t kControlPanel[] = VELMORA_BENCH_SYSTEM L"control.exe appwiz.cpl";

int g_uninstallerLines = -1;

void TimeUninstaller(const Setup& setup, int repetition) {
    if (g_uninstallerLines < 0) {
        // Warm-up: how many entries it lists, from its output.
        const std::wstring listing = setup.bin + L"\\uninstaller-list.txt";
        RunToExit(kUninstaller, setup.bin, nullptr, listing);
        const std::string text = ReadWholeFile(listing);
        g_uninstallerLines = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }
    Record("wine-uninstaller", repetition, RunToExit(kUninstaller, setup.bin), 0,
           "lines=" + std::to_string(g_uninstallerLines));
}

int g_panelRows = -1;

void TimePanel(const Setup& setup, int repetition) {
    const double start = NowMs();
    Started started = Start(kControlPanel, setup.bin);
    HWND dialog = nullptr;
    PollUntil([&] { return (dialog = FindTop(0, nullptr, true)) != nullptr; }, start, "the panel's window");
    const HWND list = FindList(dialog);
    if (g_panelRows < 0) {
        // Warm-up: the panel's own row count, once it has stayed put for 3 s.
        int last = -1;
        double since = NowMs();
        for (;;) {
            const int count = ItemCount(list);
            if (count != last) {
                last = count;
                since = NowMs();
            } else if (count > 0 && NowMs() - since > 3000) {
                break;
            }
            if (NowMs() - start > kTimeoutMs) throw DriverError("the panel's list never settled");
            Sleep(20);
        }
        g_panelRows = last;
    } else {
        PollUntil([&] { return ItemCount(list) >= g_panelRows; }, start, "the panel's rows");
    }
    const double ms = NowMs() - start;
    DWORD owner = 0;
    GetWindowThreadProcessId(dialog, &owner);
    double peak = 0;
    if (const HANDLE process =
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, owner)) {
        peak = PeakWorkingSetKiB(process);
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        Started panel{process, owner};
        EndProcess(panel, 10000);
    }
    EndProcess(started, 10000);
    if (repetition >= 0) Record("wine-appwiz", repetition, ms, peak, "rows=" + std::to_string(g_panelRows));
}

// ---------------------------------------------------------------------------
// The wait on an uninstaller

const wchar_t kSleeperKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelmoraBenchSleeper";
const wchar_t kSleeperName[] = L"Velmora bench: sleeps 5 s";

std::wstring SleeperCommand(const Setup& setup) {
    return L"\"" + setup.bin + L"\\velmora_fake_uninstaller.exe\" --sleep 5000";
}

void AddSleeper(const Setup& setup) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSleeperKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        throw DriverError("cannot create the sleeper's entry");
    }
    const std::wstring command = SleeperCommand(setup);
    auto set = [&](const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    set(L"DisplayName", kSleeperName);
    set(L"UninstallString", command);
    set(L"Publisher", L"Velmora");
    RegCloseKey(key);
}

void RemoveSleeper() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSleeperKey, KEY_WOW64_32KEY, 0); }

// The running child of parent with this executable name; nullptr if none.
HANDLE FindChild(DWORD parent, const wchar_t* exeName) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    HANDLE child = nullptr;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent && lstrcmpiW(entry.szExeFile, exeName) == 0) {
            child = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
            break;
        }
    }
    CloseHandle(snapshot);
    return child;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const size_t index =
        std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
    return values[index];
}

// One uninstall of the sleeper. With probe, messages are sent to the window
// every 20 ms during the wait and their round trips recorded; without, the
// window is left alone and only the CPU time is taken.
void WaitRun(const Setup& setup, int repetition, bool probe, std::vector<double>& trips) {
    VelmoraRun run = StartVelmora(setup, setup.rows + 1);
    velmora::gui::RemoteListView rows(run.list);
    int row = -1;
    for (int i = 0; i < rows.RowCount(); ++i) {
        if (rows.Text(i, 0) == kSleeperName) row = i;
    }
    if (row < 0) throw DriverError("the sleeper's row is missing");
    rows.SetTicked(row, true);
    const HWND button = velmora::gui::RequireChild(run.main, L"Button", L"卸载");
    const unsigned long pid = UnixPidOf("velmora.exe", PrefixNeedle());
    const unsigned long server = UnixPidOf("wineserver", PrefixNeedle());
    if (!probe) {
        // The same window left alone for 5 s before the command: the baseline.
        Sleep(500);
        const double idle0 = UnixCpuMs(pid);
        const double i0 = NowMs();
        Sleep(5000);
        const double idleMs = UnixCpuMs(pid) - idle0;
        char idle[96];
        std::snprintf(idle, sizeof idle, "wall_ms=%.0f cpu_ms=%.2f", NowMs() - i0, idleMs);
        Record("idle-cpu", repetition, 100.0 * idleMs / (NowMs() - i0), 0, idle);
    }
    velmora::gui::ClickButton(button);
    velmora::gui::AnswerMessageBox(velmora::gui::WaitForMessageBox(run.process.id), IDYES);

    HANDLE child = nullptr;
    const double start = NowMs();
    PollUntil([&] { return (child = FindChild(run.process.id, L"velmora_fake_uninstaller.exe")) != nullptr; }, start,
              "the uninstaller to start");
    const double cpu0 = UnixCpuMs(pid);
    const double server0 = server ? UnixCpuMs(server) : -1;
    const double win0 = ProcessCpuMs(run.process.process);
    const double t0 = NowMs();
    std::vector<double> mine;
    if (probe) {
        while (WaitForSingleObject(child, 20) == WAIT_TIMEOUT) {
            const auto trip = velmora::gui::RoundTripMs(run.main, 5000);
            mine.push_back(trip ? *trip : 5000.0);
        }
    } else {
        WaitForSingleObject(child, 60000);
    }
    const double t1 = NowMs();
    const double cpu1 = UnixCpuMs(pid);
    const double server1 = server ? UnixCpuMs(server) : -1;
    const double win1 = ProcessCpuMs(run.process.process);
    CloseHandle(child);
    const double wall = t1 - t0;
    char note[256];
    std::snprintf(note, sizeof note, "wall_ms=%.0f cpu_ms=%.2f cpu_pct=%.3f win_cpu_ms=%.1f server_cpu_ms=%.2f", wall,
                  cpu1 - cpu0, 100.0 * (cpu1 - cpu0) / wall, win1 - win0, server ? server1 - server0 : -1.0);
    if (probe) {
        char probes[160];
        std::snprintf(probes, sizeof probes, " probes=%zu p50_ms=%.3f p99_ms=%.3f max_ms=%.3f", mine.size(),
                      Percentile(mine, 0.5), Percentile(mine, 0.99), Percentile(mine, 1.0));
        Record("wait-rtt", repetition, Percentile(mine, 0.99), 0, std::string(note) + probes);
        trips.insert(trips.end(), mine.begin(), mine.end());
    } else {
        Record("wait-cpu", repetition, 100.0 * (cpu1 - cpu0) / wall, 0, note);
    }
    // The rescan that follows puts the button back; then the window closes.
    PollUntil([&] { return IsWindowEnabled(button) != FALSE; }, NowMs(), "the uninstall command to end");
    CloseVelmora(run);
}

// The wait floor running the same sleeper: its CPU over the sleeper's run.
void WaitFloorRun(const Setup& setup, int repetition) {
    const double start = NowMs();
    Started started = Start(L"\"" + setup.bin + L"\\WaitFloor.exe\" " + SleeperCommand(setup), setup.bin);
    HWND window = nullptr;
    PollUntil([&] { return (window = FindTop(started.id, L"VelmoraBenchWaitFloor", false)) != nullptr; }, start,
              "the wait floor's window");
    HANDLE child = nullptr;
    PollUntil([&] { return (child = FindChild(started.id, L"velmora_fake_uninstaller.exe")) != nullptr; }, start,
              "the wait floor's child");
    const unsigned long pid = UnixPidOf("waitfloor.exe", PrefixNeedle());
    const double cpu0 = UnixCpuMs(pid);
    const double t0 = NowMs();
    WaitForSingleObject(child, 60000);
    const double wall = NowMs() - t0;
    const double cpu = UnixCpuMs(pid) - cpu0;
    CloseHandle(child);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EndProcess(started, 10000);
    char note[128];
    std::snprintf(note, sizeof note, "wall_ms=%.0f cpu_ms=%.2f", wall, cpu);
    Record("wait-floor-cpu", repetition, 100.0 * cpu / wall, 0, note);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: BenchDriver startup|fills|wait N ROWS REPS BIN OUT\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    g_n = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    Setup setup;
    setup.rows = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    const int reps = static_cast<int>(std::wcstol(argv[4], nullptr, 10));
    setup.bin = argv[5];
    g_out = argv[6];
    try {
        if (mode == L"startup") {
            using Contender = void (*)(const Setup&, int);
            const Contender contenders[] = {TimeNothing,     TimeFloor, TimeVelmora, TimeWindow,
                                            TimeUninstaller, TimePanel, TimePhases};
            const int count = static_cast<int>(sizeof contenders / sizeof contenders[0]);
            // The warm-up round is recorded as repetition 0 and left out of the figures.
            for (int rep = 0; rep <= reps; ++rep) {
                for (int i = 0; i < count; ++i) contenders[(i + rep) % count](setup, rep);
            }
        } else if (mode == L"fills") {
            VelmoraRun run = StartVelmora(setup, setup.rows);
            CloseVelmora(run);
            Record("velmora-fills", 1, 0, 0, "rows=" + std::to_string(setup.rows));
        } else if (mode == L"wait") {
            RemoveSleeper();
            AddSleeper(setup);
            std::vector<double> trips;
            for (int rep = 1; rep <= reps; ++rep) {
                WaitRun(setup, rep, false, trips);
                WaitFloorRun(setup, rep);
                WaitRun(setup, rep, true, trips);
            }
            RemoveSleeper();
            char note[160];
            std::snprintf(note, sizeof note, "probes=%zu p50_ms=%.3f p99_ms=%.3f max_ms=%.3f", trips.size(),
                          Percentile(trips, 0.5), Percentile(trips, 0.99), Percentile(trips, 1.0));
            Record("wait-rtt-all", 0, Percentile(trips, 0.99), 0, note);
        } else {
            std::fprintf(stderr, "unknown mode\n");
            return 2;
        }
    } catch (const std::exception& e) {
        RemoveSleeper();
        std::fprintf(stderr, "BenchDriver: %s\n", e.what());
        return 1;
    }
    return 0;
}
