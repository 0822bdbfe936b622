// The portable logic of ui/: the runs and bands of a skin's region, the display's scale, and
// the pauses.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "res/resource.h"
#include "ui/dpi_scale.h"
#include "ui/pause.h"
#include "ui/skin_runs.h"

// ---- Skin runs

namespace {
// One character per pixel: 'M' the key colour, 'K' a second palette entry holding the key
// colour, '.' opaque, 'r' 'g' 'b' one channel off the key colour (opaque).
using Picture = std::vector<std::string>;

constexpr uint8_t OpaqueIndex = 1, KeyIndex = 7, SecondKeyIndex = 200;

uint8_t PaletteIndex(char c)
{
    switch (c) {
    case 'M': return KeyIndex;
    case 'K': return SecondKeyIndex;
    case 'r': return 8;
    case 'g': return 9;
    case 'b': return 10;
    default: return OpaqueIndex;
    }
}

// Blue, green, red.
std::vector<uint8_t> Bgr(char c)
{
    switch (c) {
    case 'M': case 'K': return {255, 0, 255};
    case 'r': return {255, 0, 254};
    case 'g': return {255, 1, 255};
    case 'b': return {254, 0, 255};
    default: return {0x60, 0x40, 0x20};
    }
}

// Rows padded with index 0 / black, both opaque: reading past a row's end would show.
std::vector<uint8_t> Encode(const Picture& picture, int bitsPerPixel, bool topDown)
{
    const int width = static_cast<int>(picture[0].size());
    const std::size_t stride = DibRowBytes(width, bitsPerPixel);
    std::vector<uint8_t> bits(stride * picture.size(), 0);
    for (std::size_t y = 0; y < picture.size(); ++y) {
        uint8_t* row = bits.data() + stride * (topDown ? y : picture.size() - 1 - y);
        for (int x = 0; x < width; ++x) {
            if (bitsPerPixel == 8) {
                row[x] = PaletteIndex(picture[y][x]);
            } else {
                const std::vector<uint8_t> pixel = Bgr(picture[y][x]);
                std::copy(pixel.begin(), pixel.end(), row + 3 * x);
            }
        }
    }
    return bits;
}

struct Keys {
    bool flags[256] = {};
    Keys() { flags[KeyIndex] = flags[SecondKeyIndex] = true; }
};

std::vector<PixelRun> Scan(const Picture& picture, int bitsPerPixel, bool topDown)
{
    static const Keys keys;
    const std::vector<uint8_t> bits = Encode(picture, bitsPerPixel, topDown);
    return ScanDibRuns({bits.data(), static_cast<int32_t>(picture[0].size()),
                        static_cast<int32_t>(picture.size()), topDown, bitsPerPixel, keys.flags});
}

std::string Describe(const std::vector<PixelRun>& runs)
{
    std::string text;
    for (const PixelRun& r : runs)
        text += "(" + std::to_string(r.left) + ".." + std::to_string(r.right) + " y" + std::to_string(r.y) + ")";
    return text;
}
}

TEST(SkinRuns, EveryLayoutGivesTheMaximalRunsOfEachRow)
{
    struct Case { const char* name; Picture picture; std::vector<PixelRun> runs; };
    const Case cases[] = {
        {"all key colour", {"MMM", "MKM"}, {}},
        {"no key colour", {"...", "..."}, {{0, 3, 0}, {0, 3, 1}}},
        {"key at x=0 delays the start", {"M...", "...."}, {{1, 4, 0}, {0, 4, 1}}},
        {"key in the middle splits", {"..M..", "....."}, {{0, 2, 0}, {3, 5, 0}, {0, 5, 1}}},
        {"run to the right edge", {"MM..", "MMM."}, {{2, 4, 0}, {3, 4, 1}}},
        {"run ends before the right edge", {"..MM"}, {{0, 2, 0}}},
        {"near key colour is opaque", {"rgb", "MrM"}, {{0, 3, 0}, {1, 2, 1}}},
        {"width 1", {".", "M", "."}, {{0, 1, 0}, {0, 1, 2}}},
        {"width 5, alternating", {"M.M.M", ".M.M."}, {{1, 2, 0}, {3, 4, 0}, {0, 1, 1}, {2, 3, 1}, {4, 5, 1}}},
        {"width 7, rows differ", {"M......", "...M...", "......M"},
         {{1, 7, 0}, {0, 3, 1}, {4, 7, 1}, {0, 6, 2}}},
        {"second palette key", {".K.K."}, {{0, 1, 0}, {2, 3, 0}, {4, 5, 0}}},
    };
    for (const Case& c : cases) {
        for (int bitsPerPixel : {8, 24}) {
            for (bool topDown : {false, true}) {
                const std::vector<PixelRun> runs = Scan(c.picture, bitsPerPixel, topDown);
                EXPECT_EQ(Describe(runs), Describe(c.runs))
                    << c.name << ", " << bitsPerPixel << " bits, " << (topDown ? "top-down" : "bottom-up");
            }
        }
    }
}

