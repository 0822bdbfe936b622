// Thin WinINet calls for the online actions: they open, connect, send, read, store and fetch, and
// return what happened (the system error code, the HTTP status). They show nothing.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <string>
#include <vector>

// What a call did: done, or the code of the failure; the HTTP status where there is one.
struct NetOutcome {
    bool Done = false;
    DWORD Error = 0;    // the system's code when not done
    DWORD Status = 0;   // the answer's HTTP status; 0 when none was asked for or there is none
};

// ERROR_SUCCESS when the Internet can be reached, otherwise the code to show.
DWORD AttemptInternet();
// The Internet handle with the transfer time-outs; null (and the last error set) when it failed.
HINTERNET OpenInternet();
// Connect, send and receive time-outs, so a silent server ends in the error box.
void SetTransferTimeouts(HINTERNET handle);
// The connection to the web server. A failed connection is not tested here: opening a request
// on it fails instead.
HINTERNET ConnectHttp(HINTERNET internet, const std::string& host);
// A GET request for the object with the transfer time-outs; null (last error set) when it failed.
HINTERNET OpenHttpRequest(HINTERNET connection, const std::string& object);
// Sends the request and waits for the answer's headers, keeping the windows alive meanwhile.
// Status carries the answer's status code.
NetOutcome SendHttpRequest(HINTERNET request);
// That the answer's header block can be fetched; its content is not looked at.
NetOutcome FetchHeaderBlock(HINTERNET request);
// A header of the answer as text, empty when it has none.
std::string HeaderText(HINTERNET request, DWORD header);
// Reads the answer body as text, keeping at most limit bytes. True when the body arrived whole
// (or reached the limit); false when a read failed or the connection ended before the length
// that the headers announced, with error holding the code to show.
bool ReadAnswer(HINTERNET request, std::string& body, std::size_t limit, DWORD& error);

// The FTP connection with its login, in active mode (no passive flag), keeping the windows alive
// while it logs in. A failed connection shows up at the next step.
HINTERNET ConnectFtp(HINTERNET internet, const std::string& host, const char* user, const char* password);
// A new remote file open for writing; null (last error set) when it failed.
HINTERNET OpenRemoteFile(HINTERNET connection, const std::string& name);
NetOutcome WriteRemoteFile(HINTERNET remote, const std::vector<char>& data);
// Fetches into a temporary file in folder, named by the system from prefix (up to three
// characters), and replaces target only once the whole file arrived, so a failed fetch never
// destroys a file the player has. On failure the temporary file is gone.
NetOutcome FetchRemoteFile(HINTERNET connection, const std::string& remoteName, const std::string& folder,
                           const char* prefix, const std::string& target);
