// The Hiscore button against the reference server and its fault doubles: what is sent, the rank
// box in the installation's language, answers that are no rank, hiscore files that cannot be
// read, and a 100 MB answer.
// GetProcessMemoryInfo from kernel32 (K32GetProcessMemoryInfo), without linking psapi.
#define PSAPI_VERSION 2
#include <windows.h>
#include <psapi.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"

using namespace e2e;

namespace {
class Hiscore : public BrowserTest {
protected:
    // One server for the suite, with the doubles: each test starts from no scores and no requests.
    static void SetUpTestSuite() { Server = std::make_unique<GameServer>(GameServer::WithDoubles); }
    static void TearDownTestSuite() { Server.reset(); }
    void SetUp() override
    {
        BrowserTest::SetUp();
        ASSERT_TRUE(Server->Running());
        ASSERT_EQ(Server->Admin("clear-scores").ExitCode, 0);
        Server->ClearRequests();
    }

    uidriver::MessageBoxInfo Press(const std::string& caption) { return BrowserTest::Press(IDC_HISCORE, caption); }

    // starter.dat pointing at the suite's server (with a script when given), a hiscore file,
    // and the Starter.
    void StartWithServer(const char* script = nullptr,
                         const std::vector<std::pair<std::string, int64_t>>& hiscores = {{"Ann", 5}})
    {
        std::map<std::string, std::string> extra;
        if (script)
            extra["ADDSCORE_PHP"] = script;
        ASSERT_TRUE(Install->WriteStarterDat(Server->Address(), extra));
        ASSERT_TRUE(Install->WriteHiscores(hiscores));
        Start();
    }

    // Presses Hiscore, expects the rank box with this rank, and returns the one request sent.
    RequestLine PressForRank(const std::string& rank)
    {
        const uidriver::MessageBoxInfo box = Press("Hiscore");
        EXPECT_EQ(box.Text, RankText(23, rank));
        Dismiss(box);
        const std::vector<RequestLine> requests = Server->Requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? RequestLine() : requests[0];
    }

    // The exchange reaches the server, its status dialog closes, and no box follows.
    void ExpectSilentAnswer()
    {
        Server->ClearRequests();
        uidriver::ClickButton(Main, IDC_HISCORE);
        EXPECT_TRUE(uidriver::WaitFor([&] { return !Server->Requests().empty(); }, TransferTimeoutMs));
        EXPECT_TRUE(uidriver::WaitFor([&] { return !StatusDialog(); }, TransferTimeoutMs));
        ExpectNoBox();
    }

    SIZE_T PeakWorkingSet() const
    {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, Starter.Pid());
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        const bool read = process && GetProcessMemoryInfo(process, &counters, sizeof counters);
        if (process)
            CloseHandle(process);
        return read ? counters.PeakWorkingSetSize : 0;
    }

    static std::unique_ptr<GameServer> Server;
};
std::unique_ptr<GameServer> Hiscore::Server;
}

TEST_F(Hiscore, SendsTheFirstEntryAndShowsTheRank)
{
    StartWithServer(nullptr, {{"Ann Lee", 123456}, {"Bob", 99}});

    const RequestLine request = PressForRank("1");
    EXPECT_EQ(request.Method, "GET");
    EXPECT_EQ(request.Target, "/php/_addscore.php?data=Ann%20Lee;123456;");
    EXPECT_EQ(request.Protocol, "HTTP/1.1");
    EXPECT_EQ(request.Host, Server->Address());
    EXPECT_EQ(request.UserAgent, "SKV Starter");
}

TEST_F(Hiscore, NameAndMailAreSentEscaped)
{
    ASSERT_TRUE(WriteUserString(NetSettingsKeyPath, "Mail", "pilot.one@example.org"));
    StartWithServer(nullptr, {{"O'Brien J\xfcrgen", -42}});
    // Someone ahead, so the negative score lands on rank 2.
    ASSERT_EQ(Server->Admin("add-score Lead 1000").ExitCode, 0);

    EXPECT_EQ(PressForRank("2").Target, "/php/_addscore.php?data=OBrien%20J%fcrgen;-42;pilot%2eone%40example%2eorg");
}

