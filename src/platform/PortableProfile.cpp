#include "platform/PortableProfile.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "platform/Registry.h"
#include "platform/Text.h"

namespace velmora {

namespace fs = std::filesystem;

namespace {

thread_local long tLastError = 0;

constexpr long kErrorNotEnoughMemory = 8;
constexpr long kErrorFilenameTooLong = 206;
constexpr std::size_t kMaxPath = 260;

bool Fail(long error) {
    tLastError = error;
    return false;
}

template <typename T>
T FailWith(long error, T answer) {
    tLastError = error;
    return answer;
}

// ---------------------------------------------------------------------------
// Paths and items

// The functions take C strings: anything after an embedded null is not seen.
std::u16string CutAtNull(const std::u16string& text) { return text.substr(0, text.find(u'\0')); }

fs::path ToPath(const std::u16string& text) {
#ifdef _WIN32
    return fs::path(std::wstring(text.begin(), text.end()));
#else
    return fs::u8path(ToUtf8(text));
#endif
}

std::u16string FromPath(const fs::path& path) {
#ifdef _WIN32
    const std::wstring wide = path.wstring();
    return std::u16string(wide.begin(), wide.end());
#else
    return FromUtf8(path.string());
#endif
}

bool HasWildcardOrInvalidChar(const std::u16string& path) {
    return path.find_first_of(u"*?<>|\"") != std::u16string::npos;
}

bool EndsWithSeparator(const std::u16string& path) {
    return !path.empty() && (path.back() == u'/' || path.back() == u'\\');
}

struct Item {
    long error = 0;  // a Windows error code; 0 when the item exists
    fs::file_status status;
};

// Classifies a path as the Windows functions report it: a missing item in an
// existing directory is "file not found", a missing or non-directory parent
// "path not found".
Item Inspect(const std::u16string& rawPath) {
    Item item;
    const std::u16string text = CutAtNull(rawPath);
    if (text.empty()) {
        item.error = kErrorPathNotFound;
        return item;
    }
    if (HasWildcardOrInvalidChar(text)) {
        item.error = kErrorInvalidName;
        return item;
    }
    const fs::path path = ToPath(text);
    std::error_code ec;
    item.status = fs::status(path, ec);
    if (item.status.type() == fs::file_type::not_found) {
        std::error_code parentEc;
        const fs::path parent = path.parent_path();
        const bool parentIsDirectory = parent.empty() || fs::is_directory(parent, parentEc);
        item.error = parentIsDirectory ? kErrorFileNotFound : kErrorPathNotFound;
    } else if (ec) {
        item.error = ec == std::errc::filename_too_long ? kErrorFilenameTooLong : kErrorAccessDenied;
    }
    return item;
}

std::uint32_t AttributesOf(const fs::file_status& status) {
    std::uint32_t attributes = fs::is_directory(status) ? kFileAttributeDirectory : kFileAttributeArchive;
    const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if ((status.permissions() & writable) == fs::perms::none) attributes |= kFileAttributeReadOnly;
    return attributes;
}

// Reads a file in pieces, so a device or a file that grows while it is read
// cannot take more than `limit` bytes.
bool ReadBytes(const std::u16string& path, std::uint64_t limit, std::string& bytes, long& error) {
    bytes.clear();
    const Item item = Inspect(path);
    if (item.error != 0) {
        error = item.error;
        return false;
    }
    // Directories, pipes and devices are not read: a pipe could block forever.
    if (!fs::is_regular_file(item.status)) {
        error = kErrorAccessDenied;
        return false;
    }
    std::ifstream in(ToPath(CutAtNull(path)), std::ios::binary);
    if (!in) {
        error = kErrorAccessDenied;
        return false;
    }
    std::array<char, 65536> piece;
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (bytes.size() + got > limit) {
            bytes.clear();
            error = kErrorNotEnoughMemory;
            return false;
        }
        bytes.append(piece.data(), got);
    }
    if (in.bad()) {
        bytes.clear();
        error = kErrorAccessDenied;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Text

constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::u16string DecodeWindows1252(std::string_view bytes) {
    std::u16string text(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        text[i] = (b >= 0x80 && b < 0xA0) ? kWindows1252High[b - 0x80] : static_cast<char16_t>(b);
    }
    return text;
}

// UTF-16LE; an odd last byte is not part of any character.
std::u16string DecodeUtf16(std::string_view bytes) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto low = static_cast<unsigned char>(bytes[2 * i]);
        const auto high = static_cast<unsigned char>(bytes[2 * i + 1]);
        text[i] = static_cast<char16_t>((high << 8) | low);
    }
    return text;
}

// Only the UTF-16LE byte-order mark makes a Unicode file; anything else,
// a UTF-8 or big-endian mark included, is read as ANSI.
std::u16string DecodeProfile(const std::string& bytes) {
    const std::string_view all(bytes);
    if (all.size() >= 2 && all.substr(0, 2) == "\xFF\xFE") return DecodeUtf16(all.substr(2));
    return DecodeWindows1252(all);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\v'; }

template <typename Predicate>
std::u16string_view TrimIf(std::u16string_view text, Predicate blank) {
    std::size_t start = 0;
    std::size_t end = text.size();
    while (start < end && blank(text[start])) ++start;
    while (end > start && blank(text[end - 1])) --end;
    return text.substr(start, end - start);
}

std::u16string_view Trim(std::u16string_view text) { return TrimIf(text, IsBlank); }

// Asked-for section and key names lose spaces only, not tabs.
std::u16string_view TrimSpaces(std::u16string_view text) {
    return TrimIf(text, [](char16_t c) { return c == u' '; });
}

std::u16string_view CutAtNull(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

// Simple upper-case mapping of Latin, Greek, Cyrillic, Armenian and full-width
// Latin letters; other characters compare exactly.
char16_t FoldCase(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    if (c == 0xFF) return 0x178;
    const bool odd = (c & 1) != 0;
    if (((c >= 0x101 && c <= 0x137) || (c >= 0x14B && c <= 0x177)) && odd && c != 0x131)
        return static_cast<char16_t>(c - 1);
    if (((c >= 0x13A && c <= 0x148) || (c >= 0x17A && c <= 0x17E)) && !odd) return static_cast<char16_t>(c - 1);
    if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return static_cast<char16_t>(c - 32);
    if (c == 0x3C2) return 0x3A3;
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 37);
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 63);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
    if (((c >= 0x461 && c <= 0x481) || (c >= 0x48B && c <= 0x4BF) || (c >= 0x4D1 && c <= 0x52F)) && odd)
        return static_cast<char16_t>(c - 1);
    if (c >= 0x4C2 && c <= 0x4CE && !odd) return static_cast<char16_t>(c - 1);
    if (c == 0x4CF) return 0x4C0;
    if (c >= 0x561 && c <= 0x586) return static_cast<char16_t>(c - 48);
    if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 32);
    return c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Lines of a profile

struct Line {
    bool header = false;
    bool comment = false;      // a key line starting with ";"
    std::u16string_view name;  // ends at an embedded null
    std::size_t rawNameLength = 0;
    bool hasValue = false;
    std::u16string_view value;
};

// Yields the section headers and key lines of a profile in file order.
class LineReader {
public:
    explicit LineReader(std::u16string_view text) : text_(text) {}

