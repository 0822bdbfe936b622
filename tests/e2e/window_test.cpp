// The main window as the player sees it and what it does while an action runs: outline, place,
// buttons, the pictures on the screen under the real mouse, the link cursor, Exit and the About
// keys; then clicks, keys and close requests during a transfer or with the browser open, and
// windows that keep answering while a silent server is awaited. With STARTER_SCREENSHOTS set to
// a Unix folder, the language runs also save the window as PNGs there.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"
#include "tests/e2e/fixtures.h"

using namespace e2e;
using namespace uidriver;

// ---- The window

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

class Window : public StarterTest {
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

TEST_F(Window, MainWindowIsShapedCentredAndCarriesTenButtons)
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

// ---- At 150 % and 200 %

namespace {
struct Scale {
    DWORD dpi;
    int offset;          // of the set of pictures drawn for it
    const char* name;
};

class ScaledWindow : public Window, public testing::WithParamInterface<Scale> {
protected:
    // The display's scale, read by Wine as the Starter starts; the next test finds it unset.
    void SetUp() override
    {
        Window::SetUp();
        ASSERT_TRUE(WriteUserDword(DesktopKey, "LogPixels", GetParam().dpi));
    }
    void TearDown() override
    {
        DeleteUserValue(DesktopKey, "LogPixels");
        Window::TearDown();
    }
    // A layout value at the scale, rounded half up as the Starter rounds.
    LONG Place(LONG value) const { return (value * static_cast<LONG>(GetParam().dpi) + 48) / 96; }
    int Art(int id) const { return id + GetParam().offset; }
    POINT CentreOf(int id, int x, int y) const
    {
        const Picture picture = LibraryPicture(Art(id));
        return {Place(x) + picture.Width / 2, Place(y) + picture.Height / 2};
    }
    static constexpr char DesktopKey[] = "Control Panel\\Desktop";
};
}

TEST_P(ScaledWindow, IsTheWindowAt100PercentGrownWithPicturesDrawnForTheScale)
{
    HWND main = Start();
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(MoveMouseToClient(main, {Place(SurfacePoint.x), Place(SurfacePoint.y)}));
    const Picture small = LibraryPicture(IDB_MAIN), art = LibraryPicture(Art(IDB_MAIN));
    const RECT box = WindowBox(main);
    EXPECT_NEAR(box.right - box.left, small.Width * GetParam().dpi / 96.0, 1);
    EXPECT_NEAR(box.bottom - box.top, small.Height * GetParam().dpi / 96.0, 1);
    EXPECT_EQ(box.top, GetSystemMetrics(SM_CYSCREEN) / 2 - art.Height / 2 + Place(20));
    RECT region;
    ASSERT_TRUE(RegionBox(main, region));
    EXPECT_EQ(region.right, art.Width);
    EXPECT_EQ(region.bottom, art.Height);
    EXPECT_TRUE(Shows(main, Art(IDB_MAIN), Art(IDB_MAIN)));

    for (const ButtonFacts& facts : Buttons) {
        SCOPED_TRACE("button " + std::to_string(facts.id));
        HWND button = ChildById(main, facts.id);
        const RECT place = WindowBox(button);
        EXPECT_EQ(place.left - box.left, Place(facts.x));
        EXPECT_EQ(place.top - box.top, Place(facts.y));
        EXPECT_TRUE(Shows(button, Art(facts.normal), Art(facts.normal)));
    }
    HWND description = ChildById(main, IDC_DESCRIPTION);
    EXPECT_EQ(WindowBox(description).left - box.left, Place(15));
    EXPECT_EQ(WindowBox(description).top - box.top, Place(16));
    EXPECT_TRUE(Shows(description, Art(156), Art(156)));
    if (GetParam().dpi == 144)
        SaveScreenshot(main, "main_en_150");

    // The hover and the description picture of the scale.
    ASSERT_TRUE(MoveMouseToClient(main, CentreOf(PlayButton.normal, PlayButton.x, PlayButton.y)));
    EXPECT_TRUE(Shows(ChildById(main, IDC_PLAY), Art(PlayButton.hover), Art(PlayButton.normal)));
    EXPECT_TRUE(Shows(description, Art(155), Art(156)));

    // The design browser's list, in the same place of the larger window.
    ASSERT_TRUE(MouseClickClient(main, CentreOf(172, 412, 317)));
    const HWND list = WaitForChild(main, IDC_BROWSER_LIST);
    ASSERT_NE(list, nullptr);
    const RECT listBox = WindowBox(list);
    EXPECT_EQ(listBox.left - box.left, Place(32));
    EXPECT_EQ(listBox.top - box.top, Place(32));
    EXPECT_EQ(listBox.right - listBox.left, Place(381));
    EXPECT_EQ(listBox.bottom - listBox.top, Place(274));
}

INSTANTIATE_TEST_SUITE_P(Displays, ScaledWindow,
                         testing::Values(Scale{144, IDB_SET_150_OFFSET, "150"}, Scale{192, IDB_SET_200_OFFSET, "200"}),
                         [](const testing::TestParamInfo<Scale>& info) { return std::string("At") + info.param.name; });

TEST_F(Window, RealMouseHoversButtonsInEveryLanguageAndTheSurfaceEndsIt)
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

TEST_F(Window, LinkCursorOverTheLinkAndArrowElsewhere)
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

TEST_F(Window, ExitButtonEndsTheProgramWithZero)
{
    HWND main = Start();
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(MouseClickClient(main, Centre(ExitButton)));
    DWORD code = 99;
    ASSERT_TRUE(Starter.WaitForExit(20000, &code));
    EXPECT_EQ(code, 0u);
}

namespace {
// Real key strokes: the accelerator looks at the keyboard state, not at the message alone.
void PressWithAlt(std::initializer_list<WORD> keys)
{
    std::vector<WORD> chord = {VK_MENU};
    chord.insert(chord.end(), keys.begin(), keys.end());
    uidriver::SendKeyChord(chord);
}
}

TEST_F(Window, AltQuestionMarkAndAltSlashOpenTheAboutBox)
{
    HWND main = StartStarter();
    ASSERT_NE(main, nullptr);
    const WORD slashKey = LOBYTE(VkKeyScanA('/'));
    const std::initializer_list<WORD> questionMark = {VK_SHIFT, slashKey};
    const std::initializer_list<WORD> slash = {slashKey};
    for (const auto& keys : {questionMark, slash}) {
        SetForegroundWindow(main);
        ASSERT_TRUE(uidriver::WaitFor([&] { return GetForegroundWindow() == main; }));
        PressWithAlt(keys);
        const uidriver::MessageBoxInfo about = uidriver::WaitForMessageBox(Starter.Pid(), 10000, "About");
        ASSERT_NE(about.Window, nullptr) << "no About box for Alt with " << keys.size() << " keys";
        uidriver::AnswerMessageBox(about.Window);
        EXPECT_TRUE(uidriver::WaitForWindowGone(about.Window));
    }
}

// ---- During an action, or with the browser open

namespace {
// The Starter's own receive time-out is 30 s; a silent peer must be given up within this.
constexpr DWORD SilentPeerLimitMs = 55000;
// How long the windows are probed while a silent peer is awaited: well inside the time-out.
constexpr DWORD ProbeWindowMs = 25000;

// A point of the main window's own surface, inside the link rectangle: its own cursor there
// is the arrow with a question mark, so the wait cursor cannot be an accident.
constexpr POINT BusySurfacePoint = {150, 400};

// Size and hot spot of the cursor image: the wait cursor is animated, so its pixels change,
// while its hot spot in the middle tells it from the arrows.
std::string Shape(const std::string& image)
{
    std::size_t end = 0;
    for (int field = 0; field < 4 && end != std::string::npos; ++field)
        end = image.find(' ', end + (field ? 1 : 0));
    return image.substr(0, end);
}

// The shape of a system cursor, as shown over a window of this process.
std::string CursorShape(LPCSTR id)
{
    const std::string image = ReferenceCursor(id);
    return image == "not shown" ? image : Shape(image);
}

// A screen point where the window itself is hit (not the status dialog over it, nor a part
// outside its region), as near its centre as can be.
bool VisiblePoint(HWND window, POINT& point)
{
    const RECT box = uidriver::WindowBox(window);
    const POINT centre = {(box.left + box.right) / 2, (box.top + box.bottom) / 2};
    for (int reach = 0; reach < 60; reach += 3)
        for (const POINT offset : {POINT{0, 0}, POINT{reach, 0}, POINT{-reach, 0}, POINT{0, reach}, POINT{0, -reach}}) {
            point = {centre.x + offset.x, centre.y + offset.y};
            if (WindowFromPoint(point) == window)
                return true;
        }
    return false;
}

// Clicks, keys and close requests that arrive while an action runs or the browser is open:
// nothing runs nested inside a transfer, the main window shows the wait cursor until it ends,
// and a quit is carried out once it is over.
class Busy : public BrowserTest {
protected:
    // A server of the doubles whose script holds its answer until Release.
    void StartHeld(const char* script, const char* setting)
    {
        Held = std::make_unique<GameServer>(GameServer::WithDoubles);
        ASSERT_TRUE(Held->Running()) << Held->StartOutput().Output;
        ASSERT_TRUE(Install->WriteStarterDat(Held->Address(), {{setting, script}}));
        WaitShape = CursorShape(IDC_WAIT);
        ASSERT_NE(WaitShape, CursorShape(IDC_HELP));
        ASSERT_NE(WaitShape, CursorShape(IDC_ARROW));
        Start();
    }

