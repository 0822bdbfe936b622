// The design browser against the reference server and its doubles: catalogue paging,
// downloads into myPlanes, uploads with registration, and the failures a player can meet.
#include "tests/e2e/browser_fixture.h"

#include <algorithm>
#include <regex>

using namespace e2e;

namespace {
constexpr char CatalogueScript[] = "/php/_getplanes.php";

std::string PageTarget(int from)
{
    return std::string(CatalogueScript) + "?style=1&from=" + std::to_string(from) + "&num=17";
}

std::vector<std::string> DesignNames(int first, int count)
{
    std::vector<std::string> names;
    for (int i = first; i < first + count; ++i) {
        char name[16];
        snprintf(name, sizeof name, "Design %03d", i);
        names.push_back(name);
    }
    return names;
}

class Planes : public BrowserTest {
protected:
    // The catalogue requests the server saw, in order.
    std::vector<std::string> CatalogueTargets(const GameServer& server) const
    {
        std::vector<std::string> targets;
        for (const RequestLine& request : server.Requests())
            if (request.Target.find("?style=1&") != std::string::npos)
                targets.push_back(request.Target);
        return targets;
    }

    // Clicks a browser or main button and waits until the server has seen `requests` catalogue
    // requests, no status dialog is open and the Starter has handled what followed.
    void ClickAndSettle(int id, const GameServer& server, size_t requests)
    {
        ASSERT_TRUE(uidriver::ClickButton(Main, id));
        ASSERT_TRUE(uidriver::WaitFor([&] { return CatalogueTargets(server).size() >= requests && !StatusDialog(); },
                                      TransferTimeoutMs))
            << "requests seen: " << CatalogueTargets(server).size() << ", status dialog: "
            << (StatusDialog() ? uidriver::TextOf(uidriver::ChildById(StatusDialog(), IDC_STATUS_TEXT)) : "none")
            << ", list: " << (List() ? "open" : "none");
        ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
    }

};
}

TEST_F(Planes, CataloguePagesAndADownload)
{
    GameServer server("127.0.0.90");
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_EQ(server.Admin("seed-planes 40").ExitCode, 0);
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    // An older design of the same name is replaced by the download.
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\5eed0014.plane"), "an older design"));
    Start();

    ClickAndSettle(IDC_DOWNLOAD, server, 1);
    ASSERT_NE(List(), nullptr);
    const RemoteList list(List(), Starter.Pid());
    EXPECT_EQ(list.Names(), DesignNames(1, 17));
    // Design 1: Costs 1000, Weight 501, Consumption 11, Noise 7, Reliability 13, Velocity 301, Range 1010.
    EXPECT_EQ(list.Row(0), (std::vector<std::string>{"Design 001", "11", "1000", "301", "quiet", "average", "501",
                                                     "1010"}));
    EXPECT_TRUE(list.Selected(0));
    EXPECT_FALSE(Enabled(IDC_PAGE_BACK));
    EXPECT_TRUE(Enabled(IDC_PAGE_FORWARD));
    EXPECT_FALSE(Enabled(IDC_DOWNLOAD));
    EXPECT_FALSE(Enabled(IDC_PLAY));

    ClickAndSettle(IDC_PAGE_FORWARD, server, 2);
    EXPECT_EQ(list.Names(), DesignNames(18, 17));
    EXPECT_TRUE(Enabled(IDC_PAGE_BACK));
    EXPECT_TRUE(Enabled(IDC_PAGE_FORWARD));

    ClickAndSettle(IDC_PAGE_FORWARD, server, 3);
    EXPECT_EQ(list.Names(), DesignNames(35, 6));
    EXPECT_TRUE(Enabled(IDC_PAGE_BACK));
    EXPECT_FALSE(Enabled(IDC_PAGE_FORWARD));

    // Back to the second page: from memory.
    ClickAndSettle(IDC_PAGE_BACK, server, 3);
    EXPECT_EQ(list.Names(), DesignNames(18, 17));
    EXPECT_TRUE(Enabled(IDC_PAGE_FORWARD));
    EXPECT_EQ(CatalogueTargets(server), (std::vector<std::string>{PageTarget(0), PageTarget(17), PageTarget(34)}));

    // The third row of the second page is catalogue entry 19, "Design 020" in 5eed0014.plane.
    SelectRow(2);
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    const uidriver::MessageBoxInfo box = WaitForBox("Info");
    EXPECT_EQ(StatusDialog(), nullptr) << "the success box comes after the status dialog";
    EXPECT_EQ(box.Text, EnglishText(24));
    Dismiss(box);
    const std::string stored = server.StoredPlane("5eed0014.plane");
    EXPECT_GT(stored.size(), 32u);
    EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\5eed0014.plane")), stored);
    EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0014.plane"});
    ExpectBrowserClosed();
}

