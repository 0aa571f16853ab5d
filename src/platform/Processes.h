// The process operations RunAndWait and IsWow64 need, at the level of the
// Windows functions (CreateProcessW, WaitForSingleObject, GetExitCodeProcess,
// CloseHandle, Sleep, IsWow64Process).
#pragma once

#include <cstdint>

namespace velmora {

using ProcessHandle = std::uintptr_t;

constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 258;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
constexpr std::uint32_t kStartfUseShowWindow = 0x1;
constexpr std::uint32_t kCreateNewConsole = 0x10;
constexpr std::uint32_t kNormalPriorityClass = 0x20;

// The fields of STARTUPINFOW that Velmora sets; the rest are zero.
struct StartupRecord {
    std::uint32_t cb = 0;
    std::uint32_t dwFlags = 0;
    std::uint16_t wShowWindow = 0;
};

struct ProcessRecord {
    ProcessHandle hProcess = 0;
    ProcessHandle hThread = 0;
};

class IProcesses {
public:
    virtual ~IProcesses() = default;
    // CreateProcessW with no application name, the writable command-line buffer,
    // no security attributes, no inherited handles, the parent's environment and
    // current directory.
    virtual bool CreateProcess(char16_t* commandLine, std::uint32_t creationFlags,
                               const StartupRecord& startup, ProcessRecord* process) = 0;
    virtual std::uint32_t WaitForSingleObject(ProcessHandle handle, std::uint32_t milliseconds) = 0;
    virtual bool GetExitCodeProcess(ProcessHandle process, std::uint32_t* exitCode) = 0;
    virtual bool CloseHandle(ProcessHandle handle) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    // IsWow64Process on the current process, looked up at run time: false when
    // the function does not exist; otherwise true, with the flag it gave.
    virtual bool QueryWow64(bool* isWow64) = 0;
};

IProcesses& SystemProcesses();

}  // namespace velmora
