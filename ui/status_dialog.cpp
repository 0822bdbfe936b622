#include "ui/status_dialog.h"

#include <commctrl.h>

#include "app/app_state.h"
#include "app/lang_text.h"
#include "ui/pause.h"

namespace {

constexpr DWORD StatusTextPause = 200;

LRESULT SendToProgress(UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendDlgItemMessageA(App.StatusDialog, IDC_STATUS_PROGRESS, message, wParam, lParam);
}

// A millisecond count from the performance counter, wrapping like the tick count. The tick
// count itself advances in steps of 15 or 16 ms, which made every pause about 8 ms too long.
uint32_t MillisecondTicks()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const uint64_t count = now.QuadPart, perSecond = frequency.QuadPart;
    return static_cast<uint32_t>(count / perSecond * 1000 + count % perSecond * 1000 / perSecond);
}

// Sleeping a millisecond between readings keeps a pause off the processor without letting
// any message through.
void PauseTicks(DWORD milliseconds)
{
    PauseFor(milliseconds, MillisecondTicks, [] { Sleep(1); });
}

void DispatchQueued(MSG& message)
{
    if (TranslateAcceleratorA(message.hwnd, App.Accelerators, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

INT_PTR EndAboutBox(HWND dialog, WPARAM wParam)
{
    const WORD command = LOWORD(wParam);
    if (command != IDOK && command != IDCANCEL)
        return FALSE;
    EndDialog(dialog, command);
    return TRUE;
}

} // namespace

HWND OpenStatus(int minimum, int maximum)
{
    if (!App.StatusDialog) {
        App.StatusDialog = CreateDialogParamA(App.Instance, MAKEINTRESOURCEA(IDD_STATUS), App.MainWindow,
                                              StatusDialogProc, 0);
        if (!App.StatusDialog)
            return nullptr;
    }
    SendToProgress(PBM_SETRANGE, 0, MAKELPARAM(minimum, maximum));
    SendToProgress(PBM_SETSTEP, 1, 0);
    return App.StatusDialog;
}

void SetStatusText(int baseId)
{
    if (App.StatusDialog)
        SendDlgItemMessageA(App.StatusDialog, IDC_STATUS_TEXT, WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>(LoadLangString(baseId)));
    PumpMessages();
    PauseTicks(StatusTextPause);
}

void StepStatus()
{
    if (App.StatusDialog)
        SendToProgress(PBM_STEPIT, 0, 0);
}

BOOL CloseStatus()
{
    if (!App.StatusDialog)
        return 0;
    const BOOL destroyed = DestroyWindow(App.StatusDialog);
    App.StatusDialog = nullptr;
    return destroyed;
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

void BusyWait(DWORD milliseconds)
{
    PauseTicks(milliseconds);
}

INT_PTR CALLBACK StatusDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        return EndAboutBox(dialog, wParam);
    }
    return FALSE;
}
