// The inventory: uninstall entries, the list that owns them, the registry scan
// that fills it and the 64-bit hand-off file that adds to it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ProfileFiles.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/UniqueAny.h"

namespace velmora {

// One piece of installed software as Velmora knows it. Every field holds the
// text its source gave, untouched.
class TOrvUninstallInfo {
public:
    std::u16string Comments;
    std::u16string DisplayIcon;
    std::u16string DisplayName;
    std::u16string Publisher;
    std::u16string KeyName;
    std::u16string UninstallString;
};

// The ordered list of entries an inventory owns. Entries are freed from the last
// to the first, whether by Clear or when the list itself goes.
class TOrvUninstallList {
public:
    TOrvUninstallList() = default;
    TOrvUninstallList(const TOrvUninstallList&) = delete;
    TOrvUninstallList& operator=(const TOrvUninstallList&) = delete;
    ~TOrvUninstallList() { Clear(); }

    std::size_t Count() const noexcept { return items_.size(); }
    TOrvUninstallInfo* operator[](std::size_t index) const { return items_.at(index).get(); }
    // Appends an entry and takes it over.
    void Add(std::unique_ptr<TOrvUninstallInfo> entry);
    void Clear() noexcept;

private:
    std::vector<std::unique_ptr<TOrvUninstallInfo>> items_;
};

class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// Closes a key of the registry seam through it.
class TRegKeyCloser : public no_last_error {
public:
    explicit TRegKeyCloser(IRegistry& registry) noexcept : registry_(&registry) {}
    void operator()(RegKey key) const noexcept { registry_->RegCloseKey(key); }

private:
    IRegistry* registry_;
};
using unique_regkey = unique_any<RegKey, TRegKeyCloser>;

// Read-only access to one key at a time below a root key. It only ever opens,
// reads and closes keys.
class RegistryReader {
public:
    RegistryReader(IRegistry& registry, RegKey rootKey)
        : registry_(registry), rootKey_(rootKey), currentKey_(RegKey{}, TRegKeyCloser(registry)) {}
    RegistryReader(const RegistryReader&) = delete;
    RegistryReader& operator=(const RegistryReader&) = delete;

    // A path beginning with a backslash is taken from the root; any other path
    // from the current key, or from the root when none is open. On success the
    // key becomes current; on failure the current key stays as it was.
    bool OpenKeyReadOnly(const std::u16string& path);
    // The names of the current key's immediate subkeys, in enumeration order.
    void GetKeyNames(std::vector<std::u16string>& list);
    // Text of a REG_SZ or REG_EXPAND_SZ value (unexpanded); empty when the value
    // is missing or has no data.
    std::u16string ReadString(const std::u16string& name);
    // A REG_DWORD value as a signed number.
    std::int32_t ReadInteger(const std::u16string& name);
    bool ValueExists(const std::u16string& name);
    // ValueExists, then ReadInteger when it does: nothing for a missing value.
    std::optional<std::int32_t> ReadFlag(const std::u16string& name);

    RegKey CurrentKey() const noexcept { return currentKey_.get(); }

private:
    // ReadString in two queries: the size, then the data.
    std::u16string ReadMeasuredString(const std::u16string& name);

    IRegistry& registry_;
    RegKey rootKey_;
    unique_regkey currentKey_;
};

// Whether the current entry key of the reader may be offered for removal:
// neither "NoRemove" nor "SystemComponent" equals 1.
bool IsRemovable(RegistryReader& reader);

// The Uninstall key below a root, open for reading while the listing lives, and
// its subkey names in enumeration order. Entry keys are opened relative to it:
// one step for the registry instead of the whole path for every entry.
class TUninstallKeyListing {
public:
    TUninstallKeyListing(IRegistry& registry, RegKey rootKey);
    const std::vector<std::u16string>& Names() const noexcept { return names_; }
    // A reader of the entry keys, which it opens by their names alone (none
    // when the Uninstall key could not be opened, as there are no names then).
    RegistryReader EntryReader() const { return RegistryReader(registry_, listing_.CurrentKey()); }

private:
    IRegistry& registry_;
    RegistryReader listing_;
    std::vector<std::u16string> names_;
};

// Opens the entry key of that name with a listing's entry reader and reads it:
// null when the name is passed over (the key does not open, has no command
// line or is not removable). Registry errors pass on as ERegistryException.
std::unique_ptr<TOrvUninstallInfo> ReadUninstallEntry(RegistryReader& reader, const std::u16string& name);

// The temporary directory with its trailing separator, or empty text.
std::u16string GetTempDirectory(IProfileFiles& files = SystemProfileFiles());

// The inventory. Constructing it scans the registry; if that scan fails, the
// entries read so far are freed and the error passes on.
class TOrvUninstallReader {
public:
    explicit TOrvUninstallReader(IRegistry& registry = SystemRegistry(), IProfileFiles& files = SystemProfileFiles());
    TOrvUninstallReader(const TOrvUninstallReader&) = delete;
    TOrvUninstallReader& operator=(const TOrvUninstallReader&) = delete;
    virtual ~TOrvUninstallReader();

    void Clear() noexcept;
    // Empties the inventory and rebuilds it from the per-machine Uninstall key.
    void Refresh();
    // Appends one entry per section of the hand-off file, in file order, then
    // deletes the file. If loading fails, the entries appended so far stay and
    // the file is kept.
    void LoadFromHandOffFile();
    std::u16string GetHandOffFilePath() const;

    TOrvUninstallList Entries;

private:
    IRegistry& registry_;
    IProfileFiles& files_;
};

extern const char16_t kUninstallKeyPath[];
extern const char16_t kHandOffFileName[];

}  // namespace velmora
