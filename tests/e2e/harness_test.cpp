// The fixtures themselves: Unix commands from under Wine, the game server's life, the request
// log as tests read it, the installation and the stand-ins' records.
#include "tests/e2e/fixtures.h"

using namespace e2e;

namespace {

bool PortAccepts(const std::string& address, int port)
{
    return RunUnix("exec 3<>/dev/tcp/" + address + "/" + std::to_string(port), 10000).ExitCode == 0;
}

TEST(Harness, RunUnixGivesExitCodeAndOutputAndQuotesSafely)
{
    const struct { std::string Command; int Code; std::string Output; } cases[] = {
        {"echo hello; exit 3", 3, "hello\n"},
        {"true", 0, ""},
        {"echo " + ShellQuote("it's $HOME; `x` \"q\""), 0, "it's $HOME; `x` \"q\"\n"},
        {"echo to-stderr >&2; false", 1, "to-stderr\n"},
        {"command -v php >/dev/null && echo found", 0, "found\n"},   // the Unix PATH, not Wine's
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Command);
        const UnixResult result = RunUnix(c.Command);
        EXPECT_EQ(result.ExitCode, c.Code);
        EXPECT_EQ(result.Output, c.Output);
    }
}

TEST(Harness, GameServerServesLogsAndStopsAtTheEnd)
{
    std::string address;
    {
        GameServer server;
        ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
        address = server.Address();
        EXPECT_EQ(address.rfind("127.1.", 0), 0u) << address;   // the range no other suite uses
        EXPECT_TRUE(PortAccepts(address, 21));
        const UnixResult added = server.Admin("add-score " + ShellQuote("Ann Lee") + " 500");
        EXPECT_EQ(added.ExitCode, 0) << added.Output;
        EXPECT_EQ(added.Output, "1\n");

        // A raw request with our own headers, so every column of the log is known.
        const UnixResult sent = RunUnix(
            "exec 3<>/dev/tcp/" + address + "/80 && "
            "printf 'GET /php/_addscore.php?data=Bo;400; HTTP/1.1\\r\\nHost: h.example\\r\\n"
            "User-Agent: SKV Starter\\r\\nConnection: close\\r\\n\\r\\n' >&3 && cat <&3");
        EXPECT_NE(sent.Output.find("\r\n\r\n2"), std::string::npos) << sent.Output;
        const std::vector<RequestLine> requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Method, "GET");
        EXPECT_EQ(requests[0].Target, "/php/_addscore.php?data=Bo;400;");
        EXPECT_EQ(requests[0].Protocol, "HTTP/1.1");
        EXPECT_EQ(requests[0].Host, "h.example");
        EXPECT_EQ(requests[0].UserAgent, "SKV Starter");
        server.ClearRequests();
        EXPECT_TRUE(server.Requests().empty());

        const UnixResult plane = server.Admin("add-plane Kite 1 2 3 4 5 6 7");
        ASSERT_EQ(plane.ExitCode, 0) << plane.Output;
        const std::string file = plane.Output.substr(0, plane.Output.find('\n'));
        EXPECT_EQ(server.StoredPlanes(), std::vector<std::string>{file});
        EXPECT_FALSE(server.StoredPlane(file).empty());
    }
    EXPECT_FALSE(PortAccepts(address, 80));
    EXPECT_FALSE(PortAccepts(address, 21));
}

