// The file seam bound to the Windows functions (the W forms throughout).
#include "platform/WindowsHeaders.h"

#include <algorithm>
#include <climits>
#include <new>

#include "platform/ProfileFiles.h"

namespace velmora {

namespace {

class TWindowsProfileFiles final : public IProfileFiles {
public:
    std::uint32_t GetPrivateProfileSectionNamesW(char16_t* buffer, std::uint32_t size,
                                                 const std::u16string& path) override {
        return ::GetPrivateProfileSectionNamesW(Wide(buffer), size, Wide(path));
    }

    std::uint32_t GetPrivateProfileSectionW(const char16_t* section, char16_t* buffer, std::uint32_t size,
                                            const std::u16string& path) override {
        return ::GetPrivateProfileSectionW(Wide(section), Wide(buffer), size, Wide(path));
    }

    bool WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* value,
                                    const std::u16string& path) override {
        return ::WritePrivateProfileStringW(Wide(section), Wide(key), Wide(value), Wide(path)) != FALSE;
    }

    std::uint32_t GetTempPathW(std::uint32_t size, char16_t* buffer) override {
        return ::GetTempPathW(size, Wide(buffer));
    }

    std::uint32_t GetFileAttributesW(const std::u16string& path) override { return ::GetFileAttributesW(Wide(path)); }

    FindHandle FindFirstFileW(const std::u16string& pattern, std::uint32_t* attributes) override {
        WIN32_FIND_DATAW data;
        const HANDLE found = ::FindFirstFileW(Wide(pattern), &data);
        if (found == INVALID_HANDLE_VALUE) return kInvalidFindHandle;
        if (attributes) *attributes = data.dwFileAttributes;
        return ToSeam<FindHandle>(found);
    }

    bool FindClose(FindHandle handle) override { return ::FindClose(ToNative<HANDLE>(handle)) != FALSE; }

    bool DeleteFileW(const std::u16string& path) override { return ::DeleteFileW(Wide(path)) != FALSE; }

    long GetLastError() override { return static_cast<long>(::GetLastError()); }

    bool ReadAllBytes(const std::u16string& path, std::string& bytes) override {
        bytes.clear();
        unique_hfile file(CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        static thread_local char piece[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file.get(), piece, sizeof piece, &got, nullptr)) return false;
            if (got == 0) return true;
            // Past INT_MAX bytes the measure could not take them in one piece.
            if (bytes.size() + got > static_cast<std::size_t>(INT_MAX)) return false;
            try {
                bytes.append(piece, got);
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
    }

    std::uint32_t AnsiCharCount(const std::string& bytes) override {
        // MultiByteToWideChar measures at most INT_MAX bytes at once.
        std::uint32_t total = 0;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
            total += static_cast<std::uint32_t>(MultiByteToWideChar(CP_ACP, 0, bytes.data() + done, chunk, nullptr, 0));
            done += static_cast<std::size_t>(chunk);
        }
        return total;
    }
};

}  // namespace

IProfileFiles& SystemProfileFiles() {
    static TWindowsProfileFiles files;
    return files;
}

}  // namespace velmora
