#include "ui/skin_runs.h"

namespace {
// The key colour, red 255 green 0 blue 255, as a 24-bit pixel stores it.
constexpr uint8_t KeyBlue = 255, KeyGreen = 0, KeyRed = 255;

const uint8_t* RowStart(const DibPixels& pixels, int32_t y)
{
    const int32_t memoryRow = pixels.topDown ? y : pixels.height - 1 - y;
    return pixels.bits + static_cast<std::size_t>(memoryRow) * DibRowBytes(pixels.width, pixels.bitsPerPixel);
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
    for (int32_t y = 0; y < pixels.height; ++y) {
        const uint8_t* row = RowStart(pixels, y);
        if (pixels.bitsPerPixel == 8) {
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