TEST(SkinRuns, RowsArePaddedToFourBytes)
{
    struct Case { int32_t width; int bitsPerPixel; std::size_t bytes; };
    const Case cases[] = {
        {1, 24, 4}, {3, 24, 12}, {4, 24, 12}, {5, 24, 16}, {1, 8, 4}, {4, 8, 4}, {5, 8, 8}, {640, 8, 640}, {0, 8, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DibRowBytes(c.width, c.bitsPerPixel), c.bytes) << c.width << " x " << c.bitsPerPixel;
}

TEST(SkinRuns, NothingIsReadWithoutPixelsOrWithAnUnknownFormat)
{
    const uint8_t bits[16] = {};
    const bool keys[256] = {};
    EXPECT_TRUE(ScanDibRuns({bits, 0, 2, false, 24, keys}).empty());
    EXPECT_TRUE(ScanDibRuns({bits, 2, 0, false, 24, keys}).empty());
    EXPECT_TRUE(ScanDibRuns({bits, 2, -2, false, 24, keys}).empty());
    EXPECT_TRUE(ScanDibRuns({bits, 2, 2, false, 32, keys}).empty());
    EXPECT_TRUE(ScanDibRuns({bits, 2, 2, false, 8, nullptr}).empty());
    EXPECT_FALSE(ScanDibRuns({bits, 2, 2, false, 8, keys}).empty());
}

TEST(SkinRuns, RowsWithTheSameRunsMergeIntoBands)
{
    auto describe = [](const std::vector<PixelBand>& bands) {
        std::string text;
        for (const PixelBand& b : bands)
            text += "(" + std::to_string(b.left) + ".." + std::to_string(b.right) + " y" + std::to_string(b.top) +
                    ".." + std::to_string(b.bottom) + ")";
        return text;
    };
    struct Case { const char* name; Picture picture; const char* bands; };
    const Case cases[] = {
        {"all key colour", {"MMM", "MMM"}, ""},
        {"equal rows", {"...", "...", "..."}, "(0..3 y0..3)"},
        {"two runs a row", {".M.", ".M.", "..."}, "(0..1 y0..2)(2..3 y0..2)(0..3 y2..3)"},
        {"a row in between differs", {"M..", "...", "M.."}, "(1..3 y0..1)(0..3 y1..2)(1..3 y2..3)"},
        {"an empty row in between", {".M", "MM", ".M"}, "(0..1 y0..1)(0..1 y2..3)"},
        {"one run more", {"..M", "..M", ".M."}, "(0..2 y0..2)(0..1 y2..3)(2..3 y2..3)"},
        {"same count, other place", {".MM", "M.M", "M.M"}, "(0..1 y0..1)(1..2 y1..3)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describe(MergeRowRuns(Scan(c.picture, 8, true))), c.bands) << c.name;
}

// A palette with the key colour in one entry takes the path that tests eight pixels at a time.
TEST(SkinRuns, OneKeyEntryGivesTheSameRunsAsPixelByPixel)
{
    bool oneKey[256] = {};
    oneKey[KeyIndex] = true;
    std::mt19937 random(1234);
    const char pixels[] = "MMMK...rgb";
    for (int round = 0; round < 200; ++round) {
        const int width = 1 + static_cast<int>(random() % 40), height = 1 + static_cast<int>(random() % 4);
        // Long opaque stretches as well as noise, so that whole eight-pixel words are skipped.
        const bool stretches = round % 2 == 0;
        Picture picture(height, std::string(width, '.'));
        for (std::string& row : picture)
            for (char& c : row)
                c = stretches && random() % 6 ? '.' : pixels[random() % (sizeof pixels - 1)];
        std::vector<PixelRun> expected;
        for (int y = 0; y < height; ++y)
            ScanRow(width, y, [&](int32_t x) { return picture[y][x] == 'M'; }, expected);
        const std::vector<uint8_t> bits = Encode(picture, 8, round % 4 < 2);
        const std::vector<PixelRun> runs = ScanDibRuns({bits.data(), width, height, round % 4 < 2, 8, oneKey});
        ASSERT_EQ(Describe(runs), Describe(expected)) << width << "x" << height << " round " << round;
    }
}

// ---- The display's scale

TEST(DisplayScale, LayoutValuesRoundToTheNearestPixel)
{
    struct Case { int32_t value; int dpi; int32_t scaled; };
    const Case cases[] = {
        {485, 96, 485}, {485, 144, 728}, {485, 192, 970}, {15, 120, 19}, {3, 120, 4}, {1, 120, 1},
        {20, 144, 30}, {272, 144, 408}, {-3, 144, -5}, {0, 192, 0}, {12, 288, 36},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ScaleToDpi(c.value, c.dpi), c.scaled) << c.value << " at " << c.dpi;
    // A 150 % picture shown at 125 %.
    EXPECT_EQ(ScaleBetween(408, 144, 120), 340);
}

TEST(DisplayScale, TheSmallestSetAtLeastAsLargeComesFirst)
{
    // Each set as its DPI plus its id offset.
    constexpr int At100 = 96, At150 = 144 + IDB_SET_150_OFFSET, At200 = 192 + IDB_SET_200_OFFSET;
    struct Case { int dpi; std::vector<int> order; };
    const Case cases[] = {
        {72, {At100, At200, At150}}, {96, {At100, At200, At150}}, {120, {At150, At200, At100}},
        {144, {At150, At200, At100}}, {168, {At200, At150, At100}}, {288, {At200, At150, At100}},
    };
    for (const Case& c : cases) {
        std::vector<int> order;
        for (const ArtSet& set : ArtSetsFor(c.dpi))
            order.push_back(set.Dpi + set.IdOffset);
        EXPECT_EQ(order, c.order) << c.dpi;
    }
}

// Against the plain rule, pixel by pixel: the source pixel under the target pixel's centre. Gaps
// that no centre falls on close, so the runs stay maximal.
TEST(DisplayScale, OutlinesScaleNearestNeighbourToAnySize)
{
    std::mt19937 random(99);
    for (int round = 0; round < 300; ++round) {
        const int width = 1 + static_cast<int>(random() % 12), height = 1 + static_cast<int>(random() % 5);
        const int toWidth = 1 + static_cast<int>(random() % 30), toHeight = 1 + static_cast<int>(random() % 9);
        Picture picture(height, std::string(width, '.'));
        for (std::string& row : picture)
            for (char& c : row)
                c = random() % 3 ? '.' : 'M';
        std::vector<PixelRun> expected;
        for (int y = 0; y < toHeight; ++y) {
            const std::string& row = picture[(2 * y + 1) * height / (2 * toHeight)];
            ScanRow(toWidth, y, [&](int32_t x) { return row[(2 * x + 1) * width / (2 * toWidth)] == 'M'; }, expected);
        }
        ASSERT_EQ(Describe(ScaleRuns(Scan(picture, 8, true), width, height, toWidth, toHeight)), Describe(expected))
            << width << "x" << height << " to " << toWidth << "x" << toHeight;
    }
    EXPECT_TRUE(ScaleRuns(Scan({"..."}, 8, true), 3, 1, 0, 2).empty());
}

// ---- Pauses

namespace {

// A counter that advances by a fixed step at every reading, as a fake clock.
struct SteppingCounter {
    uint32_t now;
    uint32_t step;
    int readings = 0;
    uint32_t Read()
    {
        const uint32_t value = now;
        now += step;
        ++readings;
        return value;
    }
};

} // namespace

TEST(PauseFor, EndsAtTheFirstReadingThatIsLateEnoughAcrossTheWrap)
{
    struct Case { uint32_t start; uint32_t step; uint32_t milliseconds; uint32_t lastReading; int yields; };
    const Case cases[] = {
        {1000, 1, 200, 1200, 199},
        {0xFFFFFFF0u, 1, 200, 0xB8, 199},           // wraps during the pause
        {0xFFFFFF38u, 1, 200, 0, 199},              // ends exactly on the wrap
        {0xFFFFFFFFu, 7, 250, 0xFFFFFFFFu + 252u, 35},  // coarse ticks: first reading >= 250 later
        {0x7FFFFFF0u, 1, 32, 0x80000010u, 31},      // crossing the sign bit changes nothing
        {0xFFFFFFFAu, 1, 0, 0xFFFFFFFBu, 0},        // nothing to wait for
    };
    for (const Case& c : cases) {
        SteppingCounter counter{c.start, c.step};
        std::vector<uint32_t> seen;
        int yields = 0;
        PauseFor(c.milliseconds,
                 [&] { seen.push_back(counter.Read()); return seen.back(); },
                 [&] { ++yields; });
        EXPECT_EQ(seen.back(), c.lastReading) << std::hex << c.start;
        EXPECT_EQ(yields, c.yields) << std::hex << c.start;
        EXPECT_GE(static_cast<uint32_t>(seen.back() - c.start), c.milliseconds) << std::hex << c.start;
    }
}

TEST(PauseFor, YieldsBetweenEveryPairOfReadings)
{
    std::vector<char> calls;
    uint32_t now = 0xFFFFFFFEu;
    PauseFor(3, [&] { calls.push_back('t'); return now++; }, [&] { calls.push_back('y'); });
    EXPECT_EQ(std::string(calls.begin(), calls.end()), "ttytyt");
}
