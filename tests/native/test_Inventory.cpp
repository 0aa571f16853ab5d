// The inventory's scan against the in-memory registry: what the shared fixtures
// cannot show, because it needs the registry to change under the scan or keys
// with narrowed rights.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/MemoryRegistry.h"
#include "unitOrvUninstallClasses.h"

namespace velmora {
namespace {

const std::u16string kUninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class InventoryScan : public ::testing::Test {
protected:
    void AddProduct(const std::u16string& key, const std::u16string& displayName) {
        const std::u16string path = kUninstall + u"\\" + key;
        registry.SetString(kHKeyLocalMachine, path, u"DisplayName", displayName);
        registry.SetString(kHKeyLocalMachine, path, u"UninstallString", key + u".exe /x");
    }
    std::vector<std::u16string> KeyNames(const TOrvUninstallReader& reader) {
        std::vector<std::u16string> names;
        for (std::size_t i = 0; i < reader.Entries.Count(); ++i) names.push_back(reader.Entries[i]->KeyName);
        return names;
    }
    std::string Message(const ERegistryException& e) { return e.what(); }

    MemoryRegistry registry;
};

TEST_F(InventoryScan, OpensWithTheFirstReadMaskTheKeyGrants) {
    registry.CreateKey(kHKeyLocalMachine, u"Narrow");
    registry.SetKeyAccess(kHKeyLocalMachine, u"Narrow", kKeyQueryValue);
    registry.CreateKey(kHKeyLocalMachine, u"NoNotify");
    registry.SetKeyAccess(kHKeyLocalMachine, u"NoNotify", 0x20009);
    registry.CreateKey(kHKeyLocalMachine, u"Closed");
    registry.SetKeyAccess(kHKeyLocalMachine, u"Closed", 0);

    RegistryReader reader(registry, kHKeyLocalMachine);
    auto masksFor = [&](const std::u16string& path) {
        registry.ClearCalls();
        const bool opened = reader.OpenKeyReadOnly(path);
        std::vector<std::uint32_t> masks;
        for (const auto& call : registry.Calls()) {
            if (call.op == MemoryRegistry::Op::Open) masks.push_back(call.sam);
        }
        return std::make_pair(opened, masks);
    };
    EXPECT_EQ(masksFor(u"\\Narrow"), std::make_pair(true, std::vector<std::uint32_t>{0x20019, 0x20009, 0x1}));
    EXPECT_EQ(masksFor(u"\\NoNotify"), std::make_pair(true, std::vector<std::uint32_t>{0x20019, 0x20009}));
    EXPECT_EQ(masksFor(u"\\Closed"), std::make_pair(false, std::vector<std::uint32_t>{0x20019, 0x20009, 0x1}));
    // A failed open keeps the key that was current, and the earlier one was closed.
    EXPECT_EQ(reader.CurrentPath(), u"NoNotify");
    EXPECT_EQ(registry.OpenHandleCount(), 1u);
}

TEST_F(InventoryScan, PathsFromTheRootOrFromTheCurrentKey) {
    registry.CreateKey(kHKeyLocalMachine, u"A\\B\\C");
    registry.CreateKey(kHKeyLocalMachine, u"C");
    RegistryReader reader(registry, kHKeyLocalMachine);

    ASSERT_TRUE(reader.OpenKeyReadOnly(u"A"));  // nothing open yet: from the root
    EXPECT_EQ(reader.CurrentPath(), u"A");
    ASSERT_TRUE(reader.OpenKeyReadOnly(u"B\\C"));  // relative to A
    EXPECT_EQ(reader.CurrentPath(), u"A\\B\\C");
    EXPECT_FALSE(reader.OpenKeyReadOnly(u"C"));  // A\B\C\C does not exist
    ASSERT_TRUE(reader.OpenKeyReadOnly(u"\\C"));
    EXPECT_EQ(reader.CurrentPath(), u"C");
}

TEST_F(InventoryScan, ReadsEachEntryInAFixedOrderAndNothingMore) {
    AddProduct(u"Only", u"Only Product");
    registry.ClearCalls();
    TOrvUninstallReader reader(registry);

    std::vector<std::u16string> reads;
    for (const auto& call : registry.Calls()) {
        if (call.op == MemoryRegistry::Op::QueryValue) reads.push_back(call.name + (call.dataRequested ? u"+" : u"?"));
    }
    // Size query then data read for each text; existence tests for the filters.
    const std::vector<std::u16string> expected = {
        u"UninstallString?", u"UninstallString+", u"NoRemove?", u"SystemComponent?", u"Comments?",
        u"DisplayIcon?",     u"DisplayName?",     u"DisplayName+", u"Publisher?"};
    EXPECT_EQ(reads, expected);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(InventoryScan, KeyRemovedAfterListingIsPassedOver) {
    AddProduct(u"A", u"First");
    AddProduct(u"B", u"Removed meanwhile");
    AddProduct(u"C", u"Third");
    registry.SetHook([&](const MemoryRegistry::Call& call) {
        if (call.op == MemoryRegistry::Op::Open && call.Target() == kUninstall + u"\\B") {
            registry.DeleteKey(kHKeyLocalMachine, kUninstall + u"\\B");
        }
    });
    TOrvUninstallReader reader(registry);
    EXPECT_EQ(KeyNames(reader), (std::vector<std::u16string>{u"A", u"C"}));
    EXPECT_EQ(reader.Entries[1]->DisplayName, u"Third");
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(InventoryScan, FailedOpenReadsNothingFromThePreviousKey) {
    AddProduct(u"A", u"First");
    AddProduct(u"B", u"Locked");
    AddProduct(u"C", u"Third");
    registry.SetKeyAccess(kHKeyLocalMachine, kUninstall + u"\\B", 0);
    registry.ClearCalls();
    TOrvUninstallReader reader(registry);
    EXPECT_EQ(KeyNames(reader), (std::vector<std::u16string>{u"A", u"C"}));

    // After the three failed attempts on B, the next call opens C.
    const auto& calls = registry.Calls();
    std::size_t lastOpenOfB = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].op == MemoryRegistry::Op::Open && calls[i].Target() == kUninstall + u"\\B") lastOpenOfB = i;
    }
    ASSERT_LT(lastOpenOfB + 1, calls.size());
    EXPECT_EQ(calls[lastOpenOfB + 1].op, MemoryRegistry::Op::Open);
    EXPECT_EQ(calls[lastOpenOfB + 1].Target(), kUninstall + u"\\C");
}

TEST_F(InventoryScan, SubkeyRenamedDuringEnumerationIsSkippedNotTruncated) {
    AddProduct(u"A", u"First");
    AddProduct(u"B", u"Renamed");
    AddProduct(u"C", u"Third");
    bool renamed = false;
    registry.SetHook([&](const MemoryRegistry::Call& call) {
        if (call.op == MemoryRegistry::Op::Enum && call.index == 1 && !renamed) {
            renamed = true;
            registry.DeleteKey(kHKeyLocalMachine, kUninstall + u"\\B");
            AddProduct(u"B_renamed_to_a_much_longer_name", u"Longer");
        }
    });
    TOrvUninstallReader reader(registry);
    // Index 1 now holds a name longer than the buffer: skipped; index 2 is "C".
    EXPECT_EQ(KeyNames(reader), (std::vector<std::u16string>{u"A", u"C"}));
}

TEST_F(InventoryScan, UnlistableUninstallKeyGivesAnEmptyInventory) {
    AddProduct(u"A", u"First");
    // Values only: the key opens with the last mask, but its subkeys cannot be listed.
    registry.SetKeyAccess(kHKeyLocalMachine, kUninstall, kKeyQueryValue);
    TOrvUninstallReader narrow(registry);
    EXPECT_EQ(narrow.Entries.Count(), 0u);

    registry.SetKeyAccess(kHKeyLocalMachine, kUninstall, 0);
    TOrvUninstallReader closed(registry);
    EXPECT_EQ(closed.Entries.Count(), 0u);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(InventoryScan, ValueGrowingBetweenItsTwoReadsEndsTheScan) {
    AddProduct(u"A", u"First");
    AddProduct(u"B", u"Grows");
    AddProduct(u"C", u"Third");
    auto grow = [&](const MemoryRegistry::Call& call) {
        if (call.op == MemoryRegistry::Op::QueryValue && call.dataRequested && call.name == u"DisplayName" &&
            call.path == kUninstall + u"\\B") {
            registry.SetString(kHKeyLocalMachine, kUninstall + u"\\B", u"DisplayName", u"Grows a lot longer");
        }
    };
    TOrvUninstallReader reader(registry);
    registry.SetHook(grow);
    try {
        reader.Refresh();
        FAIL() << "the scan went on";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(Message(e), "Failed to get data for 'DisplayName'");
    }
    EXPECT_EQ(KeyNames(reader), std::vector<std::u16string>{u"A"});
    EXPECT_EQ(registry.OpenHandleCount(), 0u);

    // The same failure while the inventory is being created leaves no inventory.
    AddProduct(u"B", u"Grows");
    EXPECT_THROW(TOrvUninstallReader again(registry), ERegistryException);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(InventoryScan, RefreshDropsEveryEntryOfEarlierLoads) {
    AddProduct(u"A", u"First");
    TOrvUninstallReader reader(registry);
    auto extra = std::make_unique<TOrvUninstallInfo>();
    extra->DisplayName = u"From elsewhere";
    reader.Entries.Add(std::move(extra));
    ASSERT_EQ(reader.Entries.Count(), 2u);
    reader.Refresh();
    EXPECT_EQ(KeyNames(reader), std::vector<std::u16string>{u"A"});
    reader.Clear();
    reader.Clear();
    EXPECT_EQ(reader.Entries.Count(), 0u);
}

TEST_F(InventoryScan, IntegersAreSignedLittleEndianAndMissingOnesFail) {
    registry.SetValue(kHKeyLocalMachine, u"K", u"Minus", kRegDword, {0xFE, 0xFF, 0xFF, 0xFF});
    registry.SetValue(kHKeyLocalMachine, u"K", u"Big", kRegDword, {0x78, 0x56, 0x34, 0x12});
    registry.SetValue(kHKeyLocalMachine, u"K", u"Empty", kRegNone, {});
    RegistryReader reader(registry, kHKeyLocalMachine);
    try {
        reader.ReadInteger(u"Big");  // no key open yet
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_EQ(Message(e), "Failed to get data for 'Big'");
    }
    EXPECT_EQ(reader.ReadString(u"Big"), u"");
    ASSERT_TRUE(reader.OpenKeyReadOnly(u"\\K"));
    EXPECT_EQ(reader.ReadInteger(u"Minus"), -2);
    EXPECT_EQ(reader.ReadInteger(u"Big"), 0x12345678);
    EXPECT_TRUE(reader.ValueExists(u"Empty"));
    EXPECT_FALSE(reader.ValueExists(u"Absent"));
    EXPECT_THROW(reader.ReadInteger(u"Absent"), ERegistryException);
}

}  // namespace
}  // namespace velmora
