// The Windows API's wide strings to and from UTF-8, for the tests and the
// benchmarks: the program's own UTF-16 converters, over wchar_t. It brings the
// Windows layer's header with it.
#pragma once

#include "platform/Text.h"
#include "platform/WindowsHeaders.h"

namespace velmora {

inline std::u16string FromWide(const std::wstring& text) { return FromWide(text.data(), text.size()); }
inline std::string Narrow(const std::wstring& text) { return ToUtf8(FromWide(text)); }
inline std::wstring Wide(const std::string& utf8) {
    const std::u16string text = FromUtf8(utf8);
    return std::wstring(Wide(text), text.size());
}

}  // namespace velmora
