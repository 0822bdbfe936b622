// Sizes and places at the display's DPI, and which of starter.dll's sets of pictures serves
// it. No <windows.h> here.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "res/layout.h"
#include "ui/skin_runs.h"

// value, meant at fromDpi, at toDpi: rounded to the nearest pixel, halves away from zero.
int32_t ScaleBetween(int32_t value, int fromDpi, int toDpi);

// A layout value of res/layout.h (meant at LayoutDpi) at dpi.
inline int32_t ScaleToDpi(int32_t value, int dpi)
{
    return ScaleBetween(value, LayoutDpi, dpi);
}

// One set of pictures in starter.dll: drawn for Dpi, at the 100 % ids plus IdOffset.
struct ArtSet {
    int Dpi;
    int IdOffset;
};

// The sets to try for a display, best first: the smallest drawn at least as large as the
// display wants (a larger picture shrinks cleanly, a smaller one blurs as it grows), or the
// largest above 200 %; then the others, largest first, for a library that lacks the best.
constexpr int ArtSetCount = 3;
std::array<ArtSet, ArtSetCount> ArtSetsFor(int dpi);

// The runs of a width x height bitmap's opaque pixels (top row first, as the scans give them),
// at toWidth x toHeight: each pixel takes the pixel under its centre (nearest neighbour), so the
// outline stays hard and keyed.
std::vector<PixelRun> ScaleRuns(const std::vector<PixelRun>& runs, int32_t width, int32_t height, int32_t toWidth,
                                int32_t toHeight);
