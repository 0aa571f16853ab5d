#include "unitOrvCInstallUtils.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#ifdef _WIN32
#include "platform/Application.h"
#endif

namespace velmora {

namespace {

constexpr std::uint32_t kPollSleepMs = 10;
// Room for 511 characters and a null at the least, as the command line may be
// written to by process creation.
constexpr std::size_t kMinimumCommandBuffer = 512;

// A handle of the process seam, closed through it when its owner goes.
unique_process_handle Owned(IProcesses& processes, ProcessHandle handle) {
    return unique_process_handle(handle, TProcessHandleCloser(processes));
}

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
    // Takes the started process's handle, which it holds from then on.
    TDescendants(IProcesses& processes, unique_process_handle root, ProcessHandle job,
                 std::vector<TProcessEntry> before)
        : processes_(processes), job_(job), before_(std::move(before)) {
        // Without its creation time nothing it started can be told apart.
        std::uint64_t created = 0;
        following_ = processes_.ProcessCreationTime(root.get(), &created);
        const std::uint32_t id = following_ ? processes_.GetProcessId(root.get()) : 0;
        known_.push_back({id, std::move(root), false});
    }

    struct TRunning {
        std::vector<ProcessHandle> Handles;
        // A descendant that could not be opened still runs: only a fresh look
        // tells when it ends.
        bool Unopened = false;
        // One of the handles is a process whose program could not be read yet.
        bool Unread = false;
    };

    // A fresh look for new descendants, which are held open from then on.
    void Look() {
        if (following_) Discover(processes_.ProcessSnapshot(), {});
    }

    // The known descendants that still run from a temporary folder, or whose
    // program cannot be read yet, after a fresh look for new ones; and whether
    // one that cannot be opened, and may be such a copy, still runs.
    TRunning RunningHandOvers() {
        TRunning running;
        if (!following_) return running;
        const std::vector<TProcessEntry> snapshot = processes_.ProcessSnapshot();
        const std::vector<std::uint32_t> members =
            job_ != ProcessHandle{} ? processes_.JobProcessIds(job_) : std::vector<std::uint32_t>{};
        Discover(snapshot, members);
        for (TKnown& process : known_) {
            const ProcessHandle handle = process.Handle.get();
            if (!process.Temporary) process.Temporary = FromTemporaryFolder(handle);
            if (process.Temporary.value_or(true) && processes_.WaitForSingleObject(handle, 0) == kWaitTimeout) {
                running.Handles.push_back(handle);
                running.Unread |= !process.Temporary;
            }
        }
        running.Unopened = std::any_of(unopened_.begin(), unopened_.end(), [&](const TUnopened& process) {
            return process.InJob ? Contains(members, process.Id) : Listed(snapshot, {process.Id, process.ParentId});
        });
        return running;
    }

private:
    // A process that is still starting may have neither its creation time nor
    // its program yet (Wine answers with garbage, and with nothing, then): the
    // creation time is read again whenever it is compared, which gives the same
    // for a process that is held, and the program until it can be read.
    struct TKnown {
        std::uint32_t Id;
        unique_process_handle Handle;
        // Whether its program lies in a temporary folder; none while unread.
        std::optional<bool> Temporary;
    };
    // A descendant that cannot be opened (another account's, say): known by its
    // id and its parent's, which is held, so the pair cannot name another
    // process; or, in the job, by its id while the job lists it.
    struct TUnopened {
        std::uint32_t Id;
        std::uint32_t ParentId;
        bool InJob;
    };

    static bool Contains(const std::vector<std::uint32_t>& ids, std::uint32_t id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    }
    static bool Listed(const std::vector<TProcessEntry>& snapshot, const TProcessEntry& process) {
        return std::any_of(snapshot.begin(), snapshot.end(), [&](const TProcessEntry& entry) {
            return entry.th32ProcessID == process.th32ProcessID &&
                   entry.th32ParentProcessID == process.th32ParentProcessID;
        });
    }

    void Discover(const std::vector<TProcessEntry>& snapshot, const std::vector<std::uint32_t>& members) {
        std::vector<std::uint32_t> passedOver;
        // A grandchild may stand before its parent in the snapshot: look again
        // until a pass finds nobody new.
        for (bool found = true; found;) {
            found = false;
            for (const TProcessEntry& entry : snapshot) {
                if (IsKnown(entry.th32ProcessID) || Contains(passedOver, entry.th32ProcessID)) continue;
                const TKnown* parent = KnownById(entry.th32ParentProcessID);
                if (!parent) continue;
                const ProcessHandle parentHandle = parent->Handle.get();
                passedOver.push_back(entry.th32ProcessID);
                // Ran before the start: its parent id names an earlier holder
                // (csrss.exe, wininit.exe and winlogon.exe name a dead smss.exe).
                if (Listed(before_, entry)) continue;
                unique_process_handle handle = Owned(processes_, processes_.OpenProcess(entry.th32ProcessID));
                if (!handle) {
                    NoteUnopened({entry.th32ProcessID, entry.th32ParentProcessID, false});
                    continue;
                }
                found |= Add(entry.th32ProcessID, std::move(handle), parentHandle);
            }
        }
        // The job's members, whoever their parents were, also one the parent
        // search passed over. One that ended between the list and the opening
        // may have left its id to a stranger: a member is kept only when the job
        // still lists its id once it is held open; the others are closed.
        std::vector<std::pair<std::uint32_t, unique_process_handle>> opened;
        for (const std::uint32_t id : members) {
            if (IsKnown(id)) continue;
            unique_process_handle handle = Owned(processes_, processes_.OpenProcess(id));
            if (handle) {
                opened.emplace_back(id, std::move(handle));
            } else {
                NoteUnopened({id, 0, true});
            }
        }
        if (opened.empty()) return;
        const std::vector<std::uint32_t> still = processes_.JobProcessIds(job_);
        for (auto& [id, handle] : opened) {
            // Never older than the started process.
            if (Contains(still, id)) Add(id, std::move(handle), known_.front().Handle.get());
        }
    }

