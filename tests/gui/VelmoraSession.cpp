#include "VelmoraSession.h"

#include "WindowsTestSupport.h"
#include "unitOrvUninstallClasses.h"

namespace velmora::gui {

namespace {

constexpr DWORD kStartTimeoutMs = 60000;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

VelmoraSession::VelmoraSession() {
    testing::ClearUninstallKeys();
    DeleteFileW(HandOffPath().c_str());
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    directory_ = std::wstring(temp) + L"velmora-gui-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(directory_.c_str(), nullptr);
    for (const auto& [from, name] : {std::make_pair(std::string(VELMORA_EXE_PATH), std::wstring(L"Velmora.exe")),
                                     std::make_pair(std::string(VELMORA_DRISK_PATH), std::wstring(L"Drisk.x64"))}) {
        if (!CopyFileW(Widen(from).c_str(), (directory_ + name).c_str(), FALSE)) {
            throw DriverError("cannot copy " + from + " (are both Windows trees built?)");
        }
    }
}

VelmoraSession::~VelmoraSession() {
    rows_.reset();
    if (process_.IsRunning()) process_.Kill();
    testing::ClearUninstallKeys();
    DeleteFileW(HandOffPath().c_str());
}

std::wstring VelmoraSession::HandOffPath() {
    const std::u16string path = GetTempDirectory() + kHandOffFileName;
    return std::wstring(path.begin(), path.end());
}

void VelmoraSession::Start(bool expectError) {
    process_ = Process::Start(L"\"" + directory_ + L"Velmora.exe\"", directory_);
    if (!expectError) AttachToWindow();
}

void VelmoraSession::AttachToWindow() {
    main_ = WaitForTopLevelWindow(process_.Id(), L"Velmora", L"TOrvUninstallMainForm", kStartTimeoutMs);
    list_ = RequireChild(main_, L"SysListView32");
    uninstall_ = RequireChild(main_, L"Button", L"卸载");
    exit_ = RequireChild(main_, L"Button", L"退出");
    rows_ = std::make_unique<RemoteListView>(list_);
    WaitUntilDrawn(main_);
}

void VelmoraSession::Screenshot(const std::wstring& name) {
    if (main_) WaitUntilDrawn(main_);
    SaveScreenshot(ScreenshotPath(name));
}

std::vector<std::wstring> Names(const std::vector<ListRow>& rows) {
    std::vector<std::wstring> names;
    for (const ListRow& row : rows) names.push_back(row.texts.empty() ? L"" : row.texts[0]);
    return names;
}

}  // namespace velmora::gui
