// The file operations the hand-off needs, at the level of the Windows functions:
// the profile (initialisation file) reader, the temporary directory, file
// attributes, a directory search and deletion. Answers and error codes are the
// Windows ones, so a substitute is judged against the real functions.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kFileAttributeReadOnly = 0x01;
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uintptr_t kInvalidFindHandle = ~static_cast<std::uintptr_t>(0);

constexpr long kErrorPathNotFound = 3;
constexpr long kErrorSharingViolation = 32;
constexpr long kErrorInvalidName = 123;

class IProfileFiles {
public:
    virtual ~IProfileFiles() = default;

    // GetPrivateProfileStringW. A null section asks for the section names (each
    // ended by a null, an extra null after the last); a null key for the key names
    // of the section. Answers the number of characters placed, not counting the
    // final null; size - 2 when the names did not fit, size - 1 when a value was cut.
    virtual std::uint32_t GetPrivateProfileString(const char16_t* section, const char16_t* key,
                                                  const char16_t* defaultValue, char16_t* buffer,
                                                  std::uint32_t size, const std::u16string& path) = 0;
    // WritePrivateProfileStringW. With section, key and value all null it only
    // flushes the cached copy of the file.
    virtual bool WritePrivateProfileString(const char16_t* section, const char16_t* key,
                                           const char16_t* value, const std::u16string& path) = 0;
    // GetTempPathW: the length placed (without the null), the size needed when the
    // buffer is too small, 0 on failure.
    virtual std::uint32_t GetTempPath(std::uint32_t size, char16_t* buffer) = 0;
    // GetFileAttributesW: kInvalidFileAttributes on failure, the reason then in
    // LastError().
    virtual std::uint32_t GetFileAttributes(const std::u16string& path) = 0;
    // FindFirstFileW, reduced to the attributes of the first item found;
    // kInvalidFindHandle when nothing is found. FindClose ends the search.
    virtual std::uintptr_t FindFirstFile(const std::u16string& pattern, std::uint32_t* attributes) = 0;
    virtual bool FindClose(std::uintptr_t handle) = 0;
    // DeleteFileW.
    virtual bool DeleteFile(const std::u16string& path) = 0;
    // GetLastError after the calls above.
    virtual long LastError() = 0;

    // Measuring a file: all of its bytes (false when it cannot be read), and the
    // number of UTF-16 characters that bytes without a byte-order mark make in
    // the ANSI code page (MultiByteToWideChar with CP_ACP).
    virtual bool ReadAllBytes(const std::u16string& path, std::string& bytes) = 0;
    virtual std::uint32_t AnsiCharCount(const std::string& bytes) = 0;
};

// The machine's file functions: the Windows ones. A native build has no
// binding; its callers pass functions of their own.
IProfileFiles& SystemProfileFiles();

}  // namespace velmora
