// A design's seven numbers and the two records that carry them: the summary block of a .plane
// file and a design as listed. Here in the base because AppState holds designs and both the
// design registration (online/) and the design exchange (planes/) read them. No <windows.h> here.
#pragma once
#include <cstdint>

// A design's seven numbers, declared in their one order: the order of the file, of a catalogue
// answer's line and of the registration query. PlaneNumberFields walks them in that order.
struct PlaneNumbers {
    int32_t Costs = 0, Weight = 0, Consumption = 0, Noise = 0, Reliability = 0, Velocity = 0, Range = 0;
};
using PlaneNumberField = int32_t PlaneNumbers::*;
constexpr PlaneNumberField PlaneNumberFields[] = {&PlaneNumbers::Costs,       &PlaneNumbers::Weight,
                                                  &PlaneNumbers::Consumption, &PlaneNumbers::Noise,
                                                  &PlaneNumbers::Reliability, &PlaneNumbers::Velocity,
                                                  &PlaneNumbers::Range};
static_assert(sizeof(PlaneNumbers) == sizeof PlaneNumberFields / sizeof PlaneNumberFields[0] * sizeof(int32_t),
              "every number has its field");

// The file's first bytes as read: N, the seven numbers, then N - 28 bytes of name.
// Room for N up to 1051, followed by one zero byte.
struct PlaneHeader : PlaneNumbers {
    uint32_t Length = 0;
    char Name[1024] = {};
};
constexpr uint32_t PlaneHeaderMaxLength = 1051;
static_assert(sizeof(PlaneHeader) == 4 + PlaneHeaderMaxLength + 1, "header buffer layout");

// One design in a list; a plain value copied whole into and out of containers.
struct PlaneEntry : PlaneNumbers {
    char Name[1024] = {};
    char FileName[64] = {};
    char ExtraText[128] = {};
};
static_assert(sizeof(PlaneEntry) == 1244, "entry layout");
