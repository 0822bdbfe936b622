// Helpers of the end-to-end tests that drive the design browser: the Starter's texts, the
// browser list read across processes, boxes and the status dialog.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/fixtures.h"

namespace e2e {

constexpr DWORD TransferTimeoutMs = 30000;

// Row `row` of the Starter's localized texts in English, read as the Starter reads it.
inline std::string EnglishText(int row)
{
    const std::string text = LangText(row, English);
    EXPECT_FALSE(text.empty()) << "no string " << row;
    return text;
}

// The error box's text up to its value, for message row `row`.
inline std::string ErrorBoxHead(int row)
{
    return EnglishText(row) + "\r\n\r\n" + EnglishText(31) + "\t";
}

// The error box's text for message row `row` and a value: line 217 with a code, line 218 with
// the server's text.
inline std::string ErrorBoxText(int row, const std::string& value, int line = 217)
{
    return ErrorBoxHead(row) + value + "\r\nLine:\t" + std::to_string(line) + "\r\nFile:\tstarter";
}

// The rank box's text: row `row` with the server's answer in place of its "%s".
inline std::string RankText(int row, const std::string& body, int language = English)
{
    std::string text = LangText(row, language);
    const size_t marker = text.find("%s");
    EXPECT_NE(marker, std::string::npos) << "row " << row;
    return marker == std::string::npos ? text : text.replace(marker, 2, body);
}

// The catalogue request for the page from entry `from` on, with the reference script.
inline std::string CataloguePageTarget(int from)
{
    return "/php/_getplanes.php?style=1&from=" + std::to_string(from) + "&num=17";
}

// The names that the server's seed-planes gives designs first to first + count - 1.
inline std::vector<std::string> SeededDesignNames(int first, int count)
{
    std::vector<std::string> names;
    for (int i = first; i < first + count; ++i) {
        char name[16];
        snprintf(name, sizeof name, "Design %03d", i);
        names.push_back(name);
    }
    return names;
}

// The cells of the browser list, read through a buffer inside the Starter's process.
class RemoteList {
public:
    RemoteList(HWND list, DWORD processId) : List(list)
    {
        Process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
        if (Process)
            Memory = static_cast<char*>(VirtualAllocEx(Process, nullptr, BufferSize, MEM_COMMIT | MEM_RESERVE,
                                                       PAGE_READWRITE));
    }
    ~RemoteList()
    {
        if (Memory)
            VirtualFreeEx(Process, Memory, 0, MEM_RELEASE);
        if (Process)
            CloseHandle(Process);
    }
    RemoteList(const RemoteList&) = delete;
    RemoteList& operator=(const RemoteList&) = delete;

    int Rows() const { return static_cast<int>(SendMessageA(List, LVM_GETITEMCOUNT, 0, 0)); }
    bool Selected(int row) const { return SendMessageA(List, LVM_GETITEMSTATE, row, LVIS_SELECTED) != 0; }

    std::string Cell(int row, int column) const
    {
        if (!Memory)
            return "<no access>";
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = Memory + sizeof item;
        item.cchTextMax = BufferSize - sizeof item;
        char text[BufferSize] = {};
        WriteProcessMemory(Process, Memory, &item, sizeof item, nullptr);
        WriteProcessMemory(Process, item.pszText, text, 1, nullptr);
        SendMessageA(List, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(Memory));
        ReadProcessMemory(Process, item.pszText, text, sizeof text - sizeof item, nullptr);
        return text;
    }
    std::vector<std::string> Row(int row) const
    {
        std::vector<std::string> cells;
        for (int column = 0; column < 8; ++column)
            cells.push_back(Cell(row, column));
        return cells;
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int row = 0; row < Rows(); ++row)
            names.push_back(Cell(row, 0));
        return names;
    }

private:
    static constexpr SIZE_T BufferSize = 2048;
    HWND List;
    HANDLE Process = nullptr;
    char* Memory = nullptr;
};

class BrowserTest : public StarterTest {
protected:
    void Start()
    {
        Main = StartStarter();
        ASSERT_NE(Main, nullptr);
    }

    // starter.dat pointing at a server of the test's own (with the settings given), then the Starter.
    void StartWith(const GameServer& server, const std::map<std::string, std::string>& settings = {})
    {
        ASSERT_TRUE(server.Running()) << server.StartOutput().Output;
        ASSERT_TRUE(Install->WriteStarterDat(server.Address(), settings));
        Start();
    }

    HWND List() const { return uidriver::ChildById(Main, IDC_BROWSER_LIST); }
    bool Enabled(int id) const { return uidriver::IsEnabledWindow(uidriver::ChildById(Main, id)); }

    HWND StatusDialog() const
    {
        uidriver::WindowQuery query;
        query.ClassName = "#32770";
        query.Caption = "Status";
        query.ProcessId = Starter.Pid();
        return uidriver::FindTopWindow(query);
    }

    // Row `row` of the open list becomes the selected one, as with the arrow keys.
    void SelectRow(int row)
    {
        const RemoteList list(List(), Starter.Pid());
        for (int i = 0; i < row; ++i)
            PostMessageA(List(), WM_KEYDOWN, VK_DOWN, 1);
        ASSERT_TRUE(uidriver::WaitFor([&] { return list.Selected(row); }));
    }

