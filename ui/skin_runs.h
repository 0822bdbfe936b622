// Rows of pixels to one-pixel-high runs of opaque (non-key) pixels. No <windows.h> here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Pixels left..right-1 of row y, all opaque; left and right are maximal.
struct PixelRun {
    int32_t left;
    int32_t right;
    int32_t y;
};

inline bool operator==(const PixelRun& a, const PixelRun& b)
{
    return a.left == b.left && a.right == b.right && a.y == b.y;
}

// Appends the runs of row y, left to right. isKey(x) tells whether pixel x is the key colour.
template <class IsKey>
void ScanRow(int32_t width, int32_t y, IsKey isKey, std::vector<PixelRun>& runs)
{
    int32_t x = 0;
    while (x < width) {
        while (x < width && isKey(x))
            ++x;
        const int32_t start = x;
        while (x < width && !isKey(x))
            ++x;
        if (x > start)
            runs.push_back({start, x, y});
    }
}

// Rows left..right-1 of top..bottom-1: one run repeated on consecutive rows.
struct PixelBand {
    int32_t left;
    int32_t right;
    int32_t top;
    int32_t bottom;
};

// The runs as the system keeps a region: a row whose runs equal those of the row above
// extends that row's bands downwards. Covers exactly the pixels of the runs.
std::vector<PixelBand> MergeRowRuns(const std::vector<PixelRun>& runs);

// The bytes of a device-independent bitmap with 8 or 24 bits per pixel and rows padded to
// four bytes. Row 0 is the top row as displayed, whatever order the rows have in memory.
struct DibPixels {
    const uint8_t* bits;
    int32_t width;
    int32_t height;
    bool topDown;              // rows in memory from the top; otherwise from the bottom
    int bitsPerPixel;          // 8: palette indices; 24: blue, green, red
    const bool* keyIndex;      // 8 bits: 256 flags, true where the palette entry is the key colour
};

std::size_t DibRowBytes(int32_t width, int bitsPerPixel);

// All runs, top row first. Nothing for other pixel sizes or a width or height below 1.
std::vector<PixelRun> ScanDibRuns(const DibPixels& pixels);
