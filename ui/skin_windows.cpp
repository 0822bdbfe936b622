// The shaped main window, its description picture and its ten skinned buttons. CloseBrowser and
// UpdatePageButtons live here, not in planes/browser.cpp, because they manage the browser's four
// skinned buttons, which this file creates and owns with the other six.
#include "ui/skin_windows.h"

#include <commctrl.h>
#include <oleacc.h>
#include <cstdio>

#include "app/base/app_state.h"
#include "app/base/lang_text.h"
#include "app/base/text_number.h"
#include "res/layout.h"
#include "res/resource.h"
#include "ui/accessible_window.h"
#include "ui/dpi.h"
#include "ui/dpi_scale.h"
#include "ui/gdi_scope.h"
#include "ui/skin.h"

namespace {
constexpr char VersionTag[] = "v" STARTER_VERSION_TEXT;
constexpr char DescriptionText[] = "Description";
// WS_CHILD | WS_CLIPSIBLINGS with BS_OWNERDRAW for buttons, SS_SIMPLE for the description (both 0xB).
constexpr DWORD SkinnedChildStyle = 0x4400000B;
constexpr int ChildWidth = 88, ChildHeight = 20;
constexpr int CentreOffsetY = 20;

// The bitmap id that a description text holds as decimal digits.
int DescriptionBitmap(int textId)
{
    return static_cast<WORD>(LeadingNumber32(LoadLangString(textId)));
}

// A layout value of res/layout.h at the windows' DPI.
int Scaled(int value)
{
    return ScaleToDpi(value, App.Dpi);
}

Skin* LoadSkin(int id, bool withRegion)
{
    Skin* skin = new Skin;
    skin->LoadForDpi(App.MainWindow, App.ResourceLibrary, id, withRegion, App.Dpi);
    return skin;
}

void ReloadSkin(Skin* skin, int id, bool withRegion)
{
    skin->Release();
    skin->LoadForDpi(App.MainWindow, App.ResourceLibrary, id, withRegion, App.Dpi);
}

// Places a child at its layout position and gives it its skin's outline and size.
void PlaceChild(HWND child, Skin* skin, int x, int y)
{
    SetWindowPos(child, nullptr, Scaled(x), Scaled(y), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    skin->ApplyToWindow(child, true);
}

bool IsHovered(HWND button)
{
    return GetPropA(button, HoverProperty) != nullptr;
}

void SetHover(HWND button, bool hovered)
{
    SetPropA(button, HoverProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(hovered ? 1 : 0)));
}

WNDPROC Subclass(HWND window, WNDPROC procedure)
{
    return reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)));
}

void DrawSkin(const Skin* skin, HDC dc)
{
    if (skin)
        skin->Draw(dc, 0, 0);
}

LRESULT PaintSkinButton(HWND button)
{
    PaintScope paint(button);
    const int row = FindSkinButton(button);
    if (row >= 0) {
        const SkinButton& entry = App.ButtonTable[row];
        DrawSkin(IsHovered(button) ? entry.hoverSkin : entry.normalSkin, paint.get());
    }
    return 1;
}

LRESULT HoverSkinButton(HWND button)
{
    if (IsHovered(button))
        return 1;
    if (App.HoveredButton && App.HoveredButton != button) {
        SetHover(App.HoveredButton, false);
        InvalidateRect(App.HoveredButton, nullptr, FALSE);
    }
    SetHover(button, true);
    App.HoveredButton = button;
    InvalidateRect(button, nullptr, FALSE);
    // A null window would invalidate the whole desktop.
    if (App.DescriptionWindow)
        InvalidateRect(App.DescriptionWindow, nullptr, FALSE);
    return 1;
}

LRESULT ForgetHover(HWND button)
{
    RemovePropA(button, HoverProperty);
    return 1;
}

// The focused button shows as hovered, so a player on the keyboard sees where the focus is.
LRESULT FocusSkinButton(HWND button, WPARAM wParam, LPARAM lParam)
{
    HoverSkinButton(button);
    return CallWindowProcA(App.SavedButtonProc, button, WM_SETFOCUS, wParam, lParam);
}

// Enter presses the focused button as Space does: the dialog manager sends the command of the
// focused default button, where it would send IDOK (the browser's OK) for a plain owner-drawn one.
LRESULT SkinButtonKeys(HWND button, WPARAM wParam, LPARAM lParam)
{
    const LRESULT code = CallWindowProcA(App.SavedButtonProc, button, WM_GETDLGCODE, wParam, lParam);
    return code | DLGC_DEFPUSHBUTTON | (IsClosedBrowsersKey(lParam, false) ? DLGC_WANTMESSAGE : 0);
}

bool DescribeButton(HWND button, AccessibleFacts& facts)
{
    const int row = FindSkinButton(button);
    if (row < 0)
        return false;
    facts.Name = LoadLangStringW(IDS_BUTTON_NAME_FIRST + row);
    facts.Description = LoadLangStringW(IDS_BUTTON_NOTE_FIRST + row);
    facts.Role = ROLE_SYSTEM_PUSHBUTTON;
    facts.Focusable = true;
    return true;
}

