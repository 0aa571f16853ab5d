// RunAndWait with a program that needs elevation, as only real Windows shows
// it: process creation answers 740, and the real ShellExecuteExW starts it.
// Last, the library search that both programs restrict first thing.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ForwardingProcesses.h"
#include "LibrarySearch.h"
#include "Support.h"
#include "platform/Application.h"
#include "platform/Controls.h"
#include "unitOrvCInstallUtils.h"

namespace velmora::testing {
namespace {

// The machine's own process functions, except that process creation fails as
// it does on Windows for a program that needs administrator rights, and the
// shell's start can be refused as a user refuses the consent prompt.
class ElevationRequired final : public ForwardingProcesses {
public:
    bool refuseConsent = false;
    std::vector<TShellStartRecord> shellStarts;

    bool CreateProcessW(char16_t*, std::uint32_t, const TStartupRecord&, TProcessRecord*) override {
        return lastError_ = kErrorElevationRequired, false;
    }
    bool ShellExecuteExW(const TShellStartRecord& start, ProcessHandle* process) override {
        shellStarts.push_back(start);
        return refuseConsent ? (lastError_ = ERROR_CANCELLED, false)
                             : ForwardingProcesses::ShellExecuteExW(start, process);
    }
    long GetLastError() override { return lastError_; }
    void SetLastError(long error) override { lastError_ = error; }

private:
    long lastError_ = 0;
};

TEST(RunAndWait, AProgramThatNeedsElevationIsStartedByTheShellAndWaitedFor) {
    // A program whose unquoted path holds blanks.
    const std::wstring odd = TempFile(L"elevation") + L" dir\\";
    CreateDirectoryW(odd.c_str(), nullptr);
    CreateDirectoryW((odd + L"sub dir").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((ProgramDirectory() + L"velmora_test_child.exe").c_str(),
                          (odd + L"sub dir\\prog.exe").c_str(), FALSE));
    const std::wstring recordFile = TempFile(L"record");
    const std::u16string child = FromWide(ProgramDirectory()) + u"velmora_test_child.exe";
    const std::u16string record = u"--record \"" + FromWide(recordFile) + u"\"";
    struct Case {
        std::u16string commandLine, program, arguments;
        int exitCode;
    } cases[] = {
        // A quoted program with quoted arguments.
        {u"\"" + child + u"\" " + record + u" --exit 3 \"quoted arg\"", child, record + u" --exit 3 \"quoted arg\"", 3},
        // An unquoted path with blanks: the shortest prefix that names a program, ".exe" added.
        {FromWide(odd) + u"sub dir\\prog  " + record + u" --sleep 300 --exit 7 ", FromWide(odd) + u"sub dir\\prog.exe",
         record + u" --sleep 300 --exit 7 ", 7},
        // An opening quote without its closing one: the rest of the line is the program.
        {u"\"" + child, child, u"", 0},
        // A bare name found by the search, arguments with quotes and references.
        {u"velmora_test_child\t" + record + u" %PATH% \"a \"\"b\" c\\\" 'd'", child,
         record + u" %PATH% \"a \"\"b\" c\\\" 'd'", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.commandLine));
        DeleteFileW(recordFile.c_str());
        ElevationRequired processes;
        EXPECT_EQ(RunAndWait(processes, nullptr, c.commandLine, SW_HIDE, WindowHandle{0x1234}), c.exitCode);
        ASSERT_EQ(processes.shellStarts.size(), 1u);
        const TShellStartRecord& start = processes.shellStarts[0];
        EXPECT_EQ(ToUtf8(start.lpFile), ToUtf8(c.program));
        EXPECT_EQ(ToUtf8(start.lpParameters), ToUtf8(c.arguments));
        EXPECT_EQ((std::pair{start.hwnd, start.nShow}), (std::pair{WindowHandle{0x1234}, SW_HIDE}));
        // The child has ended and recorded what it was given, arguments untouched.
        const std::string seen = ReadFileBytes(recordFile);
        EXPECT_EQ(seen.substr(seen.size() - std::min(seen.size(), c.arguments.size())), ToUtf8(c.arguments));
    }
    // A 64-bit product's uninstaller that only the 64-bit System32 holds: found
    // there with redirection off, started by the shell with it back on (and
    // ends with 4 only if it was started at all).
    const std::wstring systemChild = InSystem32(L"velmora_elevated_child.exe");
    ASSERT_TRUE(CopyFileW((ProgramDirectory() + L"velmora_test_child.exe").c_str(), systemChild.c_str(), FALSE));
    ElevationRequired native;
    EXPECT_EQ(
        RunAndWait(native, nullptr, u"C:\\Windows\\System32\\velmora_elevated_child.exe --exit 4", SW_HIDE, {}, true),
        4);
    DeleteFileW(systemChild.c_str());
    DeleteFileW(recordFile.c_str());

