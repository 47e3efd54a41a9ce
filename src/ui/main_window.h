// The main window's rules: status banner, error display, which buttons are usable, the reset
// to the normal look, the lock-out during an operation, the status-bar panels, the layout.
#pragma once

#include <string>

#include "ui/controls.h"

namespace rompush::ui {

// The banner after a good PROGRAM of a keyboard-port device whose SCAN then found nothing: the
// flash passed its CRC check, but the device has not been seen running since.
inline constexpr const char* kProgrammedNoAnswer =
    "Programming passed, but the device did not answer afterwards.";

// Banner: frmPASS gets the colour, lblPASS the text.
void ShowMsg(const std::string& text, Colour colour);
// Shows ErrorCode: red banner "ERROR CODE: n", the step row's label text and highlight line;
// with ErrorCode 0 puts the step descriptions back.
void DisplayError();
void ButtonEnabler();
void EnableButtonsNormal();
// The KVT's branch of the normal mode (device letter "$").
void EnableButtonsKvt();
void EnableButtonsMain();
void EnableButtonsUsb();
void EnableButtonsQrx();
void EnableButtonsCfx();
void DefaultUI();
void DisableAllButtons();
void SetStatusPanel2(const std::string& text);  // device name
void SetStatusPanel3(const std::string& text);  // device revision
void SetStatusPanel4(const std::string& text);  // bootloader revision
void SetStatusPanel5(const std::string& text);  // port, "COM" + number
// Empties the four panels that describe the device: name, revision, bootloader, port.
void ClearDevicePanels();
// Shows the progress bar empty, counting up to max.
void StartProgressBar(int max);
// Hides the controls of the serial-menu views.
void HideMenuControls();

// The text DisplayError shows on the row's label for the current ErrorCode ("" for codes
// without text).
std::string ErrorText(int errorCode);
// True when DisplayError shows the code (a text, or the red row alone) in the current state.
bool ErrorShown(int errorCode);

// Window load: caption, layout, status bar, banner, progress bar.
void frmUI_Load();
// Puts the progress bar and the banner into the status bar.
void PlaceInStatusBar();

}  // namespace rompush::ui
