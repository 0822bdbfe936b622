#include "app/main_window.h"

#include <shellapi.h>

#include "app/base/app_state.h"
#include "app/launch.h"
#include "online/hiscore.h"
#include "online/server_hosts.h"
#include "planes/browser.h"
#include "settings/options_dialog.h"
#include "ui/about_box.h"
#include "ui/dpi.h"
#include "ui/dpi_scale.h"
#include "ui/gdi_scope.h"
#include "ui/skin.h"
#include "ui/skin_windows.h"

namespace {
POINT PointOf(LPARAM lParam)
{
    return {LOWORD(lParam), HIWORD(lParam)};
}

bool InLinkRect(POINT point)
{
    const RECT& link = App.LinkRect;
    const RECT scaled = {ScaleToDpi(link.left, App.Dpi), ScaleToDpi(link.top, App.Dpi), ScaleToDpi(link.right, App.Dpi),
                         ScaleToDpi(link.bottom, App.Dpi)};
    return PtInRect(&scaled, point) != FALSE;
}

LRESULT OnDestroy()
{
    PostQuitMessage(0);
    return 0;
}

LRESULT OnPaint(HWND window)
{
    PaintScope paint(window);
    const RECT& area = paint.Area();
    if (App.MainSkin)
        App.MainSkin->DrawPart(paint.get(), area.left, area.top, area.right - area.left, area.bottom - area.top,
                               area.left, area.top);
    return 0;
}

void ShowAbout(HWND window)
{
    DialogBoxParamA(App.Instance, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutProc, 0);
}

// A command dispatched by the message pump of a running action would run nested inside it: a
// second transfer, or a browser closed under its own transfer. Only Exit acts then (the quit is
// carried out once the action ends). This is the one place that guards against it.
bool IgnoredDuringAction(WORD command)
{
    return App.ActionRunning && command != IDC_EXIT && command != IDM_EXIT;
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (IgnoredDuringAction(LOWORD(wParam)))
        return 0;
    switch (LOWORD(wParam)) {
    case IDM_ABOUT: ShowAbout(window); break;
    case IDM_EXIT: DestroyWindow(window); break;
    case IDC_EXIT: DestroyWindow(window); break;
    case IDC_PLAY: PlayGame(); break;
    case IDC_HISCORE: HiscoreCommand(); break;
    case IDOK: ConfirmBrowser(); break;
    case IDCANCEL: DismissBrowser(); break;
    case IDC_PAGE_BACK: ShowPreviousPage(); break;
    case IDC_PAGE_FORWARD: ShowNextPage(); break;
    case IDC_DOWNLOAD: OpenDownloadBrowser(); break;
    case IDC_UPLOAD: OpenUploadBrowser(); break;
    case IDC_OPTIONS: ShowOptionsDialog(); break;
    default: return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
    }
    return 0;
}

void EndHover()
{
    if (!App.HoveredButton)
        return;
    RemovePropA(App.HoveredButton, HoverProperty);
    InvalidateRect(App.HoveredButton, nullptr, FALSE);
    App.HoveredButton = nullptr;
    // A null window would invalidate the whole desktop.
    if (App.DescriptionWindow)
        InvalidateRect(App.DescriptionWindow, nullptr, FALSE);
}

// The class cursor follows the current one, so the system keeps it while the mouse rests.
void SetLinkCursor(HWND window, POINT point)
{
    HCURSOR cursor = LoadCursorA(nullptr, InLinkRect(point) ? IDC_HELP : IDC_ARROW);
    if (!cursor || cursor == GetCursor())
        return;
    SetClassLongPtrA(window, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor));
    SetCursor(cursor);
}

LRESULT OnMouseMove(HWND window, LPARAM lParam)
{
    EndHover();
    if (!App.ActionRunning)
        SetLinkCursor(window, PointOf(lParam));
    return 0;
}

// During an action the wait cursor shows over the whole client area, buttons included: a
// child's cursor request reaches this window first.
LRESULT OnSetCursor(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (!App.ActionRunning || LOWORD(lParam) != HTCLIENT)
        return DefWindowProcA(window, WM_SETCURSOR, wParam, lParam);
    // A cursor that fails to load leaves the one shown as it is.
    if (HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT))
        SetCursor(wait);
    return TRUE;
}

LRESULT OnLeftButtonDown(HWND window, LPARAM lParam)
{
    if (InLinkRect(PointOf(lParam)))
        ShellExecuteA(window, "open", WebsiteHost, nullptr, nullptr, SW_SHOWNORMAL);
    return 0;
}

// The window moved to a monitor of another DPI: its pictures, outline, size and children for
// that DPI, at the place the system suggests, and one repaint of the whole.
LRESULT OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam)
{
    const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
    RescaleSkinWindows(LOWORD(wParam));
    RescaleBrowser();
    SetWindowPos(window, nullptr, suggested.left, suggested.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    return 0;
}

// With no button focused, Esc and Enter would press the browser's Cancel or OK.
LRESULT OnGetDialogCode(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (IsClosedBrowsersKey(lParam, true))
        return DLGC_WANTMESSAGE;
    return DefWindowProcA(window, WM_GETDLGCODE, wParam, lParam);
}

// As a dialog does: the child that had the focus gets it back when the window is active again
// (after a message box, the status dialog or another program), so the keyboard goes on from there.
LRESULT OnActivate(HWND window, WPARAM wParam, LPARAM lParam)
{
    const HWND focus = GetFocus();
    if (LOWORD(wParam) == WA_INACTIVE) {
        if (focus && IsChild(window, focus))
            App.SavedFocus = focus;
    } else if (!HIWORD(wParam) && App.SavedFocus && IsChild(window, App.SavedFocus) &&
               IsWindowVisible(App.SavedFocus) && IsWindowEnabled(App.SavedFocus)) {
        SetFocus(App.SavedFocus);
        return 0;
    }
    return DefWindowProcA(window, WM_ACTIVATE, wParam, lParam);
}
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY: return OnDestroy();
    case WM_PAINT: return OnPaint(window);
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_MOUSEMOVE: return OnMouseMove(window, lParam);
    case WM_SETCURSOR: return OnSetCursor(window, wParam, lParam);
    case WM_LBUTTONDOWN: return OnLeftButtonDown(window, lParam);
    case WM_ACTIVATE: return OnActivate(window, wParam, lParam);
    case WM_GETDLGCODE: return OnGetDialogCode(window, wParam, lParam);
    case DpiChangedMessage: return OnDpiChanged(window, wParam, lParam);
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}
