// Both programs load libraries from the system folder only (LibrarySearch.cpp).
#pragma once

#include "platform/WindowsHeaders.h"

namespace velmora {

// A system library loaded at run time, by its full path in the system folder:
// a Windows 7 without the loader update still looks in the program's own
// folder first for a bare name. nullptr when it is not there (shcore.dll on
// Windows 7).
HMODULE LoadSystemLibrary(const wchar_t* name);

// Takes the program's own folder and the current directory out of the library
// search for every later load; called first thing in each program.
void LoadLibrariesFromSystemFolderOnly();

}  // namespace velmora
