#include "app/transfer_scope.h"

#include "app/app_state.h"

TransferScope::TransferScope() : WasRunning(App.TransferRunning), Wait(App.MainWindow)
{
    App.TransferRunning = true;
}

TransferScope::~TransferScope()
{
    App.TransferRunning = WasRunning;
}
