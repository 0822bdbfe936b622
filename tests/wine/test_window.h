// A window class of the tests: the given procedure, this program's instance, the arrow cursor.
// Registering a name again changes nothing.
#pragma once
#include <windows.h>

inline void RegisterTestClass(const char* name, WNDPROC procedure)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = name;
    RegisterClassA(&windowClass);
}
