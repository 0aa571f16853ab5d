#include "unitOrvUninstallClasses.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace velmora {

const char16_t kUninstallKeyPath[] = u"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char16_t kHandOffFileName[] = u"OrvUninstall.ini";

namespace {

const char16_t kInvalidDataType[] = u"Invalid data type for '%s'";
const char16_t kFailedToGetData[] = u"Failed to get data for '%s'";

// Tried in this order: full read access, then without change notification, then
// values only, so that a key with narrowed rights still opens.
constexpr std::uint32_t kOpenMasks[] = {
    kKeyRead,
    kStandardRightsRead | kKeyQueryValue | kKeyEnumerateSubKeys,
    kKeyQueryValue,
};

[[noreturn]] void RaiseRegistryError(const char16_t* pattern, const std::u16string& name) {
    throw ERegistryException(FormatWithArgument(pattern, name));
}

// Characters a value may have to be read in one query.
constexpr std::size_t kProbeChars = 260;

// A number from four little-endian bytes; bytes missing from shorter data are zero.
std::int32_t LittleEndian(const std::uint8_t (&data)[4]) {
    const std::uint32_t value = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                                static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    return static_cast<std::int32_t>(value);
}

// The text of a character buffer up to its first null, or all of it.
std::u16string TextUpToNull(const char16_t* chars, std::size_t count) {
    const char16_t* end = std::find(chars, chars + count, u'\0');
    return std::u16string(chars, end);
}

}  // namespace

// ---------------------------------------------------------------------------
// TOrvUninstallList

void TOrvUninstallList::Add(std::unique_ptr<TOrvUninstallInfo> entry) { items_.push_back(std::move(entry)); }

void TOrvUninstallList::Clear() noexcept {
    while (!items_.empty()) items_.pop_back();
}

// ---------------------------------------------------------------------------
// RegistryReader

bool RegistryReader::OpenKeyReadOnly(const std::u16string& path) {
    const bool fromRoot = !path.empty() && path[0] == u'\\';
    const bool relativeToCurrent = !fromRoot && currentKey_;
    const std::u16string subKey = fromRoot ? path.substr(1) : path;
    const RegKey parent = relativeToCurrent ? currentKey_.get() : rootKey_;

    for (const std::uint32_t mask : kOpenMasks) {
        RegKey opened{};
        if (registry_.RegOpenKeyExW(parent, subKey, mask, &opened) != kErrorSuccess) continue;
        currentKey_.reset(opened);
        return true;
    }
    return false;
}

void RegistryReader::GetKeyNames(std::vector<std::u16string>& list) {
    list.clear();
    std::uint32_t count = 0;
    std::uint32_t longest = 0;
    if (registry_.RegQueryInfoKeyW(currentKey_.get(), &count, &longest) != kErrorSuccess) return;

    std::vector<char16_t> buffer(static_cast<std::size_t>(longest) + 1);
    for (std::uint32_t index = 0; index < count; ++index) {
        std::fill(buffer.begin(), buffer.end(), u'\0');
        auto length = static_cast<std::uint32_t>(buffer.size());
        // A subkey removed or renamed since the count fails here; its index is
        // skipped rather than adding a name the registry did not give.
        if (registry_.RegEnumKeyExW(currentKey_.get(), index, buffer.data(), &length) != kErrorSuccess) continue;
        const auto nameEnd = buffer.begin() + std::min<std::size_t>(length, buffer.size());
        // A name with a null inside (the native API can make one) cannot be
        // opened by name: cut at the null it would open another key.
        if (std::find(buffer.begin(), nameEnd, u'\0') != nameEnd) continue;
        list.emplace_back(buffer.begin(), nameEnd);
    }
}

std::u16string RegistryReader::ReadString(const std::u16string& name) {
    // One query into a buffer that holds most values. A value that does not fit,
    // or that this query cannot read, is measured and read in two steps.
    char16_t probe[kProbeChars + 1] = {};
    std::uint32_t type = 0;
    std::uint32_t size = kProbeChars * 2;
    const long rc =
        registry_.RegQueryValueExW(currentKey_.get(), name, &type, reinterpret_cast<std::uint8_t*>(probe), &size);
    if (rc == kErrorFileNotFound) return {};
    if (rc != kErrorSuccess) return ReadMeasuredString(name);
    if (size == 0) return {};
    if (type != kRegSz && type != kRegExpandSz) RaiseRegistryError(kInvalidDataType, name);
    return TextUpToNull(probe, std::min<std::size_t>(size, kProbeChars * 2) / 2);
}

