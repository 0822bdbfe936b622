// Start-up and the hand-over: without the picture library, without the game (setup starts), the
// game started or brought back by Play, from folders with a blank in their name while a program
// waits at the shorter path that the system's rule for unquoted command lines tries first.
#include <gtest/gtest.h>

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

class StartUp : public StarterTest {
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

    // For a folder with a blank in its name ("<root>\Sky Game"), a stand-in at the shorter path
    // ("<root>\Sky.exe") that logs its start and ends at once; "" for a folder without a blank.
    std::string PlantDecoy(const std::string& folder)
    {
        const size_t blank = folder.find(' ', folder.rfind('\\'));
        if (blank == std::string::npos)
            return "";
        const std::string decoy = folder.substr(0, blank) + ".exe";
        EXPECT_TRUE(CopyFileA(EnvPath("STARTER_ZP_STANDIN").c_str(), decoy.c_str(), FALSE));
        EXPECT_TRUE(WriteFileBytes(decoy + ".exit", ""));
        return decoy;
    }

    void ExpectDecoyNotStarted(const std::string& decoy)
    {
        if (!decoy.empty()) {
            EXPECT_TRUE(ReadStandinLog(decoy + ".log").empty()) << ReadFileBytes(decoy + ".log");
        }
    }
};
}

TEST_F(StartUp, MissingLibraryShowsOneBoxInTheChosenLanguageAndEnds)
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

// The Starter in a folder of its own, or in a folder with a blank beside a program at the
// shorter path: setup starts from the Starter's folder by its full path.
TEST_F(StartUp, WithoutTheGameSetupStartsAndTheStarterEnds)
{
    struct Case { bool separateStarter; const char* leaf; };
    for (const Case& c : {Case{true, "game"}, Case{false, "Sky Starter"}}) {
        SCOPED_TRACE(c.leaf);
        ClearStarterRegistry();
        Install = std::make_unique<GameInstall>(c.separateStarter, c.leaf);
        if (!c.separateStarter) {
            ASSERT_TRUE(Install->RemoveGame());
        }
        ASSERT_TRUE(Install->AddSetupStandin());
        const std::string decoy = PlantDecoy(Install->StarterDir());
        ASSERT_TRUE(Starter.Start(*Install));
        EXPECT_EQ(ExitCode(), 0u);

        ExpectDecoyNotStarted(decoy);
        const std::vector<StandinRun> runs = Install->SetupRuns();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].CommandLine, Install->StarterFile("SETUP.EXE"));
        EXPECT_EQ(runs[0].WorkingFolder, Install->StarterDir());
        EXPECT_TRUE(Install->GameRuns().empty());
        // Reading the game's folder leaves the installers' keys behind, without values.
        EXPECT_FALSE(UserValueExists(MakerGameKeyPath, "&AppPath"));
        EXPECT_FALSE(UserValueExists(PublisherGameKeyPath, "Path"));
        Starter.Kill();
    }
}

TEST_F(StartUp, WithoutGameOrSetupTheMainWindowStillShows)
{
    ASSERT_TRUE(Install->RemoveGame());
    EXPECT_NE(StartStarter(), nullptr);
    EXPECT_TRUE(Install->SetupRuns().empty());
}

TEST_F(StartUp, AGameBesideTheStarterOnACdRomIsNotUsed)
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

TEST_F(StartUp, PlayStartsTheGameUnquotedInItsFolder)
{
    enum class Found { BesideTheStarter, MakerValue, PublisherValueWithSeparator };
    // The program is named by its full path, so the line itself goes over unchanged, and a
    // program at the shorter path of a folder with a blank is not started.
    struct Case { Found found; const char* leaf; };
    const Case cases[] = {
        {Found::BesideTheStarter, "game"},
        {Found::BesideTheStarter, "Sky Game"},
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
        const std::string decoy = PlantDecoy(Install->GameDir());
        PressPlay();
        EXPECT_EQ(ExitCode(), 0u);

        ExpectDecoyNotStarted(decoy);
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

TEST_F(StartUp, PlayRestoresTheRunningGameInsteadOfStartingAnother)
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

TEST_F(StartUp, OnlyTheWholeTitleWithTheClassIsTheGame)
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

TEST_F(StartUp, TheQuitCodeIsTheExitCode)
{
    HWND main = StartStarter();
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(PostThreadMessageA(GetWindowThreadProcessId(main, nullptr), WM_QUIT, 7, 0));
    EXPECT_EQ(ExitCode(), 7u);
}
