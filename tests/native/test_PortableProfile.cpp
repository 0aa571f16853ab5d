// The portable profile reader on what the shared fixtures cannot show: points
// where Wine answers differently from Windows, hostile bytes, tiny buffers,
// directories and file errors. (Also built into the portable tests run under Wine.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FixtureRegistry.h"
#include "platform/PortableProfile.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace velmora::testing {
namespace {

constexpr char16_t kUnwritten = 0xCCCC;

class PortableProfileTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& path : written_) std::filesystem::remove(path);
    }

    // Writes a scratch file under a new name (so no answer can come from an
    // earlier file) and answers its path.
    std::u16string Write(const std::string& bytes) {
        const std::string path = ScratchDirectory() + "portable-" + std::to_string(written_.size()) + "-" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
        WriteTextFile(path, bytes);
        written_.push_back(path);
        return FromUtf8(path);
    }

    struct Answer {
        std::uint32_t count;
        std::u16string text;  // the whole buffer
    };

    // Asks through a buffer with guard cells behind it, failing if any is touched.
    Answer Ask(const std::u16string& path, const char16_t* section, const char16_t* key, const char16_t* fallback,
               std::uint32_t size) {
        std::vector<char16_t> cells(size + 8, kUnwritten);
        const std::uint32_t count = files_.GetPrivateProfileString(section, key, fallback, cells.data(), size, path);
        for (std::size_t i = size; i < cells.size(); ++i) EXPECT_EQ(cells[i], kUnwritten) << "wrote past the buffer";
        return {count, std::u16string(cells.begin(), cells.begin() + size)};
    }

    std::u16string Value(const std::u16string& path, const char16_t* section, const char16_t* key,
                         std::uint32_t size = 256) {
        const Answer a = Ask(path, section, key, u"<default>", size);
        return a.text.substr(0, a.count);
    }

    PortableProfileFiles files_;
    std::vector<std::string> written_;
};

// Where Windows and Wine differ, the reader answers as Windows does.
TEST_F(PortableProfileTest, ReadsAsWindowsWhereWineDiffers) {
    const std::u16string path = Write(
        "top=orphan\r\n[]\r\nk=empty section\r\n[a]b]\r\nc=first bracket\r\n[open  \r\nd=no bracket\r\n"
        "[s]\r\n;hidden=comment\r\nff=v\f\r\nz=v\x1A\r\n");
    // Keys before any section are out of reach; "[]" is the "" section.
    EXPECT_EQ(Value(path, u"", u"top"), u"<default>");
    EXPECT_EQ(Value(path, u"", u"k"), u"empty section");
    // A header ends at its first "]" or at the end of the line.
    EXPECT_EQ(Value(path, u"a", u"c"), u"first bracket");
    EXPECT_EQ(Value(path, u"a]b", u"c"), u"<default>");
    EXPECT_EQ(Value(path, u"open", u"d"), u"no bracket");
    // A comment is no key, even asked for by its name.
    EXPECT_EQ(Value(path, u"s", u";hidden"), u"<default>");
    // Form feed and ^Z are not blanks; asked-for names lose spaces, not tabs.
    EXPECT_EQ(Value(path, u"s", u"ff"), u"v\f");
    EXPECT_EQ(Value(path, u"s", u"z"), u"v\x1A");
    EXPECT_EQ(Value(path, u" s ", u" ff "), u"v\f");
    EXPECT_EQ(Value(path, u"\ts", u"ff"), u"<default>");
    // A quoted value that fits exactly once unquoted is whole (answer size - 1).
    const std::u16string quoted = Write("[q]\r\nv=\"abc\"\r\n");
    const Answer a = Ask(quoted, u"q", u"v", u"", 4);
    EXPECT_EQ(a.count, 3u);
    EXPECT_EQ(a.text.substr(0, 4), std::u16string(u"abc\0", 4));
}

