#include "online/transfer_session.h"

#include "online/error_box.h"
#include "online/internet_calls.h"
#include "res/resource.h"
#include "ui/status_dialog.h"

namespace {
constexpr DWORD ClosingPause = 250;

// False (after the "no Internet" box) when the Internet cannot be reached.
bool InternetReachable()
{
    const DWORD attempt = AttemptInternet();
    if (attempt == ERROR_SUCCESS)
        return true;
    return ReportError(IDS_NO_INTERNET, static_cast<int>(attempt), ErrorLine, StarterSourceFile);
}
}

TransferSession::~TransferSession()
{
    if (DialogOpen)
        CloseStatus();
}

SessionOpening TransferSession::Open(int steps, HINTERNET (*connect)(HINTERNET internet))
{
    if (!InternetReachable())
        return SessionOpening::NotReachable;
    OpenStatus(0, steps);
    DialogOpen = true;
    SetStatusText(IDS_CONNECTING_NET);
    Internet.Reset(OpenInternet());
    if (!Internet) {
        CloseStatus();
        DialogOpen = false;
        return SessionOpening::NoInternetHandle;
    }
    Next(IDS_CONNECTING_SRV);
    Connection.Reset(connect(Internet.Get()));
    return SessionOpening::Connected;
}

void TransferSession::Next(int line)
{
    SetStatusText(line);
    StepStatus();
}

void TransferSession::Step()
{
    StepStatus();
}

bool TransferSession::Fail(int messageId, DWORD code)
{
    return ReportError(messageId, static_cast<int>(code), ErrorLine, StarterSourceFile);
}

bool TransferSession::FailServer(int messageId, const std::string& text)
{
    return ReportServerError(messageId, text, ServerErrorLine, StarterSourceFile);
}

void TransferSession::Close()
{
    Connection.Close();
    Next(IDS_CLOSING_NET);
    Internet.Close();
    BusyWait(ClosingPause);
    CloseStatus();
    DialogOpen = false;
}
