// What RomPush knows of the attached Meridan modular switch.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace rompush {

// Positions in MeridanState::MenuOption.
enum : std::uint8_t {
    kMeridanMainOption = 0,        // receive new MAIN firmware, always 1
    kMeridanCopyOption = 1,        // copy firmware to the data controllers, always 2
    kMeridanDefaultsOption = 2,    // factory defaults, always 3
    kMeridanUsbReceiveOption = 3,  // "Receive new USB", 0 when the menu lacks it
    kMeridanQrxReceiveOption = 4,  // "Receive new QRX", 0 when the menu lacks it
};

struct MeridanState {
    // The digits of the serial options menu (ReadMenuOptions).
    std::array<std::uint8_t, 5> MenuOption{1, 2, 3, 0, 0};
    std::uint8_t ExitOption = 0;   // digit of the menu's "Exit" entry
    bool UsbPresent = false;       // the menu offers "Receive new USB"
    bool QrxPresent = false;       // the menu offers "Receive new QRX"
    bool MultiController = false;  // more than one data controller: COPY FIRMWARE is usable
    std::string ProgramVersion;    // six characters, as the power-on text gives them
    bool QrxBusy = false;          // QRX firmware is being passed on; the restart follows
    bool MainLoading = false;      // MAIN firmware is being programmed
    std::string InfoText;          // what the information box keeps (diagnostics, notes)
    // Why the Meridan mode must end without the product's restart ("" while it is served):
    // the product fell silent, its adapter went, or the operator aborted a wait.
    std::string LeaveReason;
    // The transmitters' "Error" lines of the last QRX update ("" when every port passed).
    std::string QrxReport;
};

}  // namespace rompush
