// A small child program for the process tests. Its arguments are steps, done in
// order: --record FILE (writes its own command line, UTF-8), --sleep MS,
// --exit CODE.
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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
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
        }
    }
    LocalFree(argv);
    return exitCode;
}
