#include "ui/skin.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ui/dpi_scale.h"
#include "ui/gdi_scope.h"
#include "ui/skin_runs.h"

namespace {
// Room for a colour table or bit masks, which some drivers write even for a header query.
struct BitmapHeader {
    BITMAPINFOHEADER info;
    RGBQUAD colours[256];
};

// ExtCreateRegion takes at most this many rectangles in one call.
constexpr std::size_t RegionBatch = 4000;

// The header query on a device context of the window: fills the skin's size, and tells the
// bitmap's bits per pixel. The builders pass the context they go on with, as getting one
// costs a round trip to the window system.
bool ReadHeader(HDC dc, Skin& skin, int& bitsPerPixel)
{
    BitmapHeader header = {};
    header.info.biSize = sizeof(BITMAPINFOHEADER);
    if (!GetDIBits(dc, skin.Bitmap, 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS))
        return false;
    skin.Width = header.info.biWidth;
    skin.Height = header.info.biHeight;
    bitsPerPixel = header.info.biBitCount;
    return true;
}

void AddRectangle(HRGN region, int left, int top, int right, int bottom)
{
    GdiObject<HRGN> part(CreateRectRgn(left, top, right, bottom));
    CombineRgn(region, part.get(), region, RGN_OR);
}

// Copies the bits in a layout we choose: GetObject reports every DIB section as bottom-up,
// so the bits of a top-down section cannot be read in place without guessing.
bool ReadDibRuns(HDC dc, HBITMAP bitmap, int32_t width, int32_t height, int bitsPerPixel,
                 std::vector<PixelRun>& runs)
{
    BitmapHeader format = {};
    format.info.biSize = sizeof(BITMAPINFOHEADER);
    format.info.biWidth = width;
    format.info.biHeight = height;
    format.info.biPlanes = 1;
    format.info.biBitCount = static_cast<WORD>(bitsPerPixel);
    format.info.biCompression = BI_RGB;
    std::vector<uint8_t> bits(DibRowBytes(width, bitsPerPixel) * static_cast<std::size_t>(height));
    if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), bits.data(), reinterpret_cast<BITMAPINFO*>(&format),
                  DIB_RGB_COLORS) != height)
        return false;
    bool keyIndex[256];
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& c = format.colours[i];
        keyIndex[i] = RGB(c.rgbRed, c.rgbGreen, c.rgbBlue) == KeyColour;
    }
    runs = ScanDibRuns({bits.data(), width, height, false, bitsPerPixel, keyIndex});
    return true;
}

std::vector<PixelRun> ReadRunsByPixels(HDC memory, HBITMAP bitmap, int32_t width, int32_t height)
{
    std::vector<PixelRun> runs;
    Selection selected(memory, bitmap);
    for (int32_t y = 0; y < height; ++y)
        ScanRow(width, y, [&](int32_t x) { return GetPixel(memory, x, y) == KeyColour; }, runs);
    return runs;
}

// The runs of the skin's opaque pixels, from its bits where their format allows, else pixel by pixel.
std::vector<PixelRun> ReadRuns(HDC windowDc, HDC memory, const Skin& skin, int bitsPerPixel)
{
    std::vector<PixelRun> runs;
    const bool readable = (bitsPerPixel == 8 || bitsPerPixel == 24) &&
                          ReadDibRuns(windowDc, skin.Bitmap, skin.Width, skin.Height, bitsPerPixel, runs);
    if (!readable)
        runs = ReadRunsByPixels(memory, skin.Bitmap, skin.Width, skin.Height);
    return runs;
}

// A filter blends the key colour into the picture's edge. The pixels it borrows from across the
// outline take a dark neutral instead, as the edges of the art are.
void HideKeyColour(HDC memory)
{
    RGBQUAD colours[256];
    const UINT count = GetDIBColorTable(memory, 0, 256, colours);
    for (UINT i = 0; i < count; ++i)
        if (RGB(colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue) == KeyColour)
            colours[i] = RGBQUAD{0, 0, 0, 0};
    if (count)
        SetDIBColorTable(memory, 0, count, colours);
}

