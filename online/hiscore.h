// The Hiscore command: the game's first hiscore goes to the web server, the rank comes back.
#pragma once
#include <cstdint>
#include <string>

void HiscoreCommand();
// True when the file was read and its first record came from a complete line.
bool ReadHiscoreFile();
void UploadHiscore(const std::string& name, int64_t score, const std::string& mail);
