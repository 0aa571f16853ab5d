// Natively the fixtures are loaded into the in-memory registry.
#include <unistd.h>

#include <filesystem>

#include "FixtureRegistry.h"
#include "platform/MemoryRegistry.h"
#include "platform/RegFile.h"

namespace velmora::testing {

namespace {

class NativeFixtureRegistry final : public FixtureRegistry {
public:
    void ResetUninstallKey() override {
        registry_.DeleteKey(kHKeyLocalMachine, std::u16string(kUninstallKeyPath).substr(1));
    }
    void Import(const std::string& regFile) override { LoadRegFileFromPath(registry_, regFile); }
    IRegistry& Registry() override { return registry_; }

private:
    MemoryRegistry registry_;
};

}  // namespace

std::unique_ptr<FixtureRegistry> MakeFixtureRegistry() { return std::make_unique<NativeFixtureRegistry>(); }

std::string FixtureDirectory() { return VELMORA_FIXTURE_DIR "/"; }

std::string ScratchDirectory() {
    const auto dir = std::filesystem::temp_directory_path() / ("velmora-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return dir.string() + "/";
}

}  // namespace velmora::testing
