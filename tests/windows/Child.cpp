// The tests' one child program: a stand-in uninstaller, a stand-in companion or
// a process to wait for. Its arguments are steps, done in order:
//   --record FILE        writes its own command line there (UTF-8)
//   --log FILE NAME      appends "NAME start" now and "NAME end" on exit
//   --remove KEY VIEW    removes the key (HKLM\... or HKCU\...; VIEW 32, 64 or 0)
//   --corrupt KEY VIEW   gives the key a REG_MULTI_SZ DisplayName
//   --spawn COMMANDLINE  starts it and does not wait
//   --lock FILE          opens it sharing nothing, held until exit
//   --sleep MS   --exit CODE   --crash (an access violation, without an error box)
// Started without arguments (standing in for another program) it takes its
// steps from VELMORA_TEST_CHILD_STEPS.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

void Append(const wchar_t* path, const std::string& text, DWORD disposition, DWORD access) {
    const HANDLE file = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, 0, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

// Opens HKLM\... or HKCU\... in the view; with parent, the key's parent and the last name.
HKEY Open(std::wstring key, const wchar_t* view, bool parent, std::wstring& last) {
    const REGSAM flag = std::wcstol(view, nullptr, 10) == 32 ? KEY_WOW64_32KEY
                        : std::wcstol(view, nullptr, 10) == 64 ? KEY_WOW64_64KEY : 0;
    const HKEY root = key.compare(0, 5, L"HKCU\\") == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    key = key.substr(5);
    if (parent) {
        last = key.substr(key.find_last_of(L'\\') + 1);
        key = key.substr(0, key.find_last_of(L'\\'));
    }
    HKEY handle = nullptr;
    return RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | flag, nullptr, &handle, nullptr) ==
                   ERROR_SUCCESS ? handle : nullptr;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    wchar_t steps[4096] = L"child ";
    if (argc == 1 && GetEnvironmentVariableW(L"VELMORA_TEST_CHILD_STEPS", steps + 6, 4000) > 0)
        argv = CommandLineToArgvW(steps, &argc);
    int exitCode = 0;
    std::wstring log, name, last;
    for (int i = 1; i < argc; ++i) {
        const std::wstring step = argv[i];
        const wchar_t* arg = i + 1 < argc ? argv[i + 1] : L"";
        if (step == L"--record") {
            const std::wstring line = GetCommandLineW();
            std::string text(line.size() * 3, '\0');
            text.resize(WideCharToMultiByte(CP_UTF8, 0, line.data(), (int)line.size(), &text[0], (int)text.size(), nullptr, nullptr));
            Append(arg, text, CREATE_ALWAYS, GENERIC_WRITE);
        } else if (step == L"--log" && i + 2 < argc) {
            log = arg;
            name = argv[++i + 1];
            Append(log.c_str(), std::string(name.begin(), name.end()) + " start\r\n", OPEN_ALWAYS, FILE_APPEND_DATA);
        } else if (step == L"--remove" && i + 2 < argc) {
            const HKEY parent = Open(arg, argv[i + 2], true, last);
            if (!parent || RegDeleteTreeW(parent, last.c_str()) != ERROR_SUCCESS) exitCode = 81;
            RegCloseKey(parent);
            ++i;
        } else if (step == L"--corrupt" && i + 2 < argc) {
            const HKEY key = Open(arg, argv[i + 2], false, last);
            RegSetValueExW(key, L"DisplayName", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(L"One\0Two\0"), 18);
            RegCloseKey(key);
            ++i;
        } else if (step == L"--spawn") {
            STARTUPINFOW startup{sizeof startup};
            PROCESS_INFORMATION process{};
            if (!CreateProcessW(nullptr, argv[i + 1], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
                exitCode = 92;
        } else if (step == L"--lock") {
            // Never closed: the lock lasts until the process ends.
            if (CreateFileW(arg, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE) exitCode = 93;
        } else if (step == L"--sleep") {
            Sleep(static_cast<DWORD>(std::wcstoul(arg, nullptr, 10)));
        } else if (step == L"--exit") {
            exitCode = static_cast<int>(std::wcstol(arg, nullptr, 10));
        } else if (step == L"--crash") {
            SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
            *static_cast<volatile int*>(nullptr) = 1;
        } else {
            continue;
        }
        ++i;
    }
    if (!log.empty()) Append(log.c_str(), std::string(name.begin(), name.end()) + " end\r\n", OPEN_ALWAYS, FILE_APPEND_DATA);
    return exitCode;
}