    // A press of the real mouse on the button with this id.
    void Click(int id)
    {
        POINT point;
        ASSERT_TRUE(VisiblePoint(uidriver::ChildById(Main, id), point)) << "button " << id << " is covered";
        ASSERT_TRUE(uidriver::MouseClickAt(point));
    }

    void WaitForHeldRequest(const std::string& script)
    {
        ASSERT_TRUE(uidriver::WaitFor([&] {
            for (const RequestLine& request : Held->Requests())
                if (request.Target.find(script) != std::string::npos)
                    return true;
            return false;
        }, TransferTimeoutMs));
    }

    void ExpectWaitCursor(const char* where)
    {
        std::string seen;
        EXPECT_TRUE(uidriver::WaitFor([&] { return (seen = Shape(XCursor())) == WaitShape; }, 5000))
            << where << ": cursor " << seen << ", wait cursor " << WaitShape;
    }

    // Over the window's own surface the wait cursor shows, then the mouse rests on the button
    // with this id until the Starter marks it hovered: input is handled in order, so everything
    // sent before has been handled too. The button shows the wait cursor as well.
    void ExpectWaitCursorThenHover(int id)
    {
        ASSERT_EQ(WindowFromPoint(uidriver::ClientToScreenPoint(Main, BusySurfacePoint)), Main);
        ASSERT_TRUE(uidriver::MoveMouseToClient(Main, BusySurfacePoint));
        ExpectWaitCursor("surface");
        HWND button = uidriver::ChildById(Main, id);
        POINT point;
        ASSERT_TRUE(VisiblePoint(button, point));
        ASSERT_TRUE(uidriver::MoveMouseTo(point));
        ASSERT_TRUE(uidriver::WaitFor([&] { return GetPropA(button, "Hover") != nullptr; }));
        ExpectWaitCursor("button");
    }

