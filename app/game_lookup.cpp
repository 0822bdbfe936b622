#include "app/game_lookup.h"

const char GameProgram[] = "ZP.EXE";

std::string DriveAndFolder(const std::string& filePath)
{
    const std::size_t separator = filePath.find_last_of("\\/");
    if (separator != std::string::npos)
        return filePath.substr(0, separator + 1);
    const bool hasDrive = filePath.size() >= 2 && filePath[1] == ':';
    return hasDrive ? filePath.substr(0, 2) : std::string();
}
