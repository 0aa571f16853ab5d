// The registry scan over an in-memory registry built from the input: Uninstall
// subkeys with arbitrary names, values of any name, type and raw bytes, keys that
// grant only some rights, and changes made under the scan's feet at chosen calls.
// On every input:
//   - the only error is ERegistryException, saying "Invalid data type for 'X'" or
//     "Failed to get data for 'X'" with X one of the values the scan reads;
//   - every entry has an UninstallString, and the entries' key names follow the
//     names the enumeration gave, in order;
//   - no key handle is left open;
// and when nothing changed during the scan and it succeeded: every field holds
// its value's text untouched, and every key that plainly qualifies is listed.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/MemoryRegistry.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::fuzz {
namespace {

const std::u16string kUninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

const char16_t* const kReadValues[] = {u"UninstallString", u"NoRemove",    u"SystemComponent", u"Comments",
                                       u"DisplayIcon",     u"DisplayName", u"Publisher"};

// Forwards to a registry that can be switched, and records the subkey names the
// enumeration of the Uninstall key gave, in the order it gave them.
class RecordingRegistry final : public IRegistry {
public:
    explicit RecordingRegistry(IRegistry& target) : target_(&target) {}
    void SetTarget(IRegistry& target) { target_ = &target; }
    const std::vector<std::u16string>& Enumerated() const { return enumerated_; }

    long OpenKey(RegKey parent, const std::u16string& subKey, std::uint32_t sam, RegKey* result) override {
        const long rc = target_->OpenKey(parent, subKey, sam, result);
        if (rc == kErrorSuccess && parent == kHKeyLocalMachine &&
            RegistryUpcase(subKey) == RegistryUpcase(kUninstall))
            listing_.insert(*result);
        return rc;
    }
    long QueryInfoKey(RegKey key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) override {
        return target_->QueryInfoKey(key, subKeys, maxSubKeyLen);
    }
    long EnumKey(RegKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLen) override {
        const long rc = target_->EnumKey(key, index, name, nameLen);
        if (rc == kErrorSuccess && listing_.count(key)) enumerated_.emplace_back(name, *nameLen);
        return rc;
    }
    long QueryValue(RegKey key, const std::u16string& valueName, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* dataSize) override {
        return target_->QueryValue(key, valueName, type, data, dataSize);
    }
    long CloseKey(RegKey key) override {
        listing_.erase(key);
        return target_->CloseKey(key);
    }

private:
    IRegistry* target_;
    std::set<RegKey> listing_;
    std::vector<std::u16string> enumerated_;
};

std::u16string Units(FuzzedDataProvider& in, std::size_t maxUnits) {
    const std::string raw = in.ConsumeRandomLengthString(maxUnits * 2);
    return Utf16FromBytes(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

std::u16string KeyName(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: {  // few letters, so that names collide without regard to case
            static const char16_t kLetters[] = u"aAbB_[ \u00e9\u00c9";
            std::u16string name;
            const int length = in.ConsumeIntegralInRange(1, 4);
            for (int i = 0; i < length; ++i) name += kLetters[in.ConsumeIntegralInRange(0, 8)];
            return name;
        }
        case 1: return std::u16string(in.ConsumeIntegralInRange<std::size_t>(200, 300), u'K');
        case 2: return u"{" + Units(in, 8) + u"}";
        default: return Units(in, 16);
    }
}

std::u16string ValueName(FuzzedDataProvider& in) {
    const int pick = in.ConsumeIntegralInRange(0, 9);
    if (pick < 7) return kReadValues[pick];
    if (pick == 7) return u"uninstallSTRING";
    if (pick == 8) return u"";
    return Units(in, 8);
}

std::uint32_t ValueType(FuzzedDataProvider& in) {
    static const std::uint32_t kTypes[] = {kRegSz, kRegSz, kRegExpandSz, kRegDword, kRegBinary, kRegMultiSz,
                                           kRegNone, kRegQword};
    const int pick = in.ConsumeIntegralInRange(0, 8);
    return pick < 8 ? kTypes[pick] : in.ConsumeIntegral<std::uint32_t>();
}

std::vector<std::uint8_t> TextBytes(const std::u16string& text, bool terminated) {
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (terminated) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

std::vector<std::uint8_t> ValueData(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0: return TextBytes(Units(in, 24), in.ConsumeBool());
        case 1: {
            const std::uint32_t v = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 2) : in.ConsumeIntegral<std::uint32_t>();
            std::vector<std::uint8_t> bytes = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                                               std::uint8_t(v >> 24)};
            bytes.resize(in.ConsumeIntegralInRange<std::size_t>(0, 8));
            return bytes;
        }
        case 2: {  // long text: up to and past the longest a value is meant to hold
            static const std::size_t kLengths[] = {2047, 2048, 32767, 32768, 40000};
            const std::size_t units = kLengths[in.ConsumeIntegralInRange(0, 4)];
            std::vector<std::uint8_t> bytes = TextBytes(std::u16string(units, u'x'), in.ConsumeBool());
            if (in.ConsumeBool()) bytes.push_back(0x41);  // an odd size
            return bytes;
        }
        case 3: return {};
        default: {
            const std::string raw = in.ConsumeRandomLengthString(48);
            return std::vector<std::uint8_t>(raw.begin(), raw.end());
        }
    }
}

