// The Starter against the game server's production stack (nginx, PHP-FPM): a hiscore exchange and
// a design download, as on the built-in server, on an address picked at run time.
#include "tests/e2e/browser_fixture.h"

using namespace e2e;

namespace {
class Production : public BrowserTest {};
}

TEST_F(Production, HiscoreExchangeAndDesignDownload)
{
    GameServer server(GameServer::Reference, "--production");
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_EQ(server.Admin("add-score Bob 900").ExitCode, 0);
    ASSERT_EQ(server.Admin("seed-planes 3").ExitCode, 0);
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    ASSERT_TRUE(Install->WriteHiscores({{"Ann Lee", 500}}));
    Start();

    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_HISCORE));
    const uidriver::MessageBoxInfo rank = WaitForBox("Hiscore");
    EXPECT_EQ(rank.Text, RankText(23, "2"));
    Dismiss(rank);
    EXPECT_NE(server.Admin("stats").Output.find("scores 2"), std::string::npos) << server.Admin("stats").Output;

    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_DOWNLOAD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 3; },
                                  TransferTimeoutMs));
    ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
    SelectRow(1);
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    const uidriver::MessageBoxInfo done = WaitForBox("Info");
    EXPECT_EQ(done.Text, EnglishText(24));
    Dismiss(done);
    ExpectBrowserClosed();
    EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\5eed0002.plane")), server.StoredPlane("5eed0002.plane"));

    // nginx wrote both exchanges into the request log, as the Starter sent them.
    ASSERT_TRUE(uidriver::WaitFor([&] { return server.Requests().size() >= 2; }));
    const std::vector<RequestLine> requests = server.Requests();
    EXPECT_EQ(requests[0].Target, "/php/_addscore.php?data=Ann%20Lee;500;");
    EXPECT_EQ(requests[1].Target, "/php/_getplanes.php?style=1&from=0&num=17");
    EXPECT_EQ(requests[1].UserAgent, "SKV Starter");
}
