// A base for test doubles of the process seam: every call goes to the machine's
// own functions, so that a double overrides only what it changes.
#pragma once

#include "platform/Processes.h"

namespace velmora::testing {

class ForwardingProcesses : public IProcesses {
public:
    using H = ProcessHandle;
    bool CreateProcessW(char16_t* line, std::uint32_t flags, const TStartupRecord& s, TProcessRecord* p) override {
        return real_.CreateProcessW(line, flags, s, p);
    }
    std::uint32_t WaitForSingleObject(H h, std::uint32_t ms) override { return real_.WaitForSingleObject(h, ms); }
    bool GetExitCodeProcess(H h, std::uint32_t* code) override { return real_.GetExitCodeProcess(h, code); }
    bool CloseHandle(H h) override { return real_.CloseHandle(h); }
    void Sleep(std::uint32_t ms) override { real_.Sleep(ms); }
    bool QueryWow64(bool* isWow64) override { return real_.QueryWow64(isWow64); }
    long GetLastError() override { return real_.GetLastError(); }
    void SetLastError(long error) override { real_.SetLastError(error); }
    bool SearchPathW(const std::u16string& n, std::u16string* p) override { return real_.SearchPathW(n, p); }
    bool ShellExecuteExW(const TShellStartRecord& s, H* p) override { return real_.ShellExecuteExW(s, p); }
    std::uint32_t GetProcessId(H h) override { return real_.GetProcessId(h); }
    std::vector<TProcessEntry> ProcessSnapshot() override { return real_.ProcessSnapshot(); }
    H OpenProcess(std::uint32_t id) override { return real_.OpenProcess(id); }
    bool ProcessCreationTime(H h, std::uint64_t* t) override { return real_.ProcessCreationTime(h, t); }
    bool QueryFullProcessImageNameW(H h, std::u16string* p) override { return real_.QueryFullProcessImageNameW(h, p); }
    bool ProcessImagePath(std::uint32_t id, std::u16string* p) override { return real_.ProcessImagePath(id, p); }
    std::vector<std::u16string> TemporaryDirectories() override { return real_.TemporaryDirectories(); }
    std::uint32_t ResumeThread(H h) override { return real_.ResumeThread(h); }
    H CreateJobObjectW() override { return real_.CreateJobObjectW(); }
    bool SetInformationJobObject(H j, std::uint32_t f) override { return real_.SetInformationJobObject(j, f); }
    bool AssignProcessToJobObject(H j, H p) override { return real_.AssignProcessToJobObject(j, p); }
    std::vector<std::uint32_t> JobProcessIds(H j) override { return real_.JobProcessIds(j); }
    bool Wow64DisableWow64FsRedirection(void** old) override { return real_.Wow64DisableWow64FsRedirection(old); }
    bool Wow64RevertWow64FsRedirection(void* old) override { return real_.Wow64RevertWow64FsRedirection(old); }
    std::u16string GetSystemDirectoryW() override { return real_.GetSystemDirectoryW(); }
    std::u16string GetWindowsDirectoryW() override { return real_.GetWindowsDirectoryW(); }

private:
    IProcesses& real_ = SystemProcesses();
};

}  // namespace velmora::testing
