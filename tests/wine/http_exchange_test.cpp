// The web exchange against a small scripted server of the test's own on port 80 of an
// address picked at run time.
// Winsock before <windows.h>, which the exchange's header brings in.
#include <winsock2.h>

#include "online/http_exchange.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>

#include "app/base/app_state.h"
#include "app/base/handles.h"
#include "online/internet_calls.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/app_scope.h"

namespace {
// The listener's address: one of 127.1.0.0/16 where port 80 is free, picked once at random, so
// that two checkouts testing at once do not meet.
const std::string& ServerAddress()
{
    static const std::string address = [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        std::random_device random;
        std::string chosen;
        for (int attempt = 0; attempt < 200 && chosen.empty(); ++attempt) {
            const std::string candidate =
                "127.1." + std::to_string(random() % 256) + "." + std::to_string(1 + random() % 254);
            const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in where = {};
            where.sin_family = AF_INET;
            where.sin_port = htons(80);
            where.sin_addr.s_addr = inet_addr(candidate.c_str());
            if (bind(probe, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0)
                chosen = candidate;
            closesocket(probe);
        }
        WSACleanup();
        return chosen;
    }();
    return address;
}

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

// Answers the first error box of this process with OK and keeps its text.
class ErrorBoxWatch {
public:
    ErrorBoxWatch() : Watcher([this] { Watch(); }) {}
    ~ErrorBoxWatch() { Join(); }
    const std::string& Text() const
    {
        const_cast<ErrorBoxWatch*>(this)->Join();
        return Seen;
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
            while ((box = FindWindowExA(nullptr, box, "#32770", "Error")) != nullptr) {
                DWORD process = 0;
                GetWindowThreadProcessId(box, &process);
                if (process != GetCurrentProcessId() || !IsWindowVisible(box))
                    continue;
                EnumChildWindows(box, Collect, reinterpret_cast<LPARAM>(&Seen));
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                return;
            }
        }
    }
    static BOOL CALLBACK Collect(HWND child, LPARAM param)
    {
        char className[32] = {}, text[1024] = {};
        GetClassNameA(child, className, sizeof className);
        GetWindowTextA(child, text, sizeof text);
        if (lstrcmpiA(className, "Static") == 0 && text[0])
            *reinterpret_cast<std::string*>(param) += text;
        return TRUE;
    }
    std::string Seen;
    std::thread Watcher;
};

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
    const ErrorBoxWatch box;
    EXPECT_EQ(Run("?short"), HttpOutcome::ReadFailed);
    EXPECT_EQ(box.Text().rfind("An error occured during the the data transfer.\r\n\r\nError:\t12030\r\n", 0), 0u)
        << box.Text();
}

TEST_F(Exchange, HeadersOnlyTakesSuccessAndRedirectionButNotARefusal)
{
    for (const char* status : {"200 OK", "204 No Content", "302 Found"}) {
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
    };
    for (const Case& c : cases) {
        OneShotServer server(c.answer);
        ASSERT_TRUE(server.Bound);
        const ErrorBoxWatch box;
        EXPECT_EQ(Run("?data=1", AnswerMode::HeadersOnly), HttpOutcome::ServerError) << c.shown;
        EXPECT_EQ(box.Text(), "An error occured during the the data transfer.\r\n\r\nError:\t" + c.shown +
                                  "\r\nLine:\t218\r\nFile:\tstarter");
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
