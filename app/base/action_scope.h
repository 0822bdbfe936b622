// Marks an action under way: a transfer, or a command of the design browser. Its steps pump
// messages, so the main window ignores every command that would start or end work until the
// scope ends (Exit still acts), and shows the wait cursor meanwhile.
#pragma once
#include "app/base/wait_cursor.h"

class ActionScope {
public:
    ActionScope();
    ~ActionScope();
    ActionScope(const ActionScope&) = delete;
    ActionScope& operator=(const ActionScope&) = delete;

private:
    bool WasRunning;
    WaitCursor Wait;
};
