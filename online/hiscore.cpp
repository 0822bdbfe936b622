#include "online/hiscore.h"

#include <windows.h>
#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include "app/base/app_state.h"
#include "app/base/handles.h"
#include "app/base/lang_text.h"
#include "app/base/paths.h"
#include "app/base/wait_cursor.h"
#include "online/error_box.h"
#include "online/hiscore_file.h"
#include "online/http_exchange.h"
#include "settings/registry_store.h"
#include "ui/status_dialog.h"

namespace {
constexpr char HiscoreFile[] = "misc\\xmlmap.fla";
}

bool ReadHiscoreFile()
{
    const std::string path = JoinPath(App.GamePath, HiscoreFile);
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    const DWORD size = GetFileSize(file.Get(), nullptr);
    if (size == INVALID_FILE_SIZE)
        return false;
    std::unique_ptr<char[]> data(new (std::nothrow) char[size + 1]);
    if (!data)
        return false;
    DWORD read = 0;
    if (!ReadFile(file.Get(), data.get(), size, &read, nullptr))
        return false;
    // Only a real first record is worth uploading; anything less leaves the table as it was.
    HiscoreEntry table[HiscoreRecords];
    if (!ParseHiscoreData(std::string_view(data.get(), read), table).FirstComplete)
        return false;
    std::copy(std::begin(table), std::end(table), std::begin(App.HiscoreTable));
    return true;
}

void UploadHiscore(const std::string& name, int64_t score, const std::string& mail)
{
    std::string body;
    const HttpRequest request = {"ADDSCORE_PHP", "_addscore.php", HiscoreQuery(name, score, mail),
                                 AnswerMode::ReadBody, &body};
    if (HttpExchange(request) != HttpOutcome::Answered || body.empty())
        return;
    const std::string pattern = LoadLangString(RankMessageId(body));
    const std::string message = RankMessage(pattern, body);
    const std::string caption = LoadFixedString(IDS_HISCORE_CAPTION);
    MessageBoxA(App.MainWindow, message.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

void HiscoreCommand()
{
    WaitCursor wait(App.MainWindow);
    if (!ReadHiscoreFile()) {
        CloseStatus();
        ReportError(IDS_NO_HISCORE_FILE, 0, ErrorLine, StarterSourceFile);
        return;
    }
    const std::string mail = ReadMailAddress();
    UploadHiscore(App.HiscoreTable[0].Name, App.HiscoreTable[0].Score, mail);
    CloseStatus();
}
