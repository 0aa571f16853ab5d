// Velmora's start-up and message loop, the whole of the program's entry.
#pragma once

#include "platform/WindowsHeaders.h"

namespace velmora {

// Sets up the application, creates the main window and runs the message loop
// until the window is closed. Answers the program's exit code: 0, or 1 when the
// main window could not be created.
int RunVelmora(HINSTANCE instance);

}  // namespace velmora
