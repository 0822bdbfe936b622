// What a screen reader learns of the Starter's windows, asked in-process as one asks: through
// AccessibleObjectFromWindow, which sends WM_GETOBJECT. Wine has no screen reader, so what one
// says can only be heard on Windows; the names, descriptions, roles and states are checked here.
#include <windows.h>
#include <oleacc.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/base/app_state.h"
#include "app/base/lang_text.h"
#include "res/resource.h"
#include "tests/wine/starter_window.h"

namespace {
class Asked {
public:
    explicit Asked(HWND window)
    {
        AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                   reinterpret_cast<void**>(&Object));
    }
    ~Asked()
    {
        if (Object)
            Object->Release();
    }
    Asked(const Asked&) = delete;
    Asked& operator=(const Asked&) = delete;

    bool Answered() const { return Object != nullptr; }
    std::wstring Name() const { return Text(&IAccessible::get_accName); }
    std::wstring Description() const { return Text(&IAccessible::get_accDescription); }
    long Role() const { return Number(&IAccessible::get_accRole); }
    long State() const { return Number(&IAccessible::get_accState); }

private:
    static VARIANT Self()
    {
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        return self;
    }
    std::wstring Text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*)) const
    {
        BSTR text = nullptr;
        if (!Object || (Object->*get)(Self(), &text) != S_OK || !text)
            return L"<none>";
        std::wstring copy(text, SysStringLen(text));
        SysFreeString(text);
        return copy;
    }
    long Number(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*)) const
    {
        VARIANT value;
        VariantInit(&value);
        if (!Object || FAILED((Object->*get)(Self(), &value)) || value.vt != VT_I4)
            return -1;
        return value.lVal;
    }

    IAccessible* Object = nullptr;
};

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());   // for messages only
}
}

TEST(Accessibility, EveryButtonIsANamedPushButtonInTheGamesLanguage)
{
    struct Row { int row; const wchar_t* names[3]; };   // German, English, French
    const Row rows[] = {
        {PlayRow, {L"Spielen", L"Play", L"Jouer"}},
        {HiscoreRow, {L"Highscore hochladen", L"Upload hiscore", L"Envoyer le meilleur score"}},
        {DownloadRow, {L"Entwurf herunterladen", L"Download a design", L"Télécharger un modèle"}},
        {UploadRow, {L"Entwurf hochladen", L"Upload a design", L"Partager un modèle"}},
        {OptionsRow, {L"Optionen", L"Options", L"Options"}},
        {ExitRow, {L"Beenden", L"Exit", L"Quitter"}},
        {OkRow, {L"OK", L"OK", L"OK"}},
        {CancelRow, {L"Abbrechen", L"Cancel", L"Annuler"}},
        {PageBackRow, {L"Vorige Seite", L"Previous page", L"Page précédente"}},
        {PageForwardRow, {L"Nächste Seite", L"Next page", L"Page suivante"}},
    };
    std::set<std::wstring> descriptions;
    for (int language = 0; language < 3; ++language) {
        StarterWindow starter(language);
        ASSERT_TRUE(starter.Made);
        for (const Row& row : rows) {
            SCOPED_TRACE("row " + std::to_string(row.row) + ", language " + std::to_string(language));
            HWND button = starter.Button(row.row);
            // The window text stays the picture number that stored tools may read.
            char text[32] = {};
            GetWindowTextA(button, text, sizeof text);
            if (row.row < OkRow) {
                EXPECT_EQ(std::string(text), LoadLangString(App.ButtonTable[row.row].descriptionText));
            }
            Asked asked(button);
            ASSERT_TRUE(asked.Answered());
            EXPECT_EQ(asked.Name(), row.names[language]);
            EXPECT_EQ(asked.Role(), ROLE_SYSTEM_PUSHBUTTON);
            const std::wstring description = asked.Description();
            EXPECT_GT(description.size(), asked.Name().size()) << Narrow(description);
            descriptions.insert(description);
            EXPECT_EQ(asked.State() & (STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE), STATE_SYSTEM_FOCUSABLE);
            EnableWindow(button, FALSE);
            EXPECT_EQ(Asked(button).State() & (STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE),
                      STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE);
        }
    }
    EXPECT_EQ(descriptions.size(), 30u) << "a description repeats another button's or language's";
    StarterWindow english;
    EXPECT_EQ(Asked(english.Button(PlayRow)).Description(), L"Start Skyvora, or bring a running game to the front.");
}

// The window is named by its title, the description picture by the sentence it shows.
TEST(Accessibility, TheWindowAndTheDescriptionSayWhatTheyShow)
{
    StarterWindow starter;
    ASSERT_TRUE(starter.Made);
    EXPECT_EQ(Asked(App.MainWindow).Name(), L"SKV_Starter v1.02");
    EXPECT_EQ(Asked(App.DescriptionWindow).Name(),
              L"This is the Starter for Skyvora. Point at a button to see what it does.");
    EXPECT_EQ(Asked(App.DescriptionWindow).Role(), ROLE_SYSTEM_STATICTEXT);
    const std::wstring hiscore = L"Upload your best score and see the rank it reached.";
    SendMessageA(starter.Button(HiscoreRow), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    UpdateWindow(App.DescriptionWindow);
    EXPECT_EQ(Asked(App.DescriptionWindow).Name(), hiscore);
    // The browser's buttons have no picture of their own there: the last one stays.
    SendMessageA(starter.Button(OkRow), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    UpdateWindow(App.DescriptionWindow);
    EXPECT_EQ(Asked(App.DescriptionWindow).Name(), hiscore);
}
