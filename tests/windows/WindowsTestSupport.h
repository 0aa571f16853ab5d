// Helpers for the tests that run under Wine against the real functions.
#pragma once

#include <string>

namespace velmora::testing {

// The directory of the running test program, with a trailing backslash.
std::wstring ProgramDirectory();
// Copies a file next to the running test program under the given name.
void CopyBesideProgram(const std::string& source, const std::wstring& name);
// Which of the tree's prefixes the test runs in ("win64" or "win32").
std::string WinePrefixKind();
// Imports a .reg file with reg.exe, into the 32- or 64-bit view.
void ImportRegFile(const std::string& path, int viewBits);
// Removes the Uninstall keys of both machine views and of the current user.
void ClearUninstallKeys();
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

}  // namespace velmora::testing
