// Scoped hourglass: the window's class cursor and the current cursor show the wait
// cursor until the scope ends, on every path.
#pragma once
#include <windows.h>

class WaitCursor {
public:
    explicit WaitCursor(HWND window);
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR Previous = nullptr;   // null: nothing changed, nothing to restore
    HWND Window = nullptr;
};
