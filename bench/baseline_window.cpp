// The yardstick of the start-up and memory benchmarks: a minimal program that paints a bitmap
// of starter.dll in a plain popup window, with child windows on it that each paint one bitmap
// of the library: given the Starter's main picture and its eleven children (description picture
// and ten buttons, same places and pictures at the same scale), what Wine charges for each window
// is in both figures. Nothing is shaped, hovered or subclassed. Usage:
//   baseline_window.exe ["path of starter.dll"] [MAIN,0,0 [BITMAP,X,Y ...]]
// After its first paint it sets the event named in STARTER_PAINTED_EVENT, at the same point as
// Starter.exe.
#include <windows.h>

#include <cstdlib>

#include "app/painted_event.h"

namespace {
constexpr char ClassName[] = "SKV_PerfBaseline";
constexpr char ChildClassName[] = "SKV_PerfBaselinePicture";
constexpr long MainBitmap = 3;   // without a list

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

LRESULT CALLBACK PictureProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT)
        return Paint(window);
    return DefWindowProcA(window, message, wParam, lParam);
}

// The library's path, quoted when the command line goes on; returns the rest of the line.
const char* LibraryPath(const char* commandLine, char* path, int size)
{
    const char* end = commandLine;
    if (*commandLine == '"') {
        ++commandLine;
        for (end = commandLine; *end && *end != '"'; ++end) {}
    } else {
        for (; *end && *end != ' '; ++end) {}
    }
    const int length = static_cast<int>(end - commandLine);
    lstrcpynA(path, length ? commandLine : "starter.dll", length && length < size ? length + 1 : size);
    return *end == '"' ? end + 1 : end;
}

HBITMAP LoadPicture(HMODULE library, int id)
{
    return static_cast<HBITMAP>(LoadImageA(library, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

void RegisterClasses(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = BaselineProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = ClassName;
    RegisterClassExA(&windowClass);
    windowClass.lpfnWndProc = PictureProc;
    windowClass.lpszClassName = ChildClassName;
    RegisterClassExA(&windowClass);
}

HWND CreatePictureWindow(HWND parent, HINSTANCE instance, HBITMAP bitmap, DWORD style, int x, int y)
{
    const SIZE size = SizeOf(bitmap);
    HWND window = CreateWindowExA(0, parent ? ChildClassName : ClassName, "Baseline", style, x, y, size.cx, size.cy,
                                  parent, nullptr, instance, nullptr);
    if (window)
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bitmap));
    return window;
}

// The next "BITMAP,X,Y" of the list: false at its end.
bool NextPicture(const char*& list, long& bitmap, long& x, long& y)
{
    char* next = nullptr;
    bitmap = std::strtol(list, &next, 10);
    if (next == list)
        return false;
    x = std::strtol(next + 1, &next, 10);
    y = std::strtol(next + 1, &next, 10);
    list = next;
    return true;
}

// One child, shown, for each "BITMAP,X,Y" of the list.
void AddChildren(HWND parent, HINSTANCE instance, HMODULE library, const char* list)
{
    long bitmap, x, y;
    while (NextPicture(list, bitmap, x, y))
        if (HBITMAP picture = LoadPicture(library, static_cast<int>(bitmap)))
            CreatePictureWindow(parent, instance, picture, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, x, y);
}

HWND CreateBaselineWindow(HINSTANCE instance, HMODULE library, const char* pictures)
{
    long main = MainBitmap, unusedX, unusedY;   // the window is centred
    const char* children = pictures;
    if (!NextPicture(children, main, unusedX, unusedY))
        main = MainBitmap;
    HBITMAP bitmap = LoadPicture(library, static_cast<int>(main));
    if (!bitmap)
        return nullptr;
    RegisterClasses(instance);
    const SIZE size = SizeOf(bitmap);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
    HWND window = CreatePictureWindow(nullptr, instance, bitmap, WS_POPUP | WS_CLIPCHILDREN, x, y);
    if (window)
        AddChildren(window, instance, library, children);
    return window;
}
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    char path[MAX_PATH];
    const char* pictures = LibraryPath(commandLine, path, MAX_PATH);
    HMODULE library = LoadLibraryA(path);
    if (!library)
        return 1;
    HWND window = CreateBaselineWindow(instance, library, pictures);
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
