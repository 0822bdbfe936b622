// Fault drills: the real Starter against servers, files and a registry that misbehave.
// Each drill checks what the player sees and that nothing the player had is lost.
// GetProcessMemoryInfo from kernel32 (K32GetProcessMemoryInfo), without linking psapi.
#define PSAPI_VERSION 2
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <sddl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/browser_fixture.h"
#include "tests/e2e/fixtures.h"

using namespace e2e;

namespace {
// The Starter's own receive time-out is 30 s; a silent peer must be given up within this.
constexpr DWORD SilentPeerLimitMs = 55000;
// How long the windows are probed while a silent peer is awaited: well inside the time-out.
constexpr DWORD ProbeWindowMs = 25000;

std::string TransferErrorHead()
{
    return ErrorBoxHead(29);
}

// A misbehaving FTP server (tests/doubles/ftp_double.py) on its own address, port 21.
class FtpDouble {
public:
    explicit FtpDouble(const std::string& mode, const std::string& root = "/tmp")
        : Address_(FreeAddress()), Log("skv-ftp-double")
    {
        const std::string& address = Address_;
        const std::string source = ToUnixPath(EnvPath("STARTER_SOURCE_DIR"));
        const std::string log = Log.UnixPath() + "/commands.log";
        Started = RunUnix("setsid python3 " + ShellQuote(source + "/tests/doubles/ftp_double.py") + " --addr " +
                          address + " --mode " + mode + " --root " + ShellQuote(ToUnixPath(root)) + " --log " +
                          ShellQuote(log) + " --lifetime 240 >/dev/null 2>&1 & echo $! >" +
                          ShellQuote(Log.UnixPath() + "/pid") +
                          "\nfor i in $(seq 100); do (exec 3<>/dev/tcp/" + address +
                          "/21) 2>/dev/null && exit 0; sleep 0.1; done; exit 1")
                      .ExitCode == 0;
    }
    ~FtpDouble() { RunUnix("kill $(cat " + ShellQuote(Log.UnixPath() + "/pid") + ") 2>/dev/null; true"); }
    FtpDouble(const FtpDouble&) = delete;
    FtpDouble& operator=(const FtpDouble&) = delete;

    bool Running() const { return Started; }
    const std::string& Address() const { return Address_; }
    std::string Commands() const { return ReadFileBytes(Log.File("commands.log")); }

private:
    std::string Address_;
    TempFolder Log;
    bool Started = false;
};

// A folder in which nothing can be created, renamed or deleted, even by root.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const std::string& path) : Path(ToUnixPath(path))
    {
        Set = RunUnix("chattr +i " + ShellQuote(Path)).ExitCode == 0;
    }
    ~ImmutableFolder() { RunUnix("chattr -i " + ShellQuote(Path)); }
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    bool Applied() const { return Set; }

private:
    std::string Path;
    bool Set = false;
};

// A registry key of the current user that can be read but not written.
class ReadOnlyKey {
public:
    explicit ReadOnlyKey(const char* path) : Path(path) { Applied = SetDacl("D:P(A;;KR;;;WD)"); }
    ~ReadOnlyKey() { SetDacl("D:P(A;;KA;;;WD)"); }
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;
    bool Writable() const
    {
        HKEY key = nullptr;
        const bool opened = RegOpenKeyExA(HKEY_CURRENT_USER, Path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS;
        if (key)
            RegCloseKey(key);
        return opened;
    }
    bool Applied = false;

private:
    bool SetDacl(const char* sddl)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, Path, 0, nullptr, 0, READ_CONTROL | WRITE_DAC, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return false;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        bool done = ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
                    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
        LocalFree(descriptor);
        RegCloseKey(key);
        return done;
    }
    const char* Path;
};

class Drills : public BrowserTest {
protected:
    // The window's thread takes a message within a second: it is pumping, not stuck in a call.
    bool Responds(HWND window) const
    {
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
    }

    // The window repaints a part of itself that was made invalid from outside.
    bool Repaints(HWND window) const
    {
        RECT part = {10, 10, 60, 60};
        InvalidateRect(window, &part, FALSE);
        return uidriver::WaitFor([&] { return !GetUpdateRect(window, nullptr, FALSE); }, 1000);
    }

