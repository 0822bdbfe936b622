// Designs up: a design of myPlanes stored on the FTP server under a new name and registered with
// the web server, against the reference server, its doubles and a misbehaving FTP server.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"
#include "tests/e2e/fixtures.h"

using namespace e2e;

namespace {
class DesignsUp : public BrowserTest {};
}

TEST_F(DesignsUp, UploadStoresTheFileAndRegistersIt)
{
    GameServer server;
    ASSERT_TRUE(WriteUserString(NetSettingsKeyPath, "Mail", "pilot.one@example.org"));
    PlaneDesign design;
    design.Name = "Sky Jet";
    design.Noise = -7;
    ASSERT_TRUE(Install->WritePlane("mine.plane", design));
    StartWith(server);

    const std::regex serverName("^[0-9a-f]{4,24}\\.plane$");
    std::vector<std::string> names;
    for (int upload = 1; upload <= 2; ++upload) {
        SCOPED_TRACE("upload " + std::to_string(upload));
        server.ClearRequests();
        OpenUploadList();
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

TEST_F(DesignsUp, NothingIsUploadedWithoutASelectionOrFromAnEmptyFile)
{
    GameServer server;
    ASSERT_TRUE(Install->WritePlane("good.plane", PlaneDesign()));
    StartWith(server);

    // A click into the empty part of the list clears the selection; OK then only closes.
    OpenUploadList();
    ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
    ASSERT_TRUE(uidriver::MouseClickClient(List(), {150, 240}));
    ASSERT_TRUE(uidriver::WaitFor([&] { return !RemoteList(List(), Starter.Pid()).Selected(0); }));
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    ExpectBrowserClosed();
    ExpectNoBox();

    // An empty design file is listed, but OK sends nothing and shows nothing.
    ASSERT_TRUE(DeleteFileA(Install->GameFile("myPlanes\\good.plane").c_str()));
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\empty.plane"), ""));
    OpenUploadList();
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    ExpectBrowserClosed();
    ExpectNoBox();

    EXPECT_TRUE(server.StoredPlanes().empty());
    EXPECT_TRUE(server.Requests().empty());
}

// A refused registration is a failure: the box shows the status and, when the server sends
// short plain text, its one-line reason; an HTML page gives the status line alone.
TEST_F(DesignsUp, ARefusedRegistrationShowsTheStatusAndTheReason)
{
    GameServer server(GameServer::WithDoubles);
    ASSERT_TRUE(Install->WritePlane("mine.plane", PlaneDesign()));
    // The reference script refuses a mail address longer than it keeps.
    ASSERT_TRUE(WriteUserString(NetSettingsKeyPath, "Mail", std::string(300, 'm') + "@example.org"));
    StartWith(server);

    OpenUploadList();
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    const uidriver::MessageBoxInfo refused = WaitForBox("Error");
    ASSERT_NE(refused.Window, nullptr) << "no error box";
    EXPECT_EQ(refused.Text, ErrorBoxText(29, "400 Bad Request\r\nmail is longer than 255 bytes", 218));
    Dismiss(refused);
    ExpectBrowserClosed();
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].Target.rfind("/php/_addplane.php?data=", 0), 0u);
    EXPECT_NE(server.Admin("stats").Output.find("designs 0"), std::string::npos);

    DeleteUserValue(NetSettingsKeyPath, "Mail");
    ASSERT_TRUE(Install->WriteStarterDat(server.Address(), {{"ADDPLANE_PHP", "test/title404.php"}}));
    server.ClearRequests();
    OpenUploadList();
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    const uidriver::MessageBoxInfo page = WaitForBox("Error");
    EXPECT_EQ(page.Text, ErrorBoxText(29, "404 Not Found", 218));
    Dismiss(page);
    ExpectBrowserClosed();
    const std::vector<RequestLine> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Target.rfind("/php/test/title404.php?data=1000;500;20;3;5;800;3000;Test%20Plane;", 0), 0u)
        << requests[0].Target;
    // No mail address stored: the query ends with the ninth semicolon.
    EXPECT_EQ(requests[0].Target.back(), ';');
    ExpectNoBox();
    ExpectCleanExit();
}

TEST_F(DesignsUp, TheFtpServerRefusesTheLogin)
{
    GameServer server;
    FtpDouble ftp("refuse-login");
    ASSERT_TRUE(ftp.Running());
    ASSERT_TRUE(Install->WritePlane("mine.plane", PlaneDesign()));
    StartWith(server, {{"FTP_URL", ftp.Address()}});

    // Refused, and nothing is registered.
    OpenUploadList();
    const uidriver::MessageBoxInfo box = Press(IDOK, "Error");
    EXPECT_EQ(box.Text.rfind(ErrorBoxHead(29), 0), 0u) << box.Text;
    Dismiss(box);
    ExpectNoBox();
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_NE(ftp.Commands().find("USER skv_starter"), std::string::npos) << ftp.Commands();
    ExpectCleanExit();
}

TEST_F(DesignsUp, MyPlanesReadOnlyOrMissing)
{
    GameServer server;
    PlaneDesign design;
    design.Name = "Mine";
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\5eed0001.plane"), PlaneBytes(design)));
    StartWith(server);
    {
        ImmutableFolder readOnly(Install->GameFile("myPlanes"));
        ASSERT_TRUE(readOnly.Applied());
        // Uploading only reads the folder: it works.
        OpenUploadList();
        EXPECT_EQ(RemoteList(List(), Starter.Pid()).Cell(0, 0), "Mine");
        const uidriver::MessageBoxInfo done = Press(IDOK, "Info");
        EXPECT_EQ(done.Text, LangText(25));
        Dismiss(done);
        EXPECT_EQ(server.StoredPlanes().size(), 1u);
    }

    // Without the folder the upload list is empty and OK does nothing.
    ASSERT_TRUE(uidriver::WaitFor([&] { return !List(); })) << "the browser stayed open after the upload";
    ASSERT_TRUE(DeleteFileA(Install->GameFile("myPlanes\\5eed0001.plane").c_str()));
    ASSERT_TRUE(RemoveDirectoryA(Install->GameFile("myPlanes").c_str()));
    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_UPLOAD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() != nullptr; }));
    ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
    EXPECT_EQ(RemoteList(List(), Starter.Pid()).Rows(), 0);
    // An OK that arrives while the browser is still opening is ignored; press until it is taken.
    EXPECT_TRUE(uidriver::WaitFor([&] {
        uidriver::ClickButton(Main, IDOK);
        return uidriver::WaitFor([&] { return !List(); }, 1000);
    }));
    ExpectNoBox();
    ExpectCleanExit();
}
