// Reading an Intel HEX file into the firmware image and checking it against the device.
#pragma once

#include <string>

namespace rompush {

// Shows the file name on the HEX FILE button and checks the file; an empty name resets the
// button to "SELECT HEX FILE" and is not valid.
bool ValidateHexFile(const std::string& fileName, const std::string& filePath);
// Reads the whole file, checks its records and its product code against the identified
// device (or, with none, the device the code names) and fills HexData and the data records.
// Address records that keep the upper address at 0 and start-address records are skipped. A
// file with no data (1010), with data the device's flash cannot hold (1011) or with records
// it cannot use (1012) is refused. On failure ErrorCode is set and shown.
bool CkHexFile(const std::string& filePath);
// Where HEX address 0 of a keyboard-port device's file is loaded: 0x4000 for a Monolink ("K"),
// 0x2000 for an Orbit or Prisma ("T", "V", "B"); -1 for any other device. The application
// runs from there up to the end of the flash.
long KeyboardPortLoadBase(const std::string& letter);
constexpr long kKeyboardPortFlashEnd = 0x8000;

// The value of a text of hex digits, as the reader takes it (no validation of the digits).
long HexToInt(const std::string& text);
// Rewrites a file with bare LF line ends with CR LF, after saving it as it was in the
// program folder. False, with the file untouched, when that cannot be done safely.
bool ConvertToDosFormat(const std::string& filePath);
// Warns before a non-flashable firmware is programmed; True when programming may go on.
bool CkForNonFlashFW();

}  // namespace rompush