TEST_F(Planes, CommandsDuringAFetchAreIgnoredAndCancelForgetsThePages)
{
    GameServer server("127.0.0.91");
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_EQ(server.Admin("seed-planes 40").ExitCode, 0);
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    Start();

    ClickAndSettle(IDC_DOWNLOAD, server, 1);
    // While the second page is being fetched, OK, Cancel and another page forward arrive.
    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_PAGE_FORWARD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return StatusDialog() != nullptr; }, TransferTimeoutMs));
    for (int id : {IDC_PAGE_FORWARD, IDCANCEL, IDOK})
        ASSERT_TRUE(uidriver::ClickButton(Main, id));
    ASSERT_TRUE(uidriver::WaitFor([&] { return !StatusDialog(); }, TransferTimeoutMs));
    ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
    Sleep(1500);   // a nested fetch would have shown its request by now
    ASSERT_NE(List(), nullptr) << "the browser closed under a running fetch";
    EXPECT_EQ(RemoteList(List(), Starter.Pid()).Names(), DesignNames(18, 17));
    EXPECT_EQ(CatalogueTargets(server), (std::vector<std::string>{PageTarget(0), PageTarget(17)}));

    ClickAndSettle(IDC_PAGE_FORWARD, server, 3);
    ASSERT_TRUE(uidriver::ClickButton(Main, IDCANCEL));
    ExpectBrowserClosed();
    ExpectNoBox();

    // The next opening starts from the first page again.
    ClickAndSettle(IDC_DOWNLOAD, server, 4);
    EXPECT_EQ(RemoteList(List(), Starter.Pid()).Names(), DesignNames(1, 17));
    EXPECT_EQ(CatalogueTargets(server),
              (std::vector<std::string>{PageTarget(0), PageTarget(17), PageTarget(34), PageTarget(0)}));
    EXPECT_FALSE(Enabled(IDC_PAGE_BACK));
}

TEST_F(Planes, ShortAndEmptyCatalogues)
{
    GameServer server("127.0.0.92", true);
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_TRUE(Install->WriteStarterDat(server.Address(), {{"GETPLANES_PHP", "test/short40.php"}}));
    Start();

    ClickAndSettle(IDC_DOWNLOAD, server, 1);
    {
        const RemoteList list(List(), Starter.Pid());
        ASSERT_EQ(list.Rows(), 17);
        EXPECT_EQ(list.Row(0), (std::vector<std::string>{"Short 1", "20", "1000", "400", "quiet", "good", "900",
                                                         "2000"}));
        EXPECT_EQ(list.Cell(4, 0), "Short 5");
        for (int row = 5; row < 17; ++row)
            EXPECT_EQ(list.Row(row), (std::vector<std::string>{"", "0", "0", "0", "very quiet", "average", "0", "0"}))
                << row;
        EXPECT_FALSE(Enabled(IDC_PAGE_BACK));
        EXPECT_TRUE(Enabled(IDC_PAGE_FORWARD));
    }
    ASSERT_TRUE(uidriver::ClickButton(Main, IDCANCEL));
    ExpectBrowserClosed();

    ASSERT_TRUE(Install->WriteStarterDat(server.Address(), {{"GETPLANES_PHP", "test/zero.php"}}));
    ClickAndSettle(IDC_DOWNLOAD, server, 2);
    EXPECT_EQ(CatalogueTargets(server).back(), "/php/test/zero.php?style=1&from=0&num=17");
    ASSERT_NE(List(), nullptr);
    EXPECT_EQ(RemoteList(List(), Starter.Pid()).Rows(), 0);
    EXPECT_FALSE(Enabled(IDC_PAGE_BACK));
    EXPECT_FALSE(Enabled(IDC_PAGE_FORWARD));
    // OK on an empty list closes the browser and transfers nothing.
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    ExpectBrowserClosed();
    ExpectNoBox();
}

