#include "settings/options_dialog.h"

#include <string>

#include "app/base/app_state.h"
#include "app/base/lang_text.h"
#include "settings/registry_store.h"

namespace {

constexpr int MailBufferSize = 256;   // 255 characters and the terminator

INT_PTR InitOptions(HWND dialog)
{
    const std::string mail = ReadMailAddress();
    SendDlgItemMessageA(dialog, IDC_MAIL_EDIT, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(mail.c_str()));
    SendDlgItemMessageA(dialog, IDC_MAIL_NOTE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(LoadLangString(IDS_MAIL_NOTE)));
    return FALSE;
}

void StoreMailAddress(HWND dialog)
{
    char mail[MailBufferSize] = {};
    SendDlgItemMessageA(dialog, IDC_MAIL_EDIT, WM_GETTEXT, MailBufferSize, reinterpret_cast<LPARAM>(mail));
    WriteMailAddress(mail);
}

INT_PTR OptionsCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDOK:
        StoreMailAddress(dialog);
        EndDialog(dialog, static_cast<INT_PTR>(wParam));
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, static_cast<INT_PTR>(wParam));
        return TRUE;
    }
    return FALSE;
}

} // namespace

void ShowOptionsDialog()
{
    DialogBoxParamA(App.Instance, MAKEINTRESOURCEA(IDD_OPTIONS), App.MainWindow, OptionsProc, 0);
}

INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return InitOptions(dialog);
    case WM_COMMAND:
        return OptionsCommand(dialog, wParam);
    }
    return FALSE;
}
