#include "ui/skin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {
// One character per pixel: 'M' the key colour, '.' opaque, 'r' 'g' 'b' one channel off the key.
using Picture = std::vector<std::string>;

COLORREF ColourOf(char c)
{
    switch (c) {
    case 'M': return KeyColour;
    case 'r': return RGB(254, 0, 255);
    case 'g': return RGB(255, 1, 255);
    case 'b': return RGB(255, 0, 254);
    default: return RGB(0x20, 0x40, 0x60);
    }
}

struct Palette {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

// A DIB section of the picture; with 8 bits its palette holds the key colour twice.
HBITMAP MakeDib(const Picture& picture, int bitsPerPixel, bool topDown)
{
    const int width = static_cast<int>(picture[0].size());
    const int height = static_cast<int>(picture.size());
    Palette info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = topDown ? -height : height;
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bitsPerPixel);
    info.header.biCompression = BI_RGB;
    const char indexed[] = ".Mrgb";
    for (int i = 0; i < 256; ++i) {
        const COLORREF c = ColourOf(i < 5 ? indexed[i] : (i == 250 ? 'M' : '.'));
        info.colours[i] = {GetBValue(c), GetGValue(c), GetRValue(c), 0};
    }
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        return nullptr;
    const int stride = (width * bitsPerPixel + 31) / 32 * 4;
    for (int y = 0; y < height; ++y) {
        auto* row = static_cast<uint8_t*>(bits) + stride * (topDown ? y : height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const char c = picture[y][x];
            const COLORREF colour = ColourOf(c);
            if (bitsPerPixel == 8) {
                row[x] = c == 'M' ? ((x + y) % 2 ? 1 : 250) : static_cast<uint8_t>(std::strchr(indexed, c) - indexed);
            } else if (bitsPerPixel == 24) {
                row[3 * x] = GetBValue(colour);
                row[3 * x + 1] = GetGValue(colour);
                row[3 * x + 2] = GetRValue(colour);
            } else {
                auto* pixel = reinterpret_cast<uint32_t*>(row) + x;
                *pixel = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
            }
        }
    }
    return bitmap;
}

Picture RandomPicture(std::mt19937& random, int width, int height)
{
    const char pixels[] = "MMMM..r.g.b";
    Picture picture(height, std::string(width, '.'));
    for (std::string& row : picture)
        for (char& c : row)
            c = pixels[random() % (sizeof pixels - 1)];
    return picture;
}

std::string Box(HRGN region)
{
    RECT box;
    const int kind = GetRgnBox(region, &box);
    return std::to_string(kind) + ":" + std::to_string(box.left) + "," + std::to_string(box.top) + "," +
           std::to_string(box.right) + "," + std::to_string(box.bottom);
}

// Both builders on one bitmap; the skins share it, as the region is all they differ in.
struct BuiltPair {
    Skin fast, literal;
    explicit BuiltPair(HBITMAP bitmap)
    {
        fast.Bitmap = literal.Bitmap = bitmap;
        EXPECT_TRUE(fast.BuildRegion(nullptr));
        EXPECT_TRUE(literal.BuildRegionByPixels(nullptr));
    }
    bool Equal() const { return EqualRgn(fast.Region, literal.Region) != FALSE; }
};

std::string LibraryPath()
{
    const char* path = std::getenv("STARTER_DLL");
    return path ? path : "starter.dll";
}

constexpr int ShapingBitmaps[] = {IDB_MAIN, IDB_BIG_BUTTON, IDB_UPLOAD, IDB_SMALL_BUTTON, IDB_OK, IDB_CANCEL,
                                  IDB_PAGE_BACK, IDB_PAGE_FORWARD, 146, 156, 166};
}

TEST(SkinRegion, FastBuilderEqualsTheLiteralOneOnCraftedBitmaps)
{
    struct Case { const char* name; Picture picture; const char* box; };
    const Case cases[] = {
        {"all key colour", {"MMM", "MMM"}, "1:0,0,0,0"},
        {"no key colour", {"...", "..."}, "2:0,0,3,2"},
        {"key at x=0", {"M...", "...."}, "3:0,0,4,2"},
        {"key in the middle", {"..M..", "....."}, "3:0,0,5,2"},
        {"run to the right edge", {"MMM.", "MMMM"}, "2:3,0,4,1"},
        {"near key colour", {"rgb", "MMM"}, "2:0,0,3,1"},
        {"odd width, rows differ", {"M......", "...M...", "MMMMMMM", "......M"}, "3:0,0,7,4"},
    };
    for (const Case& c : cases) {
        for (int bitsPerPixel : {8, 24, 32}) {
            for (bool topDown : {false, true}) {
                SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(bitsPerPixel) + " bits, " +
                             (topDown ? "top-down" : "bottom-up"));
                HBITMAP bitmap = MakeDib(c.picture, bitsPerPixel, topDown);
                ASSERT_NE(bitmap, nullptr);
                BuiltPair pair(bitmap);
                EXPECT_EQ(pair.literal.Width, static_cast<int>(c.picture[0].size()));
                EXPECT_EQ(pair.literal.Height, static_cast<int>(c.picture.size()));
                EXPECT_EQ(Box(pair.literal.Region), c.box);
                EXPECT_TRUE(pair.Equal()) << Box(pair.fast.Region);
                DeleteObject(bitmap);
            }
        }
    }
}

