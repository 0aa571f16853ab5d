// The two substitutes the native tests and the fuzz targets need, for what the
// real functions cannot give: a registry that changes and fails under the scan's
// feet, and profile functions whose answers about a hand-off file the test
// chooses. Both note misuse the real ones would let pass.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "unitOrvUninstallClasses.h"

namespace velmora::testing {

// HKLM's Uninstall key and its subkeys; nothing else exists. Every call but
// RegCloseKey first runs onCall, which may remove keys, rewrite values or narrow
// rights. Counts as misuse a key opened for more than reading and a handle
// (or a root key) closed that is not open.
class SmallRegistry final : public IRegistry {
public:
    struct Value {
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    struct Key {
        std::u16string name;
        std::map<std::u16string, Value> values;
        std::uint32_t access = kKeyAllAccess;
        bool gone = false;
    };
    bool uninstallExists = true;
    std::uint32_t uninstallAccess = kKeyAllAccess;
    std::vector<Key> keys;
    std::function<void()> onCall;
    int misuse = 0;
    std::map<RegKey, std::pair<int, std::uint32_t>> handles;  // key index (-1: Uninstall), rights granted

    Key& Add(const std::u16string& name) { return keys.emplace_back(Key{name}); }
    Key* Find(const std::u16string& name) {
        const auto key = std::find_if(keys.begin(), keys.end(), [&](Key& k) { return !k.gone && k.name == name; });
        return key == keys.end() ? nullptr : &*key;
    }
    static void SetText(Key& key, const std::u16string& name, const std::u16string& text) {
        std::vector<std::uint8_t> bytes;
        for (const char16_t c : text + u'\0') bytes.insert(bytes.end(), {std::uint8_t(c & 0xFF), std::uint8_t(c >> 8)});
        key.values[name] = {kRegSz, std::move(bytes)};
    }

    long RegOpenKeyExW(RegKey parent, const std::u16string& subKey, std::uint32_t sam, RegKey* result) override {
        if (onCall) onCall();
        const std::uint32_t views = kKeyWow64_32Key | kKeyWow64_64Key;
        misuse += (sam & ~(kKeyRead | views)) != 0;
        // From HKLM the Uninstall key; from the open Uninstall key an entry, by its name.
        const auto from = handles.find(parent);
        const bool fromUninstall = from != handles.end() && from->second.first < 0;
        if (fromUninstall && !uninstallExists) return kErrorKeyDeleted;
        const bool isRoot = parent == kHKeyLocalMachine && subKey == kUninstallKeyPath + 1;
        const Key* key = fromUninstall ? Find(subKey) : nullptr;
        if (!uninstallExists || (!isRoot && !key)) return kErrorFileNotFound;
        if (sam & ~views & ~(isRoot ? uninstallAccess : key->access)) return kErrorAccessDenied;
        handles[*result = static_cast<RegKey>(next_ += 4)] = {isRoot ? -1 : static_cast<int>(key - keys.data()), sam};
        return kErrorSuccess;
    }
    long RegQueryInfoKeyW(RegKey key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) override {
        std::vector<const Key*> live;
        const long rc = Listing(key, kKeyQueryValue, live);
        if (subKeys) *subKeys = static_cast<std::uint32_t>(live.size());
        if (maxSubKeyLen) *maxSubKeyLen = 0;
        for (const Key* k : live) *maxSubKeyLen = std::max<std::uint32_t>(*maxSubKeyLen, k->name.size());
        return rc;
    }
    long RegEnumKeyExW(RegKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLen) override {
        std::vector<const Key*> live;
        if (const long rc = Listing(key, kKeyEnumerateSubKeys, live)) return rc;
        if (index >= live.size()) return kErrorNoMoreItems;
        const std::u16string& text = live[index]->name;
        if (text.size() >= *nameLen) return kErrorMoreData;
        *std::copy(text.begin(), text.end(), name) = u'\0';
        *nameLen = static_cast<std::uint32_t>(text.size());
        return kErrorSuccess;
    }
    long RegQueryValueExW(RegKey key, const std::u16string& valueName, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* dataSize) override {
        int index = -1;
        if (const long rc = Opened(key, kKeyQueryValue, index)) return rc;
        if (index < 0 || !keys[index].values.count(valueName)) return kErrorFileNotFound;
        const Value& value = keys[index].values.at(valueName);
        const auto size = static_cast<std::uint32_t>(value.data.size());
        if (type) *type = value.type;
        if (data && *dataSize < size) return *dataSize = size, kErrorMoreData;
        if (data && size) std::memcpy(data, value.data.data(), size);
        if (dataSize) *dataSize = size;
        return kErrorSuccess;
    }
    long RegCloseKey(RegKey key) override {
        return handles.erase(key) ? kErrorSuccess : (++misuse, kErrorInvalidHandle);
    }

private:
    long Opened(RegKey key, std::uint32_t right, int& index) {
        if (onCall) onCall();
        const auto handle = handles.find(key);
        if (handle == handles.end()) return kErrorInvalidHandle;
        if (!(handle->second.second & right)) return kErrorAccessDenied;
        index = handle->second.first;
        return (index < 0 ? !uninstallExists : keys[index].gone) ? kErrorKeyDeleted : kErrorSuccess;
    }
    long Listing(RegKey key, std::uint32_t right, std::vector<const Key*>& live) {
        int index = 0;
        const long rc = Opened(key, right, index);
        for (const Key& k : keys)
            if (rc == kErrorSuccess && index < 0 && !k.gone) live.push_back(&k);
        return rc;
    }
    std::uintptr_t next_ = 0x1000;
};

// A hand-off file described by what the functions answer about it: its sections
// and values as stored (the section functions answer as the Windows ones do), its bytes
// as a measurement reads them, its attributes. Counts deletions, cache flushes
// and searches left open.
class ScriptedFiles final : public IProfileFiles {
public:
    using Values = std::vector<std::pair<std::u16string, std::u16string>>;
    std::vector<std::pair<std::u16string, Values>> sections;
    bool readable = true;
    std::string bytes;
    std::uint32_t ansiChars = 0;
    std::uint32_t attributes = 0;  // kInvalidFileAttributes: error says why
    long error = kErrorFileNotFound;
    bool searchFinds = true;
    std::uint32_t foundAttributes = 0;
    int deletions = 0, flushes = 0, openSearches = 0;

