#include "app/base/lang_text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/base/app_state.h"
#include "online/error_box.h"
#include "tests/wine/app_scope.h"
#include "ui/status_dialog.h"

namespace {
// Keeps the texts' App fields as the test found them.
class LangText : public testing::Test {
protected:
    AppScope Saved;
};

std::string Text(int32_t language, int baseId)
{
    App.LanguageIndex = language;
    return LoadLangString(baseId);
}

const char InternalError[] = "Internal error";
}

// Under Wine the ANSI code page is 1252: the UTF-8 resource text arrives as these bytes.
TEST_F(LangText, EachLanguageReadsItsBlock)
{
    struct Case { int32_t language; int baseId; const char* text; };
    const Case cases[] = {
        {0, IDS_TRANSFER_ERROR, "Es ist ein Fehler bei der Internet-\xDC" "bertragung aufgetreten."},
        {1, IDS_TRANSFER_ERROR, "An error occured during the the data transfer."},
        {2, IDS_TRANSFER_ERROR, "Une erreur s'est produite pendant le transfert internet."},
        {0, IDS_ERROR_WORD, "Fehler:"},
        {2, IDS_ERROR_WORD, "Erreur :"},
        {1, IDS_CONNECTING_NET, "Connecting to internet\x85"},
        {2, IDS_OPENING_FILE, "R\xE9" "ception du ficher\x85"},
        {0, IDS_RELIABILITY_FIRST + 3, "m\xE4\xDFig"},
        {2, IDS_COL_COSTS, "Co\xFBts"},
        {1, IDS_RANK_TOP, "Gratulation!!\r\nYou are on position %s of the official ranking list !"},
        {1, IDS_DESC_DEFAULT, "156"},
        {2, IDS_DESC_EXIT, "164"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(c.language, c.baseId), c.text) << c.language << " " << c.baseId;

    const std::string note = Text(1, IDS_MAIL_NOTE);
    EXPECT_EQ(note.back(), ' ');
    EXPECT_NE(note.find("internet.\r\nIf you"), std::string::npos);
}

TEST_F(LangText, MissingRowsFallBackToGermanThenInternalError)
{
    const std::string german = "Die Grafik-Library 'starter.dll' konnte nicht gelanden werden";
    struct Case { int32_t language; int baseId; std::string text; };
    const Case cases[] = {
        {2, IDS_NO_LIBRARY, german},
        {1, IDS_NO_LIBRARY, "The grafic library 'starter.dll' could not be found."},
        {49, IDS_NO_LIBRARY, german},   // a language file holding the digit '1'
        {-1, IDS_NO_LIBRARY, german},   // an empty language file
        {-2, IDS_NO_LIBRARY, german},
        {255, IDS_NO_GAME, "Das Spiel 'Skyvora' wurde leider nicht gefunden."},
        // 8193 blocks up, the id's low 16 bits would name English row 30.
        {8193, IDS_NO_LIBRARY, german},
        {INT32_MAX, IDS_NO_LIBRARY, german},
        {INT32_MIN, IDS_NO_LIBRARY, german},
        {0, 10099, InternalError},
        {1, 10034, InternalError},
        {2, 10058, InternalError},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(c.language, c.baseId), c.text) << c.language << " " << c.baseId;
}

TEST_F(LangText, OneBufferZeroedBeforeEachLoad)
{
    App.LanguageIndex = 1;
    const char* first = LoadLangString(IDS_MAIL_NOTE);
    const std::size_t longLength = std::strlen(first);
    const char* second = LoadLangString(IDS_ERROR_WORD);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, App.TextBuffer);
    EXPECT_STREQ(first, "Error:");
    for (std::size_t i = std::strlen(second); i < longLength; ++i)
        ASSERT_EQ(App.TextBuffer[i], '\0') << i;
}

TEST_F(LangText, OwnModuleUntilTheInstanceIsKnown)
{
    App.Instance = nullptr;
    EXPECT_EQ(Text(1, IDS_ERROR_WORD), "Error:");
    EXPECT_EQ(LoadFixedString(IDS_ERROR_CAPTION), "Error");
    EXPECT_EQ(LoadFixedString(IDS_LINE_LABEL), "Line:");
    EXPECT_EQ(LoadFixedString(IDS_FILE_LABEL), "File:");
    EXPECT_EQ(LoadFixedString(9999), "");

    char title[TitleBufferSize] = {};
    ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), IDS_APP_TITLE, title, sizeof title), 0);
    EXPECT_STREQ(title, "SKV_Starter");
    ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), IDS_CLASS_NAME, title, sizeof title), 0);
    EXPECT_STREQ(title, "SKV_Starter");
}

