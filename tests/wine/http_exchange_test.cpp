// The web exchange against a small scripted server of the test's own on port 80 of an
// address picked at run time.
// Winsock before <windows.h>, which the exchange's header brings in.
#include <winsock2.h>

#include "online/http_exchange.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>

#include "app/app_state.h"
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

TEST_F(Exchange, ABodyThatStopsEarlyIsWhatWasRead)
{
    OneShotServer server(Answer("partial", 5000));
    ASSERT_TRUE(server.Bound);
    EXPECT_EQ(Run("?short"), HttpOutcome::Answered);
    EXPECT_EQ(Body, "partial");
}

TEST_F(Exchange, HeadersOnlyLeavesTheBodyAlone)
{
    OneShotServer server("HTTP/1.1 404 Not Found\r\nContent-Length: 19\r\nConnection: close\r\n\r\n<title>gone</title>");
    ASSERT_TRUE(server.Bound);
    EXPECT_EQ(Run("?data=1", AnswerMode::HeadersOnly), HttpOutcome::Answered);
    EXPECT_EQ(Body, "stale");
}
