#include "app/main_window.h"

#include <shellapi.h>

#include "app/base/app_state.h"
#include "app/launch.h"
#include "online/hiscore.h"
#include "online/server_hosts.h"
#include "planes/browser.h"
#include "settings/options_dialog.h"
#include "ui/about_box.h"
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
    return PtInRect(&App.LinkRect, point) != FALSE;
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
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}