TEST_F(Hiscore, TheAnswerChoosesTheSentence)
{
    StartWithServer("test/rank.php");

    struct Case { const char* rank; int row; };
    for (const Case& c : {Case{"21", 22}, Case{"20", 23}, Case{"1", 23}, Case{"0", 23}}) {
        ASSERT_TRUE(Server->WriteDataFile("fixed-rank", c.rank));
        const uidriver::MessageBoxInfo box = Press("Hiscore");
        EXPECT_EQ(box.Text, RankText(c.row, c.rank)) << c.rank;
        Dismiss(box);
    }

    // The settings are read at each transfer: another script without a restart.
    ASSERT_TRUE(Install->WriteStarterDat(Server->Address(), {{"ADDSCORE_PHP", "test/rank17lf.php"}}));
    const uidriver::MessageBoxInfo box = Press("Hiscore");
    EXPECT_EQ(box.Text, RankText(23, "17\n"));
    Dismiss(box);
}

TEST_F(Hiscore, TheRankSpeaksTheInstallationsLanguage)
{
    ASSERT_TRUE(Install->WriteAutorun("2"));
    StartWithServer("test/rank.php");
    ASSERT_TRUE(Server->WriteDataFile("fixed-rank", "21"));

    const uidriver::MessageBoxInfo box = Press("Hiscore");
    EXPECT_EQ(box.Text, RankText(22, "21", French));
    Dismiss(box);
}

// Error pages, with or without a title, a cut rank and an empty answer: none becomes a rank.
TEST_F(Hiscore, AnswersThatAreNoRank)
{
    StartWithServer("test/title404.php");

    const uidriver::MessageBoxInfo titled = Press("Error");
    EXPECT_EQ(titled.Text, ErrorBoxText(29, "404 Not Found", 218));
    Dismiss(titled);
    ExpectNoBox();

    // Without a title the status line tells what went wrong; the page never becomes a rank.
    ASSERT_TRUE(Install->WriteStarterDat(Server->Address(), {{"ADDSCORE_PHP", "test/notitle404.php"}}));
    const uidriver::MessageBoxInfo untitled = Press("Error");
    EXPECT_EQ(untitled.Text, ErrorBoxText(29, "404 Not Found", 218));
    Dismiss(untitled);
    ExpectNoBox();

    // A rank cut after its first byte by the connection's end is a failure, not a rank.
    ASSERT_TRUE(Install->WriteStarterDat(Server->Address(), {{"ADDSCORE_PHP", "test/cutrank.php"}}));
    Server->ClearRequests();
    const uidriver::MessageBoxInfo cut = Press("Error");
    EXPECT_EQ(cut.Text, ErrorBoxText(29, "12030"));
    Dismiss(cut);
    ExpectNoBox();
    EXPECT_EQ(Server->Requests().size(), 1u);

    ASSERT_TRUE(Install->WriteStarterDat(Server->Address(), {{"ADDSCORE_PHP", "test/empty.php"}}));
    ExpectSilentAnswer();
    ExpectCleanExit();
}

TEST_F(Hiscore, UnreachableHostShowsTheTransferError)
{
    // Nothing listens there; a name lookup would leave the machine, so no host name is used.
    ASSERT_TRUE(Install->WriteStarterDat(FreeAddress()));
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    Start();

    const uidriver::MessageBoxInfo error = Press("Error");
    const std::string head = ErrorBoxHead(29);
    EXPECT_EQ(error.Text.substr(0, head.size()), head);
    EXPECT_NE(error.Text.find("\r\nLine:\t217\r\n"), std::string::npos) << error.Text;
    EXPECT_EQ(error.Text.find(head + "0\r\n"), std::string::npos) << error.Text;
    Dismiss(error);
    ExpectNoBox();
}

