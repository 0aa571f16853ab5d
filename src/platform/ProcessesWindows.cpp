// The process seam bound to the Windows functions.
#include "platform/WindowsHeaders.h"

#include <shellapi.h>
#include <tlhelp32.h>
#include <versionhelpers.h>

#include <algorithm>
#include <vector>

#include "platform/Processes.h"

namespace velmora {

namespace {

HANDLE ToHandle(ProcessHandle handle) { return ToNative<HANDLE>(handle); }
ProcessHandle FromHandle(HANDLE handle) { return ToSeam<ProcessHandle>(handle); }

std::u16string LongPath(const std::u16string& path) {
    const std::u16string longPath =
        Filled([&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(Wide(path), buffer, size); });
    return longPath.empty() ? path : longPath;
}

std::u16string WithBackslash(std::u16string path) {
    if (!path.empty() && path.back() != u'\\') path += u'\\';
    return path;
}

// A device path (\\Device\\HarddiskVolume3\\...) as the drive-letter path that
// names the same file; empty when no drive maps it.
std::u16string DrivePath(const std::u16string& device) {
    // A path already in drive-letter form, behind the object manager's prefix.
    if (device.rfind(u"\\??\\", 0) == 0) return device.substr(4);
    if (device.size() >= 2 && device[1] == u':') return device;
    const DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; ++letter) {
        if (!(drives & (1u << letter))) continue;
        const wchar_t drive[3] = {static_cast<wchar_t>(L'A' + letter), L':', L'\0'};
        wchar_t target[MAX_PATH] = {};
        if (!QueryDosDeviceW(drive, target, MAX_PATH)) continue;
        const std::u16string prefix = FromWide(target, wcslen(target)) + u"\\";
        if (device.size() > prefix.size() &&
            CompareStringOrdinal(Wide(device), static_cast<int>(prefix.size()), Wide(prefix),
                                 static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL) {
            return FromWide(drive, 2) + device.substr(prefix.size() - 1);
        }
    }
    return std::u16string();
}

using NtQuerySystemInformationFunction = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

NtQuerySystemInformationFunction SystemInformationQuery() {
    static const auto query =
        LookUpFunction<NtQuerySystemInformationFunction>(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    return query;
}

// The machine's processes with their parents' ids, read in one call: what a
// process snapshot reads too, without the snapshot's section, which is mapped
// and unmapped again for every process walked (a quarter of the cost under
// Wine, where the waits look every quarter of a second). False when the call
// fails.
bool SystemProcessList(std::vector<TProcessEntry>& entries) {
    // The head of SYSTEM_PROCESS_INFORMATION (winternl.h names the parent's id
    // Reserved2); natural alignment gives its offsets in both bitnesses.
    struct TProcessInformation {
        ULONG NextEntryOffset;
        ULONG NumberOfThreads;
        BYTE Reserved1[48];
        USHORT ImageNameLength;
        USHORT ImageNameMaximumLength;
        PWSTR ImageNameBuffer;
        LONG BasePriority;
        HANDLE UniqueProcessId;
        HANDLE InheritedFromUniqueProcessId;
    };
    constexpr ULONG kSystemProcessInformation = 5;
    const NtQuerySystemInformationFunction query = SystemInformationQuery();
    if (!query) return false;
    // Kept between calls: the list's size changes little.
    static std::vector<ULONG_PTR> buffer(64 * 1024 / sizeof(ULONG_PTR));
    for (int attempt = 0;; ++attempt) {
        ULONG needed = 0;
        const auto size = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
        const LONG status = query(kSystemProcessInformation, buffer.data(), size, &needed);
        if (status >= 0) break;
        if (status != kStatusInfoLengthMismatch || attempt == 4) return false;
        // Room for the processes started meanwhile too.
        buffer.resize((std::max<ULONG>(needed, size) + size / 2) / sizeof(ULONG_PTR) + 1);
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(buffer.data());
    const std::size_t end = buffer.size() * sizeof(ULONG_PTR);
    for (std::size_t at = 0; at + sizeof(TProcessInformation) <= end;) {
        const auto* process = reinterpret_cast<const TProcessInformation*>(bytes + at);
        entries.push_back(
            {static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(process->UniqueProcessId)),
             static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(process->InheritedFromUniqueProcessId))});
        if (process->NextEntryOffset == 0) return true;
        at += process->NextEntryOffset;
    }
    return false;
}

// Where process creation looks for a program named without a directory, in its order.
std::u16string ProgramSearchPath() {
    std::u16string program = ProgramPath();
    const std::size_t slash = program.find_last_of(u'\\');
    program.resize(slash == std::u16string::npos ? 0 : slash);
    const std::u16string windows =
        Filled([](wchar_t* buffer, DWORD size) { return GetWindowsDirectoryW(buffer, size); });
    return program + u";" + Filled([](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); }) +
           u";" + Filled([](wchar_t* buffer, DWORD size) { return GetSystemDirectoryW(buffer, size); }) + u";" +
           windows + u"\\System;" + windows + u";" +
           Filled([](wchar_t* buffer, DWORD size) { return GetEnvironmentVariableW(L"PATH", buffer, size); });
}

class TWindowsProcesses final : public IProcesses {
public:
    bool CreateProcessW(char16_t* commandLine, std::uint32_t creationFlags, const TStartupRecord& startup,
                        TProcessRecord* process) override {
        STARTUPINFOW info;
        ZeroMemory(&info, sizeof info);
        info.cb = sizeof info;
        info.dwFlags = startup.dwFlags;
        info.wShowWindow = startup.wShowWindow;
        PROCESS_INFORMATION created;
        ZeroMemory(&created, sizeof created);
        if (!::CreateProcessW(nullptr, Wide(commandLine), nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr,
                              &info, &created)) {
            return false;
        }
        process->hProcess = FromHandle(created.hProcess);
        process->hThread = FromHandle(created.hThread);
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
#ifdef VELMORA_WOW64_STAND_IN
        // The 64-bit stand-in for Velmora.exe, built for machines that cannot run
        // 32-bit code (never shipped), takes itself for the 32-bit program on
        // 64-bit Windows.
        *isWow64 = true;
        return true;
#endif
        // Looked up at run time: older Windows has no such function.
        using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
        const auto query = LookUpFunction<IsWow64ProcessFunction>(GetModuleHandleW(L"Kernel32"), "IsWow64Process");
        if (!query) return false;
        BOOL flag = FALSE;
        query(GetCurrentProcess(), &flag);
        *isWow64 = flag != FALSE;
        return true;
    }

