// Benchmarks 2 and 5: Starter.exe and the baseline program started in turn, each in its own
// process: the time from process creation to the end of the first paint, which each program
// reports by setting the event named in STARTER_PAINTED_EVENT, and the peak working set at rest.
// With --dpi both run at that display scale, which Wine reads from the registry at each start.
#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/base/app_state.h"
#include "app/base/lang_text.h"
#include "bench/bench_common.h"
#include "res/layout.h"
#include "res/resource.h"
#include "ui/dpi_scale.h"

namespace {
constexpr DWORD ProcessTimeout = 30000;
constexpr char PaintedEventVariable[] = "STARTER_PAINTED_EVENT";
constexpr double Megabyte = 1024.0 * 1024.0;

struct Program {
    const char* Name;
    std::string Path;
    std::string Arguments;
    std::string WindowClass;
};

// Closes the handles of a started process; ends it first if it is still running.
class Child {
public:
    explicit Child(const Program& program)
    {
        std::string commandLine = "\"" + program.Path + "\" " + program.Arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        const std::string folder = FolderOf(program.Path);
        Started = CreateProcessA(program.Path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &Info) != FALSE;
    }
    ~Child()
    {
        if (!Started)
            return;
        if (WaitForSingleObject(Info.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(Info.hProcess, 1);
        CloseHandle(Info.hThread);
        CloseHandle(Info.hProcess);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Running() const { return Started; }
    HANDLE Process() const { return Info.hProcess; }
    DWORD Id() const { return Info.dwProcessId; }
    // True when the process ended in time with exit code 0.
    bool EndsCleanly(DWORD timeout) const
    {
        DWORD code = 1;
        return WaitForSingleObject(Info.hProcess, timeout) == WAIT_OBJECT_0 && GetExitCodeProcess(Info.hProcess, &code) &&
               code == 0;
    }

private:
    bool Started = false;
    PROCESS_INFORMATION Info = {};
};

HWND VisibleWindowOf(const char* windowClass, DWORD processId)
{
    for (HWND window = FindWindowExA(nullptr, nullptr, windowClass, nullptr); window;
         window = FindWindowExA(nullptr, window, windowClass, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window))
            return window;
    }
    return nullptr;
}

// A fresh event per start, named in the environment that the child inherits.
class PaintedEvent {
public:
    PaintedEvent()
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        std::snprintf(Name, sizeof Name, "SKV_PerfPainted_%lu_%lld", GetCurrentProcessId(), now.QuadPart);
        Handle = CreateEventA(nullptr, TRUE, FALSE, Name);
        SetEnvironmentVariableA(PaintedEventVariable, Name);
    }
    ~PaintedEvent()
    {
        SetEnvironmentVariableA(PaintedEventVariable, nullptr);
        if (Handle)
            CloseHandle(Handle);
    }
    PaintedEvent(const PaintedEvent&) = delete;
    PaintedEvent& operator=(const PaintedEvent&) = delete;
    HANDLE Get() const { return Handle; }

private:
    char Name[64];
    HANDLE Handle;
};

// Waits until the program has painted; false when it ended or hung before.
bool WaitForPaint(const Child& child, const PaintedEvent& painted)
{
    const HANDLE handles[] = {painted.Get(), child.Process()};
    return child.Running() && painted.Get() &&
           WaitForMultipleObjects(2, handles, FALSE, ProcessTimeout) == WAIT_OBJECT_0;
}

// Closes the program's window as the player would and waits for a clean end.
bool CloseProgram(const Child& child, const Program& program)
{
    const HWND window = VisibleWindowOf(program.WindowClass.c_str(), child.Id());
    return window && PostMessageA(window, WM_CLOSE, 0, 0) && child.EndsCleanly(ProcessTimeout);
}

// From process creation until the program has painted its window; closing it is not timed.
bool TimeStartUp(const Program& program, std::vector<double>& samples)
{
    PaintedEvent painted;
    const Stopwatch clock;
    Child child(program);
    const bool paintedInTime = WaitForPaint(child, painted);
    const double elapsed = clock.Milliseconds();
    if (!paintedInTime || !CloseProgram(child, program)) {
        std::printf("  %s did not paint its window and end when closed\n", program.Name);
        return false;
    }
    samples.push_back(elapsed);
    return true;
}

bool PeakAtRest(const Program& program, DWORD rest, std::vector<double>& peaks)
{
    PaintedEvent painted;
    Child child(program);
    if (!WaitForPaint(child, painted)) {
        std::printf("  %s did not paint its window\n", program.Name);
        return false;
    }
    Sleep(rest);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(child.Process(), &counters, sizeof counters)) {
        std::printf("  %s: no memory counters (error %lu)\n", program.Name, GetLastError());
        return false;
    }
    peaks.push_back(static_cast<double>(counters.PeakWorkingSetSize) / Megabyte);
    if (!CloseProgram(child, program)) {
        std::printf("  %s did not end after its window was closed\n", program.Name);
        return false;
    }
    return true;
}

struct Pair {
    Program Starter, Baseline;
};

// The Starter's main picture and its eleven child windows for the baseline, " BITMAP,X,Y" each,
// at the display's DPI: the main picture, the description picture it shows in English, then the
// buttons of its own table, each from the set the Starter takes for that DPI.
std::string StarterPictures(int dpi)
{
    const int offset = ArtSetsFor(dpi)[0].IdOffset;
    auto picture = [&](int bitmap, int x, int y) {
        return " " + std::to_string(bitmap + offset) + "," + std::to_string(ScaleToDpi(x, dpi)) + "," +
               std::to_string(ScaleToDpi(y, dpi));
    };
    std::string pictures = picture(IDB_MAIN, 0, 0) + picture(IDB_DESC_EN_WELCOME, DescriptionPos.X, DescriptionPos.Y);
    for (const SkinButton* row = App.ButtonTable; row->normalBitmap != 0; ++row)
        pictures += picture(row->normalBitmap, row->x, row->y);
    return pictures;
}

Pair ProgramsOf(const BenchOptions& options, int dpi)
{
    const std::string dll = options.Text("dll", "starter.dll");
    const std::string starterClass = LoadFixedString(IDS_CLASS_NAME);
    return {{"Starter.exe", options.Text("starter", "Starter.exe"), "", options.Text("class", starterClass.c_str())},
            {"baseline", options.Text("baseline", "baseline_window.exe"), "\"" + dll + "\"" + StarterPictures(dpi),
             "SKV_PerfBaseline"}};
}

// The display's DPI (LogPixels) for the programs started while it lives; 96 leaves it alone.
class DisplayDpi {
public:
    explicit DisplayDpi(int dpi) : Changed(dpi != LayoutDpi)
    {
        if (!Changed)
            return;
        const DWORD value = static_cast<DWORD>(dpi);
        Changed = RegSetKeyValueA(HKEY_CURRENT_USER, DesktopKey, "LogPixels", REG_DWORD, &value, sizeof value) ==
                  ERROR_SUCCESS;
    }
    ~DisplayDpi()
    {
        if (Changed)
            RegDeleteKeyValueA(HKEY_CURRENT_USER, DesktopKey, "LogPixels");
    }
    DisplayDpi(const DisplayDpi&) = delete;
    DisplayDpi& operator=(const DisplayDpi&) = delete;
    bool Failed(int dpi) const { return dpi != LayoutDpi && !Changed; }

private:
    static constexpr char DesktopKey[] = "Control Panel\\Desktop";
    bool Changed;
};

std::string ScaleLabel(int dpi)
{
    return dpi == LayoutDpi ? "" : " at " + std::to_string(dpi * 100 / LayoutDpi) + " %";
}
}