    // Keeps the opened process when it is not older than its parent. One that
    // is passed over now is looked at again at the next look.
    bool Add(std::uint32_t id, unique_process_handle handle, ProcessHandle parent) {
        std::uint64_t created = 0, parentCreated = 0;
        if (!processes_.ProcessCreationTime(handle.get(), &created) ||
            !processes_.ProcessCreationTime(parent, &parentCreated) || created < parentCreated) {
            return false;
        }
        const std::optional<bool> temporary = FromTemporaryFolder(handle.get());
        known_.push_back({id, std::move(handle), temporary});
        return true;
    }

    // One that cannot be opened is waited for only while it may be a copy
    // handed over to: when its image can be read without a handle, only from
    // a temporary folder. Whatever ran before the start was passed over already.
    void NoteUnopened(const TUnopened& process) {
        const bool noted = std::any_of(unopened_.begin(), unopened_.end(), [&](const TUnopened& other) {
            return other.Id == process.Id && other.ParentId == process.ParentId && other.InJob == process.InJob;
        });
        if (noted || before_.empty()) return;
        std::u16string image;
        if (processes_.ProcessImagePath(process.Id, &image) && !IsTemporary(image)) return;
        unopened_.push_back(process);
    }

    std::optional<bool> FromTemporaryFolder(ProcessHandle process) {
        std::u16string image;
        if (!processes_.QueryFullProcessImageNameW(process, &image)) return std::nullopt;
        return IsTemporary(image);
    }

    bool IsKnown(std::uint32_t id) const { return KnownById(id) != nullptr; }
    const TKnown* KnownById(std::uint32_t id) const {
        for (const TKnown& process : known_) {
            if (process.Id == id) return &process;
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
    const std::vector<TProcessEntry> before_;
    // The started process first, then its descendants as they were found.
    std::vector<TKnown> known_;
    bool following_ = false;
    std::vector<TUnopened> unopened_;
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
        if (running.Handles.empty() && !running.Unopened) return;
        // Look again when one of them has ended: it may have handed over in
        // turn; with one that cannot be opened or read, also every so often.
        const auto oneEnded = [&] {
            return std::any_of(running.Handles.begin(), running.Handles.end(),
                               [&](ProcessHandle process) { return HasEnded(processes, process); });
        };
        Poll(processes, processMessages, oneEnded, running.Unopened || running.Unread ? kLookPolls : -1);
    }
}

// A job for the process created suspended, before it runs: every process it
// starts goes into it, and theirs. Its members may break away when they ask.
// None where there is none (Windows 7, where jobs do not nest) or it cannot be
// set; one that cannot be set is closed as it is.
unique_job PutInJob(IProcesses& processes, ProcessHandle process) {
    unique_process_handle job = Owned(processes, processes.CreateJobObjectW());
    unique_job kept(ProcessHandle{}, TJobCloser(processes));
    if (job && processes.SetInformationJobObject(job.get(), kJobObjectLimitBreakawayOk) &&
        processes.AssignProcessToJobObject(job.get(), process)) {
        kept.reset(job.release());
    }
    return kept;
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

    TStartupRecord startup;
    startup.dwFlags = kStartfUseShowWindow;
    startup.wShowWindow = static_cast<std::uint16_t>(showWindow);

    const bool handOvers = scope == wsHandOvers;
    // Whatever runs now is no descendant of what starts next.
    std::vector<TProcessEntry> before = handOvers ? processes.ProcessSnapshot() : std::vector<TProcessEntry>{};
    TProcessRecord child;
    TShellStartRecord start;
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
        if (!processes.ShellExecuteExW(start, &child.hProcess) || child.hProcess == ProcessHandle{}) {
            return std::nullopt;
        }
    }
    unique_process_handle process = Owned(processes, child.hProcess);
    unique_process_handle thread = Owned(processes, child.hThread);
    unique_job job(ProcessHandle{}, TJobCloser(processes));
    if (created && handOvers) {
        // The wait finds a copy handed over to through a process that has ended.
        // Where there is no job, the search by parent alone remains.
        job = PutInJob(processes, process.get());
        processes.ResumeThread(thread.get());
    }
    return TRunningProcess(processes, std::move(process), std::move(thread), std::move(job), scope, std::move(before));
}

void TJobCloser::operator()(ProcessHandle job) const noexcept {
    processes_->SetInformationJobObject(job, kJobObjectLimitBreakawayOk | kJobObjectLimitSilentBreakawayOk);
    processes_->CloseHandle(job);
}

int TRunningProcess::Wait(const ProcessMessagesProc& processMessages) {
    if (!process_) return -1;
    IProcesses& processes = *processes_;
    // Closed however the wait ends: the process handle, then the thread's, then the job's.
    const unique_job job = std::move(job_);
    const unique_process_handle thread = std::move(thread_);
    unique_process_handle process = std::move(process_);
    const ProcessHandle handle = process.get();

    // The search for descendants holds the started process from here.
    std::optional<TDescendants> descendants;
    if (scope_ == wsHandOvers) descendants.emplace(processes, std::move(process), job.get(), std::move(before_));
    // In no job, a process the started one set going may end before it and
    // leave its own children with a parent nobody knew: look while it runs too.
    const bool lookWhileRunning = descendants && !job;
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