    // What a Starter's main window did while a silent peer was awaited, and the box that ended
    // the wait.
    struct SilentWait {
        uidriver::MessageBoxInfo Box;
        DWORD AfterMs = 0;   // from the start of the wait to the box
        int Checks = 0, Responsive = 0, Painted = 0;
        std::string Stuck;   // when the window did not answer, ms after the wait began
        void ExpectAlive() const
        {
            EXPECT_GE(Checks, 10);
            EXPECT_EQ(Responsive, Checks) << "no answer at ms" << Stuck;
            EXPECT_EQ(Painted, Checks);
        }
    };
    struct Waiter {
        DWORD Pid;
        HWND Main;
        DWORD Since;   // tick count when its transfer began
    };

    // Waits for each Starter's error box, probing its main window about every second until
    // shortly before the time-out, when the box is being made.
    std::vector<SilentWait> AwaitErrorBoxes(const std::vector<Waiter>& waiters)
    {
        std::vector<SilentWait> waits(waiters.size());
        for (bool waiting = true; waiting;) {
            waiting = false;
            for (std::size_t i = 0; i < waiters.size(); ++i) {
                SilentWait& wait = waits[i];
                const DWORD elapsed = GetTickCount() - waiters[i].Since;
                if (wait.Box.Window || elapsed >= SilentPeerLimitMs)
                    continue;
                waiting = true;
                if (elapsed < ProbeWindowMs) {
                    ++wait.Checks;
                    const bool responds = Responds(waiters[i].Main);
                    wait.Responsive += responds;
                    wait.Painted += Repaints(waiters[i].Main);
                    if (!responds)
                        wait.Stuck += " " + std::to_string(elapsed);
                }
                wait.Box = uidriver::WaitForMessageBox(waiters[i].Pid, 1000 / waiters.size(), "Error");
                wait.AfterMs = GetTickCount() - waiters[i].Since;
            }
        }
        return waits;
    }

    // Opens the download browser and waits until its first page is on display.
    void OpenCatalogue(const GameServer& server)
    {
        const size_t before = server.Requests().size();
        ASSERT_TRUE(uidriver::ClickButton(Main, IDC_DOWNLOAD));
        ASSERT_TRUE(uidriver::WaitFor([&] { return server.Requests().size() > before && List() && !StatusDialog(); },
                                      TransferTimeoutMs));
        ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
    }

    // Download of catalogue row `row`: the box that ends it.
    uidriver::MessageBoxInfo Download(const GameServer& server, int row, const std::string& caption)
    {
        OpenCatalogue(server);
        SelectRow(row);
        uidriver::ClickButton(Main, IDOK);
        return WaitForBox(caption);
    }

    // Alt+F4 as the keyboard delivers it to the main window: a system key with Alt held.
    bool PostAltF4() const { return PostMessageA(Main, WM_SYSKEYDOWN, VK_F4, 1 | (1 << 29)) != FALSE; }

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
};
}  // namespace

