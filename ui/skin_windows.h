// The shaped main window, its description picture and its ten skinned buttons.
#pragma once
#include <windows.h>

// Window property of a skinned button: non-zero while the button is hovered.
constexpr char HoverProperty[] = "Hover";

bool CreateMainWindow(HINSTANCE instance, int showCommand);
void CreateDescriptionWindow();
void CreateSkinButtons();
LRESULT CALLBACK SkinButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK DescriptionProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void ShowSkinButtons();
void EnableSkinButtons(bool enable);
int FindSkinButton(HWND window);                 // row index, or -1
void CenterWindowOn(HWND reference, HWND target, int dx, int dy);
int FindSelectedItem(HWND list);                 // highest selected item, or -1
void CloseBrowser();
// The skins loaded again for a display of dpi, and the windows given their outlines, sizes and
// places there; the caller moves and repaints the main window.
void RescaleSkinWindows(int dpi);
// Esc and Enter are the browser's Cancel and OK to the dialog manager. While no browser is open
// the window that has them (WM_GETDLGCODE with the message in lParam) keeps them, so they press
// none of the browser's buttons that start-up shows; a focused button keeps only Esc, as Enter
// presses it.
bool IsClosedBrowsersKey(LPARAM dialogCodeMessage, bool enterToo);
void UpdatePageButtons();
