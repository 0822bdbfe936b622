// The yardstick of the start-up and memory benchmarks: a minimal program that registers a
// class and paints one bitmap, bitmap 3 of starter.dll, in a plain popup window. Usage:
// baseline_window.exe [path of starter.dll]. After its first paint it sets the event named
// in STARTER_PAINTED_EVENT, at the same point as Starter.exe.
#include <windows.h>

#include "app/painted_event.h"

namespace {
constexpr char ClassName[] = "SKV_PerfBaseline";
constexpr int MainBitmap = 3;

// The bitmap rides on the window, so the program needs no state of its own.
HBITMAP BitmapOf(HWND window)
{
    return reinterpret_cast<HBITMAP>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

SIZE SizeOf(HBITMAP bitmap)
{
    BITMAP info = {};
    GetObjectA(bitmap, sizeof info, &info);
    return {info.bmWidth, info.bmHeight};
}

LRESULT Paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HBITMAP bitmap = BitmapOf(window);
    const SIZE size = SizeOf(bitmap);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(dc, 0, 0, size.cx, size.cy, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    EndPaint(window, &paint);
    return 0;
}

LRESULT Destroy()
{
    PostQuitMessage(0);
    return 0;
}

LRESULT CALLBACK BaselineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: return Paint(window);
    case WM_DESTROY: return Destroy();
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The command line is the library's path, possibly quoted.
void LibraryPath(const char* commandLine, char* path, int size)
{
    lstrcpynA(path, *commandLine ? commandLine : "starter.dll", size);
    if (path[0] != '"')
        return;
    const int length = lstrlenA(path);
    MoveMemory(path, path + 1, length);
    if (length > 1 && path[length - 2] == '"')
        path[length - 2] = '\0';
}

HWND CreateBaselineWindow(HINSTANCE instance, HBITMAP bitmap)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = BaselineProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = ClassName;
    RegisterClassExA(&windowClass);
    const SIZE size = SizeOf(bitmap);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
    HWND window = CreateWindowExA(0, ClassName, "Baseline", WS_POPUP, x, y, size.cx, size.cy, nullptr, nullptr,
                                  instance, nullptr);
    if (window)
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bitmap));
    return window;
}
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    char path[MAX_PATH];
    LibraryPath(commandLine, path, MAX_PATH);
    HMODULE library = LoadLibraryA(path);
    if (!library)
        return 1;
    HBITMAP bitmap =
        static_cast<HBITMAP>(LoadImageA(library, MAKEINTRESOURCEA(MainBitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    HWND window = bitmap ? CreateBaselineWindow(instance, bitmap) : nullptr;
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SignalFirstPaint();
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    FreeLibrary(library);
    return static_cast<int>(message.wParam);
}
