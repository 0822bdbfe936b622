#include "ui/skin_windows.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "app/base/action_scope.h"
#include "app/base/app_state.h"
#include "app/base/wait_cursor.h"
#include "app/main_window.h"
#include "tests/wine/app_scope.h"

namespace {
constexpr char TestMainClass[] = "FaceTestMain";

void RegisterTestMainClass()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = TestMainClass;
    RegisterClassA(&windowClass);
}

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
        RegisterTestMainClass();
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

TEST_F(SkinWindows, WaitCursorRestoresTheCursorOnEveryPath)
{
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    SendMessageA(main, WM_MOUSEMOVE, 0, MAKELPARAM(500, 50));
    {
        WaitCursor hourglass(main);
        EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrA(main, GCLP_HCURSOR)), wait);
        EXPECT_EQ(GetCursor(), wait);
    }
    EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrA(main, GCLP_HCURSOR)), arrow);
    EXPECT_EQ(GetCursor(), arrow);

    // No current cursor: the class gets back the cursor it had, not the hourglass.
    SetCursor(nullptr);
    {
        WaitCursor hourglass(main);
    }
    EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrA(main, GCLP_HCURSOR)), arrow);
}

TEST_F(SkinWindows, ExitCommandsDestroyTheWindowAndQuitWithZero)
{
    for (WORD command : {WORD(IDC_EXIT), WORD(IDM_EXIT)}) {
        HWND window = CreateWindowExA(0, TestMainClass, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0), 0);
        EXPECT_FALSE(IsWindow(window)) << command;
        MSG message;
        ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << command;
        EXPECT_EQ(message.wParam, 0u);
    }
}

// The commands that a running action's message pumps bring in are ignored, Exit aside: here
// Cancel, which would close the open browser under the action.
TEST_F(SkinWindows, DuringAnActionOnlyExitActs)
{
    App.MainWindow = main;
    App.BrowserMode = 1;
    {
        ActionScope action;
        EXPECT_EQ(SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), 0);
        EXPECT_EQ(App.BrowserMode, 1);
        EXPECT_TRUE(IsWindowVisible(Button(OkRow)));
        HWND window = CreateWindowExA(0, TestMainClass, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
        EXPECT_FALSE(IsWindow(window));
        MSG message;
        EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    }
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(App.BrowserMode, 0);
    EXPECT_FALSE(IsWindowVisible(Button(OkRow)));
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
