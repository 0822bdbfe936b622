// Any pixel buffer of a bitmap: the region's runs must be those of the pixel-by-pixel scan.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ui/skin_runs.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Key test of pixel (x, y) worked out from the bitmap's layout on its own.
bool IsKeyPixel(const DibPixels& p, std::size_t stride, int32_t x, int32_t y)
{
    const std::size_t row = p.topDown ? y : p.height - 1 - y;
    const uint8_t* at = p.bits + row * stride;
    if (p.bitsPerPixel == 8)
        return p.keyIndex[at[x]];
    at += 3 * std::size_t(x);
    return at[0] == 0xff && at[1] == 0x00 && at[2] == 0xff;
}

// The scan as the region is defined: a run opens at an opaque pixel, closes at a key pixel
// (right edge exclusive) or at the end of the row.
std::vector<PixelRun> PixelByPixel(const DibPixels& p, std::size_t stride)
{
    std::vector<PixelRun> runs;
    for (int32_t y = 0; y < p.height; ++y) {
        bool inRun = false;
        int32_t start = 0;
        for (int32_t x = 0; x < p.width; ++x) {
            const bool key = IsKeyPixel(p, stride, x, y);
            if (!inRun && !key) {
                start = x;
                inRun = true;
            } else if (inRun && key) {
                runs.push_back({start, x, y});
                inRun = false;
            }
        }
        if (inRun)
            runs.push_back({start, p.width, y});
    }
    return runs;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const int sizes[] = {8, 24, 1, 4, 16, 32};
    const int bitsPerPixel = sizes[input.ConsumeIntegralInRange<int>(0, 5)];
    const int32_t width = input.ConsumeIntegralInRange<int32_t>(-2, 600);
    const int32_t height = input.ConsumeIntegralInRange<int32_t>(-2, 600);
    const bool topDown = input.ConsumeBool();
    bool keyIndex[256];
    for (bool& flag : keyIndex)
        flag = input.ConsumeIntegralInRange<int>(0, 7) == 0;   // a few key entries in the palette

    // Exactly the bytes such a bitmap has, so a read past them is caught; missing bytes are 0.
    const std::size_t stride = width > 0 ? (std::size_t(width) * bitsPerPixel + 31) / 32 * 4 : 0;
    const std::size_t total = height > 0 ? stride * std::size_t(height) : 0;
    const std::vector<uint8_t> pixels = input.ConsumeRemainingBytes<uint8_t>();
    std::unique_ptr<uint8_t[]> bits(new uint8_t[total]);
    std::memset(bits.get(), 0, total);
    if (!pixels.empty() && total > 0)
        std::memcpy(bits.get(), pixels.data(), std::min(total, pixels.size()));

    const DibPixels dib = {bits.get(), width, height, topDown, bitsPerPixel, keyIndex};
    const std::vector<PixelRun> runs = ScanDibRuns(dib);
    Check(stride == DibRowBytes(width, bitsPerPixel) || width < 1);
    if (width < 1 || height < 1 || (bitsPerPixel != 8 && bitsPerPixel != 24)) {
        Check(runs.empty());
        return 0;
    }
    Check(runs == PixelByPixel(dib, stride));
    return 0;
}
