// The Options dialog as the player uses it: the mail address typed there lands in the registry.
#include "tests/e2e/fixtures.h"
#include "res/resource.h"

using namespace uidriver;

namespace {

class OptionsTest : public e2e::StarterTest {
protected:
    // Clicks Options on the main window and waits for the dialog.
    HWND OpenOptions(HWND main) { return ClickButton(main, IDC_OPTIONS) ? WaitForDialog("Options") : nullptr; }

    static std::string StoredMail()
    {
        std::string mail;
        return e2e::ReadUserString(e2e::NetSettingsKeyPath, "Mail", mail) ? mail : "<no value>";
    }
};

TEST_F(OptionsTest, OkStoresTheTypedAddressAsTypedAndTheDialogShowsItNextTime)
{
    HWND main = StartStarter();
    ASSERT_NE(main, nullptr);
    const std::string longText(300, 'm');
    const struct { std::string Typed, Stored; } cases[] = {
        {"ann.lee@example.org", "ann.lee@example.org"},
        {"  blanks stay  ", "  blanks stay  "},
        {"not a mail address", "not a mail address"},
        {longText, longText.substr(0, 255)},
        {"", ""},
    };
    std::string shown = "";   // nothing stored yet: the field starts empty
    for (const auto& c : cases) {
        SCOPED_TRACE("typed: '" + c.Typed + "'");
        HWND dialog = OpenOptions(main);
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(IsEnabledWindow(main));   // modal
        HWND edit = ChildById(dialog, IDC_MAIL_EDIT);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(TextOf(edit), shown);
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

TEST_F(OptionsTest, FirstOpeningShowsAnEmptyFieldAndTheNoteAndOkStoresAnEmptyValue)
{
    HWND main = StartStarter();
    ASSERT_NE(main, nullptr);
    HWND dialog = OpenOptions(main);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(TextOf(ChildById(dialog, IDC_MAIL_EDIT)), "");
    const std::string note = TextOf(ChildById(dialog, IDC_MAIL_NOTE));
    EXPECT_EQ(note, e2e::LangText(15));
    EXPECT_GT(note.size(), 20u);
    EXPECT_FALSE(e2e::UserValueExists(e2e::NetSettingsKeyPath, "Mail"));

    ASSERT_TRUE(ClickButton(dialog, IDOK));
    ASSERT_TRUE(WaitForWindowGone(dialog));
    EXPECT_EQ(StoredMail(), "");
}

}  // namespace
