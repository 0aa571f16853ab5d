// The Windows layer's one header: <windows.h> and the common controls, the
// conversion between the program's UTF-16 text and the API's wchar_t, and an
// owner type per handle kind.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/UniqueAny.h"

namespace velmora {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16");

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const wchar_t* Wide(const std::u16string& text) { return Wide(text.c_str()); }
inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// A seam's handle (an enumeration over uintptr_t) from the Windows one, and back.
template <typename Seam, typename Native>
Seam ToSeam(Native handle) {
    return static_cast<Seam>(reinterpret_cast<std::uintptr_t>(handle));
}
template <typename Native, typename Seam>
Native ToNative(Seam handle) {
    return reinterpret_cast<Native>(static_cast<std::uintptr_t>(handle));
}

// Calls a function that fills a buffer of the given size and answers the length
// it wrote, or the size it needs when the buffer is too small; empty on failure.
template <typename Fill>
std::u16string Filled(Fill fill) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::u16string();
        if (length < buffer.size()) return FromWide(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

// A function looked up in a loaded module at run time, for what older Windows
// lacks: null when there is no module or it exports no such function.
template <typename Function>
Function LookUpFunction(HMODULE module, const char* name) noexcept {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

inline void ReleaseScreenDc(HDC dc) { ReleaseDC(nullptr, dc); }
// A window whose procedure finds its object through GWLP_USERDATA: the link is
// cut first, so nothing its destruction sends reaches an object going away.
inline void DestroyObjectWindow(HWND hwnd) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd);
}

// Closes with a Windows function; the thread's last error is kept around it.
template <auto Close>
struct function_closer {
    template <typename H>
    void operator()(H handle) const noexcept {
        Close(handle);
    }
    static DWORD last_error() noexcept { return GetLastError(); }
    static void set_last_error(DWORD error) noexcept { SetLastError(error); }
};
template <typename H, auto Close, std::intptr_t Invalid = 0>
using unique_win32 = unique_any<H, function_closer<Close>, Invalid>;

using unique_hkey = unique_win32<HKEY, &RegCloseKey>;
// Process and thread handles: null when there is none.
using unique_handle = unique_win32<HANDLE, &CloseHandle>;
// Files and snapshots: INVALID_HANDLE_VALUE when there is none.
using unique_hfile = unique_win32<HANDLE, &CloseHandle, -1>;
using unique_hfind = unique_win32<HANDLE, &FindClose, -1>;
using unique_hfont = unique_win32<HFONT, &DeleteObject>;
using unique_hbitmap = unique_win32<HBITMAP, &DeleteObject>;
using unique_hdc = unique_win32<HDC, &DeleteDC>;
using unique_screen_dc = unique_win32<HDC, &ReleaseScreenDc>;
using unique_hwnd = unique_win32<HWND, &DestroyWindow>;
using unique_object_hwnd = unique_win32<HWND, &DestroyObjectWindow>;
// Only for a list the program made itself: never the shell's system image list
// nor one a control owns.
using unique_himagelist = unique_win32<HIMAGELIST, &ImageList_Destroy>;

}  // namespace velmora
