// Runs the registry scan over every .reg fixture and compares the inventory with
// the fixture's expected result. The same source runs natively and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "CountingRegistry.h"
#include "FixtureRegistry.h"

namespace velmora::testing {
namespace {

std::vector<std::string> FixtureNames() {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(FixtureDirectory() + "registry")) {
        if (item.path().extension() == ".reg") names.push_back(item.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct ScanResult {
    std::string refreshed;     // inventory after Refresh on an existing inventory
    std::string created;       // inventory of a new inventory, or its error
    long openKeysAfter = 0;
    int writeRequests = 0;
    int rootCloses = 0;
};

// Creates an inventory on an empty Uninstall key, imports the fixture and
// refreshes it (so entries kept before an error stay observable), then creates a
// second inventory over the same registry.
ScanResult Scan(FixtureRegistry& fixture, const std::string& regFile) {
    fixture.ResetUninstallKey();
    CountingRegistry registry(fixture.Registry());
    ScanResult result;
    TOrvUninstallReader reader(registry);
    EXPECT_EQ(reader.Entries.Count(), 0u) << "the Uninstall key was not emptied";
    fixture.Import(regFile);

    std::string error;
    try {
        reader.Refresh();
    } catch (const ERegistryException& e) {
        error = e.what();
    }
    result.refreshed = DescribeInventory(reader.Entries, error);

    try {
        TOrvUninstallReader created(registry);
        result.created = DescribeInventory(created.Entries, "");
    } catch (const ERegistryException& e) {
        result.created = DescribeInventory(TOrvUninstallList(), e.what());
    }
    result.openKeysAfter = registry.OpenKeys();
    result.writeRequests = registry.WriteRequests();
    result.rootCloses = registry.RootCloses();
    return result;
}

class RegistryFixture : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() { registry_ = MakeFixtureRegistry().release(); }
    static void TearDownTestSuite() {
        registry_->ResetUninstallKey();
        delete registry_;
        registry_ = nullptr;
    }
    static FixtureRegistry* registry_;
};
FixtureRegistry* RegistryFixture::registry_ = nullptr;

TEST_P(RegistryFixture, ScanGivesExpectedInventory) {
    const std::string base = FixtureDirectory() + "registry/" + GetParam();
    const std::string expected = NormaliseExpected(ReadTextFile(base + ".expected"));
    const ScanResult result = Scan(*registry_, base + ".reg");

    EXPECT_EQ(result.refreshed, expected);
    // A new inventory either holds the same entries or fails with the same error
    // and no entries at all.
    const auto errorAt = expected.find("error=");
    const std::string expectedCreated = errorAt == std::string::npos ? expected : expected.substr(errorAt);
    EXPECT_EQ(result.created, expectedCreated);
    EXPECT_EQ(result.openKeysAfter, 0) << "keys left open";
    EXPECT_EQ(result.writeRequests, 0) << "a key was opened with more than read access";
    EXPECT_EQ(result.rootCloses, 0) << "a predefined root key was closed";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RegistryFixture, ::testing::ValuesIn(FixtureNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace_if(name.begin(), name.end(),
                                             [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                             return name;
                         });

// A thousand entries, generated: keys enumerate in name order while their display
// names run the other way, every tenth entry is a system component and every
// seventh has no uninstall command line.
TEST_F(RegistryFixture, ThousandEntriesKeepEnumerationOrder) {
    std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n";
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        char key[16];
        char display[32];
        std::snprintf(key, sizeof key, "Product%04d", i);
        std::snprintf(display, sizeof display, "Display %04d", 999 - i);
        reg += std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
               key + "]\r\n";
        reg += std::string("\"DisplayName\"=\"") + display + "\"\r\n";
        reg += std::string("\"Publisher\"=\"Vendor ") + std::to_string(i % 13) + "\"\r\n";
        if (i % 7 != 0) reg += std::string("\"UninstallString\"=\"C:\\\\Apps\\\\") + key + "\\\\uninst.exe\"\r\n";
        if (i % 10 == 0) reg += "\"SystemComponent\"=dword:00000001\r\n";
        reg += "\r\n";
        if (i % 7 != 0 && i % 10 != 0) {
            expected += std::string("entry\n  Comments=\n  DisplayIcon=\n  DisplayName=") + display +
                        "\n  Publisher=Vendor " + std::to_string(i % 13) + "\n  KeyName=" + key +
                        "\n  UninstallString=C:\\\\Apps\\\\" + key + "\\\\uninst.exe\n";
        }
    }
    const std::string file = ScratchDirectory() + "thousand.reg";
    WriteTextFile(file, reg);
    const ScanResult result = Scan(*registry_, file);
    std::filesystem::remove(file);
    EXPECT_EQ(result.refreshed, expected);
    EXPECT_EQ(result.created, expected);
    EXPECT_EQ(result.openKeysAfter, 0);
}

}  // namespace
}  // namespace velmora::testing
