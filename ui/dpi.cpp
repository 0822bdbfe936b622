#include "ui/dpi.h"

#include "res/layout.h"
#include "ui/library_function.h"

namespace {
// DPI_AWARENESS_CONTEXT values; MinGW declares them only for Windows 10 targets.
const HANDLE PerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
const HANDLE PerMonitorAware = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3));
}

void DeclareDpiAwareness()
{
    using SetContext = BOOL(WINAPI*)(HANDLE);
    if (auto setContext = LibraryFunction<SetContext>("user32.dll", "SetProcessDpiAwarenessContext"))
        setContext(PerMonitorAwareV2) || setContext(PerMonitorAware);
}

int WindowDpi(HWND window)
{
    using GetDpi = UINT(WINAPI*)(HWND);
    if (auto getDpi = LibraryFunction<GetDpi>("user32.dll", "GetDpiForWindow")) {
        if (const UINT dpi = getDpi(window))
            return static_cast<int>(dpi);
    }
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : LayoutDpi;
}
