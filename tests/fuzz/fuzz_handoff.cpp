// Loading a hostile hand-off file: the input decides what the profile and file
// functions answer about it (any number of sections with names of any length,
// values of any length, a measurement that fails or comes out short, a file that
// is read-only, a directory, or known only to a directory search). The load
// may fail only with its one message, when the file cannot be measured, and
// never over a short list; it deletes the file only when it was read and
// exists as a file, leaves no search open and the profile cache flushed; and
// when the file measures what it holds, nothing that fits is lost: one entry
// per section, each value whole or, past what an entry holds, cut.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include "../native/Substitutes.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmora;
    using namespace velmora::fuzz;
    static const char16_t* const kKeys[] = {u"Comment", u"DisplayIcon", u"DisplayName", u"Publisher",
                                            u"UninstallString"};
    FuzzedDataProvider in(data, size);
    testing::ScriptedFiles files;
    const auto nameLength = in.ConsumeIntegralInRange<std::size_t>(1, 700);
    for (int s = in.ConsumeIntegralInRange(0, 60); s > 0; --s) {
        // Long names that overflow the first read, or any text without a null.
        const std::string raw = in.ConsumeBool() ? in.ConsumeRandomLengthString(16) : std::string();
        std::u16string name = Utf16FromBytes(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
        name.erase(std::remove(name.begin(), name.end(), u'\0'), name.end());
        files.sections.push_back(
            {name.empty() ? std::u16string(nameLength, u'S') + char16_t(u'a' + s % 26) : name, {}});
        for (int v = in.ConsumeIntegralInRange(0, 6); v > 0; --v) {
            const std::string bytes = in.ConsumeRandomLengthString(24);
            // Bracketed: no blank or quote at an end (their rules are tested under Wine).
            std::u16string text = Utf16FromBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
            text = u'(' + text.substr(0, text.find(u'\0')) + u')';
            if (in.ConsumeIntegralInRange(0, 7) == 0) text.assign(in.ConsumeIntegralInRange(2046, 2050), u'v');
            files.sections.back().second.emplace_back(kKeys[in.ConsumeIntegralInRange(0, 4)], text);
        }
    }
    const bool utf16 = in.ConsumeBool();
    files.bytes.assign(in.ConsumeIntegralInRange<std::size_t>(0, 80000), 'b');
    if (utf16) files.bytes.replace(0, std::min<std::size_t>(2, files.bytes.size()), "\xFF\xFE");
    files.ansiChars = in.ConsumeIntegralInRange<std::uint32_t>(0, 40000);
    files.readable = in.ConsumeIntegralInRange(0, 7) != 0;
    files.attributes =
        in.PickValueInArray({0x20u, kFileAttributeReadOnly, kFileAttributeDirectory, kInvalidFileAttributes});
    files.error = in.PickValueInArray(
        {kErrorFileNotFound, kErrorPathNotFound, kErrorInvalidName, kErrorSharingViolation, kErrorAccessDenied});
    files.searchFinds = in.ConsumeBool();
    files.foundAttributes = in.ConsumeBool() ? 0x20 : kFileAttributeDirectory;
    // Mostly a measurement of the whole list and more; else whatever came above.
    std::size_t listLength = 0;
    for (const auto& section : files.sections) listLength += section.first.size() + 1;
    const bool truthful = !in.ConsumeBool();
    if (truthful) {
        const std::size_t room = listLength + 1 + in.ConsumeIntegralInRange<std::size_t>(0, 40000);
        files.ansiChars = static_cast<std::uint32_t>(room);
        if (utf16) files.bytes.assign(2 * room, 'b').replace(0, 2, "\xFF\xFE");
    }

    testing::SmallRegistry registry;
    registry.uninstallExists = false;
    TOrvUninstallReader inventory(registry, files);
    bool failed = false;
    try {
        inventory.LoadFromHandOffFile();
    } catch (const Exception& e) {
        Check(e.Message() == u"Cannot read the file 'C:\\Temp\\OrvUninstall.ini'", "an unexpected error", e.Message());
        failed = true;
    }
    Check(!failed || (!files.readable && listLength > 1000), "a load failed without cause");
    Check(files.flushes == 1 && files.openSearches == 0, "the cache was not flushed or a search was left open");

    const bool isFile = files.attributes != kInvalidFileAttributes
                            ? !(files.attributes & kFileAttributeDirectory)
                            : files.error != kErrorFileNotFound && files.error != kErrorPathNotFound &&
                                  files.error != kErrorInvalidName && files.searchFinds &&
                                  !(files.foundAttributes & kFileAttributeDirectory);
    Check(files.deletions == (!failed && isFile ? 1 : 0), "the file was deleted when it should stay, or kept");
    if (failed || !truthful) return 0;
    Check(inventory.Entries.Count() == files.sections.size(), "not one entry per section");
    for (std::size_t i = 0; i < files.sections.size(); ++i) {
        const TOrvUninstallInfo& entry = *inventory.Entries[i];
        const std::u16string* fields[] = {&entry.Comments, &entry.DisplayIcon, &entry.DisplayName, &entry.Publisher,
                                          &entry.UninstallString};
        const testing::ScriptedFiles::Values stored = files.Section(files.sections[i].first);
        for (int k = 0; k < 5; ++k) {
            const auto found = std::find_if(stored.begin(), stored.end(), [&](auto& v) { return v.first == kKeys[k]; });
            const std::u16string value = found == stored.end() ? u"" : found->second;
            Check(value.compare(0, fields[k]->size(), *fields[k]) == 0 &&
                      fields[k]->size() >= std::min<std::size_t>(value.size(), 2047),
                  "a value differs", files.sections[i].first);
        }
    }
    return 0;
}
