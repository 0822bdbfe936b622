// The Win32 layer of online/ in-process: the web exchange against a small scripted server of the
// test's own on port 80 of an address picked at run time, the network calls, the server settings
// and the error box.
#include "tests/support/loopback.h"   // <winsock2.h> before <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/base/app_state.h"
#include "app/base/handles.h"
#include "online/error_box.h"
#include "online/http_exchange.h"
#include "online/internet_calls.h"
#include "online/server_settings.h"
#include "settings/registry_store.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/app_scope.h"
#include "tests/wine/registry_values.h"
#include "ui/status_dialog.h"

namespace {
// The English error box up to its value, for string 29.
const std::string TransferErrorHead = "An error occured during the the data transfer.\r\n\r\nError:\t";

// The listener's address, picked once.
const std::string& ServerAddress()
{
    static const std::string address = testsupport::FreeLoopbackAddress({80});
    return address;
}

// What a message box showed.
struct SeenBox {
    bool Found = false;
    std::string Caption;
    std::vector<std::string> Texts;
    HWND Owner = nullptr;
    bool ExclamationIcon = false;
    bool StatusGone = false;
    std::string Text() const
    {
        std::string text;
        for (const std::string& part : Texts)
            text += part;
        return text;
    }
};

// Reads the first message box of this process (the status dialog aside) on a thread of its own,
// answers it with OK and keeps what it showed. statusDialog: the dialog that should be gone by
// the time the box appears.
class BoxWatch {
public:
    explicit BoxWatch(HWND statusDialog = nullptr) : StatusDialog(statusDialog), Watcher([this] { Watch(); }) {}
    ~BoxWatch() { Join(); }
    BoxWatch(const BoxWatch&) = delete;
    BoxWatch& operator=(const BoxWatch&) = delete;
    const SeenBox& Seen()
    {
        Join();
        return Box;
    }

private:
    void Join()
    {
        if (Watcher.joinable())
            Watcher.join();
    }
    void Watch()
    {
        for (int attempt = 0; attempt < 2400; ++attempt) {
            Sleep(25);
            HWND box = nullptr;
            while ((box = FindWindowExA(nullptr, box, "#32770", nullptr)) != nullptr) {
                DWORD process = 0;
                GetWindowThreadProcessId(box, &process);
                char caption[64] = {};
                GetWindowTextA(box, caption, sizeof caption);
                if (process != GetCurrentProcessId() || !IsWindowVisible(box) || box == StatusDialog ||
                    std::strcmp(caption, "Status") == 0)
                    continue;
                Box.Found = true;
                Box.Caption = caption;
                Box.Owner = GetWindow(box, GW_OWNER);
                Box.StatusGone = !StatusDialog || !IsWindow(StatusDialog);
                EnumChildWindows(box, Collect, reinterpret_cast<LPARAM>(&Box));
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                return;
            }
        }
    }
    static BOOL CALLBACK Collect(HWND child, LPARAM param)
    {
        auto* seen = reinterpret_cast<SeenBox*>(param);
        char className[32] = {};
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Static") != 0)
            return TRUE;
        if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            const auto icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
            seen->ExclamationIcon = icon && icon == LoadIconA(nullptr, IDI_EXCLAMATION);
            return TRUE;
        }
        char text[1024] = {};
        GetWindowTextA(child, text, sizeof text);
        if (text[0])
            seen->Texts.push_back(text);
        return TRUE;
    }
    HWND StatusDialog;
    SeenBox Box;
    std::thread Watcher;   // last: it starts once the rest is made
};

// ---- The web exchange and the network calls