std::uint32_t Access(FuzzedDataProvider& in) {
    static const std::uint32_t kRights[] = {kKeyAllAccess, kKeyAllAccess, kKeyAllAccess, kKeyRead, 0x20009,
                                            kKeyQueryValue, kKeyEnumerateSubKeys, 0};
    const int pick = in.ConsumeIntegralInRange(0, 8);
    return pick < 8 ? kRights[pick] : in.ConsumeIntegral<std::uint32_t>();
}

// A value's text as the scan must give it: the UTF-16 units of its data up to
// the first null; nullopt when reading it must fail (text expected, other data).
std::optional<std::u16string> ExpectedText(const MemoryRegistry& reg, const std::u16string& key, const char16_t* name) {
    const auto value = reg.GetValue(kHKeyLocalMachine, key, name);
    if (!value || value->data.empty()) return std::u16string();
    if (value->type != kRegSz && value->type != kRegExpandSz) return std::nullopt;
    std::u16string text = Utf16FromBytes(value->data.data(), value->data.size());
    return text.substr(0, text.find(u'\0'));
}

// True when the filter value is absent or a 4-byte DWORD other than 1.
bool PlainlyRemovable(const MemoryRegistry& reg, const std::u16string& key) {
    for (const char16_t* name : {u"NoRemove", u"SystemComponent"}) {
        const auto value = reg.GetValue(kHKeyLocalMachine, key, name);
        if (!value) continue;
        if (value->type != kRegDword || value->data.size() != 4) return false;
        if (value->data[0] == 1 && value->data[1] == 0 && value->data[2] == 0 && value->data[3] == 0) return false;
    }
    return true;
}

bool IsSubsequence(const std::vector<std::u16string>& part, const std::vector<std::u16string>& whole) {
    std::size_t at = 0;
    for (const auto& name : part) {
        while (at < whole.size() && whole[at] != name) ++at;
        if (at == whole.size()) return false;
        ++at;
    }
    return true;
}

