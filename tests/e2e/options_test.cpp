// The Options dialog as the player uses it, with the mouse and with the keyboard alone: the mail
// address typed there lands in the registry, every way of cancelling stores nothing, and a key
// that cannot be written changes nothing else.
#include <windows.h>
#include <sddl.h>
#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"
#include "tests/e2e/fixtures.h"

using namespace uidriver;

namespace {

class Options : public e2e::BrowserTest {
protected:
    // Clicks Options on the main window and waits for the dialog.
    HWND OpenOptions(HWND main) { return ClickButton(main, IDC_OPTIONS) ? WaitForDialog("Options") : nullptr; }

    static std::string StoredMail()
    {
        std::string mail;
        return e2e::ReadUserString(e2e::NetSettingsKeyPath, "Mail", mail) ? mail : "<no value>";
    }
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

// A registry key of the current user that can be read but not written.
class ReadOnlyKey {
public:
    explicit ReadOnlyKey(const char* path) : Path(path) { Applied = SetDacl("D:P(A;;KR;;;WD)"); }
    ~ReadOnlyKey() { SetDacl("D:P(A;;KA;;;WD)"); }
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;
    bool Writable() const
    {
        HKEY key = nullptr;
        const bool opened = RegOpenKeyExA(HKEY_CURRENT_USER, Path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS;
        if (key)
            RegCloseKey(key);
        return opened;
    }
    bool Applied = false;

private:
    bool SetDacl(const char* sddl)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, Path, 0, nullptr, 0, READ_CONTROL | WRITE_DAC, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return false;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        bool done = ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
                    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
        LocalFree(descriptor);
        RegCloseKey(key);
        return done;
    }
    const char* Path;
};

}  // namespace

// The first opening shows an empty field and the note; each OK stores the field as typed (cut to
// 255 characters), an empty one too, and the next opening shows what was stored.
TEST_F(Options, OkStoresTheTypedAddressAsTypedAndTheDialogShowsItNextTime)
{
    HWND main = StartStarter();
    ASSERT_NE(main, nullptr);
    const std::string longText(300, 'm');
    const struct { std::string Typed, Stored; } cases[] = {
        {"", ""},
        {"ann.lee@example.org", "ann.lee@example.org"},
        {"  blanks stay  ", "  blanks stay  "},
        {"not a mail address", "not a mail address"},
        {longText, longText.substr(0, 255)},
        {"", ""},
    };
    std::string shown = "";   // nothing stored yet: the field starts empty
    bool first = true;
    for (const auto& c : cases) {
        SCOPED_TRACE("typed: '" + c.Typed + "'");
        HWND dialog = OpenOptions(main);
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(IsEnabledWindow(main));   // modal
        HWND edit = ChildById(dialog, IDC_MAIL_EDIT);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(TextOf(edit), shown);
        if (first) {
            const std::string note = TextOf(ChildById(dialog, IDC_MAIL_NOTE));
            EXPECT_EQ(note, e2e::LangText(15));
            EXPECT_GT(note.size(), 20u);
            EXPECT_FALSE(e2e::UserValueExists(e2e::NetSettingsKeyPath, "Mail"));
            first = false;
        }
        ASSERT_TRUE(SetText(edit, ""));
        ASSERT_TRUE(TypeText(edit, c.Typed));
        ASSERT_TRUE(WaitFor([&] { return TextOf(edit) == c.Typed; }));
        ASSERT_TRUE(ClickButton(dialog, IDOK));
        ASSERT_TRUE(WaitForWindowGone(dialog));
        EXPECT_EQ(StoredMail(), c.Stored);
        EXPECT_TRUE(WaitFor([&] { return IsEnabledWindow(main); }));
        shown = c.Stored;
    }
}

// The field is first in the tab order, so the player can type at once; Enter is OK.
TEST_F(Options, KeyboardAloneTypesIntoTheFieldAndEnterStores)
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
TEST_F(Options, CancellingStoresNothing)
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

// The Options OK closes the dialog as always, without a box, and the Hiscore command still works.
TEST_F(Options, TheRegistryKeyCannotBeWritten)
{
    e2e::GameServer server;
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    ReadOnlyKey key(e2e::NetSettingsKeyPath);
    ASSERT_TRUE(key.Applied);
    ASSERT_FALSE(key.Writable());
    StartWith(server);

    HWND dialog = OpenOptions(Main);
    ASSERT_NE(dialog, nullptr);
    HWND edit = ChildById(dialog, IDC_MAIL_EDIT);
    ASSERT_TRUE(SetText(edit, "ann@example.org"));
    ASSERT_TRUE(ClickButton(dialog, IDOK));
    EXPECT_TRUE(WaitForWindowGone(dialog));
    EXPECT_TRUE(WaitFor([&] { return IsEnabledWindow(Main); }));
    ExpectNoBox();
    EXPECT_FALSE(e2e::UserValueExists(e2e::NetSettingsKeyPath, "Mail"));

    // The server settings cannot be stored either; the Hiscore command still works.
    const MessageBoxInfo box = Press(IDC_HISCORE, "Hiscore");
    ASSERT_NE(box.Window, nullptr);
    Dismiss(box);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].Target, "/php/_addscore.php?data=Ann;5;");
    ExpectCleanExit();
}
