// The design browser on the main window: a list of local designs to upload, or the online
// catalogue page by page to download from. Commands 1503, 1504, 1, 2, 1005 and 1006.
#pragma once
#include <windows.h>

bool OpenBrowser(HWND parent, int mode);
void OpenUploadBrowser();
void OpenDownloadBrowser();
void ConfirmBrowser();
void DismissBrowser();
void ShowPreviousPage();
void ShowNextPage();
// The open browser's list at the windows' DPI (App.Dpi): place, size, font and column widths.
void RescaleBrowser();

constexpr int UploadMode = 1;
constexpr int DownloadMode = 2;
