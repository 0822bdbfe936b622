// The shaped main window as the player sees it: outline, place, buttons, the pictures on the
// screen under the real mouse, the link cursor and Exit. With STARTER_SCREENSHOTS set to a
// Unix folder, the language runs also save the window as PNGs there.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/fixtures.h"

using namespace e2e;
using namespace uidriver;

namespace {
constexpr uint32_t KeyPixel = 0xFF00FF;
constexpr DWORD PictureTimeoutMs = 5000;
constexpr POINT SurfacePoint = {360, 290};   // on the main bitmap, off every child and the link
constexpr POINT LinkPoint = {150, 380};

// Pixels as 0xRRGGBB, top row first.
struct Picture {
    int Width = 0, Height = 0;
    std::vector<uint32_t> Pixels;
    uint32_t At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x] & 0xFFFFFF; }
};

Picture ReadPixels(HDC dc, HBITMAP bitmap, int width, int height)
{
    Picture picture;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    picture.Pixels.resize(static_cast<size_t>(width) * height);
    if (GetDIBits(dc, bitmap, 0, height, picture.Pixels.data(), &info, DIB_RGB_COLORS) == height) {
        picture.Width = width;
        picture.Height = height;
    }
    return picture;
}

Picture LibraryPicture(int id)
{
    static HMODULE library = LoadLibraryExA(EnvPath("STARTER_DLL").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(library, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0,
                                                     LR_CREATEDIBSECTION));
    BITMAP facts = {};
    GetObjectA(bitmap, sizeof facts, &facts);
    HDC screen = GetDC(nullptr);
    Picture picture = ReadPixels(screen, bitmap, facts.bmWidth, facts.bmHeight);
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
    return picture;
}

Picture ScreenPicture(const RECT& area)
{
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP copy = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, copy);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, previous);
    Picture picture = ReadPixels(memory, copy, width, height);
    DeleteObject(copy);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

struct FoundChildBoxes { HWND parent; std::vector<RECT> boxes; };

// A named callback: on i686 a lambda does not convert to the stdcall WNDENUMPROC.
BOOL CALLBACK CollectChildBox(HWND child, LPARAM data)
{
    auto* found = reinterpret_cast<FoundChildBoxes*>(data);
    RECT box = WindowBox(child);
    const RECT parent = WindowBox(found->parent);
    OffsetRect(&box, -parent.left, -parent.top);
    found->boxes.push_back(box);
    return TRUE;
}

// The window's children in its own coordinates: their pixels are theirs, not the window's.
std::vector<RECT> ChildBoxes(HWND window)
{
    FoundChildBoxes found = {window, {}};
    EnumChildWindows(window, CollectChildBox, reinterpret_cast<LPARAM>(&found));
    return found.boxes;
}

// Counts the pixels inside the outline of `shape` and outside the window's children where
// the window on screen differs from `expected`; -1 when the sizes do not fit.
int Mismatches(HWND window, const Picture& expected, const Picture& shape)
{
    const Picture screen = ScreenPicture(WindowBox(window));
    if (screen.Width != shape.Width || screen.Height != shape.Height || expected.Width < shape.Width ||
        expected.Height < shape.Height)
        return -1;
    const std::vector<RECT> children = ChildBoxes(window);
    int differing = 0;
    for (int y = 0; y < shape.Height; ++y) {
        for (int x = 0; x < shape.Width; ++x) {
            bool covered = false;
            for (const RECT& child : children)
                covered = covered || PtInRect(&child, {x, y});
            differing += !covered && shape.At(x, y) != KeyPixel && screen.At(x, y) != expected.At(x, y);
        }
    }
    return differing;
}

bool Shows(HWND window, int pictureId, int shapeId)
{
    const Picture expected = LibraryPicture(pictureId), shape = LibraryPicture(shapeId);
    int differing = -1;
    if (WaitFor([&] { return (differing = Mismatches(window, expected, shape)) == 0; }, PictureTimeoutMs))
        return true;
    std::printf("window %s: %d pixels differ from bitmap %d\n", HandleText(window).c_str(), differing, pictureId);
    return false;
}


