// app/: the top: start-up, language, game lookup, launching and the main window procedure; may
// include every folder. What every folder may include is in app/base/.
// The main window's procedure: every player action arrives here as a command.
#pragma once
#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
