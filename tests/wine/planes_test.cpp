// The plane exchange's Win32 layer in-process: the browser list, local design rows, catalogue
// pages shown from memory, file reading and server file names. No network.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "app/base/app_state.h"
#include "app/base/paths.h"
#include "planes/browser.h"
#include "planes/catalogue.h"
#include "planes/ftp_transfer.h"
#include "planes/plane_list.h"
#include "tests/support/temp_folder.h"
#include "tests/wine/app_scope.h"
#include "ui/skin_windows.h"

namespace fs = std::filesystem;

namespace {
std::string Cell(HWND list, int row, int column)
{
    char text[1100] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

int Rows(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

bool Selected(HWND list, int row)
{
    return SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) != 0;
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// N = 36, the seven numbers, then "Sky", a zero and four more bytes.
std::string ExampleDesign()
{
    std::string bytes;
    auto put = [&bytes](int32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>(static_cast<uint32_t>(value) >> (8 * i));
    };
    put(36);
    for (int32_t number : {1000, 2000, 30, 101, -30, 800, 5000})
        put(number);
    return bytes + std::string("Sky\0WXYZ", 8) + "rest of the design";
}

class Browser : public testing::Test {
protected:
    void SetUp() override
    {
        App.Instance = GetModuleHandleA(nullptr);
        App.LanguageIndex = 1;
        Parent = CreateWindowExA(0, "STATIC", "parent", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr, App.Instance,
                                 nullptr);
        App.MainWindow = Parent;
        fs::create_directories(Folder / "myPlanes");
    }
    void TearDown() override
    {
        if (App.BrowserMode)
            DismissBrowser();
        DestroyWindow(Parent);
    }
    HWND List() const { return App.BrowserWindows[0]; }

    AppScope Saved;
    HWND Parent = nullptr;
    testsupport::TempFolder Temp{"skv-planes"};
    const fs::path Folder = Temp.Path();
};
}

// The list as the player gets it: its place, styles, columns and font, written here as the
// values the design gives them; every title also fits its column. Closing gives everything back.
TEST_F(Browser, ListHasItsPlaceStylesColumnsAndFontAndClosesCleanly)
{
    ASSERT_TRUE(OpenBrowser(Parent, DownloadMode));
    EXPECT_EQ(App.BrowserMode, DownloadMode);
    const HWND list = List();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(GetDlgCtrlID(list), IDC_BROWSER_LIST);
    RECT box;
    GetWindowRect(list, &box);
    MapWindowPoints(nullptr, Parent, reinterpret_cast<POINT*>(&box), 2);
    EXPECT_EQ(box.left, 32);
    EXPECT_EQ(box.top, 32);
    EXPECT_EQ(box.right - box.left, 381);
    EXPECT_EQ(box.bottom - box.top, 274);

    // WS_VISIBLE: the test's parent window itself is hidden. The scroll bars are left out: the
    // list takes their bits away while it has nothing to scroll.
    const LONG_PTR style = GetWindowLongPtrA(list, GWL_STYLE);
    const LONG_PTR wanted = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                            LVS_SHOWSELALWAYS | LVS_ALIGNLEFT | LVS_NOSORTHEADER;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0),
              LVS_EX_GRIDLINES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT);

    struct Column { const char* title; int width; };
    const Column columns[] = {{"Name", 100},  {"Cons.", 60},        {"Costs", 60},  {"Velocity", 60},
                              {"Noise", 80},  {"Reliability", 80},  {"Weight", 60}, {"Range", 80}};
    const HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    ASSERT_EQ(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 8);
    for (int i = 0; i < 8; ++i) {
        char title[64] = {};
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.pszText = title;
        column.cchTextMax = sizeof title;
        ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column))) << i;
        EXPECT_STREQ(title, columns[i].title) << i;
        EXPECT_EQ(column.cx, columns[i].width) << columns[i].title;
        EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT) << columns[i].title;
        const int textWidth = static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(title)));
        EXPECT_GE(column.cx, textWidth) << title << " is cut";
    }

    LOGFONTA font = {};
    ASSERT_TRUE(GetObjectA(reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0)), sizeof font, &font));
    EXPECT_EQ(font.lfHeight, 12);
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
    EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
    EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
    EXPECT_STREQ(font.lfFaceName, "MS Shell Dlg");

    DismissBrowser();
    EXPECT_FALSE(IsWindow(list));
    EXPECT_EQ(App.BrowserFont, nullptr);
    EXPECT_EQ(App.BrowserMode, 0);
}

TEST_F(Browser, LocalDesignsBecomeRows)
{
    WriteBytes(Folder / "myPlanes" / "example.plane", ExampleDesign());
    WriteBytes(Folder / "myPlanes" / "empty.plane", "");
    WriteBytes(Folder / "myPlanes" / "notes.txt", ExampleDesign());
    fs::create_directories(Folder / "myPlanes" / "folder.plane");
    // A folder ending in a slash gets no second separator.
    ASSERT_TRUE(CopyToBuffer(App.GamePath, sizeof App.GamePath, Folder.string() + "/"));
    ASSERT_TRUE(OpenBrowser(Parent, UploadMode));
    FillLocalPlaneList(List());

    ASSERT_EQ(Rows(List()), 2);
    ASSERT_EQ(App.LocalPlaneFiles.size(), 2u);
    EXPECT_TRUE(Selected(List(), 0));
    EXPECT_FALSE(Selected(List(), 1));
    for (int row = 0; row < 2; ++row) {
        std::vector<std::string> cells;
        for (int column = 0; column < 8; ++column)
            cells.push_back(Cell(List(), row, column));
        if (App.LocalPlaneFiles[row] == "example.plane")
            EXPECT_EQ(cells, (std::vector<std::string>{"Sky", "30", "1000", "800", "very loud", "disastrous", "2000",
                                                      "5000"}));
        else
            EXPECT_EQ(cells, (std::vector<std::string>{"", "0", "0", "0", "very quiet", "average", "0", "0"}))
                << App.LocalPlaneFiles[row];
    }
    DismissBrowser();
    EXPECT_TRUE(App.LocalPlaneFiles.empty());
}

