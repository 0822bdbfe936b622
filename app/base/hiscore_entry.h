// One record of the game's hiscore file. No <windows.h> here.
#pragma once
#include <cstdint>

struct HiscoreEntry {
    char Name[64] = {};
    int64_t Score = 0;
};
constexpr int HiscoreRecords = 6;