TEST_F(Hiscore, BrokenHiscoreFiles)
{
    ASSERT_TRUE(Install->WriteStarterDat(Server->Address()));
    Start();

    const std::string valid = HiscoreLine("Ann", 5);
    const std::string longLine = HiscoreLine(std::string(2000, 'L'), 9);
    // Each broken form: either the first record is uploaded as far as it can be read, or the
    // string 26 box says there is nothing to send, and nothing is sent.
    const struct {
        const char* What;
        std::optional<std::string> Text;   // none: no hiscore file yet (the first case only)
        std::string Target;                // empty: the string 26 box and no request
    } cases[] = {
        {"no file", std::nullopt, ""},
        {"a first line that lacks fields", std::string("Ann;1;2\r\n"), ""},
        {"empty file", "", ""},
        {"one line, no line end", valid, "/php/_addscore.php?data=Ann;5;"},
        {"line feeds only", valid + "\n" + HiscoreLine("Bo", 7) + "\n", "/php/_addscore.php?data=Ann;5;"},
        {"a name of 100 characters", HiscoreLine(std::string(100, 'n'), 8) + "\r\n",
         "/php/_addscore.php?data=" + std::string(63, 'n') + ";8;"},
        {"a line of 2,000 characters", longLine + "\r\n", ""},
        {"only separators", ";;;;;;;;\r\n", ""},
        {"zero bytes and junk", std::string("\0\xff\x01;\0;;\r\n", 9) + valid, ""},
        {"numbers beyond 64 bits", "Big;1;99999999999999999999;0;0;0;99999999999999999999\r\n",
         "/php/_addscore.php?data=Big;9223372036854775807;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        if (c.Text) {
            ASSERT_TRUE(Install->WriteHiscoreText(*c.Text));
        }
        Server->ClearRequests();
        const bool sent = !c.Target.empty();
        const uidriver::MessageBoxInfo box = Press(sent ? "Hiscore" : "Error");
        ASSERT_NE(box.Window, nullptr);
        if (!sent) {
            EXPECT_EQ(box.Text, ErrorBoxText(26, "0"));
        }
        Dismiss(box);
        const std::vector<RequestLine> requests = Server->Requests();
        if (sent) {
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests[0].Target, c.Target);
        } else {
            EXPECT_TRUE(requests.empty());
        }
    }
    ExpectCleanExit();
}

TEST_F(Hiscore, GamePathEndingInASlash)
{
    Install = std::make_unique<GameInstall>(true);
    ASSERT_TRUE(WriteUserString(MakerGameKeyPath, "&AppPath", Install->GameDir() + "/"));
    StartWithServer(nullptr, {{"Slash", 777}});

    EXPECT_EQ(PressForRank("1").Target, "/php/_addscore.php?data=Slash;777;");
}

TEST_F(Hiscore, AHundredMegabyteAnswerKeepsMemoryBounded)
{
    StartWithServer("test/huge.php");
    const SIZE_T before = PeakWorkingSet();
    ASSERT_GT(before, 0u) << "the Starter's memory counters cannot be read";

    // The answer is "5" and 100 MiB of x: the rank box shows its beginning, cut to the box.
    const uidriver::MessageBoxInfo box = Press("Hiscore");
    ASSERT_NE(box.Window, nullptr);
    const std::string sentence = LangText(23);
    const std::string shown = box.Text;
    EXPECT_EQ(shown.rfind(sentence.substr(0, sentence.find("%s")) + "5xxxxxxxxx", 0), 0u) << shown.substr(0, 200);
    EXPECT_LT(shown.size(), 512u);
    Dismiss(box);
    const SIZE_T after = PeakWorkingSet();
    EXPECT_LT(after - before, SIZE_T(16) << 20) << "peak working set grew from " << before << " to " << after;
    ExpectCleanExit();
}
