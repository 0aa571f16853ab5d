#include "unitOrvCInstallUtils.h"

#include <algorithm>
#include <vector>

namespace velmora {

namespace {

// STARTUPINFOW's size: 68 bytes in a 32-bit process, 104 in a 64-bit one.
constexpr std::uint32_t kStartupRecordSize = sizeof(void*) == 4 ? 68 : 104;
constexpr std::uint32_t kPollSleepMs = 10;
// Room for 511 characters and a null at the least, as the command line may be
// written to by process creation.
constexpr std::size_t kMinimumCommandBuffer = 512;

// Closes the child's process handle, then its thread handle, however the wait ends.
class ChildHandles {
public:
    ChildHandles(IProcesses& processes, const ProcessRecord& record) : processes_(processes), record_(record) {}
    ChildHandles(const ChildHandles&) = delete;
    ChildHandles& operator=(const ChildHandles&) = delete;
    ~ChildHandles() {
        processes_.CloseHandle(record_.hProcess);
        processes_.CloseHandle(record_.hThread);
    }

private:
    IProcesses& processes_;
    ProcessRecord record_;
};

}  // namespace

int RunAndWait(IProcesses& processes, const ProcessMessagesProc& processMessages,
               const std::u16string& commandLine, int showWindow) {
    if (commandLine.size() > kMaxCommandLine) return -1;
    std::vector<char16_t> buffer(std::max(commandLine.size() + 1, kMinimumCommandBuffer), u'\0');
    std::copy(commandLine.begin(), commandLine.end(), buffer.begin());

    StartupRecord startup;
    startup.cb = kStartupRecordSize;
    startup.dwFlags = kStartfUseShowWindow;
    startup.wShowWindow = static_cast<std::uint16_t>(showWindow);

    ProcessRecord child;
    if (!processes.CreateProcess(buffer.data(), kCreateNewConsole | kNormalPriorityClass, startup, &child)) {
        return -1;
    }
    ChildHandles handles(processes, child);

    // Test at once, so a child that has already ended costs no sleep.
    while (processes.WaitForSingleObject(child.hProcess, 0) == kWaitTimeout) {
        if (processMessages) processMessages();
        processes.Sleep(kPollSleepMs);
    }
    processes.WaitForSingleObject(child.hProcess, kInfinite);
    std::uint32_t exitCode = 0;
    processes.GetExitCodeProcess(child.hProcess, &exitCode);
    return static_cast<int>(exitCode);
}

bool IsWow64(IProcesses& processes) {
    bool isWow64 = false;
    if (!processes.QueryWow64(&isWow64)) return false;
    return isWow64;
}

}  // namespace velmora
