#include "platform/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace velmora;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Enumerates through IRegistry exactly as a caller would.
std::vector<std::u16string> Enumerate(MemoryRegistry& reg, RegKey key) {
    std::vector<std::u16string> names;
    for (std::uint32_t i = 0;; ++i) {
        char16_t buf[300];
        std::uint32_t len = 300;
        const long rc = reg.EnumKey(key, i, buf, &len);
        if (rc == kErrorNoMoreItems) break;
        EXPECT_EQ(rc, kErrorSuccess);
        if (rc != kErrorSuccess) break;
        names.emplace_back(buf, len);
    }
    return names;
}

RegKey Open(MemoryRegistry& reg, RegKey parent, const std::u16string& path,
            std::uint32_t sam = kKeyRead) {
    RegKey key = 0;
    EXPECT_EQ(reg.OpenKey(parent, path, sam, &key), kErrorSuccess);
    return key;
}

}  // namespace

TEST(MemoryRegistryNames, LookupIgnoresCaseButKeepsCreatedCase) {
    MemoryRegistry reg;
    reg.CreateKey(kHKeyLocalMachine, u"SOFTWARE\\Acme Corp");
    reg.CreateKey(kHKeyLocalMachine, u"software\\ACME CORP\\Sub");  // same key
    reg.SetString(kHKeyLocalMachine, u"Software\\acme corp", u"DisplayName", u"one");
    reg.SetString(kHKeyLocalMachine, u"Software\\acme corp", u"DISPLAYNAME", u"two");

    EXPECT_EQ(reg.SubKeyNames(kHKeyLocalMachine, u""), std::vector<std::u16string>{u"SOFTWARE"});
    RegKey key = Open(reg, kHKeyLocalMachine, u"software\\aCmE cOrP");
    EXPECT_EQ(Enumerate(reg, key), std::vector<std::u16string>{u"Sub"});

    auto values = reg.Values(kHKeyLocalMachine, u"SOFTWARE\\Acme Corp");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, u"DisplayName");  // replaced data, original name kept
    std::uint32_t size = 0;
    EXPECT_EQ(reg.QueryValue(key, u"displayname", nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(reg.CloseKey(key), kErrorSuccess);
}

TEST(MemoryRegistryEnum, OrderIsByUpcasedNameNotInsertion) {
    MemoryRegistry reg;
    // Upcased, '_' (0x5F) sorts after every letter; a lowercase comparison would
    // put it before them.
    for (const char16_t* name : {u"Zeta", u"_under", u"A_B", u"beta", u"ab", u"Alpha", u"a",
                                 u"\u00c9cole", u"10", u"9"})
        reg.CreateKey(kHKeyLocalMachine, std::u16string(u"Uninstall\\") + name);
    const std::vector<std::u16string> expected = {u"10",   u"9",    u"a",      u"ab",
                                                  u"Alpha", u"A_B", u"beta",   u"Zeta",
                                                  u"_under", u"\u00c9cole"};
    EXPECT_EQ(reg.SubKeyNames(kHKeyLocalMachine, u"Uninstall"), expected);
    RegKey key = Open(reg, kHKeyLocalMachine, u"Uninstall");
    EXPECT_EQ(Enumerate(reg, key), expected);
    reg.CloseKey(key);
}

TEST(MemoryRegistryEnum, NameBufferMustHoldTheNull) {
    MemoryRegistry reg;
    reg.CreateKey(kHKeyLocalMachine, u"K\\Name5");
    RegKey key = Open(reg, kHKeyLocalMachine, u"K");

    std::uint32_t count = 0, longest = 0;
    EXPECT_EQ(reg.QueryInfoKey(key, &count, &longest), kErrorSuccess);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(longest, 5u);
    EXPECT_EQ(reg.QueryInfoKey(key, nullptr, nullptr), kErrorSuccess);

    // Exactly the name's length: no room for the null.
    std::vector<char16_t> tooSmall(5, u'#');
    std::uint32_t len = 5;
    EXPECT_EQ(reg.EnumKey(key, 0, tooSmall.data(), &len), kErrorMoreData);
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(std::u16string(tooSmall.begin(), tooSmall.end()), u"#####");

    std::vector<char16_t> fits(6, u'#');
    len = 6;
    EXPECT_EQ(reg.EnumKey(key, 0, fits.data(), &len), kErrorSuccess);
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(std::u16string(fits.data()), u"Name5");

    len = 6;
    EXPECT_EQ(reg.EnumKey(key, 1, fits.data(), &len), kErrorNoMoreItems);
    EXPECT_EQ(reg.EnumKey(key, 0xFFFFFFFFu, fits.data(), &len), kErrorNoMoreItems);
    EXPECT_EQ(reg.EnumKey(key, 0, fits.data(), nullptr), kErrorInvalidParameter);
    len = 0;
    EXPECT_EQ(reg.EnumKey(key, 0, fits.data(), &len), kErrorMoreData);
    reg.CloseKey(key);
}

TEST(MemoryRegistryAccess, OpenRefusesRightsTheKeyDoesNotGrant) {
    MemoryRegistry reg;
    reg.CreateKey(kHKeyLocalMachine, u"Locked\\Inner");
    ASSERT_TRUE(reg.SetKeyAccess(kHKeyLocalMachine, u"Locked", kKeyRead));
    EXPECT_FALSE(reg.SetKeyAccess(kHKeyLocalMachine, u"Nope", kKeyRead));

    RegKey key = 0;
    EXPECT_EQ(reg.OpenKey(kHKeyLocalMachine, u"Locked", kKeyAllAccess, &key), kErrorAccessDenied);
    EXPECT_EQ(reg.OpenKey(kHKeyLocalMachine, u"Locked", kKeyRead | kKeySetValue, &key),
              kErrorAccessDenied);
    EXPECT_EQ(reg.OpenKey(kHKeyLocalMachine, u"Locked", kKeyAllAccess | kKeyWow64_32Key, &key),
              kErrorAccessDenied);
    EXPECT_EQ(reg.OpenHandleCount(), 0u);
    // View bits are not rights.
    for (std::uint32_t sam : {kKeyRead, kKeyRead | kKeyWow64_64Key, kKeyRead | kKeyWow64_32Key,
                              kKeyQueryValue, 0x80000000u /* GENERIC_READ */}) {
        ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, u"Locked", sam, &key), kErrorSuccess) << sam;
        reg.CloseKey(key);
    }
    // GENERIC_WRITE stands for KEY_WRITE, which the key does not grant.
    EXPECT_EQ(reg.OpenKey(kHKeyLocalMachine, u"Locked", 0x40000000u, &key), kErrorAccessDenied);
    // The restriction is the key's own: its subkey still grants everything.
    ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, u"Locked\\Inner", kKeyAllAccess, &key), kErrorSuccess);
    reg.CloseKey(key);
    // MAXIMUM_ALLOWED gets what the key grants.
    ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, u"Locked", 0x02000000u, &key), kErrorSuccess);
    EXPECT_EQ(reg.QueryInfoKey(key, nullptr, nullptr), kErrorSuccess);
    reg.CloseKey(key);
}

