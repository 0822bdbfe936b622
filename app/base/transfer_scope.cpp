#include "app/base/transfer_scope.h"

#include "app/base/app_state.h"

TransferScope::TransferScope() : WasRunning(App.TransferRunning), Wait(App.MainWindow)
{
    App.TransferRunning = true;
}

TransferScope::~TransferScope()
{
    App.TransferRunning = WasRunning;
}
