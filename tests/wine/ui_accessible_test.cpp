// What a screen reader learns of the Starter's windows, asked in-process as one asks: through
// AccessibleObjectFromWindow, which sends WM_GETOBJECT. What a reader says can only be heard on
// Windows; the names, descriptions, roles and states are checked here.
#include <windows.h>
#include <oleacc.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/base/app_state.h"
#include "tests/wine/starter_window.h"

namespace {
struct Facts {
    std::wstring Name, Description;
    long Role = -1, State = -1;
};

Facts Ask(HWND window)
{
    Facts facts;
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object))))
        return facts;
    VARIANT self = {}, value = {};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    if (object->get_accName(self, &text) == S_OK)
        facts.Name.assign(text, SysStringLen(text));
    SysFreeString(text);
    text = nullptr;
    if (object->get_accDescription(self, &text) == S_OK)
        facts.Description.assign(text, SysStringLen(text));
    SysFreeString(text);
    if (SUCCEEDED(object->get_accRole(self, &value)) && value.vt == VT_I4)
        facts.Role = value.lVal;
    if (SUCCEEDED(object->get_accState(self, &value)) && value.vt == VT_I4)
        facts.State = value.lVal & (STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE);
    object->Release();
    return facts;
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
            const Facts facts = Ask(starter.Button(row.row));
            EXPECT_EQ(facts.Name, row.names[language]);
            EXPECT_EQ(facts.Role, ROLE_SYSTEM_PUSHBUTTON);
            EXPECT_EQ(facts.State, STATE_SYSTEM_FOCUSABLE);
            EXPECT_GT(facts.Description.size(), facts.Name.size());
            descriptions.insert(facts.Description);
            EnableWindow(starter.Button(row.row), FALSE);
            EXPECT_EQ(Ask(starter.Button(row.row)).State, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE);
        }
        if (language == 1) {
            EXPECT_EQ(Ask(starter.Button(PlayRow)).Description, L"Start Skyvora, or bring a running game to the front.");
        }
    }
    EXPECT_EQ(descriptions.size(), 30u) << "a description repeats another button's or language's";
}

// The window is named by its title, the description picture by the sentence it shows.
TEST(Accessibility, TheWindowAndTheDescriptionSayWhatTheyShow)
{
    StarterWindow starter;
    ASSERT_TRUE(starter.Made);
    const std::wstring welcome = L"This is the Starter for Skyvora. Point at a button to see what it does.";
    const std::wstring hiscore = L"Upload your best score and see the rank it reached.";
    EXPECT_EQ(Ask(App.MainWindow).Name, L"SKV_Starter v1.02");
    EXPECT_EQ(Ask(App.DescriptionWindow).Name, welcome);
    EXPECT_EQ(Ask(App.DescriptionWindow).Role, ROLE_SYSTEM_STATICTEXT);
    // Hiscore's picture; the browser's buttons have none, so it stays.
    for (int row : {HiscoreRow, OkRow}) {
        SendMessageA(starter.Button(row), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        UpdateWindow(App.DescriptionWindow);
        EXPECT_EQ(Ask(App.DescriptionWindow).Name, hiscore) << "row " << row;
    }
    // The window texts stay the picture numbers that stored tools may read.
    char text[16] = {};
    GetWindowTextA(starter.Button(PlayRow), text, sizeof text);
    EXPECT_STREQ(text, "155");
}
