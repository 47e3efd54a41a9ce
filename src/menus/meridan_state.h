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
};

}  // namespace rompush
