// The Starter without a mouse: real key strokes move the focus over the buttons, show it as the
// hover, press the focused button, and drive the design browser's list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"

using namespace e2e;

namespace {
class Keyboard : public BrowserTest {
protected:
    HWND Focused() const { return uidriver::FocusOf(Main); }
    HWND Child(int id) const { return uidriver::ChildById(Main, id); }

    // A key stroke, then the focus where it must land.
    void Key(WORD key, HWND expected, bool shift = false)
    {
        ASSERT_TRUE(uidriver::SendKey(key, shift));
        ASSERT_TRUE(uidriver::WaitFor([&] { return Focused() == expected; }))
            << "key " << key << (shift ? " with Shift" : "") << ": the focus is on " << uidriver::HandleText(Focused())
            << " (id " << GetDlgCtrlID(Focused()) << "), not on id " << GetDlgCtrlID(expected);
    }

    // The key closes the box of the Starter that is in front.
    void CloseBoxWith(WORD key, const uidriver::MessageBoxInfo& box)
    {
        ASSERT_NE(box.Window, nullptr);
        ASSERT_TRUE(uidriver::SendKey(key));
        EXPECT_TRUE(uidriver::WaitForWindowGone(box.Window));
    }

    static bool ShowsAsHovered(HWND button) { return GetPropA(button, "Hover") != nullptr; }

    // The key opens the catalogue: its page is fetched, the command is over and the list has the
    // focus, with row 0 selected.
    void OpenCatalogueWith(WORD key, const GameServer& server)
    {
        const size_t before = CatalogueTargets(server).size();
        ASSERT_TRUE(uidriver::SendKey(key));
        ASSERT_TRUE(uidriver::WaitFor([&] { return CatalogueTargets(server).size() == before + 1 && !StatusDialog(); },
                                      TransferTimeoutMs));
        ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
        ASSERT_NE(List(), nullptr);
        EXPECT_EQ(Focused(), List());
        EXPECT_TRUE(RemoteList(List(), Starter.Pid()).Selected(0));
    }

    // A key that moves the list's selection to `row`.
    void SelectWith(WORD key, int row)
    {
        ASSERT_TRUE(uidriver::SendKey(key));
        const RemoteList list(List(), Starter.Pid());
        ASSERT_TRUE(uidriver::WaitFor([&] { return list.Selected(row); })) << "row " << row;
    }
};
}

TEST_F(Keyboard, TabEnterSpaceArrowsAndEscReachEverything)
{
    GameServer server;
    ASSERT_EQ(server.Admin("seed-planes 20").ExitCode, 0);
    ASSERT_TRUE(Install->WriteHiscores({{"Bo Lind", 500}}));
    StartWith(server);
    SetForegroundWindow(Main);
    ASSERT_TRUE(uidriver::WaitFor([&] { return GetForegroundWindow() == Main; }));

    // The main buttons in their order; the focused one shows as hovered.
    Key(VK_TAB, Child(IDC_PLAY));
    Key(VK_TAB, Child(IDC_HISCORE));
    EXPECT_TRUE(uidriver::WaitFor([&] { return ShowsAsHovered(Child(IDC_HISCORE)); }));
    EXPECT_FALSE(ShowsAsHovered(Child(IDC_PLAY)));
    for (int id : {IDC_DOWNLOAD, IDC_UPLOAD, IDC_OPTIONS, IDC_EXIT, IDC_PLAY})
        Key(VK_TAB, Child(id));
    Key(VK_TAB, Child(IDC_EXIT), true);
    Key(VK_TAB, Child(IDC_PLAY));
    Key(VK_TAB, Child(IDC_HISCORE));

    // Enter presses Hiscore; once its box is closed, the focus is back where it was.
    ASSERT_TRUE(uidriver::SendKey(VK_RETURN));
    const uidriver::MessageBoxInfo rank = WaitForBox("Hiscore");
    EXPECT_EQ(rank.Text, RankText(23, "1"));
    CloseBoxWith(VK_RETURN, rank);
    ASSERT_TRUE(uidriver::WaitFor([&] { return Focused() == Child(IDC_HISCORE); }));
    EXPECT_EQ(server.Requests().size(), 1u);

    // Space presses Download: the list has the focus, the arrows choose a row, and Tab goes on
    // over the browser's enabled buttons (page back is not, on the first page).
    Key(VK_TAB, Child(IDC_DOWNLOAD));
    OpenCatalogueWith(VK_SPACE, server);
    SelectWith(VK_DOWN, 1);
    SelectWith(VK_DOWN, 2);
    SelectWith(VK_UP, 1);
    for (int id : {IDOK, IDCANCEL, IDC_PAGE_FORWARD})
        Key(VK_TAB, Child(id));
    Key(VK_TAB, List());
    Key(VK_TAB, Child(IDC_PAGE_FORWARD), true);
    Key(VK_TAB, List());

    // Esc is Cancel: nothing downloaded, and Tab starts again from Play.
    ASSERT_TRUE(uidriver::SendKey(VK_ESCAPE));
    ExpectBrowserClosed();
    EXPECT_TRUE(Install->PlaneFiles().empty());
    for (int id : {IDC_PLAY, IDC_HISCORE, IDC_DOWNLOAD})
        Key(VK_TAB, Child(id));

    // In the list again, Enter is OK: the second row is downloaded.
    OpenCatalogueWith(VK_RETURN, server);
    SelectWith(VK_DOWN, 1);
    ASSERT_TRUE(uidriver::SendKey(VK_RETURN));
    const uidriver::MessageBoxInfo received = WaitForBox("Info");
    EXPECT_EQ(received.Text, EnglishText(24));
    CloseBoxWith(VK_RETURN, received);
    ExpectBrowserClosed();
    EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0002.plane"});
}
