// rompush-cli's command line: the command, its file, the ports and the options that stand in
// for the window's choices (COM parameters, answers to its questions).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rompush::cli {

enum class Command { None, Ports, Scan, Program, Verify, Erase, Help };

struct Options {
    Command command = Command::None;
    std::string commandName;
    std::string file;                // program, verify: the HEX file
    std::vector<std::string> ports;  // as given: "COM3", "/dev/ttyUSB0", "PS/2"
    // COM parameters as the lists of the COM parameters dialog show them; unset ones keep the
    // window's saved positions.
    std::optional<std::string> baud, dataBits, parity, stopBits, flow;
    bool yes = false;
    bool json = false;
    bool noSave = false;
    std::string folder;  // program folder; "" the window's
    std::string simPs2;  // simulated keyboard-port device, "" none
    std::string trace;   // trace file, "" none
    bool help = false;
    bool version = false;
    // Set by the parent of a run over several ports for each of its children.
    std::string resultFile;
    std::string label;
};

// Reads the command line; on a mistake returns nullopt and sets `problem`.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& problem);
// The arguments that run one port of `options` in a child process.
std::vector<std::string> ChildArguments(const Options& options, const std::string& port,
                                        const std::string& resultFile);
// --help text of a command (the overview for Command::None and Command::Help).
std::string HelpText(Command command);

}  // namespace rompush::cli
