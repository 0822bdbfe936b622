// A blocking call made while the windows keep taking messages.
#include "ui/message_pump.h"

#include <gtest/gtest.h>

namespace {
constexpr UINT Probe = WM_APP + 21;

struct Seen {
    int Probes = 0;
    DWORD Thread = 0;
};

LRESULT CALLBACK SeenProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* seen = reinterpret_cast<Seen*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (seen && message == Probe) {
        ++seen->Probes;
        seen->Thread = GetCurrentThreadId();
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateSeenWindow(Seen& seen)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = SeenProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "PumpedCallSeen";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("PumpedCallSeen", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seen));
    return window;
}
}  // namespace

// While the call blocks, messages posted to this thread's windows are handled on this thread;
// the call's result and last error come back; a quit request waits until the call is over.
TEST(PumpedCall, MessagesFlowDuringTheCallAndTheQuitRequestIsKept)
{
    Seen seen;
    HWND window = CreateSeenWindow(seen);
    ASSERT_NE(window, nullptr);
    const DWORD self = GetCurrentThreadId();

    bool probesHandled = false;
    const int result = CallPumping([&] {
        // The call runs elsewhere; it posts to the waiting thread and waits for the answer.
        EXPECT_NE(GetCurrentThreadId(), self);
        PostMessageA(window, Probe, 0, 0);
        PostQuitMessage(0);   // its own thread's quit: nothing to do with the waiter
        PostThreadMessageA(self, WM_QUIT, 7, 0);
        PostMessageA(window, Probe, 0, 0);
        for (int i = 0; i < 500 && seen.Probes < 2; ++i)
            Sleep(10);
        probesHandled = seen.Probes == 2;
        SetLastError(ERROR_TIMEOUT);
        return 42;
    });
    EXPECT_EQ(result, 42);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_TRUE(probesHandled) << "messages were not dispatched during the call";
    EXPECT_EQ(seen.Thread, self);

    // The quit request taken during the wait is posted again now, with its code.
    MSG message = {};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    DestroyWindow(window);
}
