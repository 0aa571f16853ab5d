// The process seam bound to the Windows functions, and the machine-bound forms
// of RunAndWait and IsWow64.
#include "platform/WindowsHeaders.h"

#include <utility>

#include "platform/Processes.h"
#include "unitOrvCInstallUtils.h"

namespace velmora {

namespace {

HANDLE ToHandle(ProcessHandle handle) { return reinterpret_cast<HANDLE>(handle); }

class WindowsProcesses final : public IProcesses {
public:
    bool CreateProcess(char16_t* commandLine, std::uint32_t creationFlags, const StartupRecord& startup,
                       ProcessRecord* process) override {
        STARTUPINFOW info;
        ZeroMemory(&info, sizeof info);
        info.cb = startup.cb;
        info.dwFlags = startup.dwFlags;
        info.wShowWindow = startup.wShowWindow;
        PROCESS_INFORMATION created;
        ZeroMemory(&created, sizeof created);
        if (!::CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(commandLine), nullptr, nullptr, FALSE,
                            creationFlags, nullptr, nullptr, &info, &created)) {
            return false;
        }
        process->hProcess = reinterpret_cast<ProcessHandle>(created.hProcess);
        process->hThread = reinterpret_cast<ProcessHandle>(created.hThread);
        return true;
    }

    std::uint32_t WaitForSingleObject(ProcessHandle handle, std::uint32_t milliseconds) override {
        return ::WaitForSingleObject(ToHandle(handle), milliseconds);
    }

    bool GetExitCodeProcess(ProcessHandle process, std::uint32_t* exitCode) override {
        DWORD code = 0;
        const BOOL ok = ::GetExitCodeProcess(ToHandle(process), &code);
        *exitCode = code;
        return ok != FALSE;
    }

    bool CloseHandle(ProcessHandle handle) override { return ::CloseHandle(ToHandle(handle)) != FALSE; }

    void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

    bool QueryWow64(bool* isWow64) override {
        // Looked up at run time: older Windows has no such function.
        using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
        const HMODULE kernel = GetModuleHandleW(L"Kernel32");
        const auto query = kernel ? reinterpret_cast<IsWow64ProcessFn>(
                                        reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
                                  : nullptr;
        if (!query) return false;
        BOOL flag = FALSE;
        query(GetCurrentProcess(), &flag);
        *isWow64 = flag != FALSE;
        return true;
    }
};

// Services the queue until it is empty. A quit request is put back and ends the
// servicing, so the application's message loop still sees it.
void PlainProcessMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

ProcessMessagesProc& CurrentProcessMessages() {
    static ProcessMessagesProc proc = PlainProcessMessages;
    return proc;
}

}  // namespace

IProcesses& SystemProcesses() {
    static WindowsProcesses processes;
    return processes;
}

void SetProcessMessagesProc(ProcessMessagesProc proc) {
    CurrentProcessMessages() = proc ? std::move(proc) : ProcessMessagesProc(PlainProcessMessages);
}

int RunAndWait(const std::u16string& commandLine, int showWindow) {
    return RunAndWait(SystemProcesses(), CurrentProcessMessages(), commandLine, showWindow);
}

bool IsWow64() { return IsWow64(SystemProcesses()); }

}  // namespace velmora
