// RunAndWait's loop and IsWow64 against the scripted process functions.
#include <gtest/gtest.h>

#include <stdexcept>

#include "FakeProcesses.h"
#include "unitOrvCInstallUtils.h"

namespace velmora::testing {
namespace {

TEST(RunAndWait, PollsServicingMessagesUntilTheChildEnds) {
    FakeProcesses processes;
    processes.pollsWhileRunning = 2;
    processes.exitCode = 0xC0000005u;
    auto pump = [&] { processes.calls.push_back("messages"); };

    const int result = RunAndWait(processes, pump, u"\"C:\\Program Files\\App\\unins.exe\" /S", 5);

    EXPECT_EQ(result, static_cast<int>(0xC0000005u));
    const std::vector<std::string> expected = {
        "create \"C:\\Program Files\\App\\unins.exe\" /S",
        "wait 0", "messages", "sleep 10",
        "wait 0", "messages", "sleep 10",
        "wait 0", "wait infinite", "exitcode", "close process", "close thread"};
    EXPECT_EQ(processes.calls, expected);
    EXPECT_EQ(processes.lastCreationFlags, 0x30u);
    EXPECT_EQ(processes.lastStartup.cb, sizeof(void*) == 4 ? 68u : 104u);
    EXPECT_EQ(processes.lastStartup.dwFlags, 1u);
    EXPECT_EQ(processes.lastStartup.wShowWindow, 5u);
}

TEST(RunAndWait, ChildThatHasEndedCostsNoSleep) {
    FakeProcesses processes;
    processes.exitCode = 3;
    int pumped = 0;
    EXPECT_EQ(RunAndWait(processes, [&] { ++pumped; }, u"quick.exe", 0), 3);
    EXPECT_EQ(pumped, 0);
    const std::vector<std::string> expected = {"create quick.exe", "wait 0", "wait infinite", "exitcode",
                                               "close process", "close thread"};
    EXPECT_EQ(processes.calls, expected);
}

TEST(RunAndWait, FailedStartAnswersMinusOneAndTouchesNothingElse) {
    FakeProcesses processes;
    processes.startFails = true;
    EXPECT_EQ(RunAndWait(processes, nullptr, u"missing.exe", 5), -1);
    EXPECT_EQ(processes.calls, std::vector<std::string>{"create missing.exe"});
}

TEST(RunAndWait, CommandLinesPassUnchangedUpToTheLimitOfProcessCreation) {
    FakeProcesses processes;
    const std::u16string odd = u"cmd /c \"echo %PATH% & del *.* | more\" ^& 'x' \"\"";
    const std::u16string exactly511 = u"run.exe " + std::u16string(503, u'a');
    const std::u16string long2000 = u"run.exe " + std::u16string(1992, u'b');
    const std::u16string longest = std::u16string(kMaxCommandLine, u'c');
    for (const auto& line : {odd, exactly511, long2000, longest}) {
        processes.commandLines.clear();
        EXPECT_EQ(RunAndWait(processes, nullptr, line, 5), 0);
        ASSERT_EQ(processes.commandLines.size(), 1u);
        EXPECT_EQ(processes.commandLines[0], line);
    }
    EXPECT_EQ(exactly511.size(), 511u);

    processes.calls.clear();
    EXPECT_EQ(RunAndWait(processes, nullptr, longest + u"c", 5), -1);
    EXPECT_TRUE(processes.calls.empty()) << "a command line beyond the limit was started";
}

TEST(RunAndWait, HandlesAreClosedWhenServicingMessagesFails) {
    FakeProcesses processes;
    processes.pollsWhileRunning = 5;
    EXPECT_THROW(RunAndWait(processes, [] { throw std::runtime_error("pump"); }, u"x.exe", 5), std::runtime_error);
    ASSERT_GE(processes.calls.size(), 2u);
    EXPECT_EQ(processes.calls[processes.calls.size() - 2], "close process");
    EXPECT_EQ(processes.calls.back(), "close thread");
}

TEST(IsWow64, FollowsTheQueryAndItsAbsence) {
    FakeProcesses processes;
    processes.wow64 = true;
    EXPECT_TRUE(IsWow64(processes));
    processes.wow64 = false;
    EXPECT_FALSE(IsWow64(processes));
    processes.wow64 = true;
    processes.wow64QueryExists = false;
    EXPECT_FALSE(IsWow64(processes));
}

}  // namespace
}  // namespace velmora::testing
