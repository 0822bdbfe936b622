// The Options dialog with the real keyboard, and every way of cancelling it.
#include "tests/e2e/fixtures.h"
#include "res/resource.h"

using namespace uidriver;

namespace {

class OptionsDialogTest : public e2e::StarterTest {
protected:
    HWND OpenOptions(HWND main) { return ClickButton(main, IDC_OPTIONS) ? WaitForDialog("Options") : nullptr; }
};

// The real mouse on the dialog's close box: the first point of its caption row that the
// dialog itself reports as the close box.
bool ClickCloseBox(HWND dialog)
{
    const RECT box = WindowBox(dialog);
    for (int y = box.top + 1; y < box.top + 40; y += 2)
        for (int x = box.right - 2; x > box.right - 80; x -= 2) {
            DWORD_PTR hit = 0;
            if (SendMessageTimeoutA(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 1000, &hit) &&
                hit == HTCLOSE)
                return MouseClickAt({x, y});
        }
    return false;
}

// Real key strokes of one virtual key, as the keyboard sends them to the focused window.
bool StrikeKey(WORD virtualKey)
{
    INPUT inputs[2] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = virtualKey;
    }
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

}  // namespace

// The field is first in the tab order, so the player can type at once; Enter is OK.
TEST_F(OptionsDialogTest, KeyboardAloneTypesIntoTheFieldAndEnterStores)
{
    HWND main = StartStarter();
    ASSERT_NE(main, nullptr);
    HWND dialog = OpenOptions(main);
    ASSERT_NE(dialog, nullptr);
    HWND edit = ChildById(dialog, IDC_MAIL_EDIT);
    ASSERT_NE(edit, nullptr);

    const std::string typed = " key@example.org  ";
    ASSERT_TRUE(SendKeys(typed));
    ASSERT_TRUE(WaitFor([&] { return TextOf(edit) == typed; })) << "field shows '" << TextOf(edit) << "'";
    ASSERT_TRUE(StrikeKey(VK_RETURN));
    ASSERT_TRUE(WaitForWindowGone(dialog));

    std::string stored;
    ASSERT_TRUE(e2e::ReadUserString(e2e::NetSettingsKeyPath, "Mail", stored));
    EXPECT_EQ(stored, typed);
}

// The close box, Escape and command 2 store nothing: an existing address stays, and an
// address never stored stays absent.
TEST_F(OptionsDialogTest, CancellingStoresNothing)
{
    const struct {
        const char* Name;
        bool (*Cancel)(HWND dialog, HWND edit);
    } ways[] = {
        {"close box", [](HWND dialog, HWND) { return ClickCloseBox(dialog); }},
        {"escape", [](HWND, HWND edit) { return PressEscape(edit); }},
        // Posted: the dialog has no Cancel button, so no click can send command 2.
        {"command 2", [](HWND dialog, HWND) { return PostCommand(dialog, IDCANCEL); }},
    };
    for (bool storedBefore : {false, true}) {
        if (storedBefore) {
            ASSERT_TRUE(e2e::WriteUserString(e2e::NetSettingsKeyPath, "Mail", "old@example.org"));
        }
        HWND main = StartStarter();   // a second start ends the first Starter
        ASSERT_NE(main, nullptr);
        for (const auto& way : ways) {
            SCOPED_TRACE(std::string(way.Name) + (storedBefore ? ", address stored" : ", nothing stored"));
            HWND dialog = OpenOptions(main);
            ASSERT_NE(dialog, nullptr);
            HWND edit = ChildById(dialog, IDC_MAIL_EDIT);
            ASSERT_TRUE(SetText(edit, "edited@example.org"));
            ASSERT_TRUE(way.Cancel(dialog, edit));
            ASSERT_TRUE(WaitForWindowGone(dialog));
            std::string stored;
            if (storedBefore) {
                EXPECT_TRUE(e2e::ReadUserString(e2e::NetSettingsKeyPath, "Mail", stored));
                EXPECT_EQ(stored, "old@example.org");
            } else {
                EXPECT_FALSE(e2e::UserValueExists(e2e::NetSettingsKeyPath, "Mail"));
            }
            EXPECT_TRUE(WaitFor([&] { return IsEnabledWindow(main); }));
        }
    }
}
