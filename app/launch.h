// Handing over to the game or to its setup program; both end the Starter once started.
#pragma once
#include <cstddef>

extern const char SetupProgram[];     // "SETUP.EXE"

// Brings a running game back, or starts ZP.EXE from the game folder; either way the process
// ends with exit code 0. Returns false only when the game could not be started.
bool PlayGame();

// Nothing to do (true) when the game was found. Otherwise starts SETUP.EXE beside the Starter
// and ends the process with exit code 0, or returns false when it could not be started.
bool RunSetupIfNeeded();

constexpr std::size_t CommandLineSize = 4096;

struct LaunchCommand {
    char CommandLine[CommandLineSize] = {};
    // The program's full path, so a blank in the folder cannot make the system start a
    // shorter path (C:\Program.exe for C:\Program Files\...). Empty: no folder to name it by.
    char ApplicationName[CommandLineSize] = {};
    const char* WorkingFolder = nullptr;   // null: the Starter's own current folder
};

// The unquoted command line folder + separator (unless it ends in one) + program, the same
// path as application name, and the folder unchanged as working folder. An empty folder names
// the bare program and no application name. False when the command line does not fit.
bool PrepareLaunch(const char* folder, const char* program, LaunchCommand& launch);