// Accepts one connection, keeps the request head, sends the answer bytes and closes.
class OneShotServer {
public:
    explicit OneShotServer(std::string answer) : Answer(std::move(answer))
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        Listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const BOOL reuse = TRUE;
        setsockopt(Listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(80);
        address.sin_addr.s_addr = inet_addr(ServerAddress().c_str());
        Bound = bind(Listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(Listener, 1) == 0;
        if (Bound)
            Worker = std::thread([this] { Serve(); });
    }
    ~OneShotServer()
    {
        closesocket(Listener);
        if (Worker.joinable())
            Worker.join();
        WSACleanup();
    }
    bool Bound = false;
    std::string Head;

private:
    void Serve()
    {
        const SOCKET client = accept(Listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return;
        char buffer[4096];
        while (Head.find("\r\n\r\n") == std::string::npos) {
            const int got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            Head.append(buffer, got);
        }
        for (size_t sent = 0; sent < Answer.size();) {
            const int n = send(client, Answer.data() + sent, static_cast<int>(Answer.size() - sent), 0);
            if (n <= 0)
                break;
            sent += n;
        }
        shutdown(client, SD_SEND);
        closesocket(client);
    }

    std::string Answer;
    SOCKET Listener = INVALID_SOCKET;
    std::thread Worker;
};

std::string Answer(const std::string& body, size_t announced)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nCache-Control: no-store\r\nConnection: close\r\n"
           "Content-Length: " + std::to_string(announced) + "\r\n\r\n" + body;
}

class Exchange : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Temp.Write("starter.dat", "[setup]\r\nHTTP_URL=" + ServerAddress() + "\r\nONLINE_TEST_PHP=probe.php\r\n"));
        strcpy(App.StarterDir, (Temp.Path() + "\\").c_str());
    }
    HttpOutcome Run(const std::string& query, AnswerMode mode = AnswerMode::ReadBody)
    {
        const HttpRequest request = {"ONLINE_TEST_PHP", "unused.php", query, mode, &Body};
        return HttpExchange(request);
    }
    AppScope Saved;
    testsupport::TempFolder Temp{"skv-exchange"};
    std::string Body = "stale";
};
}

TEST_F(Exchange, RequestOnTheWire)
{
    OneShotServer server(Answer("17", 2));
    ASSERT_TRUE(server.Bound);
    EXPECT_EQ(Run("?data=Ann%20Lee;123456;"), HttpOutcome::Answered);
    EXPECT_EQ(Body, "17");
    EXPECT_EQ(server.Head.substr(0, server.Head.find("\r\n")), "GET /php/probe.php?data=Ann%20Lee;123456; HTTP/1.1");
    EXPECT_NE(server.Head.find("\r\nHost: " + ServerAddress() + "\r\n"), std::string::npos) << server.Head;
    EXPECT_NE(server.Head.find("\r\nUser-Agent: SKV Starter\r\n"), std::string::npos) << server.Head;
}

TEST_F(Exchange, BodyIsBoundedAndCutAtAZeroByte)
{
    {
        // Three MiB announced and sent: the first MiB is kept and the read ends there.
        const std::string big(3 << 20, '7');
        OneShotServer server(Answer(big, big.size()));
        ASSERT_TRUE(server.Bound);
        EXPECT_EQ(Run("?big"), HttpOutcome::Answered);
        EXPECT_EQ(Body.size(), 1u << 20);
        EXPECT_EQ(Body.find_first_not_of('7'), std::string::npos);
    }
    {
        OneShotServer server(Answer(std::string("12\0<title>x</title>", 19), 19));
        ASSERT_TRUE(server.Bound);
        EXPECT_EQ(Run("?zero"), HttpOutcome::Answered);
        EXPECT_EQ(Body, "12");
    }
}

TEST_F(Exchange, ABodyThatStopsEarlyIsAFailure)
{
    OneShotServer server(Answer("partial", 5000));
    ASSERT_TRUE(server.Bound);
    BoxWatch box;
    EXPECT_EQ(Run("?short"), HttpOutcome::ReadFailed);
    EXPECT_EQ(box.Seen().Text().rfind(TransferErrorHead + "12030\r\n", 0), 0u) << box.Seen().Text();
}

TEST_F(Exchange, HeadersOnlyTakesSuccessButNotARedirectionOrARefusal)
{
    for (const char* status : {"200 OK", "204 No Content"}) {
        OneShotServer server(std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 19\r\nConnection: close\r\n\r\n"
                             "<title>gone</title>");
        ASSERT_TRUE(server.Bound);
        EXPECT_EQ(Run("?data=1", AnswerMode::HeadersOnly), HttpOutcome::Answered) << status;
        EXPECT_EQ(Body, "stale");
    }
    struct Case { std::string answer, shown; };
    const Case cases[] = {
        {"HTTP/1.1 409 Conflict\r\nContent-Type: text/plain\r\nContent-Length: 27\r\nConnection: close\r\n\r\n"
         "file is already registered\n", "409 Conflict\r\nfile is already registered"},
        {"HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 19\r\nConnection: close\r\n\r\n"
         "<title>gone</title>", "404 Not Found"},
        {"HTTP/1.1 500 Oops\r\nConnection: close\r\n\r\n", "500 Oops"},
        // The script never ran.
        {"HTTP/1.1 302 Found\r\nLocation: /elsewhere.php\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
         "302 Found"},
    };
    for (const Case& c : cases) {
        OneShotServer server(c.answer);
        ASSERT_TRUE(server.Bound);
        BoxWatch box;
        EXPECT_EQ(Run("?data=1", AnswerMode::HeadersOnly), HttpOutcome::ServerError) << c.shown;
        EXPECT_EQ(box.Seen().Text(), TransferErrorHead + c.shown + "\r\nLine:\t218\r\nFile:\tstarter");
        EXPECT_EQ(Body, "stale");
    }
}

