#include "app/base/action_scope.h"

#include "app/base/app_state.h"

ActionScope::ActionScope() : WasRunning(App.ActionRunning), Wait(App.MainWindow)
{
    App.ActionRunning = true;
}

ActionScope::~ActionScope()
{
    App.ActionRunning = WasRunning;
}
