// The status dialog, the message pumps and the About box of ui/ in-process.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/base/app_state.h"
#include "app/base/lang_text.h"
#include "tests/wine/app_scope.h"
#include "tests/wine/test_window.h"
#include "ui/about_box.h"
#include "ui/message_pump.h"
#include "ui/status_dialog.h"

namespace {

constexpr UINT ProbeMessage = WM_APP + 5;
constexpr UINT QuitOnProbe = WM_APP + 6;

// A hidden window of the test that records what reaches its procedure.
struct Recorder {
    HANDLE ProbeSeen = CreateEventA(nullptr, TRUE, FALSE, nullptr);   // set when ProbeMessage is dispatched
    ~Recorder() { CloseHandle(ProbeSeen); }
    std::vector<UINT> messages;
    std::vector<WORD> commands;
    std::atomic<int> probes{0};          // ProbeMessages handled, readable from other threads
    std::atomic<DWORD> probeThread{0};   // the thread that handled the last one
    int Count(UINT message) const
    {
        int n = 0;
        for (UINT m : messages)
            n += m == message;
        return n;
    }
};

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* recorder = reinterpret_cast<Recorder*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (recorder && message >= WM_APP)
        recorder->messages.push_back(message);
    if (recorder && message == ProbeMessage) {
        ++recorder->probes;
        recorder->probeThread = GetCurrentThreadId();
        SetEvent(recorder->ProbeSeen);
    }
    if (recorder && message == WM_COMMAND)
        recorder->commands.push_back(LOWORD(wParam));
    if (message == QuitOnProbe)
        PostQuitMessage(static_cast<int>(wParam));
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateRecorderWindow(Recorder& recorder)
{
    RegisterTestClass("StatusTestRecorder", RecorderProc);
    HWND window = CreateWindowA("StatusTestRecorder", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&recorder));
    return window;
}

void DrainQueue()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

std::string WindowText(HWND window)
{
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

int Progress(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return static_cast<int>(SendDlgItemMessageA(App.StatusDialog, IDC_STATUS_PROGRESS, message, wParam, lParam));
}

BOOL CALLBACK CountStatusDialogs(HWND window, LPARAM count)
{
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) == "#32770" && WindowText(window) == "Status")
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int StatusDialogCount()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountStatusDialogs, reinterpret_cast<LPARAM>(&count));
    return count;
}

class StatusDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCommonControls();
        App.Instance = GetModuleHandleA(nullptr);
        App.MainWindow = nullptr;
        App.Accelerators = nullptr;
        window = CreateRecorderWindow(recorder);
        DrainQueue();
        recorder.messages.clear();
    }
    void TearDown() override
    {
        CloseStatus();
        DestroyWindow(window);
        DrainQueue();
    }
    AppScope saved;
    Recorder recorder;
    HWND window = nullptr;
};

class MessagePump : public StatusDialog {};

} // namespace

TEST_F(StatusDialog, OpeningAgainKeepsTheDialogTextAndPositionAndResetsRangeAndStep)
{
    HWND first = OpenStatus(0, 10);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(App.StatusDialog, first);
    EXPECT_TRUE(IsWindowVisible(first));
    EXPECT_EQ(Progress(PBM_GETPOS), 0);
    for (int i = 0; i < 3; ++i)
        StepStatus();
    SetDlgItemTextA(first, IDC_STATUS_TEXT, "first phase");
    Progress(PBM_SETSTEP, 5);

    EXPECT_EQ(OpenStatus(0, 4), first);
    EXPECT_EQ(StatusDialogCount(), 1);
    EXPECT_EQ(WindowText(GetDlgItem(first, IDC_STATUS_TEXT)), "first phase");
    EXPECT_EQ(Progress(PBM_GETPOS), 3);
    EXPECT_EQ(Progress(PBM_GETRANGE, TRUE), 0);
    EXPECT_EQ(Progress(PBM_GETRANGE, FALSE), 4);
    StepStatus();
    EXPECT_EQ(Progress(PBM_GETPOS), 4);
}

