// Velmora's entry: the application object, the one main window, the message
// loop. No command line is read; the exit code is 0, or 1 when the main window
// could not be created.
#include "platform/WindowsHeaders.h"

#include "Velmora.h"

#include "LibrarySearch.h"
#include "frmOrvUninstallMain.h"
#include "platform/Application.h"

namespace velmora {

int RunVelmora(HINSTANCE instance) {
    // Before anything can load a library.
    LoadLibrariesFromSystemFolderOnly();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    TApplication& application = Application();
    // The title first, which only the application object holds: the error box
    // of a failed start carries it as its caption.
    application.SetTitle(u"Velmora");
    Guarded([&] {
        application.Initialize(instance);
        application.InitializeCom();
        application.SetMainFormOnTaskBar(true);
        application.CreateMainForm([] { return std::make_unique<TOrvUninstallMainForm>(); });
    });
    // Without a main window (the application window or the main window could
    // not be created, and the error box has been shown) Run returns at once and
    // the program ends.
    const int exitCode = application.MainForm() ? 0 : 1;
    application.Run();
    application.Finish();
    return exitCode;
}

}  // namespace velmora

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return velmora::RunVelmora(instance); }
