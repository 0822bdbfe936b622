// Clicks and keys that arrive while a transfer is under way: nothing runs nested inside it,
// and the main window shows the wait cursor until it ends.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"
#include "tests/e2e/fixtures.h"

using namespace e2e;

namespace {
// A point of the main window's own surface, inside the link rectangle: its own cursor there
// is the arrow with a question mark, so the wait cursor cannot be an accident.
constexpr POINT SurfacePoint = {150, 400};

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

class Busy : public BrowserTest {
protected:
    void StartHeld(const char* script, const char* setting)
    {
        ASSERT_TRUE(Server.Running()) << Server.StartOutput().Output;
        ASSERT_TRUE(Install->WriteStarterDat(Server.Address(), {{setting, script}}));
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
            for (const RequestLine& request : Server.Requests())
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
        ASSERT_EQ(WindowFromPoint(uidriver::ClientToScreenPoint(Main, SurfacePoint)), Main);
        ASSERT_TRUE(uidriver::MoveMouseToClient(Main, SurfacePoint));
        ExpectWaitCursor("surface");
        HWND button = uidriver::ChildById(Main, id);
        POINT point;
        ASSERT_TRUE(VisiblePoint(button, point));
        ASSERT_TRUE(uidriver::MoveMouseTo(point));
        ASSERT_TRUE(uidriver::WaitFor([&] { return GetPropA(button, "Hover") != nullptr; }));
        ExpectWaitCursor("button");
    }

    void Release() { ASSERT_TRUE(Server.WriteDataFile("release", "now")); }

    GameServer Server{GameServer::WithDoubles};
    std::string WaitShape;
};
}  // namespace

TEST_F(Busy, HiscorePlayAndDownloadDuringAHiscoreExchangeAreIgnored)
{
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    StartHeld("test/hold.php", "ADDSCORE_PHP");
    Click(IDC_HISCORE);
    WaitForHeldRequest("hold.php");

    Click(IDC_HISCORE);
    Click(IDC_PLAY);
    Click(IDC_DOWNLOAD);
    ExpectWaitCursorThenHover(IDC_OPTIONS);
    Release();

    const uidriver::MessageBoxInfo box = WaitForBox("Hiscore");
    ASSERT_NE(box.Window, nullptr) << "no rank box";
    EXPECT_NE(box.Text.find(" 7 "), std::string::npos) << box.Text;
    Dismiss(box);
    // Exit acts only once no box is left: one rank box, one request, no game, no browser.
    ExpectCleanExit();
    EXPECT_EQ(Server.Requests().size(), 1u);
    EXPECT_TRUE(Install->GameRuns().empty());
}

// The main buttons are disabled while the browser is open; its own OK and Cancel must not
// start a second upload or close the browser under the transfer.
TEST_F(Busy, OkAndCancelDuringADesignUploadAreIgnored)
{
    ASSERT_TRUE(Install->WritePlane("mine.plane", PlaneDesign()));
    StartHeld("test/hold.php", "ADDPLANE_PHP");
    Click(IDC_UPLOAD);
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1; }));
    Click(IDOK);
    WaitForHeldRequest("hold.php");

    Click(IDOK);
    Click(IDCANCEL);
    ExpectWaitCursorThenHover(IDOK);
    Release();

    const uidriver::MessageBoxInfo box = WaitForBox("Info");
    ASSERT_NE(box.Window, nullptr) << "no success box";
    EXPECT_EQ(box.Text, EnglishText(25));
    Dismiss(box);
    ASSERT_TRUE(uidriver::WaitFor([&] { return !List(); }));
    ExpectCleanExit();
    EXPECT_EQ(Server.Requests().size(), 1u);
    EXPECT_EQ(Server.StoredPlanes().size(), 1u);
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
    ASSERT_TRUE(Install->WriteStarterDat(Server.Address()));
    ASSERT_TRUE(uidriver::ClickButton(error.Window, IDOK));
    // Gone from the screen is what the player sees; the window may still be on its way out.
    ASSERT_TRUE(uidriver::WaitFor([&] { return !uidriver::IsShown(error.Window); }));
    // The player's pause before pressing again: the moment this test is about.
    Sleep(1000);
    Click(IDC_HISCORE);

    const uidriver::MessageBoxInfo rank = WaitForBox("Hiscore");
    ASSERT_NE(rank.Window, nullptr) << "the second press was dropped";
    EXPECT_NE(rank.Text.find(" 1 "), std::string::npos) << rank.Text;
    Dismiss(rank);
    EXPECT_EQ(Server.Requests().size(), 2u);
}
