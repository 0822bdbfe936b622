#include "online/http_exchange.h"

#include <cstdint>
#include <string>
#include <vector>
#include "app/handles.h"
#include "app/transfer_scope.h"
#include "online/error_box.h"
#include "online/http_text.h"
#include "online/server_hosts.h"
#include "online/server_settings.h"
#include "res/resource.h"
#include "ui/message_pump.h"
#include "ui/status_dialog.h"

namespace {
constexpr char AgentName[] = "SKV Starter";
constexpr DWORD_PTR ConnectionContext = 10;
constexpr DWORD RequestFlags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI;
constexpr DWORD HeaderBufferSize = 50000;
constexpr DWORD ClosingPause = 250;

// A server that stops answering must not hold the one thread forever: a connection gets
// 15 s, and each send or receive 30 s, before the call fails and the error box appears.
constexpr DWORD ConnectTimeout = 15000;
constexpr DWORD SendTimeout = 30000;
constexpr DWORD ReceiveTimeout = 30000;

// A broken server cannot fill memory: the body keeps the first 1 MiB and the read ends there.
constexpr std::size_t BodyLimit = 1 << 20;
constexpr DWORD ChunkLimit = 64 * 1024;
}

void SetTransferTimeouts(HINTERNET handle)
{
    DWORD connect = ConnectTimeout, send = SendTimeout, receive = ReceiveTimeout;
    InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof send);
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

namespace {
HttpOutcome TransferFailed()
{
    ReportError(IDS_TRANSFER_ERROR, static_cast<int>(GetLastError()), ErrorLine, StarterSourceFile);
    return HttpOutcome::SendFailed;
}

// The status code, 0 when the answer has none.
DWORD StatusCode(HINTERNET request)
{
    DWORD code = 0, size = sizeof code;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr))
        return 0;
    return code;
}

std::string HeaderText(HINTERNET request, DWORD header)
{
    char text[256] = {};
    DWORD length = sizeof text - 1;
    if (!HttpQueryInfoA(request, header, text, &length, nullptr))
        return {};
    return text;
}

// "404 Not Found", with the first line of a short plain-text body below it.
HttpOutcome Refused(HINTERNET request, DWORD code, const std::string& body)
{
    std::string line = std::to_string(code);
    const std::string reason = HeaderText(request, HTTP_QUERY_STATUS_TEXT);
    if (!reason.empty())
        line += " " + reason;
    ReportServerError(IDS_TRANSFER_ERROR, RefusalText(line, HeaderText(request, HTTP_QUERY_CONTENT_TYPE), body),
                      ServerErrorLine, StarterSourceFile);
    return HttpOutcome::ServerError;
}

// A registration is only acknowledged, but a refusal (400 and above) is a failure: its short
// body says why.
HttpOutcome ReadAcknowledgement(HINTERNET request)
{
    std::vector<char> headers(HeaderBufferSize);
    DWORD length = HeaderBufferSize;
    if (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS, headers.data(), &length, nullptr))
        return TransferFailed();
    const DWORD code = StatusCode(request);
    if (code < 400)
        return HttpOutcome::Answered;
    std::string body;
    DWORD error = 0;
    if (!ReadAnswer(request, body, ShortBodyLength + 1, error))
        body.clear();
    return Refused(request, code, body);
}

HttpOutcome ReadReply(HINTERNET request, const HttpRequest& exchange)
{
    if (exchange.Mode == AnswerMode::HeadersOnly)
        return ReadAcknowledgement(request);
    DWORD error = 0;
    // A cut answer is no rank and no catalogue page, whatever part of it arrived.
    if (!ReadAnswer(request, *exchange.Body, BodyLimit, error)) {
        ReportError(IDS_TRANSFER_ERROR, static_cast<int>(error), ErrorLine, StarterSourceFile);
        return HttpOutcome::ReadFailed;
    }
    std::string title;
    if (FindTitle(*exchange.Body, title)) {
        ReportServerError(IDS_TRANSFER_ERROR, title, ServerErrorLine, StarterSourceFile);
        return HttpOutcome::ServerError;
    }
    // An error status is no answer of the script, even when its page has no title:
    // its text must not reach the player as a rank or as catalogue rows.
    const DWORD code = StatusCode(request);
    if (code != 0 && (code < 200 || code >= 300))
        return Refused(request, code, *exchange.Body);
    return HttpOutcome::Answered;
}