TEST_F(Drills, ConnectionClosedInTheMiddleOfAnAnswer)
{
    GameServer server(GameServer::WithDoubles);
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_EQ(server.Admin("seed-planes 3").ExitCode, 0);
    // Three whole entries, then the connection ends inside the fourth's file name.
    ASSERT_TRUE(Install->WriteStarterDat(server.Address(), {{"GETPLANES_PHP", "test/cutpage.php"}}));
    Start();

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

TEST_F(Drills, AHundredMegabyteAnswerKeepsMemoryBounded)
{
    GameServer server(GameServer::WithDoubles);
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_TRUE(Install->WriteStarterDat(server.Address(), {{"ADDSCORE_PHP", "test/huge.php"}}));
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    Start();
    const SIZE_T before = PeakWorkingSet();
    ASSERT_GT(before, 0u) << "the Starter's memory counters cannot be read";

    // The answer is "5" and 100 MiB of x: the rank box shows its beginning, cut to the box.
    const uidriver::MessageBoxInfo box = Press(IDC_HISCORE, "Hiscore");
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

TEST_F(Drills, TheFtpServerRefusesTheLogin)
{
    GameServer server;
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    FtpDouble ftp("refuse-login");
    ASSERT_TRUE(ftp.Running());
    ASSERT_TRUE(Install->WriteStarterDatText("[setup]\r\nHTTP_URL=" + server.Address() + "\r\nFTP_URL=" + ftp.Address() + "\r\n"));
    const std::string precious = PlaneBytes(PlaneDesign());
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\5eed0001.plane"), precious));
    Start();

    // Download onto the design the player has: refused, and the design stays.
    uidriver::MessageBoxInfo box = Download(server, 0, "Error");
    EXPECT_EQ(box.Text.rfind(TransferErrorHead(), 0), 0u) << box.Text;
    Dismiss(box);
    EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\5eed0001.plane")), precious);
    EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0001.plane"});

    // Upload: refused, and nothing is registered.
    server.ClearRequests();
    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_UPLOAD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1; }));
    box = Press(IDOK, "Error");
    EXPECT_EQ(box.Text.rfind(TransferErrorHead(), 0), 0u) << box.Text;
    Dismiss(box);
    ExpectNoBox();
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_NE(ftp.Commands().find("USER skv_starter"), std::string::npos) << ftp.Commands();
    EXPECT_EQ(ftp.Commands().find("RETR"), std::string::npos) << ftp.Commands();
    ExpectCleanExit();
}

TEST_F(Drills, TheDataConnectionDropsHalfwayThroughADownloadOntoAnExistingDesign)
{
    GameServer server;
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    FtpDouble ftp("drop-data", server.DataDir() + "\\planes");
    ASSERT_TRUE(ftp.Running());
    ASSERT_TRUE(Install->WriteStarterDatText("[setup]\r\nHTTP_URL=" + server.Address() + "\r\nFTP_URL=" + ftp.Address() + "\r\n"));
    const std::string precious = PlaneBytes(PlaneDesign());
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\5eed0001.plane"), precious));
    Start();

    const uidriver::MessageBoxInfo box = Download(server, 0, "Error");
    EXPECT_EQ(box.Text.rfind(TransferErrorHead(), 0), 0u) << box.Text;
    Dismiss(box);
    ExpectNoBox();
    EXPECT_NE(ftp.Commands().find("RETR 5eed0001.plane"), std::string::npos) << ftp.Commands();
    EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\5eed0001.plane")), precious);
    EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0001.plane"}) << "a partial file was left";
    ExpectCleanExit();
}

