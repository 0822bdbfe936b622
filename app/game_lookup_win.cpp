#include "app/game_lookup.h"

#include "app/base/app_state.h"
#include "app/base/paths.h"
#include "settings/registry_store.h"

#include <cstring>

namespace {
struct GameRegistryValue {
    const char* Key;
    const char* Value;
};

// The game's installers leave its folder here: the maker's key first, then the publisher's.
const GameRegistryValue GameRegistryValues[] = {
    {"Software\\Brightmoor Software\\Skyvora\\1.0", "&AppPath"},
    {"Software\\Larkspire\\SKV", "Path"},
};

void ReadStarterDir()
{
    char modulePath[PathBufferSize] = {};
    const DWORD length = GetModuleFileNameA(nullptr, modulePath, PathBufferSize);
    // A cut module path would name some other folder: leave StarterDir empty instead.
    if (length == 0 || length >= PathBufferSize)
        return;
    CopyToBuffer(App.StarterDir, sizeof App.StarterDir, DriveAndFolder(modulePath));
}

std::string FindGameFolder()
{
    if (IsUsableGameFolder(App.StarterDir, GameProgram))
        return App.StarterDir;
    for (const GameRegistryValue& source : GameRegistryValues) {
        const std::string folder = ReadRegistryString(source.Key, source.Value);
        if (!folder.empty() && IsUsableGameFolder(folder.c_str(), GameProgram))
            return folder;
    }
    return {};
}

bool IsAcceptedDriveType(UINT type)
{
    return type != DRIVE_UNKNOWN && type != DRIVE_REMOVABLE && type != DRIVE_CDROM;
}
}

bool IsUsableGameFolder(const char* folder, const char* file)
{
    char path[PathBufferSize];
    if (!CopyToBuffer(path, sizeof path, JoinPath(folder, file)))
        return false;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return false;
    // The first three characters: the drive root of a drive path.
    if (std::strlen(path) > 3)
        path[3] = '\0';
    return IsAcceptedDriveType(GetDriveTypeA(path));
}

void FindGame()
{
    ReadStarterDir();
    const std::string folder = FindGameFolder();
    if (!CopyToBuffer(App.GamePath, sizeof App.GamePath, folder))
        App.GamePath[0] = '\0';
}
