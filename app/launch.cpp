#include "app/launch.h"

#include "app/base/paths.h"

const char SetupProgram[] = "SETUP.EXE";

bool PrepareLaunch(const char* folder, const char* program, LaunchCommand& launch)
{
    const bool hasFolder = folder[0] != '\0';
    const std::string commandLine = hasFolder ? JoinPath(folder, program) : program;
    if (!CopyToBuffer(launch.CommandLine, sizeof launch.CommandLine, commandLine))
        return false;
    if (hasFolder)
        CopyToBuffer(launch.ApplicationName, sizeof launch.ApplicationName, commandLine);
    launch.WorkingFolder = hasFolder ? folder : nullptr;
    return true;
}
