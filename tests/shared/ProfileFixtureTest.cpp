// Asks every profile fixture (tests/fixtures/profile/*.ini) the questions of its
// .expected file through an IProfileFiles and compares the answers written down
// there. The same source runs natively against the portable reader and under
// Wine against the Windows functions.
//
// An .expected line is one question and its answer:
//   sections SIZE => COUNT BUFFER
//   keys SECTION DEFAULT SIZE => COUNT BUFFER
//   value SECTION KEY DEFAULT SIZE => COUNT BUFFER
// SECTION, KEY and DEFAULT are quoted strings or null. BUFFER is what the buffer
// must start with: quoted strings joined by "+", each may be preceded by "N*"
// to repeat it; "*" leaves the buffer unchecked. Strings are UTF-8 with the
// escapes \0 \t \r \n \\ \" and \u{XXXX} (one UTF-16 unit).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "FixtureRegistry.h"
#include "platform/ProfileFiles.h"
#include "platform/Registry.h"
#include "platform/Text.h"

namespace velmora::testing {

// The side's file functions (defined once natively, once for Windows).
std::unique_ptr<IProfileFiles> MakeFixtureProfileFiles();

namespace {

constexpr char16_t kUnwritten = 0xCCCC;
constexpr std::uint32_t kGuardCells = 16;

std::string Show(const std::u16string& text) {
    std::string out;
    for (const char16_t c : text) {
        char code[16];
        if (c == u'\0') {
            out += "\\0";
        } else if (c == u'\\' || c == u'"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0xD800 && c <= 0xDFFF) || c == kUnwritten) {
            std::snprintf(code, sizeof code, "\\u{%04X}", static_cast<unsigned>(c));
            out += code;
        } else {
            out += ToUtf8(std::u16string(1, c));
        }
    }
    return out;
}

// Splits a question line into words and quoted strings (kept with their quotes).
std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string token;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t' && line[i] != '\r'))) {
            if (line[i] == '"') quoted = !quoted;
            if (quoted && line[i] == '\\' && i + 1 < line.size()) token += line[i++];
            token += line[i++];
        }
        if (quoted) throw std::runtime_error("unterminated string");
        tokens.push_back(token);
    }
    return tokens;
}

std::u16string Unquote(const std::string& token) {
    if (token.size() < 2 || token.front() != '"' || token.back() != '"')
        throw std::runtime_error("expected a quoted string: " + token);
    std::u16string out;
    std::string literal;
    auto flush = [&] {
        out += FromUtf8(literal);
        literal.clear();
    };
    for (std::size_t i = 1; i + 1 < token.size(); ++i) {
        if (token[i] != '\\') {
            literal += token[i];
            continue;
        }
        flush();
        const char e = token[++i];
        if (e == '0') out += u'\0';
        else if (e == 't') out += u'\t';
        else if (e == 'r') out += u'\r';
        else if (e == 'n') out += u'\n';
        else if (e == '\\' || e == '"') out += static_cast<char16_t>(e);
        else if (e == 'u' && token[i + 1] == '{') {
            const std::size_t close = token.find('}', i);
            out += static_cast<char16_t>(std::stoul(token.substr(i + 2, close - i - 2), nullptr, 16));
            i = close;
        } else {
            throw std::runtime_error("unknown escape in " + token);
        }
    }
    flush();
    return out;
}

std::optional<std::u16string> Argument(const std::string& token) {
    if (token == "null") return std::nullopt;
    return Unquote(token);
}

struct Question {
    int line = 0;
    std::string text;
    std::string kind;
    std::optional<std::u16string> section;
    std::optional<std::u16string> key;
    std::optional<std::u16string> fallback;
    std::uint32_t size = 0;
    std::uint32_t count = 0;
    bool checkBuffer = true;
    std::u16string buffer;
};

