// A stand-in uninstaller for the end-to-end tests. Its arguments are steps, done
// in order:
//   --log FILE NAME        appends "NAME start TIME" now and "NAME end TIME" on exit
//   --remove HIVE\KEY VIEW removes the key (HKLM or HKCU; VIEW 32, 64 or 0)
//   --corrupt HIVE\KEY VIEW gives the key a REG_MULTI_SZ DisplayName
//   --sleep MS             waits
//   --exit CODE            the exit code
// Without --remove it "is cancelled": its entry stays.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring g_log;
std::wstring g_name;

void Append(const std::wstring& what) {
    if (g_log.empty()) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long time = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const std::wstring line = g_name + L" " + what + L" " + std::to_wstring(time) + L"\r\n";
    const std::string bytes(line.begin(), line.end());
    // Appends from several processes land whole.
    const HANDLE file = CreateFileW(g_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

bool SplitKey(const std::wstring& text, HKEY& root, std::wstring& path) {
    const auto slash = text.find(L'\\');
    if (slash == std::wstring::npos) return false;
    const std::wstring hive = text.substr(0, slash);
    path = text.substr(slash + 1);
    if (hive == L"HKLM") root = HKEY_LOCAL_MACHINE;
    else if (hive == L"HKCU") root = HKEY_CURRENT_USER;
    else return false;
    return true;
}

REGSAM ViewFlag(const wchar_t* view) {
    const long bits = std::wcstol(view, nullptr, 10);
    return bits == 32 ? KEY_WOW64_32KEY : bits == 64 ? KEY_WOW64_64KEY : 0;
}

int Remove(const std::wstring& key, const wchar_t* view) {
    HKEY root = nullptr;
    std::wstring path;
    if (!SplitKey(key, root, path)) return 80;
    const auto slash = path.find_last_of(L'\\');
    HKEY parent = nullptr;
    if (RegOpenKeyExW(root, path.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | ViewFlag(view), &parent) !=
        ERROR_SUCCESS) {
        return 81;
    }
    const LONG rc = RegDeleteTreeW(parent, path.substr(slash + 1).c_str());
    RegDeleteKeyExW(parent, path.substr(slash + 1).c_str(), ViewFlag(view), 0);
    RegCloseKey(parent);
    return rc == ERROR_SUCCESS ? 0 : 82;
}

int Corrupt(const std::wstring& key, const wchar_t* view) {
    HKEY root = nullptr;
    std::wstring path;
    if (!SplitKey(key, root, path)) return 83;
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | ViewFlag(view), nullptr, &handle,
                        nullptr) != ERROR_SUCCESS) {
        return 84;
    }
    const wchar_t multi[] = L"One\0Two\0";
    RegSetValueExW(handle, L"DisplayName", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi);
    RegCloseKey(handle);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 91;
    int exitCode = 0;
    for (int i = 1; i < argc; ++i) {
        const std::wstring step = argv[i];
        if (step == L"--log" && i + 2 < argc) {
            g_log = argv[i + 1];
            g_name = argv[i + 2];
            Append(L"start");
            i += 2;
        } else if (step == L"--remove" && i + 2 < argc) {
            if (const int rc = Remove(argv[i + 1], argv[i + 2])) exitCode = rc;
            i += 2;
        } else if (step == L"--corrupt" && i + 2 < argc) {
            if (const int rc = Corrupt(argv[i + 1], argv[i + 2])) exitCode = rc;
            i += 2;
        } else if (step == L"--sleep" && i + 1 < argc) {
            Sleep(static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10)));
        } else if (step == L"--exit" && i + 1 < argc) {
            exitCode = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
        }
    }
    Append(L"end");
    LocalFree(argv);
    return exitCode;
}