    ElevationRequired refused;
    refused.refuseConsent = true;
    EXPECT_EQ(RunAndWait(refused, nullptr, cases[0].commandLine, SW_SHOW), -1);
    EXPECT_EQ(refused.shellStarts.size(), 1u);
    EXPECT_FALSE(FileExists(recordFile));
    // A program that is not there is not handed to the shell either.
    ElevationRequired missing;
    EXPECT_EQ(RunAndWait(missing, nullptr, u"velmora_no_such_program /S", SW_SHOW), -1);
    EXPECT_TRUE(missing.shellStarts.empty());
    DeleteFileW((odd + L"sub dir\\prog.exe").c_str());
}

// Libraries of system names planted beside the program: a library loaded at
// run time by its system path is the system's own, also before the program has
// asked for the system folder (a Windows 7 without the loader update); once it
// has, a load by bare name takes the system's own too. (Last: the request holds
// for the rest of the process, as in the programs.)
// A line longer than the least buffer process creation is given reaches the
// program whole through the machine's own binding, read up to its end and no
// further (a length that fills its heap block leaves no padding to stop at).
TEST(RunAndWait, ALongCommandLineReachesTheProgramWhole) {
    const std::wstring recordFile = TempFile(L"record");
    std::u16string line = u"\"" + FromWide(ProgramDirectory()) + u"velmora_test_child.exe\" --record \"" +
                          FromWide(recordFile) + u"\" --sleep " + std::u16string(600, u'0');
    line.append(8 - line.size() % 8, u'0');
    EXPECT_EQ(RunAndWait(SystemProcesses(), nullptr, line, SW_HIDE), 0);
    EXPECT_EQ(ReadFileBytes(recordFile), ToUtf8(line));
    DeleteFileW(recordFile.c_str());
}

TEST(LibrarySearch, APlantedLibraryBesideTheProgramIsNotLoaded) {
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    // Loads the library by name (or by its system path) with a copy planted
    // beside the program: true when the copy is what was loaded.
    const auto plantedIsLoaded = [&](const std::wstring& name, bool bySystemPath) {
        EXPECT_EQ(GetModuleHandleW(name.c_str()), nullptr) << "already loaded";
        const std::wstring planted = ProgramDirectory() + name;
        EXPECT_TRUE(CopyFileW((system + (L"\\" + name)).c_str(), planted.c_str(), FALSE));
        const HMODULE library = bySystemPath ? LoadSystemLibrary(name.c_str()) : LoadLibraryW(name.c_str());
        wchar_t path[MAX_PATH] = {};
        EXPECT_TRUE(library && GetModuleFileNameW(library, path, MAX_PATH)) << "not loaded";
        FreeLibrary(library);
        DeleteFileW(planted.c_str());
        return _wcsicmp(path, planted.c_str()) == 0;
    };
    EXPECT_FALSE(plantedIsLoaded(L"msimg32.dll", true));
    LoadLibrariesFromSystemFolderOnly();
    for (const std::wstring name : {L"dwmapi.dll", L"propsys.dll"})
        EXPECT_FALSE(plantedIsLoaded(name, false)) << "the planted " << Narrow(name) << " was loaded";
}

// What the binding answers of the machine: the query exists on every Windows
// the program runs on, and a 32-bit process in a 64-bit prefix, or the stand-in
// that takes itself for one, is a WOW64 process; the temporary folders are the
// user's and the Windows one, in their long forms; a started process is listed
// once, with this one as its parent; no image is made up for a process that
// is not there.
TEST(Processes, TheBindingAnswersWhatTheMachineIs) {
    bool isWow64 = false;
    ASSERT_TRUE(SystemProcesses().QueryWow64(&isWow64));
#ifdef VELMORA_WOW64_STAND_IN
    EXPECT_TRUE(IsWow64());
#else
    EXPECT_EQ(IsWow64(), sizeof(void*) == 4);
#endif
    wchar_t user[MAX_PATH] = {}, windows[MAX_PATH] = {};
    GetLongPathNameW(Wide(GetTempDirectory()), user, MAX_PATH);
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::vector<std::u16string> temporary = SystemProcesses().TemporaryDirectories();
    ASSERT_EQ(temporary.size(), 2u);
    EXPECT_EQ(_wcsicmp(Wide(temporary[0]), user), 0) << ToUtf8(temporary[0]);
    EXPECT_EQ(_wcsicmp(Wide(temporary[1]), (std::wstring(windows) + L"\\Temp\\").c_str()), 0) << ToUtf8(temporary[1]);

    const Process running(L"\"" + ProgramDirectory() + L"velmora_test_child.exe\" --sleep 30000");
    const std::vector<TProcessEntry> listed = SystemProcesses().ProcessSnapshot();
    EXPECT_EQ(std::count_if(listed.begin(), listed.end(),
                            [&](const TProcessEntry& entry) {
                                return entry.th32ProcessID == running.Id() &&
                                       entry.th32ParentProcessID == GetCurrentProcessId();
                            }),
              1);
    // Wine 8 does not know the query that reads an image by id (it answers
    // STATUS_INVALID_INFO_CLASS): no image is read there, and none made up.
    std::u16string image;
    EXPECT_FALSE(SystemProcesses().ProcessImagePath(0, &image));
}

// The program's own failures name Windows' reason and code, without the text's
// closing full stop and line break; a call that left no code names nothing.
TEST(WindowsError, CarriesTheReasonAndTheCode) {
    EXPECT_EQ(WindowsError(u"Cannot create the main window", ERROR_ACCESS_DENIED).Message(),
              u"Cannot create the main window: Access denied (5)");
    EXPECT_EQ(WindowsError(u"Cannot create the main window", ERROR_SUCCESS).Message(),
              u"Cannot create the main window");
}

// A control that cannot be created (a child with no parent) fails so, with
// Windows' reason and code, instead of leaving a control without a window.
TEST(WindowsError, TellsOfAControlThatCannotBeCreated) {
    TButton button;
    try {
        button.Create(nullptr, u"Button", {0, 0, 75, 25}, 1);
        ADD_FAILURE() << "created";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message().rfind(u"Cannot create the BUTTON control: ", 0), 0u) << ToUtf8(error.Message());
        EXPECT_EQ(error.Message().back(), u')') << ToUtf8(error.Message());
    }
}

}  // namespace
}  // namespace velmora::testing
