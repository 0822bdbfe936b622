#include "online/internet_calls.h"

#include <cstdint>
#include <vector>

#include "ui/message_pump.h"

namespace {
constexpr char AgentName[] = "SKV Starter";
constexpr DWORD_PTR ConnectionContext = 10;
constexpr DWORD RequestFlags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI;
constexpr DWORD HeaderBufferSize = 50000;

// A server that stops answering must not hold the one thread forever: a connection gets
// 15 s, and each send or receive 30 s, before the call fails and the error box appears.
constexpr DWORD ConnectTimeout = 15000;
constexpr DWORD SendTimeout = 30000;
constexpr DWORD ReceiveTimeout = 30000;

constexpr DWORD ChunkLimit = 64 * 1024;

NetOutcome Failed()
{
    return {false, GetLastError(), 0};
}

// The status code, 0 when the answer has none.
DWORD StatusCode(HINTERNET request)
{
    DWORD code = 0, size = sizeof code;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr))
        return 0;
    return code;
}

// The length the headers announce; none for an answer that runs to the connection's end.
bool AnnouncedLength(HINTERNET request, DWORD& length)
{
    DWORD size = sizeof length;
    return HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr)
           != FALSE;
}
}

DWORD AttemptInternet()
{
    return InternetAttemptConnect(0);
}

HINTERNET OpenInternet()
{
    HINTERNET internet = InternetOpenA(AgentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (internet)
        SetTransferTimeouts(internet);
    return internet;
}

void SetTransferTimeouts(HINTERNET handle)
{
    DWORD connect = ConnectTimeout, send = SendTimeout, receive = ReceiveTimeout;
    InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof send);
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

HINTERNET ConnectHttp(HINTERNET internet, const std::string& host)
{
    return InternetConnectA(internet, host.c_str(), INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr,
                            INTERNET_SERVICE_HTTP, 0, ConnectionContext);
}

HINTERNET OpenHttpRequest(HINTERNET connection, const std::string& object)
{
    HINTERNET request =
        HttpOpenRequestA(connection, "GET", object.c_str(), "HTTP/1.1", nullptr, nullptr, RequestFlags, 0);
    // Wine takes send and receive time-outs only from the request handle; Windows from either.
    if (request)
        SetTransferTimeouts(request);
    return request;
}

NetOutcome SendHttpRequest(HINTERNET request)
{
    if (!CallPumping([&] { return HttpSendRequestA(request, nullptr, 0, nullptr, 0); }))
        return Failed();
    return {true, 0, StatusCode(request)};
}

NetOutcome FetchHeaderBlock(HINTERNET request)
{
    std::vector<char> headers(HeaderBufferSize);
    DWORD length = HeaderBufferSize;
    if (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS, headers.data(), &length, nullptr))
        return Failed();
    return {true, 0, StatusCode(request)};
}

std::string HeaderText(HINTERNET request, DWORD header)
{
    char text[256] = {};
    DWORD length = sizeof text - 1;
    if (!HttpQueryInfoA(request, header, text, &length, nullptr))
        return {};
    return text;
}

namespace {
// The next chunk of the answer into chunk, read bytes of it; false (error set) when a read failed.
// Read 0: the connection ended.
bool ReadChunk(HINTERNET request, std::vector<char>& chunk, DWORD& read, DWORD& error)
{
    DWORD available = 0;
    if (!CallPumping([&] { return InternetQueryDataAvailable(request, &available, 0, 0); })) {
        error = GetLastError();
        return false;
    }
    const DWORD wanted = available < ChunkLimit ? available : ChunkLimit;
    chunk.assign(wanted + 1, '\0');
    if (!CallPumping([&] { return InternetReadFile(request, chunk.data(), wanted, &read); })) {
        error = GetLastError();
        return false;
    }
    return true;
}

// True (error set) when the connection ended short of the length that the headers announced.
bool CutShort(HINTERNET request, uint64_t received, DWORD& error)
{
    DWORD announced = 0;
    if (!AnnouncedLength(request, announced) || received >= announced)
        return false;
    error = ERROR_INTERNET_CONNECTION_ABORTED;
    return true;
}
}

bool ReadAnswer(HINTERNET request, std::string& body, std::size_t limit, DWORD& error)
{
    body.clear();
    uint64_t received = 0;
    std::vector<char> chunk;
    for (;;) {
        DWORD read = 0;
        if (!ReadChunk(request, chunk, read, error))
            return false;
        if (read == 0)
            return !CutShort(request, received, error);
        received += read;
        // The body is text: a zero byte ends what this chunk contributes.
        chunk[read] = '\0';
        body.append(chunk.data());
        if (body.size() >= limit) {
            body.resize(limit);
            return true;
        }
    }
}

HINTERNET ConnectFtp(HINTERNET internet, const std::string& host, const char* user, const char* password)
{
    return CallPumping([&] {
        return InternetConnectA(internet, host.c_str(), INTERNET_DEFAULT_FTP_PORT, user, password,
                                INTERNET_SERVICE_FTP, 0, ConnectionContext);
    });
}

HINTERNET OpenRemoteFile(HINTERNET connection, const std::string& name)
{
    return CallPumping(
        [&] { return FtpOpenFileA(connection, name.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0); });
}

NetOutcome WriteRemoteFile(HINTERNET remote, const std::vector<char>& data)
{
    DWORD written = 0;
    if (CallPumping([&] {
            return InternetWriteFile(remote, data.data(), static_cast<DWORD>(data.size()), &written);
        }) != TRUE)
        return Failed();
    return {true, 0, 0};
}

NetOutcome FetchRemoteFile(HINTERNET connection, const std::string& remoteName, const std::string& folder,
                           const char* prefix, const std::string& target)
{
    char temporary[MAX_PATH];
    if (!GetTempFileNameA(folder.c_str(), prefix, 0, temporary))
        return Failed();
    if (CallPumping([&] {
            return FtpGetFileA(connection, remoteName.c_str(), temporary, FALSE, FILE_ATTRIBUTE_NORMAL,
                               FTP_TRANSFER_TYPE_BINARY, 0);
        }) && MoveFileExA(temporary, target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return {true, 0, 0};
    const NetOutcome failed = Failed();
    DeleteFileA(temporary);
    return failed;
}
