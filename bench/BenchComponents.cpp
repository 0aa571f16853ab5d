// Times the parts of Velmora's start-up one by one, linked with the program's
// own units and run in the benchmark's prefix beside Velmora.exe and Drisk.x64:
//   scan       TOrvUninstallReader over the system registry (32-bit view)
//   drisk      Drisk.x64 started, waited for (RunAndWait) and done
//   handoff    LoadFromHandOffFile on a copy of the file Drisk.x64 wrote
//   merge      MergeHandOffInventory: the two above together
//   form       a hidden main window built (FormCreate: all of the above and the
//              list fill), without showing it
//   populate   PopulateList again on that window
//   process    a do-nothing program started and waited for (RunAndWait)
//
//   BenchComponents N REPS OUT   appends "N component repetition ms 0 note" lines
#include "platform/WindowsHeaders.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "frmOrvUninstallMain.h"
#include "frmOrvUninstallMainLogic.h"
#include "platform/Application.h"
#include "platform/Processes.h"
#include "unitOrvCInstallUtils.h"
#include "unitOrvUninstallClasses.h"

namespace {

using namespace velmora;

std::wstring g_out;
int g_n = 0;

void Record(const char* component, int repetition, double ms, const std::string& note = "") {
    char line[256];
    std::snprintf(line, sizeof line, "%d\t%s\t%d\t%.3f\t0\t%s\n", g_n, component, repetition, ms, note.c_str());
    const HANDLE file = CreateFileW(g_out.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
        CloseHandle(file);
    }
    std::fputs(line, stdout);
    std::fflush(stdout);
}

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L'\\'));
}

int Run(int reps) {
    TApplication& application = Application();
    application.Initialize(GetModuleHandleW(nullptr));
    application.InitializeCom();
    const std::u16string handOff = GetTempDirectory() + kHandOffFileName;
    const std::wstring handOffPath = Wide(handOff);
    const std::wstring savedPath = handOffPath + L".bench";
    DeleteFileW(handOffPath.c_str());
    const std::wstring directory = ProgramDirectory();
    const std::u16string nothing = u"\"" + FromWide(directory.data(), directory.size()) + u"\\Nothing.exe\"";

    for (int rep = 0; rep <= reps; ++rep) {
        // The scan alone.
        double start = NowMs();
        std::size_t scanned = 0;
        {
            TOrvUninstallReader reader;
            scanned = reader.Entries.Count();
            Record("scan", rep, NowMs() - start, "entries=" + std::to_string(scanned));
        }

        // Drisk.x64 alone, started as the window starts it, then the reading of
        // what it wrote.
        start = NowMs();
        RunAndWait(SystemProcesses(), nullptr, kHandOffProgram, kSwHide, {}, false, wsProcessOnly);
        Record("drisk", rep, NowMs() - start);
        CopyFileW(handOffPath.c_str(), savedPath.c_str(), FALSE);
        {
            TOrvUninstallReader reader;
            reader.Clear();
            start = NowMs();
            reader.LoadFromHandOffFile();
            Record("handoff", rep, NowMs() - start, "entries=" + std::to_string(reader.Entries.Count()));
        }

        // The same reading with as many small blocks alive on the heap as a
        // full inventory holds.
        {
            std::vector<std::u16string> held;
            for (std::size_t i = 0; i < scanned * 6; ++i) held.emplace_back(40, u'x');
            TOrvUninstallReader reader;
            reader.Clear();
            CopyFileW(savedPath.c_str(), handOffPath.c_str(), FALSE);
            start = NowMs();
            reader.LoadFromHandOffFile();
            Record("handoff-heap", rep, NowMs() - start, "entries=" + std::to_string(reader.Entries.Count()));
        }

        // Both, as the window does it.
        {
            TOrvUninstallReader reader;
            start = NowMs();
            MergeHandOffInventory(reader, SystemProcesses(), nullptr);
            Record("merge", rep, NowMs() - start, "entries=" + std::to_string(reader.Entries.Count() - scanned));
            // The same two steps timed apart, on a full inventory.
            reader.Refresh();
            start = NowMs();
            RunAndWait(SystemProcesses(), nullptr, kHandOffProgram, kSwHide, {}, false, wsProcessOnly);
            const double run = NowMs() - start;
            reader.LoadFromHandOffFile();
            Record("merge-split", rep, NowMs() - start,
                   "drisk_ms=" + std::to_string(run) + " load_ms=" + std::to_string(NowMs() - start - run));
        }

        // The hidden window: everything FormCreate does, then the list fill again.
        {
            start = NowMs();
            TOrvUninstallMainForm form;
            Record("form", rep, NowMs() - start, "rows=" + std::to_string(form.ListView.Count()));
            start = NowMs();
            form.PopulateList();
            Record("populate", rep, NowMs() - start, "rows=" + std::to_string(form.ListView.Count()));
        }

        start = NowMs();
        RunAndWait(SystemProcesses(), nullptr, nothing, kSwHide);
        Record("process", rep, NowMs() - start);
    }
    DeleteFileW(savedPath.c_str());
    application.Finish();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: BenchComponents N REPS OUT\n");
        return 2;
    }
    g_n = static_cast<int>(std::wcstol(argv[1], nullptr, 10));
    g_out = argv[3];
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    try {
        return Run(static_cast<int>(std::wcstol(argv[2], nullptr, 10)));
    } catch (const Exception&) {
        std::fprintf(stderr, "BenchComponents: failed\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "BenchComponents: %s\n", e.what());
        return 1;
    }
}