    bool Next(Line& line) {
        while (pos_ < text_.size()) {
            const std::size_t start = pos_;
            while (pos_ < text_.size() && text_[pos_] != u'\n' && text_[pos_] != u'\r') ++pos_;
            const std::size_t end = pos_;
            while (pos_ < text_.size() && (text_[pos_] == u'\n' || text_[pos_] == u'\r')) ++pos_;
            const std::u16string_view content = Trim(text_.substr(start, end - start));
            if (content.empty()) continue;
            line = Line();
            if (content.front() == u'[') {
                // The name ends at the first "]" (what follows is ignored) or,
                // without one, at the end of the line.
                const std::u16string_view inside = content.substr(1);
                line.header = true;
                line.name = CutAtNull(Trim(inside.substr(0, inside.find(u']'))));
                return true;
            }
            line.comment = content.front() == u';';
            const std::size_t equals = content.find(u'=');
            std::u16string_view name = content;
            if (equals != std::u16string_view::npos) {
                name = Trim(content.substr(0, equals));
                line.hasValue = true;
                line.value = CutAtNull(Trim(content.substr(equals + 1)));
            }
            line.rawNameLength = name.size();
            line.name = CutAtNull(name);
            return true;
        }
        return false;
    }

private:
    std::u16string_view text_;
    std::size_t pos_ = 0;
};

// Moves the reader past the header of the first section called `name` (header
// lines before any section never match). False when there is none.
bool SeekSection(LineReader& reader, std::u16string_view name) {
    Line line;
    while (reader.Next(line)) {
        if (line.header && SameName(line.name, name)) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Answers

std::uint32_t CopyText(std::u16string_view text, char16_t* buffer, std::uint32_t size) {
    const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
    std::copy_n(text.begin(), count, buffer);
    buffer[count] = u'\0';
    return static_cast<std::uint32_t>(count);
}

// A value as read: one pair of matching enclosing quotes removed, then cut to
// the buffer.
std::uint32_t CopyValue(std::u16string_view value, char16_t* buffer, std::uint32_t size) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return CopyText(value, buffer, size);
}

// Section names, each ended by a null, and a null after the last; when they do
// not fit, the last is cut so that both nulls fit and the answer is size - 2.
std::uint32_t CopySectionNames(std::u16string_view text, char16_t* buffer, std::uint32_t size) {
    buffer[0] = u'\0';
    if (size == 1) return 0;
    std::size_t pos = 0;
    std::size_t room = size - 1;  // pos + room == size - 1 throughout
    LineReader reader(text);
    Line line;
    while (reader.Next(line)) {
        if (!line.header || line.name.empty()) continue;
        const std::size_t need = line.name.size() + 1;
        if (need >= room) {
            std::copy_n(line.name.begin(), room - 1, buffer + pos);
            pos += room - 1;
            buffer[pos++] = u'\0';
            buffer[pos] = u'\0';
            return size - 2;
        }
        std::copy_n(line.name.begin(), line.name.size(), buffer + pos);
        pos += line.name.size();
        buffer[pos++] = u'\0';
        room -= need;
    }
    buffer[pos] = u'\0';
    return static_cast<std::uint32_t>(pos);
}

// The key names of the first section called `section`, in the section-name
// layout. Comment keys (";...") and lines without "=" are not listed, and a key
// with an empty name right after another is not a key at all. The answer is
// size - 2 once the remaining room falls to 2 or below.
std::uint32_t CopyKeyNames(std::u16string_view text, std::u16string_view section, char16_t* buffer,
                           std::uint32_t size) {
    LineReader reader(text);
    if (!SeekSection(reader, section)) {
        buffer[0] = u'\0';
        if (size >= 2) buffer[1] = u'\0';
        return 0;
    }
    std::size_t pos = 0;
    std::size_t room = size;  // pos + room == size throughout
    bool havePrevious = false;
    bool previousNameEmpty = false;
    Line line;
    while (reader.Next(line) && !line.header) {
        const bool isKey = line.rawNameLength != 0 || !havePrevious || !previousNameEmpty;
        if (!isKey) continue;
        havePrevious = true;
        previousNameEmpty = line.name.empty();
        if (room <= 2) break;
        if (!line.hasValue || line.comment) continue;
        const std::size_t count = std::min(line.name.size(), room - 2);
        std::copy_n(line.name.begin(), count, buffer + pos);
        buffer[pos + count] = u'\0';
        pos += count + 1;
        room -= count + 1;
        if (room < 2) break;
    }
    buffer[pos] = u'\0';
    if (room <= 1) {
        if (pos > 0) buffer[pos - 1] = u'\0';
        return size >= 2 ? size - 2 : 0;
    }
    return static_cast<std::uint32_t>(pos);
}

// A value read's default loses its trailing spaces, but never its first character.
std::u16string_view StripDefault(std::u16string_view value) {
    std::size_t end = value.size();
    while (end > 1 && value[end - 1] == u' ') --end;
    return value.substr(0, end);
}

}  // namespace

PortableProfileFiles::PortableProfileFiles(std::uint64_t maxFileBytes) : maxFileBytes_(maxFileBytes) {}

std::uint32_t PortableProfileFiles::GetPrivateProfileString(const char16_t* section, const char16_t* key,
                                                          const char16_t* defaultValue, char16_t* buffer,
                                                          std::uint32_t size, const std::u16string& path) {
    if (!buffer || size == 0) return 0;
    const std::u16string_view fallback = defaultValue ? std::u16string_view(defaultValue) : std::u16string_view();

    // A missing file reads as an empty one; any other failure to read it
    // (a directory, no access, too large) as no file at all.
    std::string bytes;
    long error = 0;
    const bool loaded = ReadBytes(path, maxFileBytes_, bytes, error);
    const bool readable = loaded || error == kErrorFileNotFound;
    const std::u16string text = loaded ? DecodeProfile(bytes) : std::u16string();

    if (!section) return CopySectionNames(text, buffer, size);

    if (!key) {
        std::uint32_t count = 0;
        if (readable) {
            count = CopyKeyNames(text, section, buffer, size);
        } else {
            buffer[0] = u'\0';
        }
        // An empty list (or one starting with an empty name) gives the default.
        if (buffer[0] == u'\0') count = CopyValue(fallback, buffer, size);
        return count;
    }

    const std::u16string_view stripped = StripDefault(fallback);
    if (!readable) return CopyText(stripped, buffer, size);
    LineReader reader(text);
    if (SeekSection(reader, TrimSpaces(section))) {
        const std::u16string_view wanted = TrimSpaces(key);
        Line line;
        while (reader.Next(line) && !line.header) {
            if (!line.comment && SameName(line.name, wanted)) {
                return CopyValue(line.hasValue ? line.value : stripped, buffer, size);
            }
        }
    }
    return CopyValue(stripped, buffer, size);
}

bool PortableProfileFiles::WritePrivateProfileString(const char16_t* section, const char16_t* key,
                                                     const char16_t* value, const std::u16string&) {
    if (!section && !key && !value) return true;
    return Fail(kErrorNotSupported);
}

std::uint32_t PortableProfileFiles::GetTempPath(std::uint32_t size, char16_t* buffer) {
    if (!buffer) size = 0;
    std::error_code ec;
    const fs::path directory = fs::temp_directory_path(ec);
    if (ec) return FailWith(kErrorPathNotFound, 0u);
    std::u16string text = FromPath(directory);
    if (text.size() > kMaxPath - 2) return FailWith(kErrorFilenameTooLong, 0u);
    if (!EndsWithSeparator(text)) text += static_cast<char16_t>(fs::path::preferred_separator);
    const auto needed = static_cast<std::uint32_t>(text.size() + 1);
    if (size < needed) {
        std::fill_n(buffer, size, u'\0');
        return needed;
    }
    std::copy(text.begin(), text.end(), buffer);
    // The rest of the buffer is cleared as well, up to the longest path.
    std::fill(buffer + text.size(), buffer + std::max(needed, std::min<std::uint32_t>(size, 32767)), u'\0');
    return needed - 1;
}

std::uint32_t PortableProfileFiles::GetFileAttributes(const std::u16string& path) {
    const Item item = Inspect(path);
    if (item.error != 0) return FailWith(item.error, kInvalidFileAttributes);
    return AttributesOf(item.status);
}

std::uintptr_t PortableProfileFiles::FindFirstFile(const std::u16string& pattern, std::uint32_t* attributes) {
    const std::u16string text = CutAtNull(pattern);
    // A name ending in a separator names no item in a search.
    if (EndsWithSeparator(text)) return FailWith(kErrorFileNotFound, kInvalidFindHandle);
    const Item item = Inspect(text);
    if (item.error != 0) return FailWith(item.error, kInvalidFindHandle);
    std::lock_guard<std::mutex> lock(findMutex_);
    if (nextFind_ == 0 || nextFind_ == kInvalidFindHandle) nextFind_ = 1;
    const std::uintptr_t handle = nextFind_++;
    openFinds_.insert(handle);
    if (attributes) *attributes = AttributesOf(item.status);
    return handle;
}

bool PortableProfileFiles::FindClose(std::uintptr_t handle) {
    std::lock_guard<std::mutex> lock(findMutex_);
    if (openFinds_.erase(handle) == 0) return Fail(kErrorInvalidHandle);
    return true;
}

bool PortableProfileFiles::DeleteFile(const std::u16string& path) {
    const Item item = Inspect(path);
    if (item.error != 0) return Fail(item.error);
    // Windows deletes neither directories nor read-only files.
    if ((AttributesOf(item.status) & (kFileAttributeDirectory | kFileAttributeReadOnly)) != 0)
        return Fail(kErrorAccessDenied);
    std::error_code ec;
    if (!fs::remove(ToPath(CutAtNull(path)), ec)) {
        return Fail(ec ? kErrorAccessDenied : kErrorFileNotFound);
    }
    return true;
}

long PortableProfileFiles::LastError() { return tLastError; }

bool PortableProfileFiles::ReadAllBytes(const std::u16string& path, std::string& bytes) {
    long error = 0;
    if (!ReadBytes(path, maxFileBytes_, bytes, error)) return Fail(error);
    return true;
}

std::uint32_t PortableProfileFiles::AnsiCharCount(const std::string& bytes) {
    return static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), 0xFFFFFFFFu));
}

}  // namespace velmora
