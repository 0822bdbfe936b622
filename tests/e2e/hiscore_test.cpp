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
    return EnglishText(29) + "\r\n\r\n" + EnglishText(31) + "\t" + text + "\r\nLine:\t218\r\nFile:\tstarter";
}

class Hiscore : public BrowserTest {
protected:
    uidriver::MessageBoxInfo Press(const std::string& caption, DWORD timeoutMs = TransferTimeoutMs)
    {
        uidriver::ClickButton(Main, IDC_HISCORE);
        return uidriver::WaitForMessageBox(Starter.Pid(), timeoutMs, caption);
    }

    // A server of the test's own, starter.dat pointing at it (with a script when given),
    // a hiscore file, and the Starter.
    void StartWithServer(const std::string& address, const char* script = nullptr,
                         const std::vector<std::pair<std::string, int64_t>>& hiscores = {{"Ann", 5}})
    {
        Server = std::make_unique<GameServer>(address, script != nullptr);
        ASSERT_TRUE(Server->Running());
        std::map<std::string, std::string> extra;
        if (script)
            extra["ADDSCORE_PHP"] = script;
        ASSERT_TRUE(Install->WriteStarterDat(address, extra));
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

    std::unique_ptr<GameServer> Server;
};
}

TEST_F(Hiscore, SendsTheFirstEntryAndShowsTheRank)
{
    StartWithServer("127.0.0.70", nullptr, {{"Ann Lee", 123456}, {"Bob", 99}});

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
    StartWithServer("127.0.0.71", nullptr, {{"O'Brien J\xfcrgen", -42}});
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
    StartWithServer("127.0.0.72", "test/rank.php");

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
    StartWithServer("127.0.0.73", "test/rank.php");
    ASSERT_TRUE(Server->WriteDataFile("fixed-rank", "21"));

    const uidriver::MessageBoxInfo box = Press("Hiscore");
    EXPECT_EQ(box.Text, RankText(22, "21", FrenchBlock));
    Dismiss(box);
}

TEST_F(Hiscore, ErrorPagesAndEmptyAnswers)
{
    StartWithServer("127.0.0.74", "test/title404.php");

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
    ASSERT_TRUE(Install->WriteStarterDat("127.0.0.89"));
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    Start();

    const uidriver::MessageBoxInfo error = Press("Error");
    const std::string head = LangText(29) + "\r\n\r\n" + LangText(31) + "\t";
    EXPECT_EQ(error.Text.substr(0, head.size()), head);
    EXPECT_NE(error.Text.find("\r\nLine:\t217\r\n"), std::string::npos) << error.Text;
    EXPECT_EQ(error.Text.find(head + "0\r\n"), std::string::npos) << error.Text;
    Dismiss(error);
    ExpectNoBox();
}

TEST_F(Hiscore, ASilentServerEndsInTheTransferErrorAfterTheTimeOut)
{
    StartWithServer("127.0.0.75", "test/hang.php");

    // The double stays silent for 60 s; the 30 s receive time-out must end the wait first.
    const DWORD start = GetTickCount();
    const uidriver::MessageBoxInfo error = Press("Error", 55000);
    const DWORD elapsed = GetTickCount() - start;
    ASSERT_NE(error.Window, nullptr);
    EXPECT_GE(elapsed, 25000u);
    EXPECT_LT(elapsed, 55000u);
    EXPECT_EQ(error.Text.substr(0, LangText(29).size()), LangText(29));
    EXPECT_NE(error.Text.find("\r\nLine:\t217\r\n"), std::string::npos) << error.Text;
    Dismiss(error);
    ExpectNoBox();
}

TEST_F(Hiscore, NoUsableFileMeansNoTraffic)
{
    Server = std::make_unique<GameServer>("127.0.0.76");
    ASSERT_TRUE(Server->Running());
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
    Sleep(1000);
    EXPECT_TRUE(Server->Requests().empty());
}

TEST_F(Hiscore, GamePathEndingInASlash)
{
    Install = std::make_unique<GameInstall>(true);
    ASSERT_TRUE(WriteUserString(MakerGameKeyPath, "&AppPath", Install->GameDir() + "/"));
    StartWithServer("127.0.0.77", nullptr, {{"Slash", 777}});

    const uidriver::MessageBoxInfo box = Press("Hiscore");
    EXPECT_EQ(box.Text, RankText(23, "1"));
    Dismiss(box);
    const std::vector<RequestLine> requests = Server->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Target, "/php/_addscore.php?data=Slash;777;");
}
