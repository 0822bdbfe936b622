#include "bench/bench_common.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/base/app_state.h"
#include "app/base/paths.h"
#include "app/startup.h"
#include "ui/skin_windows.h"

namespace {
double CounterFrequency()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart);
}

double FileTimeMilliseconds(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 10000.0;   // 100 ns units
}
}

Stopwatch::Stopwatch()
{
    QueryPerformanceCounter(&Start);
}

double Stopwatch::Milliseconds() const
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - Start.QuadPart) * 1000.0 / CounterFrequency();
}

double ProcessorMilliseconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return FileTimeMilliseconds(kernel) + FileTimeMilliseconds(user);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

BenchOptions::BenchOptions(int argc, char** argv, int first)
{
    for (int i = first; i + 1 < argc; i += 2)
        Values[argv[i]] = argv[i + 1];
}

std::string BenchOptions::Text(const char* name, const char* fallback) const
{
    const auto found = Values.find(std::string("--") + name);
    return found == Values.end() ? fallback : found->second;
}

int BenchOptions::Number(const char* name, int fallback) const
{
    const std::string text = Text(name);
    return text.empty() ? fallback : std::atoi(text.c_str());
}

void PrintTarget(const char* what, bool met)
{
    // One sample of a smoke run judges nothing.
    if (std::getenv("STARTER_BENCH_SMOKE"))
        return;
    std::printf("  target: %s ... %s\n", what, met ? "met" : "MISSED");
}

void PrintFigure(const char* label, const std::vector<double>& samples)
{
    std::printf("  %-44s %10.3f ms  (median of %u)\n", label, Median(samples), static_cast<unsigned>(samples.size()));
    if (std::getenv("STARTER_BENCH_SAMPLES")) {
        std::printf("   ");
        for (double sample : samples)
            std::printf(" %.1f", sample);
        std::printf("\n");
    }
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool OpenStarterWindow(const std::string& dll, const std::string& folder)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    App.Instance = instance;
    LoadStringA(instance, IDS_APP_TITLE, App.TitleText, TitleBufferSize);
    LoadStringA(instance, IDS_CLASS_NAME, App.ClassName, TitleBufferSize);
    CopyToBuffer(App.StarterDir, sizeof App.StarterDir, folder);
    CopyToBuffer(App.GamePath, sizeof App.GamePath, folder);
    App.ResourceLibrary = LoadLibraryA(dll.c_str());
    if (!App.ResourceLibrary)
        return false;
    RegisterMainClass(instance);
    if (!CreateMainWindow(instance, SW_SHOWNORMAL))
        return false;
    App.Accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    return true;
}