// Named after the sentence of the picture it shows.
bool DescribeDescription(HWND, AccessibleFacts& facts)
{
    const int row = App.ShownDescription;
    facts.Name = LoadLangStringW(row >= 0 ? IDS_BUTTON_NOTE_FIRST + row : IDS_WELCOME_NOTE);
    facts.Role = ROLE_SYSTEM_STATICTEXT;
    return true;
}

LRESULT AccessibleSkinButton(HWND button, WPARAM wParam, LPARAM lParam)
{
    if (const LRESULT answer = AnswerGetObject(button, wParam, lParam, DescribeButton))
        return answer;
    return CallWindowProcA(App.SavedButtonProc, button, WM_GETOBJECT, wParam, lParam);
}

LRESULT AccessibleDescription(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (const LRESULT answer = AnswerGetObject(window, wParam, lParam, DescribeDescription))
        return answer;
    return CallWindowProcA(App.SavedStaticProc, window, WM_GETOBJECT, wParam, lParam);
}

LRESULT PaintDescription(HWND window)
{
    PaintScope paint(window);
    if (!App.HoveredButton) {
        DrawSkin(App.DefaultDescriptionSkin, paint.get());
        App.ShownDescription = -1;
        return 1;
    }
    const int row = FindSkinButton(App.HoveredButton);
    if (row >= 0 && App.ButtonTable[row].descriptionSkin) {
        DrawSkin(App.ButtonTable[row].descriptionSkin, paint.get());
        App.ShownDescription = row;
    }
    return 1;
}

void CreateSkinButton(SkinButton& row)
{
    // Tab reaches the main buttons; the browser's join them while it is open (OpenBrowser).
    const DWORD tabStop = row.descriptionText != 0 ? WS_TABSTOP : 0;
    HWND button = CreateWindowExA(0, "BUTTON", LoadLangString(row.descriptionText), SkinnedChildStyle | tabStop,
                                  Scaled(row.x), Scaled(row.y), ChildWidth, ChildHeight, App.MainWindow,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.controlId)), App.Instance, nullptr);
    // The browser's OK button announces itself, even when it could not be made.
    if (row.controlId == IDOK)
        MessageBeep(0);
    if (!button)
        return;
    row.normalSkin = LoadSkin(row.normalBitmap, true);
    row.hoverSkin = LoadSkin(row.hoverBitmap, false);
    row.window = button;
    row.normalSkin->ApplyToWindow(button, true);
    App.SavedButtonProc = Subclass(button, SkinButtonProc);
}
}

bool CreateMainWindow(HINSTANCE instance, int /*showCommand: always shown normally*/)
{
    App.Instance = instance;
    char title[TitleBufferSize + sizeof VersionTag];
    std::snprintf(title, sizeof title, "%s %s", App.TitleText, VersionTag);
    // A control parent: the dialog manager moves the focus over its buttons (Tab, Enter, Esc).
    App.MainWindow = CreateWindowExA(WS_EX_CONTROLPARENT, App.ClassName, title, WS_POPUP | WS_SYSMENU, 0, 0, 0, 0,
                                     nullptr, nullptr, instance, nullptr);
    if (!App.MainWindow)
        return false;
    App.Dpi = WindowDpi(App.MainWindow);
    App.MainSkin = LoadSkin(IDB_MAIN, true);
    App.MainSkin->ApplyToWindow(App.MainWindow, true);
    CreateDescriptionWindow();
    CreateSkinButtons();
    CenterWindowOn(GetDesktopWindow(), App.MainWindow, 0, Scaled(CentreOffsetY));
    ShowSkinButtons();
    ShowWindow(App.DescriptionWindow, SW_SHOW);
    ShowWindow(App.MainWindow, SW_SHOW);
    UpdateWindow(App.MainWindow);
    // Clipping the children out of the first paint made Wine cut every shaped child out of the
    // outline, one rectangle at a time; the children paint over the picture right after it.
    SetWindowLongPtrA(App.MainWindow, GWL_STYLE, GetWindowLongPtrA(App.MainWindow, GWL_STYLE) | WS_CLIPCHILDREN);
    return true;
}

void CreateDescriptionWindow()
{
    App.DescriptionWindow = CreateWindowExA(0, "STATIC", DescriptionText, SkinnedChildStyle, Scaled(DescriptionPos.X),
                                            Scaled(DescriptionPos.Y), ChildWidth, ChildHeight, App.MainWindow,
                                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_DESCRIPTION)),
                                            App.Instance, nullptr);
    if (!App.DescriptionWindow)
        return;
    App.DefaultDescriptionSkin = LoadSkin(DescriptionBitmap(IDS_DESC_DEFAULT), true);
    for (SkinButton* row = App.ButtonTable; row->descriptionText != 0; ++row)
        row->descriptionSkin = LoadSkin(DescriptionBitmap(row->descriptionText), false);
    App.DefaultDescriptionSkin->ApplyToWindow(App.DescriptionWindow, true);
    App.SavedStaticProc = Subclass(App.DescriptionWindow, DescriptionProc);
}

