// One row of the main window's button table.
#pragma once
#include <windows.h>

struct Skin;

struct SkinButton {
    HWND window;
    Skin* hoverSkin;
    Skin* normalSkin;
    Skin* descriptionSkin;
    int normalBitmap;      // 0 ends the table
    int hoverBitmap;
    int descriptionText;   // base id of a text holding the description bitmap id, or 0
    int controlId;
    int x, y;
};
constexpr int ButtonCount = 10;
