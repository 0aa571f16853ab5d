#include "unitOrvCInstallUtils.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "platform/UniqueAny.h"

#ifdef _WIN32
#include "platform/Application.h"
#endif

namespace velmora {

namespace {

constexpr std::uint32_t kPollSleepMs = 10;
// Room for 511 characters and a null at the least, as the command line may be
// written to by process creation.
constexpr std::size_t kMinimumCommandBuffer = 512;

// A handle of the process seam, closed through it when the owner goes; none
// when it is 0.
class TProcessHandle {
public:
    TProcessHandle(IProcesses& processes, ProcessHandle handle) : processes_(processes), handle_(handle) {}
    TProcessHandle(TProcessHandle&& other) noexcept
        : processes_(other.processes_), handle_(std::exchange(other.handle_, 0)) {}
    TProcessHandle& operator=(TProcessHandle&&) = delete;
    ~TProcessHandle() {
        if (handle_) processes_.CloseHandle(handle_);
    }
    ProcessHandle Get() const { return handle_; }

private:
    IProcesses& processes_;
    ProcessHandle handle_;
};

// The 64-bit view of the file system for this thread while it lives, when it is
// asked for and this is a 32-bit process on 64-bit Windows; the process's own
// view again when it goes.
class TNativeFileSystem {
public:
    TNativeFileSystem(IProcesses& processes, bool wanted)
        : processes_(processes), off_(wanted && processes.Wow64DisableWow64FsRedirection(&old_)) {}
    TNativeFileSystem(const TNativeFileSystem&) = delete;
    TNativeFileSystem& operator=(const TNativeFileSystem&) = delete;
    ~TNativeFileSystem() {
        if (off_) processes_.Wow64RevertWow64FsRedirection(old_);
    }
    // Whether redirection is off for this scope.
    bool Off() const { return off_; }

private:
    IProcesses& processes_;
    void* old_ = nullptr;
    bool off_;
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The arguments after the program: the blanks that separate them from it go,
// nothing else is touched.
std::u16string ArgumentsAfter(const std::u16string& commandLine, std::size_t end) {
    while (end < commandLine.size() && IsBlank(commandLine[end])) ++end;
    return commandLine.substr(end);
}

// Every wait's loop: services messages and sleeps one poll at a time until done
// answers true, or after maxPolls polls unless that is negative. done is asked
// first, so what has already happened costs no sleep.
template <typename Done>
void Poll(IProcesses& processes, const ProcessMessagesProc& processMessages, Done done, int maxPolls = -1) {
    for (int polls = 0; !done() && polls != maxPolls; ++polls) {
        if (processMessages) processMessages();
        processes.Sleep(kPollSleepMs);
    }
}

bool HasEnded(IProcesses& processes, ProcessHandle process) {
    return processes.WaitForSingleObject(process, 0) != kWaitTimeout;
}

bool StartsWithIgnoringCase(const std::u16string& text, const std::u16string& prefix) {
    if (prefix.empty() || text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char16_t a = text[i];
        char16_t b = prefix[i];
        if (a >= u'a' && a <= u'z') a = static_cast<char16_t>(a - u'a' + u'A');
        if (b >= u'a' && b <= u'z') b = static_cast<char16_t>(b - u'a' + u'A');
        if (a != b) return false;
    }
    return true;
}

// The processes a started process set going, directly or through processes it
// started. Each is held open while known, so its id cannot be reused; a process
// counts as a child of a known one when it names that id as its parent, was not
// listed before the start (the pair of ids a snapshot then gave), and was
// created after it (an older process with the same parent id had an earlier
// holder of that id as its parent). A job that the started process was put in
// holds all of them, also those whose parent has ended before anybody looked.
class TDescendants {
public:
    TDescendants(IProcesses& processes, ProcessHandle root, ProcessHandle job, std::vector<ProcessEntry> before)
        : processes_(processes), job_(job), before_(std::move(before)) {
        std::uint64_t created = 0;
        if (processes_.ProcessCreationTime(root, &created)) known_.push_back({processes_.GetProcessId(root), root, false});
    }

