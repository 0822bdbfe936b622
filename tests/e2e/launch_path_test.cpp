// The game and its setup start from folders with a blank in their name, while a program
// waits at the shorter path that the system's rule for unquoted command lines tries first.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"
#include "tests/e2e/fixtures.h"

using namespace e2e;

namespace {
constexpr DWORD ExitTimeoutMs = 20000;

class LaunchPath : public StarterTest {
protected:
    // The next test's Starter opens in the same place: the mouse must not rest on its buttons.
    void TearDown() override
    {
        uidriver::MoveMouseTo({0, 0});
        StarterTest::TearDown();
    }

    // "<root>\Sky.exe" beside the folder "<root>\Sky ...": a stand-in that logs its start to
    // Sky.exe.log and ends at once.
    void PlantDecoy()
    {
        const std::string folder = Install->GameDir();
        Decoy = folder.substr(0, folder.rfind('\\')) + "\\Sky.exe";
        ASSERT_TRUE(CopyFileA(EnvPath("STARTER_ZP_STANDIN").c_str(), Decoy.c_str(), FALSE));
        ASSERT_TRUE(WriteFileBytes(Decoy + ".exit", ""));
    }

    void ExpectExitWithZero()
    {
        DWORD code = 99;
        EXPECT_TRUE(Starter.WaitForExit(ExitTimeoutMs, &code)) << "the Starter did not end";
        EXPECT_EQ(code, 0u);
    }

    void ExpectDecoyNotStarted()
    {
        EXPECT_TRUE(ReadStandinLog(Decoy + ".log").empty()) << ReadFileBytes(Decoy + ".log");
    }

    std::string Decoy;
};
}  // namespace

TEST_F(LaunchPath, PlayStartsTheGameNotAProgramAtTheShorterPath)
{
    Install = std::make_unique<GameInstall>(false, "Sky Game");
    PlantDecoy();
    HWND main = StartStarter();
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(uidriver::MouseClickAt(uidriver::CenterOf(uidriver::ChildById(main, IDC_PLAY))));
    ExpectExitWithZero();

    ExpectDecoyNotStarted();
    const std::vector<StandinRun> runs = Install->GameRuns();
    ASSERT_EQ(runs.size(), 1u);
    const std::string program = Install->GameFile("ZP.EXE");
    EXPECT_EQ(runs[0].Exe, program);
    EXPECT_EQ(runs[0].CommandLine, program);   // unquoted, as it always was
    EXPECT_EQ(runs[0].WorkingFolder, Install->GameDir());
}

TEST_F(LaunchPath, SetupStartsItselfNotAProgramAtTheShorterPath)
{
    Install = std::make_unique<GameInstall>(false, "Sky Starter");
    ASSERT_TRUE(Install->RemoveGame());
    ASSERT_TRUE(Install->AddSetupStandin());
    PlantDecoy();
    ASSERT_TRUE(Starter.Start(*Install));
    ExpectExitWithZero();

    ExpectDecoyNotStarted();
    const std::vector<StandinRun> runs = Install->SetupRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].CommandLine, Install->StarterFile("SETUP.EXE"));
    EXPECT_EQ(runs[0].WorkingFolder, Install->StarterDir());
}
