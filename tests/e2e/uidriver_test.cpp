// The UI driver against a probe window in another process: what the driver does must arrive
// there as a player's input would.
#include "tests/e2e/fixtures.h"

using namespace uidriver;

namespace {

constexpr int BoxButton = 100, EditBox = 101, ReportButton = 102, DialogButton = 103, DialogEdit = 1001;

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Probe.Start(e2e::EnvPath("STARTER_UIDRIVER_PROBE"), "", Log));
        WindowQuery query;
        query.ClassName = "UiDriverProbe";
        query.ProcessId = Probe.Pid();
        Window = WaitForWindow(query);
        ASSERT_NE(Window, nullptr);
        ASSERT_TRUE(WaitUntilSettled(Window));
    }

    // Opens the probe's modal dialog and waits until it has painted.
    HWND OpenDialog()
    {
        if (!ClickButton(Window, DialogButton)) return nullptr;
        WindowQuery query;
        query.ClassName = "#32770";
        query.Caption = "Probe dialog";
        query.ProcessId = Probe.Pid();
        HWND dialog = WaitForWindow(query);
        return dialog && WaitUntilSettled(dialog) ? dialog : nullptr;
    }

    // Waits for the probe to log this line.
    bool Logged(const std::string& line)
    {
        return WaitFor([&] { return ("\n" + e2e::ReadFileBytes(Log)).find("\n" + line + "\n") != std::string::npos; },
                       5000);
    }

    e2e::TempFolder Folder{"skv-probe"};
    std::string Log = Folder.File("probe.log");
    e2e::StarterProcess Probe;   // any program: started, and ended on teardown
    HWND Window = nullptr;
};

TEST_F(ProbeTest, ReadsWindowFacts)
{
    EXPECT_EQ(ClassOf(Window), "UiDriverProbe");
    EXPECT_EQ(TextOf(Window), "Probe");
    EXPECT_EQ(ProcessOf(Window), Probe.Pid());
    EXPECT_TRUE(IsShown(Window));
    EXPECT_TRUE(IsEnabledWindow(Window));
    const RECT box = WindowBox(Window);
    EXPECT_EQ(box.right - box.left, 300);
    EXPECT_EQ(box.bottom - box.top, 200);

    RECT region = {};
    ASSERT_TRUE(RegionBox(Window, region));
    EXPECT_EQ(region.left, 0);
    EXPECT_EQ(region.top, 0);
    EXPECT_EQ(region.right, 300);
    EXPECT_EQ(region.bottom, 200);
    EXPECT_TRUE(RegionContains(Window, {50, 180}));
    EXPECT_FALSE(RegionContains(Window, {250, 180}));

    HWND edit = ChildById(Window, EditBox);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(ClassOf(edit), "Edit");
    EXPECT_EQ(TextOf(ChildById(Window, ReportButton)), "Report");
    EXPECT_EQ(ChildById(Window, 999), nullptr);
}

TEST_F(ProbeTest, RealMouseReachesTheWindow)
{
    ASSERT_TRUE(MoveMouseToClient(Window, {250, 120}));
    EXPECT_TRUE(Logged("move 250 120"));
    const POINT cursor = MousePosition();
    const POINT expected = ClientToScreenPoint(Window, {250, 120});
    EXPECT_EQ(cursor.x, expected.x);
    EXPECT_EQ(cursor.y, expected.y);

    ASSERT_TRUE(MouseClickClient(Window, {220, 40}));
    EXPECT_TRUE(Logged("down 220 40"));
}

TEST_F(ProbeTest, ClickOpensMessageBoxWithoutBlockingAndItsButtonAnswers)
{
    const struct { int Button; const char* Logged; } cases[] = {{IDOK, "box 1"}, {IDCANCEL, "box 2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Logged);
        ASSERT_TRUE(ClickButton(Window, BoxButton));
        const MessageBoxInfo box = WaitForMessageBox(Probe.Pid());
        ASSERT_NE(box.Window, nullptr);
        EXPECT_EQ(box.Caption, "Probe box");
        EXPECT_EQ(box.Text, "First line\nSecond line");
        EXPECT_EQ(OwnerOf(box.Window), Window);
        ASSERT_TRUE(AnswerMessageBox(box.Window, c.Button));
        EXPECT_TRUE(WaitForWindowGone(box.Window));
        EXPECT_TRUE(Logged(c.Logged));
    }
}

TEST_F(ProbeTest, TypedAndSetTextReachTheEditBox)
{
    HWND edit = ChildById(Window, EditBox);
    ASSERT_TRUE(TypeText(edit, " ann.lee@example.org "));
    ASSERT_TRUE(ClickButton(Window, ReportButton));
    EXPECT_TRUE(Logged("edit  ann.lee@example.org "));

    ASSERT_TRUE(SetText(edit, "replaced"));
    EXPECT_EQ(TextOf(edit), "replaced");
    ASSERT_TRUE(ClickButton(Window, ReportButton));
    EXPECT_TRUE(Logged("edit replaced"));
}

TEST_F(ProbeTest, EnterInADialogPressesItsDefaultButton)
{
    HWND dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(IsEnabledWindow(Window));   // the modal loop runs

    HWND edit = WaitForChild(dialog, DialogEdit);
    ASSERT_TRUE(TypeText(edit, "typed"));
    ASSERT_TRUE(PressEnter(edit));
    EXPECT_TRUE(WaitForWindowGone(dialog));
    EXPECT_TRUE(Logged("dialog typed"));
}

TEST_F(ProbeTest, RealKeysGoToTheFocusedControl)
{
    HWND dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(SendKeys("keys"));
    EXPECT_TRUE(WaitFor([&] { return TextOf(ChildById(dialog, DialogEdit)) == "keys"; }, 5000));
    ASSERT_TRUE(PressEnter(ChildById(dialog, DialogEdit)));
    EXPECT_TRUE(Logged("dialog keys"));
}

}  // namespace
