// Designs down: the catalogue page by page and a design downloaded into myPlanes, against the
// reference server, its doubles and a misbehaving FTP server; names that are no design's or
// would leave myPlanes, cut and hostile answers, failed and broken transfers.
#include <windows.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"
#include "tests/e2e/fixtures.h"

using namespace e2e;

namespace {
std::set<std::string> FolderNames(const std::string& folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA match;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &match);
    for (bool found = search != INVALID_HANDLE_VALUE; found; found = FindNextFileA(search, &match))
        if (!(match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(match.cFileName);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return names;
}

// A file whose last write lies this many hours back.
bool WriteAgedFile(const std::string& path, int hours)
{
    if (!WriteFileBytes(path, "partial"))
        return false;
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time = {{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart -= ULONGLONG(hours) * 3600 * 10000000;
    const FILETIME aged = {time.LowPart, time.HighPart};
    const bool set = file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, nullptr, &aged);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return set;
}

class DesignsDown : public BrowserTest {
protected:
    // The player's own copy of the design that the server seeds first, 5eed0001.plane.
    void PlaceOwnDesign() { ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\5eed0001.plane"), OwnDesign)); }

    // A failed download left it as it was, and nothing beside it.
    void ExpectOwnDesignKept()
    {
        EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\5eed0001.plane")), OwnDesign);
        EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0001.plane"}) << "a partial or temporary file was left";
    }

    // The error box of a failed transfer; the code depends on the failure.
    void ExpectTransferErrorBox(const uidriver::MessageBoxInfo& box)
    {
        EXPECT_EQ(box.Text.rfind(ErrorBoxHead(29), 0), 0u) << box.Text;
        Dismiss(box);
    }

    const std::string OwnDesign = PlaneBytes(PlaneDesign());
};
}

TEST_F(DesignsDown, CataloguePagesAndADownload)
{
    GameServer server;
    ASSERT_EQ(server.Admin("seed-planes 40").ExitCode, 0);
    // An older design of the same name is replaced by the download.
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\5eed0014.plane"), "an older design"));
    StartWith(server);

    ClickAndSettle(IDC_DOWNLOAD, server, 1);
    ASSERT_NE(List(), nullptr);
    const RemoteList list(List(), Starter.Pid());
    EXPECT_EQ(list.Names(), SeededDesignNames(1, 17));
    // Design 1: Costs 1000, Weight 501, Consumption 11, Noise 7, Reliability 13, Velocity 301, Range 1010.
    EXPECT_EQ(list.Row(0), (std::vector<std::string>{"Design 001", "11", "1000", "301", "quiet", "average", "501",
                                                     "1010"}));
    EXPECT_TRUE(list.Selected(0));
    EXPECT_FALSE(Enabled(IDC_PAGE_BACK));
    EXPECT_TRUE(Enabled(IDC_PAGE_FORWARD));
    EXPECT_FALSE(Enabled(IDC_DOWNLOAD));
    EXPECT_FALSE(Enabled(IDC_PLAY));

    ClickAndSettle(IDC_PAGE_FORWARD, server, 2);
    EXPECT_EQ(list.Names(), SeededDesignNames(18, 17));
    EXPECT_TRUE(Enabled(IDC_PAGE_BACK));
    EXPECT_TRUE(Enabled(IDC_PAGE_FORWARD));

    ClickAndSettle(IDC_PAGE_FORWARD, server, 3);
    EXPECT_EQ(list.Names(), SeededDesignNames(35, 6));
    EXPECT_TRUE(Enabled(IDC_PAGE_BACK));
    EXPECT_FALSE(Enabled(IDC_PAGE_FORWARD));

    // Back to the second page: from memory.
    ClickAndSettle(IDC_PAGE_BACK, server, 3);
    EXPECT_EQ(list.Names(), SeededDesignNames(18, 17));
    EXPECT_TRUE(Enabled(IDC_PAGE_FORWARD));
    EXPECT_EQ(CatalogueTargets(server), (std::vector<std::string>{CataloguePageTarget(0), CataloguePageTarget(17), CataloguePageTarget(34)}));

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

TEST_F(DesignsDown, ShortAndEmptyCatalogues)
{
    GameServer server(GameServer::WithDoubles);
    StartWith(server, {{"GETPLANES_PHP", "test/short40.php"}});

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

TEST_F(DesignsDown, WithoutAGameBothBrowsersReportIt)
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

// Only design files reach myPlanes, in any case of ".plane": a name that would leave the folder
// ("..\\x.plane", "C:x.plane", "a/b.plane") or names no design is refused with code 123, the
// system's "file name syntax is incorrect", before any status dialog. A download also clears the
// temporary files that a killed Starter left there, and only those.
TEST_F(DesignsDown, OnlyDesignFileNamesReachMyPlanes)
{
    GameServer server(GameServer::WithDoubles);
    const std::string design = PlaneBytes(PlaneDesign());
    ASSERT_TRUE(server.WriteDataFile("planes\\desktop.ini", "[.ShellClassInfo]\r\n"));
    ASSERT_TRUE(server.WriteDataFile("planes\\run.exe", "MZ"));
    ASSERT_TRUE(server.WriteDataFile("planes\\Mixed.PLANE", design));
    const std::string planes = Install->GameFile("myPlanes");
    ASSERT_TRUE(WriteAgedFile(planes + "\\skv1a.tmp", 2));
    ASSERT_TRUE(WriteAgedFile(planes + "\\skv2B.tmp", 0));
    ASSERT_TRUE(WriteAgedFile(planes + "\\skvnote.tmp", 2));
    StartWith(server, {{"GETPLANES_PHP", "test/hostile.php"}});

    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        const uidriver::MessageBoxInfo box = Download(server, row, "Error");
        EXPECT_EQ(box.Text, ErrorBoxText(29, "123"));
        EXPECT_EQ(StatusDialog(), nullptr);
        Dismiss(box);
        ExpectBrowserClosed();
    }
    EXPECT_EQ(ReadFileBytes(Install->GameFile("x.plane")), "");
    EXPECT_EQ(GetFileAttributesA(Install->GameFile("myPlanes\\a").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadFileBytes(server.DataDir() + "\\ftp.log").find("RETR"), std::string::npos);

    ASSERT_TRUE(Install->WriteStarterDat(server.Address(), {{"GETPLANES_PHP", "test/onefile.php"}}));
    for (const char* name : {"desktop.ini", "run.exe"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(server.WriteDataFile("catalogue-file", name));
        const uidriver::MessageBoxInfo refused = Download(server, 0, "Error");
        EXPECT_EQ(refused.Text, ErrorBoxText(29, "123"));
        Dismiss(refused);
        ExpectBrowserClosed();
    }
    EXPECT_EQ(FolderNames(planes), (std::set<std::string>{"skv1a.tmp", "skv2B.tmp", "skvnote.tmp"}));

    ASSERT_TRUE(server.WriteDataFile("catalogue-file", "Mixed.PLANE"));
    const uidriver::MessageBoxInfo received = Download(server, 0, "Info");
    EXPECT_EQ(received.Text, EnglishText(24));
    Dismiss(received);
    EXPECT_EQ(ReadFileBytes(planes + "\\Mixed.PLANE"), design);
    EXPECT_EQ(FolderNames(planes), (std::set<std::string>{"Mixed.PLANE", "skv2B.tmp", "skvnote.tmp"}));
    ExpectNoBox();
    ExpectCleanExit();
}

TEST_F(DesignsDown, AFailedDownloadLeavesTheDesignThere)
{
    GameServer server;
    // Entry 0 is listed without a file on the server; entry 1 has one.
    ASSERT_EQ(server.Admin("seed-planes 1 --no-files").ExitCode, 0);
    ASSERT_EQ(server.Admin("add-plane Real 1 2 3 4 5 6 7").ExitCode, 0);
    PlaceOwnDesign();
    StartWith(server);

    ExpectTransferErrorBox(Download(server, 0, "Error"));
    ExpectBrowserClosed();
    ExpectNoBox();
    ExpectOwnDesignKept();

    // Without a myPlanes folder the download fails too, and creates nothing.
    ASSERT_TRUE(DeleteFileA(Install->GameFile("myPlanes\\5eed0001.plane").c_str()));
    ASSERT_TRUE(RemoveDirectoryA(Install->GameFile("myPlanes").c_str()));
    const uidriver::MessageBoxInfo box = Download(server, 1, "Error");
    EXPECT_EQ(box.Text.find(ErrorBoxHead(29) + "0\r"), std::string::npos) << box.Text;
    ExpectTransferErrorBox(box);
    ExpectBrowserClosed();
    EXPECT_EQ(GetFileAttributesA(Install->GameFile("myPlanes").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DesignsDown, ConnectionClosedInTheMiddleOfAnAnswer)
{
    GameServer server(GameServer::WithDoubles);
    ASSERT_EQ(server.Admin("seed-planes 3").ExitCode, 0);
    // Three whole entries, then the connection ends inside the fourth's file name.
    StartWith(server, {{"GETPLANES_PHP", "test/cutpage.php"}});

    // A cut page is no page: the error box, and nothing of it listed or kept.
    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_DOWNLOAD));
    const uidriver::MessageBoxInfo box = WaitForBox("Error");
    EXPECT_EQ(box.Text, ErrorBoxText(29, "12030"));
    Dismiss(box);
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() && !StatusDialog(); }, TransferTimeoutMs));
    EXPECT_EQ(RemoteList(List(), Starter.Pid()).Rows(), 0);
    EXPECT_FALSE(Enabled(IDC_PAGE_BACK));
    EXPECT_FALSE(Enabled(IDC_PAGE_FORWARD));
    ASSERT_TRUE(uidriver::ClickButton(Main, IDCANCEL));
    ASSERT_TRUE(uidriver::WaitFor([&] { return !List(); }));
    ExpectCleanExit();
}

TEST_F(DesignsDown, TheFtpServerRefusesTheLogin)
{
    GameServer server;
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    FtpDouble ftp("refuse-login");
    ASSERT_TRUE(ftp.Running());
    PlaceOwnDesign();
    StartWith(server, {{"FTP_URL", ftp.Address()}});

    // Onto the design the player has: refused, and the design stays.
    ExpectTransferErrorBox(Download(server, 0, "Error"));
    ExpectOwnDesignKept();
    ExpectNoBox();
    EXPECT_NE(ftp.Commands().find("USER skv_starter"), std::string::npos) << ftp.Commands();
    EXPECT_EQ(ftp.Commands().find("RETR"), std::string::npos) << ftp.Commands();
    ExpectCleanExit();
}

TEST_F(DesignsDown, TheDataConnectionDropsHalfwayThroughADownloadOntoAnExistingDesign)
{
    GameServer server;
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    FtpDouble ftp("drop-data", server.DataDir() + "\\planes");
    ASSERT_TRUE(ftp.Running());
    PlaceOwnDesign();
    StartWith(server, {{"FTP_URL", ftp.Address()}});

    ExpectTransferErrorBox(Download(server, 0, "Error"));
    ExpectNoBox();
    EXPECT_NE(ftp.Commands().find("RETR 5eed0001.plane"), std::string::npos) << ftp.Commands();
    ExpectOwnDesignKept();
    ExpectCleanExit();
}

TEST_F(DesignsDown, MyPlanesReadOnly)
{
    GameServer server;
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    PlaceOwnDesign();
    StartWith(server);
    {
        ImmutableFolder readOnly(Install->GameFile("myPlanes"));
        ASSERT_TRUE(readOnly.Applied());
        // A download cannot be stored: the error box, and the design there stays.
        ExpectTransferErrorBox(Download(server, 0, "Error"));
        ExpectOwnDesignKept();
    }
    ExpectNoBox();
    ExpectCleanExit();
}

TEST_F(DesignsDown, ACatalogueOfTenThousandHostileEntries)
{
    GameServer server(GameServer::WithDoubles);
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    StartWith(server, {{"GETPLANES_PHP", "test/hostile10k.php"}});

    OpenCatalogue(server);
    {
        const RemoteList list(List(), Starter.Pid());
        ASSERT_EQ(list.Rows(), 17);
        // A 5,000-character name is cut to the entry's room.
        const std::string longName = list.Cell(0, 0);
        EXPECT_GE(longName.size(), 256u);
        EXPECT_LE(longName.size(), 1023u);
        EXPECT_EQ(longName.find_first_not_of('N'), std::string::npos);
        // A ";" inside a name takes the place of the next field.
        EXPECT_EQ(list.Row(1), (std::vector<std::string>{"Semi", "-2", "0", "-5", "very quiet", "moderate", "-1", "-6"}));
        // Numbers beyond 32 bits stop at the ends of the range.
        EXPECT_EQ(list.Row(3), (std::vector<std::string>{"Numbers 3", "0", "-2147483648", "0", "quiet", "disastrous",
                                                         "2147483647", "2147483647"}));
    }
    EXPECT_TRUE(uidriver::IsEnabledWindow(uidriver::ChildById(Main, IDC_PAGE_FORWARD)));
    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_PAGE_FORWARD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return server.Requests().size() >= 2 && !StatusDialog(); }, TransferTimeoutMs));
    ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
    EXPECT_EQ(RemoteList(List(), Starter.Pid()).Cell(0, 0), "Long file 17");
    ASSERT_TRUE(uidriver::ClickButton(Main, IDCANCEL));
    ASSERT_TRUE(uidriver::WaitFor([&] { return !List(); }));

