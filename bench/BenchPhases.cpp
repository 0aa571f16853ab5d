// Velmora's cold start-up, phase by phase, in one process: the program's own
// entry (the calls of Velmora.cpp, in its order, linked with its units) with
// the first call of a few Windows functions that the start-up makes timed on
// the way in and out, through this program's import table. The phases run from
// the process's creation to the first paint of the filled list and add up to it:
//
//   process      creation to the first line of the program (loader, runtime)
//   application  common controls, the application object, COM, the title
//   window       the main window created (class, frame, WM_CREATE)
//   font         the window's font
//   controls     label, list view, buttons, image list, DPI check
//   companion    Drisk.x64 started (process creation)
//   icons        the shell's system image list attached (the first SHGetFileInfoW)
//   scan         the 32-bit view read (from the image list to the first wait)
//   wait         Drisk.x64 waited for, and its hand-over checked
//   handoff      the hand-off file read and deleted
//   fill         PopulateList: tiles, rows, sort
//   show         placement, ShowWindow and the window's own first paint
//   paint        the messages that follow until the queue is first empty: the
//                list and the buttons painted
//
//   BenchPhases N REP OUT   appends "N phase:NAME REP ms 0" lines
#include "platform/WindowsHeaders.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "BenchClock.h"
#include "LibrarySearch.h"
#include "frmOrvUninstallMain.h"
#include "platform/Application.h"

namespace {

using namespace velmora;

// The timed calls: when the first call of each went in and came out.
enum Mark { kFont, kCompanion, kIcons, kWait, kHandOff, kFill, kMarks };
double g_in[kMarks];
double g_out[kMarks];

void In(Mark mark) {
    if (g_in[mark] == 0) g_in[mark] = NowMs();
}
void Out(Mark mark) {
    if (g_out[mark] == 0) g_out[mark] = NowMs();
}

decltype(&CreateFontIndirectW) g_createFont;
decltype(&CreateProcessW) g_createProcess;
decltype(&SHGetFileInfoW) g_getFileInfo;
decltype(&WaitForSingleObject) g_waitFor;
decltype(&GetPrivateProfileStringW) g_getProfileString;
decltype(&CreateDIBSection) g_createDibSection;

HFONT WINAPI TimedCreateFont(const LOGFONTW* font) {
    In(kFont);
    const HFONT result = g_createFont(font);
    return Out(kFont), result;
}
BOOL WINAPI TimedCreateProcess(LPCWSTR application, LPWSTR line, LPSECURITY_ATTRIBUTES process,
                               LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                               LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
    In(kCompanion);
    const BOOL result =
        g_createProcess(application, line, process, thread, inherit, flags, environment, directory, startup, info);
    return Out(kCompanion), result;
}
DWORD_PTR WINAPI TimedGetFileInfo(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT size, UINT flags) {
    In(kIcons);
    const DWORD_PTR result = g_getFileInfo(path, attributes, info, size, flags);
    return Out(kIcons), result;
}
DWORD WINAPI TimedWaitFor(HANDLE handle, DWORD ms) {
    In(kWait);
    return g_waitFor(handle, ms);
}
DWORD WINAPI TimedGetProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR buffer, DWORD size,
                                   LPCWSTR path) {
    In(kHandOff);
    return g_getProfileString(section, key, fallback, buffer, size, path);
}
HBITMAP WINAPI TimedCreateDibSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                     DWORD offset) {
    In(kFill);
    return g_createDibSection(dc, info, usage, bits, section, offset);
}

// Points this program's import of the named function at the replacement and
// keeps the original.
template <typename Function>
void Hook(const char* name, Function replacement, Function& original) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); library->Name;
         ++library) {
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            original = reinterpret_cast<Function>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<decltype(slots->u1.Function)>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return;
        }
    }
    std::fprintf(stderr, "BenchPhases: no import of %s\n", name);
    std::exit(2);
}

// Milliseconds from this process's creation to now, on the performance
// counter's scale.
double MsSinceCreation() {
    FILETIME created, exited, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimePreciseAsFileTime(&now);
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(now) - ticks(created)) / 1e4;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const double main = NowMs();
    const double created = main - MsSinceCreation();
    if (argc != 4) {
        std::fprintf(stderr, "usage: BenchPhases N REP OUT\n");
        return 2;
    }
    Hook("CreateFontIndirectW", &TimedCreateFont, g_createFont);
    Hook("CreateProcessW", &TimedCreateProcess, g_createProcess);
    Hook("SHGetFileInfoW", &TimedGetFileInfo, g_getFileInfo);
    Hook("WaitForSingleObject", &TimedWaitFor, g_waitFor);
    Hook("GetPrivateProfileStringW", &TimedGetProfileString, g_getProfileString);
    Hook("CreateDIBSection", &TimedCreateDibSection, g_createDibSection);
    const double hooked = NowMs();

    // Velmora.cpp's entry, step by step.
    LoadLibrariesFromSystemFolderOnly();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    TApplication& application = Application();
    application.Initialize(GetModuleHandleW(nullptr));
    application.InitializeCom();
    application.SetMainFormOnTaskBar(true);
    application.SetTitle(u"Velmora");
    const double ready = NowMs();
    application.CreateMainForm([] { return std::make_unique<TOrvUninstallMainForm>(); });
    const double formed = NowMs();
    application.MainForm()->ShowFirst(SW_SHOWNORMAL);
    const double shown = NowMs();
    application.ProcessMessages();
    const double painted = NowMs();

    // The hooks' own set-up is left out of the application phase.
    const std::pair<const char*, double> phases[] = {
        {"process", main - created},
        {"application", ready - hooked},
        {"window", g_in[kFont] - ready},
        {"font", g_out[kFont] - g_in[kFont]},
        {"controls", g_in[kCompanion] - g_out[kFont]},
        {"companion", g_out[kCompanion] - g_in[kCompanion]},
        {"icons", g_out[kIcons] - g_out[kCompanion]},
        {"scan", g_in[kWait] - g_out[kIcons]},
        {"wait", g_in[kHandOff] - g_in[kWait]},
        {"handoff", g_in[kFill] - g_in[kHandOff]},
        {"fill", formed - g_in[kFill]},
        {"show", shown - formed},
        {"paint", painted - shown},
    };
    std::string lines;
    for (const auto& [name, ms] : phases) {
        char line[128];
        std::snprintf(line, sizeof line, "%ls\tphase:%s\t%ls\t%.3f\t0\t\n", argv[1], name, argv[2], ms);
        lines += line;
    }
    const HANDLE file =
        CreateFileW(argv[3], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    CloseHandle(file);
    application.Finish();
    return 0;
}