    void Release() { ASSERT_TRUE(Held->WriteDataFile("release", "now")); }

    // Clicks the button that starts a transfer and, once its status dialog shows, sends quit (a
    // close request or Alt+F4): the program must end with exit code 0 after the transfer.
    void QuitDuringTransfer(int id, const std::function<bool()>& quit)
    {
        ASSERT_TRUE(uidriver::ClickButton(Main, id));
        ASSERT_TRUE(uidriver::WaitFor([&] { return StatusDialog() != nullptr; }, TransferTimeoutMs));
        ASSERT_TRUE(quit());
        DWORD code = 1;
        EXPECT_TRUE(Starter.WaitForExit(TransferTimeoutMs, &code));
        EXPECT_EQ(code, 0u);
    }

    // Once the held request has arrived: clicks on these buttons, the wait cursor and a hover on
    // the button `hovered`, then the answer is let go.
    void ClickWhileHeld(std::initializer_list<int> ids, int hovered)
    {
        WaitForHeldRequest("hold.php");
        for (int id : ids)
            Click(id);
        ExpectWaitCursorThenHover(hovered);
        Release();
    }

    std::unique_ptr<GameServer> Held;
    std::string WaitShape;

    // The window's thread takes a message within a second: it is pumping, not stuck in a call.
    bool Responds(HWND window) const
    {
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
    }

    // The window repaints a part of itself that was made invalid from outside.
    bool Repaints(HWND window) const
    {
        RECT part = {10, 10, 60, 60};
        InvalidateRect(window, &part, FALSE);
        return uidriver::WaitFor([&] { return !GetUpdateRect(window, nullptr, FALSE); }, 1000);
    }

