#include "tests/support/loopback.h"   // <winsock2.h> before <windows.h>
#include "tests/e2e/fixtures.h"
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace e2e {

// ---- Paths

std::string ToWindowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string ToUnixPath(const std::string& windowsPath)
{
    std::string path = windowsPath;
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') path.erase(0, 2);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::string EnvPath(const char* name)
{
    char value[4096] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) return {};
    return value[0] == '/' ? ToWindowsPath(value) : std::string(value);
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::error_code ignored;
    fs::create_directories(fs::path(path).parent_path(), ignored);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file.flush());
}

namespace {

std::string SourceDirUnix()
{
    return ToUnixPath(EnvPath("STARTER_SOURCE_DIR"));
}

bool CopyInto(const std::string& from, const std::string& to)
{
    if (from.empty() || !CopyFileA(from.c_str(), to.c_str(), FALSE)) {
        ADD_FAILURE() << "cannot copy '" << from << "' to '" << to << "' (set by ctest: STARTER_EXE, "
                      << "STARTER_DLL, STARTER_ZP_STANDIN, STARTER_SETUP_STANDIN)";
        return false;
    }
    return true;
}

std::vector<std::string> FileNames(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file()) names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct KeyHolder {
    HKEY Key = nullptr;
    ~KeyHolder() { if (Key) RegCloseKey(Key); }
};

}  // namespace

// ---- Unix commands

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

UnixResult RunUnix(const std::string& shellCommand, DWORD timeoutMs)
{
    TempFolder work("skv-e2e-run");
    const std::string dir = work.UnixPath();
    // The script lets go of the test's output pipe at once: a server it starts outlives it.
    const std::string script =
        "exec </dev/null >/dev/null 2>&1\n"
        "export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\n"
        "( " + shellCommand + "\n) </dev/null >" + dir + "/out 2>&1\n"
        "echo $? >" + dir + "/rc.tmp && mv " + dir + "/rc.tmp " + dir + "/rc\n";
    UnixResult result;
    if (!WriteFileBytes(work.File("run.sh"), script)) return result;

    // Wine hands a Unix executable to exec; there is no process handle to wait on.
    std::string commandLine = "Z:\\bin\\bash " + dir + "/run.sh";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return result;
    if (process.hProcess) CloseHandle(process.hProcess);
    if (process.hThread) CloseHandle(process.hThread);

    const std::string marker = work.File("rc");
    if (!uidriver::WaitFor([&] { return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES; }, timeoutMs))
        return result;
    result.ExitCode = std::atoi(ReadFileBytes(marker).c_str());
    result.Output = ReadFileBytes(work.File("out"));
    return result;
}

// ---- Registry

const char NetSettingsKeyPath[] = "Software\\Brightmoor Software\\INet\\1.0";
const char MakerGameKeyPath[] = "Software\\Brightmoor Software\\Skyvora\\1.0";
const char PublisherGameKeyPath[] = "Software\\Larkspire\\SKV";

