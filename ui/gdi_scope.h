// Thin holders that give device contexts, selections and GDI objects back on every path.
#pragma once
#include <windows.h>

class WindowDC {
public:
    explicit WindowDC(HWND window) : Window(window), Dc(GetDC(window)) {}
    ~WindowDC() { if (Dc) ReleaseDC(Window, Dc); }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return Dc; }

private:
    HWND Window;
    HDC Dc;
};

class MemoryDC {
public:
    explicit MemoryDC(HDC compatibleWith) : Dc(CreateCompatibleDC(compatibleWith)) {}
    ~MemoryDC() { if (Dc) DeleteDC(Dc); }
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    HDC get() const { return Dc; }

private:
    HDC Dc;
};

// Selects an object into a device context and selects the previous one back at the end.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : Dc(dc), Previous(SelectObject(dc, object)) {}
    ~Selection() { if (Previous) SelectObject(Dc, Previous); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC Dc;
    HGDIOBJ Previous;
};

class PaintScope {
public:
    explicit PaintScope(HWND window) : Window(window), Dc(BeginPaint(window, &Paint)) {}
    ~PaintScope() { EndPaint(Window, &Paint); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC get() const { return Dc; }
    const RECT& Area() const { return Paint.rcPaint; }

private:
    HWND Window;
    PAINTSTRUCT Paint = {};
    HDC Dc;
};

// Owns a GDI object (a region, a font, a bitmap) and deletes it unless released.
template <class Handle>
class GdiObject {
public:
    explicit GdiObject(Handle object = nullptr) : Object(object) {}
    ~GdiObject() { if (Object) DeleteObject(Object); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    Handle get() const { return Object; }
    Handle release() { Handle object = Object; Object = nullptr; return object; }

private:
    Handle Object;
};
