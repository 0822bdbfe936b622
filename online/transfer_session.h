// One online action from its opening to its close: the action scope, the status dialog and the
// Internet handles.
#pragma once
#include <string>

#include "app/base/action_scope.h"
#include "app/base/handles.h"

// How the opening of a transfer ended.
enum class SessionOpening { Connected, NotReachable, NoInternetHandle };

class TransferSession {
    ActionScope Action;   // first, so that it ends last

public:
    TransferSession() = default;   // the action scope holds from here to the session's end
    ~TransferSession();            // closes the dialog if the action left it open
    TransferSession(const TransferSession&) = delete;
    TransferSession& operator=(const TransferSession&) = delete;

    // The opening every online action shares: the reachability check (the "no Internet" box,
    // before any dialog), the status dialog with `steps` steps and "Connecting to internet…",
    // the Internet handle (when it fails the dialog closes at once and nothing is shown), then
    // "Connecting to server…" and the connection that connect makes on the Internet handle.
    SessionOpening Open(int steps, HINTERNET (*connect)(HINTERNET internet));
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
    bool DialogOpen = false;
};
