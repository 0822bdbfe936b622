// Helpers of the end-to-end tests that drive the design browser: the Starter's texts, the
// browser list read across processes, boxes and the status dialog.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/fixtures.h"

namespace e2e {

constexpr DWORD TransferTimeoutMs = 30000;
constexpr int EnglishLanguage = English;

// Row `row` of the Starter's localized texts in English, read as the Starter reads it.
inline std::string EnglishText(int row)
{
    const std::string text = LangText(row, English);
    EXPECT_FALSE(text.empty()) << "no string " << row;
    return text;
}

// The error box's text up to its code, for message row `row`.
inline std::string ErrorBoxHead(int row)
{
    return EnglishText(row) + "\r\n\r\n" + EnglishText(31) + "\t";
}

// The error box's text for message row `row` and a code (line 217: the code form).
inline std::string ErrorBoxText(int row, const std::string& code)
{
    return ErrorBoxHead(row) + code + "\r\nLine:\t217\r\nFile:\tstarter";
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
