// The scan against registries no one would write by hand: ten thousand entries,
// the longest names and values the registry allows, and an enumeration that
// refuses some names. Every entry that can be read must come through whole, in
// enumeration order, and no key may stay open.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "CountingRegistry.h"
#include "platform/MemoryRegistry.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::testing {
namespace {

const std::u16string kUninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::u16string Numbered(const char* format, int i) {
    char text[64];
    std::snprintf(text, sizeof text, format, i);
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

std::vector<std::u16string> KeyNames(const TOrvUninstallReader& inventory) {
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < inventory.Entries.Count(); ++i) names.push_back(inventory.Entries[i]->KeyName);
    return names;
}

TEST(RegistryFaults, TenThousandEntriesAllArriveInEnumerationOrder) {
    MemoryRegistry registry;
    std::vector<std::u16string> expected;
    // Created in reverse so that the order comes from the enumeration, not from insertion.
    for (int i = 9999; i >= 0; --i) {
        const std::u16string key = Numbered("{%08X-0000-4000-8000-000000000000}", i * 7919 % 10000);
        registry.SetString(kHKeyLocalMachine, kUninstall + u"\\" + key, u"UninstallString", u"MsiExec.exe /X" + key);
        if (i % 100 != 0) registry.SetString(kHKeyLocalMachine, kUninstall + u"\\" + key, u"DisplayName", key);
    }
    for (int i = 0; i < 10000; ++i) expected.push_back(Numbered("{%08X-0000-4000-8000-000000000000}", i));

    CountingRegistry counting(registry);
    TOrvUninstallReader inventory(counting);
    ASSERT_EQ(KeyNames(inventory), expected);
    for (std::size_t i = 0; i < inventory.Entries.Count(); ++i) {
        const TOrvUninstallInfo& entry = *inventory.Entries[i];
        ASSERT_EQ(entry.UninstallString, u"MsiExec.exe /X" + expected[i]);
        ASSERT_EQ(entry.DisplayName, expected[i]);  // given, or taken from the key name
    }
    EXPECT_EQ(counting.OpenKeys(), 0);
    EXPECT_EQ(counting.WriteRequests(), 0);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(RegistryFaults, LongestKeyNamesAndValuesComeThroughWhole) {
    MemoryRegistry registry;
    const std::u16string longName(255, u'N');
    const std::u16string longText(32767, u'v');
    const std::u16string longest = kUninstall + u"\\" + longName;
    registry.SetString(kHKeyLocalMachine, longest, u"UninstallString", longText);
    registry.SetString(kHKeyLocalMachine, longest, u"Comments", longText);
    registry.SetString(kHKeyLocalMachine, longest, u"Publisher", longText + u"tail", kRegExpandSz);
    // A short name sorts first; the name buffer must still hold the long one.
    registry.SetString(kHKeyLocalMachine, kUninstall + u"\\A", u"UninstallString", u"a.exe");
    // 32,767 characters without a terminating null, then an odd byte.
    std::vector<std::uint8_t> unterminated(32767 * 2 + 1, 0x77);
    registry.SetValue(kHKeyLocalMachine, kUninstall + u"\\A", u"DisplayName", kRegSz, unterminated);

    TOrvUninstallReader inventory(registry);
    ASSERT_EQ(KeyNames(inventory), (std::vector<std::u16string>{u"A", longName}));
    EXPECT_EQ(inventory.Entries[0]->DisplayName, std::u16string(32767, u'\x7777'));
    const TOrvUninstallInfo& entry = *inventory.Entries[1];
    EXPECT_EQ(entry.UninstallString, longText);
    EXPECT_EQ(entry.Comments, longText);
    EXPECT_EQ(entry.Publisher, longText + u"tail");
    EXPECT_EQ(entry.DisplayName, longName);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

// Refuses to give the name at chosen indexes of the Uninstall key's enumeration,
// with a chosen error.
class RefusingRegistry final : public IRegistry {
public:
    RefusingRegistry(MemoryRegistry& inner, std::set<std::uint32_t> refused, long error)
        : inner_(inner), refused_(std::move(refused)), error_(error) {}
    long OpenKey(RegKey parent, const std::u16string& subKey, std::uint32_t sam, RegKey* result) override {
        return inner_.OpenKey(parent, subKey, sam, result);
    }
    long QueryInfoKey(RegKey key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) override {
        return inner_.QueryInfoKey(key, subKeys, maxSubKeyLen);
    }
    long EnumKey(RegKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLen) override {
        if (refused_.count(index)) {
            // What a failing call may leave in the buffer must not be taken for a name.
            if (name && nameLen && *nameLen > 3) name[0] = u'X', name[1] = u'Y', name[2] = u'\0';
            return error_;
        }
        return inner_.EnumKey(key, index, name, nameLen);
    }
    long QueryValue(RegKey key, const std::u16string& valueName, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* dataSize) override {
        return inner_.QueryValue(key, valueName, type, data, dataSize);
    }
    long CloseKey(RegKey key) override { return inner_.CloseKey(key); }

private:
    MemoryRegistry& inner_;
    std::set<std::uint32_t> refused_;
    long error_;
};

TEST(RegistryFaults, ASubkeyWhoseNameTheEnumerationRefusesIsPassedOver) {
    MemoryRegistry registry;
    for (const char16_t* key : {u"A", u"B", u"C", u"D"})
        registry.SetString(kHKeyLocalMachine, kUninstall + u"\\" + key, u"UninstallString", u"x.exe");
    for (const long error : {kErrorAccessDenied, kErrorMoreData, kErrorInvalidParameter, kErrorKeyDeleted}) {
        SCOPED_TRACE(error);
        RefusingRegistry refusing(registry, {0, 2}, error);
        TOrvUninstallReader inventory(refusing);
        EXPECT_EQ(KeyNames(inventory), (std::vector<std::u16string>{u"B", u"D"}));
        EXPECT_EQ(registry.OpenHandleCount(), 0u);
    }
    // An enumeration that ends early (ERROR_NO_MORE_ITEMS before the count) loses
    // only what it did not give.
    RefusingRegistry ending(registry, {2, 3}, kErrorNoMoreItems);
    TOrvUninstallReader inventory(ending);
    EXPECT_EQ(KeyNames(inventory), (std::vector<std::u16string>{u"A", u"B"}));
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(RegistryFaults, ANameWithANullInsideIsNotTakenForTheKeyBeforeTheNull) {
    MemoryRegistry registry;
    const std::u16string hidden(u"Foo\0hidden", 10);
    registry.SetString(kHKeyLocalMachine, kUninstall + u"\\Foo", u"UninstallString", u"foo.exe");
    registry.SetString(kHKeyLocalMachine, kUninstall + u"\\" + hidden, u"UninstallString", u"hidden.exe");
    registry.SetString(kHKeyLocalMachine, kUninstall + u"\\Zed", u"UninstallString", u"zed.exe");
    ASSERT_EQ(registry.SubKeyNames(kHKeyLocalMachine, kUninstall).size(), 3u);

    TOrvUninstallReader inventory(registry);
    // Cut at its null, the name would open "Foo" a second time.
    ASSERT_EQ(KeyNames(inventory), (std::vector<std::u16string>{u"Foo", u"Zed"}));
    EXPECT_EQ(inventory.Entries[0]->UninstallString, u"foo.exe");
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace velmora::testing