TEST_F(StatusDialog, FourStepsFillARangeOfFour)
{
    ASSERT_NE(OpenStatus(0, 4), nullptr);
    for (int i = 0; i < 4; ++i)
        StepStatus();
    EXPECT_EQ(Progress(PBM_GETPOS), 4);
}

TEST_F(StatusDialog, CloseBoxLeavesItOpen)
{
    HWND dialog = OpenStatus(0, 4);
    ASSERT_NE(dialog, nullptr);
    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    PumpMessages();
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(App.StatusDialog, dialog);
}

TEST_F(StatusDialog, CloseTwiceReturnsZeroTheSecondTime)
{
    HWND dialog = OpenStatus(0, 4);
    ASSERT_NE(dialog, nullptr);
    EXPECT_NE(CloseStatus(), 0);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(App.StatusDialog, nullptr);
    EXPECT_EQ(CloseStatus(), 0);
}

TEST_F(StatusDialog, FailedCreationLeavesNoDialog)
{
    App.Instance = GetModuleHandleA("kernel32.dll");   // holds no dialog 134
    EXPECT_EQ(OpenStatus(0, 4), nullptr);
    EXPECT_EQ(App.StatusDialog, nullptr);
    StepStatus();
    EXPECT_EQ(CloseStatus(), 0);
}

TEST_F(StatusDialog, TextGoesToTheStatusLine)
{
    HWND dialog = OpenStatus(0, 4);
    ASSERT_NE(dialog, nullptr);
    const std::string expected = LoadLangString(IDS_CONNECTING_NET);
    SetStatusText(IDS_CONNECTING_NET);
    EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_STATUS_TEXT)), expected);
}

TEST_F(StatusDialog, TextWithoutDialogPumpsFirstThenPausesWithoutMessages)
{
    // A message posted during the pause must still be waiting afterwards. It is posted from
    // another thread 100 ms after the pump dispatched the first one (the pump takes
    // microseconds, the pause 200 ms); a run in which it came only after the pause proves
    // nothing about the pause and is repeated.
    for (int attempt = 0; attempt < 5; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        recorder.messages.clear();
        ResetEvent(recorder.ProbeSeen);
        PostMessageA(window, ProbeMessage, 0, 0);
        std::atomic<bool> posted{false};
        std::thread late([&] {
            if (WaitForSingleObject(recorder.ProbeSeen, 5000) != WAIT_OBJECT_0)
                return;
            Sleep(100);
            PostMessageA(window, ProbeMessage + 1, 0, 0);
            posted = true;
        });
        const auto start = std::chrono::steady_clock::now();
        SetStatusText(IDS_CONNECTING_NET);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const bool postedDuringPause = posted;
        late.join();

        // The pause counts whole milliseconds: both readings may be cut by up to one.
        EXPECT_GT(elapsed, std::chrono::milliseconds(199));
        EXPECT_EQ(recorder.Count(ProbeMessage), 1);
        EXPECT_EQ(recorder.Count(ProbeMessage + 1), 0);
        PumpMessages();
        EXPECT_EQ(recorder.Count(ProbeMessage + 1), 1);
        if (postedDuringPause)
            return;
    }
    ADD_FAILURE() << "the late message never arrived during the pause";
}

TEST_F(StatusDialog, BusyWaitProcessesNoMessages)
{
    PostMessageA(window, ProbeMessage, 0, 0);
    const auto start = std::chrono::steady_clock::now();
    BusyWait(120);
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(119));
    EXPECT_EQ(recorder.Count(ProbeMessage), 0);
    PumpMessages();
    EXPECT_EQ(recorder.Count(ProbeMessage), 1);
}

