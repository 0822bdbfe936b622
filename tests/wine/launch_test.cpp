// Starting the installer where the system wants elevation for it. Wine gives every process a
// full token and never refuses with ERROR_ELEVATION_REQUIRED, so the creation call is ours.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/start_program.h"
#include "tests/support/temp_folder.h"

namespace {
DWORD Refusal = 0;

BOOL WINAPI RefusingCreate(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                           LPSTARTUPINFOA, LPPROCESS_INFORMATION)
{
    SetLastError(Refusal);
    return FALSE;
}

std::string ReadText(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

int Count(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
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

    struct Case { const char* program; DWORD refusal; bool started, throughShell; DWORD error; };
    const Case cases[] = {
        {"SETUP.EXE", ERROR_ACCESS_DENIED, false, false, ERROR_ACCESS_DENIED},
        {"MISSING.EXE", ElevationRequired, false, true, ERROR_FILE_NOT_FOUND},
        {"SETUP.EXE", ElevationRequired, true, true, 0},
    };
    for (const Case& c : cases) {
        Refusal = c.refusal;
        LaunchCommand launch;
        ASSERT_TRUE(PrepareLaunch(folder.c_str(), c.program, launch));
        const ProgramStart start = StartProgram(launch, RefusingCreate);
        EXPECT_EQ(start.Started, c.started) << c.program << ", refused with " << c.refusal;
        EXPECT_EQ(start.ThroughShell, c.throughShell) << c.program << ", refused with " << c.refusal;
        EXPECT_EQ(start.Error, c.error) << c.program << ", refused with " << c.refusal;
        if (start.Process) {
            EXPECT_EQ(WaitForSingleObject(start.Process, 30000), WAIT_OBJECT_0);
            CloseHandle(start.Process);
        }
    }

    // One run, the shell's, of the same file in its own folder: the other refusal started nothing.
    const std::string log = ReadText(folder + "\\SETUP.EXE.log");
    EXPECT_EQ(Count(log, "[run]"), 1) << log;
    EXPECT_NE(log.find("\nexe=" + folder + "\\SETUP.EXE\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\ncwd=" + folder + "\n"), std::string::npos) << log;
}