namespace {
// A copy of this program whose only resource is one string block, loaded as data.
class StringModule {
public:
    StringModule(int id, const std::wstring& text)
    {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        Path = std::string(temp) + "frame_strings_" + std::to_string(GetCurrentProcessId()) + ".dll";
        if (!CopyFileA(self, Path.c_str(), FALSE))
            return;
        // A block holds 16 counted strings; all but ours are empty.
        std::vector<WCHAR> block;
        for (int slot = 0; slot < 16; ++slot) {
            if (slot != id % 16) {
                block.push_back(0);
                continue;
            }
            block.push_back(static_cast<WCHAR>(text.size()));
            block.insert(block.end(), text.begin(), text.end());
        }
        HANDLE update = BeginUpdateResourceA(Path.c_str(), TRUE);
        if (!update)
            return;
        UpdateResourceA(update, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(id / 16 + 1),
                        MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), block.data(),
                        static_cast<DWORD>(block.size() * sizeof(WCHAR)));
        if (EndUpdateResourceA(update, FALSE))
            Module = LoadLibraryExA(Path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ~StringModule()
    {
        if (Module)
            FreeLibrary(Module);
        DeleteFileA(Path.c_str());
    }
    HMODULE Module = nullptr;

private:
    std::string Path;
};
}

TEST_F(LangText, LongTextsAreCutAt4095AndTerminated)
{
    struct Case { std::size_t length; std::size_t loaded; };
    const Case cases[] = {{4094, 4094}, {4095, 4095}, {4096, 4095}, {6000, 4095}};
    for (const Case& c : cases) {
        std::wstring text(c.length, L'a');
        text.back() = L'z';
        StringModule strings(10090, text);
        ASSERT_NE(strings.Module, nullptr) << "could not build the string module";
        App.Instance = reinterpret_cast<HINSTANCE>(strings.Module);
        App.LanguageIndex = 0;
        const char* loaded = LoadLangString(10090);
        EXPECT_EQ(std::strlen(loaded), c.loaded) << c.length;
        EXPECT_EQ(App.TextBuffer[TextBufferSize - 1], '\0');
        EXPECT_EQ(loaded[c.loaded - 1], c.loaded == c.length ? 'z' : 'a') << c.length;
        // The texts come from App.Instance alone: rows of our own module are not there.
        EXPECT_EQ(Text(1, IDS_ERROR_WORD), InternalError);
        App.Instance = Saved.Before().Instance;
    }
}

namespace {
struct SeenBox {
    bool Found = false;
    std::string Caption;
    std::vector<std::string> Texts;
    HWND Owner = nullptr;
    bool ExclamationIcon = false;
    bool StatusGone = false;
};

BOOL CALLBACK CollectStatic(HWND child, LPARAM param)
{
    auto* seen = reinterpret_cast<SeenBox*>(param);
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") != 0)
        return TRUE;
    if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        const auto icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        seen->ExclamationIcon = icon && icon == LoadIconA(nullptr, IDI_EXCLAMATION);
        return TRUE;
    }
    char text[1024] = {};
    GetWindowTextA(child, text, sizeof text);
    if (text[0])
        seen->Texts.push_back(text);
    return TRUE;
}

// Reads the first message box of this process and answers it with OK.
SeenBox WatchForBox(HWND statusDialog)
{
    SeenBox seen;
    for (int attempt = 0; attempt < 400 && !seen.Found; ++attempt) {
        Sleep(25);
        HWND box = nullptr;
        while ((box = FindWindowExA(nullptr, box, "#32770", nullptr)) != nullptr) {
            DWORD process = 0;
            GetWindowThreadProcessId(box, &process);
            if (process != GetCurrentProcessId() || !IsWindowVisible(box) || box == statusDialog)
                continue;
            char caption[64] = {};
            GetWindowTextA(box, caption, sizeof caption);
            if (std::strcmp(caption, "Status") == 0)
                continue;
            seen.Found = true;
            seen.Caption = caption;
            seen.Owner = GetWindow(box, GW_OWNER);
            seen.StatusGone = !statusDialog || !IsWindow(statusDialog);
            EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&seen));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            break;
        }
    }
    return seen;
}

SeenBox Report(const std::function<bool()>& report, HWND statusDialog = nullptr)
{
    SeenBox seen;
    std::thread watcher([&] { seen = WatchForBox(statusDialog); });
    EXPECT_FALSE(report());
    watcher.join();
    return seen;
}
}

TEST_F(LangText, ErrorBoxShowsTheComposedText)
{
    struct Case { int32_t language; std::function<bool()> report; const char* text; };
    const Case cases[] = {
        {1, [] { return ReportError(IDS_TRANSFER_ERROR, 6, ErrorLine, StarterSourceFile); },
         "An error occured during the the data transfer.\r\n\r\nError:\t6\r\nLine:\t217\r\nFile:\tstarter"},
        {2, [] { return ReportError(IDS_NO_LIBRARY, -2, ErrorLine, "C:\\src/starter"); },
         "Die Grafik-Library 'starter.dll' konnte nicht gelanden werden\r\n\r\nErreur :\t-2\r\nLine:\t217\r\nFile:\tstarter"},
        {0, [] { return ReportServerError(IDS_TRANSFER_ERROR, "Not Found\r\nsorry", ServerErrorLine, StarterSourceFile); },
         "Es ist ein Fehler bei der Internet-\xDC" "bertragung aufgetreten.\r\n\r\nFehler:\tNot Found\r\nsorry\r\nLine:\t218\r\nFile:\tstarter"},
    };
    for (const Case& c : cases) {
        App.LanguageIndex = c.language;
        const SeenBox seen = Report(c.report);
        ASSERT_TRUE(seen.Found);
        EXPECT_EQ(seen.Caption, "Error");
        EXPECT_TRUE(seen.ExclamationIcon);
        ASSERT_EQ(seen.Texts.size(), 1u);
        EXPECT_EQ(seen.Texts[0], c.text);
    }
}

TEST_F(LangText, ErrorBoxClosesTheStatusDialogFirstAndSitsOnTheMainWindow)
{
    App.MainWindow = CreateWindowA("STATIC", "main", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(App.MainWindow, nullptr);
    HWND status = OpenStatus(0, 4);
    ASSERT_NE(status, nullptr);
    App.LanguageIndex = 1;
    const SeenBox seen = Report([] { return ReportError(IDS_NO_INTERNET, 0, ErrorLine, StarterSourceFile); }, status);
    ASSERT_TRUE(seen.Found);
    EXPECT_TRUE(seen.StatusGone);
    EXPECT_EQ(App.StatusDialog, nullptr);
    EXPECT_EQ(seen.Owner, App.MainWindow);
    DestroyWindow(App.MainWindow);
}
