// Answers that must not pass for success: a refused registration, a rank cut short by the
// connection, and a catalogue file that is no design.
#include <windows.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"
#include "tests/e2e/fixtures.h"

using namespace e2e;

namespace {
std::string RefusalBoxText(const std::string& shown)
{
    return EnglishText(29) + "\r\n\r\n" + EnglishText(31) + "\t" + shown + "\r\nLine:\t218\r\nFile:\tstarter";
}

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

class Answers : public BrowserTest {
protected:
    void StartWith(GameServer& server, const std::map<std::string, std::string>& settings)
    {
        ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
        ASSERT_TRUE(Install->WriteStarterDat(server.Address(), settings));
        Start();
    }

    // A press of the real mouse on the button with this id.
    void Click(int id) { ASSERT_TRUE(uidriver::ClickButton(Main, id)); }

    // Opens the catalogue, downloads its first row and returns the box that ends it.
    uidriver::MessageBoxInfo DownloadFirstRow(const std::string& caption)
    {
        Click(IDC_DOWNLOAD);
        EXPECT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1 &&
                                                   !StatusDialog(); }, TransferTimeoutMs));
        Click(IDOK);
        const uidriver::MessageBoxInfo box = WaitForBox(caption);
        EXPECT_NE(box.Window, nullptr) << "no " << caption << " box";
        return box;
    }
};
}  // namespace

// The reference server refuses a mail address longer than it keeps: the player sees the
// status and the server's reason, and no success.
TEST_F(Answers, ARefusedRegistrationShowsTheStatusAndTheReason)
{
    GameServer server;
    ASSERT_TRUE(WriteUserString(NetSettingsKeyPath, "Mail", std::string(300, 'm') + "@example.org"));
    ASSERT_TRUE(Install->WritePlane("mine.plane", PlaneDesign()));
    StartWith(server, {});
    Click(IDC_UPLOAD);
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1; }));
    Click(IDOK);

    const uidriver::MessageBoxInfo box = WaitForBox("Error");
    ASSERT_NE(box.Window, nullptr) << "no error box";
    EXPECT_EQ(box.Text, RefusalBoxText("400 Bad Request\r\nmail is longer than 255 bytes"));
    Dismiss(box);
    ASSERT_TRUE(uidriver::WaitFor([&] { return !List(); }));
    ExpectCleanExit();
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].Target.rfind("/php/_addplane.php?data=", 0), 0u);
    EXPECT_NE(server.Admin("stats").Output.find("designs 0"), std::string::npos);
}

TEST_F(Answers, ARankCutAfterItsFirstByteIsAFailure)
{
    GameServer server(GameServer::WithDoubles);
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    StartWith(server, {{"ADDSCORE_PHP", "test/cutrank.php"}});
    Click(IDC_HISCORE);

    const uidriver::MessageBoxInfo box = WaitForBox("Error");
    ASSERT_NE(box.Window, nullptr) << "no error box";
    EXPECT_EQ(box.Text, ErrorBoxText(29, "12030"));
    Dismiss(box);
    // A rank box after it would keep the window disabled and Exit without effect.
    ExpectCleanExit();
    EXPECT_EQ(server.Requests().size(), 1u);
}

// Only design files reach myPlanes, in any case of ".plane"; a download also clears the
// temporary files that a killed Starter left there, and only those.
TEST_F(Answers, DownloadsWriteDesignFilesOnly)
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
    StartWith(server, {{"GETPLANES_PHP", "test/onefile.php"}});

    for (const char* name : {"desktop.ini", "run.exe"}) {
        ASSERT_TRUE(server.WriteDataFile("catalogue-file", name));
        const uidriver::MessageBoxInfo refused = DownloadFirstRow("Error");
        EXPECT_EQ(refused.Text, ErrorBoxText(29, "123")) << name;
        Dismiss(refused);
        ASSERT_TRUE(uidriver::WaitFor([&] { return !List(); }));
    }
    EXPECT_EQ(FolderNames(planes), (std::set<std::string>{"skv1a.tmp", "skv2B.tmp", "skvnote.tmp"}));

    ASSERT_TRUE(server.WriteDataFile("catalogue-file", "Mixed.PLANE"));
    const uidriver::MessageBoxInfo received = DownloadFirstRow("Info");
    EXPECT_EQ(received.Text, EnglishText(24));
    Dismiss(received);
    EXPECT_EQ(ReadFileBytes(planes + "\\Mixed.PLANE"), design);
    EXPECT_EQ(FolderNames(planes), (std::set<std::string>{"Mixed.PLANE", "skv2B.tmp", "skvnote.tmp"}));
    ExpectCleanExit();
}
