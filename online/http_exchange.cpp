#include "online/http_exchange.h"

#include <string>

#include "online/http_text.h"
#include "online/internet_calls.h"
#include "online/server_hosts.h"
#include "online/server_settings.h"
#include "online/transfer_session.h"
#include "res/resource.h"

namespace {
// A broken server cannot fill memory: the body keeps the first 1 MiB and the read ends there.
constexpr std::size_t BodyLimit = 1 << 20;

HttpOutcome Failed(TransferSession& session, DWORD code, HttpOutcome outcome)
{
    session.Fail(IDS_TRANSFER_ERROR, code);
    return outcome;
}

// "404 Not Found", with the first line of a short plain-text body below it.
HttpOutcome Refused(TransferSession& session, HINTERNET request, DWORD code, const std::string& body)
{
    std::string line = std::to_string(code);
    const std::string reason = HeaderText(request, HTTP_QUERY_STATUS_TEXT);
    if (!reason.empty())
        line += " " + reason;
    session.FailServer(IDS_TRANSFER_ERROR, RefusalText(line, HeaderText(request, HTTP_QUERY_CONTENT_TYPE), body));
    return HttpOutcome::ServerError;
}

// Only a 2xx answer comes from the script. Redirections are not followed, so a 3xx means the
// script never ran. 0: the answer carries no status to judge.
bool ScriptAnswered(DWORD status)
{
    return status == 0 || (status >= 200 && status < 300);
}

// A registration is only acknowledged, but any other answer is a failure: a refusal's short
// body says why.
HttpOutcome ReadAcknowledgement(TransferSession& session, HINTERNET request)
{
    const NetOutcome headers = FetchHeaderBlock(request);
    if (!headers.Done)
        return Failed(session, headers.Error, HttpOutcome::SendFailed);
    if (ScriptAnswered(headers.Status))
        return HttpOutcome::Answered;
    std::string body;
    DWORD error = 0;
    if (!ReadAnswer(request, body, ShortBodyLength + 1, error))
        body.clear();
    return Refused(session, request, headers.Status, body);
}

HttpOutcome ReadReply(TransferSession& session, HINTERNET request, DWORD status, const HttpRequest& exchange)
{
    if (exchange.Mode == AnswerMode::HeadersOnly)
        return ReadAcknowledgement(session, request);
    DWORD error = 0;
    // A cut answer is no rank and no catalogue page, whatever part of it arrived.
    if (!ReadAnswer(request, *exchange.Body, BodyLimit, error))
        return Failed(session, error, HttpOutcome::ReadFailed);
    std::string title;
    if (FindTitle(*exchange.Body, title)) {
        session.FailServer(IDS_TRANSFER_ERROR, title);
        return HttpOutcome::ServerError;
    }
    // An error status is no answer of the script, even when its page has no title:
    // its text must not reach the player as a rank or as catalogue rows.
    if (!ScriptAnswered(status))
        return Refused(session, request, status, *exchange.Body);
    return HttpOutcome::Answered;
}

// Opens, sends and answers the request on the session's connection; the request handle ends here.
HttpOutcome RunRequest(TransferSession& session, const std::string& object, const HttpRequest& exchange)
{
    InternetHandle request(OpenHttpRequest(session.Connection.Get(), object));
    if (!request)
        return Failed(session, GetLastError(), HttpOutcome::RequestNotOpened);
    session.Next(IDS_TRANSMIT_DATA);
    const NetOutcome sent = SendHttpRequest(request.Get());
    if (!sent.Done)
        return Failed(session, sent.Error, HttpOutcome::SendFailed);
    session.Step();
    return ReadReply(session, request.Get(), sent.Status, exchange);
}

HINTERNET ConnectWebServer(HINTERNET internet)
{
    return ConnectHttp(internet, ServerSetting("HTTP_URL", DefaultHttpHost));
}
}

// The steps, in the order the player sees them: the session's opening, "Transmitting data…" and
// the answer, then the closing steps.
HttpOutcome HttpExchange(const HttpRequest& exchange)
{
    TransferSession session;
    const SessionOpening opening = session.Open(4, ConnectWebServer);
    if (opening != SessionOpening::Connected)
        return opening == SessionOpening::NotReachable ? HttpOutcome::NotReachable : HttpOutcome::NoInternetHandle;
    const std::string script = ServerSetting(exchange.ScriptSetting, exchange.ScriptDefault);
    const HttpOutcome outcome = RunRequest(session, "php/" + script + exchange.Query, exchange);
    session.Close();
    return outcome;
}