// The network layer shows nothing: a refusal comes back as its status, a connection that nobody
// takes as the system's code, and neither opens the status dialog or a box (a box would hold
// the call until the test times out).
TEST(InternetCalls, RefusalAndFailureComeBackAsOutcomes)
{
    InternetHandle internet(OpenInternet());
    ASSERT_TRUE(internet);
    {
        OneShotServer server("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        ASSERT_TRUE(server.Bound);
        InternetHandle connection(ConnectHttp(internet.Get(), ServerAddress().c_str()));
        InternetHandle request(OpenHttpRequest(connection.Get(), "/php/refused.php"));
        ASSERT_TRUE(request);
        const NetOutcome sent = SendHttpRequest(request.Get());
        EXPECT_TRUE(sent.Done);
        EXPECT_EQ(sent.Error, 0u);
        EXPECT_EQ(sent.Status, 403u);
    }
    InternetHandle connection(ConnectHttp(internet.Get(), ServerAddress().c_str()));
    InternetHandle request(OpenHttpRequest(connection.Get(), "/php/nobody.php"));
    ASSERT_TRUE(request);
    const NetOutcome sent = SendHttpRequest(request.Get());
    EXPECT_FALSE(sent.Done);
    EXPECT_EQ(sent.Error, static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
    EXPECT_EQ(sent.Status, 0u);
    EXPECT_EQ(App.StatusDialog, nullptr);
}

// ---- Server settings

namespace {
constexpr char Setting[] = "ONLINE_TEST_SETTING";
constexpr char Default[] = "default.example";

void WriteDat(const std::string& folder, const std::string& content)
{
    std::ofstream(folder + "starter.dat", std::ios::binary) << content;
}

class ServerSettings : public testing::Test {
protected:
    void SetUp() override
    {
        strcpy(App.StarterDir, StarterDir.c_str());
        DeleteValue(NetSettingsKey, Setting);
    }
    void TearDown() override { DeleteValue(NetSettingsKey, Setting); }
    std::string Lookup()
    {
        std::string value = "stale";
        EXPECT_TRUE(ReadServerSetting(Setting, Default, value));
        return value;
    }
    AppScope Saved;
    testsupport::TempFolder Starter{"skv-settings"}, Game{"skv-settings"}, Current{"skv-settings"};
    const std::string StarterDir = Starter.Path() + "\\";
};
}

TEST_F(ServerSettings, DefaultIsStoredInTheRegistry)
{
    EXPECT_EQ(Lookup(), Default);
    const RawValue stored = QueryValue(NetSettingsKey, Setting);
    EXPECT_TRUE(stored.Present());
    EXPECT_EQ(stored.Type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored.Text, Default);
}

TEST_F(ServerSettings, RegistryValueIsUsedUnchanged)
{
    WriteText(NetSettingsKey, Setting, "test/rank.php");
    EXPECT_EQ(Lookup(), "test/rank.php");
    EXPECT_EQ(QueryValue(NetSettingsKey, Setting).Text, "test/rank.php");
}

TEST_F(ServerSettings, FileWinsAndIsNotCopied)
{
    WriteText(NetSettingsKey, Setting, "registry.example");
    WriteDat(StarterDir, "[other]\r\nONLINE_TEST_SETTING=wrong\r\n[Setup]\r\n  online_test_setting =  file.example  \r\n");
    EXPECT_EQ(Lookup(), "file.example");
    EXPECT_EQ(QueryValue(NetSettingsKey, Setting).Text, "registry.example");

    // Without a registry value the file still wins and nothing is stored.
    DeleteValue(NetSettingsKey, Setting);
    EXPECT_EQ(Lookup(), "file.example");
    EXPECT_FALSE(QueryValue(NetSettingsKey, Setting).Present());
}

TEST_F(ServerSettings, EmptyEntriesCountAsAbsent)
{
    WriteDat(StarterDir, "[setup]\r\nONLINE_TEST_SETTING=\r\n");
    WriteText(NetSettingsKey, Setting, "registry.example");
    EXPECT_EQ(Lookup(), "registry.example");

    WriteText(NetSettingsKey, Setting, "");
    EXPECT_EQ(Lookup(), Default);
    EXPECT_EQ(QueryValue(NetSettingsKey, Setting).Text, Default);
}

TEST_F(ServerSettings, UnreadableRegistryValuesAreOverwritten)
{
    WriteValue(NetSettingsKey, Setting, REG_DWORD, std::string("\x50\0\0\0", 4));
    EXPECT_EQ(Lookup(), Default);
    EXPECT_EQ(QueryValue(NetSettingsKey, Setting).Type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(QueryValue(NetSettingsKey, Setting).Text, Default);

    WriteText(NetSettingsKey, Setting, std::string(512, 'h'));
    EXPECT_EQ(Lookup(), Default);
    EXPECT_EQ(QueryValue(NetSettingsKey, Setting).Text, Default);

    // The longest value that fits the read buffer with its terminator still counts.
    WriteText(NetSettingsKey, Setting, std::string(511, 'h'));
    EXPECT_EQ(Lookup(), std::string(511, 'h'));
}

TEST_F(ServerSettings, FileValueIsCutAt255)
{
    const std::string longHost(300, 'f');
    WriteDat(StarterDir, "[setup]\r\nONLINE_TEST_SETTING=" + longHost + "\r\n");
    EXPECT_EQ(Lookup(), longHost.substr(0, 255));
}

TEST_F(ServerSettings, OnlyTheFileBesideTheProgramCounts)
{
    const std::string game = Game.Path() + "\\", current = Current.Path() + "\\";
    WriteDat(game, "[setup]\r\nONLINE_TEST_SETTING=game.example\r\n");
    WriteDat(current, "[setup]\r\nONLINE_TEST_SETTING=current.example\r\n");
    strcpy(App.GamePath, game.c_str());
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(current.c_str());

    WriteText(NetSettingsKey, Setting, "registry.example");
    EXPECT_EQ(Lookup(), "registry.example");
    DeleteValue(NetSettingsKey, Setting);
    EXPECT_EQ(Lookup(), Default);

    SetCurrentDirectoryA(previous);
}

// ---- The error box

namespace {
class ErrorBox : public testing::Test {
protected:
    AppScope Saved;
};
}

TEST_F(ErrorBox, ShowsTheComposedText)
{
    struct Case { int32_t language; std::function<bool()> report; const char* text; };
    const Case cases[] = {
        {1, [] { return ReportError(IDS_TRANSFER_ERROR, 6, ErrorLine, StarterSourceFile); },
         "An error occured during the the data transfer.\r\n\r\nError:\t6\r\nLine:\t217\r\nFile:\tstarter"},
        {2, [] { return ReportError(IDS_NO_LIBRARY, -2, ErrorLine, "C:\\src/starter"); },
         "Die Grafik-Library 'starter.dll' konnte nicht gelanden werden\r\n\r\nErreur :\t-2\r\nLine:\t217\r\nFile:\tstarter"},
        {0, [] { return ReportServerError(IDS_TRANSFER_ERROR, "Not Found\r\nsorry", ServerErrorLine, StarterSourceFile); },
         "Es ist ein Fehler bei der Internet-\xDC" "bertragung aufgetreten.\r\n\r\nFehler:\tNot Found\r\nsorry\r\nLine:\t218\r\nFile:\tstarter"},
    };
    for (const Case& c : cases) {
        App.LanguageIndex = c.language;
        BoxWatch box;
        EXPECT_FALSE(c.report());
        const SeenBox& seen = box.Seen();
        ASSERT_TRUE(seen.Found);
        EXPECT_EQ(seen.Caption, "Error");
        EXPECT_TRUE(seen.ExclamationIcon);
        ASSERT_EQ(seen.Texts.size(), 1u);
        EXPECT_EQ(seen.Texts[0], c.text);
    }
}

TEST_F(ErrorBox, ClosesTheStatusDialogFirstAndSitsOnTheMainWindow)
{
    App.MainWindow = CreateWindowA("STATIC", "main", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(App.MainWindow, nullptr);
    HWND status = OpenStatus(0, 4);
    ASSERT_NE(status, nullptr);
    App.LanguageIndex = 1;
    BoxWatch box(status);
    EXPECT_FALSE(ReportError(IDS_NO_INTERNET, 0, ErrorLine, StarterSourceFile));
    const SeenBox& seen = box.Seen();
    ASSERT_TRUE(seen.Found);
    EXPECT_TRUE(seen.StatusGone);
    EXPECT_EQ(App.StatusDialog, nullptr);
    EXPECT_EQ(seen.Owner, App.MainWindow);
    DestroyWindow(App.MainWindow);
}
