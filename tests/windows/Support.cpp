#include "Support.h"

#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace velmora::testing {

std::wstring FixtureDirectory() { return Wide(VELMORA_FIXTURE_DIR "/"); }

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path).substr(0, std::wstring(path).find_last_of(L"\\/") + 1);
}

std::wstring Wrapped(const std::wstring& commandLine) {
    std::wstring wrapped = L"\"" + ProgramDirectory() + L"velmora_test_child.exe\" --run \"";
    for (const wchar_t c : commandLine) wrapped += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    return wrapped + L"\"";
}

void ImportRegFile(const std::wstring& path, int viewBits) {
    // Wine's reg.exe now and then fails an import at once; a second try succeeds.
    for (int attempt = 0; RunProgram(L"reg.exe import \"" + path + L"\" /reg:" + std::to_wstring(viewBits)) != 0;
         Sleep(200))
        if (++attempt == 3) throw std::runtime_error("reg import failed: " + std::filesystem::path(path).string());
}

void ClearUninstallKeys(int viewBits) {
    const std::wstring key = L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\" /f";
    for (const int view : {32, 64})
        if (!viewBits || view == viewBits)
            RunProgram(L"reg.exe delete \"HKLM" + key + L" /reg:" + std::to_wstring(view));
    if (!viewBits) RunProgram(L"reg.exe delete \"HKCU" + key);
}

namespace {

// UTF-8, with backslashes, control characters, unpaired surrogates and blanks at
// either end escaped, so that every field fits on one line.
std::string Escape(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool pair =
            c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        char code[16];
        std::snprintf(code, sizeof code, "\\u{%04X}", static_cast<unsigned>(c));
        if (c == u'\\') out += "\\\\";
        else if (c < 0x20 || c == 0x7F || (c == u' ' && (i == 0 || i + 1 == text.size())) ||
                 (c >= 0xD800 && c <= 0xDFFF && !pair))
            out += code;
        else out += ToUtf8(text.substr(i, pair ? 2 : 1)), i += pair;
    }
    return out;
}

}  // namespace

std::string DescribeInventory(const TOrvUninstallList& entries, const std::string& error) {
    std::string out;
    for (std::size_t i = 0; i < entries.Count(); ++i) {
        const TOrvUninstallInfo& e = *entries[i];
        out += "entry\n  Comments=" + Escape(e.Comments) + "\n  DisplayIcon=" + Escape(e.DisplayIcon) +
               "\n  DisplayName=" + Escape(e.DisplayName) + "\n  Publisher=" + Escape(e.Publisher) +
               "\n  KeyName=" + Escape(e.KeyName) + "\n  UninstallString=" + Escape(e.UninstallString) + "\n";
    }
    return error.empty() ? out : out + "error=" + error + "\n";
}

std::string Expected(const std::wstring& path) {
    std::istringstream in(ReadFileBytes(path));
    std::string out;
    for (std::string line; std::getline(in, line);) {
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (!line.empty() && line[0] != '#') out += line + "\n";
    }
    return out;
}

}  // namespace velmora::testing
