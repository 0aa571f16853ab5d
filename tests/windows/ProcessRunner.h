// Runs a program for a test and waits for it.
#pragma once

#include <string>

namespace velmora::testing {

// Starts the command line hidden, waits for its end and returns its exit code,
// or -1 when it cannot be started.
int RunProgram(const std::wstring& commandLine);

}  // namespace velmora::testing