    // What a Starter's main window did while a silent peer was awaited, and the box that ended
    // the wait.
    struct SilentWait {
        uidriver::MessageBoxInfo Box;
        DWORD AfterMs = 0;   // from the start of the wait to the box
        int Checks = 0, Responsive = 0, Painted = 0;
        std::string Stuck;   // when the window did not answer, ms after the wait began
        void ExpectAlive() const
        {
            EXPECT_GE(Checks, 10);
            EXPECT_EQ(Responsive, Checks) << "no answer at ms" << Stuck;
            EXPECT_EQ(Painted, Checks);
        }
    };
    struct Waiter {
        DWORD Pid;
        HWND Main;
        DWORD Since;   // tick count when its transfer began
    };

    // Waits for each Starter's error box, probing its main window about every second until
    // shortly before the time-out, when the box is being made.
    std::vector<SilentWait> AwaitErrorBoxes(const std::vector<Waiter>& waiters)
    {
        std::vector<SilentWait> waits(waiters.size());
        for (bool waiting = true; waiting;) {
            waiting = false;
            for (std::size_t i = 0; i < waiters.size(); ++i) {
                SilentWait& wait = waits[i];
                const DWORD elapsed = GetTickCount() - waiters[i].Since;
                if (wait.Box.Window || elapsed >= SilentPeerLimitMs)
                    continue;
                waiting = true;
                if (elapsed < ProbeWindowMs) {
                    ++wait.Checks;
                    const bool responds = Responds(waiters[i].Main);
                    wait.Responsive += responds;
                    wait.Painted += Repaints(waiters[i].Main);
                    if (!responds)
                        wait.Stuck += " " + std::to_string(elapsed);
                }
                wait.Box = uidriver::WaitForMessageBox(waiters[i].Pid, 1000 / waiters.size(), "Error");
                wait.AfterMs = GetTickCount() - waiters[i].Since;
            }
        }
        return waits;
    }
};
}  // namespace

TEST_F(Busy, HiscorePlayAndDownloadDuringAHiscoreExchangeAreIgnored)
{
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    StartHeld("test/hold.php", "ADDSCORE_PHP");
    Click(IDC_HISCORE);
    ClickWhileHeld({IDC_HISCORE, IDC_PLAY, IDC_DOWNLOAD}, IDC_OPTIONS);

    const uidriver::MessageBoxInfo box = WaitForBox("Hiscore");
    ASSERT_NE(box.Window, nullptr) << "no rank box";
    EXPECT_NE(box.Text.find(" 7 "), std::string::npos) << box.Text;
    Dismiss(box);
    // Exit acts only once no box is left: one rank box, one request, no game, no browser.
    ExpectCleanExit();
    EXPECT_EQ(Held->Requests().size(), 1u);
    EXPECT_TRUE(Install->GameRuns().empty());
}

// The main buttons are disabled while the browser is open; its own OK and Cancel must not
// start a second upload or close the browser under the transfer.
TEST_F(Busy, OkAndCancelDuringADesignUploadAreIgnored)
{
    ASSERT_TRUE(Install->WritePlane("mine.plane", PlaneDesign()));
    StartHeld("test/hold.php", "ADDPLANE_PHP");
    OpenUploadList();
    Click(IDOK);
    ClickWhileHeld({IDOK, IDCANCEL}, IDOK);

    const uidriver::MessageBoxInfo box = WaitForBox("Info");
    ASSERT_NE(box.Window, nullptr) << "no success box";
    EXPECT_EQ(box.Text, EnglishText(25));
    Dismiss(box);
    ASSERT_TRUE(uidriver::WaitFor([&] { return !List(); }));
    ExpectCleanExit();
    EXPECT_EQ(Held->Requests().size(), 1u);
    EXPECT_EQ(Held->StoredPlanes().size(), 1u);
}

// A player who retries right after an error is heard: the closing steps after the box take
// less than a second, and the Starter takes the next press.
TEST_F(Busy, HiscorePressedOneSecondAfterAnErrorBoxShowsTheRank)
{
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    StartHeld("test/title404.php", "ADDSCORE_PHP");
    Click(IDC_HISCORE);
    const uidriver::MessageBoxInfo error = WaitForBox("Error");
    ASSERT_NE(error.Window, nullptr) << "no error box";
    ASSERT_TRUE(Install->WriteStarterDat(Held->Address()));
    ASSERT_TRUE(uidriver::ClickButton(error.Window, IDOK));
    // Gone from the screen is what the player sees; the window may still be on its way out.
    ASSERT_TRUE(uidriver::WaitFor([&] { return !uidriver::IsShown(error.Window); }));
    // The player's pause before pressing again is what this test is about: the Starter must be
    // ready by then, and no event of its own says so (waiting for one would hide the fault).
    Sleep(1000);
    Click(IDC_HISCORE);

    const uidriver::MessageBoxInfo rank = WaitForBox("Hiscore");
    ASSERT_NE(rank.Window, nullptr) << "the second press was dropped";
    EXPECT_NE(rank.Text.find(" 1 "), std::string::npos) << rank.Text;
    Dismiss(rank);
    EXPECT_EQ(Held->Requests().size(), 2u);
}

TEST_F(Busy, CommandsDuringAFetchAreIgnoredAndCancelForgetsThePages)
{
    GameServer server;
    ASSERT_EQ(server.Admin("seed-planes 40").ExitCode, 0);
    StartWith(server);

    ClickAndSettle(IDC_DOWNLOAD, server, 1);
    // While the second page is being fetched, Cancel and OK are clicked. (The status dialog
    // covers the page buttons: those a player cannot reach meanwhile.)
    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_PAGE_FORWARD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return StatusDialog() != nullptr; }, TransferTimeoutMs));
    for (int id : {IDCANCEL, IDOK}) {
        const RECT button = uidriver::WindowBox(uidriver::ChildById(Main, id)), status = uidriver::WindowBox(StatusDialog());
        RECT overlap;
        EXPECT_FALSE(IntersectRect(&overlap, &button, &status)) << "the status dialog covers button " << id;
        ASSERT_TRUE(uidriver::ClickButton(Main, id));
    }
    ASSERT_TRUE(uidriver::WaitFor([&] { return !StatusDialog(); }, TransferTimeoutMs));
    ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
    ASSERT_NE(List(), nullptr) << "the browser closed under a running fetch";
    EXPECT_EQ(RemoteList(List(), Starter.Pid()).Names(), SeededDesignNames(18, 17));

    // The next page is the third: nothing clicked during the fetch fetched a page, then or later.
    ClickAndSettle(IDC_PAGE_FORWARD, server, 3);
    EXPECT_EQ(CatalogueTargets(server), (std::vector<std::string>{CataloguePageTarget(0), CataloguePageTarget(17), CataloguePageTarget(34)}));
    ASSERT_TRUE(uidriver::ClickButton(Main, IDCANCEL));
    ExpectBrowserClosed();
    ExpectNoBox();

    // The next opening starts from the first page again.
    ClickAndSettle(IDC_DOWNLOAD, server, 4);
    EXPECT_EQ(RemoteList(List(), Starter.Pid()).Names(), SeededDesignNames(1, 17));
    EXPECT_EQ(CatalogueTargets(server),
              (std::vector<std::string>{CataloguePageTarget(0), CataloguePageTarget(17), CataloguePageTarget(34), CataloguePageTarget(0)}));
    EXPECT_FALSE(Enabled(IDC_PAGE_BACK));
}

