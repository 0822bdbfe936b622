// Marks a network transfer under way. Its exchanges pump messages, so the main window
// ignores every command that starts or ends work until the scope ends (Exit still acts),
// and the main window shows the wait cursor meanwhile.
#pragma once
#include "app/base/wait_cursor.h"

class TransferScope {
public:
    TransferScope();
    ~TransferScope();
    TransferScope(const TransferScope&) = delete;
    TransferScope& operator=(const TransferScope&) = delete;

private:
    bool WasRunning;
    WaitCursor Wait;
};
