// The command procedures the command loop runs for the operator's buttons.
#pragma once

#include <cstdint>

namespace rompush {

void ScanCommand();
void ScanSerialPort();
// SCAN's probes for the serial-menu products on the port: "?" and CR at 115200 baud for a
// Meridan, at 9600 then 57600 for a Crossfield. A product that answers gets its information
// view, which listens for its power-up until the operator's Cancel.
void MeridanProbe(std::uint8_t port);
void CrossfieldProbe(std::uint8_t port);
void HexFileCommand();
void LastUsedCommand();
void EraseCommand();
void VerifyCommand();
void ProgramCommand();

// Whether a command's start empties the receive buffer: SCAN listens at once for the
// device's ready byte and keeps what came; the flash commands start from an empty buffer.
enum class PreambleInput { Keep, Clear };
// The start of SCAN, ERASE, PROGRAM and VERIFY: on a COM port the saved COM parameters and
// the port reopened with them; hourglass, all buttons locked, ErrorCode 0 and its display.
void CommandPreamble(PreambleInput input);
// The command that ran for `code` is over: UiCommand goes back to 0, unless the operator
// pressed another command button while the command waited with the buttons usable again; that
// command then runs next instead of being lost.
void EndCommand(std::uint8_t code);
// The port list's entry "PS/2" is selected.
bool KeyboardPortSelected();
// The port number of the selected entry of the port list (99 for "PS/2").
std::uint8_t SelectedPortNumber();

}  // namespace rompush
