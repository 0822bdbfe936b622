// The Starter's own folder and the game's installation folder.
#pragma once
#include <string>

extern const char GameProgram[];      // "ZP.EXE"

// Fills App.StarterDir and App.GamePath (empty when no folder qualifies). Never fails.
void FindGame();

// True when folder\file exists on a drive that is neither removable nor a CD-ROM,
// and whose type can be told.
bool IsUsableGameFolder(const char* folder, const char* file);

// Drive and folder of a full file path, the folder with its trailing separator.
std::string DriveAndFolder(const std::string& filePath);