TEST(SkinRegion, FastBuilderEqualsTheLiteralOneOnRandomBitmaps)
{
    std::mt19937 random(4711);
    for (int round = 0; round < 24; ++round) {
        const int width = 1 + static_cast<int>(random() % 37);
        const int height = 1 + static_cast<int>(random() % 23);
        const int bitsPerPixel = round % 2 ? 8 : 24;
        const bool topDown = round % 4 >= 2;
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(bitsPerPixel) +
                     " bits, " + (topDown ? "top-down" : "bottom-up"));
        HBITMAP bitmap = MakeDib(RandomPicture(random, width, height), bitsPerPixel, topDown);
        ASSERT_NE(bitmap, nullptr);
        BuiltPair pair(bitmap);
        EXPECT_TRUE(pair.Equal());
        DeleteObject(bitmap);
    }
}

TEST(SkinRegion, FastBuilderEqualsTheLiteralOneOnEveryShapingBitmapOfTheLibrary)
{
    HMODULE library = LoadLibraryA(LibraryPath().c_str());
    ASSERT_NE(library, nullptr) << LibraryPath();
    for (int id : ShapingBitmaps) {
        SCOPED_TRACE("bitmap " + std::to_string(id));
        Skin fast, literal;
        ASSERT_TRUE(fast.Load(nullptr, library, id, true));
        ASSERT_TRUE(literal.Load(nullptr, library, id, false));
        EXPECT_TRUE(literal.BuildRegionByPixels(nullptr));
        EXPECT_TRUE(EqualRgn(fast.Region, literal.Region));
        EXPECT_EQ(fast.Width, literal.Width);
        EXPECT_EQ(fast.Height, literal.Height);
        // Every shape is cut somewhere and lies within its bitmap; the main window's touches all four edges.
        RECT box;
        EXPECT_EQ(GetRgnBox(fast.Region, &box), COMPLEXREGION);
        EXPECT_TRUE(box.left >= 0 && box.top >= 0 && box.right <= fast.Width && box.bottom <= fast.Height);
        if (id == IDB_MAIN) {
            EXPECT_EQ(Box(fast.Region), "3:0,0,640,470");
        }
    }
    FreeLibrary(library);
}

TEST(Skin, MissingBitmapLeavesAnEmptySkinThatDrawsNothing)
{
    HMODULE library = LoadLibraryA(LibraryPath().c_str());
    ASSERT_NE(library, nullptr);
    Skin missing;
    EXPECT_FALSE(missing.Load(nullptr, library, 999, true));
    EXPECT_FALSE(missing.Load(nullptr, nullptr, IDB_MAIN, true));
    EXPECT_EQ(missing.Width, 0);
    EXPECT_EQ(missing.Height, 0);
    EXPECT_EQ(Box(missing.Region), "1:0,0,0,0");
    // Drawing it leaves the target as it was.
    HDC screen = GetDC(nullptr);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 4, 4);
    HGDIOBJ previous = SelectObject(target, canvas);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            SetPixel(target, x, y, RGB(10, 20, 30));
    missing.Draw(target, 0, 0);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(GetPixel(target, x, y), RGB(10, 20, 30)) << x << "," << y;
    SelectObject(target, previous);
    DeleteObject(canvas);
    DeleteDC(target);
    ReleaseDC(nullptr, screen);
    FreeLibrary(library);
}

TEST(Skin, ApplyToWindowGivesACopyOfTheRegionAndTheSize)
{
    Skin skin;
    skin.Bitmap = MakeDib({"M...M", ".....", "MM.MM"}, 8, false);
    ASSERT_TRUE(skin.BuildRegion(nullptr));
    HWND first = CreateWindowExA(0, "STATIC", "", WS_POPUP, 40, 30, 7, 7, nullptr, nullptr, nullptr, nullptr);
    HWND second = CreateWindowExA(0, "STATIC", "", WS_POPUP, 50, 60, 7, 7, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(skin.ApplyToWindow(first, true));
    ASSERT_TRUE(skin.ApplyToWindow(second, false));
    RECT rect;
    GetWindowRect(first, &rect);
    EXPECT_EQ(rect.left, 40);
    EXPECT_EQ(rect.top, 30);
    EXPECT_EQ(rect.right - rect.left, 5);
    EXPECT_EQ(rect.bottom - rect.top, 3);
    GetWindowRect(second, &rect);
    EXPECT_EQ(rect.right - rect.left, 7);
    HRGN taken = CreateRectRgn(0, 0, 0, 0);
    for (HWND window : {first, second}) {
        ASSERT_EQ(GetWindowRgn(window, taken), COMPLEXREGION);
        EXPECT_TRUE(EqualRgn(taken, skin.Region));
    }
    DestroyWindow(first);
    DestroyWindow(second);
    // The skin's own region outlives the windows it shaped.
    EXPECT_EQ(Box(skin.Region), "3:0,0,5,3");
    DeleteObject(taken);
    DeleteObject(skin.Bitmap);
}
