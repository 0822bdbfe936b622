// app/base/: AppState, texts, design and hiscore records, handle holders; included by every folder,
// it includes only res/ and itself.
// The one program-wide record: handles, folders, language, hiscores and the design browser.
#pragma once
#include <windows.h>
#include <deque>
#include <string>
#include "app/base/hiscore_entry.h"
#include "app/base/plane_record.h"
#include "res/layout.h"
#include "res/resource.h"
#include "app/base/skin_button.h"

constexpr int PathBufferSize = 4096;
constexpr int TitleBufferSize = 100;
constexpr int TextBufferSize = 4096;
constexpr int BrowserWindowSlots = 10;

struct AppState {
    HINSTANCE Instance = nullptr;
    char TitleText[TitleBufferSize] = {};
    char ClassName[TitleBufferSize] = {};
    HACCEL Accelerators = nullptr;
    HMODULE ResourceLibrary = nullptr;
    HWND MainWindow = nullptr;
    int32_t LanguageIndex = 1;
    char StarterDir[PathBufferSize] = {};
    char GamePath[PathBufferSize] = {};
    HWND StatusDialog = nullptr;
    Skin* MainSkin = nullptr;
    HWND DescriptionWindow = nullptr;
    HWND HoveredButton = nullptr;
    static constexpr RECT LinkRect = {WebsiteLinkRect.Left, WebsiteLinkRect.Top, WebsiteLinkRect.Right,
                                      WebsiteLinkRect.Bottom};
    int32_t BrowserMode = 0;
    HWND BrowserWindows[BrowserWindowSlots] = {};
    std::deque<std::string> LocalPlaneFiles;
    std::deque<PlaneEntry> CatalogueEntries;
    int32_t CatalogueFirst = 0;
    int32_t CatalogueEnd = 0;
    int32_t CatalogueTotal = 0;
    std::string SelectedPlanePath;
    PlaneEntry SelectedCatalogueEntry;
    HiscoreEntry HiscoreTable[HiscoreRecords];

    // Skinned windows
    SkinButton ButtonTable[ButtonCount + 1] = {
        {nullptr, nullptr, nullptr, nullptr, IDB_BIG_BUTTON, IDB_BIG_BUTTON_HOVER, IDS_DESC_PLAY, IDC_PLAY,
         PlayButtonPos.X, PlayButtonPos.Y},
        {nullptr, nullptr, nullptr, nullptr, IDB_BIG_BUTTON, IDB_BIG_BUTTON_HOVER, IDS_DESC_HISCORE, IDC_HISCORE,
         HiscoreButtonPos.X, HiscoreButtonPos.Y},
        {nullptr, nullptr, nullptr, nullptr, IDB_BIG_BUTTON, IDB_BIG_BUTTON_HOVER, IDS_DESC_DOWNLOAD, IDC_DOWNLOAD,
         DownloadButtonPos.X, DownloadButtonPos.Y},
        {nullptr, nullptr, nullptr, nullptr, IDB_UPLOAD, IDB_UPLOAD_HOVER, IDS_DESC_UPLOAD, IDC_UPLOAD,
         UploadButtonPos.X, UploadButtonPos.Y},
        {nullptr, nullptr, nullptr, nullptr, IDB_SMALL_BUTTON, IDB_SMALL_BUTTON_HOVER, IDS_DESC_OPTIONS, IDC_OPTIONS,
         OptionsButtonPos.X, OptionsButtonPos.Y},
        {nullptr, nullptr, nullptr, nullptr, IDB_SMALL_BUTTON, IDB_SMALL_BUTTON_HOVER, IDS_DESC_EXIT, IDC_EXIT,
         ExitButtonPos.X, ExitButtonPos.Y},
        {nullptr, nullptr, nullptr, nullptr, IDB_OK, IDB_OK_HOVER, 0, IDOK,
         OkButtonPos.X, OkButtonPos.Y},
        {nullptr, nullptr, nullptr, nullptr, IDB_CANCEL, IDB_CANCEL_HOVER, 0, IDCANCEL,
         CancelButtonPos.X, CancelButtonPos.Y},
        {nullptr, nullptr, nullptr, nullptr, IDB_PAGE_BACK, IDB_PAGE_BACK_HOVER, 0, IDC_PAGE_BACK,
         PageBackButtonPos.X, PageBackButtonPos.Y},
        {nullptr, nullptr, nullptr, nullptr, IDB_PAGE_FORWARD, IDB_PAGE_FORWARD_HOVER, 0, IDC_PAGE_FORWARD,
         PageForwardButtonPos.X, PageForwardButtonPos.Y},
        {},
    };
    Skin* DefaultDescriptionSkin = nullptr;
    // The row whose description picture the description window shows last painted; -1 the welcome.
    int32_t ShownDescription = -1;
    WNDPROC SavedButtonProc = nullptr;
    WNDPROC SavedStaticProc = nullptr;

    // Localized text: every LoadLangString call returns this buffer.
    char TextBuffer[TextBufferSize] = {};

    // Design browser
    HFONT BrowserFont = nullptr;

    // Set by ActionScope while a transfer or a browser command runs: the main window then
    // drops the commands that its message pumps bring in, but Exit.
    bool ActionRunning = false;

    // The DPI the windows and skins are laid out for: the main window's monitor's.
    int32_t Dpi = LayoutDpi;
    // The child of the main window that had the keyboard focus when the window was last
    // deactivated; it gets the focus back when the window is active again, as in a dialog.
    HWND SavedFocus = nullptr;
};

extern AppState App;

// Row indices of ButtonTable
enum ButtonRow { PlayRow, HiscoreRow, DownloadRow, UploadRow, OptionsRow, ExitRow, OkRow, CancelRow, PageBackRow, PageForwardRow };
