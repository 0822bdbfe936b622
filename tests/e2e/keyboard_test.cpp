// The Starter without a mouse: real key strokes move the focus over the buttons, show it as the
// hover, press the focused button, and drive the design browser's list.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"

using namespace e2e;

namespace {
class Keyboard : public BrowserTest {
protected:
    HWND Child(int id) const { return uidriver::ChildById(Main, id); }

    // A key stroke, then the focus where it must land (the list for id IDC_BROWSER_LIST).
    void Key(WORD key, int id, bool shift = false)
    {
        ASSERT_TRUE(uidriver::SendKey(key, shift));
        ASSERT_TRUE(uidriver::WaitFor([&] { return uidriver::FocusOf(Main) == Child(id); }))
            << "key " << key << ": the focus is on id " << GetDlgCtrlID(uidriver::FocusOf(Main)) << ", not " << id;
    }

    // A key that presses a button whose work ends in a box, then Enter on the box.
    void KeyForBox(WORD key, const std::string& caption, const std::string& text)
    {
        ASSERT_TRUE(uidriver::SendKey(key));
        const uidriver::MessageBoxInfo box = WaitForBox(caption);
        ASSERT_NE(box.Window, nullptr);
        EXPECT_EQ(box.Text, text);
        ASSERT_TRUE(uidriver::SendKey(VK_RETURN));
        EXPECT_TRUE(uidriver::WaitForWindowGone(box.Window));
    }

    // The key opens the catalogue: once its page is in, the list has the focus, and the arrows
    // select these rows one by one.
    void KeyForCatalogue(WORD key, const GameServer& server, size_t pages, std::vector<std::pair<WORD, int>> arrows)
    {
        ASSERT_TRUE(uidriver::SendKey(key));
        ASSERT_TRUE(uidriver::WaitFor([&] { return CatalogueTargets(server).size() == pages && !StatusDialog(); },
                                      TransferTimeoutMs));
        ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
        EXPECT_EQ(uidriver::FocusOf(Main), List());
        const RemoteList list(List(), Starter.Pid());
        for (const auto& [arrow, row] : arrows) {
            ASSERT_TRUE(uidriver::SendKey(arrow));
            ASSERT_TRUE(uidriver::WaitFor([&] { return list.Selected(row); })) << "row " << row;
        }
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

    // Without the browser Esc and Enter press none of its buttons that start-up shows; Tab then
    // proves them handled. The main buttons in their order, round and back; the focused one shows
    // as hovered.
    ASSERT_TRUE(uidriver::SendKey(VK_ESCAPE));
    ASSERT_TRUE(uidriver::SendKey(VK_RETURN));
    for (int id : {IDC_PLAY, IDC_HISCORE, IDC_DOWNLOAD, IDC_UPLOAD, IDC_OPTIONS, IDC_EXIT, IDC_PLAY})
        Key(VK_TAB, id);
    EXPECT_TRUE(uidriver::IsShown(Child(IDCANCEL)) && uidriver::IsShown(Child(IDOK)));
    ASSERT_TRUE(uidriver::SendKey(VK_ESCAPE));
    Key(VK_TAB, IDC_EXIT, true);
    EXPECT_TRUE(uidriver::IsShown(Child(IDCANCEL)));
    Key(VK_TAB, IDC_PLAY);
    Key(VK_TAB, IDC_HISCORE);
    EXPECT_TRUE(uidriver::WaitFor([&] { return GetPropA(Child(IDC_HISCORE), "Hover") != nullptr; }));
    EXPECT_EQ(GetPropA(Child(IDC_PLAY), "Hover"), nullptr);

    // Enter presses Hiscore; after its box the focus is where it was.
    KeyForBox(VK_RETURN, "Hiscore", RankText(23, "1"));
    ASSERT_TRUE(uidriver::WaitFor([&] { return uidriver::FocusOf(Main) == Child(IDC_HISCORE); }));

    // Space presses Download; the arrows choose a row, Tab goes on over the browser's enabled
    // buttons (not page back, on the first page), and Esc is Cancel.
    Key(VK_TAB, IDC_DOWNLOAD);
    KeyForCatalogue(VK_SPACE, server, 1, {{VK_DOWN, 1}, {VK_DOWN, 2}, {VK_UP, 1}});
    for (int id : {IDOK, IDCANCEL, IDC_PAGE_FORWARD, IDC_BROWSER_LIST})
        Key(VK_TAB, id);
    Key(VK_TAB, IDC_PAGE_FORWARD, true);
    ASSERT_TRUE(uidriver::SendKey(VK_ESCAPE));
    ExpectBrowserClosed();
    EXPECT_TRUE(Install->PlaneFiles().empty());

    // From Play again to Download; in its list Enter is OK.
    for (int id : {IDC_PLAY, IDC_HISCORE, IDC_DOWNLOAD})
        Key(VK_TAB, id);
    KeyForCatalogue(VK_RETURN, server, 2, {{VK_DOWN, 1}});
    KeyForBox(VK_RETURN, "Info", EnglishText(24));
    ExpectBrowserClosed();
    EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0002.plane"});
    EXPECT_EQ(server.Requests().size(), 3u);
}
