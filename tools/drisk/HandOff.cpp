#include "HandOff.h"

namespace velmora::drisk {

void CollectEntries(IRegistry& registry, RegKey rootKey, TOrvUninstallList& entries) {
    const TUninstallKeyListing listing(registry, rootKey);
    RegistryReader reader = listing.EntryReader();
    for (const std::u16string& name : listing.Names()) {
        try {
            if (auto entry = ReadUninstallEntry(reader, name)) entries.Add(std::move(entry));
        } catch (const ERegistryException&) {
            // One vendor's malformed entry must not hide everybody else's.
        }
    }
}

namespace {

void AppendValue(std::u16string& out, const char16_t* key, const std::u16string& value) {
    out += key;
    out += u"=\"";
    for (const char16_t c : value) out += (c == u'\r' || c == u'\n') ? u' ' : c;
    out += u"\"\r\n";
}

}  // namespace

std::u16string FormatHandOffFile(const TOrvUninstallList& entries) {
    std::u16string out;
    for (std::size_t i = 0; i < entries.Count(); ++i) {
        const TOrvUninstallInfo& entry = *entries[i];
        const std::string number = std::to_string(i + 1);
        out += u"[Entry";
        out += std::u16string(number.begin(), number.end());
        out += u"]\r\n";
        AppendValue(out, u"Comment", entry.Comments);
        AppendValue(out, u"DisplayIcon", entry.DisplayIcon);
        AppendValue(out, u"DisplayName", entry.DisplayName);
        AppendValue(out, u"Publisher", entry.Publisher);
        AppendValue(out, u"UninstallString", entry.UninstallString);
        out += u"\r\n";
    }
    return out;
}

}  // namespace velmora::drisk
