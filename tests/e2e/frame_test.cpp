// Start-up without the picture library, the hand-over to setup and to the game, and a game
// that already runs: the real Starter.exe driven from outside.
#include <gtest/gtest.h>

#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/fixtures.h"
#include "tests/support/simulated_drive.h"

using namespace e2e;

namespace {
constexpr DWORD ExitTimeoutMs = 20000;
constexpr char GameClass[] = "AfxFrameOrView42s";
constexpr char GameTitle[] = "Zephyrion";

class Frame : public StarterTest {
protected:
    DWORD ExitCode()
    {
        DWORD code = 99;
        EXPECT_TRUE(Starter.WaitForExit(ExitTimeoutMs, &code)) << "the Starter did not end";
        return code;
    }

    std::vector<HWND> WindowsOfStarter(const char* className)
    {
        uidriver::WindowQuery query;
        query.ClassName = className;
        query.ProcessId = Starter.Pid();
        query.VisibleOnly = false;
        return uidriver::FindTopWindows(query);
    }

    void PressPlay()
    {
        HWND main = StartStarter();
        ASSERT_NE(main, nullptr);
        ASSERT_TRUE(uidriver::ClickButton(main, IDC_PLAY));
    }
};
}

TEST_F(Frame, MissingLibraryShowsOneBoxInTheChosenLanguageAndEnds)
{
    // Wine's code page 1252; 126: the module was not found.
    const std::string english = "The grafic library 'starter.dll' could not be found.\r\n\r\nError:\t126";
    const std::string german = "Die Grafik-Library 'starter.dll' konnte nicht gelanden werden\r\n\r\n";
    const std::string tail = "\r\nLine:\t217\r\nFile:\tstarter";
    struct Case { std::string autorun; std::string gameLanguageFile; std::string text; };
    const Case cases[] = {
        {"", "", english + tail},
        {"", std::string(1, '\0'), german + "Fehler:\t126" + tail},
        {"2", "", german + "Erreur :\t126" + tail},   // no French row: the German text
    };
    for (const Case& c : cases) {
        Install = std::make_unique<GameInstall>();
        ASSERT_TRUE(DeleteFileA(Install->StarterFile("starter.dll").c_str()));
        if (!c.autorun.empty()) {
            ASSERT_TRUE(Install->WriteAutorun(c.autorun));
        }
        if (!c.gameLanguageFile.empty()) {
            ASSERT_TRUE(Install->WriteLanguageFile(c.gameLanguageFile));
        }
        ASSERT_TRUE(Starter.Start(*Install));

        const uidriver::MessageBoxInfo box = uidriver::WaitForMessageBox(Starter.Pid(), ExitTimeoutMs);
        ASSERT_NE(box.Window, nullptr) << "no error box";
        EXPECT_EQ(box.Caption, "Error");
        EXPECT_EQ(box.Text, c.text);
        EXPECT_EQ(uidriver::OwnerOf(box.Window), nullptr);
        EXPECT_EQ(WindowsOfStarter("#32770").size(), 1u);
        EXPECT_TRUE(WindowsOfStarter("SKV_Starter").empty()) << "a main window before the library";

        // Answering the one box ends the process: no second box can follow.
        uidriver::AnswerMessageBox(box.Window);
        EXPECT_EQ(ExitCode(), 0u);
        Starter.Kill();
    }
}

TEST_F(Frame, WithoutTheGameSetupStartsAndTheStarterEnds)
{
    Install = std::make_unique<GameInstall>(true);   // the Starter in a folder of its own
    ASSERT_TRUE(Install->AddSetupStandin());
    ASSERT_TRUE(Starter.Start(*Install));
    EXPECT_EQ(ExitCode(), 0u);

    const std::vector<StandinRun> runs = Install->SetupRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].CommandLine, Install->StarterFile("SETUP.EXE"));
    EXPECT_EQ(runs[0].WorkingFolder, Install->StarterDir());
    EXPECT_TRUE(Install->GameRuns().empty());
    // Reading the game's folder leaves the installers' keys behind, without values.
    EXPECT_FALSE(UserValueExists(MakerGameKeyPath, "&AppPath"));
    EXPECT_FALSE(UserValueExists(PublisherGameKeyPath, "Path"));
}

TEST_F(Frame, WithoutGameOrSetupTheMainWindowStillShows)
{
    ASSERT_TRUE(Install->RemoveGame());
    EXPECT_NE(StartStarter(), nullptr);
    EXPECT_TRUE(Install->SetupRuns().empty());
}

TEST_F(Frame, AGameBesideTheStarterOnACdRomIsNotUsed)
{
    ASSERT_TRUE(Install->AddSetupStandin());
    SimulatedDrive cdrom(DRIVE_CDROM, ToUnixPath(Install->GameDir()));
    ASSERT_FALSE(cdrom.Root.empty()) << "no simulated CD-ROM";
    ASSERT_TRUE(Starter.Start(cdrom.Root + "Starter.exe", cdrom.Root));
    EXPECT_EQ(ExitCode(), 0u);

    const std::vector<StandinRun> runs = Install->SetupRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].CommandLine, cdrom.Root + "SETUP.EXE");
    EXPECT_EQ(runs[0].WorkingFolder, cdrom.Root);
}

