// The fixtures against the real (Wine) registry and profile functions: every
// registry/*.reg imported with reg.exe and scanned, every handoff/*.ini loaded as
// the hand-off file, each compared with its .expected inventory; the load also
// against five GetPrivateProfileStringW calls per section on generated files.
// Velmora.exe and Drisk.x64 share the scan and the load; this 64-bit program
// reads the 64-bit view. Last, Drisk.x64 itself over the companion fixtures.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <random>

#include "Support.h"
#include "unitOrvCInstallUtils.h"

namespace velmora::testing {
std::vector<std::string> Fixtures(const wchar_t* kind, const char* extension) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(FixtureDirectory() + kind))
        if (item.path().extension() == extension) names.push_back(item.path().stem().string());
    return names;
}

// An inventory made over an empty key, then refreshed over the fixture, so that
// what a failing scan appended before its error stays visible.
class RegistryFixture : public ::testing::TestWithParam<std::string> {};
TEST_P(RegistryFixture, ScanGivesTheExpectedInventory) {
    const std::wstring base = FixtureDirectory() + L"registry/" + Wide(GetParam());
    ClearUninstallKeys(64);
    TOrvUninstallReader inventory;
    ImportRegFile(base + L".reg", 64);
    std::string error;
    try {
        inventory.Refresh();
    } catch (const ERegistryException& e) {
        error = e.what();
    }
    EXPECT_EQ(DescribeInventory(inventory.Entries, error), Expected(base + L".expected"));
}
INSTANTIATE_TEST_SUITE_P(Registry, RegistryFixture, ::testing::ValuesIn(Fixtures(L"registry", ".reg")));

std::string Load() {
    TOrvUninstallReader inventory;
    inventory.Clear();
    inventory.LoadFromHandOffFile();
    return DescribeInventory(inventory.Entries, "");
}

// The read that the load's one section call per entry replaced, as its
// reference: the names, then GetPrivateProfileStringW for each value into 2,048
// characters.
std::string FiveCallRead(const std::wstring& path) {
    std::vector<wchar_t> names(ReadFileBytes(path).size() + 2);
    GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()), path.c_str());
    TOrvUninstallList entries;
    for (const wchar_t* name = names.data(); *name; name += wcslen(name) + 1) {
        auto entry = std::make_unique<TOrvUninstallInfo>();
        for (const auto& [key, field] : {std::pair{L"Comment", &entry->Comments},
                                         {L"DisplayIcon", &entry->DisplayIcon},
                                         {L"DisplayName", &entry->DisplayName},
                                         {L"Publisher", &entry->Publisher},
                                         {L"UninstallString", &entry->UninstallString}}) {
            wchar_t value[2048];
            const DWORD placed = GetPrivateProfileStringW(name, key, L"", value, 2048, path.c_str());
            *field = FromWide(std::wstring(value, std::min<DWORD>(placed, 2047)));
        }
        entries.Add(std::move(entry));
    }
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
    return DescribeInventory(entries, "");
}

class HandOffFixture : public ::testing::TestWithParam<std::string> {};
TEST_P(HandOffFixture, LoadGivesTheExpectedInventoryAndDeletesTheFile) {
    const std::wstring base = FixtureDirectory() + L"handoff/" + Wide(GetParam());
    ASSERT_TRUE(CopyFileW((base + L".ini").c_str(), HandOffPath().c_str(), FALSE));
    const std::string fiveCalls = FiveCallRead(HandOffPath());
    EXPECT_EQ(Load(), Expected(base + L".expected"));
    EXPECT_EQ(fiveCalls, Expected(base + L".expected"));
    EXPECT_FALSE(FileExists(HandOffPath()));
}
INSTANTIATE_TEST_SUITE_P(HandOff, HandOffFixture, ::testing::ValuesIn(Fixtures(L"handoff", ".ini")));

