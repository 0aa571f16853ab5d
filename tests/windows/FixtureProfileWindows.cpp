// Under Wine the profile fixtures are read by the Windows functions, through the
// system binding the program itself uses.
#include <memory>

#include "platform/ProfileFiles.h"

namespace velmora::testing {

namespace {

// The system binding is a single shared object; the fixtures get a forwarder.
class SystemFiles final : public IProfileFiles {
public:
    std::uint32_t GetPrivateProfileString(const char16_t* section, const char16_t* key,
                                          const char16_t* defaultValue, char16_t* buffer,
                                          std::uint32_t size, const std::u16string& path) override {
        return system_.GetPrivateProfileString(section, key, defaultValue, buffer, size, path);
    }
    bool WritePrivateProfileString(const char16_t* section, const char16_t* key, const char16_t* value,
                                   const std::u16string& path) override {
        return system_.WritePrivateProfileString(section, key, value, path);
    }
    std::uint32_t GetTempPath(std::uint32_t size, char16_t* buffer) override {
        return system_.GetTempPath(size, buffer);
    }
    std::uint32_t GetFileAttributes(const std::u16string& path) override { return system_.GetFileAttributes(path); }
    std::uintptr_t FindFirstFile(const std::u16string& pattern, std::uint32_t* attributes) override {
        return system_.FindFirstFile(pattern, attributes);
    }
    bool FindClose(std::uintptr_t handle) override { return system_.FindClose(handle); }
    bool DeleteFile(const std::u16string& path) override { return system_.DeleteFile(path); }
    long LastError() override { return system_.LastError(); }
    bool ReadAllBytes(const std::u16string& path, std::string& bytes) override {
        return system_.ReadAllBytes(path, bytes);
    }
    std::uint32_t AnsiCharCount(const std::string& bytes) override { return system_.AnsiCharCount(bytes); }

private:
    IProfileFiles& system_ = SystemProfileFiles();
};

}  // namespace

std::unique_ptr<IProfileFiles> MakeFixtureProfileFiles();

std::unique_ptr<IProfileFiles> MakeFixtureProfileFiles() { return std::make_unique<SystemFiles>(); }

}  // namespace velmora::testing
