// Benchmark-only: the end mark of bench/launch_bench.cpp's start-up measurements, raised by the
// Starter's start-up and by bench/baseline_window.cpp. A run that names an event in the
// environment variable STARTER_PAINTED_EVENT has it set once the first complete paint is done.
#pragma once
#include <windows.h>

inline void SignalFirstPaint()
{
    char name[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("STARTER_PAINTED_EVENT", name, sizeof name);
    if (length == 0 || length >= sizeof name)
        return;
    if (HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name)) {
        SetEvent(event);
        CloseHandle(event);
    }
}
