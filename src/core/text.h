// Text helpers with the program's own rules: lenient numbers, trimming, hex digits, line ends.
#pragma once

#include <cstdint>
#include <string>

namespace rompush {

// Lenient numeric reading: skips blanks, reads an optional sign and digits, stops at the
// first other character; no digits gives 0.
long Val(const std::string& text);
std::string Trim(const std::string& text);
std::string UpperCase(std::string text);
// Upper-case hex digits without leading zeros ("8", "4F").
std::string Hex(unsigned value);
// The text after the last path separator ("\" or "/").
std::string FileNameOf(const std::string& path);
// CR LF and lone CR become line feeds: the device's and the message boxes' texts as a
// display or a terminal shows lines.
std::string NormaliseLineEnds(const std::string& text);

}  // namespace rompush
