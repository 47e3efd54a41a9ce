// What the keyboard-port path shares between its procedures: the receive buffer, the device's
// port count, whether the program holds the keyboard controller, the saved configuration and
// the flags of the configuration dialog.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace rompush {

struct Ps2State {
    // Filled by rd_kb_data; entry 0 also receives the command byte read back while the
    // controller is taken.
    std::array<std::uint8_t, 21> KbByteArray{};
    // Mouse ports of an Orbit (2 Tiny, 4 Mini); kept for the configuration's mouse types.
    std::uint8_t PortCount = 0;
    // The configuration record read before programming, entries 1 to 10 (0 unused).
    std::array<std::uint8_t, 11> ConfigBuffer{};
    // Settings the device did not acknowledge when they were written (back after PROGRAM, or
    // by CONFIGURE DEVICE's OK), entries 1 to 10, and the letter of the device they belong to
    // ("" when none wait): CONFIGURE DEVICE offers them again.
    std::array<std::uint8_t, 11> UnsavedConfig{};
    std::string UnsavedConfigFor;

    // Set by the buttons of the configuration dialog and its notice: a button was pressed
    // (OK, Cancel, CONTINUE), and OK rather than Cancel.
    bool ConfigContinue = false;
    bool ConfigSave = false;

    // The program has taken the controller (interrupts off) and not yet given it back.
    bool ControllerHeld = false;
    // InitializeWinIo succeeded for the running operation.
    bool WinIoOpen = false;
    // The port-access provider cannot reach the controller: every wait ends at once.
    bool PortFault = false;
    // The controller never took a byte written to it (status bit 1 stayed set).
    bool InputStuck = false;
    // No keyboard controller answers at ports 0x60 and 0x64 (status 0xFF, the command byte
    // never read back): the PC has none.
    bool NoController = false;
};

}  // namespace rompush