    // The values of the first section of that name (none when there is none).
    Values Section(const std::u16string& name) const {
        const auto found =
            std::find_if(sections.begin(), sections.end(), [&](const auto& s) { return s.first == name; });
        return found == sections.end() ? Values{} : found->second;
    }
    std::uint32_t GetPrivateProfileSectionNamesW(char16_t* buffer, std::uint32_t size, const std::u16string&) override {
        std::u16string text;
        for (const auto& s : sections) text += s.first + u'\0';
        return Place(text, buffer, size);
    }
    std::uint32_t GetPrivateProfileSectionW(const char16_t* section, char16_t* buffer, std::uint32_t size,
                                            const std::u16string&) override {
        std::u16string text;
        for (const auto& [key, value] : Section(section)) text += key + u'=' + value + u'\0';
        return Place(text, buffer, size);
    }
    bool WritePrivateProfileStringW(const char16_t* s, const char16_t* k, const char16_t* v,
                                    const std::u16string&) override {
        return flushes += !s && !k && !v, true;
    }
    std::uint32_t GetTempPathW(std::uint32_t, char16_t* buffer) override {
        return *std::copy_n(u"C:\\Temp\\", 8, buffer) = 0, 8;
    }
    std::uint32_t GetFileAttributesW(const std::u16string&) override { return attributes; }
    FindHandle FindFirstFileW(const std::u16string&, std::uint32_t* found) override {
        return searchFinds ? (*found = foundAttributes, static_cast<FindHandle>(++openSearches)) : kInvalidFindHandle;
    }
    bool FindClose(FindHandle) override { return --openSearches, true; }
    bool DeleteFileW(const std::u16string&) override { return ++deletions, true; }
    long GetLastError() override { return error; }
    bool ReadAllBytes(const std::u16string&, std::string& out) override { return out = bytes, readable; }
    std::uint32_t AnsiCharCount(const std::string&) override { return ansiChars; }

private:
    // Null-ended strings; a list that does not fit is cut to size - 2 and doubly ended.
    static std::uint32_t Place(const std::u16string& text, char16_t* buffer, std::uint32_t size) {
        auto placed = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), size - 1));
        if (text.size() + 1 > size) placed = size - 2;
        *std::copy(text.begin(), text.begin() + placed, buffer) = u'\0';
        buffer[std::min(placed + 1, size - 1)] = u'\0';
        return placed;
    }
};

}  // namespace velmora::testing
