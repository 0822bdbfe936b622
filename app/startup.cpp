#include "app/startup.h"

#include "app/base/app_state.h"
#include "app/game_lookup.h"
#include "app/language.h"
#include "app/launch.h"
#include "app/main_window.h"
#include "app/painted_event.h"
#include "app/base/paths.h"
#include "online/error_box.h"
#include "ui/dpi.h"
#include "ui/message_pump.h"
#include "ui/skin_windows.h"
#include "ui/status_dialog.h"

#include <commctrl.h>
#include <cstdlib>

namespace {
// Read with the entry point's instance, not through the language loader.
void LoadTitleStrings(HINSTANCE instance)
{
    LoadStringA(instance, IDS_APP_TITLE, App.TitleText, TitleBufferSize);
    LoadStringA(instance, IDS_CLASS_NAME, App.ClassName, TitleBufferSize);
}

// Without the pictures there is no window to show: the box, then the run-time's normal exit
// (static objects released, nothing of the shutdown run), as the hand-over to the game ends.
void LoadResourceLibraryOrExit()
{
    App.ResourceLibrary = LoadResourceLibrary();
    if (!App.ResourceLibrary)
        std::exit(0);
}

void LoadAcceleratorTable(HINSTANCE instance)
{
    App.Accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
}

// Returns the code of the quit message.
int RunMessageLoop()
{
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchQueued(message);
    return static_cast<int>(message.wParam);
}
}

int StartUp(HINSTANCE instance)
{
    // Before any window: the error box of the library load scales as well.
    DeclareDpiAwareness();
    LoadTitleStrings(instance);
    InitCommonControls();
    FindGame();
    ReadLanguage();
    RunSetupIfNeeded();
    LoadResourceLibraryOrExit();
    RegisterMainClass(instance);
    if (!CreateMainWindow(instance, SW_SHOWNORMAL))
        return 0;
    LoadAcceleratorTable(instance);
    // CreateMainWindow has painted the window, its description and its buttons.
    SignalFirstPaint();
    const int exitCode = RunMessageLoop();
    ShutDown();
    return exitCode;
}

void RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_STARTER_LARGE));
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_STARTER_SMALL));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = App.ClassName;
    RegisterClassExA(&windowClass);
}

HMODULE LoadResourceLibrary()
{
    const std::string path = JoinPath(App.StarterDir, "starter.dll");
    HMODULE library = LoadLibraryA(path.c_str());
    if (!library)
        ReportError(IDS_NO_LIBRARY, static_cast<int>(GetLastError()), ErrorLine, StarterSourceFile);
    return library;
}

void ShutDown()
{
    if (App.ResourceLibrary) {
        FreeLibrary(App.ResourceLibrary);
        App.ResourceLibrary = nullptr;
    }
    CloseStatus();
}
