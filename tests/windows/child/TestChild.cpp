// A small child program for the process tests. Its arguments are steps, done in
// order: --record FILE (writes its own command line, UTF-8), --sleep MS,
// --exit CODE, --spawn COMMANDLINE (starts it and does not wait), --lock FILE
// (opens it sharing nothing, held until exit), and last --crash (an access
// violation, without the system's error box). Started without arguments (as a stand-in for
// another program), it takes its steps from VELMORA_TEST_CHILD_STEPS.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

void Record(const wchar_t* path) {
    const wchar_t* line = GetCommandLineW();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, line, -1, &text[0], bytes, nullptr, nullptr);
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) ExitProcess(90);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void Spawn(wchar_t* commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        ExitProcess(92);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

void Crash() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    *static_cast<volatile int*>(nullptr) = 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv && argc == 1) {
        wchar_t steps[4096] = L"child ";
        if (GetEnvironmentVariableW(L"VELMORA_TEST_CHILD_STEPS", steps + 6, 4000) > 0) {
            LocalFree(argv);
            argv = CommandLineToArgvW(steps, &argc);
        }
    }
    if (!argv) return 91;
    int exitCode = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring step = argv[i];
        if (step == L"--record") {
            Record(argv[i + 1]);
        } else if (step == L"--sleep") {
            Sleep(static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10)));
        } else if (step == L"--exit") {
            exitCode = static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10));
        } else if (step == L"--spawn") {
            Spawn(argv[i + 1]);
        } else if (step == L"--lock") {
            // Deliberately never closed: the lock lasts until the process ends.
            if (CreateFileW(argv[i + 1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE)
                ExitProcess(93);
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--crash") Crash();
    }
    LocalFree(argv);
    return exitCode;
}
