// The registry scan over a hostile registry made from the input: Uninstall
// subkeys with arbitrary names, values of any name, type and bytes, keys that
// grant only some rights, and changes made at chosen calls of the scan (keys
// removed or added, values rewritten, grown or removed, rights narrowed).
// On every input:
//   - the only error is ERegistryException, "Invalid data type for 'X'" or
//     "Failed to get data for 'X'" with X a value the scan reads;
//   - every entry has an UninstallString;
//   - no key is opened for more than reading, none left open or closed twice;
// and when nothing changed and the scan succeeded, every field is its value's
// text untouched. (Which entries qualify, and how, the registry fixtures say.)
#include <fuzzer/FuzzedDataProvider.h>

#include <optional>

#include "../native/Substitutes.h"
#include "FuzzSupport.h"

namespace velmora::fuzz {
namespace {

using testing::SmallRegistry;

const char16_t* const kReadValues[] = {u"UninstallString", u"NoRemove",    u"SystemComponent", u"Comments",
                                       u"DisplayIcon",     u"DisplayName", u"Publisher"};

std::u16string Units(FuzzedDataProvider& in, std::size_t maxUnits) {
    const std::string raw = in.ConsumeRandomLengthString(maxUnits * 2);
    return Utf16FromBytes(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

// A letter (names that repeat), a name past the scan's first buffer, or any units.
std::u16string KeyName(FuzzedDataProvider& in) {
    const int pick = in.ConsumeIntegralInRange(0, 3);
    return pick == 0   ? std::u16string(1, char16_t(u'A' + in.ConsumeIntegralInRange(0, 5)))
           : pick == 1 ? std::u16string(in.ConsumeIntegralInRange<std::size_t>(200, 300), u'K')
                       : Units(in, 16);
}

std::u16string ValueName(FuzzedDataProvider& in) {
    const int pick = in.ConsumeIntegralInRange(0, 8);
    return pick < 7 ? kReadValues[pick] : pick == 7 ? u"" : Units(in, 8);
}

// Text with or without its null, a number of up to 8 bytes (1 and 0 most often),
// text up to and past the longest a value is meant to hold, or any bytes.
std::vector<std::uint8_t> ValueData(FuzzedDataProvider& in) {
    std::vector<std::uint8_t> bytes;
    const int pick = in.ConsumeIntegralInRange(0, 3);
    if (pick == 0) {
        for (const char16_t c : Units(in, 24) + std::u16string(in.ConsumeBool() ? 1 : 0, u'\0'))
            bytes.insert(bytes.end(), {std::uint8_t(c), std::uint8_t(c >> 8)});
    } else if (pick == 1) {
        const std::uint32_t v =
            in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 2) : in.ConsumeIntegral<std::uint32_t>();
        bytes = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
        bytes.resize(in.ConsumeIntegralInRange<std::size_t>(0, 8));
    } else if (pick == 2) {
        static const std::size_t kUnits[] = {2047, 2048, 32767, 40000};
        bytes.assign(2 * kUnits[in.ConsumeIntegralInRange(0, 3)] + in.ConsumeIntegralInRange(0, 3), 'x');
    } else {
        const std::string raw = in.ConsumeRandomLengthString(48);
        bytes.assign(raw.begin(), raw.end());
    }
    return bytes;
}

std::uint32_t ValueType(FuzzedDataProvider& in) {
    return in.PickValueInArray({kRegSz, kRegSz, kRegExpandSz, kRegDword, kRegBinary, kRegMultiSz, kRegNone, 0x12345u});
}

std::uint32_t Access(FuzzedDataProvider& in) {
    return in.PickValueInArray({kKeyRead, 0x20009u, kKeyQueryValue, kKeyEnumerateSubKeys, 0u});
}

// The text the scan must give for a value: its UTF-16 units up to the first
// null; nullopt when reading it must fail (text expected, other data found).
std::optional<std::u16string> Text(SmallRegistry::Key& key, const char16_t* name) {
    const auto found = key.values.find(name);
    if (found == key.values.end() || found->second.data.empty()) return std::u16string();
    const SmallRegistry::Value& value = found->second;
    if (value.type != kRegSz && value.type != kRegExpandSz) return std::nullopt;
    const std::u16string text = Utf16FromBytes(value.data.data(), value.data.size());
    return text.substr(0, text.find(u'\0'));
}

}  // namespace
}  // namespace velmora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmora;
    using namespace velmora::fuzz;
    FuzzedDataProvider in(data, size);
    SmallRegistry reg;
    const bool uninstallExists = in.ConsumeIntegralInRange(0, 15) != 0;
    for (int k = in.ConsumeIntegralInRange(0, 24); k > 0; --k) {
        const std::u16string name = KeyName(in);
        if (reg.Find(name)) continue;
        SmallRegistry::Key& key = reg.Add(name);
        for (int v = in.ConsumeIntegralInRange(0, 8); v > 0; --v) {
            const std::u16string valueName = ValueName(in);
            const std::uint32_t type = ValueType(in);
            key.values[valueName] = {type, ValueData(in)};
        }
        if (in.ConsumeIntegralInRange(0, 5) == 0) key.access = Access(in);
    }
    if (in.ConsumeIntegralInRange(0, 7) == 0) reg.uninstallAccess = Access(in);

