// How a stand-in program was started, appended to its log for the tests to read.
#pragma once
#include <string>
#include <vector>

// The log file: %STARTER_STANDIN_LOG% when set, otherwise the program's own path + ".log".
std::string StandinLogPath();
// Appends one record: "[run]", then exe=, cmdline= and cwd= lines.
bool RecordStart();
// A run as RecordStart wrote it, and every run in a log, oldest first ({} when there is none).
struct StandinRun {
    std::string Exe, CommandLine, WorkingFolder;
};
std::vector<StandinRun> ReadStandinLog(const std::string& logPath);
// True when the command line holds "--exit" or a file named like the program + ".exit" exists.
bool ExitRequested();