Question Parse(const std::string& line, int number) {
    const std::vector<std::string> t = Tokens(line);
    Question q;
    q.line = number;
    q.text = line;
    q.kind = t.at(0);
    std::size_t at = 1;
    if (q.kind == "keys" || q.kind == "value") q.section = Argument(t.at(at++));
    if (q.kind == "value") q.key = Argument(t.at(at++));
    if (q.kind == "keys" || q.kind == "value") q.fallback = Argument(t.at(at++));
    if (q.kind != "sections" && q.kind != "keys" && q.kind != "value")
        throw std::runtime_error("unknown question " + q.kind);
    q.size = static_cast<std::uint32_t>(std::stoul(t.at(at++)));
    if (t.at(at++) != "=>") throw std::runtime_error("expected =>");
    q.count = static_cast<std::uint32_t>(std::stoul(t.at(at++)));
    if (t.at(at) == "*") {
        q.checkBuffer = false;
        return q;
    }
    for (; at < t.size(); ++at) {
        if (t[at] == "+") continue;
        std::string part = t[at];
        std::size_t repeat = 1;
        const std::size_t star = part.find('*');
        if (part.front() != '"' && star != std::string::npos) {
            repeat = std::stoul(part.substr(0, star));
            part = part.substr(star + 1);
        }
        const std::u16string piece = Unquote(part);
        for (std::size_t r = 0; r < repeat; ++r) q.buffer += piece;
    }
    return q;
}

std::vector<Question> ReadQuestions(const std::string& path) {
    std::istringstream in(ReadTextFile(path));
    std::vector<Question> questions;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
        try {
            questions.push_back(Parse(line, number));
        } catch (const std::exception& e) {
            ADD_FAILURE() << path << ":" << number << ": " << e.what();
        }
    }
    return questions;
}

const char16_t* Pointer(const std::optional<std::u16string>& text) { return text ? text->c_str() : nullptr; }

struct Answer {
    std::uint32_t count = 0;
    std::vector<char16_t> cells;  // the buffer and the guard cells after it
};

Answer Ask(IProfileFiles& files, const std::u16string& path, const char16_t* section, const char16_t* key,
           const char16_t* fallback, std::uint32_t size) {
    Answer answer;
    answer.cells.assign(size + kGuardCells, kUnwritten);
    answer.count = files.GetPrivateProfileString(section, key, fallback, answer.cells.data(), size, path);
    return answer;
}

// Checks one answer: the count, the start of the buffer, and that nothing was
// written past the buffer's end.
void Check(const Question& q, const Answer& a, const std::string& where) {
    EXPECT_EQ(a.count, q.count) << where << ": " << q.text;
    const std::u16string written(a.cells.begin(), a.cells.begin() + q.size);
    if (q.checkBuffer) {
        EXPECT_EQ(Show(written.substr(0, q.buffer.size())), Show(q.buffer)) << where << ": " << q.text;
    }
    for (std::uint32_t i = q.size; i < q.size + kGuardCells; ++i) {
        ASSERT_EQ(a.cells[i], kUnwritten) << where << ": wrote past the buffer: " << q.text;
    }
}

std::u16string Utf16(const std::string& path) { return FromUtf8(path); }

