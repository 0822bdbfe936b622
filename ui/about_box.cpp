#include "ui/about_box.h"

namespace {
INT_PTR EndAboutBox(HWND dialog, WPARAM wParam)
{
    const WORD command = LOWORD(wParam);
    if (command != IDOK && command != IDCANCEL)
        return FALSE;
    EndDialog(dialog, command);
    return TRUE;
}
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
