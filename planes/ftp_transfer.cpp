#include "planes/ftp_transfer.h"

#include <windows.h>
#include <wininet.h>
#include <objbase.h>
#include <cstring>

#include "app/app_state.h"
#include "app/handles.h"
#include "app/lang_text.h"
#include "app/paths.h"
#include "app/transfer_scope.h"
#include "online/error_box.h"
#include "online/http_exchange.h"
#include "online/server_hosts.h"
#include "online/server_settings.h"
#include "planes/plane_list.h"
#include "ui/message_pump.h"
#include "ui/status_dialog.h"

namespace {
constexpr char AgentName[] = "SKV Starter";
constexpr char FtpUser[] = "skv_starter";
constexpr char FtpPassword[] = "qpl47";
constexpr DWORD_PTR ConnectionContext = 10;
constexpr DWORD ClosingPause = 250;

// The code shown when a catalogue entry names a file outside myPlanes: the system's
// "file name syntax is incorrect".
constexpr int UnsafeNameCode = ERROR_INVALID_NAME;

// False (after the box) when the Internet cannot be reached.
bool InternetReachable()
{
    const DWORD attempt = InternetAttemptConnect(0);
    if (attempt == ERROR_SUCCESS)
        return true;
    return ReportError(IDS_NO_INTERNET, static_cast<int>(attempt), ErrorLine, StarterSourceFile);
}

HINTERNET OpenInternet()
{
    HINTERNET internet = InternetOpenA(AgentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (internet)
        SetTransferTimeouts(internet);
    return internet;
}

// Active mode (no passive flag); a failed connection shows up at the next step.
HINTERNET ConnectFtp(HINTERNET internet)
{
    std::string host;
    ReadServerSetting("FTP_URL", DefaultFtpHost, host);
    // The FTP login happens here, so the wait keeps the windows alive.
    return CallPumping([&] {
        return InternetConnectA(internet, host.c_str(), INTERNET_DEFAULT_FTP_PORT, FtpUser, FtpPassword,
                                INTERNET_SERVICE_FTP, 0, ConnectionContext);
    });
}

// Writes the buffer to the new remote file; on failure error holds the system's code.
bool StoreRemoteFile(HINTERNET connection, const std::string& name, const std::vector<char>& data, DWORD& error)
{
    InternetHandle remote(CallPumping(
        [&] { return FtpOpenFileA(connection, name.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0); }));
    if (!remote) {
        error = GetLastError();
        return false;
    }
    SetStatusText(IDS_TRANSMIT_FILE);
    StepStatus();
    DWORD written = 0;
    if (CallPumping([&] {
            return InternetWriteFile(remote.Get(), data.data(), static_cast<DWORD>(data.size()), &written);
        }) == TRUE)
        return true;
    error = GetLastError();
    return false;
}

// Fetches into a temporary file beside the target and replaces the target only once the whole
// file arrived, so a failed fetch never destroys a design the player has. On failure error
// holds the system's code and the temporary file is gone.
bool FetchRemoteFile(HINTERNET connection, const std::string& remoteName, const std::string& folder,
                     const std::string& target, DWORD& error)
{
    char temporary[MAX_PATH];
    if (!GetTempFileNameA(folder.c_str(), "skv", 0, temporary)) {
        error = GetLastError();
        return false;
    }
    if (CallPumping([&] {
            return FtpGetFileA(connection, remoteName.c_str(), temporary, FALSE, FILE_ATTRIBUTE_NORMAL,
                               FTP_TRANSFER_TYPE_BINARY, 0);
        }) && MoveFileExA(temporary, target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    error = GetLastError();
    DeleteFileA(temporary);
    return false;
}

// A download's temporary file that a killed Starter left behind. An hour is far longer than
// any fetch, so a file of a download still running in another Starter is never taken.
constexpr ULONGLONG StaleAge = 60ull * 60 * 10000000;   // in 100 ns units

ULONGLONG AsCount(const FILETIME& time)
{
    return ULONGLONG(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

void RemoveStaleTemporaryFiles(const std::string& folder)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    WIN32_FIND_DATAA match;
    FindHandle search(FindFirstFileA(JoinPath(folder, "skv*.tmp").c_str(), &match));
    for (bool found = bool(search); found; found = FindNextFileA(search.Get(), &match)) {
        if ((match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsDownloadTemporaryName(match.cFileName))
            continue;
        const ULONGLONG written = AsCount(match.ftLastWriteTime);
        if (written < AsCount(now) && AsCount(now) - written > StaleAge)
            DeleteFileA(JoinPath(folder, match.cFileName).c_str());
    }
}

// The frame both transfers share: the status dialog, the Internet handle and the connection,
// then transfer (which reports its failure's code), then everything closed in reverse order.
// False without a message when the Internet handle cannot be opened.
template <class Transfer>
bool RunFtpTransfer(int steps, int transferLine, Transfer transfer)
{
    TransferScope busy;
    if (!InternetReachable())
        return false;
    OpenStatus(0, steps);
    SetStatusText(IDS_CONNECTING_NET);
    InternetHandle internet(OpenInternet());
    if (!internet) {
        CloseStatus();
        return false;
    }
    SetStatusText(IDS_CONNECTING_SRV);
    StepStatus();
    InternetHandle connection(ConnectFtp(internet.Get()));
    SetStatusText(transferLine);
    StepStatus();
    DWORD error = 0;
    const bool done = transfer(connection.Get(), error);
    if (!done)
        ReportError(IDS_TRANSFER_ERROR, static_cast<int>(error), ErrorLine, StarterSourceFile);
    connection.Close();
    SetStatusText(IDS_CLOSING_NET);
    StepStatus();
    internet.Close();
    BusyWait(ClosingPause);
    CloseStatus();
    return done;
}
}

std::vector<char> ReadWholeFile(const std::string& path)
{
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return {};
    std::vector<char> data(GetFileSize(file.Get(), nullptr));
    DWORD got = 0;
    // A file that cannot be read is not sent as a buffer of zeros.
    if (data.empty() || !ReadFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr))
        return {};
    data.resize(got);
    return data;
}

std::string ServerPlaneName()
{
    GUID guid = {};
    CoCreateGuid(&guid);
    // The fourth group: the GUID's last four bytes, the most random ones.
    uint32_t last = 0;
    std::memcpy(&last, guid.Data4 + 4, sizeof last);
    // %lx reads a long, which is 32 bits on Windows in both builds.
    char name[48];
    wsprintfA(name, "%x%x%lx%lx.plane", static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
              static_cast<unsigned long>(guid.Data3), static_cast<unsigned long>(last));
    return name;
}

bool UploadPlaneFile(const std::string& path, std::string& serverName)
{
    const std::vector<char> data = ReadWholeFile(path);
    if (data.empty())
        return false;
    serverName = ServerPlaneName();
    return RunFtpTransfer(4, IDS_OPENING_FILE, [&](HINTERNET connection, DWORD& error) {
        return StoreRemoteFile(connection, serverName, data, error);
    });
}

bool DownloadPlaneFile(const PlaneEntry& entry)
{
    // A server's file name is joined to myPlanes: one that is no design's name, or could leave
    // the folder, is refused before anything is written.
    if (!IsSafePlaneFileName(entry.FileName))
        return ReportError(IDS_TRANSFER_ERROR, UnsafeNameCode, ErrorLine, StarterSourceFile);
    const std::string folder = PlanesFolder();
    RemoveStaleTemporaryFiles(folder);
    const std::string target = JoinPath(folder, entry.FileName);
    const bool fetched = RunFtpTransfer(3, IDS_TRANSMIT_FILE, [&](HINTERNET connection, DWORD& error) {
        return FetchRemoteFile(connection, entry.FileName, folder, target, error);
    });
    if (fetched)
        ShowInfoBox(IDS_PLANE_RECEIVED);
    return fetched;
}
