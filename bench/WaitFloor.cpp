// The floor of Velmora's wait on an uninstaller: an idle window with an empty
// list that starts a program and waits for it the way any window that stays
// live must, polling every 10 ms and servicing its messages between polls, then
// runs its message loop until it is closed.
//
//   WaitFloor PROGRAM   PROGRAM: the command line to run and wait for
#include "BenchWindow.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    const HWND window = bench::CreateBenchWindow(instance, L"VelmoraBenchWaitFloor");
    bench::CreateBenchList(window);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                       &process)) {
        MSG msg;
        while (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) bench::Dispatch(msg);
            Sleep(10);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return bench::ShowAndRun(window);
}
