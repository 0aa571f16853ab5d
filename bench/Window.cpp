// The least a windowed program under the platform costs to start: a top-level
// window with an empty report list view, shown and painted, then a message
// loop. Closing the window ends it.
#include "BenchWindow.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const HWND window = bench::CreateBenchWindow(instance, L"VelmoraBenchWindow");
    bench::CreateBenchList(window);
    return bench::ShowAndRun(window);
}
