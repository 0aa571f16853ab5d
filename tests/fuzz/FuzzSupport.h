// What the fuzz targets share: a failed check says what broke and aborts, which
// libFuzzer records as a finding with its input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Text.h"

namespace velmora::fuzz {

inline void Check(bool condition, const char* what, const std::u16string& detail = {}) {
    if (!condition) std::fprintf(stderr, "fuzz check failed: %s %s\n", what, ToUtf8(detail).c_str()), std::abort();
}

// Little-endian UTF-16 units from raw bytes; an odd last byte is dropped.
inline std::u16string Utf16FromBytes(const unsigned char* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return text;
}

}  // namespace velmora::fuzz
