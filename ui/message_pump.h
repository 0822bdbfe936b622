// Messages dispatched while an action runs on the one thread: between its steps, and around a
// call that blocks, so the windows keep painting and a quit request is kept for the main loop.
#pragma once
#include <windows.h>

// One message of the queue as every loop of the program handles it: the accelerators, then the
// dialog manager's keys of the main window, then translation and dispatch.
void DispatchQueued(MSG& message);

int PumpMessages();                  // dispatches all waiting messages; always 0

// Runs a call that may block for long (a network call) on a helper thread and dispatches
// messages until it returns, so the windows keep painting and a quit request is kept for the
// main loop. Afterwards the call's last error is this thread's last error.
void WaitPumping(void (*call)(void*), void* context);

template <class Call>
auto CallPumping(Call call) -> decltype(call())
{
    decltype(call()) result{};
    auto run = [&] { result = call(); };
    WaitPumping([](void* context) { (*static_cast<decltype(run)*>(context))(); }, &run);
    return result;
}
