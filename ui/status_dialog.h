// The modeless status dialog, its progress bar, and the pacing of transfers.
#pragma once
#include <windows.h>

HWND OpenStatus(int minimum, int maximum);
void SetStatusText(int baseId);     // shows the text, pumps messages, then pauses 200 ms
void StepStatus();
BOOL CloseStatus();                  // 0 when no dialog was open
void BusyWait(DWORD milliseconds);  // returns once that much time passed; processes no messages
INT_PTR CALLBACK StatusDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
