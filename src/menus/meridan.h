// The Meridan modular switch and its QRX transmitters, reached through its serial text menu.
#pragma once

namespace rompush {

// Entered when the banner check heard a Meridan power up; returns when the operator leaves
// the Meridan.
void MeridanDetect();

// Reads the option digits of the last serial options menu in SerialText into
// g.menus.meridan (MenuOption, ExitOption, UsbPresent, QrxPresent).
void ReadMenuOptions();

}  // namespace rompush