// A hostile hand-off file in ANSI, UTF-8 or UTF-16: sections of any kind (none,
// repeated, differing in case, blank around the name, unclosed), duplicate keys,
// keys differing in case (or by letters that fold only outside ASCII), lines
// without '=', comments, blank lines, blanks of every kind around names and
// values, quotes at one end, both ends or inside, empty and very long values.
std::string HostileFile(std::mt19937& random) {
    const auto chance = [&](unsigned percent) { return random() % 100 < percent; };
    const auto pick = [&](const auto& options) { return options[random() % std::size(options)]; };
    static const std::u16string blanks[] = {u"", u"", u" ", u"  ", u"\t", u"\v", u"\f", u"\x1A", u"\u00A0", u"\u3000"};
    static const std::u16string ends[] = {u"\r\n", u"\n", u"\r", u"\r\n\r\n"};
    static const std::u16string sections[] = {u"Entry1", u"entry1", u"ENTRY2",        u"Entry3", u"a b",
                                              u"x=y",    u"x]y",    u"\u00C9t\u00E9", u""};
    static const std::u16string keys[] = {u"Comment", u"DisplayIcon", u"DisplayName", u"Publisher", u"UninstallString"};
    static const std::u16string others[] = {u"",
                                            u"Name",
                                            u"DisplayNam",
                                            u"Display Name",
                                            u"#Publisher",
                                            u"[Comment",
                                            u"D\u0130splayName",
                                            u"D\u0131splayIcon",
                                            u"Uninstall\u017Ftring",
                                            u"\uFF23omment"};
    static const std::u16string values[] = {
        u"",        u"plain",     u"\"quoted\"",   u"'single'", u"\"open",
        u"close\"", u"'",         u"\"",           u"\"\"",     u"''",
        u"\"'",     u"'mixed\"",  u"\" inner \"",  u"a\"b\"c",  u"x=y",
        u"=",       u"caf\u00E9", u"\u4E2D\u6587", u"tab\tin",  std::u16string(u"nul\0after", 9)};
    const auto key = [&] {
        if (chance(25)) return pick(others);
        std::u16string name = pick(keys);
        for (char16_t& c : name) c ^= chance(30) ? 0x20 : 0;  // letters only: the case flipped
        return name;
    };
    const auto value = [&] {
        if (!chance(15)) return pick(values);
        const std::u16string quote = pick(std::array<std::u16string, 4>{u"", u"\"", u"'", u"\""});
        return quote + std::u16string(pick(std::array{2045, 2046, 2047, 2048, 2049, 2050, 5000}), u'v') +
               (chance(80) ? quote : u"");
    };
    std::u16string text;
    const auto line = [&](const std::u16string& content) {
        text += pick(blanks) + content + pick(blanks) + pick(ends);
    };
    if (chance(20)) line(key() + u"=" + value());  // before any section
    for (int s = random() % 8; s > 0; --s) {
        line(chance(5) ? u"[Unclosed" : u"[" + pick(blanks) + pick(sections) + pick(blanks) + u"]");
        for (int l = random() % 9; l > 0; --l) {
            const unsigned kind = random() % 6;
            line(kind == 0   ? u""
                 : kind == 1 ? u";" + key() + u"=" + value()
                 : kind == 2 ? key()
                             : key() + pick(blanks) + u"=" + pick(blanks) + value());
        }
    }
    // UTF-16, UTF-8 or ANSI.
    const unsigned encoding = random() % 3;
    if (encoding == 1) return "\xEF\xBB\xBF" + ToUtf8(text);
    std::string bytes = encoding == 0 ? "\xFF\xFE" : "";
    for (const char16_t c : text)
        bytes += encoding == 0 ? std::string{char(c & 0xFF), char(c >> 8)} : std::string(1, c < 0x100 ? char(c) : '?');
    return bytes;
}

TEST(HandOffRead, GivesWhatFiveProfileStringCallsPerSectionGiveOnHostileFiles) {
    std::mt19937 random(32);
    for (int file = 0; file < 400; ++file) {
        const std::string bytes = HostileFile(random);
        std::ofstream(std::filesystem::path(HandOffPath()), std::ios::binary) << bytes;
        const std::string fiveCalls = FiveCallRead(HandOffPath());
        ASSERT_EQ(Load(), fiveCalls) << "generated file " << file;
    }
}

// Drisk.x64 itself: what it writes from the real registry reads back through the
// real profile functions as the fixture's expected entries.
TEST(Companion, TheOtherViewAndTheUsersEntriesArriveIntact) {
    ASSERT_TRUE(CopyFileW(Wide(VELMORA_DRISK_PATH).c_str(), (ProgramDirectory() + L"Drisk.x64").c_str(), FALSE));
    ClearUninstallKeys();
    const std::wstring dir = FixtureDirectory() + L"companion/";
    for (const auto& [file, view] : {std::pair{L"view32.reg", 32}, {L"view64.reg", 64}, {L"user.reg", 64}})
        ImportRegFile(dir + file, view);
    ASSERT_EQ(RunAndWait(u"Drisk.x64", SW_HIDE), 0);
    ClearUninstallKeys();  // what is read comes from the file alone
    EXPECT_EQ(Load(), Expected(dir + L"drisk.expected"));
    EXPECT_FALSE(FileExists(HandOffPath()));

    // A file it cannot put in place (a directory holds the name) is given up whole: no temporary file stays.
    ASSERT_TRUE(CreateDirectoryW(HandOffPath().c_str(), nullptr));
    EXPECT_EQ(RunAndWait(u"Drisk.x64", SW_HIDE), 1);
    WIN32_FIND_DATAW found;
    EXPECT_FALSE(unique_hfind(FindFirstFileW((HandOffPath() + L".*.tmp").c_str(), &found)));
    RemoveDirectoryW(HandOffPath().c_str());
    RunProgram(L"cmd.exe /c del \"" + HandOffPath() + L".*.tmp\"");  // what a faulty run may have left
}

}  // namespace velmora::testing
