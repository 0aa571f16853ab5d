// Process utilities: run a command line and wait for its end while the window's
// messages are serviced; tell a 32-bit process on 64-bit Windows.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Processes.h"

namespace velmora {

// Services every message waiting in the GUI thread's queue and returns when the
// queue is empty: the application's pump (ProcessApplicationMessages), or nothing.
using ProcessMessagesProc = std::function<void()>;

// The longest command line process creation accepts, without its null.
constexpr std::size_t kMaxCommandLine = 32766;

// How far a wait follows what it started: the process and whatever copy it
// hands over to (an uninstaller), or the process alone (the companion, which
// starts nothing).
enum TWaitScope { wsHandOvers, wsProcessOnly };

// Starts the command line in a new console with the given show state and waits
// for its end, servicing messages between polls. A program that needs
// administrator rights is started through the shell instead, which asks for
// consent in front of owner. When the child has ended, the wait goes on while a
// copy it handed over to runs from a temporary folder (with wsProcessOnly, the
// child alone is started and waited for). Answers the child's exit
// code, or -1 when it cannot be started (also when the command line is too long
// or the consent is refused). With nativeFileSystem, a 32-bit process on 64-bit
// Windows starts it as a 64-bit one would: System32 is the 64-bit one.
int RunAndWait(IProcesses& processes, const ProcessMessagesProc& processMessages, const std::u16string& commandLine,
               int showWindow, WindowHandle owner = {}, bool nativeFileSystem = false, TWaitScope scope = wsHandOvers);

// Closes a job's handle, which ends nothing, after letting the job go:
// processes its members start from then on stay out of it (an Explorer an
// uninstaller restarted, and what the user starts from it).
class TJobCloser : public TProcessHandleCloser {
public:
    using TProcessHandleCloser::TProcessHandleCloser;
    void operator()(ProcessHandle job) const noexcept;
};
using unique_job = unique_any<ProcessHandle, TJobCloser>;

// A process RunAndWait's start has set going and nobody has waited for yet.
// Its handles are closed when it goes, waited for or not; the process itself is
// never ended.
class TRunningProcess {
public:
    TRunningProcess(IProcesses& processes, unique_process_handle process, unique_process_handle thread, unique_job job,
                    TWaitScope scope, std::vector<TProcessEntry> before)
        : processes_(&processes),
          job_(std::move(job)),
          thread_(std::move(thread)),
          process_(std::move(process)),
          scope_(scope),
          before_(std::move(before)) {}

    // The rest of RunAndWait: waits for the process and then for any copy it
    // handed over to; the process's exit code. Once only.
    int Wait(const ProcessMessagesProc& processMessages);

private:
    IProcesses* processes_;
    // The job the process was put in, or none. Members go last first: the
    // process handle is closed first, then the thread's, then the job's.
    unique_job job_;
    unique_process_handle thread_;
    unique_process_handle process_;
    TWaitScope scope_;
    // The machine's processes just before the start.
    std::vector<TProcessEntry> before_;
};

// RunAndWait's start alone: nothing when the command line cannot be started.
std::optional<TRunningProcess> StartProcess(IProcesses& processes, const std::u16string& commandLine, int showWindow,
                                            WindowHandle owner = {}, bool nativeFileSystem = false,
                                            TWaitScope scope = wsHandOvers);

// Reads a command line as process creation does when given no application
// name: a quoted first token is the program (all the rest when the quote is not
// closed); otherwise the shortest prefix that ends at a blank and names a
// program. Answers the program's full path and the rest of the line, as it
// stands, after the separating blanks.
bool SplitCommandLine(IProcesses& processes, const std::u16string& commandLine, std::u16string& program,
                      std::u16string& arguments);

bool IsWow64(IProcesses& processes);

#ifdef _WIN32
// The same on the machine's own processes, servicing the application's messages.
int RunAndWait(const std::u16string& commandLine, int showWindow);
bool IsWow64();
#endif

}  // namespace velmora
