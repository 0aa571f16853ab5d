// Velmora's cold start-up, phase by phase: this program runs Velmora's own entry
// (RunVelmora, linked with Velmora's units and resources, the manifest
// included) and takes the phase boundaries from the first or last calls of
// Windows functions that the start-up makes, through this program's import
// table. The phases run from the process's creation to the first time the
// message loop finds the queue empty with the window shown, and add up to it:
//
//   process      creation to the first line of the program (loader, runtime)
//   application  common controls, the application object, COM, the title
//   window       the main window's class and frame, up to its font
//   font         the window's font
//   controls     label, list view, buttons, image list, DPI check
//   companion    Drisk.x64 started (process creation)
//   icons        the shell's system image list attached (the first SHGetFileInfoW)
//   scan         the 32-bit view read (up to the first wait)
//   wait         Drisk.x64 waited for, and its hand-over checked
//   handoff      the hand-off file read and deleted
//   fill         PopulateList: icons, tiles, rows, sort
//   show         placement and ShowWindow
//   paint        the messages that follow until the queue is first empty
//
// Then it ends the message loop.   BenchPhases N REP   prints "N phase:NAME REP ms 0" lines
#include "Hooks.h"

#include <shellapi.h>

#include <cstdio>

#include "Velmora.h"

namespace {

using bench::Timed;

enum { kRegister, kFont, kProcess, kIcons, kWait, kProfileSections, kStartup, kShow };

// The first time the loop would sleep after the window has been shown: the
// list is painted. The loop is told to end there.
struct TIdle {
    static inline double shown = 0, painted = 0;
    static BOOL WINAPI Wait() {
        if (Timed<kStartup, decltype(&GetStartupInfoW)>::calls.count && painted == 0) {
            painted = bench::NowMs();
            shown = Timed<kShow, decltype(&ShowWindow)>::calls.lastOut;
            PostQuitMessage(0);
            return TRUE;
        }
        return WaitMessage();
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    FILETIME created, exited, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimePreciseAsFileTime(&now);
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    const double sinceCreation = static_cast<double>(ticks(now) - ticks(created)) / 1e4;
    if (argc != 3) {
        std::fprintf(stderr, "usage: BenchPhases N REP\n");
        return 2;
    }
    const auto& window = Timed<kRegister, decltype(&RegisterClassExW)>::Hook("RegisterClassExW");
    const auto& font = Timed<kFont, decltype(&CreateFontIndirectW)>::Hook("CreateFontIndirectW");
    const auto& companion = Timed<kProcess, decltype(&CreateProcessW)>::Hook("CreateProcessW");
    const auto& icons = Timed<kIcons, decltype(&SHGetFileInfoW)>::Hook("SHGetFileInfoW");
    const auto& wait = Timed<kWait, decltype(&WaitForSingleObject)>::Hook("WaitForSingleObject");
    // The hand-off file's read begins with its section names.
    const auto& sections = Timed<kProfileSections, decltype(&GetPrivateProfileSectionNamesW)>::Hook(
        "GetPrivateProfileSectionNamesW");
    const auto& startup = Timed<kStartup, decltype(&GetStartupInfoW)>::Hook("GetStartupInfoW");
    Timed<kShow, decltype(&ShowWindow)>::Hook("ShowWindow");
    bench::HookImport("WaitMessage", reinterpret_cast<void*>(&TIdle::Wait));
    bench::TFillMessages::Hook();
    const bench::TCalls& fill = bench::TFillMessages::redraw;
    const double hooked = bench::NowMs();

    velmora::RunVelmora(GetModuleHandleW(nullptr));

    const double handOff = sections.firstIn;
    const std::pair<const char*, double> phases[] = {
        {"process", sinceCreation},
        // The hooks' own set-up is left out.
        {"application", window.firstIn - hooked},
        {"window", font.firstIn - window.firstIn},
        {"font", font.firstOut - font.firstIn},
        {"controls", companion.firstIn - font.firstOut},
        {"companion", companion.firstOut - companion.firstIn},
        {"icons", icons.firstOut - companion.firstOut},
        {"scan", wait.firstIn - icons.firstOut},
        {"wait", handOff - wait.firstIn},
        {"handoff", fill.firstIn - handOff},
        {"fill", startup.firstIn - fill.firstIn},
        {"show", TIdle::shown - startup.firstIn},
        {"paint", TIdle::painted - TIdle::shown},
    };
    for (const auto& [name, ms] : phases) std::printf("%ls\tphase:%s\t%ls\t%.3f\t0\t\n", argv[1], name, argv[2], ms);
    return 0;
}