    // File names with "..\", a drive or a share are refused before any transfer (code 123).
    for (int row : {0, 2, 4}) {
        SCOPED_TRACE("row " + std::to_string(row));
        const uidriver::MessageBoxInfo box = Download(server, row, "Error");
        EXPECT_EQ(box.Text, ErrorBoxHead(29) + "123\r\nLine:\t217\r\nFile:\tstarter");
        Dismiss(box);
    }
    // The entry with a real file among them downloads.
    const uidriver::MessageBoxInfo done = Download(server, 3, "Info");
    EXPECT_EQ(done.Text, LangText(24));
    Dismiss(done);
    EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0001.plane"});
    EXPECT_EQ(GetFileAttributesA(Install->GameFile("up0.plane").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadFileBytes(server.DataDir() + "\\ftp.log").find("RETR .."), std::string::npos);

    // A server that sends all 10,000 entries (about 10 MB) whatever was asked: the first page.
    ASSERT_TRUE(Install->WriteStarterDat(server.Address(), {{"GETPLANES_PHP", "test/hostile10k.php?all=1"}}));
    OpenCatalogue(server);
    EXPECT_EQ(RemoteList(List(), Starter.Pid()).Rows(), 17);
    EXPECT_EQ(RemoteList(List(), Starter.Pid()).Cell(5, 0), "Long file 5");
    ASSERT_TRUE(uidriver::ClickButton(Main, IDCANCEL));
    ExpectNoBox();
    ExpectCleanExit();
}
