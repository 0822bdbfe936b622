// The modeless status dialog, its progress bar, and the pacing of transfers.
#pragma once
#include <windows.h>

HWND OpenStatus(int minimum, int maximum);
void SetStatusText(int baseId);     // shows the text, pumps messages, then pauses 200 ms
void StepStatus();
BOOL CloseStatus();                  // 0 when no dialog was open
int PumpMessages();                  // dispatches all waiting messages; always 0
void BusyWait(DWORD milliseconds);  // returns once that much time passed; processes no messages

// Runs a call that may block for long (a network call) on a helper thread and dispatches
// messages until it returns, so the windows keep painting and a quit request is kept for the
// main loop. Afterwards the call's last error is this thread's last error.
void WaitPumping(void (*call)(void*), void* context);

template <class Call>
auto CallPumping(Call call) -> decltype(call())
{
    decltype(call()) result{};
    auto run = [&] { result = call(); };
    WaitPumping([](void* context) { (*static_cast<decltype(run)*>(context))(); }, &run);
    return result;
}

INT_PTR CALLBACK StatusDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
