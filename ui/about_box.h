// The About box: dialog 103, run modally by the main window for command 104.
#pragma once
#include <windows.h>

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
