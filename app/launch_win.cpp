#include "app/launch.h"

#include <cstdlib>

#include "app/base/app_state.h"
#include "app/game_lookup.h"

namespace {
constexpr DWORD IdleWaitMilliseconds = 10000;

// The run-time's normal exit with code 0, as the start-up's early exit: static objects (the
// design lists among them) are released, and nothing of the shutdown runs.
[[noreturn]] void LeaveProcess()
{
    std::exit(0);
}

// The game's main window: this class together with exactly this title.
bool RestoreRunningGame()
{
    HWND game = FindWindowA("AfxFrameOrView42s", "Zephyrion");
    if (!game)
        return false;
    ShowWindow(game, SW_RESTORE);
    return true;
}

// Returns only when the process could not be created.
bool StartAndLeave(LaunchCommand& launch)
{
    // The started program inherits our show state and desktop.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION process = {};
    const char* application = launch.ApplicationName[0] != '\0' ? launch.ApplicationName : nullptr;
    if (!CreateProcessA(application, launch.CommandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                        launch.WorkingFolder, &startup, &process))
        return false;
    WaitForInputIdle(process.hProcess, IdleWaitMilliseconds);
    LeaveProcess();
}
}

bool PlayGame()
{
    if (RestoreRunningGame())
        LeaveProcess();
    LaunchCommand launch;
    return PrepareLaunch(App.GamePath, GameProgram, launch) && StartAndLeave(launch);
}

bool RunSetupIfNeeded()
{
    if (App.GamePath[0] != '\0')
        return true;
    LaunchCommand launch;
    return PrepareLaunch(App.StarterDir, SetupProgram, launch) && StartAndLeave(launch);
}
