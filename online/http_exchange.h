// online/: server settings, error box, HTTP exchange, hiscore and design uploads; may include app/base/ res/ ui/ settings/.
// One GET request to a server script, with status display and error reporting: the steps of
// the action; the WinINet calls are in online/internet_calls.h, the dialog in transfer_session.h.
#pragma once
#include <string>

enum class HttpOutcome { NotReachable, NoInternetHandle, RequestNotOpened, SendFailed, ServerError, ReadFailed, Answered };
enum class AnswerMode { ReadBody, HeadersOnly };

struct HttpRequest {
    const char* ScriptSetting;   // "ADDSCORE_PHP", "ADDPLANE_PHP" or "GETPLANES_PHP"
    const char* ScriptDefault;
    std::string Query;           // starts with "?"
    AnswerMode Mode;
    std::string* Body;           // receives the answer body in ReadBody mode
};

HttpOutcome HttpExchange(const HttpRequest& request);