TEST(Harness, InstallationHoldsItsFilesAndIsRemovedAfterwards)
{
    std::string root;
    {
        GameInstall install(true);
        root = install.GameDir().substr(0, install.GameDir().rfind('\\'));
        for (const std::string& file : {install.StarterExe(), install.StarterFile("starter.dll"), install.GameFile("ZP.EXE")})
            EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << file;
        EXPECT_NE(install.GameDir(), install.StarterDir());

        ASSERT_TRUE(install.WriteStarterDat("127.1.0.41", {{"ADDSCORE_PHP", "test/title404.php"}}));
        char value[256] = {};
        GetPrivateProfileStringA("setup", "ADDSCORE_PHP", "", value, sizeof value, install.StarterFile("starter.dat").c_str());
        EXPECT_STREQ(value, "test/title404.php");
        GetPrivateProfileStringA("setup", "FTP_URL", "", value, sizeof value, install.StarterFile("starter.dat").c_str());
        EXPECT_STREQ(value, "127.1.0.41");

        ASSERT_TRUE(install.WritePlane("mine.plane", PlaneDesign{}));
        EXPECT_EQ(install.PlaneFiles(), std::vector<std::string>{"mine.plane"});
    }
    EXPECT_EQ(GetFileAttributesA(root.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Harness, PlaneBytesAndHiscoreLinesFollowTheGameFormats)
{
    PlaneDesign design;
    design.Name = "Kite";
    design.Costs = -2;
    design.Body = "rest";
    const std::string bytes = PlaneBytes(design);
    ASSERT_EQ(bytes.size(), 4u + 28 + 5 + 4);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x21\0\0\0", 4));   // 28 + "Kite" + zero
    EXPECT_EQ(bytes.substr(4, 4), std::string("\xfe\xff\xff\xff", 4));
    EXPECT_EQ(bytes.substr(32), std::string("Kite\0rest", 9));

    // name;n;K1;M;K2;K3;S with S ^ M == K1 ^ K2 ^ K3 == score
    for (int64_t score : {int64_t(0), int64_t(123456), int64_t(-5), INT64_MAX}) {
        const std::string line = HiscoreLine("Ann", score);
        int64_t f[6] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "Ann;%lld;%lld;%lld;%lld;%lld;%lld", reinterpret_cast<long long*>(&f[0]),
                              reinterpret_cast<long long*>(&f[1]), reinterpret_cast<long long*>(&f[2]),
                              reinterpret_cast<long long*>(&f[3]), reinterpret_cast<long long*>(&f[4]),
                              reinterpret_cast<long long*>(&f[5])), 6) << line;
        EXPECT_EQ(f[5] ^ f[2], score) << line;
        EXPECT_EQ(f[1] ^ f[3] ^ f[4], score) << line;
    }
}

TEST(Harness, GameStandinRecordsItsStartAndShowsTheGameWindow)
{
    GameInstall install(false, "Sky Games");
    StarterProcess game;   // any program, ended on teardown
    ASSERT_TRUE(game.Start(install.GameFile("ZP.EXE"), install.GameDir(), "-x"));
    uidriver::WindowQuery query;
    query.ClassName = "AfxFrameOrView42s";
    query.Caption = "Zephyrion";
    query.ProcessId = game.Pid();
    HWND window = uidriver::WaitForWindow(query);
    ASSERT_NE(window, nullptr);

    std::vector<StandinRun> runs = install.GameRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].CommandLine, "\"" + install.GameFile("ZP.EXE") + "\" -x");
    EXPECT_EQ(runs[0].WorkingFolder, install.GameDir());
    EXPECT_EQ(runs[0].Exe, install.GameFile("ZP.EXE"));

    CloseGameWindows();
    DWORD code = 1;
    EXPECT_TRUE(game.WaitForExit(5000, &code));
    EXPECT_EQ(code, 0u);

    ASSERT_TRUE(install.MakeGameExitAtOnce());
    ASSERT_TRUE(game.Start(install.GameFile("ZP.EXE"), install.GameDir()));
    EXPECT_TRUE(game.WaitForExit(5000, &code));
    EXPECT_EQ(install.GameRuns().size(), 2u);

    ASSERT_TRUE(install.AddSetupStandin());
    ASSERT_TRUE(game.Start(install.StarterFile("SETUP.EXE"), install.StarterDir()));
    EXPECT_TRUE(game.WaitForExit(5000, &code));
    ASSERT_EQ(install.SetupRuns().size(), 1u);
    EXPECT_EQ(install.SetupRuns()[0].WorkingFolder, install.StarterDir());
}

TEST(Harness, WhatAProgramStartedEndsWithItsProcessObject)
{
    GameInstall install;
    uidriver::WindowQuery query;
    query.ClassName = "AfxFrameOrView42s";
    query.Caption = "Zephyrion";
    HWND window = nullptr;
    {
        StarterProcess shell;   // cmd starts the stand-in and ends; the stand-in is its child
        char system[MAX_PATH] = {};
        GetSystemDirectoryA(system, sizeof system);
        ASSERT_TRUE(shell.Start(std::string(system) + "\\cmd.exe", install.GameDir(), "/c start ZP.EXE"));
        window = uidriver::WaitForWindow(query);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(shell.WaitForExit(5000));
        EXPECT_TRUE(IsWindow(window));
    }
    EXPECT_TRUE(uidriver::WaitForWindowGone(window, 5000));
}

}  // namespace