TEST_F(MessagePump, PumpTranslatesAccelerators)
{
    App.Accelerators = LoadAcceleratorsA(App.Instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ASSERT_NE(App.Accelerators, nullptr);
    // Alt held, both in the thread's key state and in the message.
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    BYTE altHeld[256];
    std::copy(keys, keys + 256, altHeld);
    altHeld[VK_MENU] = 0x80;
    SetKeyboardState(altHeld);
    PostMessageA(window, WM_SYSCHAR, '?', 0x20000001);
    PostMessageA(window, WM_SYSCHAR, 'x', 0x20000001);
    PumpMessages();
    SetKeyboardState(keys);
    EXPECT_EQ(recorder.commands, std::vector<WORD>{IDM_ABOUT});
}

// The main loop must still see a quit request that a pump took from the queue.
TEST_F(MessagePump, QuitTakenByThePumpStillEndsTheLoop)
{
    struct Case { const char* name; bool postedBefore; int pumps; int code; };
    const Case cases[] = {
        {"posted before the pump", true, 1, 7},
        {"posted by a handler the pump runs", false, 1, 9},
        {"taken by two pumps in a row", true, 2, 3},
        {"posted by a handler, then pumped again", false, 3, 0},
    };
    for (const Case& c : cases) {
        if (c.postedBefore)
            PostQuitMessage(c.code);
        else
            PostMessageA(window, QuitOnProbe, c.code, 0);
        PostMessageA(window, ProbeMessage, 0, 0);
        for (int i = 0; i < c.pumps; ++i)
            PumpMessages();
        EXPECT_EQ(recorder.Count(ProbeMessage), 1) << c.name;

        const UINT_PTR guard = SetTimer(nullptr, 0, 1000, nullptr);   // ends the wait if the quit was lost
        MSG message;
        const BOOL result = GetMessageA(&message, nullptr, 0, 0);
        KillTimer(nullptr, guard);
        EXPECT_EQ(result, 0) << c.name << ": got message " << message.message;
        EXPECT_EQ(message.wParam, static_cast<WPARAM>(c.code)) << c.name;
        DrainQueue();
        recorder.messages.clear();
    }
}

// While a call blocks on a helper thread, messages posted to this thread's windows are handled
// on this thread; the call's result and last error come back; a quit request waits until the call
// is over.
TEST_F(MessagePump, MessagesFlowDuringABlockingCallAndTheQuitRequestIsKept)
{
    const DWORD self = GetCurrentThreadId();
    bool probesHandled = false;
    const int result = CallPumping([&] {
        // The call runs elsewhere; it posts to the waiting thread and waits for the answer.
        EXPECT_NE(GetCurrentThreadId(), self);
        PostMessageA(window, ProbeMessage, 0, 0);
        PostQuitMessage(0);   // its own thread's quit: nothing to do with the waiter
        PostThreadMessageA(self, WM_QUIT, 7, 0);
        PostMessageA(window, ProbeMessage, 0, 0);
        for (int i = 0; i < 500 && recorder.probes < 2; ++i)
            Sleep(10);
        probesHandled = recorder.probes == 2;
        SetLastError(ERROR_TIMEOUT);
        return 42;
    });
    EXPECT_EQ(result, 42);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_TRUE(probesHandled) << "messages were not dispatched during the call";
    EXPECT_EQ(recorder.probeThread, self);

    // The quit request taken during the wait is posted again now, with its code.
    MSG message = {};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

namespace {

std::vector<WPARAM> PendingAboutCommands;   // read by the timer procedure inside the modal loop

void CALLBACK SendNextAboutCommand(HWND, UINT, UINT_PTR, DWORD)
{
    HWND about = FindWindowA("#32770", "About");
    if (!about || PendingAboutCommands.empty())
        return;
    const WPARAM command = PendingAboutCommands.front();
    PendingAboutCommands.erase(PendingAboutCommands.begin());
    SendMessageA(about, WM_COMMAND, command, 0);
}

INT_PTR RunAboutWith(std::vector<WPARAM> commands)
{
    PendingAboutCommands = std::move(commands);
    const UINT_PTR timer = SetTimer(nullptr, 0, 30, SendNextAboutCommand);
    const INT_PTR result = DialogBoxParamA(App.Instance, MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutProc, 0);
    KillTimer(nullptr, timer);
    return result;
}

} // namespace

TEST_F(StatusDialog, AboutBoxEndsOnlyOnOkOrCancel)
{
    EXPECT_EQ(RunAboutWith({IDOK}), IDOK);
    EXPECT_EQ(RunAboutWith({IDCANCEL}), IDCANCEL);
    EXPECT_EQ(RunAboutWith({MAKEWPARAM(1505, 0), MAKEWPARAM(IDOK, BN_CLICKED)}), IDOK);
}
