// The Options dialog: the player's mail address.
#pragma once
#include <windows.h>

void ShowOptionsDialog();
INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
