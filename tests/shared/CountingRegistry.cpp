#include "CountingRegistry.h"

namespace velmora::testing {

namespace {
// Read rights, and the view flags, which select a view and grant nothing.
constexpr std::uint32_t kReadOnlyRights =
    kKeyRead | kKeyQueryValue | kKeyEnumerateSubKeys | kKeyNotify | kKeyWow64_32Key | kKeyWow64_64Key;

bool IsRoot(RegKey key) {
    return key == kHKeyClassesRoot || key == kHKeyCurrentUser || key == kHKeyLocalMachine ||
           key == kHKeyUsers;
}
}  // namespace

long CountingRegistry::OpenKey(RegKey parent, const std::u16string& subKey, std::uint32_t samDesired,
                               RegKey* result) {
    openMasks_.push_back(samDesired);
    if ((samDesired & ~kReadOnlyRights) != 0) ++writeRequests_;
    const long rc = inner_.OpenKey(parent, subKey, samDesired, result);
    if (rc == kErrorSuccess) ++openKeys_;
    return rc;
}

long CountingRegistry::QueryInfoKey(RegKey key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) {
    return inner_.QueryInfoKey(key, subKeys, maxSubKeyLen);
}

long CountingRegistry::EnumKey(RegKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLen) {
    return inner_.EnumKey(key, index, name, nameLen);
}

long CountingRegistry::QueryValue(RegKey key, const std::u16string& valueName, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* dataSize) {
    return inner_.QueryValue(key, valueName, type, data, dataSize);
}

long CountingRegistry::CloseKey(RegKey key) {
    if (IsRoot(key)) ++rootCloses_;
    const long rc = inner_.CloseKey(key);
    if (rc == kErrorSuccess && !IsRoot(key)) --openKeys_;
    return rc;
}

}  // namespace velmora::testing
