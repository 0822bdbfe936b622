#include "ui/skin_runs.h"

#include <cstring>

namespace {
// The key colour, red 255 green 0 blue 255, as a 24-bit pixel stores it.
constexpr uint8_t KeyBlue = 255, KeyGreen = 0, KeyRed = 255;

const uint8_t* RowStart(const DibPixels& pixels, int32_t y)
{
    const int32_t memoryRow = pixels.topDown ? y : pixels.height - 1 - y;
    return pixels.bits + static_cast<std::size_t>(memoryRow) * DibRowBytes(pixels.width, pixels.bitsPerPixel);
}

// The palette index of the key colour when exactly one entry holds it, else -1.
int OnlyKeyIndex(const bool* keyIndex)
{
    int found = -1;
    for (int i = 0; i < 256; ++i) {
        if (!keyIndex[i])
            continue;
        if (found >= 0)
            return -1;
        found = i;
    }
    return found;
}

// The first x from x on whose byte is key, or width. A row is mostly long stretches of opaque
// pixels, so eight bytes are tested at a time for a byte equal to key.
int32_t NextKeyByte(const uint8_t* row, int32_t x, int32_t width, uint8_t key)
{
    constexpr uint64_t Ones = 0x0101010101010101ull, Highs = 0x8080808080808080ull;
    const uint64_t pattern = Ones * key;
    for (; x + 8 <= width; x += 8) {
        uint64_t chunk;
        std::memcpy(&chunk, row + x, sizeof chunk);
        const uint64_t diff = chunk ^ pattern;   // a zero byte wherever the key is
        if ((diff - Ones) & ~diff & Highs)
            break;
    }
    while (x < width && row[x] != key)
        ++x;
    return x;
}

// ScanRow for an 8-bit row whose key colour has the one palette index key.
void ScanSingleKeyRow(const uint8_t* row, int32_t width, int32_t y, uint8_t key, std::vector<PixelRun>& runs)
{
    int32_t x = 0;
    while (x < width) {
        while (x < width && row[x] == key)
            ++x;
        const int32_t start = x;
        x = NextKeyByte(row, x, width, key);
        if (x > start)
            runs.push_back({start, x, y});
    }
}

// True when the bands from first on end right above the row and match its runs one to one.
bool ContinuesBands(const std::vector<PixelBand>& bands, std::size_t first, const PixelRun* row, std::size_t count)
{
    if (bands.size() - first != count || count == 0 || bands[first].bottom != row[0].y)
        return false;
    for (std::size_t i = 0; i < count; ++i)
        if (bands[first + i].left != row[i].left || bands[first + i].right != row[i].right)
            return false;
    return true;
}
}

std::vector<PixelBand> MergeRowRuns(const std::vector<PixelRun>& runs)
{
    std::vector<PixelBand> bands;
    std::size_t lastRowBands = 0;
    for (std::size_t start = 0, end = 0; start < runs.size(); start = end) {
        while (end < runs.size() && runs[end].y == runs[start].y)
            ++end;
        if (ContinuesBands(bands, lastRowBands, &runs[start], end - start)) {
            for (std::size_t i = lastRowBands; i < bands.size(); ++i)
                ++bands[i].bottom;
            continue;
        }
        lastRowBands = bands.size();
        for (std::size_t i = start; i < end; ++i)
            bands.push_back({runs[i].left, runs[i].right, runs[i].y, runs[i].y + 1});
    }
    return bands;
}

std::size_t DibRowBytes(int32_t width, int bitsPerPixel)
{
    const std::size_t bitsInRow = static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel);
    return (bitsInRow + 31) / 32 * 4;
}

std::vector<PixelRun> ScanDibRuns(const DibPixels& pixels)
{
    std::vector<PixelRun> runs;
    const bool known = (pixels.bitsPerPixel == 8 && pixels.keyIndex) || pixels.bitsPerPixel == 24;
    if (!known || pixels.width < 1 || pixels.height < 1)
        return runs;
    const int singleKey = pixels.bitsPerPixel == 8 ? OnlyKeyIndex(pixels.keyIndex) : -1;
    for (int32_t y = 0; y < pixels.height; ++y) {
        const uint8_t* row = RowStart(pixels, y);
        if (singleKey >= 0) {
            ScanSingleKeyRow(row, pixels.width, y, static_cast<uint8_t>(singleKey), runs);
        } else if (pixels.bitsPerPixel == 8) {
            ScanRow(pixels.width, y, [&](int32_t x) { return pixels.keyIndex[row[x]]; }, runs);
        } else {
            ScanRow(pixels.width, y, [&](int32_t x) {
                const uint8_t* p = row + 3 * static_cast<std::size_t>(x);
                return p[0] == KeyBlue && p[1] == KeyGreen && p[2] == KeyRed;
            }, runs);
        }
    }
    return runs;
}