// The bitmap at another size, filtered (HALFTONE), as a 24-bit section.
HBITMAP FilteredCopy(HDC windowDc, HBITMAP bitmap, int32_t width, int32_t height, int32_t toWidth, int32_t toHeight)
{
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = toWidth;
    format.bmiHeader.biHeight = toHeight;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 24;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    GdiObject<HBITMAP> copy(CreateDIBSection(windowDc, &format, DIB_RGB_COLORS, &bits, nullptr, 0));
    MemoryDC from(windowDc), to(windowDc);
    if (!copy.get() || !from.get() || !to.get())
        return nullptr;
    {
        Selection source(from.get(), bitmap), target(to.get(), copy.get());
        HideKeyColour(from.get());
        SetStretchBltMode(to.get(), HALFTONE);
        SetBrushOrgEx(to.get(), 0, 0, nullptr);
        if (!StretchBlt(to.get(), 0, 0, toWidth, toHeight, from.get(), 0, 0, width, height, SRCCOPY))
            return nullptr;
    }
    return copy.release();
}

// Adds the runs in a few ExtCreateRegion calls instead of one union per run. Rows merged into
// bands beforehand spare the system the merging, which it does one rectangle at a time.
void AddRuns(HRGN region, const std::vector<PixelRun>& runs)
{
    const std::vector<PixelBand> bands = MergeRowRuns(runs);
    for (std::size_t first = 0; first < bands.size(); first += RegionBatch) {
        const std::size_t count = std::min(RegionBatch, bands.size() - first);
        std::vector<RECT> rects(count);
        RECT bound = {bands[first].left, bands[first].top, bands[first].right, bands[first + count - 1].bottom};
        for (std::size_t i = 0; i < count; ++i) {
            const PixelBand& band = bands[first + i];
            rects[i] = {band.left, band.top, band.right, band.bottom};
            bound.left = std::min<LONG>(bound.left, band.left);
            bound.right = std::max<LONG>(bound.right, band.right);
        }
        std::vector<uint8_t> data(sizeof(RGNDATAHEADER) + count * sizeof(RECT));
        const RGNDATAHEADER header = {sizeof(RGNDATAHEADER), RDH_RECTANGLES, static_cast<DWORD>(count),
                                      static_cast<DWORD>(count * sizeof(RECT)), bound};
        std::memcpy(data.data(), &header, sizeof header);
        std::memcpy(data.data() + sizeof header, rects.data(), count * sizeof(RECT));
        GdiObject<HRGN> part(ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()),
                                             reinterpret_cast<const RGNDATA*>(data.data())));
        if (part.get()) {
            CombineRgn(region, part.get(), region, RGN_OR);
            continue;
        }
        for (const RECT& r : rects)
            AddRectangle(region, r.left, r.top, r.right, r.bottom);
    }
}
}

Skin::Skin() : Region(CreateRectRgn(0, 0, 0, 0)) {}

bool Skin::Load(HWND window, HMODULE library, int id, bool withRegion)
{
    // A null module would make LoadImageA look among the system's own bitmaps.
    if (!library)
        return false;
    Bitmap = static_cast<HBITMAP>(LoadImageA(library, MAKEINTRESOURCEA(static_cast<WORD>(id)), IMAGE_BITMAP, 0, 0,
                                             LR_CREATEDIBSECTION));
    if (!Bitmap)
        return false;
    if (withRegion) {
        BuildRegion(window);
        return true;
    }
    int bitsPerPixel;
    ReadHeader(WindowDC(window).get(), *this, bitsPerPixel);
    return true;
}

bool Skin::BuildRegion(HWND window)
{
    WindowDC windowDc(window);
    int bitsPerPixel;
    if (!ReadHeader(windowDc.get(), *this, bitsPerPixel))
        return false;
    MemoryDC memory(windowDc.get());
    if (!memory.get() || Width < 1 || Height < 1)
        return true;
    AddRuns(Region, ReadRuns(windowDc.get(), memory.get(), *this, bitsPerPixel));
    return true;
}

