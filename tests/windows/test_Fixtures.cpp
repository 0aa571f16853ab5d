// The fixtures against the real (Wine) registry and profile functions: every
// registry/*.reg imported with reg.exe and scanned, every handoff/*.ini loaded as
// the hand-off file, each compared with its .expected inventory.
// Velmora.exe and Drisk.x64 share the scan and the load; this 64-bit program
// reads the 64-bit view. Last, Drisk.x64 itself over the companion fixtures.
#include <gtest/gtest.h>

#include <filesystem>

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
    ASSERT_EQ(inventory.Entries.Count(), 0u);
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

class HandOffFixture : public ::testing::TestWithParam<std::string> {};
TEST_P(HandOffFixture, LoadGivesTheExpectedInventoryAndDeletesTheFile) {
    const std::wstring base = FixtureDirectory() + L"handoff/" + Wide(GetParam());
    ASSERT_TRUE(CopyFileW((base + L".ini").c_str(), HandOffPath().c_str(), FALSE));
    EXPECT_EQ(Load(), Expected(base + L".expected"));
    EXPECT_FALSE(FileExists(HandOffPath()));
}
INSTANTIATE_TEST_SUITE_P(HandOff, HandOffFixture, ::testing::ValuesIn(Fixtures(L"handoff", ".ini")));

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
