// Where the Starter places things on its main window, in client pixels, and the rows of a
// catalogue page. tools/artgen.py reads this file to draw the pictures around them, so keep
// each fact as one "constexpr Type Name = numbers;" line. No <windows.h> here.
#pragma once

struct LayoutPoint {
    int X, Y;
};
struct LayoutRect {
    int Left, Top, Right, Bottom;   // right and bottom exclusive
};

// The pixels above are pixels at this DPI (100 %); the Starter scales them to the display's.
constexpr int LayoutDpi = 96;

constexpr LayoutPoint DescriptionPos = {15, 16};
constexpr LayoutRect WebsiteLinkRect = {100, 325, 320, 440};
constexpr LayoutRect BrowserListRect = {32, 32, 413, 306};

constexpr LayoutPoint PlayButtonPos = {485, 34};
constexpr LayoutPoint HiscoreButtonPos = {486, 135};
constexpr LayoutPoint DownloadButtonPos = {473, 237};
constexpr LayoutPoint UploadButtonPos = {412, 317};
constexpr LayoutPoint OptionsButtonPos = {326, 359};
constexpr LayoutPoint ExitButtonPos = {20, 358};
constexpr LayoutPoint OkButtonPos = {425, 30};
constexpr LayoutPoint CancelButtonPos = {425, 80};
constexpr LayoutPoint PageBackButtonPos = {425, 150};
constexpr LayoutPoint PageForwardButtonPos = {425, 200};

// Designs a catalogue page holds: the rows the browser list shows.
constexpr int CataloguePageSize = 17;
