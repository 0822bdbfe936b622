// The Win32 layer of app/ and app/base/ in-process: the localized texts, the language and game
// lookup, the main window's commands, the wait cursor and
// starting a program that wants elevation.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/base/action_scope.h"
#include "app/base/app_state.h"
#include "app/base/lang_text.h"
#include "app/base/wait_cursor.h"
#include "app/game_lookup.h"
#include "app/language.h"
#include "app/main_window.h"
#include "app/start_program.h"
#include "tests/support/simulated_drive.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/app_scope.h"
#include "tests/wine/registry_values.h"
#include "tests/wine/test_window.h"
#include "tools/standins/standin_log.h"

using testsupport::TempFolder;

// ---- Localized texts (app/base/lang_text.cpp)

namespace {
// Keeps the texts' App fields as the test found them.
class LangText : public testing::Test {
protected:
    AppScope Saved;
};

std::string Text(int32_t language, int baseId)
{
    App.LanguageIndex = language;
    return LoadLangString(baseId);
}

const char InternalError[] = "Internal error";
}

// Under Wine the ANSI code page is 1252: the UTF-8 resource text arrives as these bytes.
TEST_F(LangText, EachLanguageReadsItsBlock)
{
    struct Case { int32_t language; int baseId; const char* text; };
    const Case cases[] = {
        {0, IDS_TRANSFER_ERROR, "Es ist ein Fehler bei der Internet-\xDC" "bertragung aufgetreten."},
        {1, IDS_TRANSFER_ERROR, "An error occured during the the data transfer."},
        {2, IDS_TRANSFER_ERROR, "Une erreur s'est produite pendant le transfert internet."},
        {0, IDS_ERROR_WORD, "Fehler:"},
        {2, IDS_ERROR_WORD, "Erreur :"},
        {1, IDS_CONNECTING_NET, "Connecting to internet\x85"},
        {2, IDS_OPENING_FILE, "R\xE9" "ception du ficher\x85"},
        {0, IDS_RELIABILITY_FIRST + 3, "m\xE4\xDFig"},
        {2, IDS_COL_COSTS, "Co\xFBts"},
        {1, IDS_RANK_TOP, "Gratulation!!\r\nYou are on position %s of the official ranking list !"},
        {1, IDS_DESC_DEFAULT, "156"},
        {2, IDS_DESC_EXIT, "164"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(c.language, c.baseId), c.text) << c.language << " " << c.baseId;

    const std::string note = Text(1, IDS_MAIL_NOTE);
    EXPECT_EQ(note.back(), ' ');
    EXPECT_NE(note.find("internet.\r\nIf you"), std::string::npos);
}

TEST_F(LangText, MissingRowsFallBackToGermanThenInternalError)
{
    const std::string german = "Die Grafik-Library 'starter.dll' konnte nicht gelanden werden";
    struct Case { int32_t language; int baseId; std::string text; };
    const Case cases[] = {
        {2, IDS_NO_LIBRARY, german},
        {1, IDS_NO_LIBRARY, "The grafic library 'starter.dll' could not be found."},
        {49, IDS_NO_LIBRARY, german},   // a language file holding the digit '1'
        {-1, IDS_NO_LIBRARY, german},   // an empty language file
        {-2, IDS_NO_LIBRARY, german},
        {255, IDS_NO_GAME, "Das Spiel 'Skyvora' wurde leider nicht gefunden."},
        // 8193 blocks up, the id's low 16 bits would name English row 30.
        {8193, IDS_NO_LIBRARY, german},
        {INT32_MAX, IDS_NO_LIBRARY, german},
        {INT32_MIN, IDS_NO_LIBRARY, german},
        {0, 10099, InternalError},
        {1, 10034, InternalError},
        {2, 10058, InternalError},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(c.language, c.baseId), c.text) << c.language << " " << c.baseId;
}

TEST_F(LangText, OneBufferZeroedBeforeEachLoad)
{
    App.LanguageIndex = 1;
    const char* first = LoadLangString(IDS_MAIL_NOTE);
    const std::size_t longLength = std::strlen(first);
    const char* second = LoadLangString(IDS_ERROR_WORD);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, App.TextBuffer);
    EXPECT_STREQ(first, "Error:");
    for (std::size_t i = std::strlen(second); i < longLength; ++i)
        ASSERT_EQ(App.TextBuffer[i], '\0') << i;
}

