// The Crossfield matrix switch, reached through its serial text menu: brought to its menu when
// the banner check heard it power up, its diagnostics and versions shown, and the operator's
// buttons served (copy firmware to the other boards, factory defaults, starting computer,
// program, restart at a chosen baud rate). Every wait for its text is bounded and ends on the
// exit button; a Crossfield that stops answering ends the Crossfield mode with a message.
#pragma once

#include <string>

namespace rompush {

// Entered when the banner check heard a Crossfield at that rate; return when the operator has
// left the Crossfield, with the port back at 115200 baud.
void CfxAt57600();
void CfxAt9600();

// The command dispatcher of the Crossfield mode; ends when the device menu's exit option was
// chosen in the console, after a restart, or when the Crossfield stopped answering.
void CfxMenu();
// Lays the main window out for the Crossfield.
void CfxUI();
void CfxRestart();
void CfxCopyFirmware();
void CfxSetupOperation();
void CfxProgram();
void CfxChangeBaud(const std::string& rate);
// A bad kernel reported at 9600 baud: a new kernel is sent until the boot loader reports
// "Flash programming"; the port is then at 115200 baud.
void CfxKernelRecovery();
// SELECT FILE and Get Last Used in the Crossfield mode.
void CfxHexFile();
void CfxLastUsed();

// The starting computer number shown in the last menu of the text ("" when none).
std::string ReadStartCpu(const std::string& text);
// The operator's entry in the start-CPU dialog: "" when it is not a number, else the nearest
// starting computer number at or below it (1, 5, 9, 13, ...).
std::string RoundStartCpu(const std::string& entry);

}  // namespace rompush