// A web server and an FTP server that accept and never answer, each met by a Starter of its
// own at the same time, so the two waits for the 30 s receive time-out overlap.
TEST_F(Drills, SilentServersEndInTheErrorBoxAndTheWindowsKeepPainting)
{
    GameServer server(GameServer::WithDoubles);   // its hang.php never answers
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    FtpDouble ftp("silent");
    ASSERT_TRUE(ftp.Running());

    // The first Starter downloads a design from the silent FTP server.
    ASSERT_TRUE(Install->WriteStarterDatText("[setup]\r\nHTTP_URL=" + server.Address() + "\r\nFTP_URL=" + ftp.Address() + "\r\n"));
    Start();
    OpenCatalogue(server);
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    ASSERT_TRUE(uidriver::WaitFor([&] { return StatusDialog() != nullptr; }, TransferTimeoutMs));
    const Waiter download{Starter.Pid(), Main, GetTickCount()};

    // The second, opened over the first, sends its hiscore to the hanging script.
    GameInstall other;
    ASSERT_TRUE(other.WriteStarterDat(server.Address(), {{"ADDSCORE_PHP", "test/hang.php"}}));
    ASSERT_TRUE(other.WriteHiscores({{"Ann", 5}}));
    StarterProcess otherStarter;
    ASSERT_TRUE(otherStarter.Start(other));
    const HWND otherMain = otherStarter.WaitForMainWindow();
    ASSERT_NE(otherMain, nullptr);
    ASSERT_TRUE(uidriver::WaitUntilSettled(otherMain));
    const DWORD clicked = GetTickCount();
    ASSERT_TRUE(uidriver::ClickButton(otherMain, IDC_HISCORE));
    auto hangAsked = [&] {
        for (const RequestLine& request : server.Requests())
            if (request.Target.rfind("/php/test/hang.php", 0) == 0)
                return true;
        return false;
    };
    ASSERT_TRUE(uidriver::WaitFor(hangAsked, TransferTimeoutMs));
    const Waiter hiscore{otherStarter.Pid(), otherMain, GetTickCount()};

    const std::vector<SilentWait> waits = AwaitErrorBoxes({download, hiscore});
    for (const SilentWait& wait : waits) {
        SCOPED_TRACE(&wait == &waits[0] ? "FTP download" : "web exchange");
        ASSERT_NE(wait.Box.Window, nullptr) << "no error box within " << SilentPeerLimitMs << " ms";
        wait.ExpectAlive();
        EXPECT_EQ(wait.Box.Text.rfind(TransferErrorHead(), 0), 0u) << wait.Box.Text;
    }
    EXPECT_GE(hiscore.Since + waits[1].AfterMs - clicked, 25000u) << "the web exchange gave up before its time-out";
    EXPECT_NE(waits[1].Box.Text.find("\r\nLine:\t217\r\n"), std::string::npos) << waits[1].Box.Text;
    EXPECT_TRUE(Install->PlaneFiles().empty());

    // Both go on: the one on top ends first, so its Exit is what the mouse reaches.
    Dismiss(waits[1].Box);
    ASSERT_TRUE(uidriver::ClickButton(otherMain, IDC_EXIT));
    DWORD code = 1;
    EXPECT_TRUE(otherStarter.WaitForExit(20000, &code));
    EXPECT_EQ(code, 0u);
    Dismiss(waits[0].Box);
    ExpectNoBox();
    ExpectCleanExit();
}

TEST_F(Drills, MyPlanesReadOnlyOrMissing)
{
    GameServer server;
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    PlaneDesign design;
    design.Name = "Mine";
    const std::string precious = PlaneBytes(design);
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\5eed0001.plane"), precious));
    Start();
    {
        ImmutableFolder readOnly(Install->GameFile("myPlanes"));
        ASSERT_TRUE(readOnly.Applied());
        // A download cannot be stored: the error box, and the design there stays.
        const uidriver::MessageBoxInfo error = Download(server, 0, "Error");
        EXPECT_EQ(error.Text.rfind(TransferErrorHead(), 0), 0u) << error.Text;
        Dismiss(error);
        EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\5eed0001.plane")), precious);
        EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0001.plane"});

        // Uploading only reads the folder: it works.
        ASSERT_TRUE(uidriver::ClickButton(Main, IDC_UPLOAD));
        ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1; }));
        EXPECT_EQ(RemoteList(List(), Starter.Pid()).Cell(0, 0), "Mine");
        const uidriver::MessageBoxInfo done = Press(IDOK, "Info");
        EXPECT_EQ(done.Text, LangText(25));
        Dismiss(done);
        EXPECT_EQ(server.StoredPlanes().size(), 2u);
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

TEST_F(Drills, TheRegistryKeyCannotBeWritten)
{
    GameServer server;
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    ASSERT_TRUE(Install->WriteHiscores({{"Ann", 5}}));
    ReadOnlyKey key(NetSettingsKeyPath);
    ASSERT_TRUE(key.Applied);
    ASSERT_FALSE(key.Writable());
    Start();

    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_OPTIONS));
    HWND dialog = WaitForDialog("Options");
    ASSERT_NE(dialog, nullptr);
    HWND edit = uidriver::ChildById(dialog, IDC_MAIL_EDIT);
    ASSERT_TRUE(uidriver::SetText(edit, "ann@example.org"));
    ASSERT_TRUE(uidriver::ClickButton(dialog, IDOK));
    EXPECT_TRUE(uidriver::WaitForWindowGone(dialog));
    EXPECT_TRUE(uidriver::WaitFor([&] { return uidriver::IsEnabledWindow(Main); }));
    ExpectNoBox();
    EXPECT_FALSE(UserValueExists(NetSettingsKeyPath, "Mail"));

    // The server settings cannot be stored either; the Hiscore command still works.
    const uidriver::MessageBoxInfo box = Press(IDC_HISCORE, "Hiscore");
    ASSERT_NE(box.Window, nullptr);
    Dismiss(box);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].Target, "/php/_addscore.php?data=Ann;5;");
    ExpectCleanExit();
}