TEST_F(LangText, OwnModuleUntilTheInstanceIsKnown)
{
    App.Instance = nullptr;
    EXPECT_EQ(Text(1, IDS_ERROR_WORD), "Error:");
    EXPECT_EQ(LoadFixedString(IDS_ERROR_CAPTION), "Error");
    EXPECT_EQ(LoadFixedString(IDS_LINE_LABEL), "Line:");
    EXPECT_EQ(LoadFixedString(IDS_FILE_LABEL), "File:");
    EXPECT_EQ(LoadFixedString(9999), "");

    char title[TitleBufferSize] = {};
    ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), IDS_APP_TITLE, title, sizeof title), 0);
    EXPECT_STREQ(title, "SKV_Starter");
    ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), IDS_CLASS_NAME, title, sizeof title), 0);
    EXPECT_STREQ(title, "SKV_Starter");
}

namespace {
// A copy of this program whose only resource is one string block, loaded as data.
class StringModule {
public:
    StringModule(int id, const std::wstring& text)
    {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        Path = std::string(temp) + "frame_strings_" + std::to_string(GetCurrentProcessId()) + ".dll";
        if (!CopyFileA(self, Path.c_str(), FALSE))
            return;
        // A block holds 16 counted strings; all but ours are empty.
        std::vector<WCHAR> block;
        for (int slot = 0; slot < 16; ++slot) {
            if (slot != id % 16) {
                block.push_back(0);
                continue;
            }
            block.push_back(static_cast<WCHAR>(text.size()));
            block.insert(block.end(), text.begin(), text.end());
        }
        HANDLE update = BeginUpdateResourceA(Path.c_str(), TRUE);
        if (!update)
            return;
        UpdateResourceA(update, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(id / 16 + 1),
                        MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), block.data(),
                        static_cast<DWORD>(block.size() * sizeof(WCHAR)));
        if (EndUpdateResourceA(update, FALSE))
            Module = LoadLibraryExA(Path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ~StringModule()
    {
        if (Module)
            FreeLibrary(Module);
        DeleteFileA(Path.c_str());
    }
    HMODULE Module = nullptr;

private:
    std::string Path;
};
}

TEST_F(LangText, LongTextsAreCutAt4095AndTerminated)
{
    struct Case { std::size_t length; std::size_t loaded; };
    const Case cases[] = {{4094, 4094}, {4095, 4095}, {4096, 4095}, {6000, 4095}};
    for (const Case& c : cases) {
        std::wstring text(c.length, L'a');
        text.back() = L'z';
        StringModule strings(10090, text);
        ASSERT_NE(strings.Module, nullptr) << "could not build the string module";
        App.Instance = reinterpret_cast<HINSTANCE>(strings.Module);
        App.LanguageIndex = 0;
        const char* loaded = LoadLangString(10090);
        EXPECT_EQ(std::strlen(loaded), c.loaded) << c.length;
        EXPECT_EQ(App.TextBuffer[TextBufferSize - 1], '\0');
        EXPECT_EQ(loaded[c.loaded - 1], c.loaded == c.length ? 'z' : 'a') << c.length;
        // The texts come from App.Instance alone: rows of our own module are not there.
        EXPECT_EQ(Text(1, IDS_ERROR_WORD), InternalError);
        App.Instance = Saved.Before().Instance;
    }
}

// ---- Language and game lookup (app/); they work on App's folders, which the fixtures keep as found

namespace {
class AppFolders : public testing::Test {
protected:
    AppScope Saved;
};

constexpr char MakerKey[] = "Software\\Brightmoor Software\\Skyvora\\1.0";
constexpr char PublisherKey[] = "Software\\Larkspire\\SKV";

std::string WithZero(const std::string& text)
{
    return text + '\0';
}
}

class Language : public AppFolders {};

TEST_F(Language, SourcesInOrderOfPrecedence)
{
    using File = std::optional<std::string>;
    const File none;
    const File zero = std::string(1, '\0');
    struct Case { File autorun, starterByte, gameByte; bool gameFound; int32_t language; };
    const Case cases[] = {
        {"[config]\r\nlang=2\r\n", zero, zero, true, 2},
        {"[config]\r\nlang=0\r\n", none, none, true, 0},
        {"[config]\r\nlang=fr\r\n", "\x02", none, true, 0},
        {"[config]\r\nlang=\r\n", zero, none, true, 0},        // empty value: absent
        {"[setup]\r\nlang=2\r\n", "\x02", none, true, 2},     // other section: absent
        {none, "1", none, true, 49},                           // a digit, not a byte value
        {none, "", "\x02", true, -1},                          // empty file in the Starter's folder
        {none, "\x02", zero, true, 2},                         // the Starter's folder first
        {none, none, zero, true, 0},
        {none, none, "\xFE", true, 254},
        {none, none, none, true, 1},
        {none, none, none, false, 1},
    };
    for (const Case& c : cases) {
        TempFolder starter;
        TempFolder game;
        if (c.autorun)
            starter.Write("autorun.inf", *c.autorun);
        if (c.starterByte)
            starter.Write("misc\\sabbel.dat", *c.starterByte);
        if (c.gameByte)
            game.Write("misc\\sabbel.dat", *c.gameByte);
        std::strcpy(App.StarterDir, (starter.Path() + "\\").c_str());
        std::strcpy(App.GamePath, c.gameFound ? game.Path().c_str() : "");
        App.LanguageIndex = 7;
        ReadLanguage();
        EXPECT_EQ(App.LanguageIndex, c.language) << c.autorun.value_or("-") << " starter " << c.starterByte.has_value()
                                                 << " game " << c.gameByte.has_value();
    }
}

// ---- Game lookup

class GameLookup : public AppFolders {
protected:
    void SetUp() override
    {
        AppFolders::SetUp();
        DeleteKeyTree(MakerKey);
        DeleteKeyTree(PublisherKey);
        Game.Write(GameProgram, "stand-in");
    }
    void TearDown() override
    {
        DeleteKeyTree(MakerKey);
        DeleteKeyTree(PublisherKey);
        AppFolders::TearDown();
    }
    TempFolder Game;
    TempFolder Elsewhere;   // no ZP.EXE
};

TEST_F(GameLookup, StarterDirIsOurOwnFolder)
{
    FindGame();
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    const std::string starterDir = App.StarterDir;
    ASSERT_FALSE(starterDir.empty());
    EXPECT_EQ(starterDir.back(), '\\');
    const std::string modulePath = module;
    EXPECT_EQ(starterDir + modulePath.substr(modulePath.find_last_of('\\') + 1), modulePath);
}

TEST_F(GameLookup, RegistryValuesInOrder)
{
    // Placeholders: G the game folder, E a folder without the game, C a CD-ROM and R a
    // removable drive that both hold the game, U the game folder in Wine's \\?\unix form.
    TempFolder media;
    media.Write(GameProgram, "stand-in");
    SimulatedDrive cdrom(DRIVE_CDROM, media.UnixPath());
    SimulatedDrive removable(DRIVE_REMOVABLE, media.UnixPath());
    ASSERT_FALSE(cdrom.Root.empty());
    ASSERT_FALSE(removable.Root.empty());
    ASSERT_EQ(GetDriveTypeA(cdrom.Root.c_str()), static_cast<UINT>(DRIVE_CDROM));
    ASSERT_EQ(GetDriveTypeA(removable.Root.c_str()), static_cast<UINT>(DRIVE_REMOVABLE));
    std::string unixForm = "\\\\?\\unix" + Game.UnixPath();   // no drive root in its first three characters
    std::replace(unixForm.begin(), unixForm.end(), '/', '\\');

    auto expand = [&](const std::string& text) {
        if (text.empty())
            return text;
        const std::string rest = text.substr(1);
        switch (text[0]) {
        case 'G': return Game.Path() + rest;
        case 'E': return Elsewhere.Path() + rest;
        case 'C': return cdrom.Root + rest;
        case 'R': return removable.Root + rest;
        case 'U': return unixForm + rest;
        default: return text;
        }
    };
    struct Case { const char* maker; DWORD makerType; const char* publisher; const char* found; bool publisherRead; };
    const Case cases[] = {
        {"G", REG_SZ, nullptr, "G", false},
        {"G\\", REG_SZ, "E", "G\\", false},
        {"G/", REG_SZ, nullptr, "G/", false},
        {"E", REG_SZ, "G", "G", true},
        {nullptr, REG_SZ, "G\\", "G\\", true},
        {"", REG_SZ, "G", "G", true},
        {"G", REG_EXPAND_SZ, nullptr, "", true},
        {"C", REG_SZ, "G", "G", true},
        {"C", REG_SZ, nullptr, "", true},
        {"R", REG_SZ, "R\\", "", true},
        {"U", REG_SZ, nullptr, "U", false},
        {nullptr, REG_SZ, nullptr, "", true},
    };
    for (const Case& c : cases) {
        DeleteKeyTree(MakerKey);
        DeleteKeyTree(PublisherKey);
        if (c.maker)
            WriteValue(MakerKey, "&AppPath", c.makerType, WithZero(expand(c.maker)));
        if (c.publisher)
            WriteValue(PublisherKey, "Path", REG_SZ, WithZero(expand(c.publisher)));
        FindGame();
        const std::string label = std::string(c.maker ? c.maker : "-") + " / " + (c.publisher ? c.publisher : "-");
        EXPECT_EQ(App.GamePath, expand(c.found)) << label;
        EXPECT_TRUE(KeyExists(MakerKey)) << label;
        // Reading creates the keys, never a value.
        EXPECT_EQ(KeyExists(PublisherKey), c.publisherRead || c.publisher) << label;
        EXPECT_EQ(QueryValue(MakerKey, "&AppPath").Result == ERROR_SUCCESS, c.maker != nullptr) << label;
        EXPECT_EQ(QueryValue(PublisherKey, "Path").Result == ERROR_SUCCESS, c.publisher != nullptr) << label;
    }
}

TEST_F(GameLookup, UsableFolders)
{
    TempFolder media;
    media.Write("ZP.EXE\\inside", "a folder of that name counts too");
    SimulatedDrive cdrom(DRIVE_CDROM, Game.UnixPath());
    ASSERT_FALSE(cdrom.Root.empty());
    struct Case { std::string folder; bool usable; };
    const Case cases[] = {
        {Game.Path(), true},
        {Game.Path() + "\\", true},
        {media.Path(), true},
        {Elsewhere.Path(), false},
        {cdrom.Root, false},
        {"Q:\\NoSuchDrive", false},
        {"\\\\nosuchserver\\share", false},
        {"Z:\\" + std::string(4090, 'a'), false},   // does not fit with the file name: refused
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsUsableGameFolder(c.folder.c_str(), GameProgram), c.usable) << c.folder.substr(0, 80);
}

// ---- The main window's commands and the wait cursor (app/main_window.cpp, app/base/)

namespace {
constexpr char TestMainClass[] = "AppTestMain";

// Hidden windows of the main window's procedure; each test's windows go with it, and so does
// the quit message that their destruction posts.
class MainWindow : public testing::Test {
protected:
    static void SetUpTestSuite() { RegisterTestClass(TestMainClass, MainWindowProc); }
    void TearDown() override
    {
        for (HWND window : Made)
            if (IsWindow(window))
                DestroyWindow(window);
        MSG message;
        while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    HWND Create()
    {
        Made.push_back(CreateWindowExA(0, TestMainClass, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                       GetModuleHandleA(nullptr), nullptr));
        return Made.back();
    }
    AppScope Saved;
    std::vector<HWND> Made;
};
}

// Exit acts also while an action runs (its quit is carried out once the action ends).
TEST_F(MainWindow, ExitCommandsDestroyTheWindowAndQuitWithZero)
{
    for (bool during : {false, true}) {
        for (WORD command : {WORD(IDC_EXIT), WORD(IDM_EXIT)}) {
            std::optional<ActionScope> action;
            if (during)
                action.emplace();
            HWND window = Create();
            ASSERT_NE(window, nullptr);
            EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0), 0);
            EXPECT_FALSE(IsWindow(window)) << command << (during ? " during an action" : "");
            MSG message;
            ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << command;
            EXPECT_EQ(message.wParam, 0u);
        }
    }
}

