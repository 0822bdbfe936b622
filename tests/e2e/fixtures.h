// Fixtures of the end-to-end tests: a temporary game installation, a game server of the
// test's own, the Starter process, the registry and Unix commands run from under Wine.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "tests/support/temp_folder.h"
#include "tools/standins/standin_log.h"
#include "tools/uidriver/uidriver.h"

namespace e2e {

// ---- Paths. Unix paths are seen through Wine's Z: drive.
std::string ToWindowsPath(const std::string& unixPath);    // "/tmp/x" -> "Z:\tmp\x"
std::string ToUnixPath(const std::string& windowsPath);    // "Z:\tmp\x" -> "/tmp/x"
// A path handed in by ctest (STARTER_EXE, STARTER_DLL, STARTER_ZP_STANDIN,
// STARTER_SETUP_STANDIN, STARTER_SOURCE_DIR), as a Windows path; "" when unset.
std::string EnvPath(const char* name);
std::string ReadFileBytes(const std::string& path);         // "" when missing
bool WriteFileBytes(const std::string& path, const std::string& bytes);  // creates folders

// A folder under the Unix /tmp, removed with everything in it at the end.
using testsupport::TempFolder;

// ---- Unix commands, run from the Wine process through Z:\bin\bash. Wine starts Unix
// programs without a process handle, so the script writes its exit code to a marker file.
struct UnixResult {
    int ExitCode = -1;                   // -1: did not finish in time
    std::string Output;                  // stdout and stderr
};
UnixResult RunUnix(const std::string& shellCommand, DWORD timeoutMs = 60000);

// ---- The mouse cursor. Wine gives every process its own handles for the system cursors, so
// only the X server's image tells which one shows: "width height xhot yhot digest".
std::string XCursor();
// The image of a system cursor (IDC_*), as shown over a probe window of this process.
std::string ReferenceCursor(LPCSTR id);
std::string ShellQuote(const std::string& text);

// ---- Registry of the current user in the test prefix.
extern const char NetSettingsKeyPath[];     // Software\Brightmoor Software\INet\1.0
extern const char MakerGameKeyPath[];       // Software\Brightmoor Software\Skyvora\1.0 ("&AppPath")
extern const char PublisherGameKeyPath[];   // Software\Larkspire\SKV ("Path")
bool WriteUserString(const char* key, const char* name, const std::string& value);
bool WriteUserDword(const char* key, const char* name, DWORD value);
// The REG_SZ value, or false when missing or of another type.
bool ReadUserString(const char* key, const char* name, std::string& value);
bool UserValueExists(const char* key, const char* name);
void DeleteUserValue(const char* key, const char* name);
void DeleteUserKey(const char* key);
// Deletes the three keys above, so a test starts as on a fresh machine.
void ClearStarterRegistry();

// ---- Texts of the Starter's own string table, read from STARTER_EXE as the Starter reads them.
std::string StarterText(int id);                               // "" when there is none
constexpr int German = 0, English = 1, French = 2;
std::string LangText(int row, int language = English);         // string 10000 + 5000 * language + row

// ---- Game files.
// One line of the hiscore file whose check values make SCORE valid.
std::string HiscoreLine(const std::string& name, int64_t score, int64_t mask = 0x5a5a1234);
struct PlaneDesign {
    std::string Name = "Test Plane";
    int32_t Costs = 1000, Weight = 500, Consumption = 20, Noise = 3, Reliability = 5, Velocity = 800, Range = 3000;
    std::string Body = "design body bytes\r\n\x01\x02\x03";   // what follows the summary block
};
std::string PlaneBytes(const PlaneDesign& design);


// ---- A temporary game installation: the Starter, starter.dll and ZP.EXE in one folder
// (with separateStarter, the Starter and starter.dll in a sibling folder "starter").
class GameInstall {
public:
    explicit GameInstall(bool separateStarter = false, const std::string& gameLeaf = "game");
    ~GameInstall();
    GameInstall(const GameInstall&) = delete;
    GameInstall& operator=(const GameInstall&) = delete;

    const std::string& GameDir() const { return Game; }          // no trailing backslash
    const std::string& StarterDir() const { return Starter; }
    std::string GameFile(const std::string& relative) const;
    std::string StarterFile(const std::string& relative) const;
    std::string StarterExe() const { return StarterFile("Starter.exe"); }

