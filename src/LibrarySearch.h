// Both programs load libraries from the system folder only (LibrarySearch.cpp).
#pragma once

namespace velmora {

// Takes the program's own folder and the current directory out of the library
// search for every later load; called first thing in each program.
void LoadLibrariesFromSystemFolderOnly();

}  // namespace velmora