    struct TRunning {
        std::vector<ProcessHandle> handles;
        // A descendant that could not be opened still runs: only a fresh look
        // tells when it ends.
        bool unopened = false;
        // One of the handles is a process whose program could not be read yet.
        bool unread = false;
    };

    // A fresh look for new descendants, which are held open from then on.
    void Look() {
        if (!known_.empty()) Discover(processes_.ProcessSnapshot(), {});
    }

    // The known descendants that still run from a temporary folder, or whose
    // program cannot be read yet, after a fresh look for new ones; and whether
    // one that cannot be opened, and may be such a copy, still runs.
    TRunning RunningHandOvers() {
        TRunning running;
        if (known_.empty()) return running;
        const std::vector<ProcessEntry> snapshot = processes_.ProcessSnapshot();
        const std::vector<std::uint32_t> members = job_ ? processes_.JobProcessIds(job_) : std::vector<std::uint32_t>{};
        Discover(snapshot, members);
        for (Known& process : known_) {
            if (!process.temporary) process.temporary = FromTemporaryFolder(process.handle);
            if (process.temporary.value_or(true) && processes_.WaitForSingleObject(process.handle, 0) == kWaitTimeout) {
                running.handles.push_back(process.handle);
                running.unread |= !process.temporary;
            }
        }
        running.unopened = std::any_of(unopened_.begin(), unopened_.end(), [&](const Unopened& process) {
            return process.inJob ? Contains(members, process.id) : Listed(snapshot, {process.id, process.parentId});
        });
        return running;
    }

private:
    // A process that is still starting may have neither its creation time nor
    // its program yet (Wine answers with garbage, and with nothing, then): the
    // creation time is read again whenever it is compared, which gives the same
    // for a process that is held, and the program until it can be read.
    struct Known {
        std::uint32_t id;
        ProcessHandle handle;
        // Whether its program lies in a temporary folder; none while unread.
        std::optional<bool> temporary;
    };
    // A descendant that cannot be opened (another account's, say): known by its
    // id and its parent's, which is held, so the pair cannot name another
    // process; or, in the job, by its id while the job lists it.
    struct Unopened {
        std::uint32_t id;
        std::uint32_t parentId;
        bool inJob;
    };

    static bool Contains(const std::vector<std::uint32_t>& ids, std::uint32_t id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    }
    static bool Listed(const std::vector<ProcessEntry>& snapshot, const ProcessEntry& process) {
        return std::any_of(snapshot.begin(), snapshot.end(), [&](const ProcessEntry& entry) {
            return entry.th32ProcessID == process.th32ProcessID &&
                   entry.th32ParentProcessID == process.th32ParentProcessID;
        });
    }

    void Discover(const std::vector<ProcessEntry>& snapshot, const std::vector<std::uint32_t>& members) {
        std::vector<std::uint32_t> passedOver;
        // A grandchild may stand before its parent in the snapshot: look again
        // until a pass finds nobody new.
        for (bool found = true; found;) {
            found = false;
            for (const ProcessEntry& entry : snapshot) {
                if (IsKnown(entry.th32ProcessID) || Contains(passedOver, entry.th32ProcessID)) continue;
                const Known* parent = KnownById(entry.th32ParentProcessID);
                if (!parent) continue;
                const ProcessHandle parentHandle = parent->handle;
                passedOver.push_back(entry.th32ProcessID);
                // Ran before the start: its parent id names an earlier holder
                // (csrss.exe, wininit.exe and winlogon.exe name a dead smss.exe).
                if (Listed(before_, entry)) continue;
                const ProcessHandle handle = processes_.OpenProcess(entry.th32ProcessID);
                if (!handle) {
                    NoteUnopened({entry.th32ProcessID, entry.th32ParentProcessID, false});
                    continue;
                }
                found |= Add(entry.th32ProcessID, handle, parentHandle);
            }
        }
        // The job's members, whoever their parents were, also one the parent
        // search passed over. One that ended between the list and the opening
        // may have left its id to a stranger: a member is kept only when the job
        // still lists its id once it is held open.
        std::vector<std::pair<std::uint32_t, ProcessHandle>> opened;
        for (const std::uint32_t id : members) {
            if (IsKnown(id)) continue;
            if (const ProcessHandle handle = processes_.OpenProcess(id)) {
                opened.emplace_back(id, handle);
            } else {
                NoteUnopened({id, 0, true});
            }
        }
        if (opened.empty()) return;
        const std::vector<std::uint32_t> still = processes_.JobProcessIds(job_);
        for (const auto& [id, handle] : opened) {
            if (Contains(still, id)) {
                // Never older than the started process.
                Add(id, handle, known_.front().handle);
            } else {
                processes_.CloseHandle(handle);
            }
        }
    }

