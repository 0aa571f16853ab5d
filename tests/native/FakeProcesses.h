// A scripted stand-in for the process functions: it records every call in order
// and answers as a child that runs for a given number of polls would.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Processes.h"
#include "platform/Text.h"

namespace velmora::testing {

class FakeProcesses final : public IProcesses {
public:
    // What the next child does.
    bool startFails = false;
    int pollsWhileRunning = 0;  // WAIT_TIMEOUT answers before the child ends
    std::uint32_t exitCode = 0;
    // Availability of the WOW64 query and its answer.
    bool wow64QueryExists = true;
    bool wow64 = false;
    // Runs when a child is created, with its command line (a fake child's work).
    std::function<void(const std::u16string&)> onStart;

    std::vector<std::string> calls;
    std::vector<std::u16string> commandLines;
    StartupRecord lastStartup;
    std::uint32_t lastCreationFlags = 0;

    bool CreateProcess(char16_t* commandLine, std::uint32_t creationFlags, const StartupRecord& startup,
                       ProcessRecord* process) override {
        const std::u16string line(commandLine);
        calls.push_back("create " + ToUtf8(line));
        commandLines.push_back(line);
        lastStartup = startup;
        lastCreationFlags = creationFlags;
        if (startFails) return false;
        // Process creation may write into the command line; make sure that is allowed.
        commandLine[line.size()] = u'\0';
        if (onStart) onStart(line);
        remainingPolls_ = pollsWhileRunning;
        process->hProcess = 0x100 + handleSerial_;
        process->hThread = 0x200 + handleSerial_;
        ++handleSerial_;
        return true;
    }
    std::uint32_t WaitForSingleObject(ProcessHandle handle, std::uint32_t milliseconds) override {
        calls.push_back(milliseconds == kInfinite ? "wait infinite" : "wait " + std::to_string(milliseconds));
        (void)handle;
        if (milliseconds == kInfinite) return kWaitObject0;
        if (remainingPolls_ > 0) {
            --remainingPolls_;
            return kWaitTimeout;
        }
        return kWaitObject0;
    }
    bool GetExitCodeProcess(ProcessHandle, std::uint32_t* code) override {
        calls.push_back("exitcode");
        *code = exitCode;
        return true;
    }
    bool CloseHandle(ProcessHandle handle) override {
        calls.push_back((handle & 0x100) ? "close process" : "close thread");
        return true;
    }
    void Sleep(std::uint32_t milliseconds) override { calls.push_back("sleep " + std::to_string(milliseconds)); }
    bool QueryWow64(bool* isWow64) override {
        calls.push_back("wow64");
        if (!wow64QueryExists) return false;
        *isWow64 = wow64;
        return true;
    }
    // A failed start is a missing program; no fake child needs elevation, and
    // none hands over to another process.
    std::uint32_t GetLastError() override { return 2; }
    bool SearchPath(const std::u16string&, std::u16string*) override { return false; }
    bool ShellExecuteEx(const ShellStartRecord&, ProcessHandle*) override { return false; }
    std::uint32_t GetProcessId(ProcessHandle) override { return 0; }
    std::vector<ProcessEntry> ProcessSnapshot() override { return {}; }
    ProcessHandle OpenProcess(std::uint32_t) override { return 0; }
    bool GetProcessCreationTime(ProcessHandle, std::uint64_t*) override { return false; }
    bool QueryFullProcessImageName(ProcessHandle, std::u16string*) override { return false; }
    std::vector<std::u16string> TemporaryDirectories() override { return {}; }

private:
    int remainingPolls_ = 0;
    ProcessHandle handleSerial_ = 1;
};

}  // namespace velmora::testing
