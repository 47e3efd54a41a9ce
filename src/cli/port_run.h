// One port served from the terminal: the program started on the console platform with that
// port alone, the port selected in the port list, and the operator's buttons pressed in the
// window's order: SCAN, then the HEX file and PROGRAM, VERIFY or ERASE. What the window shows
// is printed as it changes; the result says how it ended.
#pragma once

#include <string>

#include "cli/cli_options.h"
#include "cli/cli_result.h"

namespace rompush::cli {

// A port as the operator named it.
struct PortChoice {
    int number = 0;          // COM number; 99 the keyboard port
    std::string name;        // "COM3" or "PS/2"
    std::string devicePath;  // "" for PS/2
    std::string problem;     // why it names no port
};
PortChoice ResolvePort(const std::string& given, const std::string& programFolder);

// Checks the option values that name list entries or devices before anything starts; ""
// when they are all good.
std::string CheckOptionValues(const Options& options);

Result RunPort(const Options& options, const std::string& port);

// rompush-cli ports: the window's port list, with each port's device.
int ListPorts(const Options& options);

}  // namespace rompush::cli