TEST_F(Drills, ACatalogueOfTenThousandHostileEntries)
{
    GameServer server(GameServer::WithDoubles);
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    ASSERT_TRUE(Install->WriteStarterDat(server.Address(), {{"GETPLANES_PHP", "test/hostile10k.php"}}));
    Start();

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
        EXPECT_EQ(box.Text, TransferErrorHead() + "123\r\nLine:\t217\r\nFile:\tstarter");
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

TEST_F(Drills, BrokenHiscoreFiles)
{
    GameServer server;
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    Start();

    const std::string valid = HiscoreLine("Ann", 5);
    const std::string longLine = HiscoreLine(std::string(2000, 'L'), 9);
    // Each broken form: either the first record is uploaded as far as it can be read, or the
    // string 26 box says there is nothing to send.
    const struct {
        const char* What;
        std::string Text;
        std::string Target;   // empty: the string 26 box and no request
    } cases[] = {
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
        ASSERT_TRUE(Install->WriteHiscoreText(c.Text));
        server.ClearRequests();
        const bool sent = !c.Target.empty();
        const uidriver::MessageBoxInfo box = Press(IDC_HISCORE, sent ? "Hiscore" : "Error");
        ASSERT_NE(box.Window, nullptr);
        if (!sent) {
            EXPECT_EQ(box.Text.rfind(LangText(26), 0), 0u) << box.Text;
        }
        Dismiss(box);
        const std::vector<RequestLine> requests = server.Requests();
        if (sent) {
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests[0].Target, c.Target);
        } else {
            EXPECT_TRUE(requests.empty());
        }
    }
    ExpectCleanExit();
}

TEST_F(Drills, AltF4DuringADownloadEndsTheProgramAfterItWithTheDesignWhole)
{
    GameServer server;
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_EQ(server.Admin("seed-planes 1").ExitCode, 0);
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    ASSERT_TRUE(WriteFileBytes(Install->GameFile("myPlanes\\5eed0001.plane"), "an older design"));
    Start();

    OpenCatalogue(server);
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    ASSERT_TRUE(uidriver::WaitFor([&] { return StatusDialog() != nullptr; }, TransferTimeoutMs));
    ASSERT_TRUE(PostAltF4());
    DWORD code = 1;
    EXPECT_TRUE(Starter.WaitForExit(TransferTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\5eed0001.plane")), server.StoredPlane("5eed0001.plane"));
    EXPECT_EQ(Install->PlaneFiles(), std::vector<std::string>{"5eed0001.plane"});
}

// Exit is disabled while the browser is open; Alt+F4 is what a player can still press.
TEST_F(Drills, AltF4DuringAnUploadEndsTheProgramAfterItWithTheDesignRegistered)
{
    GameServer server;
    ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    PlaneDesign design;
    design.Name = "Last Flight";
    ASSERT_TRUE(Install->WritePlane("mine.plane", design));
    Start();

    ASSERT_TRUE(uidriver::ClickButton(Main, IDC_UPLOAD));
    ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == 1; }));
    ASSERT_TRUE(uidriver::ClickButton(Main, IDOK));
    ASSERT_TRUE(uidriver::WaitFor([&] { return StatusDialog() != nullptr; }, TransferTimeoutMs));
    ASSERT_TRUE(PostAltF4());
    DWORD code = 1;
    EXPECT_TRUE(Starter.WaitForExit(TransferTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
    const std::vector<std::string> stored = server.StoredPlanes();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(server.StoredPlane(stored[0]), PlaneBytes(design));
    EXPECT_NE(server.Admin("stats").Output.find("designs 1"), std::string::npos) << server.Admin("stats").Output;
    EXPECT_EQ(ReadFileBytes(Install->GameFile("myPlanes\\mine.plane")), PlaneBytes(design));
}
