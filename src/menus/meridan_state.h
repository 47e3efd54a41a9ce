// What RomPush knows of the attached Meridan modular switch.
#pragma once

#include <cstdint>

namespace rompush {

// Counters that decide which Meridan buttons are usable.
struct MeridanState {
    std::uint8_t UsbCount = 0;
    std::uint8_t QrxCount = 0;
    bool UsbPresent = false;
    bool QrxPresent = false;
    bool SendMainAllowed = false;
    // The digits of the menu's "Receive new USB" and "Receive new QRX" entries (0 when the
    // menu offers none), read by ReadMenuOptions.
    std::uint8_t UsbReceiveOption = 0;
    std::uint8_t QrxReceiveOption = 0;
    bool QrxBusy = false;  // QRX firmware is being passed on to the transmitters
};

}  // namespace rompush
