// Starting a prepared launch, with the system's process creation passed in: since Vista an
// installer without a manifest needs elevation, which only the shell can ask the player for.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include "app/launch.h"

using CreateProcessCall = decltype(&CreateProcessA);
using ShellExecuteCall = decltype(&ShellExecuteExA);

// ERROR_ELEVATION_REQUIRED, which MinGW's headers lack.
constexpr DWORD ElevationRequired = 740;

struct ProgramStart {
    bool Started = false;
    HANDLE Process = nullptr;   // may be null although it started: then nothing to wait for
    DWORD Error = 0;            // the code of the failure
    bool ThroughShell = false;  // creation needed elevation, so the shell was asked
};

// Creates the process through create. On exactly ElevationRequired the shell (through shell:
// the system's unless a test declines for the player) starts the same file in the same folder
// with the verb "open", and the system asks for elevation; a declined prompt ends as
// ERROR_CANCELLED.
ProgramStart StartProgram(LaunchCommand& launch, CreateProcessCall create, ShellExecuteCall shell = ShellExecuteExA);

// Whether the player hears of a failed start: only of an elevated start that failed, since the
// program is there; not when the player declined the prompt, which was the player's choice.
bool StartFailureIsShown(const ProgramStart& start);