TEST(MemoryRegistryAccess, HandleMustCarryTheRightForEachCall) {
    MemoryRegistry reg;
    reg.SetDword(kHKeyLocalMachine, u"K\\Sub", u"v", 1);
    RegKey queryOnly = Open(reg, kHKeyLocalMachine, u"K", kKeyQueryValue);
    RegKey enumOnly = Open(reg, kHKeyLocalMachine, u"K", kKeyEnumerateSubKeys);
    char16_t name[16];
    std::uint32_t len = 16;
    EXPECT_EQ(reg.EnumKey(queryOnly, 0, name, &len), kErrorAccessDenied);
    EXPECT_EQ(reg.EnumKey(enumOnly, 0, name, &len), kErrorSuccess);
    EXPECT_EQ(reg.QueryInfoKey(enumOnly, nullptr, nullptr), kErrorAccessDenied);
    EXPECT_EQ(reg.QueryInfoKey(queryOnly, nullptr, nullptr), kErrorSuccess);
    EXPECT_EQ(reg.QueryValue(enumOnly, u"", nullptr, nullptr, nullptr), kErrorAccessDenied);
    // Opening a subkey by path needs nothing on the parent handle.
    RegKey sub = Open(reg, queryOnly, u"Sub", kKeyRead);
    EXPECT_EQ(reg.QueryValue(sub, u"v", nullptr, nullptr, nullptr), kErrorSuccess);
    for (RegKey h : {queryOnly, enumOnly, sub}) reg.CloseKey(h);
}