int StartupBench(const BenchOptions& options)
{
    const int runs = options.Number("runs", 21);
    const int dpi = options.Number("dpi", LayoutDpi);
    const DisplayDpi display(dpi);
    if (display.Failed(dpi))
        return 1;
    const Pair programs = ProgramsOf(options, dpi);
    std::printf("2. start-up to the end of the first paint%s, Starter.exe vs baseline, %d runs each in turn\n",
                ScaleLabel(dpi).c_str(), runs);
    // One start of each first, unmeasured, so that both find their files in the page cache.
    std::vector<double> starter, baseline, ignored;
    bool ok = TimeStartUp(programs.Baseline, ignored) && TimeStartUp(programs.Starter, ignored);
    // Each pair runs back to back, so its ratio sees one load of the machine.
    std::vector<double> pairRatios;
    for (int run = 0; ok && run < runs; ++run) {
        ok = TimeStartUp(programs.Baseline, baseline) && TimeStartUp(programs.Starter, starter);
        if (ok)
            pairRatios.push_back(starter.back() / baseline.back());
    }
    if (!ok)
        return 1;
    PrintFigure("baseline program", baseline);
    PrintFigure("Starter.exe", starter);
    const double ratio = Median(pairRatios);
    // The fastest start of each shows what is left when nothing else disturbs it.
    const double fastest = *std::min_element(starter.begin(), starter.end()) /
                           *std::min_element(baseline.begin(), baseline.end());
    std::printf("  ratio Starter / baseline: %.2f (median of the pairs), %.2f (of the medians), %.2f (of the fastest)\n",
                ratio, Median(starter) / Median(baseline), fastest);
    PrintTarget("ratio at most 1.3 (median of the pairs)", ratio <= 1.3);
    return 0;
}

int MemoryBench(const BenchOptions& options)
{
    const int runs = options.Number("runs", 5);
    const DWORD rest = static_cast<DWORD>(options.Number("rest", 1000));
    const int dpi = options.Number("dpi", LayoutDpi);
    const int limit = options.Number("limit-mb", 8);
    const DisplayDpi display(dpi);
    if (display.Failed(dpi))
        return 1;
    const Pair programs = ProgramsOf(options, dpi);
    std::printf("5. peak working set at rest (%lu ms after the first paint)%s, %d runs each in turn\n", rest,
                ScaleLabel(dpi).c_str(), runs);
    std::vector<double> starter, baseline;
    bool ok = true;
    for (int run = 0; ok && run < runs; ++run)
        ok = PeakAtRest(programs.Baseline, rest, baseline) && PeakAtRest(programs.Starter, rest, starter);
    if (!ok)
        return 1;
    const double more = Median(starter) - Median(baseline);
    std::printf("  %-44s %10.2f MB  (median of %d)\n", "baseline program", Median(baseline), runs);
    std::printf("  %-44s %10.2f MB  (median of %d)\n", "Starter.exe", Median(starter), runs);
    std::printf("  Starter - baseline: %+.2f MB, ratio %.2f\n", more, Median(starter) / Median(baseline));
    const std::string target = "at most " + std::to_string(limit) + " MB more than the baseline";
    PrintTarget(target.c_str(), more <= limit);
    return 0;
}
