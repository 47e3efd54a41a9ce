// The Scan command's path for the keyboard port.
#pragma once

namespace rompush {

// SCAN's status text on a PC that has no keyboard controller (status 0xFF, no answer to 0x20).
constexpr const char* kNoKeyboardController = "No PS/2 keyboard controller found";

void ScanPS2Port();

}  // namespace rompush