TEST_F(PortableProfileTest, ByteOrderMarksOtherThanUtf16LeAreReadAsAnsi) {
    // UTF-8's mark spoils a header on the first line; later lines read as ANSI.
    const std::u16string utf8 = Write("\xEF\xBB\xBF[first]\r\nk=1\r\n[second]\r\nk=v\xC3\xA4\r\n");
    EXPECT_EQ(Value(utf8, u"first", u"k"), u"<default>");
    EXPECT_EQ(Value(utf8, u"second", u"k"), u"v\u00C3\u00A4");
    // Big-endian UTF-16 is not understood at all.
    const std::u16string bigEndian = Write(std::string("\xFE\xFF\0[\0s\0]\0\r\0\n\0k\0=\0v", 18));
    EXPECT_EQ(Value(bigEndian, u"s", u"k"), u"<default>");
}

TEST_F(PortableProfileTest, NamesCompareWithoutCaseBeyondAscii) {
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : std::u16string(u"[Программа Ωμέγα Café Ÿ]\r\nĲssel=1\r\n")) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    const std::u16string path = Write(bytes);
    EXPECT_EQ(Value(path, u"ПРОГРАММА ΩΜΈΓΑ CAFÉ ÿ", u"ĳSSEL"), u"1");
    EXPECT_EQ(Value(path, u"программа ωμεγα café ÿ", u"ĳssel"), u"<default>");  // accents are not folded away
}

TEST_F(PortableProfileTest, FilesAboveTheSizeLimitReadAsUnreadable) {
    PortableProfileFiles limited(16);
    const std::u16string path = Write("[section]\r\nkey=value\r\n");
    std::vector<char16_t> buffer(32, kUnwritten);
    EXPECT_EQ(limited.GetPrivateProfileString(u"section", u"key", u"def", buffer.data(), 32, path), 3u);
    EXPECT_EQ(std::u16string(buffer.data()), u"def");
    EXPECT_EQ(limited.GetPrivateProfileString(nullptr, nullptr, nullptr, buffer.data(), 32, path), 0u);
    EXPECT_EQ(buffer[0], u'\0');
    std::string bytes;
    EXPECT_FALSE(limited.ReadAllBytes(path, bytes));
    EXPECT_TRUE(files_.ReadAllBytes(path, bytes));
    EXPECT_EQ(bytes, "[section]\r\nkey=value\r\n");
}

TEST_F(PortableProfileTest, DirectoriesAndFileErrorsGiveWindowsCodes) {
    const std::string scratch = ScratchDirectory();
    const std::u16string directory = FromUtf8(scratch);
    // A directory reads as no file; its section list is still ended.
    const Answer a = Ask(directory, nullptr, nullptr, nullptr, 8);
    EXPECT_EQ(a.count, 0u);
    EXPECT_EQ(a.text[0], u'\0');

    std::string bytes = "unchanged";
    EXPECT_FALSE(files_.ReadAllBytes(directory, bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(files_.GetFileAttributes(u""), kInvalidFileAttributes);
    EXPECT_EQ(files_.LastError(), kErrorPathNotFound);
    EXPECT_EQ(files_.GetFileAttributes(directory + u"a*.ini"), kInvalidFileAttributes);
    EXPECT_EQ(files_.LastError(), kErrorInvalidName);
    std::uint32_t attributes = 0;
    EXPECT_EQ(files_.FindFirstFile(directory + u"*.ini", &attributes), kInvalidFindHandle);
    EXPECT_EQ(files_.LastError(), kErrorInvalidName);
    EXPECT_EQ(files_.FindFirstFile(directory, &attributes), kInvalidFindHandle);
    EXPECT_EQ(files_.LastError(), kErrorFileNotFound);
    EXPECT_FALSE(files_.FindClose(12345));
    EXPECT_EQ(files_.LastError(), kErrorInvalidHandle);

    // A read-only file is reported so and, as on Windows, not deleted.
    const std::u16string path = Write("[s]\r\n");
    const std::filesystem::path native(written_.back());
    EXPECT_EQ(files_.GetFileAttributes(path), kFileAttributeArchive);
    std::filesystem::permissions(native, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                             std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_EQ(files_.GetFileAttributes(path), kFileAttributeArchive | kFileAttributeReadOnly);
    EXPECT_FALSE(files_.DeleteFile(path));
    EXPECT_EQ(files_.LastError(), kErrorAccessDenied);
    EXPECT_TRUE(std::filesystem::exists(native));
    std::filesystem::permissions(native, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    EXPECT_TRUE(files_.DeleteFile(path));
}

#ifndef _WIN32
#endif

}  // namespace
}  // namespace velmora::testing
