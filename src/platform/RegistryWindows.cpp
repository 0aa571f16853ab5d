// The registry seam bound to the Windows registry. No view flag is added: the
// process reads its own view (the 32-bit one for Velmora.exe under WOW64).
#include "platform/WindowsHeaders.h"

#include "platform/Registry.h"

namespace velmora {

namespace {

HKEY ToHkey(RegKey key) { return ToNative<HKEY>(key); }

class TWindowsRegistry final : public IRegistry {
public:
    long RegOpenKeyExW(RegKey parent, const std::u16string& subKey, std::uint32_t samDesired, RegKey* result) override {
        HKEY opened = nullptr;
#ifdef VELMORA_WOW64_STAND_IN
        // The 64-bit stand-in for Velmora.exe, built for machines that cannot run
        // 32-bit code (never shipped), reads the view the 32-bit program reads.
        samDesired |= KEY_WOW64_32KEY;
#endif
        const LONG rc = ::RegOpenKeyExW(ToHkey(parent), Wide(subKey), 0, samDesired, &opened);
        if (rc == ERROR_SUCCESS && result) *result = ToSeam<RegKey>(opened);
        return rc;
    }

    long RegQueryInfoKeyW(RegKey key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) override {
        DWORD count = 0;
        DWORD longest = 0;
        const LONG rc = ::RegQueryInfoKeyW(ToHkey(key), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) {
            if (subKeys) *subKeys = count;
            if (maxSubKeyLen) *maxSubKeyLen = longest;
        }
        return rc;
    }

    long RegEnumKeyExW(RegKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLen) override {
        DWORD length = nameLen ? *nameLen : 0;
        const LONG rc = ::RegEnumKeyExW(ToHkey(key), index, Wide(name), &length, nullptr, nullptr, nullptr, nullptr);
        if (nameLen) *nameLen = length;
        return rc;
    }

    long RegQueryValueExW(RegKey key, const std::u16string& valueName, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* dataSize) override {
        DWORD valueType = 0;
        DWORD size = dataSize ? *dataSize : 0;
        const LONG rc =
            ::RegQueryValueExW(ToHkey(key), Wide(valueName), nullptr, &valueType, data, dataSize ? &size : nullptr);
        if (type) *type = valueType;
        if (dataSize) *dataSize = size;
        return rc;
    }

    long RegCloseKey(RegKey key) override { return ::RegCloseKey(ToHkey(key)); }
};

}  // namespace

IRegistry& SystemRegistry() {
    static TWindowsRegistry registry;
    return registry;
}

}  // namespace velmora
