#include "WindowsTestSupport.h"

#include "platform/WindowsHeaders.h"

#include <cstdlib>
#include <stdexcept>

#include "ProcessRunner.h"

namespace velmora::testing {

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path);
    return directory.substr(0, directory.find_last_of(L"\\/") + 1);
}

void CopyBesideProgram(const std::string& source, const std::wstring& name) {
    const std::wstring from(source.begin(), source.end());
    if (!CopyFileW(from.c_str(), (ProgramDirectory() + name).c_str(), FALSE)) {
        throw std::runtime_error("cannot copy " + source + " beside the test program (is the win64 tree built?)");
    }
}

std::string WinePrefixKind() {
    const char* kind = std::getenv("VELMORA_WINEARCH");
    return kind && *kind ? kind : "win64";
}

void ImportRegFile(const std::string& path, int viewBits) {
    std::wstring wide(path.begin(), path.end());
    for (auto& c : wide) {
        if (c == L'/') c = L'\\';
    }
    const std::wstring command = L"reg.exe import \"" + wide + L"\" /reg:" + std::to_wstring(viewBits);
    // Wine's reg.exe now and then fails an import at once (seen about once in
    // several hundred runs); a second try then succeeds.
    int rc = -1;
    for (int attempt = 0; attempt < 3 && rc != 0; ++attempt) {
        if (attempt > 0) Sleep(200);
        rc = RunProgram(command);
    }
    if (rc != 0) throw std::runtime_error("reg import failed (exit code " + std::to_string(rc) + "): " + path);
}

void ClearUninstallKeys() {
    const std::wstring key = L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\" /f";
    RunProgram(L"reg.exe delete \"HKLM" + key + L" /reg:32");
    RunProgram(L"reg.exe delete \"HKLM" + key + L" /reg:64");
    RunProgram(L"reg.exe delete \"HKCU" + key);
}

std::string ReadFileBytes(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace velmora::testing
