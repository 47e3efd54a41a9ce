// What one port's run came to, how it is reported (a JSON object, a row of the summary table)
// and the exit status of each kind of failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rompush::cli {

// Exit statuses, one per kind of failure (documented in --help and the man page).
enum ExitStatus : int {
    kExitOk = 0,
    kExitMixed = 1,  // several ports failed in different ways, or a run broke off
    kExitUsage = 2,
    kExitFile = 3,
    kExitPort = 4,
    kExitIdentification = 5,
    kExitProgram = 6,  // erase or program
    kExitVerify = 7,
};

const char* FailureName(int exitStatus);
// A text as a JSON string, quotes included.
std::string JsonString(const std::string& text);
// The kind of failure an error code of the window's error table belongs to; `fallback` for
// codes of no kind.
int ExitStatusOfError(int errorCode, int fallback);

struct Result {
    std::string port;        // as given
    std::string portName;    // "COM3" or "PS/2"
    std::string devicePath;  // "" for PS/2
    std::string command;
    std::string file;
    std::string deviceName, deviceId, deviceLetter, revision, bootloader;
    int exitStatus = kExitMixed;
    int errorCode = 0;
    std::string errorText;  // the error table's text, as the window's label shows it
    std::string status;     // the status line at the end
    std::string problem;    // what went wrong, in a sentence, when it failed
    double seconds = 0;

    bool Ok() const { return exitStatus == kExitOk; }
    std::string Json() const;
    // A flat form a parent reads back from its child (one field a line).
    std::string Serialise() const;
    static bool Deserialise(const std::string& text, Result& result);
};

// The table printed after a run over several ports.
std::string SummaryTable(const std::vector<Result>& results);
// The exit status of a run over several ports.
int OverallExitStatus(const std::vector<Result>& results);

}  // namespace rompush::cli