// The commands that a running action's message pumps bring in are ignored, Exit aside: here
// Cancel, which would close the open browser under the action.
TEST_F(MainWindow, DuringAnActionOtherCommandsAreIgnored)
{
    HWND main = Create();
    App.MainWindow = main;
    App.BrowserMode = 1;
    {
        ActionScope action;
        EXPECT_EQ(SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), 0);
        EXPECT_EQ(App.BrowserMode, 1);
    }
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(App.BrowserMode, 0);
}

TEST_F(MainWindow, WaitCursorRestoresTheCursorOnEveryPath)
{
    HWND main = Create();
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

// Starting the installer where the system wants elevation for it. Wine gives every process a
// full token and never refuses with ERROR_ELEVATION_REQUIRED, so the creation call is ours.
namespace {
DWORD Refusal = 0;

BOOL WINAPI RefusingCreate(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                           LPSTARTUPINFOA, LPPROCESS_INFORMATION)
{
    SetLastError(Refusal);
    return FALSE;
}

// The elevation prompt, answered No by the player.
BOOL WINAPI DecliningShell(SHELLEXECUTEINFOA*)
{
    SetLastError(ERROR_CANCELLED);
    return FALSE;
}
}

TEST(Launch, OnlyARefusalForElevationGoesThroughTheShell)
{
    const char* standin = std::getenv("STARTER_SETUP_STANDIN");
    ASSERT_NE(standin, nullptr) << "STARTER_SETUP_STANDIN is not set";
    const testsupport::TempFolder temp("skv-launch");
    const std::string folder = temp.File("Setup Disk");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(standin, (folder + "\\SETUP.EXE").c_str(), FALSE));

    // Only an elevated start that failed otherwise than by the player's No is shown.
    struct Case { const char* program; DWORD refusal; ShellExecuteCall shell; bool started, throughShell; DWORD error;
                  bool shown; };
    const Case cases[] = {
        {"SETUP.EXE", ERROR_ACCESS_DENIED, ShellExecuteExA, false, false, ERROR_ACCESS_DENIED, false},
        {"MISSING.EXE", ElevationRequired, ShellExecuteExA, false, true, ERROR_FILE_NOT_FOUND, true},
        {"SETUP.EXE", ElevationRequired, DecliningShell, false, true, ERROR_CANCELLED, false},
        {"SETUP.EXE", ElevationRequired, ShellExecuteExA, true, true, 0, false},
    };
    for (const Case& c : cases) {
        Refusal = c.refusal;
        LaunchCommand launch;
        ASSERT_TRUE(PrepareLaunch(folder.c_str(), c.program, launch));
        const ProgramStart start = StartProgram(launch, RefusingCreate, c.shell);
        EXPECT_EQ(start.Started, c.started) << c.program << ", refused with " << c.refusal;
        EXPECT_EQ(start.ThroughShell, c.throughShell) << c.program << ", refused with " << c.refusal;
        EXPECT_EQ(start.Error, c.error) << c.program << ", refused with " << c.refusal;
        EXPECT_EQ(StartFailureIsShown(start), c.shown) << c.program << ", refused with " << c.refusal;
        if (start.Process) {
            EXPECT_EQ(WaitForSingleObject(start.Process, 30000), WAIT_OBJECT_0);
            CloseHandle(start.Process);
        }
    }

    // One run, the shell's, of the same file in its own folder: the other refusal started nothing.
    const std::vector<StandinRun> runs = ReadStandinLog(folder + "\\SETUP.EXE.log");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Exe, folder + "\\SETUP.EXE");
    EXPECT_EQ(runs[0].WorkingFolder, folder);
}
