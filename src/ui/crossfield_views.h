// The main window's views while a Crossfield is served: the Crossfield's own buttons, the
// power-on diagnostics, and the baud choice before a restart.
#pragma once

#include <string>

namespace rompush::ui {

// The step rows re-labelled for the Crossfield: RESTART / CHANGE BAUD, the file buttons, the
// copy and setup buttons in the ERASE and VERIFY rows, PROGRAM; the console button in the
// SCAN row where the port list was.
void ShowCrossfieldButtons(const std::string& startCpu);
// While the power-on text is read: "Crossfield Detected" over "Reading serial data...".
void ShowCrossfieldReading();
// The power-on diagnostics filling the information area, with the console button and
// CONTINUE; a note under them when one is given.
void ShowCrossfieldDiagnostics(const std::string& text, const std::string& note = "");
// The baud choice: the rate found at the last power-up chosen, Restart Crossfield and Cancel.
void ShowBaudChoice(const std::string& powerUpBaud);
// The step rows covered by a view are hidden with it and shown again with the buttons.
void ShowStepRows(bool visible);

// The baud options and the restart button.
void optBaud9600_Click();
void optBaud57600_Click();
void btnRestartCFX_MouseUp();

}  // namespace rompush::ui
