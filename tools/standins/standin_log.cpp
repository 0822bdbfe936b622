#include "tools/standins/standin_log.h"
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

std::string ModulePath()
{
    char path[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

struct FileHolder {
    FILE* File;
    ~FileHolder() { if (File) std::fclose(File); }
};

}  // namespace

std::string StandinLogPath()
{
    char path[MAX_PATH * 4] = {};
    const DWORD length = GetEnvironmentVariableA("STARTER_STANDIN_LOG", path, sizeof path);
    if (length > 0 && length < sizeof path) return path;
    return ModulePath() + ".log";
}

bool RecordStart()
{
    char folder[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    FileHolder log{std::fopen(StandinLogPath().c_str(), "ab")};
    if (!log.File) return false;
    std::fprintf(log.File, "[run]\nexe=%s\ncmdline=%s\ncwd=%s\n", ModulePath().c_str(), GetCommandLineA(), folder);
    return std::fflush(log.File) == 0;
}

bool ExitRequested()
{
    if (std::strstr(GetCommandLineA(), "--exit")) return true;
    return GetFileAttributesA((ModulePath() + ".exit").c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<StandinRun> ReadStandinLog(const std::string& logPath)
{
    std::vector<StandinRun> runs;
    std::ifstream lines(logPath, std::ios::binary);
    for (std::string line; std::getline(lines, line);) {
        if (line == "[run]") runs.emplace_back();
        else if (runs.empty()) continue;
        else if (line.rfind("exe=", 0) == 0) runs.back().Exe = line.substr(4);
        else if (line.rfind("cmdline=", 0) == 0) runs.back().CommandLine = line.substr(8);
        else if (line.rfind("cwd=", 0) == 0) runs.back().WorkingFolder = line.substr(4);
    }
    return runs;
}
