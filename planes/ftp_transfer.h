// Design files to and from the game's FTP server.
#pragma once
#include <string>
#include <vector>

#include "planes/plane_file.h"

// Stores the file under a new ServerPlaneName, given to serverName before any network step.
// False without a message when the file is missing or empty.
bool UploadPlaneFile(const std::string& path, std::string& serverName);
// Fetches the entry's file into myPlanes and shows the success box itself.
bool DownloadPlaneFile(const PlaneEntry& entry);
// The whole file; empty when it cannot be opened.
std::vector<char> ReadWholeFile(const std::string& path);
// Hexadecimal digits of a new GUID followed by ".plane".
std::string ServerPlaneName();
