#include "unitOrvUninstallClasses.h"

#include <algorithm>
#include <utility>

namespace velmora {

const char16_t kUninstallKeyPath[] = u"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

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
    throw ERegistryException(FormatMessage(pattern, name));
}

// The text of a character buffer up to its first null, or all of it.
std::u16string TextUpToNull(const char16_t* chars, std::size_t count) {
    const char16_t* end = std::find(chars, chars + count, u'\0');
    return std::u16string(chars, end);
}

}  // namespace

// ---------------------------------------------------------------------------
// TOrvUninstallList

void TOrvUninstallList::Add(std::unique_ptr<TOrvUninstallInfo> entry) {
    items_.push_back(std::move(entry));
}

void TOrvUninstallList::Clear() noexcept {
    while (!items_.empty()) items_.pop_back();
}

// ---------------------------------------------------------------------------
// RegistryReader

RegistryReader::~RegistryReader() { CloseCurrentKey(); }

void RegistryReader::CloseCurrentKey() noexcept {
    if (currentKey_ != 0) {
        registry_.CloseKey(currentKey_);
        currentKey_ = 0;
        currentPath_.clear();
    }
}

bool RegistryReader::OpenKeyReadOnly(const std::u16string& path) {
    const bool fromRoot = !path.empty() && path[0] == u'\\';
    const bool relativeToCurrent = !fromRoot && currentKey_ != 0;
    const std::u16string subKey = fromRoot ? path.substr(1) : path;
    const RegKey parent = relativeToCurrent ? currentKey_ : rootKey_;

    for (const std::uint32_t mask : kOpenMasks) {
        RegKey opened = 0;
        if (registry_.OpenKey(parent, subKey, mask, &opened) != kErrorSuccess) continue;
        std::u16string newPath = relativeToCurrent ? currentPath_ + u"\\" + path : subKey;
        CloseCurrentKey();
        currentKey_ = opened;
        currentPath_ = std::move(newPath);
        return true;
    }
    return false;
}

void RegistryReader::GetKeyNames(std::vector<std::u16string>& list) {
    list.clear();
    std::uint32_t count = 0;
    std::uint32_t longest = 0;
    if (registry_.QueryInfoKey(currentKey_, &count, &longest) != kErrorSuccess) return;

    std::vector<char16_t> buffer(static_cast<std::size_t>(longest) + 1);
    for (std::uint32_t index = 0; index < count; ++index) {
        std::fill(buffer.begin(), buffer.end(), u'\0');
        auto length = static_cast<std::uint32_t>(buffer.size());
        // A subkey removed or renamed since the count fails here; its index is
        // skipped rather than adding a name the registry did not give.
        if (registry_.EnumKey(currentKey_, index, buffer.data(), &length) != kErrorSuccess) continue;
        list.push_back(TextUpToNull(buffer.data(), std::min<std::size_t>(length, buffer.size())));
    }
}

std::u16string RegistryReader::ReadString(const std::u16string& name) {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (registry_.QueryValue(currentKey_, name, &type, nullptr, &size) != kErrorSuccess || size == 0) {
        return {};
    }

    // Room for every whole character of the data plus a null. An odd last byte
    // still fits, but it is no character of the text and is dropped.
    const std::size_t chars = size / 2;
    std::vector<char16_t> buffer(chars + 1, u'\0');
    std::uint32_t read = size;
    if (registry_.QueryValue(currentKey_, name, &type, reinterpret_cast<std::uint8_t*>(buffer.data()),
                             &read) != kErrorSuccess) {
        RaiseRegistryError(kFailedToGetData, name);
    }
    if (type != kRegSz && type != kRegExpandSz) RaiseRegistryError(kInvalidDataType, name);
    return TextUpToNull(buffer.data(), std::min<std::size_t>(read, size) / 2);
}

std::int32_t RegistryReader::ReadInteger(const std::u16string& name) {
    std::uint8_t data[4] = {0, 0, 0, 0};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    if (registry_.QueryValue(currentKey_, name, &type, data, &size) != kErrorSuccess) {
        RaiseRegistryError(kFailedToGetData, name);
    }
    if (type != kRegDword) RaiseRegistryError(kInvalidDataType, name);
    // Little-endian; bytes missing from shorter data stay zero.
    const std::uint32_t value = static_cast<std::uint32_t>(data[0]) |
                                static_cast<std::uint32_t>(data[1]) << 8 |
                                static_cast<std::uint32_t>(data[2]) << 16 |
                                static_cast<std::uint32_t>(data[3]) << 24;
    return static_cast<std::int32_t>(value);
}

bool RegistryReader::ValueExists(const std::u16string& name) {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    return registry_.QueryValue(currentKey_, name, &type, nullptr, &size) == kErrorSuccess;
}

bool IsRemovable(RegistryReader& reader) {
    if (reader.ValueExists(u"NoRemove") && reader.ReadInteger(u"NoRemove") == 1) return false;
    if (!reader.ValueExists(u"SystemComponent")) return true;
    return reader.ReadInteger(u"SystemComponent") != 1;
}

// ---------------------------------------------------------------------------
// TOrvUninstallReader

TOrvUninstallReader::TOrvUninstallReader(IRegistry& registry) : registry_(registry) {
    // Should the scan fail, Entries is destroyed with this half-built object and
    // frees what was appended so far.
    Refresh();
}

TOrvUninstallReader::~TOrvUninstallReader() { Clear(); }

void TOrvUninstallReader::Clear() noexcept { Entries.Clear(); }

void TOrvUninstallReader::Refresh() {
    Clear();

    std::unique_ptr<std::vector<std::u16string>> names;
    {
        RegistryReader listing(registry_, kHKeyLocalMachine);
        if (listing.OpenKeyReadOnly(kUninstallKeyPath)) {
            names = std::make_unique<std::vector<std::u16string>>();
            listing.GetKeyNames(*names);
        }
    }
    if (!names) return;

    const std::u16string entryPrefix = std::u16string(kUninstallKeyPath) + u"\\";
    // Declared after the name list, so it closes its key before the list goes.
    RegistryReader entryReader(registry_, kHKeyLocalMachine);
    for (const std::u16string& name : *names) {
        if (!entryReader.OpenKeyReadOnly(entryPrefix + name)) continue;
        std::u16string commandLine = entryReader.ReadString(u"UninstallString");
        if (commandLine.empty()) continue;
        if (!IsRemovable(entryReader)) continue;

        auto entry = std::make_unique<TOrvUninstallInfo>();
        entry->Comments = entryReader.ReadString(u"Comments");
        entry->DisplayIcon = entryReader.ReadString(u"DisplayIcon");
        entry->DisplayName = entryReader.ReadString(u"DisplayName");
        if (entry->DisplayName.empty()) entry->DisplayName = name;
        entry->Publisher = entryReader.ReadString(u"Publisher");
        entry->KeyName = name;
        entry->UninstallString = std::move(commandLine);
        Entries.Add(std::move(entry));
    }
}

}  // namespace velmora
