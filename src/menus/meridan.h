// The Meridan modular switch and its QRX transmitters, reached through its serial text menu.
#pragma once

namespace rompush {

// Entered when the banner check heard a Meridan power up.
void MeridanDetect();
// Reads the option digits of the Meridan's menu from SerialText (which starts at its
// "Serial options menu").
void ReadMenuOptions();

}  // namespace rompush
