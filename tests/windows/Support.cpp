#include "Support.h"

#include "platform/WindowsHeaders.h"

#include <sstream>
#include <stdexcept>
#include <vector>

namespace velmora::testing {

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }
std::wstring FixtureDirectory() { return Wide(FromUtf8(VELMORA_FIXTURE_DIR "/")); }

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring directory(path);
    return directory.substr(0, directory.find_last_of(L"\\/") + 1);
}

std::wstring TempFile(const std::wstring& tag) {
    return Wide(GetTempDirectory()) + L"velmora-" + tag + L"-" + std::to_wstring(GetCurrentProcessId());
}

std::wstring HandOffPath() { return Wide(GetTempDirectory() + kHandOffFileName); }

std::string ReadFileBytes(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!ok) throw std::runtime_error("cannot write " + ToUtf8(U16(path)));
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int RunProgram(const std::wstring& commandLine) {
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

void ImportRegFile(const std::wstring& path, int viewBits) {
    // Wine's reg.exe now and then fails an import at once; a second try succeeds.
    int rc = -1;
    for (int attempt = 0; attempt < 3 && rc != 0; ++attempt) {
        if (attempt > 0) Sleep(200);
        rc = RunProgram(L"reg.exe import \"" + path + L"\" /reg:" + std::to_wstring(viewBits));
    }
    if (rc != 0) throw std::runtime_error("reg import failed: " + ToUtf8(U16(path)));
}

void ImportRegText(const std::wstring& text, int viewBits) {
    std::string bytes = "\xFF\xFE";
    for (const wchar_t c : L"Windows Registry Editor Version 5.00\r\n\r\n" + text)
        bytes.append({static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)});
    const std::wstring file = TempFile(L"import") + L".reg";
    WriteFileBytes(file, bytes);
    ImportRegFile(file, viewBits);
    DeleteFileW(file.c_str());
}

void ClearUninstallKeys(int viewBits) {
    const std::wstring key = L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\" /f";
    for (const int view : {32, 64})
        if (!viewBits || view == viewBits) RunProgram(L"reg.exe delete \"HKLM" + key + L" /reg:" + std::to_wstring(view));
    if (!viewBits) RunProgram(L"reg.exe delete \"HKCU" + key);
}

void ServiceMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

namespace {

// UTF-8, with backslashes, control characters, unpaired surrogates and blanks at
// either end escaped, so that every field fits on one line.
std::string Escape(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool paired = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                            text[i + 1] <= 0xDFFF;
        if (c == u'\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F || (c == u' ' && (i == 0 || i + 1 == text.size())) ||
                   (c >= 0xD800 && c <= 0xDFFF && !paired)) {
            char code[16];
            std::snprintf(code, sizeof code, "\\u{%04X}", static_cast<unsigned>(c));
            out += code;
        } else {
            out += ToUtf8(text.substr(i, paired ? 2 : 1));
            i += paired;
        }
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

std::string NormaliseExpected(const std::string& text) {
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
        if (!line.empty() && line[0] != '#') out += line + "\n";
    }
    return out;
}

}  // namespace velmora::testing