    long GetLastError() override { return static_cast<long>(::GetLastError()); }
    void SetLastError(long error) override { ::SetLastError(static_cast<DWORD>(error)); }

    bool SearchPathW(const std::u16string& fileName, std::u16string* path) override {
        const std::u16string directories = ProgramSearchPath();
        const std::u16string found = Filled([&](wchar_t* buffer, DWORD size) {
            return ::SearchPathW(Wide(directories), Wide(fileName), L".exe", size, buffer, nullptr);
        });
        if (found.empty()) return false;
        const DWORD attributes = GetFileAttributesW(Wide(found));
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
        *path = found;
        return true;
    }

    bool ShellExecuteExW(const TShellStartRecord& start, ProcessHandle* process) override {
        SHELLEXECUTEINFOW info;
        ZeroMemory(&info, sizeof info);
        info.cbSize = sizeof info;
        // No error box of the shell's own: a start that fails is passed over silently.
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        info.hwnd = ToNative<HWND>(start.hwnd);
        info.lpFile = Wide(start.lpFile);
        info.lpParameters = start.lpParameters.empty() ? nullptr : Wide(start.lpParameters);
        info.nShow = start.nShow;
        if (!::ShellExecuteExW(&info)) return false;
        *process = FromHandle(info.hProcess);
        return true;
    }

    std::uint32_t GetProcessId(ProcessHandle process) override { return ::GetProcessId(ToHandle(process)); }

