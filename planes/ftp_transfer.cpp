#include "planes/ftp_transfer.h"

#include <windows.h>
#include <objbase.h>
#include <cstring>

#include "app/base/handles.h"
#include "app/base/paths.h"
#include "online/error_box.h"
#include "online/internet_calls.h"
#include "online/server_hosts.h"
#include "online/server_settings.h"
#include "online/transfer_session.h"
#include "planes/plane_list.h"
#include "res/resource.h"

namespace {
constexpr char FtpUser[] = "skv_starter";
constexpr char FtpPassword[] = "qpl47";

// The code shown when a catalogue entry names a file outside myPlanes: the system's
// "file name syntax is incorrect".
constexpr int UnsafeNameCode = ERROR_INVALID_NAME;

HINTERNET ConnectFileServer(HINTERNET internet)
{
    return ConnectFtp(internet, ServerSetting("FTP_URL", DefaultFtpHost), FtpUser, FtpPassword);
}

// Opens the new remote file, "Transmitting file…", writes the buffer; the remote file is closed
// before any error box.
NetOutcome StoreRemoteFile(TransferSession& session, const std::string& name, const std::vector<char>& data)
{
    InternetHandle remote(OpenRemoteFile(session.Connection.Get(), name));
    if (!remote)
        return {false, GetLastError(), 0};
    session.Next(IDS_TRANSMIT_FILE);
    return WriteRemoteFile(remote.Get(), data);
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
    FindHandle search(FindFirstFileA(JoinPath(folder, DownloadTemporaryPattern()).c_str(), &match));
    for (bool found = bool(search); found; found = FindNextFileA(search.Get(), &match)) {
        if ((match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsDownloadTemporaryName(match.cFileName))
            continue;
        const ULONGLONG written = AsCount(match.ftLastWriteTime);
        if (written < AsCount(now) && AsCount(now) - written > StaleAge)
            DeleteFileA(JoinPath(folder, match.cFileName).c_str());
    }
}

// The closing steps of a transfer that got its Internet handle: the error box with the failure's
// code, then the session's close.
bool EndTransfer(TransferSession& session, const NetOutcome& outcome)
{
    if (!outcome.Done)
        session.Fail(IDS_TRANSFER_ERROR, outcome.Error);
    session.Close();
    return outcome.Done;
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

// The steps: the session's opening, "Opening file…", "Transmitting file…", then the closing steps.
bool UploadPlaneFile(const std::string& path, std::string& serverName)
{
    const std::vector<char> data = ReadWholeFile(path);
    if (data.empty())
        return false;
    serverName = ServerPlaneName();
    TransferSession session;
    if (session.Open(4, ConnectFileServer) != SessionOpening::Connected)
        return false;
    session.Next(IDS_OPENING_FILE);
    return EndTransfer(session, StoreRemoteFile(session, serverName, data));
}

namespace {
// The steps: the session's opening, "Transmitting file…", then the closing steps.
bool FetchPlaneFile(const std::string& remoteName, const std::string& folder, const std::string& target)
{
    TransferSession session;
    if (session.Open(3, ConnectFileServer) != SessionOpening::Connected)
        return false;
    session.Next(IDS_TRANSMIT_FILE);
    return EndTransfer(session, FetchRemoteFile(session.Connection.Get(), remoteName, folder,
                                                DownloadTemporaryPrefix, target));
}
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
    if (!FetchPlaneFile(entry.FileName, folder, target))
        return false;
    ShowInfoBox(IDS_PLANE_RECEIVED);
    return true;
}
