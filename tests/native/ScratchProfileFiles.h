// The portable profile reader over a scratch directory that stands in for the
// temporary directory, with faults a test can switch on, and a log of the calls.
#pragma once

#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "platform/PortableProfile.h"
#include "platform/ProfileFiles.h"
#include "platform/Registry.h"
#include "platform/Text.h"

namespace velmora::testing {

class ScratchProfileFiles final : public IProfileFiles {
public:
    ScratchProfileFiles();
    ~ScratchProfileFiles() override;

    // The scratch directory with its trailing separator.
    const std::string& Directory() const { return directory_; }
    std::string HandOffPath() const { return directory_ + "OrvUninstall.ini"; }
    // Writes the hand-off file as UTF-16LE with a byte-order mark.
    void WriteHandOff(const std::u16string& text) const;
    bool HandOffExists() const { return std::filesystem::exists(HandOffPath()); }

    // Faults.
    bool tempPathFails = false;
    long attributesError = 0;        // GetFileAttributes fails with this error
    bool deleteFails = false;
    bool readAllBytesFails = false;
    int throwOnValueRead = -1;       // the value read of this number (from 0) runs out of memory

    std::vector<std::string> calls;  // "sections", "value", "flush", "attributes", "find", "delete"

    std::uint32_t GetPrivateProfileString(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                                          char16_t* buffer, std::uint32_t size, const std::u16string& path) override {
        if (section == nullptr) {
            calls.push_back("sections");
        } else {
            calls.push_back("value");
            if (valueReads_++ == throwOnValueRead) throw std::bad_alloc();
        }
        return real_.GetPrivateProfileString(section, key, defaultValue, buffer, size, path);
    }
    bool WritePrivateProfileString(const char16_t* section, const char16_t* key, const char16_t* value,
                                   const std::u16string& path) override {
        calls.push_back("flush");
        return real_.WritePrivateProfileString(section, key, value, path);
    }
    std::uint32_t GetTempPath(std::uint32_t size, char16_t* buffer) override {
        if (tempPathFails) return 0;
        const std::u16string dir = FromUtf8(directory_);
        if (dir.size() + 1 > size) return static_cast<std::uint32_t>(dir.size() + 1);
        std::copy(dir.begin(), dir.end(), buffer);
        buffer[dir.size()] = u'\0';
        return static_cast<std::uint32_t>(dir.size());
    }
    std::uint32_t GetFileAttributes(const std::u16string& path) override {
        calls.push_back("attributes");
        if (attributesError != 0) {
            lastError_ = attributesError;
            return kInvalidFileAttributes;
        }
        const std::uint32_t attributes = real_.GetFileAttributes(path);
        lastError_ = real_.LastError();
        return attributes;
    }
    std::uintptr_t FindFirstFile(const std::u16string& pattern, std::uint32_t* attributes) override {
        calls.push_back("find");
        return real_.FindFirstFile(pattern, attributes);
    }
    bool FindClose(std::uintptr_t handle) override { return real_.FindClose(handle); }
    bool DeleteFile(const std::u16string& path) override {
        calls.push_back("delete");
        if (deleteFails) {
            lastError_ = kErrorAccessDenied;
            return false;
        }
        return real_.DeleteFile(path);
    }
    long LastError() override { return lastError_; }
    bool ReadAllBytes(const std::u16string& path, std::string& bytes) override {
        if (readAllBytesFails) return false;
        return real_.ReadAllBytes(path, bytes);
    }
    std::uint32_t AnsiCharCount(const std::string& bytes) override { return real_.AnsiCharCount(bytes); }

private:
    PortableProfileFiles real_;
    std::string directory_;
    long lastError_ = 0;
    int valueReads_ = 0;
};

}  // namespace velmora::testing
