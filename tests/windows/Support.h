// What the tests under Wine share: files, the fixtures, started programs, the
// registry through Wine's reg.exe, and the inventory written out as the
// .expected files hold it.
#pragma once

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Text.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::testing {

std::wstring FixtureDirectory();  // with a trailing slash
std::wstring ProgramDirectory();  // the running test program's, with a trailing backslash
// A name in the temporary directory, unique to this process.
inline std::wstring TempFile(const std::wstring& tag) {
    return Wide(GetTempDirectory()) + (L"velmora-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()));
}
inline std::wstring HandOffPath() { return Wide(GetTempDirectory() + kHandOffFileName); }
inline std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
// Where a file of this name lies in the 64-bit System32 alone, as this process
// reaches it (a 32-bit one through the Sysnative alias).
inline std::wstring InSystem32(const std::wstring& name) {
    return (sizeof(void*) == 4 ? L"C:\\Windows\\Sysnative\\" : L"C:\\Windows\\System32\\") + name;
}
// A started program, killed when the object goes if still running.
class Process {
public:
    explicit Process(std::wstring commandLine, const std::wstring& directory = L"", DWORD flags = 0) {
        STARTUPINFOW startup{sizeof startup};
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                            directory.empty() ? nullptr : directory.c_str(), &startup, &info))
            throw std::runtime_error("cannot start " + Narrow(commandLine));
        thread_.reset(info.hThread), process_.reset(info.hProcess), id_ = info.dwProcessId;
    }
    ~Process() {
        if (IsRunning()) TerminateProcess(process_.get(), 1), WaitForSingleObject(process_.get(), 5000);
    }
    DWORD Id() const { return id_; }
    bool IsRunning() const { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
    DWORD WaitForExit(DWORD timeoutMs) const {  // the exit code
        DWORD code = 0;
        if (WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0)
            throw std::runtime_error("the program did not end");
        return GetExitCodeProcess(process_.get(), &code), code;
    }

private:
    unique_handle thread_, process_;  // the process closed first
    DWORD id_ = 0;
};
// Starts the command line hidden and waits: its exit code, or -1.
inline int RunProgram(const std::wstring& commandLine) {
    try {
        return static_cast<int>(Process(commandLine, L"", CREATE_NO_WINDOW).WaitForExit(INFINITE));
    } catch (const std::runtime_error&) {
        return -1;
    }
}
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