    // starter.dat beside the Starter: section setup with HTTP_URL and FTP_URL = host and the
    // extra keys, which may replace those two (e.g. {"ADDSCORE_PHP", "test/title404.php"}).
    bool WriteStarterDat(const std::string& host, const std::map<std::string, std::string>& extra = {});
    bool WriteStarterDatText(const std::string& text);
    bool WriteHiscores(const std::vector<std::pair<std::string, int64_t>>& entries);  // 6 lines
    bool WriteHiscoreText(const std::string& text);
    bool WritePlane(const std::string& fileName, const PlaneDesign& design);   // into myPlanes
    std::vector<std::string> PlaneFiles() const;                            // names in myPlanes
    bool WriteAutorun(const std::string& lang);                             // beside the Starter
    bool WriteLanguageFile(const std::string& bytes, bool inGameDir = true);  // misc\sabbel.dat
    bool AddSetupStandin();                                                 // SETUP.EXE beside the Starter
    bool RemoveGame();                                                      // deletes ZP.EXE
    bool MakeGameExitAtOnce();                                              // ZP.EXE ends right after logging
    std::vector<StandinRun> GameRuns() const;                              // ZP.EXE.log
    std::vector<StandinRun> SetupRuns() const;                             // SETUP.EXE.log

private:
    TempFolder Root;
    std::string Game, Starter;
};

// ---- Loopback addresses. Tests that start servers take them from 127.1.0.0/16, which no other
// suite uses: at random, so two checkouts testing at once rarely meet, and only where nothing
// listens on port 80 or 21 yet.
std::string FreeAddress();

// ---- A game server of the test's own, on its own loopback address (ports 80 and 21).
struct RequestLine {
    std::string Method, Target, Protocol, Host, UserAgent;
};
class GameServer {
public:
    enum Scripts { Reference, WithDoubles };   // WithDoubles: also the fault doubles under php/test/
    // On a free address of its own (FreeAddress). options: more start.sh options, e.g.
    // "--production" for nginx and PHP-FPM.
    explicit GameServer(Scripts scripts = Reference, const std::string& options = "");
    // On the given address; for the few tests that need a fixed one.
    explicit GameServer(const std::string& address, bool doubles = false, const std::string& options = "");
    ~GameServer();   // stops both servers
    GameServer(const GameServer&) = delete;
    GameServer& operator=(const GameServer&) = delete;

    bool Running() const { return StartResult.ExitCode == 0; }
    const UnixResult& StartOutput() const { return StartResult; }
    const std::string& Address() const { return Host; }
    std::string DataDir() const { return Data.Path(); }        // Windows path
    // php server/admin.php --data DIR ARGS; ARGS are shell words, quote them with ShellQuote.
    UnixResult Admin(const std::string& args) const;
    std::vector<RequestLine> Requests() const;
    void ClearRequests() const;
    std::vector<std::string> StoredPlanes() const;              // file names in DATA/planes
    std::string StoredPlane(const std::string& fileName) const; // bytes
    bool WriteDataFile(const std::string& relative, const std::string& bytes) const;  // e.g. fixed-rank

private:
    bool Start(const std::string& address, bool doubles);
    std::string RecordsFile(const std::string& name) const;
    std::string Options;
    std::string Host;
    TempFolder Data;
    UnixResult StartResult;
};

// ---- A misbehaving FTP server (tests/doubles/ftp_double.py) on a free address of its own, port 21.
// mode: refuse-login, drop-data or silent; root: the folder it serves.
class FtpDouble {
public:
    explicit FtpDouble(const std::string& mode, const std::string& root = "/tmp");
    ~FtpDouble();
    FtpDouble(const FtpDouble&) = delete;
    FtpDouble& operator=(const FtpDouble&) = delete;

    bool Running() const { return Started; }
    const std::string& Address() const { return Host; }
    std::string Commands() const;   // the commands it received, one a line

private:
    std::string Host;
    TempFolder Log;
    bool Started = false;
};

// ---- A folder in which nothing can be created, renamed or deleted, even by root (chattr +i),
// until the object ends.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const std::string& path);
    ~ImmutableFolder();
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    bool Applied() const { return Set; }

private:
    std::string Path;   // Unix path
    bool Set = false;
};

// ---- The Starter process (or any program), ended on teardown if still running. Everything
// it starts (the game stand-in, setup) shares its job and ends with this object at the latest,
// so no test leaves a process behind to hold ctest's output pipe open.
class StarterProcess {
public:
    StarterProcess() = default;
    ~StarterProcess();
    StarterProcess(const StarterProcess&) = delete;
    StarterProcess& operator=(const StarterProcess&) = delete;

    bool Start(const std::string& exePath, const std::string& workingFolder = "",
               const std::string& arguments = "");
    bool Start(const GameInstall& install) { return Start(install.StarterExe(), install.StarterDir()); }
    DWORD Pid() const { return ProcessId; }
    HWND WaitForMainWindow(DWORD timeoutMs = 20000) const;      // class "SKV_Starter"
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr) const;
    bool IsRunning() const;
    void Kill();

private:
    HANDLE Process = nullptr;
    DWORD ProcessId = 0;
    HANDLE Job = nullptr;
};

// Closes every stand-in game window ("AfxFrameOrView42s") still open.
void CloseGameWindows();

// ---- The common test fixture: clean registry, one installation, one Starter.
class StarterTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the Starter from the installation and waits for its main window.
    HWND StartStarter();
    // Waits for a dialog box ("#32770") of the Starter with this caption and lets it paint.
    HWND WaitForDialog(const std::string& caption, DWORD timeoutMs = uidriver::DefaultTimeoutMs);

    std::unique_ptr<GameInstall> Install;
    StarterProcess Starter;
};

}  // namespace e2e
