// The summary block of a .plane design file and a design as listed. No <windows.h> here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The file's first bytes as read: N, seven numbers, then N - 28 bytes of name.
// Room for N up to 1051, followed by one zero byte.
struct PlaneHeader {
    uint32_t Length = 0;
    int32_t Costs = 0, Weight = 0, Consumption = 0, Noise = 0, Reliability = 0, Velocity = 0, Range = 0;
    char Name[1024] = {};
};
constexpr uint32_t PlaneHeaderMaxLength = 1051;
static_assert(sizeof(PlaneHeader) == 4 + PlaneHeaderMaxLength + 1, "header buffer layout");

// One design in a list; a plain value copied whole into and out of containers.
struct PlaneEntry {
    char Name[1024] = {};
    char FileName[64] = {};
    char ExtraText[128] = {};
    int32_t Costs = 0, Weight = 0, Consumption = 0, Noise = 0, Reliability = 0, Velocity = 0, Range = 0;
};
static_assert(sizeof(PlaneEntry) == 1244, "entry layout");