std::u16string RegistryReader::ReadMeasuredString(const std::u16string& name) {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (registry_.RegQueryValueExW(currentKey_.get(), name, &type, nullptr, &size) != kErrorSuccess || size == 0) {
        return {};
    }

    // Room for every whole character of the data plus a null. An odd last byte
    // still fits, but it is no character of the text and is dropped.
    const std::size_t chars = size / 2;
    std::vector<char16_t> buffer(chars + 1, u'\0');
    std::uint32_t read = size;
    if (registry_.RegQueryValueExW(currentKey_.get(), name, &type, reinterpret_cast<std::uint8_t*>(buffer.data()),
                                   &read) != kErrorSuccess) {
        RaiseRegistryError(kFailedToGetData, name);
    }
    if (type != kRegSz && type != kRegExpandSz) RaiseRegistryError(kInvalidDataType, name);
    return TextUpToNull(buffer.data(), std::min<std::size_t>(read, size) / 2);
}

std::optional<std::int32_t> RegistryReader::ReadFlag(const std::u16string& name) {
    // One query for both the test and the read; anything but a value that reads
    // or one that is missing takes the two steps.
    std::uint8_t data[4] = {0, 0, 0, 0};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    const long rc = registry_.RegQueryValueExW(currentKey_.get(), name, &type, data, &size);
    if (rc == kErrorFileNotFound) return std::nullopt;
    if (rc != kErrorSuccess) {
        if (!ValueExists(name)) return std::nullopt;
        return ReadInteger(name);
    }
    if (type != kRegDword) RaiseRegistryError(kInvalidDataType, name);
    return LittleEndian(data);
}

std::int32_t RegistryReader::ReadInteger(const std::u16string& name) {
    std::uint8_t data[4] = {0, 0, 0, 0};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    if (registry_.RegQueryValueExW(currentKey_.get(), name, &type, data, &size) != kErrorSuccess) {
        RaiseRegistryError(kFailedToGetData, name);
    }
    if (type != kRegDword) RaiseRegistryError(kInvalidDataType, name);
    return LittleEndian(data);
}

bool RegistryReader::ValueExists(const std::u16string& name) {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    return registry_.RegQueryValueExW(currentKey_.get(), name, &type, nullptr, &size) == kErrorSuccess;
}

bool IsRemovable(RegistryReader& reader) {
    const std::optional<std::int32_t> noRemove = reader.ReadFlag(u"NoRemove");
    if (noRemove && *noRemove == 1) return false;
    const std::optional<std::int32_t> systemComponent = reader.ReadFlag(u"SystemComponent");
    return !systemComponent || *systemComponent != 1;
}

TUninstallKeyListing::TUninstallKeyListing(IRegistry& registry, RegKey rootKey)
    : registry_(registry), listing_(registry, rootKey) {
    if (listing_.OpenKeyReadOnly(kUninstallKeyPath)) listing_.GetKeyNames(names_);
}

std::unique_ptr<TOrvUninstallInfo> ReadUninstallEntry(RegistryReader& reader, const std::u16string& name) {
    // From the reader's root, the Uninstall key: the name alone.
    if (!reader.OpenKeyReadOnly(u"\\" + name)) return nullptr;
    std::u16string commandLine = reader.ReadString(u"UninstallString");
    if (commandLine.empty()) return nullptr;
    if (!IsRemovable(reader)) return nullptr;

    auto entry = std::make_unique<TOrvUninstallInfo>();
    entry->Comments = reader.ReadString(u"Comments");
    entry->DisplayIcon = reader.ReadString(u"DisplayIcon");
    entry->DisplayName = reader.ReadString(u"DisplayName");
    if (entry->DisplayName.empty()) entry->DisplayName = name;
    entry->Publisher = reader.ReadString(u"Publisher");
    entry->KeyName = name;
    entry->UninstallString = std::move(commandLine);
    return entry;
}

// ---------------------------------------------------------------------------
// TOrvUninstallReader

TOrvUninstallReader::TOrvUninstallReader(IRegistry& registry, IProfileFiles& files)
    : registry_(registry), files_(files) {
    // Should the scan fail, Entries is destroyed with this half-built object and
    // frees what was appended so far.
    Refresh();
}

