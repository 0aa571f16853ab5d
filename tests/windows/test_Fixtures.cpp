// The fixtures against the real (Wine) registry and profile functions: every
// registry/*.reg imported with reg.exe and scanned, every handoff/*.ini loaded as
// the hand-off file, each compared with its .expected inventory. Then what only
// a real file can be: held open by another process, read-only, a directory.
// Velmora.exe and Drisk.x64 share the scan and the load; this 64-bit program
// reads the 64-bit view.
#include <gtest/gtest.h>

#include "platform/WindowsHeaders.h"

#include <algorithm>
#include <filesystem>

#include "Support.h"

namespace velmora::testing {
namespace {

std::vector<std::string> Fixtures(const char* kind, const char* extension) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(FixtureDirectory() + Wide(FromUtf8(kind))))
        if (item.path().extension() == extension) names.push_back(item.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Expected(const std::wstring& base) { return NormaliseExpected(ReadFileBytes(base + L".expected")); }

class RegistryFixture : public ::testing::TestWithParam<std::string> {};

// An inventory made over an empty key, then refreshed over the fixture (what a
// failing scan appended stays visible); then a new one, which holds the same
// entries or fails the same way with none.
TEST_P(RegistryFixture, ScanGivesTheExpectedInventory) {
    const std::wstring base = FixtureDirectory() + L"registry/" + Wide(FromUtf8(GetParam()));
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
    const std::string expected = Expected(base);
    EXPECT_EQ(DescribeInventory(inventory.Entries, error), expected);
    std::string created;
    try {
        created = DescribeInventory(TOrvUninstallReader().Entries, "");
    } catch (const ERegistryException& e) {
        created = DescribeInventory(TOrvUninstallList(), e.what());
    }
    const auto errorAt = expected.find("error=");
    EXPECT_EQ(created, errorAt == std::string::npos ? expected : expected.substr(errorAt));
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryFixture, ::testing::ValuesIn(Fixtures("registry", ".reg")));

class HandOffFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(HandOffFixture, LoadGivesTheExpectedInventoryAndDeletesTheFile) {
    const std::wstring base = FixtureDirectory() + L"handoff/" + Wide(FromUtf8(GetParam()));
    ASSERT_TRUE(CopyFileW((base + L".ini").c_str(), HandOffPath().c_str(), FALSE));
    SetFileAttributesW(HandOffPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    TOrvUninstallReader inventory;
    inventory.Clear();
    inventory.LoadFromHandOffFile();
    EXPECT_EQ(DescribeInventory(inventory.Entries, ""), Expected(base));
    EXPECT_FALSE(FileExists(HandOffPath()));
}

INSTANTIATE_TEST_SUITE_P(HandOff, HandOffFixture, ::testing::ValuesIn(Fixtures("handoff", ".ini")));

std::size_t Load() {
    TOrvUninstallReader inventory;
    inventory.Clear();
    inventory.LoadFromHandOffFile();
    return inventory.Entries.Count();
}

const std::string kOneSection = "[Planted]\r\nDisplayName=Planted entry\r\nUninstallString=planted.exe /x\r\n";

// More section names than the first read holds: all are read, in file order.
TEST(HandOffFile, SectionNamesBeyondTheFirstReadAreAllMerged) {
    std::u16string text = u"\xFEFF";
    for (int i = 0; i < 200; ++i) text += u"[" + std::u16string(80, u'v') + U16(std::to_wstring(1000 + i)) + u"]\r\nDisplayName=n\r\n";
    WriteFileBytes(HandOffPath(), std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    TOrvUninstallReader inventory;
    inventory.Clear();
    inventory.LoadFromHandOffFile();
    ASSERT_EQ(inventory.Entries.Count(), 200u);
    EXPECT_EQ(inventory.Entries[199]->DisplayName, u"n");
    EXPECT_FALSE(FileExists(HandOffPath()));
}

TEST(HandOffFile, HeldReadOnlyOrADirectoryItIsNeverLost) {
    WriteFileBytes(HandOffPath(), kOneSection);
    {
        const std::wstring child = L"\"" + ProgramDirectory() + L"velmora_test_child.exe\" --lock \"" + HandOffPath() +
                                   L"\" --sleep 60000";
        STARTUPINFOW startup{sizeof startup};
        PROCESS_INFORMATION holder{};
        ASSERT_TRUE(CreateProcessW(nullptr, &std::wstring(child)[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &holder));
        for (int i = 0; i < 500; ++i, Sleep(20)) {  // until the holder has it
            const HANDLE file = CreateFileW(HandOffPath().c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr);
            if (file == INVALID_HANDLE_VALUE) break;
            CloseHandle(file);
        }
        EXPECT_EQ(Load(), 0u);  // nothing can be read: the file stays for next time
        EXPECT_TRUE(FileExists(HandOffPath()));
        TerminateProcess(holder.hProcess, 1);
        WaitForSingleObject(holder.hProcess, 10000);
        CloseHandle(holder.hProcess);
        CloseHandle(holder.hThread);
    }
    ASSERT_TRUE(SetFileAttributesW(HandOffPath().c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Load(), 1u);
    EXPECT_EQ(Load(), 1u);  // merged every time, never lost
    SetFileAttributesW(HandOffPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Load(), 1u);
    EXPECT_FALSE(FileExists(HandOffPath()));

    ASSERT_TRUE(CreateDirectoryW(HandOffPath().c_str(), nullptr));
    EXPECT_EQ(Load(), 0u);
    EXPECT_NE(GetFileAttributesW(HandOffPath().c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(RemoveDirectoryW(HandOffPath().c_str()));
}

}  // namespace
}  // namespace velmora::testing
