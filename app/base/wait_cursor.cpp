#include "app/base/wait_cursor.h"

WaitCursor::WaitCursor(HWND window)
{
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    if (!wait)
        return;
    // Without a current cursor, give the class back the cursor it had, not the hourglass.
    HCURSOR before = reinterpret_cast<HCURSOR>(GetClassLongPtrA(window, GCLP_HCURSOR));
    SetClassLongPtrA(window, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(wait));
    HCURSOR current = SetCursor(wait);
    Previous = current ? current : before;
    Window = window;
}

WaitCursor::~WaitCursor()
{
    if (!Previous)
        return;
    SetClassLongPtrA(Window, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(Previous));
    SetCursor(Previous);
}
