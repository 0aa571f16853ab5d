// A Windows program that does nothing: its run time is the cost of starting and
// ending a process under the platform, which every contender pays once or more.
#include "platform/WindowsHeaders.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