struct ButtonFacts { int id, normal, hover, x, y; };
const ButtonFacts Buttons[] = {
    {IDC_PLAY, 170, 171, 485, 34}, {IDC_HISCORE, 170, 171, 486, 135}, {IDC_DOWNLOAD, 170, 171, 473, 237},
    {IDC_UPLOAD, 172, 173, 412, 317}, {IDC_OPTIONS, 174, 175, 326, 359}, {IDC_EXIT, 174, 175, 20, 358},
    {IDOK, 176, 177, 425, 30}, {IDCANCEL, 178, 179, 425, 80}, {IDC_PAGE_BACK, 180, 181, 425, 150},
    {IDC_PAGE_FORWARD, 182, 183, 425, 200},
};
const ButtonFacts& PlayButton = Buttons[0];
const ButtonFacts& HiscoreButton = Buttons[1];
const ButtonFacts& ExitButton = Buttons[5];

struct Language {
    const char* name;
    std::function<bool(GameInstall&)> choose;
    int idle, play, hiscore;   // description pictures
};

class Face : public StarterTest {
protected:
    HWND Start()
    {
        HWND main = StartStarter();
        if (main)
            WaitUntilSettled(main);
        return main;
    }

    // The centre of a button in the main window's client coordinates.
    static POINT Centre(const ButtonFacts& button)
    {
        const Picture normal = LibraryPicture(button.normal);
        return {button.x + normal.Width / 2, button.y + normal.Height / 2};
    }

    void SaveScreenshot(HWND main, const std::string& name)
    {
        const char* folder = std::getenv("STARTER_SCREENSHOTS");
        if (!folder)
            return;
        WaitUntilSettled(main);
        const RECT box = WindowBox(main);
        const std::string crop = std::to_string(box.right - box.left) + "x" + std::to_string(box.bottom - box.top) +
                                 "+" + std::to_string(box.left) + "+" + std::to_string(box.top);
        const UnixResult shot = RunUnix("import -window root -crop " + crop + " +repage " +
                                        ShellQuote(std::string(folder) + "/" + name + ".png"));
        EXPECT_EQ(shot.ExitCode, 0) << shot.Output;
    }
};
}

TEST_F(Face, MainWindowIsShapedCentredAndCarriesTenButtons)
{
    HWND main = Start();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(ClassOf(main), "SKV_Starter");
    EXPECT_EQ(TextOf(main), "SKV_Starter v1.02");

    const Picture background = LibraryPicture(IDB_MAIN);
    RECT region;
    ASSERT_TRUE(RegionBox(main, region));
    EXPECT_EQ(region.left, 0);
    EXPECT_EQ(region.top, 0);
    EXPECT_EQ(region.right, background.Width);
    EXPECT_EQ(region.bottom, background.Height);
    EXPECT_FALSE(RegionContains(main, {background.Width - 1, background.Height - 1}));   // a cut corner

    const RECT box = WindowBox(main);
    EXPECT_EQ(box.right - box.left, background.Width);
    EXPECT_EQ(box.bottom - box.top, background.Height);
    EXPECT_EQ(box.left, GetSystemMetrics(SM_CXSCREEN) / 2 - background.Width / 2);
    EXPECT_EQ(box.top, GetSystemMetrics(SM_CYSCREEN) / 2 - background.Height / 2 + 20);
    EXPECT_TRUE(Shows(main, IDB_MAIN, IDB_MAIN));

    for (const ButtonFacts& facts : Buttons) {
        SCOPED_TRACE("button " + std::to_string(facts.id));
        HWND button = ChildById(main, facts.id);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(ClassOf(button), "Button");
        EXPECT_TRUE(IsShown(button));
        const RECT place = WindowBox(button);
        const Picture normal = LibraryPicture(facts.normal);
        EXPECT_EQ(place.left - box.left, facts.x);
        EXPECT_EQ(place.top - box.top, facts.y);
        EXPECT_EQ(place.right - place.left, normal.Width);
        EXPECT_EQ(place.bottom - place.top, normal.Height);
        EXPECT_TRUE(Shows(button, facts.normal, facts.normal));
    }

    HWND description = ChildById(main, IDC_DESCRIPTION);
    ASSERT_NE(description, nullptr);
    const RECT place = WindowBox(description);
    EXPECT_EQ(place.left - box.left, 15);
    EXPECT_EQ(place.top - box.top, 16);
    EXPECT_EQ(place.right - place.left, LibraryPicture(156).Width);
    EXPECT_EQ(place.bottom - place.top, LibraryPicture(156).Height);
}