TEST(MemoryRegistryDeleted, HandlesToDeletedKeysAnswerKeyDeleted) {
    MemoryRegistry reg;
    reg.SetDword(kHKeyLocalMachine, u"App\\Child", u"v", 1);
    RegKey app = Open(reg, kHKeyLocalMachine, u"App");
    RegKey child = Open(reg, kHKeyLocalMachine, u"App\\Child");
    ASSERT_TRUE(reg.DeleteKey(kHKeyLocalMachine, u"APP"));
    EXPECT_FALSE(reg.KeyExists(kHKeyLocalMachine, u"App\\Child"));

    for (RegKey h : {app, child}) {
        RegKey out = 0;
        char16_t name[8];
        std::uint32_t len = 8, size = 0;
        EXPECT_EQ(reg.OpenKey(h, u"", kKeyRead, &out), kErrorKeyDeleted);
        EXPECT_EQ(reg.QueryInfoKey(h, nullptr, nullptr), kErrorKeyDeleted);
        EXPECT_EQ(reg.EnumKey(h, 0, name, &len), kErrorKeyDeleted);
        EXPECT_EQ(reg.QueryValue(h, u"v", nullptr, nullptr, &size), kErrorKeyDeleted);
    }
    RegKey out = 0;
    EXPECT_EQ(reg.OpenKey(app, u"Child", kKeyRead, &out), kErrorKeyDeleted);

    // A new key of the same name is a different key.
    reg.CreateKey(kHKeyLocalMachine, u"App");
    EXPECT_EQ(reg.QueryInfoKey(app, nullptr, nullptr), kErrorKeyDeleted);
    RegKey fresh = Open(reg, kHKeyLocalMachine, u"App");
    EXPECT_EQ(reg.QueryInfoKey(fresh, nullptr, nullptr), kErrorSuccess);

    EXPECT_EQ(reg.OpenHandleCount(), 3u);
    for (RegKey h : {app, child, fresh}) EXPECT_EQ(reg.CloseKey(h), kErrorSuccess);
    EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST(MemoryRegistryHook, MutationsInTheHookShapeTheAnswer) {
    MemoryRegistry reg;
    reg.CreateKey(kHKeyLocalMachine, u"Un\\A");
    reg.CreateKey(kHKeyLocalMachine, u"Un\\B");
    reg.SetString(kHKeyLocalMachine, u"Un\\B", u"Name", u"ab");
    RegKey un = Open(reg, kHKeyLocalMachine, u"Un");
    RegKey b = Open(reg, un, u"B");

    // A key that vanishes between listing and opening.
    reg.SetHook([&](const MemoryRegistry::Call& c) {
        if (c.op == MemoryRegistry::Op::Open && c.Target() == u"Un\\A")
            reg.DeleteKey(kHKeyLocalMachine, u"Un\\A");
    });
    RegKey out = 0;
    EXPECT_EQ(reg.OpenKey(un, u"A", kKeyRead, &out), kErrorFileNotFound);
    EXPECT_EQ(Enumerate(reg, un), std::vector<std::u16string>{u"B"});

    // A value that grows between the size query and the read.
    reg.SetHook([&](const MemoryRegistry::Call& c) {
        if (c.op == MemoryRegistry::Op::QueryValue && c.dataRequested)
            reg.SetString(kHKeyLocalMachine, u"Un\\B", u"Name", u"a much longer name");
    });
    std::uint32_t size = 0;
    ASSERT_EQ(reg.QueryValue(b, u"Name", nullptr, nullptr, &size), kErrorSuccess);
    ASSERT_EQ(size, 6u);
    std::vector<std::uint8_t> buf(size, 0xEE);
    EXPECT_EQ(reg.QueryValue(b, u"Name", nullptr, buf.data(), &size), kErrorMoreData);
    EXPECT_EQ(size, 38u);
    EXPECT_EQ(buf, std::vector<std::uint8_t>(6, 0xEE));

    // A subkey added after QueryInfoKey is listed, longer than the reported maximum.
    reg.SetHook([&](const MemoryRegistry::Call& c) {
        if (c.op == MemoryRegistry::Op::Enum && c.index == 0)
            reg.CreateKey(kHKeyLocalMachine, u"Un\\AAAAAAAAAAAAAAAA");
    });
    std::uint32_t longest = 0;
    reg.QueryInfoKey(un, nullptr, &longest);
    EXPECT_EQ(longest, 1u);
    std::vector<char16_t> name(longest + 1);
    std::uint32_t len = longest + 1;
    EXPECT_EQ(reg.EnumKey(un, 0, name.data(), &len), kErrorMoreData);

    // The key being enumerated is deleted; the hook closes a handle; the hook
    // removes itself. Each call answers from what is left.
    int hookRuns = 0;
    reg.SetHook([&](const MemoryRegistry::Call& c) {
        ++hookRuns;
        if (c.op == MemoryRegistry::Op::QueryInfo) {
            reg.QueryInfoKey(c.handle, nullptr, nullptr);  // must not run the hook again
            reg.DeleteKey(kHKeyLocalMachine, u"Un");
        }
        if (c.op == MemoryRegistry::Op::QueryValue) {
            reg.SetHook(nullptr);  // destroys this lambda's stored copy
            reg.CloseKey(c.handle);
        }
    });
    EXPECT_EQ(reg.QueryInfoKey(un, nullptr, nullptr), kErrorKeyDeleted);
    EXPECT_EQ(hookRuns, 1);
    const std::size_t before = reg.Calls().size();
    EXPECT_EQ(reg.QueryValue(b, u"Name", nullptr, nullptr, &size), kErrorInvalidHandle);
    // The nested CloseKey is logged but does not re-enter the hook.
    EXPECT_EQ(reg.Calls().size(), before + 2);
    EXPECT_EQ(reg.OpenHandleCount(), 1u);
    EXPECT_EQ(reg.CloseKey(un), kErrorSuccess);
    EXPECT_EQ(reg.OpenHandleCount(), 0u);
}
