// The least any scanner of the same data must do, as a yardstick: opens every
// entry key of the three Uninstall keys once (32-bit and 64-bit machine views,
// the current user's) and reads each value the scan needs once, with nothing
// else. The exit code is the number of entry keys it opened.
#include "platform/WindowsHeaders.h"

namespace {

const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t* const kValues[] = {L"UninstallString", L"NoRemove", L"SystemComponent", L"Comments",
                                  L"DisplayIcon", L"DisplayName", L"Publisher"};

// One buffer for every value: each is read with a single call.
BYTE g_data[16384];
wchar_t g_name[256];

int ReadAll(HKEY root, REGSAM view) {
    HKEY list = nullptr;
    if (RegOpenKeyExW(root, kUninstall, 0, KEY_READ | view, &list) != ERROR_SUCCESS) return 0;
    int opened = 0;
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof g_name / sizeof g_name[0];
        const LONG rc = RegEnumKeyExW(list, index, g_name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) continue;
        HKEY entry = nullptr;
        if (RegOpenKeyExW(list, g_name, 0, KEY_QUERY_VALUE | view, &entry) != ERROR_SUCCESS) continue;
        ++opened;
        for (const wchar_t* value : kValues) {
            DWORD type = 0;
            DWORD size = sizeof g_data;
            RegQueryValueExW(entry, value, nullptr, &type, g_data, &size);
        }
        RegCloseKey(entry);
    }
    RegCloseKey(list);
    return opened;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return ReadAll(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY) + ReadAll(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY) +
           ReadAll(HKEY_CURRENT_USER, 0);
}