    // Changes at calls of the scan the input picks.
    bool changed = false;
    reg.onCall = [&] {
        if (in.remaining_bytes() == 0 || in.ConsumeIntegralInRange(0, 15) != 0 || reg.keys.empty()) return;
        changed = true;
        SmallRegistry::Key& key = reg.keys[in.ConsumeIntegralInRange<std::size_t>(0, reg.keys.size() - 1)];
        const int action = in.ConsumeIntegralInRange(0, 4);
        const std::u16string name = action == 3 ? KeyName(in) : ValueName(in);
        if (action == 0) key.gone = true;
        const std::uint32_t type = ValueType(in);
        if (action == 1) key.values[name] = {type, ValueData(in)};
        if (action == 2) key.values.clear();
        if (action == 3 && !reg.Find(name)) SmallRegistry::SetText(reg.Add(name), u"UninstallString", u"added.exe");
        if (action == 4) key.access = Access(in);
    };

    // Made over no Uninstall key, then rescanned, so that what a failing scan
    // appended can be looked at.
    reg.uninstallExists = false;
    testing::ScriptedFiles files;
    TOrvUninstallReader inventory(reg, files);
    reg.uninstallExists = uninstallExists;
    bool failed = false;
    try {
        inventory.Refresh();
    } catch (const ERegistryException& e) {
        bool known = false;
        for (const char16_t* pattern : {u"Invalid data type for '%s'", u"Failed to get data for '%s'"})
            for (const char16_t* name : kReadValues) known = known || e.Message() == FormatWithArgument(pattern, name);
        Check(known, "an unexpected registry error", e.Message());
        failed = true;
    }
    reg.onCall = nullptr;

    Check(reg.handles.empty() && reg.misuse == 0, "a key left open, closed twice or opened for writing");
    for (std::size_t i = 0; i < inventory.Entries.Count(); ++i)
        Check(!inventory.Entries[i]->UninstallString.empty(), "an entry without an UninstallString");
    if (changed || failed) return 0;

    for (std::size_t i = 0; i < inventory.Entries.Count(); ++i) {
        const TOrvUninstallInfo& entry = *inventory.Entries[i];
        SmallRegistry::Key& key = *reg.Find(entry.KeyName);
        const auto name = Text(key, u"DisplayName");
        Check(Text(key, u"UninstallString") == entry.UninstallString && Text(key, u"Comments") == entry.Comments &&
                  Text(key, u"DisplayIcon") == entry.DisplayIcon && Text(key, u"Publisher") == entry.Publisher &&
                  name && (name->empty() ? entry.KeyName : *name) == entry.DisplayName,
              "an entry's text differs from its values", entry.KeyName);
    }
    return 0;
}
