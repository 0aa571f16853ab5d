// What the tests under Wine share: files, the fixtures, the registry through
// Wine's reg.exe, and the inventory written out as the .expected files hold it.
#pragma once

#include <string>

#include "unitOrvUninstallClasses.h"

namespace velmora::testing {

std::wstring Wide(const std::u16string& text);
std::u16string U16(const std::wstring& text);
// The fixtures directory, with a trailing slash.
std::wstring FixtureDirectory();
// The directory of the running test program, with a trailing backslash.
std::wstring ProgramDirectory();
// A file name in the temporary directory, unique to this process.
std::wstring TempFile(const std::wstring& tag);
std::wstring HandOffPath();
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// Starts the command line hidden and waits: its exit code, or -1.
int RunProgram(const std::wstring& commandLine);
// reg.exe import into the 32- or 64-bit view (HKCU has one view).
void ImportRegFile(const std::wstring& path, int viewBits);
// The same for text, written out as a UTF-16 .reg file first.
void ImportRegText(const std::wstring& text, int viewBits);
// Removes the Uninstall keys of both machine views and of the current user, or
// of the one machine view.
void ClearUninstallKeys(int viewBits = 0);
void ServiceMessages();

// The inventory as text, one block per entry, then the error if there was one:
// the form of the .expected files, whose comments and blank lines Normalise drops.
std::string DescribeInventory(const TOrvUninstallList& entries, const std::string& error);
std::string NormaliseExpected(const std::string& text);

}  // namespace velmora::testing
