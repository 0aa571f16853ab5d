// Times what the code linked into a benchmark program spends in some Windows
// functions, through the program's import table: the product's own code stays
// free of timing. Also the performance-counter clock the benchmark programs use.
#pragma once

#include "platform/WindowsHeaders.h"

#include <commctrl.h>

#include <cstring>

namespace bench {

inline double NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The calls of one function: when the first and the last went in and came out.
struct TCalls {
    int count = 0;
    double firstIn = 0, firstOut = 0, lastIn = 0, lastOut = 0;
    void In() {
        lastIn = NowMs();
        if (count++ == 0) firstIn = lastIn;
    }
    void Out() {
        lastOut = NowMs();
        if (count == 1) firstOut = lastOut;
    }
};

// Points this program's import of `name` at `replacement`; answers the
// original function, or nullptr when the program does not import it.
inline void* HookImport(const char* name, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports); library->Name; ++library) {
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) ||
                std::strcmp(reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name,
                            name) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            void* original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<decltype(slots->u1.Function)>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return original;
        }
    }
    return nullptr;
}

// A timed stand-in for one imported function, told apart by Id. Its state is
// static because the import table can only hold a plain function.
template <int Id, typename Function>
struct Timed;
template <int Id, typename Result, typename... Arguments>
struct Timed<Id, Result(WINAPI*)(Arguments...)> {
    static inline Result(WINAPI* original)(Arguments...) = nullptr;
    static inline TCalls calls;
    static Result WINAPI Call(Arguments... arguments) {
        calls.In();
        const velmora::scope_exit out([] { calls.Out(); });
        return original(arguments...);
    }
    static const TCalls& Hook(const char* name) {
        original = reinterpret_cast<decltype(original)>(HookImport(name, reinterpret_cast<void*>(&Call)));
        return calls;
    }
};

// The list-view messages of a fill: the update bracket opened, rows inserted,
// the one sort.
struct TFillMessages {
    static inline TCalls redraw, insert, sort;
    static inline decltype(&SendMessageW) original = nullptr;
    static LRESULT WINAPI Call(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        TCalls* calls = message == WM_SETREDRAW      ? &redraw
                        : message == LVM_INSERTITEMW ? &insert
                        : message == LVM_SORTITEMS   ? &sort
                                                     : nullptr;
        if (calls) calls->In();
        const LRESULT result = original(window, message, wParam, lParam);
        if (calls) calls->Out();
        return result;
    }
    static void Hook() {
        original = reinterpret_cast<decltype(original)>(HookImport("SendMessageW", reinterpret_cast<void*>(&Call)));
    }
};

}  // namespace bench