bool Skin::LoadForDpi(HWND window, HMODULE library, int id, bool withRegion, int dpi)
{
    for (const ArtSet& set : ArtSetsFor(dpi)) {
        if (set.Dpi == dpi && Load(window, library, id + set.IdOffset, withRegion))
            return true;
        if (set.Dpi != dpi && Load(window, library, id + set.IdOffset, false))
            return Rescale(window, set.Dpi, dpi, withRegion);
    }
    return false;
}

bool Skin::Rescale(HWND window, int fromDpi, int toDpi, bool withRegion)
{
    const int32_t width = ScaleBetween(Width, fromDpi, toDpi), height = ScaleBetween(Height, fromDpi, toDpi);
    WindowDC windowDc(window);
    MemoryDC memory(windowDc.get());
    int bitsPerPixel;
    std::vector<PixelRun> runs;
    if (withRegion && memory.get() && ReadHeader(windowDc.get(), *this, bitsPerPixel))
        runs = ScaleRuns(ReadRuns(windowDc.get(), memory.get(), *this, bitsPerPixel), Width, Height, width, height);
    HBITMAP scaled = FilteredCopy(windowDc.get(), Bitmap, Width, Height, width, height);
    DeleteObject(Bitmap);
    Bitmap = scaled;
    Width = scaled ? width : 0;
    Height = scaled ? height : 0;
    if (scaled)
        AddRuns(Region, runs);
    return scaled != nullptr;
}

void Skin::Release()
{
    if (Bitmap)
        DeleteObject(Bitmap);
    Bitmap = nullptr;
    Width = Height = 0;
    SetRectRgn(Region, 0, 0, 0, 0);
}

// Test-only: kept for tests/wine/skin_test.cpp and bench/region_bench.cpp; the program uses BuildRegion.
bool Skin::BuildRegionByPixels(HWND window)
{
    WindowDC windowDc(window);
    int bitsPerPixel;
    if (!ReadHeader(windowDc.get(), *this, bitsPerPixel))
        return false;
    MemoryDC memory(windowDc.get());
    if (!memory.get())
        return true;
    Selection selected(memory.get(), Bitmap);
    for (int32_t y = 0; y < Height; ++y) {
        bool inRun = false;
        int32_t start = 0;
        for (int32_t x = 0; x < Width; ++x) {
            const bool key = GetPixel(memory.get(), x, y) == KeyColour;
            if (!inRun && !key) {
                start = x;
                inRun = true;
            } else if (inRun && key) {
                AddRectangle(Region, start, y, x, y + 1);
                inRun = false;
            }
        }
        if (inRun)
            AddRectangle(Region, start, y, Width, y + 1);
    }
    return true;
}

bool Skin::ApplyToWindow(HWND window, bool resize)
{
    GdiObject<HRGN> copy(CreateRectRgn(0, 0, 0, 0));
    if (!copy.get() || CombineRgn(copy.get(), Region, nullptr, RGN_COPY) == ERROR)
        return false;
    if (!SetWindowRgn(window, copy.get(), FALSE))
        return false;
    copy.release();   // the system owns it now
    if (resize)
        SetWindowPos(window, nullptr, 100, 100, Width, Height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW);
    return true;
}

bool Skin::Draw(HDC dc, int x, int y) const
{
    return DrawPart(dc, x, y, Width, Height, 0, 0);
}

bool Skin::DrawPart(HDC dc, int x, int y, int cx, int cy, int srcX, int srcY) const
{
    if (!Bitmap)
        return true;
    MemoryDC memory(dc);
    if (!memory.get())
        return true;
    Selection selected(memory.get(), Bitmap);
    BitBlt(dc, x, y, cx, cy, memory.get(), srcX, srcY, SRCCOPY);
    return true;
}