TOrvUninstallReader::~TOrvUninstallReader() { Clear(); }

void TOrvUninstallReader::Clear() noexcept { Entries.Clear(); }

void TOrvUninstallReader::Refresh() {
    Clear();

    const TUninstallKeyListing listing(registry_, kHKeyLocalMachine);
    // Declared after the listing, so it closes its entry key before the
    // Uninstall key is closed.
    RegistryReader entryReader = listing.EntryReader();
    for (const std::u16string& name : listing.Names()) {
        if (auto entry = ReadUninstallEntry(entryReader, name)) Entries.Add(std::move(entry));
    }
}

// ---------------------------------------------------------------------------
// The hand-off file

std::u16string GetTempDirectory(IProfileFiles& files) {
    // Empty when the call fails: the buffer is then left as it was.
    char16_t buffer[261] = {};
    files.GetTempPathW(260, buffer);
    return TextUpToNull(buffer, 260);
}

std::u16string TOrvUninstallReader::GetHandOffFilePath() const { return GetTempDirectory(files_) + kHandOffFileName; }

namespace {

constexpr std::uint32_t kSectionNamesBuffer = 16384;
constexpr std::uint32_t kSectionBuffer = 16384;
// The buffer each value had when it was read with one GetPrivateProfileStringW
// call: it sets where a value is cut.
constexpr std::uint32_t kValueBuffer = 2048;
const char16_t kCannotReadFile[] = u"Cannot read the file '%s'";

// What the profile functions take for a blank at either end of a name or value.
bool IsProfileBlank(char16_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == u' '; }

std::u16string_view TrimmedOfBlanks(std::u16string_view text) {
    while (!text.empty() && IsProfileBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsProfileBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Key names match as the profile functions match them: A-Z as a-z, nothing else
// folded.
bool IsKeyName(std::u16string_view name, std::u16string_view key) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    return name.size() == key.size() && std::equal(name.begin(), name.end(), key.begin(),
                                                   [&](char16_t a, char16_t b) { return lower(a) == lower(b); });
}

// A value as GetPrivateProfileStringW gives it into kValueBuffer characters: a
// matching pair of enclosing quotes (double or single) dropped, cut to
// kValueBuffer - 1. The function drops the last character for the closing quote
// whenever the text after the opening one is no longer than the buffer, so a
// quoted value of exactly kValueBuffer - 1 characters loses its last one.
std::u16string ProfileValue(std::u16string_view value) {
    const bool quoted = value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0];
    if (quoted) value.remove_prefix(1);
    std::u16string_view kept = value.substr(0, kValueBuffer - 1);
    if (quoted && value.size() <= kValueBuffer) kept.remove_suffix(1);
    return std::u16string(kept);
}

// A profile file opened for reading. Opening only records the path; closing
// flushes the platform's cached copy of the file.
class TProfileFileReader {
public:
    TProfileFileReader(IProfileFiles& files, std::u16string path) : files_(files), path_(std::move(path)) {}
    TProfileFileReader(const TProfileFileReader&) = delete;
    TProfileFileReader& operator=(const TProfileFileReader&) = delete;
    ~TProfileFileReader() { files_.WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_); }

    void ReadSections(std::vector<std::u16string>& names) {
        names.clear();
        std::vector<char16_t> buffer(kSectionNamesBuffer);
        std::uint32_t placed = ReadSectionNames(buffer);
        // size - 2 is the sign that the names did not fit: measure the file and ask
        // again with room for as many characters as it holds.
        if (placed == kSectionNamesBuffer - 2) {
            buffer.assign(MeasuredCharacters(), u'\0');
            placed = ReadSectionNames(buffer);
        }
        if (placed == 0) return;
        const std::size_t end = std::min<std::size_t>(placed, buffer.size());
        std::size_t start = 0;
        while (start < end) {
            const std::size_t stop = std::find(buffer.begin() + start, buffer.begin() + end, u'\0') - buffer.begin();
            if (stop == start) break;
            names.emplace_back(buffer.begin() + start, buffer.begin() + stop);
            start = stop + 1;
        }
    }

