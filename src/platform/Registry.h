// The registry operations Velmora needs, at the level of the Windows functions
// (RegOpenKeyExW, RegQueryInfoKeyW, RegEnumKeyExW, RegQueryValueExW, RegCloseKey).
// Results are Windows error codes, so the scan reacts to a substitute exactly as
// it reacts to the real registry.
//
// Naming, the same in every seam: an operation that is one Windows function
// carries that function's exported name (the W form where there is one), so no
// macro of <windows.h> renames it.
// Error codes are in platform/ErrorCodes.h.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ErrorCodes.h"

namespace velmora {

// An open key, or one of the predefined roots. Values equal the HKEY values of
// the Windows headers on both 32- and 64-bit builds (roots are sign-extended).
enum class RegKey : std::uintptr_t {};

constexpr RegKey RootKey(std::int32_t value) {
    return static_cast<RegKey>(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(value)));
}
constexpr RegKey kHKeyCurrentUser = RootKey(static_cast<std::int32_t>(0x80000001u));
constexpr RegKey kHKeyLocalMachine = RootKey(static_cast<std::int32_t>(0x80000002u));

// Access rights.
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr std::uint32_t kStandardRightsRead = 0x20000;
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
constexpr std::uint32_t kKeyWow64_64Key = 0x0100;
constexpr std::uint32_t kKeyWow64_32Key = 0x0200;

// Value types.
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

class IRegistry {
public:
    virtual ~IRegistry() = default;

    // RegOpenKeyExW(parent, subKey, 0, samDesired, result).
    virtual long RegOpenKeyExW(RegKey parent, const std::u16string& subKey, std::uint32_t samDesired,
                               RegKey* result) = 0;
    // RegQueryInfoKeyW, reduced to the subkey count and the longest subkey name
    // (in characters, without the terminating null). Either pointer may be null.
    virtual long RegQueryInfoKeyW(RegKey key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) = 0;
    // RegEnumKeyExW(key, index, name, nameLen, ...): nameLen is the capacity in
    // characters on entry and the length without the null on success.
    virtual long RegEnumKeyExW(RegKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLen) = 0;
    // RegQueryValueExW(key, valueName, nullptr, type, data, dataSize). With data
    // null only the type and size are asked for; type may be null.
    virtual long RegQueryValueExW(RegKey key, const std::u16string& valueName, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* dataSize) = 0;
    // RegCloseKey.
    virtual long RegCloseKey(RegKey key) = 0;
};

// The registry of the machine: the Windows registry. A native build has no
// binding; its callers pass a registry of their own.
IRegistry& SystemRegistry();

}  // namespace velmora
