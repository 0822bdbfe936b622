// Clocks, medians and the command line of the benchmark program.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

// Wall time from the performance counter, in milliseconds.
class Stopwatch {
public:
    Stopwatch();
    double Milliseconds() const;

private:
    LARGE_INTEGER Start;
};

// User plus kernel time of this process so far, in milliseconds.
double ProcessorMilliseconds();

double Median(std::vector<double> values);

// "--name value" pairs after the benchmark's name.
class BenchOptions {
public:
    BenchOptions(int argc, char** argv, int first);
    std::string Text(const char* name, const char* fallback = "") const;
    int Number(const char* name, int fallback) const;

private:
    std::map<std::string, std::string> Values;
};

// Prints "target: <what> ... met" or "... MISSED", nothing in a smoke run (STARTER_BENCH_SMOKE);
// targets never change the exit code.
void PrintTarget(const char* what, bool met);

// A row of figures: the label, then each median in milliseconds.
void PrintFigure(const char* label, const std::vector<double>& samples);

// The folder of a path, with its separator.
std::string FolderOf(const std::string& path);

int RegionBench(const BenchOptions& options);
int StartupBench(const BenchOptions& options);
int MemoryBench(const BenchOptions& options);
int ExchangeBench(const BenchOptions& options);
int CatalogueBench(const BenchOptions& options);
int PauseBench(const BenchOptions& options);

// Sets up the Starter's frame in this process as start-up does (texts, picture library,
// main window with its buttons), with folder as the Starter's folder. False on failure.
bool OpenStarterWindow(const std::string& dll, const std::string& folder);
