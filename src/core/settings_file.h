// The settings file "RomPush.INI" in the program folder: header lines with the port search
// limit, the selected port and the COM parameters, then the last-used HEX file per device.
#pragma once

#include <string>
#include <vector>

namespace rompush {

// Full path of the settings file.
std::string IniPath();
// True when the file's length can be read (it exists, any length); never fails.
bool FExists(const std::string& path);
// The stored path and file name of the current DevLetter's last-used HEX file, or "" and "".
void CheckINI(std::string& nameOut, std::string& pathOut);
// Rewrites the file with the current header values and the current device's entry.
void WriteINI();
// The file's lines (CR LF or LF ends), at most maxLines; false when it cannot be read.
bool ReadIniLines(std::vector<std::string>& lines, std::size_t maxLines = SIZE_MAX);
// Start-up check: a file whose first line is not the signature is deleted.
void CheckIniSignature();

}  // namespace rompush
