// The hand-off file as something else wrote it, or as nothing should have:
// random bytes, UTF-16 without its byte-order mark, a mark alone, 100,000
// sections (a 50 MB file is read by the Windows tests, with the real functions). Loading must end, keep what the file says and nothing else,
// and then remove the file it has read.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ScratchProfileFiles.h"
#include "platform/MemoryRegistry.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::testing {
namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Utf16(const std::u16string& text) {
    std::string bytes;
    for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// The section names the profile function lists, with room for all of them.
std::vector<std::u16string> ListedSections(IProfileFiles& files, const std::u16string& path, std::size_t fileSize) {
    std::vector<char16_t> buffer(fileSize + 4);
    const std::uint32_t count = files.GetPrivateProfileString(nullptr, nullptr, nullptr, buffer.data(),
                                                              static_cast<std::uint32_t>(buffer.size()), path);
    std::vector<std::u16string> names;
    for (std::size_t start = 0; start < count && buffer[start] != u'\0';) {
        const std::u16string name(buffer.data() + start);
        names.push_back(name);
        start += name.size() + 1;
    }
    return names;
}

class HandOffFaults : public ::testing::Test {
protected:
    MemoryRegistry registry;  // empty: only the hand-off adds entries
    ScratchProfileFiles files;
};

TEST_F(HandOffFaults, UnreadableTextGivesNoEntriesAndTheFileGoes) {
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"UTF-16 without a byte-order mark", Utf16(u"[A]\r\nDisplayName=Alpha\r\nUninstallString=a.exe\r\n")},
        {"a byte-order mark alone", "\xFF\xFE"},
        {"a byte-order mark and half a character", "\xFF\xFE["},
        {"big-endian UTF-16", "\xFE\xFF" + std::string("\0[\0A\0]", 6)},
        {"an empty file", ""},
        {"NULs", std::string(4096, '\0')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(files.HandOffPath(), c.bytes);
        TOrvUninstallReader inventory(registry, files);
        inventory.LoadFromHandOffFile();
        EXPECT_EQ(inventory.Entries.Count(), 0u);
        EXPECT_FALSE(files.HandOffExists());
    }
}

TEST_F(HandOffFaults, RandomBytesGiveOneEntryPerListedSection) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        // Bytes weighted towards what the reader looks at.
        static const char kSyntax[] = "[]=;\"'\r\n \t\x00\xFF\xFE";
        std::string bytes(16384 + round * 997, '\0');
        for (char& b : bytes) {
            const unsigned r = random();
            b = (r & 3) == 0 ? kSyntax[(r >> 2) % (sizeof kSyntax - 1)] : static_cast<char>(r >> 8);
        }
        if (round % 2) bytes.replace(0, 2, "\xFF\xFE");
        WriteBytes(files.HandOffPath(), bytes);
        const std::vector<std::u16string> sections = ListedSections(files, FromUtf8(files.HandOffPath()), bytes.size());

        TOrvUninstallReader inventory(registry, files);
        inventory.LoadFromHandOffFile();
        EXPECT_EQ(inventory.Entries.Count(), sections.size());
        for (std::size_t i = 0; i < inventory.Entries.Count(); ++i) {
            EXPECT_LT(inventory.Entries[i]->DisplayName.size(), 2048u);
            EXPECT_LT(inventory.Entries[i]->UninstallString.size(), 2048u);
        }
        EXPECT_FALSE(files.HandOffExists());
    }
}

// Under Wine's C runtime the host's file reads make this case take minutes; the
// Windows tests cover the real profile functions there.
#ifndef _WIN32

// Reads the section names (and measures the file) for real; of the value reads
// only those of the first, a middle and the last section go to the file, the
// others answer the default ("no such key"), so that 500,000 reads of a two
// megabyte file take no minutes. Every value read is recorded with its section.
class SampledProfileFiles final : public IProfileFiles {
public:
    explicit SampledProfileFiles(ScratchProfileFiles& real) : real_(real) {}
    std::vector<std::u16string> sectionsRead;

    std::uint32_t GetPrivateProfileString(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                                          char16_t* buffer, std::uint32_t size, const std::u16string& path) override {
        if (section && key) {
            if (sectionsRead.empty() || sectionsRead.back() != section) sectionsRead.emplace_back(section);
            const std::size_t index = sectionsRead.size() - 1;
            if (index != 0 && index != 50000 && index != 99999) {
                buffer[0] = u'\0';
                return 0;
            }
        }
        return real_.GetPrivateProfileString(section, key, defaultValue, buffer, size, path);
    }
    bool WritePrivateProfileString(const char16_t* s, const char16_t* k, const char16_t* v,
                                   const std::u16string& path) override {
        return real_.WritePrivateProfileString(s, k, v, path);
    }
    std::uint32_t GetTempPath(std::uint32_t size, char16_t* buffer) override { return real_.GetTempPath(size, buffer); }
    std::uint32_t GetFileAttributes(const std::u16string& path) override { return real_.GetFileAttributes(path); }
    std::uintptr_t FindFirstFile(const std::u16string& pattern, std::uint32_t* attributes) override {
        return real_.FindFirstFile(pattern, attributes);
    }
    bool FindClose(std::uintptr_t handle) override { return real_.FindClose(handle); }
    bool DeleteFile(const std::u16string& path) override { return real_.DeleteFile(path); }
    long LastError() override { return real_.LastError(); }
    bool ReadAllBytes(const std::u16string& path, std::string& bytes) override { return real_.ReadAllBytes(path, bytes); }
    std::uint32_t AnsiCharCount(const std::string& bytes) override { return real_.AnsiCharCount(bytes); }

private:
    ScratchProfileFiles& real_;
};

TEST_F(HandOffFaults, AHundredThousandSectionsAllBecomeEntriesInFileOrder) {
    std::u16string text;
    std::vector<std::u16string> names;
    for (int i = 0; i < 100000; ++i) {
        const std::string digits = std::to_string(i);
        names.push_back(u"Entry" + std::u16string(digits.begin(), digits.end()));
        text += u"[" + names.back() + u"]\r\nDisplayName=Product " + names.back() + u"\r\n";
    }
    files.WriteHandOff(text);
    SampledProfileFiles sampled(files);
    TOrvUninstallReader inventory(registry, sampled);
    inventory.LoadFromHandOffFile();

    ASSERT_EQ(inventory.Entries.Count(), names.size());
    EXPECT_TRUE(sampled.sectionsRead == names) << "sections read out of file order";
    for (const std::size_t i : {0, 50000, 99999}) EXPECT_EQ(inventory.Entries[i]->DisplayName, u"Product " + names[i]);
    EXPECT_FALSE(files.HandOffExists());
}

#endif

}  // namespace
}  // namespace velmora::testing
