// Under Wine the fixtures are imported into the real registry with Wine's own
// reg.exe, in the view this process reads (32-bit for Velmora.exe's tree).
#include "platform/WindowsHeaders.h"

#include <filesystem>
#include <stdexcept>
#include <string>

#include "FixtureRegistry.h"
#include "ProcessRunner.h"

namespace velmora::testing {

namespace {

const wchar_t* ViewSwitch() { return sizeof(void*) == 8 ? L" /reg:64" : L" /reg:32"; }

std::wstring BackslashPath(const std::string& path) {
    std::wstring wide(path.begin(), path.end());
    for (auto& c : wide) {
        if (c == L'/') c = L'\\';
    }
    return wide;
}

class WindowsFixtureRegistry final : public FixtureRegistry {
public:
    void ResetUninstallKey() override {
        // Fails harmlessly when the key is already gone.
        RunProgram(std::wstring(L"reg.exe delete \"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\" /f") +
                   ViewSwitch());
    }
    void Import(const std::string& regFile) override {
        const int rc = RunProgram(L"reg.exe import \"" + BackslashPath(regFile) + L"\"" + ViewSwitch());
        if (rc != 0) throw std::runtime_error("reg import failed for " + regFile);
    }
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
