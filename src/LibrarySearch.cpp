// Windows looks for a library named without a path first in the folder of the
// program that loads it. People start Velmora where they unpacked it, often
// their Downloads folder, where a web page may have left a file named like a
// system library (a theme or composition library that a system library loads
// later by bare name is the classic case): it would run inside this program.
//
// The libraries the programs import are resolved before any of their code runs;
// they are all Windows' known libraries, always taken from the system folder,
// and the common controls, which the manifest takes from the side-by-side store.
// (A load configuration's DependentLoadFlags could ask the same for them, but
// the GNU linker of this toolchain writes no load configuration.)
#include "platform/WindowsHeaders.h"

#include "LibrarySearch.h"

#include <string>

namespace velmora {

void LoadLibrariesFromSystemFolderOnly() {
    // Windows 8 and later, and Windows 7 with its 2011 loader update; looked up
    // so that a Windows 7 without it still starts the program.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefault =
        LookUpFunction<SetDefaultDllDirectoriesFunction>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it, this at least takes the current directory out of the search.
    SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    const UINT length = GetSystemDirectoryW(&path[0], MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    path.resize(length);
    path += L'\\';
    path += name;
    // Its own dependencies are looked for beside it, in the system folder.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace velmora
