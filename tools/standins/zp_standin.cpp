// Installed as ZP.EXE in test installations: records how it was started, then shows the
// game's main window (class and title the Starter looks for) until it is closed.
#include <windows.h>
#include "tools/standins/standin_log.h"

namespace {

const char GameClass[] = "AfxFrameOrView42s";
const char GameTitle[] = "Zephyrion";

LRESULT CALLBACK GameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const bool recorded = RecordStart();
    if (ExitRequested()) return recorded ? 0 : 1;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = GameWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = GameClass;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(GameClass, GameTitle, WS_OVERLAPPEDWINDOW, 40, 40, 320, 200,
                                nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNORMAL);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return recorded ? 0 : 1;
}