void CreateSkinButtons()
{
    for (SkinButton* row = App.ButtonTable; row->normalBitmap != 0; ++row)
        CreateSkinButton(*row);
}

LRESULT CALLBACK SkinButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: return PaintSkinButton(window);
    case WM_MOUSEMOVE: return HoverSkinButton(window);
    case WM_DESTROY: return ForgetHover(window);
    case WM_SETFOCUS: return FocusSkinButton(window, wParam, lParam);
    case WM_GETDLGCODE: return SkinButtonKeys(window, wParam, lParam);
    case WM_GETOBJECT: return AccessibleSkinButton(window, wParam, lParam);
    default: return CallWindowProcA(App.SavedButtonProc, window, message, wParam, lParam);
    }
}

LRESULT CALLBACK DescriptionProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: return PaintDescription(window);
    case WM_GETOBJECT: return AccessibleDescription(window, wParam, lParam);
    default: return CallWindowProcA(App.SavedStaticProc, window, message, wParam, lParam);
    }
}

void RescaleSkinWindows(int dpi)
{
    App.Dpi = dpi;
    ReloadSkin(App.MainSkin, IDB_MAIN, true);
    App.MainSkin->ApplyToWindow(App.MainWindow, true);
    if (App.DescriptionWindow) {
        ReloadSkin(App.DefaultDescriptionSkin, DescriptionBitmap(IDS_DESC_DEFAULT), true);
        PlaceChild(App.DescriptionWindow, App.DefaultDescriptionSkin, DescriptionPos.X, DescriptionPos.Y);
    }
    for (SkinButton* row = App.ButtonTable; row->normalBitmap != 0; ++row) {
        if (row->descriptionSkin)
            ReloadSkin(row->descriptionSkin, DescriptionBitmap(row->descriptionText), false);
        if (!row->window)
            continue;
        ReloadSkin(row->normalSkin, row->normalBitmap, true);
        ReloadSkin(row->hoverSkin, row->hoverBitmap, false);
        PlaceChild(row->window, row->normalSkin, row->x, row->y);
    }
}

void ShowSkinButtons()
{
    for (const SkinButton* row = App.ButtonTable; row->normalBitmap != 0; ++row)
        if (row->window)
            ShowWindow(row->window, SW_SHOW);
}

void EnableSkinButtons(bool enable)
{
    for (const SkinButton* row = App.ButtonTable; row->normalBitmap != 0; ++row)
        if (row->window)
            EnableWindow(row->window, enable);
}

int FindSkinButton(HWND window)
{
    for (int row = 0; App.ButtonTable[row].normalBitmap != 0; ++row)
        if (App.ButtonTable[row].window == window)
            return row;
    return -1;
}

void CenterWindowOn(HWND reference, HWND target, int dx, int dy)
{
    RECT outer, inner;
    GetWindowRect(reference, &outer);
    GetWindowRect(target, &inner);
    const int left = outer.left + (outer.right - outer.left) / 2 - (inner.right - inner.left) / 2 + dx;
    const int top = outer.top + (outer.bottom - outer.top) / 2 - (inner.bottom - inner.top) / 2 + dy;
    SetWindowPos(target, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW);
}

int FindSelectedItem(HWND list)
{
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int item = count - 1; item >= 0; --item)
        if (SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_SELECTED) & LVIS_SELECTED)
            return item;
    return -1;
}

void CloseBrowser()
{
    for (HWND& slot : App.BrowserWindows) {
        if (!slot)
            break;
        DestroyWindow(slot);
        slot = nullptr;
    }
    if (App.BrowserFont) {
        DeleteObject(App.BrowserFont);
        App.BrowserFont = nullptr;
    }
    App.BrowserMode = 0;
    EnableSkinButtons(true);
    ShowWindow(App.DescriptionWindow, SW_SHOW);
    for (int row : {OkRow, CancelRow, PageBackRow, PageForwardRow}) {
        ShowWindow(App.ButtonTable[row].window, SW_HIDE);
        EnableWindow(App.ButtonTable[row].window, FALSE);
    }
    // The focus was in the browser: without a focused window the keys would reach no button.
    if (!GetFocus() && GetActiveWindow() == App.MainWindow)
        SetFocus(App.MainWindow);
}

bool IsClosedBrowsersKey(LPARAM dialogCodeMessage, bool enterToo)
{
    const MSG* message = reinterpret_cast<const MSG*>(dialogCodeMessage);
    return App.BrowserMode == 0 && message && message->message == WM_KEYDOWN &&
           (message->wParam == VK_ESCAPE || (enterToo && message->wParam == VK_RETURN));
}

void UpdatePageButtons()
{
    EnableWindow(App.ButtonTable[PageBackRow].window, App.CatalogueEnd > CataloguePageSize);
    EnableWindow(App.ButtonTable[PageForwardRow].window, App.CatalogueEnd < App.CatalogueTotal);
}
