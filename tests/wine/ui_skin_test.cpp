// The skins and skinned windows of ui/ in-process: regions cut from bitmaps, pictures for other
// display scales, the main window's buttons and description, hover, the browser's buttons, the
// window helpers, and the layout after a change of DPI.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "app/base/app_state.h"
#include "app/main_window.h"
#include "res/resource.h"
#include "tests/wine/app_scope.h"
#include "tests/wine/starter_window.h"
#include "tests/wine/test_window.h"
#include "ui/dpi.h"
#include "ui/skin.h"
#include "ui/skin_windows.h"

// ---- Skins and their regions (ui/skin.cpp)

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
    for (int set : {0, IDB_SET_150_OFFSET, IDB_SET_200_OFFSET})
    for (int id : ShapingBitmaps) {
        SCOPED_TRACE("bitmap " + std::to_string(id) + " of the set at " + std::to_string(set));
        id += set;
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
        if (id == IDB_MAIN + set) {
            EXPECT_EQ(Box(fast.Region), set == 0 ? "3:0,0,640,470" : set == IDB_SET_150_OFFSET ? "3:0,0,960,705"
                                                                                              : "3:0,0,1280,940");
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

// A library with the 100 % pictures only (here this program's own resources, which hold bitmap
// IDB_OK and no larger set): the picture filtered to the size, its outline the key colour's
// pixel for pixel, and no key colour blended into the edge.
TEST(Skin, WithoutTheLargerSetsThe100PercentPictureIsScaled)
{
    HMODULE library = GetModuleHandleA(nullptr);
    Skin small, skin;
    ASSERT_TRUE(small.Load(nullptr, library, IDB_OK, true));
    ASSERT_TRUE(skin.LoadForDpi(nullptr, library, IDB_OK, true, 120));
    ASSERT_EQ(skin.Width, 55);
    ASSERT_EQ(skin.Height, 55);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, skin.Bitmap);
    int inside = 0, mismatched = 0, pink = 0;
    for (int y = 0; y < 55; ++y)
        for (int x = 0; x < 55; ++x) {
            const bool in = PtInRegion(skin.Region, x, y) != FALSE;
            inside += in;
            mismatched += in != (PtInRegion(small.Region, (2 * x + 1) * 44 / 110, (2 * y + 1) * 44 / 110) != FALSE);
            const COLORREF colour = GetPixel(memory, x, y);
            pink += in && std::min(GetRValue(colour), GetBValue(colour)) - GetGValue(colour) > 40;
        }
    SelectObject(memory, previous);
    DeleteDC(memory);
    EXPECT_GT(inside, 55 * 55 / 2);
    EXPECT_EQ(mismatched, 0);
    EXPECT_EQ(pink, 0);
    skin.Release();
    EXPECT_EQ(Box(skin.Region), "1:0,0,0,0");
    EXPECT_FALSE(skin.LoadForDpi(nullptr, library, IDB_MAIN, true, 192));
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

// ---- The skinned windows (ui/skin_windows.cpp)

namespace {
constexpr char TestMainClass[] = "UiTestMain";

// MainWindowProc posts a quit message when its window goes; keep it from later tests.
void DestroyMainWindow(HWND window)
{
    DestroyWindow(window);
    MSG message;
    while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

bool NeedsPaint(HWND window)
{
    return GetUpdateRect(window, nullptr, FALSE) != FALSE;
}

// A main window of the test class with the description window and the ten buttons as
// CreateMainWindow makes them, but without pictures. It is made once, because Wine waits
// up to two seconds for a shown top-level window to go. The App fields are restored.
class SkinWindows : public ::testing::Test {
protected:
    struct Windows {
        HWND main, description, buttons[ButtonCount];
        WNDPROC buttonProc, staticProc;
    };

    static void SetUpTestSuite()
    {
        RegisterTestClass(TestMainClass, MainWindowProc);
        made.main = CreateWindowExA(0, TestMainClass, "", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 10, 10, 640, 470,
                                    nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        made.description = CreateChild("STATIC", 15, 16, IDC_DESCRIPTION);
        made.staticProc = Subclass(made.description, DescriptionProc);
        for (int row = 0; row < ButtonCount; ++row) {
            const SkinButton& entry = App.ButtonTable[row];
            made.buttons[row] = CreateChild("BUTTON", entry.x, entry.y, entry.controlId);
            made.buttonProc = Subclass(made.buttons[row], SkinButtonProc);
        }
    }

    static void TearDownTestSuite()
    {
        const Windows saved = Install(made);
        DestroyMainWindow(made.main);
        Install(saved);
    }

    void SetUp() override
    {
        ASSERT_NE(made.main, nullptr);
        main = made.main;
        Install(made);
        for (int row = 0; row < ButtonCount; ++row) {
            RemovePropA(Button(row), HoverProperty);
            EnableWindow(Button(row), TRUE);
            ShowWindow(Button(row), SW_SHOWNA);
        }
        ShowWindow(App.DescriptionWindow, SW_SHOWNA);
        App.HoveredButton = nullptr;
        ValidateAll();
    }

    // Puts the windows into App and returns what was there.
    static Windows Install(const Windows& windows)
    {
        Windows previous = {nullptr, App.DescriptionWindow, {}, App.SavedButtonProc, App.SavedStaticProc};
        App.DescriptionWindow = windows.description;
        App.SavedButtonProc = windows.buttonProc;
        App.SavedStaticProc = windows.staticProc;
        for (int row = 0; row < ButtonCount; ++row) {
            previous.buttons[row] = App.ButtonTable[row].window;
            App.ButtonTable[row].window = windows.buttons[row];
        }
        return previous;
    }

    static WNDPROC Subclass(HWND window, WNDPROC procedure)
    {
        return reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)));
    }

    static HWND CreateChild(const char* className, int x, int y, int id)
    {
        return CreateWindowExA(0, className, "", 0x4400000B | WS_VISIBLE, x, y, 88, 20, made.main,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
    }

    HWND Button(int row) const { return App.ButtonTable[row].window; }

    void ValidateAll()
    {
        ValidateRect(App.DescriptionWindow, nullptr);
        for (int row = 0; row < ButtonCount; ++row)
            ValidateRect(Button(row), nullptr);
    }

    static INT_PTR Hover(HWND button) { return reinterpret_cast<INT_PTR>(GetPropA(button, HoverProperty)); }

    static Windows made;
    AppScope saved;   // the windows and the hover put into App go with it
    HWND main = nullptr;
};
SkinWindows::Windows SkinWindows::made = {};
}

TEST_F(SkinWindows, FindSkinButtonKnowsTheTableButtonsOnly)
{
    for (int row = 0; row < ButtonCount; ++row)
        EXPECT_EQ(FindSkinButton(Button(row)), row);
    EXPECT_EQ(FindSkinButton(main), -1);
    EXPECT_EQ(FindSkinButton(App.DescriptionWindow), -1);
}

TEST_F(SkinWindows, HoverMovesFromButtonToButtonAndEndsOverTheSurface)
{
    SendMessageA(Button(PlayRow), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(App.HoveredButton, Button(PlayRow));
    EXPECT_EQ(Hover(Button(PlayRow)), 1);
    EXPECT_TRUE(NeedsPaint(Button(PlayRow)));
    EXPECT_TRUE(NeedsPaint(App.DescriptionWindow));

    // Moving within the hovered button repaints nothing.
    ValidateAll();
    SendMessageA(Button(PlayRow), WM_MOUSEMOVE, 0, MAKELPARAM(6, 5));
    EXPECT_FALSE(NeedsPaint(Button(PlayRow)));
    EXPECT_FALSE(NeedsPaint(App.DescriptionWindow));

    // Straight onto a neighbour: both buttons and the description repaint.
    SendMessageA(Button(HiscoreRow), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(App.HoveredButton, Button(HiscoreRow));
    EXPECT_EQ(Hover(Button(PlayRow)), 0);
    EXPECT_EQ(Hover(Button(HiscoreRow)), 1);
    EXPECT_TRUE(NeedsPaint(Button(PlayRow)));
    EXPECT_TRUE(NeedsPaint(Button(HiscoreRow)));
    EXPECT_TRUE(NeedsPaint(App.DescriptionWindow));
    EXPECT_FALSE(NeedsPaint(Button(ExitRow)));

    // Over the main window's own surface the hover ends.
    ValidateAll();
    SendMessageA(main, WM_MOUSEMOVE, 0, MAKELPARAM(300, 200));
    EXPECT_EQ(App.HoveredButton, nullptr);
    EXPECT_EQ(GetPropA(Button(HiscoreRow), HoverProperty), nullptr);
    EXPECT_TRUE(NeedsPaint(Button(HiscoreRow)));
    EXPECT_TRUE(NeedsPaint(App.DescriptionWindow));

    // With nothing hovered, a move over the surface repaints nothing.
    ValidateAll();
    SendMessageA(main, WM_MOUSEMOVE, 0, MAKELPARAM(301, 200));
    EXPECT_FALSE(NeedsPaint(App.DescriptionWindow));
}

TEST_F(SkinWindows, DestroyedButtonLosesItsHoverProperty)
{
    SendMessageA(Button(ExitRow), WM_MOUSEMOVE, 0, 0);
    ASSERT_EQ(Hover(Button(ExitRow)), 1);
    HWND exit = Button(ExitRow);
    SendMessageA(exit, WM_DESTROY, 0, 0);
    EXPECT_EQ(GetPropA(exit, HoverProperty), nullptr);
}

TEST_F(SkinWindows, UpdatePageButtonsFollowsThePagePosition)
{
    struct Case { int end, total; bool back, forward; };
    const Case cases[] = {
        {17, 40, false, true}, {18, 40, true, true}, {34, 34, true, false}, {17, 17, false, false}, {0, 0, false, false},
    };
    for (const Case& c : cases) {
        EnableWindow(Button(PageBackRow), !c.back);
        EnableWindow(Button(PageForwardRow), !c.forward);
        App.CatalogueEnd = c.end;
        App.CatalogueTotal = c.total;
        UpdatePageButtons();
        EXPECT_EQ(IsWindowEnabled(Button(PageBackRow)) != FALSE, c.back) << c.end << "/" << c.total;
        EXPECT_EQ(IsWindowEnabled(Button(PageForwardRow)) != FALSE, c.forward) << c.end << "/" << c.total;
    }
}

TEST_F(SkinWindows, CloseBrowserDestroysItsWindowsAndHidesItsButtons)
{
    HWND browser[4];
    for (HWND& window : browser)
        window = CreateChild("STATIC", 40, 40, 0);
    std::fill(App.BrowserWindows, App.BrowserWindows + BrowserWindowSlots, nullptr);
    App.BrowserWindows[0] = browser[0];
    App.BrowserWindows[1] = browser[1];
    App.BrowserWindows[2] = browser[2];
    App.BrowserWindows[4] = browser[3];   // past the first empty slot: not part of the browser
    App.BrowserFont = CreateFontA(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial");
    App.BrowserMode = 2;
    EnableSkinButtons(false);
    ShowWindow(App.DescriptionWindow, SW_HIDE);

    CloseBrowser();

    for (int slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(App.BrowserWindows[slot], nullptr);
        EXPECT_FALSE(IsWindow(browser[slot]));
    }
    EXPECT_EQ(App.BrowserWindows[4], browser[3]);
    EXPECT_TRUE(IsWindow(browser[3]));
    EXPECT_EQ(App.BrowserFont, nullptr);
    EXPECT_EQ(App.BrowserMode, 0);
    EXPECT_TRUE(IsWindowVisible(App.DescriptionWindow));
    for (int row = 0; row < ButtonCount; ++row) {
        const bool browserButton = row >= OkRow;
        EXPECT_EQ(IsWindowEnabled(Button(row)) != FALSE, !browserButton) << row;
        EXPECT_EQ(IsWindowVisible(Button(row)) != FALSE, !browserButton) << row;
    }

    DestroyWindow(browser[3]);
}

TEST(SkinWindowHelpers, FindSelectedItemReturnsTheHighestSelectedRow)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    struct Case { int items; std::initializer_list<int> selected; int expected; };
    const Case cases[] = {{0, {}, -1}, {7, {}, -1}, {7, {2, 5}, 5}, {7, {0}, 0}, {7, {6, 1}, 6}};
    for (const Case& c : cases) {
        HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT, 0, 0, 200, 200, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(list, nullptr);
        LVCOLUMNA column = {};
        column.mask = LVCF_WIDTH;
        column.cx = 100;
        SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
        for (int i = 0; i < c.items; ++i) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = const_cast<char*>("design");
            SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        }
        for (int i : c.selected) {
            LVITEMA state = {};
            state.stateMask = LVIS_SELECTED;
            state.state = LVIS_SELECTED;
            SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&state));
        }
        EXPECT_EQ(FindSelectedItem(list), c.expected) << c.items << " items";
        DestroyWindow(list);
    }
}

TEST(SkinWindowHelpers, CenterWindowOnHalvesEachWidthSeparately)
{
    struct Case { RECT reference; SIZE target; int dx, dy; POINT expected; };
    const Case cases[] = {
        {{0, 0, 1024, 768}, {640, 470}, 0, 20, {192, 169}},
        {{10, 20, 110, 71}, {31, 10}, 3, -4, {48, 36}},     // (100-31)/2 would give 47
        {{-50, -30, 51, 31}, {20, 21}, 0, 0, {-10, -10}},
        {{0, 0, 7, 7}, {3, 3}, 1, 1, {3, 3}},
    };
    for (const Case& c : cases) {
        const RECT& r = c.reference;
        HWND reference = CreateWindowExA(0, "STATIC", "", WS_POPUP, r.left, r.top, r.right - r.left,
                                         r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
        HWND target = CreateWindowExA(0, "STATIC", "", WS_POPUP, 300, 300, c.target.cx, c.target.cy, nullptr,
                                      nullptr, nullptr, nullptr);
        CenterWindowOn(reference, target, c.dx, c.dy);
        RECT placed;
        GetWindowRect(target, &placed);
        EXPECT_EQ(placed.left, c.expected.x) << r.left << "," << r.top;
        EXPECT_EQ(placed.top, c.expected.y) << r.left << "," << r.top;
        EXPECT_EQ(placed.right - placed.left, c.target.cx);
        DestroyWindow(reference);
        DestroyWindow(target);
    }
}

// ---- A change of DPI (the window moved to another monitor)

// Wine never sends WM_DPICHANGED: the test does, from 96 to 192 dpi, as Windows would.
TEST(DpiChange, TheWindowTakesThePicturesOutlineAndLayoutOfTheNewScale)
{
    StarterWindow starter;
    ASSERT_TRUE(starter.Made);
    ASSERT_EQ(App.Dpi, 96);
    RECT suggested = {120, 40, 1400, 980};
    SendMessageA(App.MainWindow, DpiChangedMessage, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    RECT box;
    GetWindowRect(App.MainWindow, &box);
    EXPECT_EQ(box.left, 120);
    EXPECT_EQ(box.top, 40);
    Skin art;
    ASSERT_TRUE(art.Load(nullptr, App.ResourceLibrary, IDB_MAIN + IDB_SET_200_OFFSET, true));
    EXPECT_EQ(box.right - box.left, art.Width);
    HRGN taken = CreateRectRgn(0, 0, 0, 0);
    GetWindowRgn(App.MainWindow, taken);
    EXPECT_TRUE(EqualRgn(taken, art.Region));
    DeleteObject(taken);
    // Every child at twice its place, with the size of its 200 % picture.
    for (int row = 0; row <= ButtonCount; ++row) {
        const bool description = row == ButtonCount;
        const HWND child = description ? App.DescriptionWindow : App.ButtonTable[row].window;
        const int x = description ? 15 : App.ButtonTable[row].x, y = description ? 16 : App.ButtonTable[row].y;
        Skin normal;
        ASSERT_TRUE(normal.Load(nullptr, App.ResourceLibrary,
                                (description ? 156 : App.ButtonTable[row].normalBitmap) + IDB_SET_200_OFFSET, false));
        RECT place;
        GetWindowRect(child, &place);
        EXPECT_EQ(place.left - box.left, 2 * x) << "row " << row;
        EXPECT_EQ(place.top - box.top, 2 * y) << "row " << row;
        EXPECT_EQ(place.right - place.left, normal.Width) << "row " << row;
        DeleteObject(normal.Bitmap);
    }
    EXPECT_EQ(App.ButtonTable[PlayRow].descriptionSkin->Width, 544);
    EXPECT_TRUE(NeedsPaint(App.ButtonTable[PlayRow].window));
    DeleteObject(art.Bitmap);
}
