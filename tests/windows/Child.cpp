// The tests' one child program, standing in for uninstallers. Its arguments are
// steps, done in order (its exit code is 0 unless a step fails):
//   --record FILE        writes its own command line there (UTF-8)
//   --log FILE NAME      appends "NAME start" now and "NAME end" on exit
//   --remove KEY VIEW    removes the key (HKLM\... or HKCU\...; VIEW 32, 64 or 0)
//   --corrupt KEY VIEW   gives the key a REG_MULTI_SZ DisplayName
//   --spawn COMMANDLINE  starts it and does not wait
//   --run COMMANDLINE    starts it and waits for it, as a wrapper does
//   --sleep MS
//   --exit CODE          the exit code
#include "Text.h"

#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {
using velmora::unique_handle;
using velmora::unique_hkey;

void Write(const std::wstring& path, const std::wstring& text, bool append) {
    std::ofstream(std::filesystem::path(path), append ? std::ios::binary | std::ios::app : std::ios::binary)
        << velmora::Narrow(text);
}

// Opens HKLM\PATH or HKCU\PATH in the view, writable.
unique_hkey Open(const std::wstring& key, const wchar_t* view) {
    const REGSAM flag = std::wstring(view) == L"32"   ? KEY_WOW64_32KEY
                        : std::wstring(view) == L"64" ? KEY_WOW64_64KEY
                                                      : 0;
    HKEY handle = nullptr;
    RegCreateKeyExW(key.compare(0, 4, L"HKCU") ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key.substr(5).c_str(), 0,
                    nullptr, 0, KEY_ALL_ACCESS | flag, nullptr, &handle, nullptr);
    return unique_hkey(handle);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0, exitCode = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring log, name;
    for (int i = 1; i < argc; ++i) {
        const std::wstring step = argv[i], arg = i + 1 < argc ? argv[i + 1] : L"",
                           third = i + 2 < argc ? argv[i + 2] : L"";
        if (step == L"--record") Write(arg, GetCommandLineW(), false);
        if (step == L"--log") log = arg, name = third, Write(log, name + L" start\r\n", true);
        if (step == L"--remove") {
            const unique_hkey parent = Open(arg.substr(0, arg.find_last_of(L'\\')), third.c_str());
            if (RegDeleteTreeW(parent.get(), arg.substr(arg.find_last_of(L'\\') + 1).c_str()) != ERROR_SUCCESS)
                exitCode = 81;
        }
        if (step == L"--corrupt")
            RegSetValueExW(Open(arg, third.c_str()).get(), L"DisplayName", 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(L"One\0Two\0"), 18);
        if (step == L"--spawn" || step == L"--run") {
            STARTUPINFOW startup{sizeof startup};
            PROCESS_INFORMATION process{};
            if (!CreateProcessW(nullptr, argv[i + 1], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
                exitCode = 92;
            const unique_handle thread(process.hThread), started(process.hProcess);
            if (step == L"--run") WaitForSingleObject(started.get(), INFINITE);
        }
        if (step == L"--sleep") Sleep(std::wcstoul(arg.c_str(), nullptr, 10));
        if (step == L"--exit") exitCode = static_cast<int>(std::wcstol(arg.c_str(), nullptr, 10));
        i += step == L"--log" || step == L"--remove" || step == L"--corrupt" ? 2 : 1;
    }
    if (!log.empty()) Write(log, name + L" end\r\n", true);
    return exitCode;
}
