// ExtractIconPath on arbitrary DisplayIcon text (the input's bytes taken as
// UTF-16LE). Whatever the value, the path is a piece of the text before the
// first comma: all of it, or, when it starts with a double quote, all of it but
// its first and last characters.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "frmOrvUninstallMainLogic.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmora;
    using namespace velmora::fuzz;
    const std::u16string value = Utf16FromBytes(data, size);
    const std::u16string path = ExtractIconPath(value);
    const std::u16string head = value.substr(0, value.find(u','));
    if (!head.empty() && head[0] == u'"') {
        const std::u16string inner = head.size() >= 2 ? head.substr(1, head.size() - 2) : std::u16string();
        Check(path == inner, "a quoted path lost more or less than its two ends", value);
    } else {
        Check(path == head, "an unquoted path is not the text before the comma", value);
    }
    return 0;
}