namespace {

bool WriteUserValue(const char* key, const char* name, DWORD type, const void* data, DWORD size)
{
    KeyHolder holder;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_WRITE, nullptr, &holder.Key, nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(holder.Key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

}  // namespace

bool WriteUserString(const char* key, const char* name, const std::string& value)
{
    return WriteUserValue(key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

bool WriteUserDword(const char* key, const char* name, DWORD value)
{
    return WriteUserValue(key, name, REG_DWORD, &value, sizeof value);
}

bool ReadUserString(const char* key, const char* name, std::string& value)
{
    DWORD type = 0, size = 0;
    if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    std::string data(size + 1, '\0');
    if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, &data[0], &size) != ERROR_SUCCESS)
        return false;
    data.resize(size > 0 ? size - 1 : 0);   // the stored terminator
    value = data.c_str();
    return true;
}

bool UserValueExists(const char* key, const char* name)
{
    return RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void DeleteUserValue(const char* key, const char* name)
{
    KeyHolder holder;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &holder.Key) == ERROR_SUCCESS)
        RegDeleteValueA(holder.Key, name);
}

void DeleteUserKey(const char* key)
{
    RegDeleteTreeA(HKEY_CURRENT_USER, key);
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
}

void ClearStarterRegistry()
{
    for (const char* key : {NetSettingsKeyPath, MakerGameKeyPath, PublisherGameKeyPath}) DeleteUserKey(key);
}

// ---- Texts

std::string StarterText(int id)
{
    HMODULE module = LoadLibraryExA(EnvPath("STARTER_EXE").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return {};
    char text[4096] = {};
    LoadStringA(module, static_cast<UINT>(id), text, sizeof text);
    FreeLibrary(module);
    return text;
}

std::string LangText(int row, int language)
{
    return StarterText(10000 + 5000 * language + row);
}

// ---- Game files

std::string HiscoreLine(const std::string& name, int64_t score, int64_t mask)
{
    const int64_t k2 = 0x0f0f0f0f, k3 = 0x13579bdf;
    const int64_t k1 = score ^ k2 ^ k3;
    return name + ";1;" + std::to_string(k1) + ";" + std::to_string(mask) + ";" + std::to_string(k2) + ";" +
           std::to_string(k3) + ";" + std::to_string(score ^ mask);
}

std::string PlaneBytes(const PlaneDesign& design)
{
    std::string bytes;
    auto put = [&](uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xff);
    };
    put(static_cast<uint32_t>(28 + design.Name.size() + 1));
    for (int32_t n : {design.Costs, design.Weight, design.Consumption, design.Noise, design.Reliability, design.Velocity, design.Range})
        put(static_cast<uint32_t>(n));
    bytes += design.Name;
    bytes += '\0';
    return bytes + design.Body;
}


// ---- Game installation

GameInstall::GameInstall(bool separateStarter, const std::string& gameLeaf)
    : Root("skv-game"), Game(Root.File(gameLeaf)), Starter(separateStarter ? Root.File("starter") : Game)
{
    std::error_code ignored;
    fs::create_directories(Game + "\\myPlanes", ignored);
    fs::create_directories(Starter, ignored);
    CopyInto(EnvPath("STARTER_EXE"), StarterFile("Starter.exe"));
    CopyInto(EnvPath("STARTER_DLL"), StarterFile("starter.dll"));
    CopyInto(EnvPath("STARTER_ZP_STANDIN"), GameFile("ZP.EXE"));
}

GameInstall::~GameInstall()
{
    CloseGameWindows();
}

std::string GameInstall::GameFile(const std::string& relative) const { return Game + "\\" + relative; }
std::string GameInstall::StarterFile(const std::string& relative) const { return Starter + "\\" + relative; }

bool GameInstall::WriteStarterDat(const std::string& host, const std::map<std::string, std::string>& extra)
{
    std::map<std::string, std::string> settings = {{"HTTP_URL", host}, {"FTP_URL", host}};
    for (const auto& [key, value] : extra) settings[key] = value;
    std::string text = "[setup]\r\n";
    for (const auto& [key, value] : settings) text += key + "=" + value + "\r\n";
    return WriteStarterDatText(text);
}

bool GameInstall::WriteStarterDatText(const std::string& text)
{
    return WriteFileBytes(StarterFile("starter.dat"), text);
}

bool GameInstall::WriteHiscores(const std::vector<std::pair<std::string, int64_t>>& entries)
{
    std::string text;
    for (size_t i = 0; i < 6; ++i)
        text += (i < entries.size() ? HiscoreLine(entries[i].first, entries[i].second) : HiscoreLine("Nobody", 0)) + "\r\n";
    return WriteHiscoreText(text);
}

bool GameInstall::WriteHiscoreText(const std::string& text)
{
    return WriteFileBytes(GameFile("misc\\xmlmap.fla"), text);
}

bool GameInstall::WritePlane(const std::string& fileName, const PlaneDesign& design)
{
    return WriteFileBytes(GameFile("myPlanes\\" + fileName), PlaneBytes(design));
}

std::vector<std::string> GameInstall::PlaneFiles() const
{
    return FileNames(GameFile("myPlanes"));
}

bool GameInstall::WriteAutorun(const std::string& lang)
{
    return WriteFileBytes(StarterFile("autorun.inf"), "[config]\r\nlang=" + lang + "\r\n");
}

bool GameInstall::WriteLanguageFile(const std::string& bytes, bool inGameDir)
{
    return WriteFileBytes((inGameDir ? GameFile("") : StarterFile("")) + "misc\\sabbel.dat", bytes);
}

bool GameInstall::AddSetupStandin()
{
    return CopyInto(EnvPath("STARTER_SETUP_STANDIN"), StarterFile("SETUP.EXE"));
}

bool GameInstall::RemoveGame()
{
    return DeleteFileA(GameFile("ZP.EXE").c_str()) != FALSE;
}

bool GameInstall::MakeGameExitAtOnce()
{
    return WriteFileBytes(GameFile("ZP.EXE.exit"), "");
}

std::vector<StandinRun> GameInstall::GameRuns() const { return ReadStandinLog(GameFile("ZP.EXE.log")); }
std::vector<StandinRun> GameInstall::SetupRuns() const { return ReadStandinLog(StarterFile("SETUP.EXE.log")); }

// ---- Loopback addresses

std::string FreeAddress()
{
    const std::string address = testsupport::FreeLoopbackAddress();
    if (!address.empty()) return address;
    ADD_FAILURE() << "no free address in 127.1.0.0/16";
    return "127.1.255.254";
}

// ---- A misbehaving FTP server

FtpDouble::FtpDouble(const std::string& mode, const std::string& root) : Host(FreeAddress()), Log("skv-ftp-double")
{
    const std::string log = Log.UnixPath() + "/commands.log";
    Started = RunUnix("setsid python3 " + ShellQuote(SourceDirUnix() + "/tests/doubles/ftp_double.py") + " --addr " + Host +
                      " --mode " + mode + " --root " + ShellQuote(ToUnixPath(root)) + " --log " + ShellQuote(log) +
                      " --lifetime 240 >/dev/null 2>&1 & echo $! >" + ShellQuote(Log.UnixPath() + "/pid") +
                      "\nfor i in $(seq 100); do (exec 3<>/dev/tcp/" + Host +
                      "/21) 2>/dev/null && exit 0; sleep 0.1; done; exit 1")
                  .ExitCode == 0;
}

FtpDouble::~FtpDouble() { RunUnix("kill $(cat " + ShellQuote(Log.UnixPath() + "/pid") + ") 2>/dev/null; true"); }

std::string FtpDouble::Commands() const { return ReadFileBytes(Log.File("commands.log")); }

// ---- An immutable folder

ImmutableFolder::ImmutableFolder(const std::string& path) : Path(ToUnixPath(path))
{
    Set = RunUnix("chattr +i " + ShellQuote(Path)).ExitCode == 0;
}

ImmutableFolder::~ImmutableFolder() { RunUnix("chattr -i " + ShellQuote(Path)); }

// ---- Game server

GameServer::GameServer(Scripts scripts, const std::string& options) : Options(options), Data("skv-server")
{
    // Another checkout's suite may take the same address between our check and the start.
    for (int attempt = 0; attempt < 3; ++attempt)
        if (Start(FreeAddress(), scripts == WithDoubles)) return;
    ADD_FAILURE() << "game server did not start: " << StartResult.Output;
}

GameServer::GameServer(const std::string& address, bool doubles, const std::string& options)
    : Options(options), Data("skv-server")
{
    if (!Start(address, doubles))
        ADD_FAILURE() << "game server on " << address << " did not start: " << StartResult.Output;
}

bool GameServer::Start(const std::string& address, bool doubles)
{
    if (!Host.empty())   // a failed start may have left one of the two servers running
        RunUnix(ShellQuote(SourceDirUnix() + "/server/stop.sh") + " --data " + ShellQuote(Data.UnixPath()));
    Host = address;
    StartResult = RunUnix(ShellQuote(SourceDirUnix() + "/server/start.sh") + " --addr " + ShellQuote(address) +
                          " --data " + ShellQuote(Data.UnixPath()) + (doubles ? " --doubles" : "") +
                          (Options.empty() ? "" : " " + Options));
    return Running();
}

GameServer::~GameServer()
{
    RunUnix(ShellQuote(SourceDirUnix() + "/server/stop.sh") + " --data " + ShellQuote(Data.UnixPath()));
    std::error_code ignored;
    if (!Data.Path().empty())
        fs::remove_all(Data.Path() + ".root", ignored);
}

// Root's own files lie beside the data folder once the servers' user owns it (production as root).
std::string GameServer::RecordsFile(const std::string& name) const
{
    std::error_code missing;
    return fs::is_directory(Data.Path() + ".root", missing) ? Data.Path() + ".root\\" + name : Data.File(name);
}

UnixResult GameServer::Admin(const std::string& args) const
{
    return RunUnix("php " + ShellQuote(SourceDirUnix() + "/server/admin.php") + " --data " +
                   ShellQuote(Data.UnixPath()) + " " + args);
}

std::vector<RequestLine> GameServer::Requests() const
{
    std::vector<RequestLine> requests;
    std::istringstream lines(ReadFileBytes(RecordsFile("requests.log")));
    for (std::string line; std::getline(lines, line);) {
        RequestLine request;
        const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1), tab3 = line.find('\t', tab2 + 1);
        const std::string head = line.substr(0, tab1);
        if (tab1 != std::string::npos) request.Host = line.substr(tab1 + 1, tab2 - tab1 - 1);
        if (tab2 != std::string::npos) request.UserAgent = line.substr(tab2 + 1, tab3 - tab2 - 1);
        const size_t space1 = head.find(' '), space2 = head.rfind(' ');
        request.Method = head.substr(0, space1);
        if (space1 != std::string::npos && space2 > space1) {
            request.Target = head.substr(space1 + 1, space2 - space1 - 1);
            request.Protocol = head.substr(space2 + 1);
        }
        requests.push_back(request);
    }
    return requests;
}

