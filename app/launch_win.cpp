#include "app/start_program.h"

#include <shellapi.h>
#include <cstdlib>

#include "app/base/app_state.h"
#include "app/game_lookup.h"
#include "online/error_box.h"

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

ProgramStart StartThroughShell(const LaunchCommand& launch, ShellExecuteCall execute)
{
    SHELLEXECUTEINFOA shell = {};
    shell.cbSize = sizeof shell;
    // Our own box tells a failure, not the shell's.
    shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    shell.lpVerb = "open";
    shell.lpFile = launch.ApplicationName[0] != '\0' ? launch.ApplicationName : launch.CommandLine;
    shell.lpDirectory = launch.WorkingFolder;
    shell.nShow = SW_SHOWNORMAL;
    if (!execute(&shell))
        return {false, nullptr, GetLastError(), true};
    return {true, shell.hProcess, 0, true};
}

// Returns only when the program did not start.
ProgramStart StartAndLeave(LaunchCommand& launch)
{
    const ProgramStart start = StartProgram(launch, CreateProcessA);
    if (!start.Started)
        return start;
    if (start.Process)
        WaitForInputIdle(start.Process, IdleWaitMilliseconds);
    LeaveProcess();
}
}

ProgramStart StartProgram(LaunchCommand& launch, CreateProcessCall create, ShellExecuteCall shell)
{
    // The started program inherits our show state and desktop.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION process = {};
    const char* application = launch.ApplicationName[0] != '\0' ? launch.ApplicationName : nullptr;
    if (create(application, launch.CommandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
               launch.WorkingFolder, &startup, &process))
        return {true, process.hProcess, 0, false};
    const DWORD error = GetLastError();
    if (error != ElevationRequired)
        return {false, nullptr, error, false};
    return StartThroughShell(launch, shell);
}

bool StartFailureIsShown(const ProgramStart& start)
{
    return !start.Started && start.ThroughShell && start.Error != ERROR_CANCELLED;
}

bool PlayGame()
{
    if (RestoreRunningGame())
        LeaveProcess();
    LaunchCommand launch;
    return PrepareLaunch(App.GamePath, GameProgram, launch) && StartAndLeave(launch).Started;
}

// A setup that cannot be found or started leaves the Starter to run without the game; so does
// an elevation prompt the player declined. Only an elevated start that failed is worth a box.
bool RunSetupIfNeeded()
{
    if (App.GamePath[0] != '\0')
        return true;
    LaunchCommand launch;
    if (!PrepareLaunch(App.StarterDir, SetupProgram, launch))
        return false;
    const ProgramStart start = StartAndLeave(launch);
    if (StartFailureIsShown(start))
        ReportError(IDS_NO_GAME, static_cast<int>(start.Error), ErrorLine, StarterSourceFile);
    return false;
}
