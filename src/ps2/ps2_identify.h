// Who sits on the keyboard port: the device types its model letter and firmware revision as
// key strokes, which are turned back into text.
#pragma once

#include <cstdint>
#include <string>

namespace rompush {

// The character of a scan-code-set-1 make code of the digit row or a letter key; "" else.
std::string Mode1ToChar(std::uint8_t code);
// Asks the device for its identity and fills the device record and status panels. False,
// with ErrorCode 1 (nothing usable answered) or 6001 (non-flashable firmware), on failure.
bool ID_PS2_Device();

}  // namespace rompush
