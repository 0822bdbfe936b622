// The display's DPI for a window, and the program's word that it scales itself on every monitor.
#pragma once
#include <windows.h>

// Sent by Windows 8.1 and later when the window moved to a monitor of another DPI; MinGW
// declares it only for Windows 7 and later targets.
constexpr UINT DpiChangedMessage = 0x02E0;

// Per-monitor awareness, the second version first, where the manifest did not decide it already
// (on Windows 10 it has, and the call changes nothing). Wine refuses the second version.
void DeclareDpiAwareness();

// The DPI of the monitor the window is on, or the system's on Windows before 10.
int WindowDpi(HWND window);
