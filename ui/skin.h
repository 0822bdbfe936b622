// ui/: skins, skinned windows and buttons, the status dialog, the message pump; may include app/base/ and res/.
// One bitmap of starter.dll with its size and the region of its non-key pixels.
#pragma once
#include <windows.h>
#include <cstdint>

// Pixels of exactly this colour lie outside a skinned window.
constexpr COLORREF KeyColour = RGB(255, 0, 255);

struct Skin {
    HBITMAP Bitmap = nullptr;
    int32_t Width = 0;
    int32_t Height = 0;
    HRGN Region;           // bitmap coordinates; the skin keeps it, windows get copies

    Skin();
    Skin(const Skin&) = delete;
    Skin& operator=(const Skin&) = delete;

    bool Load(HWND window, HMODULE library, int id, bool withRegion);
    // Loads the picture id for a display of dpi: from the set drawn for it, or else scaled from
    // the best set the library has (ArtSetsFor). False when no set holds the id.
    bool LoadForDpi(HWND window, HMODULE library, int id, bool withRegion, int dpi);
    // Frees the bitmap and empties the region, so the skin can be loaded again for another DPI.
    void Release();
    // The loaded bitmap, drawn for fromDpi, filtered to its size at toDpi; the region from its
    // key colour scaled nearest-neighbour, so no blended edge pixel counts as outside.
    bool Rescale(HWND window, int fromDpi, int toDpi, bool withRegion);
    bool BuildRegion(HWND window);
    bool ApplyToWindow(HWND window, bool resize);
    bool Draw(HDC dc, int x, int y) const;
    bool DrawPart(HDC dc, int x, int y, int cx, int cy, int srcX, int srcY) const;

    // The same region as BuildRegion, one GetPixel per pixel and one union per run.
    // Test-only: the yardstick of tests/wine/skin_test.cpp and bench/region_bench.cpp.
    bool BuildRegionByPixels(HWND window);
};