    // The five values of one section, read whole with one call and looked up as
    // GetPrivateProfileStringW looks a key up: the first line of the key's name
    // gives the value, empty when that line has no '='.
    void ReadEntry(const std::u16string& section, TOrvUninstallInfo& entry) {
        static const char16_t* const kKeys[] = {u"Comment", u"DisplayIcon", u"DisplayName", u"Publisher",
                                                u"UninstallString"};
        std::u16string* const fields[] = {&entry.Comments, &entry.DisplayIcon, &entry.DisplayName, &entry.Publisher,
                                          &entry.UninstallString};
        bool found[5] = {};
        const std::u16string_view all(lines_.data(), ReadSectionLines(section));
        for (std::size_t start = 0; start < all.size();) {
            const std::u16string_view line = all.substr(start, all.find(u'\0', start) - start);
            start += line.size() + 1;
            const std::size_t equals = line.find(u'=');
            const std::u16string_view name = TrimmedOfBlanks(line.substr(0, equals));
            for (int k = 0; k < 5; ++k) {
                if (found[k] || !IsKeyName(name, kKeys[k])) continue;
                found[k] = true;
                if (equals != std::u16string_view::npos)
                    *fields[k] = ProfileValue(TrimmedOfBlanks(line.substr(equals + 1)));
            }
        }
    }

private:
    // The section's lines into lines_, which grows until they fit: the number of characters placed.
    std::uint32_t ReadSectionLines(const std::u16string& section) {
        for (;;) {
            const auto size = static_cast<std::uint32_t>(lines_.size());
            const std::uint32_t placed = files_.GetPrivateProfileSectionW(section.c_str(), lines_.data(), size, path_);
            // size - 2: the lines did not fit, or just filled the buffer.
            if (placed != size - 2 || size >= (1u << 30)) return std::min(placed, size);
            lines_.assign(std::size_t{size} * 2, u'\0');
        }
    }

    std::uint32_t ReadSectionNames(std::vector<char16_t>& buffer) {
        if (buffer.size() < 2) return 0;
        return files_.GetPrivateProfileSectionNamesW(buffer.data(), static_cast<std::uint32_t>(buffer.size()), path_);
    }

    std::size_t MeasuredCharacters() {
        std::string bytes;
        if (!files_.ReadAllBytes(path_, bytes)) throw Exception(FormatWithArgument(kCannotReadFile, path_));
        const bool utf16 = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                           static_cast<unsigned char>(bytes[1]) == 0xFE;
        return utf16 ? bytes.size() / 2 : files_.AnsiCharCount(bytes);
    }

    IProfileFiles& files_;
    std::u16string path_;
    std::vector<char16_t> lines_ = std::vector<char16_t>(kSectionBuffer);
};

// Ends a search of the profile seam through it; nothing is read after it.
class TFindCloser : public no_last_error {
public:
    explicit TFindCloser(IProfileFiles& files) noexcept : files_(&files) {}
    void operator()(FindHandle search) const noexcept { files_->FindClose(search); }

private:
    IProfileFiles* files_;
};

// Whether the path names an existing file (not a directory). Errors other than
// "not found" and "invalid name" (a sharing violation, say) are settled by a
// directory search, which works on files held open by others.
bool HandOffFileExists(IProfileFiles& files, const std::u16string& path) {
    const std::uint32_t attributes = files.GetFileAttributesW(path);
    if (attributes != kInvalidFileAttributes) return (attributes & kFileAttributeDirectory) == 0;
    const long error = files.GetLastError();
    if (error == kErrorFileNotFound || error == kErrorPathNotFound || error == kErrorInvalidName) return false;
    std::uint32_t found = 0;
    const unique_any<FindHandle, TFindCloser, -1> search(files.FindFirstFileW(path, &found), TFindCloser(files));
    return search && (found & kFileAttributeDirectory) == 0;
}

}  // namespace

void TOrvUninstallReader::LoadFromHandOffFile() {
    const std::u16string path = GetHandOffFilePath();
    {
        TProfileFileReader reader(files_, path);
        // Declared after the reader, so the names go first and then the reader.
        std::vector<std::u16string> sections;
        reader.ReadSections(sections);
        for (const std::u16string& section : sections) {
            auto entry = std::make_unique<TOrvUninstallInfo>();
            reader.ReadEntry(section, *entry);
            Entries.Add(std::move(entry));
        }
    }
    // Only a load that completed removes the file; a failed deletion is ignored
    // and the file is merged again next time.
    if (HandOffFileExists(files_, path)) files_.DeleteFileW(path);
}

}  // namespace velmora