    std::vector<TProcessEntry> ProcessSnapshot() override {
        std::vector<TProcessEntry> entries;
        if (SystemProcessList(entries)) return entries;
        entries.clear();
        const unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot) return entries;
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
            entries.push_back({entry.th32ProcessID, entry.th32ParentProcessID});
        }
        return entries;
    }

    ProcessHandle OpenProcess(std::uint32_t processId) override {
        return FromHandle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
    }

    bool ProcessCreationTime(ProcessHandle process, std::uint64_t* creationTime) override {
        FILETIME created, exited, kernel, user;
        if (!::GetProcessTimes(ToHandle(process), &created, &exited, &kernel, &user)) return false;
        *creationTime = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
        return true;
    }

    bool QueryFullProcessImageNameW(ProcessHandle process, std::u16string* path) override {
        const std::u16string image = Filled([&](wchar_t* buffer, DWORD size) {
            DWORD length = size;
            if (::QueryFullProcessImageNameW(ToHandle(process), 0, buffer, &length)) return length;
            return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? size * 2 : DWORD{0};
        });
        if (image.empty()) return false;
        // The copy may have been started by a short (8.3) name.
        *path = LongPath(image);
        return true;
    }

    bool ProcessImagePath(std::uint32_t processId, std::u16string* path) override {
        // Undocumented in the headers, stable since Vista: the image of any
        // process by its id, as a device path, with no handle to it.
        struct TProcessIdInformation {
            HANDLE ProcessId;
            USHORT Length;
            USHORT MaximumLength;
            PWSTR Buffer;
        };
        constexpr ULONG kSystemProcessIdInformation = 88;
        const NtQuerySystemInformationFunction query = SystemInformationQuery();
        if (!query || !processId) return false;
        std::vector<wchar_t> buffer(MAX_PATH);
        TProcessIdInformation info;
        for (;;) {
            info.ProcessId = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(processId));
            info.Length = 0;
            info.MaximumLength = static_cast<USHORT>(buffer.size() * sizeof(wchar_t));
            info.Buffer = buffer.data();
            const LONG status = query(kSystemProcessIdInformation, &info, sizeof info, nullptr);
            if (status >= 0) break;
            // Too small: the answer says how much the name needs.
            if (status != kStatusInfoLengthMismatch || info.MaximumLength <= buffer.size() * sizeof(wchar_t))
                return false;
            buffer.resize(info.MaximumLength / sizeof(wchar_t));
        }
        const std::u16string image = DrivePath(FromWide(buffer.data(), info.Length / sizeof(wchar_t)));
        if (image.empty()) return false;
        *path = LongPath(image);
        return true;
    }

    std::vector<std::u16string> TemporaryDirectories() override {
        std::vector<std::u16string> directories;
        const std::u16string user = Filled([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
        if (!user.empty()) directories.push_back(WithBackslash(LongPath(user)));
        const std::u16string windows = GetWindowsDirectoryW();
        if (!windows.empty()) directories.push_back(WithBackslash(LongPath(WithBackslash(windows) + u"Temp")));
        return directories;
    }

    std::uint32_t ResumeThread(ProcessHandle thread) override { return ::ResumeThread(ToHandle(thread)); }

    bool Wow64DisableWow64FsRedirection(void** oldValue) override {
        return ::Wow64DisableWow64FsRedirection(oldValue) != FALSE;
    }
    bool Wow64RevertWow64FsRedirection(void* oldValue) override {
        return ::Wow64RevertWow64FsRedirection(oldValue) != FALSE;
    }

    std::u16string GetSystemDirectoryW() override {
        return Filled([](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); });
    }
    std::u16string GetWindowsDirectoryW() override {
        return Filled([](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); });
    }

    ProcessHandle CreateJobObjectW() override {
        // Jobs nest from Windows 8 on. Before, a process in a job cannot put its
        // children in a job of its own: an uninstaller that does would fail.
        if (!IsWindows8OrGreater()) return {};
        return FromHandle(::CreateJobObjectW(nullptr, nullptr));
    }

    bool SetInformationJobObject(ProcessHandle job, std::uint32_t limitFlags) override {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
        ZeroMemory(&limits, sizeof limits);
        limits.BasicLimitInformation.LimitFlags = limitFlags;
        return ::SetInformationJobObject(ToHandle(job), JobObjectExtendedLimitInformation, &limits, sizeof limits) !=
               FALSE;
    }

    bool AssignProcessToJobObject(ProcessHandle job, ProcessHandle process) override {
        return ::AssignProcessToJobObject(ToHandle(job), ToHandle(process)) != FALSE;
    }

    std::vector<std::uint32_t> JobProcessIds(ProcessHandle job) override {
        // Asked again with room for as many as the job said it has.
        for (DWORD room = 64;;) {
            std::vector<ULONG_PTR> buffer(2 + room);
            auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
            list->NumberOfAssignedProcesses = room;
            const BOOL ok = ::QueryInformationJobObject(ToHandle(job), JobObjectBasicProcessIdList, list,
                                                        static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)), nullptr);
            if (!ok && ::GetLastError() != ERROR_MORE_DATA) return {};
            if ((ok && list->NumberOfProcessIdsInList >= list->NumberOfAssignedProcesses) ||
                list->NumberOfAssignedProcesses <= room) {
                const DWORD count = std::min<DWORD>(list->NumberOfProcessIdsInList, room);
                return std::vector<std::uint32_t>(list->ProcessIdList, list->ProcessIdList + count);
            }
            room = list->NumberOfAssignedProcesses;
        }
    }
};

}  // namespace

IProcesses& SystemProcesses() {
    static TWindowsProcesses processes;
    return processes;
}

std::u16string ProgramPath() {
    return Filled([](wchar_t* buffer, DWORD size) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer, size);
        return length == size ? size * 2 : length;
    });
}

}  // namespace velmora