TEST_F(Face, RealMouseHoversButtonsInEveryLanguageAndTheSurfaceEndsIt)
{
    const Language languages[] = {
        {"en", [](GameInstall&) { return true; }, 156, 155, 151},
        {"de", [](GameInstall& install) { return install.WriteLanguageFile(std::string(1, '\0')); }, 146, 145, 141},
        {"fr", [](GameInstall& install) { return install.WriteAutorun("2"); }, 166, 165, 161},
    };
    // The checks below only mean something if the pictures they tell apart differ.
    ASSERT_NE(LibraryPicture(PlayButton.hover).Pixels, LibraryPicture(PlayButton.normal).Pixels);
    for (const Language& language : languages) {
        SCOPED_TRACE(language.name);
        ASSERT_NE(LibraryPicture(language.play).Pixels, LibraryPicture(language.idle).Pixels);
        ASSERT_NE(LibraryPicture(language.hiscore).Pixels, LibraryPicture(language.play).Pixels);
        Install = std::make_unique<GameInstall>();
        ASSERT_TRUE(language.choose(*Install));
        HWND main = Start();
        ASSERT_NE(main, nullptr);
        HWND description = ChildById(main, IDC_DESCRIPTION);
        HWND play = ChildById(main, IDC_PLAY);
        HWND hiscore = ChildById(main, IDC_HISCORE);
        ASSERT_TRUE(MoveMouseToClient(main, SurfacePoint));
        EXPECT_TRUE(Shows(description, language.idle, language.idle));
        SaveScreenshot(main, "main_" + std::string(language.name));

        ASSERT_TRUE(MoveMouseToClient(main, Centre(PlayButton)));
        EXPECT_TRUE(Shows(play, PlayButton.hover, PlayButton.normal));
        EXPECT_TRUE(Shows(description, language.play, language.idle));
        SaveScreenshot(main, "main_" + std::string(language.name) + "_play");

        // Straight onto the next button: the first one goes back to its normal image.
        ASSERT_TRUE(MoveMouseToClient(main, Centre(HiscoreButton)));
        EXPECT_TRUE(Shows(hiscore, HiscoreButton.hover, HiscoreButton.normal));
        EXPECT_TRUE(Shows(play, PlayButton.normal, PlayButton.normal));
        EXPECT_TRUE(Shows(description, language.hiscore, language.idle));

        ASSERT_TRUE(MoveMouseToClient(main, SurfacePoint));
        EXPECT_TRUE(Shows(hiscore, HiscoreButton.normal, HiscoreButton.normal));
        EXPECT_TRUE(Shows(description, language.idle, language.idle));
        // The next Starter opens in the same place: the mouse must not meet this one's window.
        Starter.Kill();
        EXPECT_TRUE(WaitForWindowGone(main));
    }
}

TEST_F(Face, LinkCursorOverTheLinkAndArrowElsewhere)
{
    const std::string help = ReferenceCursor(IDC_HELP), arrow = ReferenceCursor(IDC_ARROW);
    ASSERT_NE(help, arrow);
    HWND main = Start();
    ASSERT_NE(main, nullptr);
    // Left and top of the link rectangle belong to it, right and bottom do not.
    struct Case { POINT point; bool link; };
    const Case cases[] = {
        {LinkPoint, true}, {SurfacePoint, false}, {{100, 325}, true}, {{99, 325}, false},
        {{319, 439}, true}, {{320, 439}, false}, {{319, 440}, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(MoveMouseToClient(main, c.point));
        std::string seen;
        EXPECT_TRUE(WaitFor([&] { return (seen = XCursor()) == (c.link ? help : arrow); }, PictureTimeoutMs))
            << c.point.x << "," << c.point.y << ": " << seen;
    }
}

TEST_F(Face, ExitButtonEndsTheProgramWithZero)
{
    HWND main = Start();
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(MouseClickClient(main, Centre(ExitButton)));
    DWORD code = 99;
    ASSERT_TRUE(Starter.WaitForExit(20000, &code));
    EXPECT_EQ(code, 0u);
}
