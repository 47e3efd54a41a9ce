// The command procedures the command loop runs for the operator's buttons.
#pragma once

namespace rompush {

void ScanCommand();
void ScanSerialPort();
void HexFileCommand();
void LastUsedCommand();
void EraseCommand();
void VerifyCommand();
void ProgramCommand();

}  // namespace rompush
