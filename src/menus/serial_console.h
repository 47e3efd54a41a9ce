// The serial console of the serial-menu products: what a product sends is collected into
// lines and prompts and shown in txtSerialDisplay, the operator's keys go to the product one
// by one, a file the product asks for is sent as text, and the session can be saved.
#pragma once

#include <string>

namespace rompush {

// The port's receive event (raised for each character while the console is open).
void MSComm1_OnComm();
// Adds one line or prompt the product sent to the console text box.
void DisplaySerialLine(const std::string& line);
// Key release in the console text box: the key goes to the product.
void txtSerialDisplay_KeyUp(int keyCode);
// MenuLastOption = the highest option number of the console's last "Serial options menu".
void GetLastMenuOption();

// Switch the main window between the console view and the information view.
void ShowSerialConsole();
void RestoreInfoLayout();
// The Show Serial Console button: the console view, then the console loop until the exit
// button.
void btnShowDiagnostic_MouseUp();
void SerialConsoleLoop();
// The product printed "Waiting for file": the operator picks a HEX file and it is sent as
// text, or the product's wait is refused.
void SendRequestedFile();
// The console's Save button: ConsoleLog into a text file the operator names.
void btnSaveSerialDisplay_MouseUp();

// The console keeps at most this much text, the newest.
constexpr std::size_t kConsoleHistoryLimit = 64 * 1024;

}  // namespace rompush
