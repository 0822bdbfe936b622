// Drives another process's windows as a player would: find windows, click, move the mouse,
// type, read and answer message boxes. Win64 test tool; every call works across processes.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace uidriver {

constexpr DWORD DefaultTimeoutMs = 10000;

// What a top-level window must match. Empty texts and a zero process id match anything.
struct WindowQuery {
    std::string ClassName;
    std::string Caption;        // the whole caption
    DWORD ProcessId = 0;
    bool VisibleOnly = true;
};

// Window lookup
HWND FindTopWindow(const WindowQuery& query);
std::vector<HWND> FindTopWindows(const WindowQuery& query);
HWND WaitForWindow(const WindowQuery& query, DWORD timeoutMs = DefaultTimeoutMs);
bool WaitForWindowGone(HWND window, DWORD timeoutMs = DefaultTimeoutMs);
HWND ChildById(HWND parent, int id);
HWND WaitForChild(HWND parent, int id, DWORD timeoutMs = DefaultTimeoutMs);

// Window facts
std::string ClassOf(HWND window);
std::string TextOf(HWND window);            // caption or control text (WM_GETTEXT)
DWORD ProcessOf(HWND window);
RECT WindowBox(HWND window);                // screen coordinates
RECT ClientBox(HWND window);                // client area in screen coordinates
bool IsShown(HWND window);
bool IsEnabledWindow(HWND window);
HWND OwnerOf(HWND window);
// The bounding box of the window's region in window coordinates; false when it has none.
bool RegionBox(HWND window, RECT& box);
// True when the window's region contains the window-relative point (or it has no region).
bool RegionContains(HWND window, POINT windowPoint);

// Waits until the window's thread has handled everything queued before and has nothing
// left to paint, so a screenshot shows its final state.
bool WaitUntilSettled(HWND window, DWORD timeoutMs = DefaultTimeoutMs);
// Polls a condition every 20 ms until it holds or the time is up.
template <class Condition>
bool WaitFor(Condition condition, DWORD timeoutMs = DefaultTimeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(20);
    }
}

// A player's click: the real mouse at the centre of the child `id` of `parent`. False when
// there is no such child or it is hidden. A disabled or covered button does not react, as
// for a player; the click is queued, so wait for its effect.
bool ClickButton(HWND parent, int id);
// Commands. Posted, never sent, so a command that opens a modal loop does not block the caller.
// Only for what no click can cause (a menu-only command, a message from outside).
bool PostButtonCommand(HWND parent, int id);   // WM_COMMAND (id, BN_CLICKED) from the child
bool PressButton(HWND button);              // BM_CLICK to the button itself
bool PostCommand(HWND window, int id);      // WM_COMMAND (id, 0), as a menu or accelerator
bool PostClose(HWND window);                // WM_CLOSE (a dialog takes it as Cancel)

// The real mouse (SetCursorPos + SendInput), so windows get WM_MOUSEMOVE and clicks.
bool MoveMouseTo(POINT screen);
bool MoveMouseToClient(HWND window, POINT client);
bool MouseClickAt(POINT screen);
bool MouseClickClient(HWND window, POINT client);
POINT MousePosition();
POINT ClientToScreenPoint(HWND window, POINT client);
POINT CenterOf(HWND window);                 // screen coordinates

// Typing into an edit control. TypeText posts one WM_CHAR per character through the target's
// queue, as the keyboard would after translation; SetText replaces the text at once.
bool TypeText(HWND edit, const std::string& text);
bool SetText(HWND edit, const std::string& text);
bool PressEnter(HWND control);              // WM_KEYDOWN/UP VK_RETURN: the dialog's default button
bool PressEscape(HWND control);
// Real key strokes to whatever window has the keyboard focus (SendInput, Unicode characters).
bool SendKeys(const std::string& text);
// Real key strokes of virtual keys (VK_TAB, VK_MENU...): pressed in order, let go in reverse.
bool SendKeyChord(const std::vector<WORD>& keys);
// One key, with Shift held if asked.
bool SendKey(WORD virtualKey, bool shift = false);
// The window with the keyboard focus in the thread of `window` (any process), or null.
HWND FocusOf(HWND window);

// Message boxes: "#32770" windows of a process (any process when pid is 0).
struct MessageBoxInfo {
    HWND Window = nullptr;
    std::string Caption;
    std::string Text;                       // the Static children's texts, joined by "\n"
};
MessageBoxInfo ReadMessageBox(HWND box);
// Waits for a dialog box of the process; a non-empty caption must match exactly.
MessageBoxInfo WaitForMessageBox(DWORD processId, DWORD timeoutMs = DefaultTimeoutMs,
                                 const std::string& caption = "");
bool AnswerMessageBox(HWND box, int buttonId = IDOK);

// Helpers for output and parsing in tests and the CLI.
std::string HandleText(HWND window);        // "0x1234"
HWND HandleFromText(const std::string& text);

}  // namespace uidriver
