#include "planes/browser.h"

#include <commctrl.h>

#include "app/base/action_scope.h"
#include "app/base/app_state.h"
#include "app/base/lang_text.h"
#include "app/base/paths.h"
#include "online/error_box.h"
#include "online/plane_register.h"
#include "planes/catalogue.h"
#include "planes/ftp_transfer.h"
#include "planes/plane_list.h"
#include "res/layout.h"
#include "settings/registry_store.h"
#include "ui/dpi_scale.h"
#include "ui/skin_windows.h"
#include "ui/message_pump.h"

namespace {
constexpr DWORD ListStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP
                            | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_ALIGNLEFT | LVS_NOSORTHEADER;
constexpr DWORD ListExtendedStyle = LVS_EX_GRIDLINES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT;
constexpr int ListFontHeight = 12;

HWND BrowserList()
{
    return App.BrowserWindows[0];
}

bool BrowserCanOpen()
{
    if (App.BrowserMode != 0)
        return false;
    if (App.GamePath[0] != '\0')
        return true;
    return ReportError(IDS_NO_GAME, 0, ErrorLine, StarterSourceFile);
}

int Scaled(int value)
{
    return ScaleToDpi(value, App.Dpi);
}

HFONT CreateListFont()
{
    return CreateFontA(Scaled(ListFontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "MS Shell Dlg");
}

// Left, top, width and height of the list.
RECT ListPlace()
{
    return {Scaled(BrowserListRect.Left), Scaled(BrowserListRect.Top),
            Scaled(BrowserListRect.Right - BrowserListRect.Left), Scaled(BrowserListRect.Bottom - BrowserListRect.Top)};
}

void AddColumns(HWND list)
{
    for (int i = 0; i < PlaneColumnCount; ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = Scaled(PlaneColumns[i].Width);
        column.pszText = const_cast<char*>(LoadLangString(PlaneColumns[i].TitleId));
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
}

// Shown or hidden, and from now on a stop of Tab, which moves over the visible enabled ones only.
void ShowBrowserButton(int row, bool show)
{
    const HWND button = App.ButtonTable[row].window;
    ShowWindow(button, show ? SW_SHOWNORMAL : SW_HIDE);
    EnableWindow(button, show);
    SetWindowLongPtrA(button, GWL_STYLE, GetWindowLongPtrA(button, GWL_STYLE) | WS_TABSTOP);
}

void ShowPage(int32_t from)
{
    ShowCataloguePage(BrowserList(), from, CataloguePageSize);
    UpdatePageButtons();
}

void UploadSelectedPlane(int row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= App.LocalPlaneFiles.size())
        return;
    App.SelectedPlanePath = JoinPath(PlanesFolder(), App.LocalPlaneFiles[row]);
    PlaneHeader header;
    if (!ReadPlaneHeader(App.SelectedPlanePath, header))
        return;
    std::string serverName;
    if (UploadPlaneFile(App.SelectedPlanePath, serverName))
        RegisterPlane(header, serverName, ReadMailAddress());
}

void DownloadSelectedPlane(int row)
{
    const int64_t index = int64_t(App.CatalogueFirst) + row;
    if (row < 0 || index >= App.CatalogueEnd || index >= static_cast<int64_t>(App.CatalogueEntries.size()))
        return;
    App.SelectedCatalogueEntry = App.CatalogueEntries[index];
    DownloadPlaneFile(App.SelectedCatalogueEntry);
}
}

bool OpenBrowser(HWND parent, int mode)
{
    App.BrowserMode = mode;
    EnableSkinButtons(false);
    App.BrowserFont = CreateListFont();
    for (HWND& slot : App.BrowserWindows)
        slot = nullptr;
    const RECT place = ListPlace();
    const HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", ListStyle, place.left, place.top, place.right, place.bottom,
                                      parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_BROWSER_LIST)),
                                      App.Instance, nullptr);
    App.BrowserWindows[0] = list;
    if (list) {
        // Tab goes over the list first, then the browser's buttons: the list follows the main
        // buttons (disabled now) in the order of the windows.
        SetWindowPos(list, App.ButtonTable[ExitRow].window, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, ListExtendedStyle, ListExtendedStyle);
        AddColumns(list);
    }
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(App.BrowserFont), FALSE);
    ShowBrowserButton(OkRow, true);
    ShowBrowserButton(CancelRow, true);
    ShowBrowserButton(PageBackRow, mode == DownloadMode);
    ShowBrowserButton(PageForwardRow, mode == DownloadMode);
    ShowWindow(App.DescriptionWindow, SW_HIDE);
    SetFocus(list);
    // Draw the list and the buttons before the lengthy part of the command.
    PumpMessages();
    return true;
}

// Each browser command that does work runs inside an ActionScope: the main window ignores the
// commands that its message pumps bring in, so the browser never closes under a transfer and the
// catalogue keeps its order.
void OpenUploadBrowser()
{
    if (!BrowserCanOpen())
        return;
    ActionScope action;
    App.SelectedPlanePath.clear();
    if (OpenBrowser(App.MainWindow, UploadMode))
        FillLocalPlaneList(BrowserList());
}

void OpenDownloadBrowser()
{
    if (!BrowserCanOpen())
        return;
    ActionScope action;
    App.CatalogueTotal = 0;
    App.CatalogueFirst = 0;
    App.CatalogueEnd = 0;
    if (!OpenBrowser(App.MainWindow, DownloadMode))
        return;
    ShowPage(0);
}

void ConfirmBrowser()
{
    {
        ActionScope action;
        const int row = FindSelectedItem(BrowserList());
        if (App.BrowserMode == UploadMode)
            UploadSelectedPlane(row);
        else if (App.BrowserMode == DownloadMode)
            DownloadSelectedPlane(row);
    }
    DismissBrowser();
}

void RescaleBrowser()
{
    const HWND list = BrowserList();
    if (!list)
        return;
    const RECT place = ListPlace();
    SetWindowPos(list, nullptr, place.left, place.top, place.right, place.bottom,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    HFONT previous = App.BrowserFont;
    App.BrowserFont = CreateListFont();
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(App.BrowserFont), FALSE);
    if (previous)
        DeleteObject(previous);
    for (int i = 0; i < PlaneColumnCount; ++i)
        SendMessageA(list, LVM_SETCOLUMNWIDTH, i, Scaled(PlaneColumns[i].Width));
}

void DismissBrowser()
{
    if (App.BrowserMode == UploadMode)
        App.LocalPlaneFiles.clear();
    else if (App.BrowserMode == DownloadMode)
        App.CatalogueEntries.clear();
    CloseBrowser();
}

void ShowPreviousPage()
{
    ActionScope action;
    ShowPage(App.CatalogueFirst - CataloguePageSize);
}

void ShowNextPage()
{
    ActionScope action;
    ShowPage(App.CatalogueFirst + CataloguePageSize);
}
