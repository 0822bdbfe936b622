// The Hiscore button against the reference server and its fault doubles.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"

using namespace e2e;

namespace {
constexpr int FrenchBlock = 2;

std::string RankText(int row, const std::string& body, int language = EnglishLanguage)
{
    std::string text = LangText(row, language);
    const size_t marker = text.find("%s");
    EXPECT_NE(marker, std::string::npos);
    return text.replace(marker, 2, body);
}

// The box of a server's error text: line 218 instead of the 217 of the code form.
std::string ServerErrorText(const std::string& text)
{
    return ErrorBoxHead(29) + text + "\r\nLine:\t218\r\nFile:\tstarter";
}

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

    // A server of the test's own, starter.dat pointing at it (with a script when given),
    // a hiscore file, and the Starter.
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

    // The exchange reaches the server, its status dialog closes, and no box follows.
    void ExpectSilentAnswer()
    {
        Server->ClearRequests();
        uidriver::ClickButton(Main, IDC_HISCORE);
        EXPECT_TRUE(uidriver::WaitFor([&] { return !Server->Requests().empty(); }, TransferTimeoutMs));
        EXPECT_TRUE(uidriver::WaitFor([&] { return !StatusDialog(); }, TransferTimeoutMs));
        ExpectNoBox();
    }

    static std::unique_ptr<GameServer> Server;
};
std::unique_ptr<GameServer> Hiscore::Server;
}

TEST_F(Hiscore, SendsTheFirstEntryAndShowsTheRank)
{
    StartWithServer(nullptr, {{"Ann Lee", 123456}, {"Bob", 99}});

    const uidriver::MessageBoxInfo box = Press("Hiscore");
    EXPECT_EQ(box.Text, RankText(23, "1"));
    Dismiss(box);

    const std::vector<RequestLine> requests = Server->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Method, "GET");
    EXPECT_EQ(requests[0].Target, "/php/_addscore.php?data=Ann%20Lee;123456;");
    EXPECT_EQ(requests[0].Protocol, "HTTP/1.1");
    EXPECT_EQ(requests[0].Host, Server->Address());
    EXPECT_EQ(requests[0].UserAgent, "SKV Starter");
}

TEST_F(Hiscore, NameAndMailAreSentEscaped)
{
    ASSERT_TRUE(WriteUserString(NetSettingsKeyPath, "Mail", "pilot.one@example.org"));
    StartWithServer(nullptr, {{"O'Brien J\xfcrgen", -42}});
    // Someone ahead, so the negative score lands on rank 2.
    ASSERT_EQ(Server->Admin("add-score Lead 1000").ExitCode, 0);

    const uidriver::MessageBoxInfo box = Press("Hiscore");
    EXPECT_EQ(box.Text, RankText(23, "2"));
    Dismiss(box);

    const std::vector<RequestLine> requests = Server->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Target, "/php/_addscore.php?data=OBrien%20J%fcrgen;-42;pilot%2eone%40example%2eorg");
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
    EXPECT_EQ(box.Text, RankText(22, "21", FrenchBlock));
    Dismiss(box);
}

TEST_F(Hiscore, ErrorPagesAndEmptyAnswers)
{
    StartWithServer("test/title404.php");

    const uidriver::MessageBoxInfo titled = Press("Error");
    EXPECT_EQ(titled.Text, ServerErrorText("404 Not Found"));
    Dismiss(titled);
    ExpectNoBox();

    // Without a title the status line tells what went wrong; the page never becomes a rank.
    ASSERT_TRUE(Install->WriteStarterDat(Server->Address(), {{"ADDSCORE_PHP", "test/notitle404.php"}}));
    const uidriver::MessageBoxInfo untitled = Press("Error");
    EXPECT_EQ(untitled.Text, ServerErrorText("404 Not Found"));
    Dismiss(untitled);
    ExpectNoBox();

    ASSERT_TRUE(Install->WriteStarterDat(Server->Address(), {{"ADDSCORE_PHP", "test/empty.php"}}));
    ExpectSilentAnswer();
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

TEST_F(Hiscore, NoUsableFileMeansNoTraffic)
{
    ASSERT_TRUE(Install->WriteStarterDat(Server->Address()));
    Start();

    // No file at all, then a file whose first line lacks fields.
    for (bool broken : {false, true}) {
        if (broken) {
            ASSERT_TRUE(Install->WriteHiscoreText("Ann;1;2\r\n"));
        }
        const uidriver::MessageBoxInfo error = Press("Error");
        EXPECT_EQ(error.Text, ErrorBoxText(26, "0")) << broken;
        Dismiss(error);
    }
    // A usable file afterwards: its entry is the first and only request, so the refused
    // presses sent nothing (each press is handled after the one before has returned).
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    Dismiss(Press("Hiscore"));
    const std::vector<RequestLine> requests = Server->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Target, "/php/_addscore.php?data=Ann;5;");
}

TEST_F(Hiscore, GamePathEndingInASlash)
{
    Install = std::make_unique<GameInstall>(true);
    ASSERT_TRUE(WriteUserString(MakerGameKeyPath, "&AppPath", Install->GameDir() + "/"));
    StartWithServer(nullptr, {{"Slash", 777}});

    const uidriver::MessageBoxInfo box = Press("Hiscore");
    EXPECT_EQ(box.Text, RankText(23, "1"));
    Dismiss(box);
    const std::vector<RequestLine> requests = Server->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Target, "/php/_addscore.php?data=Slash;777;");
}

TEST_F(Hiscore, AClickOnTheDisabledButtonWhileTheBrowserIsOpenDoesNothing)
{
    ASSERT_TRUE(Install->WritePlane("mine.plane", PlaneDesign()));
    StartWithServer();
    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_UPLOAD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1; }));
    EXPECT_FALSE(Enabled(IDC_HISCORE));

    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_HISCORE));
    // Cancel, clicked after it, closes the browser: by then the Hiscore click was handled.
    ASSERT_TRUE(uidriver::ClickButton(Main, IDCANCEL));
    ExpectBrowserClosed();
    ExpectNoBox();
    EXPECT_TRUE(Server->Requests().empty());

    // The same click once the browser is closed sends the entry: the button was refusing, not missed.
    const uidriver::MessageBoxInfo box = Press("Hiscore");
    EXPECT_EQ(box.Text, RankText(23, "1"));
    Dismiss(box);
    EXPECT_EQ(Server->Requests().size(), 1u);
}