TEST_F(Planes, UploadStoresTheFileAndRegistersIt)
{
    GameServer server("127.0.0.93");
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    ASSERT_TRUE(WriteUserString(NetSettingsKeyPath, "Mail", "pilot.one@example.org"));
    PlaneDesign design;
    design.Name = "Sky Jet";
    design.Noise = -7;
    ASSERT_TRUE(Install->WritePlane("mine.plane", design));
    Start();

    const std::regex serverName("^[0-9a-f]{4,24}\\.plane$");
    std::vector<std::string> names;
    for (int upload = 1; upload <= 2; ++upload) {
        SCOPED_TRACE("upload " + std::to_string(upload));
        server.ClearRequests();
        ASSERT_TRUE(uidriver::ClickButton(Main, IDC_UPLOAD));
        ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1; }));
        const RemoteList list(List(), Starter.Pid());
        EXPECT_EQ(list.Row(0), (std::vector<std::string>{"Sky Jet", "20", "1000", "800", "very quiet", "average",
                                                         "500", "3000"}));
        EXPECT_TRUE(list.Selected(0));
        EXPECT_FALSE(uidriver::IsShown(uidriver::ChildById(Main, IDC_PAGE_FORWARD)));
        ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));

        const uidriver::MessageBoxInfo box = WaitForBox("Info");
        EXPECT_EQ(box.Text, EnglishText(25));
        EXPECT_EQ(StatusDialog(), nullptr);
        Dismiss(box);
        ExpectBrowserClosed();

        const std::vector<std::string> stored = server.StoredPlanes();
        ASSERT_EQ(stored.size(), static_cast<size_t>(upload));
        std::string name;
        for (const std::string& file : stored)
            if (std::find(names.begin(), names.end(), file) == names.end())
                name = file;
        ASSERT_FALSE(name.empty()) << "no new name";
        EXPECT_TRUE(std::regex_match(name, serverName)) << name;
        EXPECT_EQ(server.StoredPlane(name), PlaneBytes(design));
        names.push_back(name);

        const std::vector<RequestLine> requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Target,
                  "/php/_addplane.php?data=1000;500;20;-7;5;800;3000;Sky%20Jet;" + name + ";pilot%2eone%40example%2eorg");
        EXPECT_EQ(requests[0].UserAgent, "SKV Starter");
    }
    // Both designs reached the catalogue under their own names.
    EXPECT_NE(server.Admin("stats").Output.find("designs 2"), std::string::npos) << server.Admin("stats").Output;
}

TEST_F(Planes, NothingIsUploadedWithoutASelectionOrFromAnEmptyFile)
{
    GameServer server("127.0.0.94");
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    ASSERT_TRUE(Install->WritePlane("good.plane", PlaneDesign()));
    Start();

    // A click into the empty part of the list clears the selection; OK then only closes.
    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_UPLOAD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1; }));
    ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
    ASSERT_TRUE(uidriver::MouseClickClient(List(), {150, 240}));
    ASSERT_TRUE(uidriver::WaitFor([&] { return !RemoteList(List(), Starter.Pid()).Selected(0); }));
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    ExpectBrowserClosed();
    ExpectNoBox();

    // An empty design file is listed, but OK sends nothing and shows nothing.
    ASSERT_TRUE(DeleteFileA(Install->GameFile("myPlanes\\good.plane").c_str()));
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\empty.plane"), ""));
    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_UPLOAD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1; }));
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    ExpectBrowserClosed();
    ExpectNoBox();

    EXPECT_TRUE(server.StoredPlanes().empty());
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Planes, WithoutAGameBothBrowsersReportIt)
{
    ASSERT_TRUE(Install->RemoveGame());
    Start();
    for (int id : {IDC_DOWNLOAD, IDC_UPLOAD}) {
        ASSERT_TRUE(uidriver::ClickButton(Main, id));
        const uidriver::MessageBoxInfo box = WaitForBox("Error");
        EXPECT_EQ(box.Text, ErrorBoxText(27, "0")) << id;
        Dismiss(box);
        EXPECT_EQ(List(), nullptr);
        EXPECT_TRUE(Enabled(IDC_DOWNLOAD));
    }
}