TEST_F(Browser, CataloguePagesFromMemory)
{
    for (int i = 0; i < 40; ++i) {
        PlaneEntry entry;
        CopyTextCut(entry.Name, sizeof entry.Name, "Entry " + std::to_string(i));
        entry.Costs = i;
        App.CatalogueEntries.push_back(entry);
    }
    App.CatalogueTotal = 40;
    ASSERT_TRUE(OpenBrowser(Parent, DownloadMode));

    struct Case { int from; int rows; int end; };
    for (const Case& c : {Case{17, 17, 34}, Case{34, 6, 40}, Case{0, 17, 17}}) {
        ASSERT_TRUE(ShowCataloguePage(List(), c.from, CataloguePageSize)) << c.from;
        EXPECT_EQ(Rows(List()), c.rows);
        EXPECT_EQ(Cell(List(), 0, 0), "Entry " + std::to_string(c.from));
        EXPECT_EQ(Cell(List(), 0, 2), std::to_string(c.from));
        EXPECT_TRUE(Selected(List(), 0));
        EXPECT_EQ(App.CatalogueFirst, c.from);
        EXPECT_EQ(App.CatalogueEnd, c.end);
    }
    // Before the first entry, or a page that would leave a gap: nothing changes, nothing is fetched.
    for (int from : {-17, 41}) {
        EXPECT_FALSE(ShowCataloguePage(List(), from, CataloguePageSize)) << from;
        EXPECT_EQ(App.CatalogueFirst, 0);
        EXPECT_EQ(App.CatalogueEnd, 17);
        EXPECT_EQ(App.CatalogueEntries.size(), 40u);
    }
    DismissBrowser();
    EXPECT_TRUE(App.CatalogueEntries.empty());
}

// A page as long as the one on display is written into its rows: it must end up exactly as a
// list built afresh, with only row 0 selected and focused.
TEST_F(Browser, AnEqualPageLeavesTheListAsAFreshOne)
{
    for (int i = 0; i < 40; ++i) {
        PlaneEntry entry;
        CopyTextCut(entry.Name, sizeof entry.Name, "Entry " + std::to_string(i));
        entry.Costs = 100 * i;
        entry.Noise = 3 * i;
        entry.Reliability = 97 - 2 * i;
        entry.Range = i % 3 ? 1000 + i : 0;
        App.CatalogueEntries.push_back(entry);
    }
    App.CatalogueTotal = 40;
    ASSERT_TRUE(OpenBrowser(Parent, DownloadMode));
    auto allCells = [this] {
        std::vector<std::string> cells;
        for (int row = 0; row < Rows(List()); ++row)
            for (int column = 0; column < 8; ++column)
                cells.push_back(Cell(List(), row, column));
        return cells;
    };
    ASSERT_TRUE(ShowCataloguePage(List(), 0, CataloguePageSize));
    LVITEMA picked = {};
    picked.stateMask = picked.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(List(), LVM_SETITEMSTATE, 5, reinterpret_cast<LPARAM>(&picked));

    ASSERT_TRUE(ShowCataloguePage(List(), 17, CataloguePageSize));
    const std::vector<std::string> rewritten = allCells();
    ASSERT_EQ(Rows(List()), 17);
    EXPECT_EQ(SendMessageA(List(), LVM_GETITEMSTATE, 0, LVIS_SELECTED | LVIS_FOCUSED), LVIS_SELECTED | LVIS_FOCUSED);
    for (int row = 1; row < 17; ++row)
        EXPECT_EQ(SendMessageA(List(), LVM_GETITEMSTATE, row, LVIS_SELECTED | LVIS_FOCUSED), 0) << row;

    // Through the short last page, so that page 17 is built afresh.
    ASSERT_TRUE(ShowCataloguePage(List(), 34, CataloguePageSize));
    ASSERT_TRUE(ShowCataloguePage(List(), 17, CataloguePageSize));
    EXPECT_EQ(allCells(), rewritten);
    EXPECT_EQ(Cell(List(), 16, 0), "Entry 33");
}

TEST(PlaneFiles, WholeFileAndHeaderOfMissingFiles)
{
    const fs::path path = fs::temp_directory_path() / ("skv-whole-" + std::to_string(GetCurrentProcessId()));
    const std::string bytes = ExampleDesign() + std::string("\0\xff", 2);
    WriteBytes(path, bytes);
    const std::vector<char> data = ReadWholeFile(path.string());
    EXPECT_EQ(std::string(data.begin(), data.end()), bytes);
    PlaneHeader header;
    EXPECT_TRUE(ReadPlaneHeader(path.string(), header));
    EXPECT_STREQ(header.Name, "Sky");
    fs::remove(path);
    EXPECT_TRUE(ReadWholeFile(path.string()).empty());
    header.Costs = 5;
    EXPECT_FALSE(ReadPlaneHeader(path.string(), header));
    EXPECT_EQ(header.Costs, 0);
}

TEST(PlaneFiles, ServerNamesAreNewHexNames)
{
    const std::regex form("^[0-9a-f]{4,24}\\.plane$");
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        const std::string name = ServerPlaneName();
        EXPECT_TRUE(std::regex_match(name, form)) << name;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 200u);
}