    // Keeps the opened process when it is not older than its parent. One that
    // is passed over now is looked at again at the next look.
    bool Add(std::uint32_t id, ProcessHandle handle, ProcessHandle parent) {
        TProcessHandle owner(processes_, handle);
        std::uint64_t created = 0, parentCreated = 0;
        if (!processes_.ProcessCreationTime(handle, &created) ||
            !processes_.ProcessCreationTime(parent, &parentCreated) || created < parentCreated) {
            return false;
        }
        known_.push_back({id, handle, FromTemporaryFolder(handle)});
        opened_.push_back(std::move(owner));
        return true;
    }

    // One that cannot be opened is waited for only while it may be a copy
    // handed over to: when its image can be read without a handle, only from
    // a temporary folder. Whatever ran before the start was passed over already.
    void NoteUnopened(const Unopened& process) {
        const bool noted = std::any_of(unopened_.begin(), unopened_.end(), [&](const Unopened& other) {
            return other.id == process.id && other.parentId == process.parentId && other.inJob == process.inJob;
        });
        if (noted || before_.empty()) return;
        std::u16string image;
        if (processes_.ProcessImagePath(process.id, &image) && !IsTemporary(image)) return;
        unopened_.push_back(process);
    }

    std::optional<bool> FromTemporaryFolder(ProcessHandle process) {
        std::u16string image;
        if (!processes_.QueryFullProcessImageNameW(process, &image)) return std::nullopt;
        return IsTemporary(image);
    }

    bool IsKnown(std::uint32_t id) const { return KnownById(id) != nullptr; }
    const Known* KnownById(std::uint32_t id) const {
        for (const Known& process : known_) {
            if (process.id == id) return &process;
        }
        return nullptr;
    }

    bool IsTemporary(const std::u16string& image) {
        if (!temporaryDirectoriesRead_) {
            temporaryDirectories_ = processes_.TemporaryDirectories();
            temporaryDirectoriesRead_ = true;
        }
        for (const std::u16string& directory : temporaryDirectories_) {
            if (StartsWithIgnoringCase(image, directory)) return true;
        }
        return false;
    }