std::vector<std::string> FixtureNames() {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(FixtureDirectory() + "profile")) {
        if (item.path().extension() == ".ini") names.push_back(item.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ProfileFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(ProfileFixture, AnswersAsWrittenDown) {
    const std::string base = FixtureDirectory() + "profile/" + GetParam();
    const std::u16string ini = Utf16(base + ".ini");
    const std::vector<Question> questions = ReadQuestions(base + ".expected");
    ASSERT_FALSE(questions.empty()) << base << ".expected has no questions";
    const auto files = MakeFixtureProfileFiles();
    for (const Question& q : questions) {
        const Answer a = Ask(*files, ini, Pointer(q.section), Pointer(q.key), Pointer(q.fallback), q.size);
        Check(q, a, GetParam() + ".expected:" + std::to_string(q.line));
    }
}

INSTANTIATE_TEST_SUITE_P(Profile, ProfileFixture, ::testing::ValuesIn(FixtureNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// A file that is not there reads as an empty one; a directory, or a file in a
// directory that is not there, cannot be read: the answers are the defaults.
TEST(ProfileFiles, MissingFilesAndDirectoriesGiveDefaults) {
    const auto files = MakeFixtureProfileFiles();
    const std::u16string missing = Utf16(FixtureDirectory() + "profile/no such file.ini");
    const std::u16string directory = Utf16(FixtureDirectory() + "profile");
    const std::u16string missingDirectory = Utf16(FixtureDirectory() + "profile/no such dir/x.ini");

    Answer a = Ask(*files, missing, nullptr, nullptr, nullptr, 10);
    EXPECT_EQ(a.count, 0u);
    EXPECT_EQ(a.cells[0], u'\0');
    for (const auto& path : {missing, directory, missingDirectory}) {
        const std::string where = ToUtf8(path);
        EXPECT_EQ(Ask(*files, path, nullptr, nullptr, nullptr, 10).count, 0u) << where;
        a = Ask(*files, path, u"s", u"k", u"def  ", 10);
        EXPECT_EQ(a.count, 3u) << where;
        EXPECT_EQ(Show(std::u16string(a.cells.data())), "def") << where;
        a = Ask(*files, path, u"s", u"k", nullptr, 10);
        EXPECT_EQ(a.count, 0u) << where;
        EXPECT_EQ(a.cells[0], u'\0') << where;
        a = Ask(*files, path, u"s", nullptr, u"def", 10);
        EXPECT_EQ(a.count, 3u) << where;
        EXPECT_EQ(Show(std::u16string(a.cells.data())), "def") << where;
    }
}

// More section names than the first buffer holds: the first answer is size - 2
// with the list cut and doubly ended; a buffer sized from the file's length
// then holds them all.
TEST(ProfileFiles, SectionNamesBeyondTheFirstBuffer) {
    const auto files = MakeFixtureProfileFiles();
    std::u16string content = u"\xFEFF";
    std::u16string names;
    for (int i = 0; i < 700; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Vendor Product %04d {0F3A-%06d}", i, i * 7);
        const std::u16string wide = FromUtf8(name);
        names += wide + u'\0';
        content += u"[" + wide + u"]\r\nDisplayName=" + wide + u"\r\n";
    }
    ASSERT_GT(names.size(), 16384u);
    std::string bytes;
    for (const char16_t c : content) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    const std::string file = ScratchDirectory() + "many-sections.ini";
    WriteTextFile(file, bytes);
    const std::u16string path = Utf16(file);
    files->WritePrivateProfileString(nullptr, nullptr, nullptr, path);

    Answer a = Ask(*files, path, nullptr, nullptr, nullptr, 16384);
    EXPECT_EQ(a.count, 16382u);
    EXPECT_EQ(Show(std::u16string(a.cells.begin(), a.cells.begin() + 16384)),
              Show(names.substr(0, 16382) + std::u16string(2, u'\0')));

    std::string measured;
    ASSERT_TRUE(files->ReadAllBytes(path, measured));
    EXPECT_EQ(measured, bytes);
    const auto size = static_cast<std::uint32_t>(measured.size() / 2 + 2);
    a = Ask(*files, path, nullptr, nullptr, nullptr, size);
    EXPECT_EQ(a.count, names.size());
    EXPECT_EQ(Show(std::u16string(a.cells.begin(), a.cells.begin() + names.size() + 1)),
              Show(names + u'\0'));

    a = Ask(*files, path, u"vendor product 0699 {0f3a-004893}", u"displayname", u"", 2048);
    EXPECT_EQ(Show(std::u16string(a.cells.data())), "Vendor Product 0699 {0F3A-004893}");
    std::filesystem::remove(file);
}

// Attributes, searching and deleting report the Windows error codes.
TEST(ProfileFiles, FileOperationsReportWindowsCodes) {
    const auto files = MakeFixtureProfileFiles();
    const std::u16string fixture = Utf16(FixtureDirectory() + "profile/basic.ini");
    const std::u16string directory = Utf16(FixtureDirectory() + "profile");

    const std::uint32_t fileAttributes = files->GetFileAttributes(fixture);
    ASSERT_NE(fileAttributes, kInvalidFileAttributes);
    EXPECT_EQ(fileAttributes & kFileAttributeDirectory, 0u);
    EXPECT_NE(files->GetFileAttributes(directory) & kFileAttributeDirectory, 0u);

    EXPECT_EQ(files->GetFileAttributes(directory + u"/missing.ini"), kInvalidFileAttributes);
    EXPECT_EQ(files->LastError(), kErrorFileNotFound);
    EXPECT_EQ(files->GetFileAttributes(directory + u"/missing/x.ini"), kInvalidFileAttributes);
    EXPECT_EQ(files->LastError(), kErrorPathNotFound);
    EXPECT_EQ(files->GetFileAttributes(fixture + u"/x.ini"), kInvalidFileAttributes);
    EXPECT_EQ(files->LastError(), kErrorPathNotFound);

    std::uint32_t found = 0;
    const std::uintptr_t handle = files->FindFirstFile(fixture, &found);
    ASSERT_NE(handle, kInvalidFindHandle);
    EXPECT_EQ(found, fileAttributes);
    EXPECT_TRUE(files->FindClose(handle));
    EXPECT_EQ(files->FindFirstFile(directory + u"/missing.ini", &found), kInvalidFindHandle);
    EXPECT_EQ(files->LastError(), kErrorFileNotFound);
    EXPECT_EQ(files->FindFirstFile(directory + u"/missing/x.ini", &found), kInvalidFindHandle);
    EXPECT_EQ(files->LastError(), kErrorPathNotFound);

    const std::string scratch = ScratchDirectory();
    const std::string file = scratch + "delete-me.ini";
    WriteTextFile(file, "[s]\r\nk=v\r\n");
    const std::u16string path = Utf16(file);
    EXPECT_TRUE(files->DeleteFile(path));
    EXPECT_EQ(files->GetFileAttributes(path), kInvalidFileAttributes);
    EXPECT_EQ(files->LastError(), kErrorFileNotFound);
    EXPECT_FALSE(files->DeleteFile(path));
    EXPECT_EQ(files->LastError(), kErrorFileNotFound);
    EXPECT_FALSE(files->DeleteFile(Utf16(scratch + "no such dir/x.ini")));
    EXPECT_EQ(files->LastError(), kErrorPathNotFound);
    EXPECT_FALSE(files->DeleteFile(Utf16(scratch)));
    EXPECT_EQ(files->LastError(), kErrorAccessDenied);
}

TEST(ProfileFiles, TempPathEndsWithSeparatorAndReportsTheSizeNeeded) {
    const auto files = MakeFixtureProfileFiles();
    const std::uint32_t needed = files->GetTempPath(0, nullptr);
    ASSERT_GT(needed, 1u);
    std::vector<char16_t> buffer(needed + kGuardCells, kUnwritten);
    EXPECT_EQ(files->GetTempPath(needed - 1, buffer.data()), needed);
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(buffer[needed - 1], kUnwritten);
    EXPECT_EQ(files->GetTempPath(needed, buffer.data()), needed - 1);
    EXPECT_EQ(buffer[needed - 1], u'\0');
    EXPECT_TRUE(buffer[needed - 2] == u'\\' || buffer[needed - 2] == u'/');
    EXPECT_EQ(buffer[needed], kUnwritten);
    const std::u16string text(buffer.data());
    EXPECT_NE(files->GetFileAttributes(text) & kFileAttributeDirectory, 0u) << ToUtf8(text);
}

}  // namespace
}  // namespace velmora::testing
