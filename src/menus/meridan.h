// The Meridan modular switch and its QRX transmitters, reached through its serial text menu.
#pragma once

namespace rompush {

// Entered when the banner check heard a Meridan power up; returns when the operator leaves
// the Meridan.
void MeridanDetect();
// Reads the option digits of the last serial options menu in SerialText into
// g.menus.meridan (MenuOption, ExitOption, UsbPresent, QrxPresent).
void ReadMenuOptions();

// Re-labels the main window's buttons for the Meridan.
void MeridanUI();

// The firmware target options of the main window.
void optMAIN_Click();
void optUSB_Click();
void optQRX_Click();

// The Meridan's command loop: runs the operations the buttons post until the Meridan has
// restarted (or must be left).
void MeridanMenu();

// The operations of the Meridan's buttons.
void MeridanSelectFile();
void MeridanLastUsed();
void MeridanCopyFirmware();
void MeridanLoadDefaults();
void MeridanProgram();
void MeridanRestart();

}  // namespace rompush