// Opens, sends and answers the request on the connection; the request handle ends here.
HttpOutcome RunRequest(HINTERNET connection, const std::string& object, const HttpRequest& exchange)
{
    InternetHandle request(
        HttpOpenRequestA(connection, "GET", object.c_str(), "HTTP/1.1", nullptr, nullptr, RequestFlags, 0));
    if (!request) {
        ReportError(IDS_TRANSFER_ERROR, static_cast<int>(GetLastError()), ErrorLine, StarterSourceFile);
        return HttpOutcome::RequestNotOpened;
    }
    // Wine takes send and receive time-outs only from the request handle; Windows from either.
    SetTransferTimeouts(request.Get());
    SetStatusText(IDS_TRANSMIT_DATA);
    StepStatus();
    // Sending waits for the answer's headers: the windows stay alive meanwhile.
    if (!CallPumping([&] { return HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0); }))
        return TransferFailed();
    StepStatus();
    return ReadReply(request.Get(), exchange);
}
}

namespace {
// The length the headers announce; none for an answer that runs to the connection's end.
bool AnnouncedLength(HINTERNET request, DWORD& length)
{
    DWORD size = sizeof length;
    return HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr) != FALSE;
}
}

bool ReadAnswer(HINTERNET request, std::string& body, std::size_t limit, DWORD& error)
{
    body.clear();
    bool whole = true;
    uint64_t received = 0;
    std::vector<char> chunk;
    for (;;) {
        DWORD available = 0;
        if (!CallPumping([&] { return InternetQueryDataAvailable(request, &available, 0, 0); })) {
            error = GetLastError();
            whole = false;
            break;
        }
        const DWORD wanted = available < ChunkLimit ? available : ChunkLimit;
        chunk.assign(wanted + 1, '\0');
        DWORD read = 0;
        if (!CallPumping([&] { return InternetReadFile(request, chunk.data(), wanted, &read); })) {
            error = GetLastError();
            whole = false;
            break;
        }
        if (read == 0) {
            // The connection ended: short of the announced length, the answer was cut.
            DWORD announced = 0;
            if (AnnouncedLength(request, announced) && received < announced) {
                error = ERROR_INTERNET_CONNECTION_ABORTED;
                whole = false;
            }
            break;
        }
        received += read;
        // The body is text: a zero byte ends what this chunk contributes.
        chunk[read] = '\0';
        body.append(chunk.data());
        if (body.size() >= limit) {
            body.resize(limit);
            break;
        }
    }
    return whole;
}

HttpOutcome HttpExchange(const HttpRequest& exchange)
{
    TransferScope transfer;
    const DWORD attempt = InternetAttemptConnect(0);
    if (attempt != ERROR_SUCCESS) {
        ReportError(IDS_NO_INTERNET, static_cast<int>(attempt), ErrorLine, StarterSourceFile);
        return HttpOutcome::NotReachable;
    }
    OpenStatus(0, 4);
    SetStatusText(IDS_CONNECTING_NET);

    InternetHandle internet(InternetOpenA(AgentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) {
        CloseStatus();
        return HttpOutcome::NoInternetHandle;
    }
    SetTransferTimeouts(internet.Get());
    SetStatusText(IDS_CONNECTING_SRV);
    StepStatus();
    std::string host;
    ReadServerSetting("HTTP_URL", DefaultHttpHost, host);

    // A failed connection is not tested here: opening the request on it fails instead.
    InternetHandle connection(InternetConnectA(internet.Get(), host.c_str(), INTERNET_DEFAULT_HTTP_PORT,
                                               nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, ConnectionContext));
    std::string script;
    ReadServerSetting(exchange.ScriptSetting, exchange.ScriptDefault, script);
    const HttpOutcome outcome = RunRequest(connection.Get(), "php/" + script + exchange.Query, exchange);

    connection.Close();
    SetStatusText(IDS_CLOSING_NET);
    StepStatus();
    internet.Close();
    BusyWait(ClosingPause);
    CloseStatus();
    return outcome;
}
