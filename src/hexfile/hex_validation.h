// Reading an Intel HEX file into the firmware image and checking it against the device.
#pragma once

#include <string>

namespace rompush {

// Shows the file name on the HEX FILE button and checks the file; an empty name resets the
// button to "SELECT HEX FILE" and is not valid.
bool ValidateHexFile(const std::string& fileName, const std::string& filePath);
// Reads the whole file, checks its records and its product code against the identified
// device and fills HexData. On failure ErrorCode is set and shown.
bool CkHexFile(const std::string& filePath);
// The value of a text of hex digits, as the reader takes it (no validation of the digits).
long HexToInt(const std::string& text);
// Rewrites a file with bare LF line ends with CR LF, after saving it as it was in the
// program folder. False, with the file untouched, when that cannot be done safely.
bool ConvertToDosFormat(const std::string& filePath);
// Warns before a non-flashable firmware is programmed; True when programming may go on.
bool CkForNonFlashFW();

}  // namespace rompush
