#include "ui/message_pump.h"

#include "app/base/app_state.h"

void DispatchQueued(MSG& message)
{
    if (TranslateAcceleratorA(message.hwnd, App.Accelerators, &message))
        return;
    // Tab, Shift+Tab, Enter, Esc and the arrows among the main window's children.
    if (App.MainWindow && IsDialogMessageA(App.MainWindow, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

namespace {
// Dispatches every waiting message; a quit request is taken out and reported instead.
bool DispatchWaiting(int& quitCode)
{
    bool quitRequested = false;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quitRequested = true;
            quitCode = static_cast<int>(message.wParam);
            continue;
        }
        DispatchQueued(message);
    }
    return quitRequested;
}

struct PumpedCall {
    void (*Call)(void*);
    void* Context;
    DWORD Error;
};

DWORD WINAPI RunPumpedCall(LPVOID parameter)
{
    PumpedCall& job = *static_cast<PumpedCall*>(parameter);
    job.Call(job.Context);
    job.Error = GetLastError();
    return 0;
}
}

// A quit request taken here is posted again once the queue is empty, so the main
// loop still ends the program after the running action returns.
int PumpMessages()
{
    int quitCode = 0;
    if (DispatchWaiting(quitCode))
        PostQuitMessage(quitCode);
    return 0;
}

void WaitPumping(void (*call)(void*), void* context)
{
    PumpedCall job = {call, context, 0};
    HANDLE thread = CreateThread(nullptr, 0, RunPumpedCall, &job, 0, nullptr);
    if (!thread) {
        call(context);   // no helper thread: the call blocks here, as it would anyway
        return;
    }
    // The quit request is held until the call is over, so the wait does not spin on it.
    bool quitRequested = false;
    int quitCode = 0;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
        quitRequested |= DispatchWaiting(quitCode);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    if (quitRequested)
        PostQuitMessage(quitCode);
    SetLastError(job.Error);
}

