#include "ScratchProfileFiles.h"

#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/Registry.h"

namespace velmora::testing {

ScratchProfileFiles::ScratchProfileFiles() {
    static int serial = 0;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velmora-handoff-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    directory_ = dir.string() + "/";
}

ScratchProfileFiles::~ScratchProfileFiles() {
    std::error_code ignored;
    std::filesystem::permissions(directory_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(directory_, ignored);
}

void ScratchProfileFiles::WriteHandOff(const std::u16string& text) const {
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    std::ofstream(HandOffPath(), std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace velmora::testing
