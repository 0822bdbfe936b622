// One online action's status dialog and Internet handles, from its first line to its close.
#pragma once
#include <string>

#include "app/base/handles.h"

// False (after the "no Internet" box) when the Internet cannot be reached: the first step of
// every online action, before its status dialog opens.
bool InternetReachable();

class TransferSession {
public:
    // Opens the status dialog with steps steps and shows "Connecting to internet…".
    explicit TransferSession(int steps);
    ~TransferSession();   // closes the dialog if the action left it open
    TransferSession(const TransferSession&) = delete;
    TransferSession& operator=(const TransferSession&) = delete;

    // The Internet handle; false, with the dialog closed at once and nothing shown, when it failed.
    bool OpenInternet();
    void Next(int line);   // the next status line, a step of the progress bar
    void Step();           // a step of the progress bar alone
    // The error box (which closes the dialog first, so it never sits behind it). Return false.
    bool Fail(int messageId, DWORD code);
    bool FailServer(int messageId, const std::string& text);
    // The connection closed, "Closing internet connection…", the Internet handle closed, the
    // closing pause, the dialog closed. Every action that got its Internet handle ends here.
    void Close();

    InternetHandle Internet{nullptr};
    InternetHandle Connection{nullptr};

private:
    bool Open = true;
};