void CheckError(const ERegistryException& e) {
    const std::u16string& message = e.Message();
    for (const char16_t* pattern : {u"Invalid data type for '%s'", u"Failed to get data for '%s'"}) {
        for (const char16_t* name : kReadValues) {
            if (message == FormatWithArgument(pattern, name)) return;
        }
    }
    Fail("an unexpected registry error", Show(message));
}

}  // namespace
}  // namespace velmora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmora;
    using namespace velmora::fuzz;
    FuzzedDataProvider in(data, size);

    MemoryRegistry reg;
    std::vector<std::u16string> keys;  // paths below HKLM, as created
    if (in.ConsumeIntegralInRange(0, 15) != 0) {
        reg.CreateKey(kHKeyLocalMachine, kUninstall);
        const int count = in.ConsumeIntegralInRange(0, 24);
        for (int k = 0; k < count; ++k) {
            const std::u16string path = kUninstall + u"\\" + KeyName(in);
            reg.CreateKey(kHKeyLocalMachine, path);
            keys.push_back(path);
            const int values = in.ConsumeIntegralInRange(0, 8);
            for (int v = 0; v < values; ++v) {
                const std::u16string name = ValueName(in);
                const std::uint32_t type = ValueType(in);
                reg.SetValue(kHKeyLocalMachine, path, name, type, ValueData(in));
            }
            if (in.ConsumeIntegralInRange(0, 5) == 0) reg.SetKeyAccess(kHKeyLocalMachine, path, Access(in));
        }
        if (in.ConsumeIntegralInRange(0, 7) == 0) reg.SetKeyAccess(kHKeyLocalMachine, kUninstall, Access(in));
    }
    const std::vector<std::u16string> listed = reg.SubKeyNames(kHKeyLocalMachine, kUninstall);

    // Changes at chosen calls of the scan: keys deleted or added, values
    // rewritten or removed, rights narrowed.
    struct Change {
        std::size_t atCall;
        int action;
        std::size_t target;
        std::u16string name;
        std::uint32_t type;
        std::vector<std::uint8_t> bytes;
        std::uint32_t access;
    };
    std::vector<Change> changes;
    const int changeCount = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < changeCount && in.remaining_bytes() > 0; ++i) {
        Change c;
        c.atCall = in.ConsumeIntegralInRange<std::size_t>(0, 400);
        c.action = in.ConsumeIntegralInRange(0, 4);
        c.target = in.ConsumeIntegralInRange<std::size_t>(0, keys.size());
        c.name = c.action == 3 ? KeyName(in) : ValueName(in);
        c.type = ValueType(in);
        c.bytes = ValueData(in);
        c.access = Access(in);
        changes.push_back(std::move(c));
    }

    bool changed = false;
    std::size_t calls = 0;
    reg.SetHook([&](const MemoryRegistry::Call&) {
        for (const Change& c : changes) {
            if (c.atCall != calls) continue;
            const std::u16string target = c.target < keys.size() ? keys[c.target] : kUninstall;
            switch (c.action) {
                case 0: reg.DeleteKey(kHKeyLocalMachine, target); break;
                case 1: reg.SetValue(kHKeyLocalMachine, target, c.name, c.type, c.bytes); break;
                case 2: reg.DeleteValue(kHKeyLocalMachine, target, c.name); break;
                case 3:
                    reg.SetValue(kHKeyLocalMachine, kUninstall + u"\\" + c.name, u"UninstallString", kRegSz,
                                 TextBytes(u"added.exe", true));
                    break;
                default: reg.SetKeyAccess(kHKeyLocalMachine, target, c.access); break;
            }
            changed = true;
        }
        ++calls;
    });

    // The inventory is made over an empty registry, then rescanned over this one,
    // so that what a failing scan appended can be looked at.
    MemoryRegistry empty;
    RecordingRegistry recording(empty);
    TOrvUninstallReader inventory(recording);
    recording.SetTarget(reg);
    bool failed = false;
    try {
        inventory.Refresh();
    } catch (const ERegistryException& e) {
        CheckError(e);
        failed = true;
    } catch (const std::exception& e) {
        Fail("the scan threw something other than ERegistryException", e.what());
    }
    reg.SetHook(nullptr);

    Check(reg.OpenHandleCount() == 0 && empty.OpenHandleCount() == 0, "the scan left a key open");
    std::vector<std::u16string> keyNames;
    for (std::size_t i = 0; i < inventory.Entries.Count(); ++i) {
        const TOrvUninstallInfo& entry = *inventory.Entries[i];
        Check(!entry.UninstallString.empty(), "an entry without an UninstallString", Show(entry.KeyName));
        keyNames.push_back(entry.KeyName);
    }
    Check(IsSubsequence(keyNames, recording.Enumerated()), "entries out of enumeration order");
    if (changed) return 0;
    Check(IsSubsequence(keyNames, listed), "entries that are not subkeys of the Uninstall key");
    if (failed) return 0;

    // Nothing changed and the scan succeeded: every field is its value's text.
    std::set<std::u16string> kept;
    for (std::size_t i = 0; i < inventory.Entries.Count(); ++i) {
        const TOrvUninstallInfo& entry = *inventory.Entries[i];
        const std::u16string key = kUninstall + u"\\" + entry.KeyName;
        kept.insert(RegistryUpcase(entry.KeyName));
        const auto name = ExpectedText(reg, key, u"DisplayName");
        Check(ExpectedText(reg, key, u"UninstallString") == entry.UninstallString &&
                  ExpectedText(reg, key, u"Comments") == entry.Comments &&
                  ExpectedText(reg, key, u"DisplayIcon") == entry.DisplayIcon &&
                  ExpectedText(reg, key, u"Publisher") == entry.Publisher &&
                  name && (name->empty() ? entry.KeyName : *name) == entry.DisplayName,
              "an entry's text differs from its values", Show(entry.KeyName));
    }
    // A key that opens, can be listed, has a command line and no filter value set
    // to 1 is never left out.
    const std::uint32_t listAccess = 0x20009;
    const auto uninstallAccess = [&] {
        RegKey probe = 0;
        const bool opens = reg.OpenKey(kHKeyLocalMachine, kUninstall, listAccess, &probe) == kErrorSuccess;
        if (opens) reg.CloseKey(probe);
        return opens;
    }();
    if (!uninstallAccess) return 0;
    for (const std::u16string& name : listed) {
        // No one can open a key by a name with a null inside.
        if (name.find(u'\0') != std::u16string::npos) continue;
        const std::u16string key = kUninstall + u"\\" + name;
        RegKey probe = 0;
        if (reg.OpenKey(kHKeyLocalMachine, key, kKeyQueryValue, &probe) != kErrorSuccess) continue;
        reg.CloseKey(probe);
        const auto command = ExpectedText(reg, key, u"UninstallString");
        if (!command || command->empty() || !PlainlyRemovable(reg, key)) continue;
        Check(kept.count(RegistryUpcase(name)) == 1, "a removable entry was left out", Show(name));
    }
    return 0;
}