void GameServer::ClearRequests() const
{
    WriteFileBytes(RecordsFile("requests.log"), "");
}

std::vector<std::string> GameServer::StoredPlanes() const { return FileNames(Data.File("planes")); }

std::string GameServer::StoredPlane(const std::string& fileName) const
{
    return ReadFileBytes(Data.File("planes\\" + fileName));
}

bool GameServer::WriteDataFile(const std::string& relative, const std::string& bytes) const
{
    return WriteFileBytes(Data.File(relative), bytes);
}

// ---- Starter process

StarterProcess::~StarterProcess()
{
    Kill();
    if (Job) {
        TerminateJobObject(Job, 1);
        CloseHandle(Job);
    }
}

bool StarterProcess::Start(const std::string& exePath, const std::string& workingFolder,
                           const std::string& arguments)
{
    Kill();
    std::string commandLine = "\"" + exePath + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!Job) {
        Job = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (Job) SetInformationJobObject(Job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    if (!CreateProcessA(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &process))
        return false;
    if (Job) AssignProcessToJobObject(Job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    Process = process.hProcess;
    ProcessId = process.dwProcessId;
    return true;
}

HWND StarterProcess::WaitForMainWindow(DWORD timeoutMs) const
{
    uidriver::WindowQuery query;
    query.ClassName = "SKV_Starter";
    query.ProcessId = ProcessId;
    return ProcessId ? uidriver::WaitForWindow(query, timeoutMs) : nullptr;
}

bool StarterProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) const
{
    if (!Process || WaitForSingleObject(Process, timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(Process, exitCode);
    return true;
}

bool StarterProcess::IsRunning() const
{
    return Process && WaitForSingleObject(Process, 0) == WAIT_TIMEOUT;
}

void StarterProcess::Kill()
{
    if (!Process) return;
    if (IsRunning()) {
        TerminateProcess(Process, 1);
        WaitForSingleObject(Process, 5000);
    }
    CloseHandle(Process);
    Process = nullptr;
    ProcessId = 0;
}

void CloseGameWindows()
{
    uidriver::WindowQuery query;
    query.ClassName = "AfxFrameOrView42s";
    query.VisibleOnly = false;
    for (HWND window : uidriver::FindTopWindows(query)) {
        uidriver::PostClose(window);
        uidriver::WaitForWindowGone(window, 5000);
    }
}

// ---- Common fixture

void StarterTest::SetUp()
{
    // The mouse rests where the test before clicked: a new window would open with the button
    // under it hovered. The corner is outside the centred main window.
    uidriver::MoveMouseTo({GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1});
    ClearStarterRegistry();
    Install = std::make_unique<GameInstall>();
}

void StarterTest::TearDown()
{
    Starter.Kill();
    CloseGameWindows();
    Install.reset();
}

HWND StarterTest::StartStarter()
{
    if (!Starter.Start(*Install)) {
        ADD_FAILURE() << "cannot start " << Install->StarterExe() << " (error " << GetLastError() << ")";
        return nullptr;
    }
    HWND window = Starter.WaitForMainWindow();
    if (!window) ADD_FAILURE() << "no main window (class SKV_Starter) within the time-out";
    return window;
}

HWND StarterTest::WaitForDialog(const std::string& caption, DWORD timeoutMs)
{
    uidriver::WindowQuery query;
    query.ClassName = "#32770";
    query.Caption = caption;
    query.ProcessId = Starter.Pid();
    HWND dialog = uidriver::WaitForWindow(query, timeoutMs);
    return dialog && uidriver::WaitUntilSettled(dialog) ? dialog : nullptr;
}

// ---- The mouse cursor

std::string XCursor()
{
    const std::string script = ToUnixPath(EnvPath("STARTER_SOURCE_DIR")) + "/tests/e2e/x_cursor.py";
    const UnixResult result = RunUnix("python3 " + ShellQuote(script), 20000);
    const std::string line = result.Output.substr(0, result.Output.find_first_of("\r\n"));
    return result.ExitCode == 0 ? line : "exit " + std::to_string(result.ExitCode) + ": " + result.Output;
}

std::string ReferenceCursor(LPCSTR id)
{
    // One probe for the whole run: two probes on one spot would take each other's mouse.
    static HWND probe = [] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "CursorProbe";
        RegisterClassA(&windowClass);
        return CreateWindowExA(WS_EX_TOPMOST, "CursorProbe", "", WS_POPUP | WS_VISIBLE, 0, 0, 40, 40, nullptr, nullptr,
                               windowClass.hInstance, nullptr);
    }();
    HCURSOR cursor = LoadCursorA(nullptr, id);
    SetClassLongPtrA(probe, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor));
    // The probe may be mapped only after a first move reaches it: keep moving inside it.
    int step = 0;
    const bool shown = uidriver::WaitFor([&] {
        uidriver::MoveMouseTo({20 + step++ % 2, 20});
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        return GetCursor() == cursor;
    });
    return shown ? XCursor() : "not shown";
}

}  // namespace e2e