// A close request (the task bar's Close; Exit is disabled while the browser is open) while a
// catalogue download shows its status dialog: the pump dispatches it and takes the quit
// request with it; the program must still end after the download.
TEST_F(Busy, CloseWhileTheStatusDialogShowsEndsTheProgramAfterTheTransfer)
{
    GameServer server;
    StartWith(server);

    // From outside the program: no click causes it.
    QuitDuringTransfer(IDC_DOWNLOAD, [&] { return uidriver::PostClose(Main); });
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(Busy, AltF4DuringADownloadEndsTheProgramAfterItWithTheDesignWhole)
{
    GameServer server;
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\5eed0001.plane"), "an older design"));
    StartWith(server);

    OpenCatalogue(server);
    QuitDuringTransfer(IDOK, [&] { return PostAltF4(); });
    EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\5eed0001.plane")), server.StoredPlane("5eed0001.plane"));
    EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0001.plane"});
}

// Exit is disabled while the browser is open; Alt+F4 is what a player can still press.
TEST_F(Busy, AltF4DuringAnUploadEndsTheProgramAfterItWithTheDesignRegistered)
{
    GameServer server;
    PlaneDesign design;
    design.Name = "Last Flight";
    ASSERT_TRUE(Install->WritePlane("mine.plane", design));
    StartWith(server);

    OpenUploadList();
    QuitDuringTransfer(IDOK, [&] { return PostAltF4(); });
    const std::vector<std::string> stored = server.StoredPlanes();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(server.StoredPlane(stored[0]), PlaneBytes(design));
    EXPECT_NE(server.Admin("stats").Output.find("designs 1"), std::string::npos) << server.Admin("stats").Output;
    EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\mine.plane")), PlaneBytes(design));
}

// A web server and an FTP server that accept and never answer, each met by a Starter of its
// own at the same time, so the two waits for the 30 s receive time-out overlap.
TEST_F(Busy, SilentServersEndInTheErrorBoxAndTheWindowsKeepPainting)
{
    GameServer server(GameServer::WithDoubles);   // its hang.php never answers
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    FtpDouble ftp("silent");
    ASSERT_TRUE(ftp.Running());

    // The first Starter downloads a design from the silent FTP server.
    StartWith(server, {{"FTP_URL", ftp.Address()}});
    OpenCatalogue(server);
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    ASSERT_TRUE(uidriver::WaitFor([&] { return StatusDialog() != nullptr; }, TransferTimeoutMs));
    const Waiter download{Starter.Pid(), Main, GetTickCount()};

    // The second, opened over the first, sends its hiscore to the hanging script.
    GameInstall other;
    ASSERT_TRUE(other.WriteStarterDat(server.Address(), {{"ADDSCORE_PHP", "test/hang.php"}}));
    ASSERT_TRUE(other.WriteHiscores({{"Ann", 5}}));
    StarterProcess otherStarter;
    ASSERT_TRUE(otherStarter.Start(other));
    const HWND otherMain = otherStarter.WaitForMainWindow();
    ASSERT_NE(otherMain, nullptr);
    ASSERT_TRUE(uidriver::WaitUntilSettled(otherMain));
    const DWORD clicked = GetTickCount();
    ASSERT_TRUE(uidriver::ClickButton(otherMain, IDC_HISCORE));
    auto hangAsked = [&] {
        for (const RequestLine& request : server.Requests())
            if (request.Target.rfind("/php/test/hang.php", 0) == 0)
                return true;
        return false;
    };
    ASSERT_TRUE(uidriver::WaitFor(hangAsked, TransferTimeoutMs));
    const Waiter hiscore{otherStarter.Pid(), otherMain, GetTickCount()};

    const std::vector<SilentWait> waits = AwaitErrorBoxes({download, hiscore});
    for (const SilentWait& wait : waits) {
        SCOPED_TRACE(&wait == &waits[0] ? "FTP download" : "web exchange");
        ASSERT_NE(wait.Box.Window, nullptr) << "no error box within " << SilentPeerLimitMs << " ms";
        wait.ExpectAlive();
        EXPECT_EQ(wait.Box.Text.rfind(ErrorBoxHead(29), 0), 0u) << wait.Box.Text;
    }
    EXPECT_GE(hiscore.Since + waits[1].AfterMs - clicked, 25000u) << "the web exchange gave up before its time-out";
    EXPECT_NE(waits[1].Box.Text.find("\r\nLine:\t217\r\n"), std::string::npos) << waits[1].Box.Text;
    EXPECT_TRUE(Install->PlaneFiles().empty());

    // Both go on: the one on top ends first, so its Exit is what the mouse reaches.
    Dismiss(waits[1].Box);
    ASSERT_TRUE(uidriver::ClickButton(otherMain, IDC_EXIT));
    DWORD code = 1;
    EXPECT_TRUE(otherStarter.WaitForExit(20000, &code));
    EXPECT_EQ(code, 0u);
    Dismiss(waits[0].Box);
    ExpectNoBox();
    ExpectCleanExit();
}

TEST_F(Busy, AClickOnTheDisabledButtonWhileTheBrowserIsOpenDoesNothing)
{
    GameServer server;
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    ASSERT_TRUE(Install->WritePlane("mine.plane", PlaneDesign()));
    StartWith(server);
    OpenUploadList();
    EXPECT_FALSE(Enabled(IDC_HISCORE));

    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_HISCORE));
    // Cancel, clicked after it, closes the browser: by then the Hiscore click was handled.
    ASSERT_TRUE(uidriver::ClickButton(Main, IDCANCEL));
    ExpectBrowserClosed();
    ExpectNoBox();
    EXPECT_TRUE(server.Requests().empty());

    // The same click once the browser is closed sends the entry: the button was refusing, not missed.
    const uidriver::MessageBoxInfo box = Press(IDC_HISCORE, "Hiscore");
    EXPECT_EQ(box.Text, RankText(23, "1"));
    Dismiss(box);
    EXPECT_EQ(server.Requests().size(), 1u);
}
