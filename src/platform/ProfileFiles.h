// The file operations the hand-off needs, at the level of the Windows functions:
// the profile (initialisation file) reader, the temporary directory, file
// attributes, a directory search and deletion. Answers and error codes are the
// Windows ones, so a substitute is judged against the real functions.
//
// Naming, the same in every seam: an operation that is one Windows function
// carries that function's exported name (the W form where there is one), so no
// macro of <windows.h> renames it; an operation that folds several calls into
// one answer is named for the answer (ReadAllBytes, AnsiCharCount).
// Error codes are in platform/ErrorCodes.h.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ErrorCodes.h"

namespace velmora {

constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kFileAttributeReadOnly = 0x01;
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
// A directory search, as FindFirstFileW answers it.
enum class FindHandle : std::uintptr_t {};
constexpr FindHandle kInvalidFindHandle = static_cast<FindHandle>(~std::uintptr_t{0});

class IProfileFiles {
public:
    virtual ~IProfileFiles() = default;

    // GetPrivateProfileSectionNamesW: the section names, each ended by a null, an
    // extra null after the last. Answers the number of characters placed, not
    // counting the final null; size - 2 when the names did not fit.
    virtual std::uint32_t GetPrivateProfileSectionNamesW(char16_t* buffer, std::uint32_t size,
                                                         const std::u16string& path) = 0;
    // GetPrivateProfileSectionW: the lines of the first section of that name
    // (key=value, or a key alone), each ended by a null, an extra null after the
    // last. Answers as GetPrivateProfileSectionNamesW does.
    virtual std::uint32_t GetPrivateProfileSectionW(const char16_t* section, char16_t* buffer, std::uint32_t size,
                                                    const std::u16string& path) = 0;
    // WritePrivateProfileStringW. With section, key and value all null it only
    // flushes the cached copy of the file.
    virtual bool WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* value,
                                            const std::u16string& path) = 0;
    // GetTempPathW: the length placed (without the null), the size needed when the
    // buffer is too small, 0 on failure.
    virtual std::uint32_t GetTempPathW(std::uint32_t size, char16_t* buffer) = 0;
    // GetFileAttributesW: kInvalidFileAttributes on failure, the reason then in
    // GetLastError().
    virtual std::uint32_t GetFileAttributesW(const std::u16string& path) = 0;
    // FindFirstFileW, reduced to the attributes of the first item found;
    // kInvalidFindHandle when nothing is found. FindClose ends the search.
    virtual FindHandle FindFirstFileW(const std::u16string& pattern, std::uint32_t* attributes) = 0;
    virtual bool FindClose(FindHandle handle) = 0;
    // DeleteFileW.
    virtual bool DeleteFileW(const std::u16string& path) = 0;
    // GetLastError after the calls above.
    virtual long GetLastError() = 0;

    // Measuring a file: all of its bytes (false, and no last error promised,
    // when it cannot be read or held), and the number of UTF-16 characters that
    // bytes without a byte-order mark make in the ANSI code page
    // (MultiByteToWideChar with CP_ACP).
    virtual bool ReadAllBytes(const std::u16string& path, std::string& bytes) = 0;
    virtual std::uint32_t AnsiCharCount(const std::string& bytes) = 0;
};

// The machine's file functions: the Windows ones. A native build has no
// binding; its callers pass functions of their own.
IProfileFiles& SystemProfileFiles();

}  // namespace velmora
