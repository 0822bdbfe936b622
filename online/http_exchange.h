// online/: server settings, error box, HTTP exchange, hiscore and design uploads; may include app/ res/ ui/ settings/.
// One GET request to a server script, with status display and error reporting.
#pragma once
#include <windows.h>
#include <wininet.h>
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
// Connect, send and receive time-outs, so a silent server ends in the error box.
void SetTransferTimeouts(HINTERNET handle);
// Reads the answer body as text, keeping at most limit bytes. True when the body arrived whole
// (or reached the limit); false when a read failed or the connection ended before the length
// that the headers announced, with error holding the code to show.
bool ReadAnswer(HINTERNET request, std::string& body, std::size_t limit, DWORD& error);
