// The portable profile reader on an arbitrary file, the hand-off file's reader.
// The input is written to a scratch file and read back as the program reads it:
// section names with buffers from one character up to the 16,384 the program
// uses, key names, values with small buffers and the program's 2,048, and then
// the whole hand-off load with the scratch directory as the temporary directory.
//
// An ample buffer gives the reference answer; a smaller buffer must give a
// prefix of it, cut the documented way, and write nothing past its end (the
// buffers are exactly as large as announced, so AddressSanitizer sees any
// overrun). The load must make one entry per section, each with the values
// read for that section, and delete the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ScratchProfileFiles.h"
#include "platform/MemoryRegistry.h"
#include "platform/PortableProfile.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::fuzz {
namespace {

struct Answer {
    std::uint32_t count = 0;
    std::vector<char16_t> buffer;
};

constexpr char16_t kUnwritten = 0xFFFF;

Answer Read(IProfileFiles& files, const char16_t* section, const char16_t* key, const char16_t* defaultValue,
            std::uint32_t size, const std::u16string& path) {
    Answer answer;
    answer.buffer.assign(size, kUnwritten);
    answer.count = files.GetPrivateProfileString(section, key, defaultValue, answer.buffer.data(), size, path);
    return answer;
}

// The names of a list of names (each ended by a null, the list by another).
std::vector<std::u16string> Names(const Answer& list) {
    std::vector<std::u16string> names;
    std::size_t start = 0;
    while (start < list.count && list.buffer[start] != u'\0') {
        const std::size_t stop = std::find(list.buffer.begin() + start, list.buffer.begin() + list.count, u'\0') -
                                 list.buffer.begin();
        names.emplace_back(list.buffer.begin() + start, list.buffer.begin() + stop);
        start = stop + 1;
    }
    return names;
}

std::u16string Text(const Answer& value) { return std::u16string(value.buffer.data(), value.count); }

// Section names with `size` against the ample answer: the whole list, or the
// list cut so that both closing nulls fit and size - 2 answered.
void CheckSectionNames(const Answer& full, const Answer& got, std::uint32_t size) {
    if (size == 1) {
        Check(got.count == 0 && got.buffer[0] == u'\0', "section names in one character");
        return;
    }
    const bool whole = got.count == full.count && got.count < size &&
                       std::equal(got.buffer.begin(), got.buffer.begin() + got.count + 1, full.buffer.begin());
    const bool cut = got.count == size - 2 &&
                     std::equal(got.buffer.begin(), got.buffer.begin() + got.count, full.buffer.begin()) &&
                     got.buffer[got.count] == u'\0' && got.buffer[got.count + 1] == u'\0';
    Check(whole || cut, "section names in a small buffer are not a cut of the whole list",
          "size " + std::to_string(size) + ", answer " + std::to_string(got.count) + " of " +
              std::to_string(full.count));
}

// Key names: never past the buffer, ended by a null, and where a character was
// placed it is the one of the whole list or a null ending a cut name.
void CheckKeyNames(const Answer& full, const Answer& got, std::uint32_t size) {
    Check(got.count < size && got.buffer[got.count] == u'\0', "key names not ended within the buffer");
    for (std::uint32_t i = 0; i < got.count; ++i) {
        Check(i < full.buffer.size() && (got.buffer[i] == full.buffer[i] || got.buffer[i] == u'\0'),
              "key names in a small buffer differ from the whole list");
    }
}

// A value with `size`: the whole value's first size - 1 characters at most.
void CheckValue(const Answer& full, const Answer& got, std::uint32_t size) {
    const std::uint32_t expected = std::min<std::uint32_t>(full.count, size - 1);
    Check(got.count == expected, "a value in a small buffer has the wrong length",
          std::to_string(got.count) + " instead of " + std::to_string(expected));
    Check(std::equal(got.buffer.begin(), got.buffer.begin() + got.count, full.buffer.begin()) &&
              got.buffer[got.count] == u'\0',
          "a value in a small buffer is not the start of the whole value");
}

const char16_t* const kEntryKeys[] = {u"Comment", u"DisplayIcon", u"DisplayName", u"Publisher", u"UninstallString"};

}  // namespace
}  // namespace velmora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmora;
    using namespace velmora::fuzz;
    static testing::ScratchProfileFiles scratch;
    static PortableProfileFiles files;
    static MemoryRegistry emptyRegistry;

    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::ofstream(scratch.HandOffPath(), std::ios::binary | std::ios::trunc) << bytes;
    const std::u16string path = FromUtf8(scratch.HandOffPath());

    // A list of names takes at most one character per character of the file and two nulls.
    const auto ample = static_cast<std::uint32_t>(size + 4);
    const Answer sections = Read(files, nullptr, nullptr, nullptr, ample, path);
    Check(sections.count + 2 < ample, "the ample buffer was too small for the section names");
    for (const std::uint32_t small : {1u, 2u, 3u, 4u, 5u, 8u, 17u, 64u, 16384u}) {
        CheckSectionNames(sections, Read(files, nullptr, nullptr, nullptr, small, path), small);
    }
    // Nothing is written when there is no room at all.
    char16_t none = kUnwritten;
    Check(files.GetPrivateProfileString(nullptr, nullptr, nullptr, &none, 0, path) == 0 && none == kUnwritten,
          "a zero-size buffer was written");

    const std::vector<std::u16string> names = Names(sections);
    for (std::size_t s = 0; s < names.size() && s < 2; ++s) {
        const char16_t* section = names[s].c_str();
        Check(!names[s].empty(), "an empty section name was listed");
        const Answer keyList = Read(files, section, nullptr, u"", ample, path);
        for (const std::uint32_t small : {1u, 2u, 3u, 5u, 16u}) {
            CheckKeyNames(keyList, Read(files, section, nullptr, u"", small, path), small);
        }
        std::vector<std::u16string> keys = Names(keyList);
        if (keys.size() > 2) keys.resize(2);
        for (const char16_t* key : kEntryKeys) keys.emplace_back(key);
        for (const std::u16string& key : keys) {
            const Answer value = Read(files, section, key.c_str(), u"", ample, path);
            Check(value.count + 1 < ample, "the ample buffer was too small for a value");
            for (const std::uint32_t small : {1u, 3u, 2048u}) {
                CheckValue(value, Read(files, section, key.c_str(), u"", small, path), small);
            }
        }
    }

    // The load reads the whole file again for every value, so files with many
    // sections would make each run take seconds; long section names reach the
    // program's second, measured read just as well.
    if (names.size() > 64) return 0;

    // What the first entries must hold, read before the load deletes the file.
    std::vector<std::vector<std::u16string>> expected;
    for (std::size_t i = 0; i < names.size() && i < 8; ++i) {
        expected.emplace_back();
        for (const char16_t* key : kEntryKeys)
            expected.back().push_back(Text(Read(files, names[i].c_str(), key, u"", 2048, path)));
    }

    // The hand-off load, as the program does it.
    scratch.calls.clear();
    TOrvUninstallReader inventory(emptyRegistry, scratch);
    Check(FromUtf8(scratch.HandOffPath()) == inventory.GetHandOffFilePath(), "the hand-off path is not the scratch one");
    try {
        inventory.LoadFromHandOffFile();
    } catch (const std::exception& e) {
        Fail("loading a readable hand-off file failed", e.what());
    }
    // The second read has room for as many characters as the file holds; only a
    // list longer than that (a single name running to the end of the file) is cut.
    const bool utf16 = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
    const std::size_t measured = utf16 ? size / 2 : size;
    const bool cutTwice = sections.count >= 16382 && measured < sections.count + 2;
    const std::size_t count = inventory.Entries.Count();
    Check(count == names.size() || (cutTwice && count + 1 >= names.size() && count <= names.size()),
          "the load did not make one entry per section",
          std::to_string(count) + " entries for " + std::to_string(names.size()) + " sections");
    for (std::size_t i = 0; i < count && i < expected.size(); ++i) {
        if (cutTwice && i + 1 == count) break;
        const TOrvUninstallInfo& entry = *inventory.Entries[i];
        const std::u16string* fields[] = {&entry.Comments, &entry.DisplayIcon, &entry.DisplayName, &entry.Publisher,
                                          &entry.UninstallString};
        for (std::size_t k = 0; k < 5; ++k) {
            Check(*fields[k] == expected[i][k], "an entry's value differs from its section's",
                  Show(names[i]) + "/" + Show(kEntryKeys[k]));
        }
        Check(entry.KeyName.empty(), "a hand-off entry has a key name");
    }
    Check(!scratch.HandOffExists(), "the loaded hand-off file was not deleted");
    return 0;
}
