// The process operations RunAndWait and IsWow64 need, at the level of the
// Windows functions (CreateProcessW, WaitForSingleObject, GetExitCodeProcess,
// CloseHandle, Sleep, IsWow64Process; SearchPathW and ShellExecuteExW for a
// program that needs elevation; the process snapshot and a job object for an
// uninstaller that hands over to a copy of itself).
//
// Naming, the same in every seam: an operation that is one Windows function
// carries that function's exported name (the W form where there is one), so no
// macro of <windows.h> renames it; an operation that folds several calls into
// one answer is named for the answer (ProcessSnapshot, JobProcessIds).
// Error codes are in platform/ErrorCodes.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/UniqueAny.h"

namespace velmora {

// A kernel object's handle as the process seam passes it (a process, a thread,
// a job), and a window's: distinct types, so that one cannot stand for the
// other. The value-initialised handle ({}) is none.
enum class ProcessHandle : std::uintptr_t {};
enum class WindowHandle : std::uintptr_t {};

constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 258;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
constexpr std::uint32_t kStartfUseShowWindow = 0x1;
constexpr std::uint32_t kCreateSuspended = 0x4;
constexpr std::uint32_t kCreateNewConsole = 0x10;
constexpr std::uint32_t kNormalPriorityClass = 0x20;
constexpr std::uint32_t kJobObjectLimitBreakawayOk = 0x800;
constexpr std::uint32_t kJobObjectLimitSilentBreakawayOk = 0x1000;

// The fields of STARTUPINFOW that Velmora sets; the binding gives the size and
// zeroes the rest.
struct TStartupRecord {
    std::uint32_t dwFlags = 0;
    std::uint16_t wShowWindow = 0;
};

struct TProcessRecord {
    ProcessHandle hProcess{};
    ProcessHandle hThread{};
};

// The fields of SHELLEXECUTEINFOW that Velmora sets: the program, its arguments,
// the owner of the consent prompt and the show state. The process handle is
// always asked for and error boxes are always suppressed.
struct TShellStartRecord {
    std::u16string lpFile;
    std::u16string lpParameters;
    WindowHandle hwnd{};
    int nShow = 0;
};

// One process of a snapshot (PROCESSENTRY32W's two ids).
struct TProcessEntry {
    std::uint32_t th32ProcessID = 0;
    std::uint32_t th32ParentProcessID = 0;
};

class IProcesses {
public:
    virtual ~IProcesses() = default;
    // CreateProcessW with no application name, the writable command-line buffer,
    // no security attributes, no inherited handles, the parent's environment and
    // current directory.
    virtual bool CreateProcessW(char16_t* commandLine, std::uint32_t creationFlags, const TStartupRecord& startup,
                                TProcessRecord* process) = 0;
    virtual std::uint32_t WaitForSingleObject(ProcessHandle handle, std::uint32_t milliseconds) = 0;
    virtual bool GetExitCodeProcess(ProcessHandle process, std::uint32_t* exitCode) = 0;
    virtual bool CloseHandle(ProcessHandle handle) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    // IsWow64Process on the current process, looked up at run time: false when
    // the function does not exist; otherwise true, with the flag it gave.
    virtual bool QueryWow64(bool* isWow64) = 0;
    // The calling thread's last error, as left by CreateProcessW or ShellExecuteExW.
    virtual long GetLastError() = 0;
    virtual void SetLastError(long error) = 0;

    // SearchPathW over the directories process creation searches for a program
    // named without a directory (the running program's, the current one, the
    // system directories, then PATH), ".exe" added to a name without an
    // extension. A directory is not a program. Answers the full path.
    virtual bool SearchPathW(const std::u16string& fileName, std::u16string* path) = 0;
    // ShellExecuteExW with the default verb: the shell asks for consent when the
    // program needs elevation. True with the new process's handle.
    virtual bool ShellExecuteExW(const TShellStartRecord& start, ProcessHandle* process) = 0;

    virtual std::uint32_t GetProcessId(ProcessHandle process) = 0;
    // Every process with its parent's id: NtQuerySystemInformation's process
    // list (looked up at run time), or, when that fails, CreateToolhelp32Snapshot
    // walked with Process32FirstW/NextW.
    virtual std::vector<TProcessEntry> ProcessSnapshot() = 0;
    // OpenProcess for waiting and querying; none when it cannot be opened.
    virtual ProcessHandle OpenProcess(std::uint32_t processId) = 0;
    // GetProcessTimes' creation time, in 100 ns units.
    virtual bool ProcessCreationTime(ProcessHandle process, std::uint64_t* creationTime) = 0;
    // QueryFullProcessImageNameW, in its long form.
    virtual bool QueryFullProcessImageNameW(ProcessHandle process, std::u16string* path) = 0;
    // The image of a process that need not be opened (NtQuerySystemInformation's
    // SystemProcessIdInformation, looked up at run time), as a drive-letter path
    // in its long form; false when it cannot be read.
    virtual bool ProcessImagePath(std::uint32_t processId, std::u16string* path) = 0;
    // The user's temporary directory (GetTempPathW) and the Windows one, in
    // their long forms, each with a trailing backslash.
    virtual std::vector<std::u16string> TemporaryDirectories() = 0;

    // ResumeThread.
    virtual std::uint32_t ResumeThread(ProcessHandle thread) = 0;
    // CreateJobObjectW without a name or attributes; closing it ends nothing.
    // None when it cannot be made, and before Windows 8, where jobs do not nest.
    virtual ProcessHandle CreateJobObjectW() = 0;
    // SetInformationJobObject with JobObjectExtendedLimitInformation whose only
    // limit flags are these.
    virtual bool SetInformationJobObject(ProcessHandle job, std::uint32_t limitFlags) = 0;
    virtual bool AssignProcessToJobObject(ProcessHandle job, ProcessHandle process) = 0;
    // QueryInformationJobObject's JobObjectBasicProcessIdList: the ids of the
    // job's running processes, all of them.
    virtual std::vector<std::uint32_t> JobProcessIds(ProcessHandle job) = 0;
    // File-system redirection of a 32-bit process on 64-bit Windows, for the
    // calling thread; both fail elsewhere.
    virtual bool Wow64DisableWow64FsRedirection(void** oldValue) = 0;
    virtual bool Wow64RevertWow64FsRedirection(void* oldValue) = 0;
    // GetSystemDirectoryW and GetWindowsDirectoryW, without a trailing backslash.
    virtual std::u16string GetSystemDirectoryW() = 0;
    virtual std::u16string GetWindowsDirectoryW() = 0;
};

// Closes a handle of the seam through it (CloseHandle).
class TProcessHandleCloser {
public:
    explicit TProcessHandleCloser(IProcesses& processes) noexcept : processes_(&processes) {}
    void operator()(ProcessHandle handle) const noexcept { processes_->CloseHandle(handle); }
    long last_error() const noexcept { return processes_->GetLastError(); }
    void set_last_error(long error) const noexcept { processes_->SetLastError(error); }

protected:
    IProcesses* processes_;
};
using unique_process_handle = unique_any<ProcessHandle, TProcessHandleCloser>;

IProcesses& SystemProcesses();

// The running program's full path (GetModuleFileNameW).
std::u16string ProgramPath();

}  // namespace velmora
