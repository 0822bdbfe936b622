// The dialog templates compiled into the program, read back from its resources.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

struct ControlTemplate {
    int id;
    std::string className;   // "#130" for a predefined class given by number
    std::string text;
    DWORD style;
    short x, y, cx, cy;
};

struct DialogTemplate {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    std::string caption;
    int pointSize;
    std::string font;
    std::vector<ControlTemplate> controls;   // in tab order
};

class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : At(data) {}
    template <typename T> T Read()
    {
        T value;
        std::memcpy(&value, At, sizeof value);
        At += sizeof value;
        return value;
    }
    // A name or class: a zero-terminated UTF-16 string, or 0xFFFF and a number.
    std::string ReadName()
    {
        WORD first = Read<WORD>();
        if (first == 0xFFFF)
            return "#" + std::to_string(Read<WORD>());
        std::string text;
        for (; first; first = Read<WORD>())
            text += first < 0x80 ? static_cast<char>(first) : '?';
        return text;
    }
    void AlignToDword()
    {
        At = reinterpret_cast<const BYTE*>((reinterpret_cast<UINT_PTR>(At) + 3) & ~UINT_PTR(3));
    }

private:
    const BYTE* At;
};

ControlTemplate ReadControl(TemplateReader& in, bool extended)
{
    ControlTemplate control{};
    in.AlignToDword();
    if (extended) {
        in.Read<DWORD>();   // help id
        in.Read<DWORD>();   // extended style
        control.style = in.Read<DWORD>();
    } else {
        control.style = in.Read<DWORD>();
        in.Read<DWORD>();
    }
    control.x = in.Read<short>();
    control.y = in.Read<short>();
    control.cx = in.Read<short>();
    control.cy = in.Read<short>();
    control.id = extended ? static_cast<int>(in.Read<DWORD>()) : static_cast<short>(in.Read<WORD>());
    control.className = in.ReadName();
    control.text = in.ReadName();
    const WORD extraBytes = in.Read<WORD>();
    for (WORD i = 0; i < extraBytes; ++i)
        in.Read<BYTE>();
    return control;
}

DialogTemplate LoadDialogTemplate(int id)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));   // RT_DIALOG
    if (!resource)
        return {};
    TemplateReader in(static_cast<const BYTE*>(LockResource(LoadResource(module, resource))));
    DialogTemplate dialog{};
    const DWORD first = in.Read<DWORD>();
    const bool extended = first == 0xFFFF0001;   // version 1, signature 0xFFFF
    if (extended) {
        in.Read<DWORD>();   // help id
        dialog.exStyle = in.Read<DWORD>();
        dialog.style = in.Read<DWORD>();
    } else {
        dialog.style = first;
        dialog.exStyle = in.Read<DWORD>();
    }
    const WORD count = in.Read<WORD>();
    dialog.x = in.Read<short>();
    dialog.y = in.Read<short>();
    dialog.cx = in.Read<short>();
    dialog.cy = in.Read<short>();
    in.ReadName();   // menu
    in.ReadName();   // class
    dialog.caption = in.ReadName();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = in.Read<WORD>();
        if (extended) {
            in.Read<WORD>();   // weight
            in.Read<WORD>();   // italic, character set
        }
        dialog.font = in.ReadName();
    }
    for (WORD i = 0; i < count; ++i)
        dialog.controls.push_back(ReadControl(in, extended));
    return dialog;
}

void ExpectControls(const DialogTemplate& dialog, const std::vector<ControlTemplate>& expected)
{
    ASSERT_EQ(dialog.controls.size(), expected.size()) << dialog.caption;
    for (size_t i = 0; i < expected.size(); ++i) {
        const ControlTemplate& got = dialog.controls[i];
        const ControlTemplate& want = expected[i];
        EXPECT_EQ(got.id, want.id) << dialog.caption << " control " << i;
        EXPECT_EQ(lstrcmpiA(got.className.c_str(), want.className.c_str()), 0) << got.className;
        EXPECT_EQ(got.text, want.text) << want.id;
        EXPECT_EQ(got.style, want.style) << std::hex << want.id << " " << got.style;
        EXPECT_EQ((std::vector<short>{got.x, got.y, got.cx, got.cy}),
                  (std::vector<short>{want.x, want.y, want.cx, want.cy})) << want.id;
    }
}

constexpr char Static[] = "#130";
constexpr char Button[] = "#128";
constexpr char Edit[] = "#129";

} // namespace

// What every dialog's header must say.
struct ExpectedHeader {
    int id;
    DWORD style, exStyle;
    short x, y, cx, cy;
    const char* caption;
    int pointSize;
    const char* font;
};

TEST(DialogTemplates, Headers)
{
    const ExpectedHeader headers[] = {
        {IDD_STATUS, 0x90C80840, 0x188, 0, 0, 202, 55, "Status", 8, "Arial"},
        {IDD_OPTIONS, 0x80C80848, 0x20188, 0, 0, 245, 95, "Options", 8, "MS Shell Dlg"},
        {IDD_ABOUT, WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 0, 22, 17, 230, 75, "About", 8, "System"},
    };
    for (const ExpectedHeader& want : headers) {
        const DialogTemplate got = LoadDialogTemplate(want.id);
        EXPECT_EQ(got.style, want.style) << want.id;
        EXPECT_EQ(got.exStyle, want.exStyle) << want.id;
        EXPECT_EQ((std::vector<short>{got.x, got.y, got.cx, got.cy}),
                  (std::vector<short>{want.x, want.y, want.cx, want.cy})) << want.id;
        EXPECT_EQ(got.caption, want.caption);
        EXPECT_EQ(got.pointSize, want.pointSize) << want.id;
        EXPECT_EQ(got.font, want.font) << want.id;
    }
}

TEST(DialogTemplates, StatusDialogControls)
{
    ExpectControls(LoadDialogTemplate(IDD_STATUS), {
        {IDC_STATUS_TEXT, Static, "Status", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 7, 7, 188, 28},
        {IDC_STATUS_PROGRESS, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 7, 37, 188, 11},
    });
}

TEST(DialogTemplates, OptionsDialogHasTheEditFirstAndNoCancelButton)
{
    ExpectControls(LoadDialogTemplate(IDD_OPTIONS), {
        {IDC_MAIL_EDIT, Edit, "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 57, 171, 14},
        {IDOK, Button, "OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 187, 7, 50, 14},
        {IDC_MAIL_NOTE, Static, "Static", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 7, 7, 171, 43},
    });
}

// The two text lines are free wording; the icon refers to an icon the resources lack.
TEST(DialogTemplates, AboutBoxControls)
{
    const DialogTemplate dialog = LoadDialogTemplate(IDD_ABOUT);
    ASSERT_EQ(dialog.controls.size(), 4u);
    EXPECT_EQ(dialog.controls[0].id, 2);
    EXPECT_EQ(dialog.controls[0].text, "#107");
    EXPECT_EQ(dialog.controls[0].style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
    EXPECT_EQ(dialog.controls[1].id, -1);
    EXPECT_EQ(dialog.controls[2].id, -1);
    const ControlTemplate& ok = dialog.controls[3];
    EXPECT_EQ(ok.id, IDOK);
    EXPECT_EQ(ok.text, "OK");
    EXPECT_EQ(ok.style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ((std::vector<short>{ok.x, ok.y, ok.cx, ok.cy}), (std::vector<short>{195, 6, 30, 11}));
}