    IProcesses& processes_;
    ProcessHandle job_;
    // The machine's processes just before the start; empty when that snapshot
    // failed, and then no process that cannot be opened holds the wait.
    const std::vector<ProcessEntry> before_;
    // The started process first, which is not this object's to close.
    std::vector<Known> known_;
    std::vector<TProcessHandle> opened_;
    std::vector<Unopened> unopened_;
    std::vector<std::u16string> temporaryDirectories_;
    bool temporaryDirectoriesRead_ = false;
};

// Polls between fresh looks while only a descendant that cannot be opened holds
// the wait, and while a started process that is in no job runs.
constexpr int kLookPolls = 25;

// Many uninstallers copy themselves into a temporary folder, start the copy and
// end at once; the copy does the work. Wait, in the same way, while any process
// the started one set going still runs from a temporary folder, or cannot be
// looked at yet. Whatever it left running elsewhere (a browser, a tray program) does
// not hold the wait.
void WaitForHandOver(IProcesses& processes, const ProcessMessagesProc& processMessages, TDescendants& descendants) {
    for (;;) {
        const TDescendants::TRunning running = descendants.RunningHandOvers();
        if (running.handles.empty() && !running.unopened) return;
        // Look again when one of them has ended: it may have handed over in
        // turn; with one that cannot be opened or read, also every so often.
        const auto oneEnded = [&] {
            return std::any_of(running.handles.begin(), running.handles.end(),
                               [&](ProcessHandle process) { return HasEnded(processes, process); });
        };
        Poll(processes, processMessages, oneEnded, running.unopened || running.unread ? kLookPolls : -1);
    }
}

// Lets the job go: processes its members start from now on stay out of it (an
// Explorer an uninstaller restarted, and what the user starts from it), then
// its handle is closed, which ends nothing.
void ReleaseJob(IProcesses& processes, ProcessHandle job) {
    processes.SetInformationJobObject(job, kJobObjectLimitBreakawayOk | kJobObjectLimitSilentBreakawayOk);
    processes.CloseHandle(job);
}

// A job for the process created suspended, before it runs: every process it
// starts goes into it, and theirs. Its members may break away when they ask.
// 0 where there is none (Windows 7, where jobs do not nest) or it cannot be set.
ProcessHandle PutInJob(IProcesses& processes, ProcessHandle process) {
    const ProcessHandle job = processes.CreateJobObjectW();
    if (!job) return 0;
    if (!processes.SetInformationJobObject(job, kJobObjectLimitBreakawayOk) ||
        !processes.AssignProcessToJobObject(job, process)) {
        processes.CloseHandle(job);
        return 0;
    }
    return job;
}

// A path in the 64-bit System32, found with redirection off, as a 32-bit
// process reaches it with redirection on: through the Sysnative alias.
std::u16string ReachableWithRedirection(IProcesses& processes, const std::u16string& path) {
    const std::u16string system = processes.GetSystemDirectoryW() + u"\\";
    if (system.size() < 2 || !StartsWithIgnoringCase(path, system)) return path;
    return processes.GetWindowsDirectoryW() + u"\\Sysnative\\" + path.substr(system.size());
}

}  // namespace

bool SplitCommandLine(IProcesses& processes, const std::u16string& commandLine, std::u16string& program,
                      std::u16string& arguments) {
    std::u16string found;
    if (!commandLine.empty() && commandLine[0] == u'"') {
        // Without its closing quote, the rest of the line is the program.
        const std::size_t close = std::min(commandLine.find(u'"', 1), commandLine.size());
        if (!processes.SearchPathW(commandLine.substr(1, close - 1), &found)) return false;
        program = found;
        arguments = ArgumentsAfter(commandLine, std::min(close + 1, commandLine.size()));
        return true;
    }
    // Unquoted: the shortest prefix, ending at a blank, that names a program.
    for (std::size_t end = 0; end <= commandLine.size(); ++end) {
        if (end < commandLine.size() && !IsBlank(commandLine[end])) continue;
        if (end > 0 && processes.SearchPathW(commandLine.substr(0, end), &found)) {
            program = found;
            arguments = ArgumentsAfter(commandLine, end);
            return true;
        }
    }
    return false;
}

std::optional<TRunningProcess> StartProcess(IProcesses& processes, const std::u16string& commandLine, int showWindow,
                                            WindowHandle owner, bool nativeFileSystem, TWaitScope scope) {
    if (commandLine.size() > kMaxCommandLine) return std::nullopt;
    std::vector<char16_t> buffer(std::max(commandLine.size() + 1, kMinimumCommandBuffer), u'\0');
    std::copy(commandLine.begin(), commandLine.end(), buffer.begin());

    StartupRecord startup;
    startup.dwFlags = kStartfUseShowWindow;
    startup.wShowWindow = static_cast<std::uint16_t>(showWindow);

    const bool handOvers = scope == wsHandOvers;
    // Whatever runs now is no descendant of what starts next.
    std::vector<ProcessEntry> before = handOvers ? processes.ProcessSnapshot() : std::vector<ProcessEntry>{};
    ProcessRecord child;
    ShellStartRecord start;
    bool created = false;
    {
        // Process creation alone, with its error and the program's lookup, sees
        // the 64-bit file system when asked for: libraries load and the shell
        // runs with the process's own view.
        const TNativeFileSystem view(processes, nativeFileSystem);
        created = processes.CreateProcessW(
            buffer.data(), kCreateNewConsole | kNormalPriorityClass | (handOvers ? kCreateSuspended : 0), startup,
            &child);
        if (!created) {
            // A program that needs administrator rights can only be started by
            // the shell, which asks the user for consent. Any other failure, a
            // refused consent included, is a command line that cannot be started.
            if (processes.GetLastError() != kErrorElevationRequired) return std::nullopt;
            if (!SplitCommandLine(processes, commandLine, start.lpFile, start.lpParameters)) return std::nullopt;
            if (view.Off()) start.lpFile = ReachableWithRedirection(processes, start.lpFile);
        }
    }
    if (!created) {
        start.hwnd = owner;
        start.nShow = showWindow;
        if (!processes.ShellExecuteExW(start, &child.hProcess) || !child.hProcess) return std::nullopt;
    }
    ProcessHandle job = 0;
    if (created && handOvers) {
        // The wait finds a copy handed over to through a process that has ended.
        // Where there is no job, the search by parent alone remains.
        job = PutInJob(processes, child.hProcess);
        processes.ResumeThread(child.hThread);
    }
    return TRunningProcess(processes, child, job, scope, std::move(before));
}

TRunningProcess::TRunningProcess(TRunningProcess&& other) noexcept
    : processes_(other.processes_),
      child_(std::exchange(other.child_, ProcessRecord{})),
      job_(std::exchange(other.job_, 0)),
      scope_(other.scope_),
      before_(std::move(other.before_)) {}

TRunningProcess::~TRunningProcess() {
    // The process handle, then the thread's, then the job's (which ends nothing).
    if (child_.hProcess) processes_->CloseHandle(child_.hProcess);
    if (child_.hThread) processes_->CloseHandle(child_.hThread);
    if (job_) ReleaseJob(*processes_, job_);
}

int TRunningProcess::Wait(const ProcessMessagesProc& processMessages) {
    if (!child_.hProcess) return -1;
    IProcesses& processes = *processes_;
    const ProcessHandle jobHandle = std::exchange(job_, 0);
    // Closed however the wait ends: the process handle, then the thread's, then the job's.
    const scope_exit job([&] {
        if (jobHandle) ReleaseJob(processes, jobHandle);
    });
    const TProcessHandle thread(processes, std::exchange(child_.hThread, 0));
    const TProcessHandle process(processes, child_.hProcess);
    const ProcessHandle handle = std::exchange(child_.hProcess, 0);

    std::optional<TDescendants> descendants;
    if (scope_ == wsHandOvers) descendants.emplace(processes, handle, jobHandle, std::move(before_));
    // In no job, a process the started one set going may end before it and
    // leave its own children with a parent nobody knew: look while it runs too.
    const bool lookWhileRunning = descendants && !jobHandle;
    int polls = 0;
    Poll(processes, processMessages, [&] {
        if (HasEnded(processes, handle)) return true;
        if (lookWhileRunning && ++polls % kLookPolls == 0) descendants->Look();
        return false;
    });
    processes.WaitForSingleObject(handle, kInfinite);
    std::uint32_t exitCode = 0;
    processes.GetExitCodeProcess(handle, &exitCode);
    if (descendants) WaitForHandOver(processes, processMessages, *descendants);
    return static_cast<int>(exitCode);
}

int RunAndWait(IProcesses& processes, const ProcessMessagesProc& processMessages, const std::u16string& commandLine,
               int showWindow, WindowHandle owner, bool nativeFileSystem, TWaitScope scope) {
    std::optional<TRunningProcess> child =
        StartProcess(processes, commandLine, showWindow, owner, nativeFileSystem, scope);
    return child ? child->Wait(processMessages) : -1;
}

bool IsWow64(IProcesses& processes) {
    bool isWow64 = false;
    if (!processes.QueryWow64(&isWow64)) return false;
    return isWow64;
}

#ifdef _WIN32
int RunAndWait(const std::u16string& commandLine, int showWindow) {
    return RunAndWait(SystemProcesses(), ProcessApplicationMessages, commandLine, showWindow);
}

bool IsWow64() { return IsWow64(SystemProcesses()); }
#endif

}  // namespace velmora
