// Times the parts of Velmora's start-up one by one, linked with the program's
// own units and run in the benchmark's prefix beside Velmora.exe and Drisk.x64:
//   scan       TOrvUninstallReader over the system registry (32-bit view)
//   drisk      Drisk.x64 started, waited for (RunAndWait) and done
//   handoff    LoadFromHandOffFile on the file Drisk.x64 wrote
//   merge      MergeHandOffInventory: the two above together
//   form       a hidden main window built (FormCreate: all of the above and the
//              list fill), without showing it
//   populate   PopulateList again on that window, and its parts (fill:icons,
//              fill:tiles, fill:rows, fill:sort, fill:rest), taken from the calls
//              it makes through this program's import table
//   process    a do-nothing program started and waited for (RunAndWait)
//
//   BenchComponents N REPS   prints "N component repetition ms 0 note" lines
#include "Hooks.h"

#include <shellapi.h>

#include <cstdio>
#include <string>

#include "frmOrvUninstallMain.h"
#include "frmOrvUninstallMainLogic.h"
#include "platform/Application.h"
#include "platform/Processes.h"
#include "unitOrvCInstallUtils.h"
#include "unitOrvUninstallClasses.h"

namespace {

using namespace velmora;
using bench::NowMs;
using Icons = bench::Timed<0, decltype(&SHGetFileInfoW)>;

void Record(const wchar_t* n, const char* component, int repetition, double ms, std::size_t count = 0) {
    std::printf("%ls\t%s\t%d\t%.3f\t0\t%s\n", n, component, repetition, ms,
                count ? ("count=" + std::to_string(count)).c_str() : "");
}

void RunDrisk() { RunAndWait(SystemProcesses(), nullptr, kHandOffProgram, kSwHide, {}, false, wsProcessOnly); }

void Run(const wchar_t* n, int reps) {
    for (int rep = 0; rep <= reps; ++rep) {
        double start = NowMs();
        std::size_t scanned = TOrvUninstallReader().Entries.Count();
        Record(n, "scan", rep, NowMs() - start, scanned);

        start = NowMs();
        RunDrisk();
        Record(n, "drisk", rep, NowMs() - start);
        {
            TOrvUninstallReader reader;
            reader.Clear();
            start = NowMs();
            reader.LoadFromHandOffFile();
            Record(n, "handoff", rep, NowMs() - start, reader.Entries.Count());
        }
        {
            TOrvUninstallReader reader;
            start = NowMs();
            RunHandOffAndMerge(reader, SystemProcesses(), nullptr);
            Record(n, "merge", rep, NowMs() - start, reader.Entries.Count() - scanned);
        }
        start = NowMs();
        TOrvUninstallMainForm form;
        Record(n, "form", rep, NowMs() - start, form.ListView.Count());

        Icons::calls = {};
        bench::TFillMessages::insert = bench::TFillMessages::sort = {};
        start = NowMs();
        form.PopulateList();
        const double end = NowMs();
        const auto& rows = bench::TFillMessages::insert;
        const auto& sort = bench::TFillMessages::sort;
        Record(n, "populate", rep, end - start, form.ListView.Count());
        Record(n, "fill:icons", rep, Icons::calls.lastOut - start, Icons::calls.count);
        Record(n, "fill:tiles", rep, rows.firstIn - Icons::calls.lastOut);
        Record(n, "fill:rows", rep, sort.firstIn - rows.firstIn, rows.count);
        Record(n, "fill:sort", rep, sort.firstOut - sort.firstIn);
        Record(n, "fill:rest", rep, end - sort.firstOut);

        start = NowMs();
        // Found where Drisk.x64 is found: beside this program.
        RunAndWait(SystemProcesses(), nullptr, u"Nothing.exe", kSwHide);
        Record(n, "process", rep, NowMs() - start);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: BenchComponents N REPS\n");
        return 2;
    }
    Icons::Hook("SHGetFileInfoW");
    bench::TFillMessages::Hook();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    TApplication& application = Application();
    application.Initialize(GetModuleHandleW(nullptr));
    application.InitializeCom();
    int result = 0;
    try {
        Run(argv[1], static_cast<int>(std::wcstol(argv[2], nullptr, 10)));
    } catch (...) {
        std::fprintf(stderr, "BenchComponents: failed\n");
        result = 1;
    }
    application.Finish();
    return result;
}
