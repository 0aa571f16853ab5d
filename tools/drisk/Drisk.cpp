// Drisk.x64: lists the software of the 64-bit registry view (and the current
// user's) for the 32-bit Velmora.exe, which cannot see it, and leaves it in the
// hand-off file. No window, no input; exit code 0 when the file was written.
#include "platform/WindowsHeaders.h"

#include <string>

#include "HandOff.h"
#include "LibrarySearch.h"
#include "unitOrvUninstallClasses.h"

namespace {

// Wine's profile functions take a file written in the last two seconds for one
// that may still be changing and parse it again on every call, which makes
// reading a large hand-off file quadratic. The file is complete before it is
// renamed into place, so it is dated a few seconds back.
void DateBack(HANDLE file) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time;
    time.LowPart = now.dwLowDateTime;
    time.HighPart = now.dwHighDateTime;
    time.QuadPart -= 5ULL * 10000000ULL;  // 100-nanosecond units
    FILETIME earlier;
    earlier.dwLowDateTime = time.LowPart;
    earlier.dwHighDateTime = time.HighPart;
    SetFileTime(file, nullptr, nullptr, &earlier);
}

// Writes the file beside its final place and then moves it there, so a reader
// never meets a half-written file, whatever happens to this process. Nothing
// waits for the disk: the file lives a few seconds and is read once, and the
// rename is atomic without write-through.
bool WriteFileAtomically(const std::u16string& path, const std::u16string& text) {
    using namespace velmora;
    const std::wstring temporary = Wide(path) + (L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp");
    unique_hfile file(
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;

    std::string bytes = "\xFF\xFE";  // UTF-16LE byte-order mark
    bytes.reserve(2 + text.size() * 2);
    for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    DWORD written = 0;
    const bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    if (ok) DateBack(file.get());
    // Closed before the move: an open file cannot be renamed.
    file.reset();
    if (ok && MoveFileExW(temporary.c_str(), Wide(path), MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    DeleteFileW(temporary.c_str());
    return false;
}

int Run() {
    using namespace velmora;
    TOrvUninstallList entries;
    drisk::CollectEntries(SystemRegistry(), kHKeyLocalMachine, entries);
    // Per-user installations live under the current user's own Uninstall key.
    drisk::CollectEntries(SystemRegistry(), kHKeyCurrentUser, entries);

    const std::u16string path = GetTempDirectory() + kHandOffFileName;
    return WriteFileAtomically(path, drisk::FormatHandOffFile(entries)) ? 0 : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    velmora::LoadLibrariesFromSystemFolderOnly();
    try {
        return Run();
    } catch (...) {
        return 2;
    }
}
