// What the tests under Wine share: files, the fixtures, the registry through
// Wine's reg.exe, and the inventory written out as the .expected files hold it.
#pragma once

#include "Text.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::testing {

std::wstring FixtureDirectory();                 // with a trailing slash
std::wstring ProgramDirectory();                 // the running test program's, with a trailing backslash
std::wstring TempFile(const std::wstring& tag);  // a name in the temporary directory, unique to this process
std::wstring HandOffPath();
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
// Starts the command line hidden and waits: its exit code, or -1.
int RunProgram(std::wstring commandLine);
// The command line run by the child program acting as a wrapper (--run), which
// waits for it.
std::wstring Wrapped(const std::wstring& commandLine);
// reg.exe import of a file into the 32- or 64-bit view (the current user's key
// has one view).
void ImportRegFile(const std::wstring& path, int viewBits);
// Removes the Uninstall keys of both machine views and of the current user, or
// of the one machine view.
void ClearUninstallKeys(int viewBits = 0);

// The inventory as text, one block per entry, then the error if there was one:
// the form of the .expected files, whose comments and blank lines Expected drops.
std::string DescribeInventory(const TOrvUninstallList& entries, const std::string& error);
std::string Expected(const std::wstring& path);

}  // namespace velmora::testing