TEST_F(Planes, FileNamesThatLeaveMyPlanesAreRefused)
{
    GameServer server("127.0.0.95", true);
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_TRUE(Install->WriteStarterDat(server.Address(), {{"GETPLANES_PHP", "test/hostile.php"}}));
    Start();

    // Rows: "..\x.plane", "C:x.plane", "a/b.plane". The refusal shows code 123, the system's
    // "file name syntax is incorrect", before any status dialog.
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        ClickAndSettle(IDC_DOWNLOAD, server, row + 1);
        SelectRow(row);
        ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
        const uidriver::MessageBoxInfo box = WaitForBox("Error");
        EXPECT_EQ(box.Text, ErrorBoxText(29, "123"));
        EXPECT_EQ(StatusDialog(), nullptr);
        Dismiss(box);
        ExpectBrowserClosed();
    }
    ExpectNoBox();
    EXPECT_TRUE(Install->PlaneFiles().empty());
    EXPECT_EQ(ReadFileBytes(Install->GameFile("x.plane")), "");
    EXPECT_EQ(GetFileAttributesA(Install->GameFile("myPlanes\\a").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadFileBytes(server.DataDir() + "\\ftp.log").find("RETR"), std::string::npos);
}

TEST_F(Planes, AFailedDownloadLeavesTheDesignThere)
{
    GameServer server("127.0.0.96");
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    // Entry 0 is listed without a file on the server; entry 1 has one.
    ASSERT_EQ(server.Admin("seed-planes 1 --no-files").ExitCode, 0);
    ASSERT_EQ(server.Admin("add-plane Real 1 2 3 4 5 6 7").ExitCode, 0);
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    const std::string precious = PlaneBytes(PlaneDesign());
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\5eed0001.plane"), precious));
    Start();

    ClickAndSettle(IDC_DOWNLOAD, server, 1);
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    uidriver::MessageBoxInfo box = WaitForBox("Error");
    EXPECT_EQ(box.Text.rfind(EnglishText(29) + "\r\n\r\n", 0), 0u) << box.Text;
    Dismiss(box);
    ExpectBrowserClosed();
    ExpectNoBox();
    EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\5eed0001.plane")), precious);
    EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0001.plane"}) << "a temporary file was left";

    // Without a myPlanes folder the download fails too, and creates nothing.
    ASSERT_TRUE(DeleteFileA(Install->GameFile("myPlanes\\5eed0001.plane").c_str()));
    ASSERT_TRUE(RemoveDirectoryA(Install->GameFile("myPlanes").c_str()));
    ClickAndSettle(IDC_DOWNLOAD, server, 2);
    SelectRow(1);
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    box = WaitForBox("Error");
    EXPECT_EQ(box.Text.rfind(EnglishText(29) + "\r\n\r\n", 0), 0u) << box.Text;
    EXPECT_EQ(box.Text.find("Error:\t0\r"), std::string::npos) << box.Text;
    Dismiss(box);
    ExpectBrowserClosed();
    EXPECT_EQ(GetFileAttributesA(Install->GameFile("myPlanes").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Planes, ARefusedRegistrationIsAFailure)
{
    GameServer server("127.0.0.97", true);
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_TRUE(Install->WriteStarterDat(server.Address(), {{"ADDPLANE_PHP", "test/title404.php"}}));
    ASSERT_TRUE(Install->WritePlane("mine.plane", PlaneDesign()));
    Start();

    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_UPLOAD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1; }));
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    // An HTML page is no reason to show: the status line alone.
    const uidriver::MessageBoxInfo box = WaitForBox("Error");
    EXPECT_EQ(box.Text, EnglishText(29) + "\r\n\r\n" + EnglishText(31) + "\t404 Not Found\r\nLine:\t218\r\nFile:\tstarter");
    Dismiss(box);
    ExpectBrowserClosed();
    const std::vector<RequestLine> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Target.rfind("/php/test/title404.php?data=1000;500;20;3;5;800;3000;Test%20Plane;", 0), 0u)
        << requests[0].Target;
    // No mail address stored: the query ends with the ninth semicolon.
    EXPECT_EQ(requests[0].Target.back(), ';');
}