    uidriver::MessageBoxInfo WaitForBox(const std::string& caption, DWORD timeoutMs = TransferTimeoutMs)
    {
        return uidriver::WaitForMessageBox(Starter.Pid(), timeoutMs, caption);
    }

    // Clicks a button of the main window and waits for the box with this caption.
    uidriver::MessageBoxInfo Press(int id, const std::string& caption, DWORD timeoutMs = TransferTimeoutMs)
    {
        EXPECT_TRUE(uidriver::ClickButton(Main, id)) << "button " << id;
        return WaitForBox(caption, timeoutMs);
    }

    void Dismiss(const uidriver::MessageBoxInfo& box)
    {
        ASSERT_NE(box.Window, nullptr);
        uidriver::AnswerMessageBox(box.Window);
        EXPECT_TRUE(uidriver::WaitForWindowGone(box.Window));
    }

    // No box of the Starter came (the status dialog aside). Call it once the program has
    // passed the point where a box would come: the Starter opens its boxes on the main thread
    // right after closing the status dialog, so once the dialog is gone and that thread has
    // answered a message, a box would exist (perhaps not yet shown).
    void ExpectNoBox()
    {
        EXPECT_TRUE(uidriver::WaitFor([&] { return !StatusDialog(); }, TransferTimeoutMs));
        EXPECT_TRUE(uidriver::WaitUntilSettled(Main));
        for (HWND box : uidriver::FindTopWindows({"#32770", "", Starter.Pid(), false})) {
            if (uidriver::TextOf(box) == "Status")
                continue;
            const uidriver::MessageBoxInfo info = uidriver::ReadMessageBox(box);
            ADD_FAILURE() << "unexpected box " << info.Caption << ": " << info.Text;
            uidriver::AnswerMessageBox(box);
        }
    }

    // Exit still works and ends the program with 0: nothing was left half done.
    void ExpectCleanExit()
    {
        ASSERT_TRUE(Starter.IsRunning());
        ASSERT_TRUE(uidriver::ClickButton(Main, IDC_EXIT));
        DWORD code = 1;
        EXPECT_TRUE(Starter.WaitForExit(20000, &code));
        EXPECT_EQ(code, 0u);
    }

    // Opens the upload browser and waits until it lists `rows` designs.
    void OpenUploadList(int rows = 1)
    {
        ASSERT_TRUE(uidriver::ClickButton(Main, IDC_UPLOAD));
        ASSERT_TRUE(uidriver::WaitFor([&] { return List() && RemoteList(List(), Starter.Pid()).Rows() == rows; }));
    }

    // The catalogue requests the server saw, in order.
    static std::vector<std::string> CatalogueTargets(const GameServer& server)
    {
        std::vector<std::string> targets;
        for (const RequestLine& request : server.Requests())
            if (request.Target.find("?style=1&") != std::string::npos)
                targets.push_back(request.Target);
        return targets;
    }

    // Clicks a browser or main button and waits until the server has seen `requests` catalogue
    // requests, no status dialog is open and the Starter has handled what followed.
    void ClickAndSettle(int id, const GameServer& server, size_t requests)
    {
        ASSERT_TRUE(uidriver::ClickButton(Main, id));
        ASSERT_TRUE(uidriver::WaitFor([&] { return CatalogueTargets(server).size() >= requests && !StatusDialog(); },
                                      TransferTimeoutMs))
            << "requests seen: " << CatalogueTargets(server).size() << ", status dialog: "
            << (StatusDialog() ? uidriver::TextOf(uidriver::ChildById(StatusDialog(), IDC_STATUS_TEXT)) : "none")
            << ", list: " << (List() ? "open" : "none");
        ASSERT_TRUE(uidriver::WaitUntilSettled(Main));
    }

    // Opens the download browser and waits until its first page is on display.
    void OpenCatalogue(const GameServer& server)
    {
        ClickAndSettle(IDC_DOWNLOAD, server, CatalogueTargets(server).size() + 1);
        ASSERT_NE(List(), nullptr);
    }

    // Download of catalogue row `row`: the box that ends it.
    uidriver::MessageBoxInfo Download(const GameServer& server, int row, const std::string& caption)
    {
        OpenCatalogue(server);
        SelectRow(row);
        uidriver::ClickButton(Main, IDOK);
        return WaitForBox(caption);
    }

    // Alt+F4 as the keyboard delivers it to the main window: a system key with Alt held.
    bool PostAltF4() const { return PostMessageA(Main, WM_SYSKEYDOWN, VK_F4, 1 | (1 << 29)) != FALSE; }

    // The browser has gone and the main buttons work again. Closing takes several steps, so
    // wait for the last one before looking at each.
    void ExpectBrowserClosed()
    {
        uidriver::WaitFor([&] { return !List() && !uidriver::IsShown(uidriver::ChildById(Main, IDOK)); });
        EXPECT_EQ(List(), nullptr);
        EXPECT_TRUE(Enabled(IDC_DOWNLOAD));
        EXPECT_TRUE(Enabled(IDC_UPLOAD));
        EXPECT_FALSE(uidriver::IsShown(uidriver::ChildById(Main, IDOK)));
    }

    HWND Main = nullptr;
};

}  // namespace e2e
