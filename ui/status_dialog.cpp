#include "ui/status_dialog.h"

#include <commctrl.h>

#include "app/base/app_state.h"
#include "app/base/lang_text.h"
#include "ui/message_pump.h"
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
}

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

void BusyWait(DWORD milliseconds)
{
    PauseTicks(milliseconds);
}

INT_PTR CALLBACK StatusDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
