// Under Wine the fixtures are imported into the real registry with Wine's own
// reg.exe, in the view this process reads (32-bit for Velmora.exe's tree).
#include "platform/WindowsHeaders.h"

#include <filesystem>
#include <stdexcept>
#include <string>

#include "FixtureRegistry.h"
#include "ProcessRunner.h"
#include "WindowsTestSupport.h"

namespace velmora::testing {

namespace {

const wchar_t* ViewSwitch() { return sizeof(void*) == 8 ? L" /reg:64" : L" /reg:32"; }

class WindowsFixtureRegistry final : public FixtureRegistry {
public:
    void ResetUninstallKey() override {
        // Fails harmlessly when the key is already gone.
        RunProgram(std::wstring(L"reg.exe delete \"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\" /f") +
                   ViewSwitch());
    }
    void Import(const std::string& regFile) override { ImportRegFile(regFile, sizeof(void*) == 8 ? 64 : 32); }
    IRegistry& Registry() override { return SystemRegistry(); }
};

}  // namespace

std::unique_ptr<FixtureRegistry> MakeFixtureRegistry() { return std::make_unique<WindowsFixtureRegistry>(); }

std::string FixtureDirectory() { return VELMORA_FIXTURE_DIR "/"; }

std::string ScratchDirectory() {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velmora-test-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    return dir.string() + "\\";
}

}  // namespace velmora::testing
