// The error box every failure goes through, and the "Info" box of a transfer that succeeded.
#pragma once
#include <string>

constexpr int ErrorLine = 217;
constexpr int ServerErrorLine = 218;
extern const char StarterSourceFile[];   // "starter"

// Close the status dialog, then show the composed text in a modal warning box. Return false.
bool ReportError(int messageId, int code, int line, const char* file);
bool ReportServerError(int messageId, std::string text, int line, const char* file);

// The "Info" box over the main window.
void ShowInfoBox(int messageId);
