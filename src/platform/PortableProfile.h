// The profile reader and file functions over the host's own file system, written
// with the standard library only: the system file functions off Windows, and a
// substitute judged against the real ones under Wine.
//
// Reading follows the Windows profile reader: UTF-16LE with a byte-order mark,
// anything else (a UTF-8 or big-endian mark included) as ANSI, taken as
// Windows-1252; lines end at CR, LF or any run of them; blanks (space, tab,
// vertical tab) are trimmed around lines, section names, key names and values,
// while asked-for names lose spaces only; names compare without regard to case;
// a "[" line is a section header whose name ends at the first "]" or at the end
// of the line; a key line splits at its first "="; key lines starting with ";"
// are comments; one pair of matching enclosing quotes (' or ") is removed when a
// value is read. Of duplicate sections and keys the first is the one read;
// enumerations list every one. Key lines before the first section header belong
// to no section. Names and values end at an embedded null.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "platform/ProfileFiles.h"

namespace velmora {

constexpr std::uint32_t kFileAttributeArchive = 0x20;
constexpr long kErrorNotSupported = 50;

// Files larger than this are treated as unreadable (a profile read gives the
// default, ReadAllBytes fails), so a hostile file cannot exhaust memory.
constexpr std::uint64_t kDefaultMaxProfileBytes = 64ull * 1024 * 1024;

class PortableProfileFiles final : public IProfileFiles {
public:
    explicit PortableProfileFiles(std::uint64_t maxFileBytes = kDefaultMaxProfileBytes);

    // The file is read afresh on every call (nothing is cached), so there is
    // never a stale copy to flush.
    std::uint32_t GetPrivateProfileString(const char16_t* section, const char16_t* key,
                                          const char16_t* defaultValue, char16_t* buffer,
                                          std::uint32_t size, const std::u16string& path) override;
    // Only the flush (section, key and value all null) is supported; it answers
    // true. Writing, deleting keys or sections is not: false with LastError 50
    // (ERROR_NOT_SUPPORTED), and the file is left untouched.
    bool WritePrivateProfileString(const char16_t* section, const char16_t* key,
                                   const char16_t* value, const std::u16string& path) override;
    // The host's temporary directory with a trailing separator. Too small a
    // buffer is cleared and the size needed (with the null) answered; the rest of
    // a large enough buffer is cleared too, as Windows does.
    std::uint32_t GetTempPath(std::uint32_t size, char16_t* buffer) override;
    // kFileAttributeDirectory for a directory, kFileAttributeArchive for any other
    // item, plus kFileAttributeReadOnly when nobody may write it. Errors: 2 (no
    // such item), 3 (its directory is missing or is not a directory), 5 (access
    // denied), 123 (a wildcard or an empty name).
    std::uint32_t GetFileAttributes(const std::u16string& path) override;
    // A name without wildcards only: a pattern with "*" or "?" fails with 123.
    std::uintptr_t FindFirstFile(const std::u16string& pattern, std::uint32_t* attributes) override;
    bool FindClose(std::uintptr_t handle) override;
    // Fails with 5 on a directory or a read-only file, 2 or 3 when missing.
    bool DeleteFile(const std::u16string& path) override;
    // The error of this thread's last failing call above.
    long LastError() override;

    bool ReadAllBytes(const std::u16string& path, std::string& bytes) override;
    // Windows-1252 makes one character of every byte.
    std::uint32_t AnsiCharCount(const std::string& bytes) override;

private:
    std::uint64_t maxFileBytes_;
    std::mutex findMutex_;
    std::set<std::uintptr_t> openFinds_;
    std::uintptr_t nextFind_ = 1;
};

}  // namespace velmora
