// Wraps a registry and watches what the code under test does with it: how many
// keys are open, and that no key is ever opened for anything but reading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace velmora::testing {

class CountingRegistry final : public IRegistry {
public:
    explicit CountingRegistry(IRegistry& inner) : inner_(inner) {}

    long OpenKey(RegKey parent, const std::u16string& subKey, std::uint32_t samDesired,
                 RegKey* result) override;
    long QueryInfoKey(RegKey key, std::uint32_t* subKeys, std::uint32_t* maxSubKeyLen) override;
    long EnumKey(RegKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLen) override;
    long QueryValue(RegKey key, const std::u16string& valueName, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* dataSize) override;
    long CloseKey(RegKey key) override;

    // Keys opened through this wrapper and not closed yet.
    long OpenKeys() const { return openKeys_; }
    // Access masks asked for that include anything beyond reading.
    int WriteRequests() const { return writeRequests_; }
    // Masks passed to OpenKey, in order.
    const std::vector<std::uint32_t>& OpenMasks() const { return openMasks_; }
    // Closing a predefined root key, which the program must never do.
    int RootCloses() const { return rootCloses_; }

private:
    IRegistry& inner_;
    long openKeys_ = 0;
    int writeRequests_ = 0;
    int rootCloses_ = 0;
    std::vector<std::uint32_t> openMasks_;
};

}  // namespace velmora::testing