TEST_F(Frame, PlayStartsTheGameUnquotedInItsFolder)
{
    enum class Found { BesideTheStarter, MakerValue, PublisherValueWithSeparator };
    // The program is named by its full path, so the line itself goes over unchanged.
    struct Case { Found found; const char* leaf; };
    const Case cases[] = {
        {Found::BesideTheStarter, "game"},
        {Found::MakerValue, "game"},
        {Found::PublisherValueWithSeparator, "my game"},
    };
    for (const Case& c : cases) {
        ClearStarterRegistry();
        Install = std::make_unique<GameInstall>(c.found != Found::BesideTheStarter, c.leaf);
        if (c.found == Found::MakerValue) {
            ASSERT_TRUE(WriteUserString(MakerGameKeyPath, "&AppPath", Install->GameDir()));
        }
        if (c.found == Found::PublisherValueWithSeparator) {
            ASSERT_TRUE(WriteUserString(PublisherGameKeyPath, "Path", Install->GameDir() + "\\"));
        }
        PressPlay();
        EXPECT_EQ(ExitCode(), 0u);

        const std::vector<StandinRun> runs = Install->GameRuns();
        ASSERT_EQ(runs.size(), 1u) << c.leaf;
        const std::string program = Install->GameFile("ZP.EXE");
        EXPECT_EQ(runs[0].Exe, program);
        EXPECT_EQ(runs[0].CommandLine, program);
        EXPECT_EQ(runs[0].WorkingFolder, Install->GameDir());
        Starter.Kill();
        CloseGameWindows();
    }
}

TEST_F(Frame, PlayRestoresTheRunningGameInsteadOfStartingAnother)
{
    StarterProcess game;
    ASSERT_TRUE(game.Start(Install->GameFile("ZP.EXE"), Install->GameDir()));
    uidriver::WindowQuery query;
    query.ClassName = GameClass;
    query.Caption = GameTitle;
    query.ProcessId = game.Pid();
    HWND window = uidriver::WaitForWindow(query);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(uidriver::WaitFor([&] { return IsIconic(window) != FALSE; }));

    PressPlay();
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_TRUE(uidriver::WaitFor([&] { return !IsIconic(window); })) << "the game stayed minimised";
    EXPECT_EQ(Install->GameRuns().size(), 1u) << "a second copy started";
}

TEST_F(Frame, OnlyTheWholeTitleWithTheClassIsTheGame)
{
    // Windows of this test that look almost like the game's; hidden, so that nothing waits
    // for this thread, which pumps no messages.
    WNDCLASSA gameLike = {};
    gameLike.lpfnWndProc = DefWindowProcA;
    gameLike.hInstance = GetModuleHandleA(nullptr);
    gameLike.lpszClassName = GameClass;
    RegisterClassA(&gameLike);
    HWND longerTitle = CreateWindowA(GameClass, "Zephyrion - Editor", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                     nullptr, nullptr, gameLike.hInstance, nullptr);
    HWND otherClass = CreateWindowA("STATIC", GameTitle, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                    nullptr, gameLike.hInstance, nullptr);
    ASSERT_NE(longerTitle, nullptr);
    ASSERT_NE(otherClass, nullptr);

    PressPlay();
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_EQ(Install->GameRuns().size(), 1u) << "the game was not started";
    DestroyWindow(longerTitle);
    DestroyWindow(otherClass);
}

namespace {
// Real key strokes: the accelerator looks at the keyboard state, not at the message alone.
void PressWithAlt(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> inputs;
    auto add = [&](WORD key, DWORD flags) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = flags;
        inputs.push_back(input);
    };
    add(VK_MENU, 0);
    for (WORD key : keys)
        add(key, 0);
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key)
        add(*key, KEYEVENTF_KEYUP);
    add(VK_MENU, KEYEVENTF_KEYUP);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}
}

TEST_F(Frame, AltQuestionMarkAndAltSlashOpenTheAboutBox)
{
    HWND main = StartStarter();
    ASSERT_NE(main, nullptr);
    const WORD slashKey = LOBYTE(VkKeyScanA('/'));
    const std::initializer_list<WORD> questionMark = {VK_SHIFT, slashKey};
    const std::initializer_list<WORD> slash = {slashKey};
    for (const auto& keys : {questionMark, slash}) {
        SetForegroundWindow(main);
        ASSERT_TRUE(uidriver::WaitFor([&] { return GetForegroundWindow() == main; }));
        PressWithAlt(keys);
        const uidriver::MessageBoxInfo about = uidriver::WaitForMessageBox(Starter.Pid(), 10000, "About");
        ASSERT_NE(about.Window, nullptr) << "no About box for Alt with " << keys.size() << " keys";
        uidriver::AnswerMessageBox(about.Window);
        EXPECT_TRUE(uidriver::WaitForWindowGone(about.Window));
    }
}

TEST_F(Frame, TheQuitCodeIsTheExitCode)
{
    HWND main = StartStarter();
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(PostThreadMessageA(GetWindowThreadProcessId(main, nullptr), WM_QUIT, 7, 0));
    EXPECT_EQ(ExitCode(), 7u);
}
