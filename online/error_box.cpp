#include "online/error_box.h"

#include "app/base/app_state.h"
#include "app/base/lang_text.h"
#include "online/error_text.h"
#include "ui/status_dialog.h"

const char StarterSourceFile[] = "starter";

namespace {
bool ShowErrorBox(int messageId, std::string value, int line, const char* file)
{
    // First, so that the box never sits behind the progress display.
    CloseStatus();
    ErrorTextParts parts;
    // LoadLangString reuses one buffer: the message is copied before the next text loads.
    parts.Message = LoadLangString(messageId);
    parts.ErrorWord = LoadLangString(IDS_ERROR_WORD);
    parts.Value = std::move(value);
    parts.Line = line;
    parts.File = file ? file : "";
    parts.LineLabel = LoadFixedString(IDS_LINE_LABEL);
    parts.FileLabel = LoadFixedString(IDS_FILE_LABEL);
    const std::string text = ComposeErrorText(parts);
    const std::string caption = LoadFixedString(IDS_ERROR_CAPTION);
    MessageBoxA(App.MainWindow, text.c_str(), caption.c_str(), MB_ICONEXCLAMATION | MB_OK);
    return false;
}
}

bool ReportError(int messageId, int code, int line, const char* file)
{
    return ShowErrorBox(messageId, ErrorCodeText(code), line, file);
}

bool ReportServerError(int messageId, std::string text, int line, const char* file)
{
    return ShowErrorBox(messageId, std::move(text), line, file);
}

void ShowInfoBox(int messageId)
{
    MessageBoxA(App.MainWindow, LoadLangString(messageId), LoadFixedString(IDS_INFO_CAPTION).c_str(),
                MB_ICONINFORMATION | MB_OK);
}
