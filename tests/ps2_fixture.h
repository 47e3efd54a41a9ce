// A fresh program with a simulated keyboard-port device behind "PS/2": start-up selects the
// entry (there is no COM port), the operator's buttons run through the command loop.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "hex_file_writer.h"
#include "program_fixture.h"
#include "ui/main_window.h"

namespace rompush::testing {

using platform::sim::KvmDevice;
using platform::sim::KvmModel;

// The set-2 key strokes of a typed text: make code, then 0xF0 and the make code (release).
inline std::vector<std::uint8_t> Keystrokes(const std::string& text) {
    static const std::map<char, std::uint8_t> kSet2 =
        {
            {'0', 0x45}, {'1', 0x16}, {'2', 0x1E}, {'3', 0x26}, {'a', 0x1C},
            {'b', 0x32}, {'k', 0x42}, {'n', 0x31}, {'t', 0x2C}, {'v', 0x2A},
            {'x', 0x22}, {' ', 0x29}, {'^', 0x12},  // left shift: a code outside the decoded table
        };
    std::vector<std::uint8_t> codes;
    for (char c : text) {
        const std::uint8_t code = kSet2.at(c);
        codes.insert(codes.end(), {code, 0xF0, code});
    }
    return codes;
}

class Ps2Test : public ProgramTest {
  protected:
    // Puts the device on the keyboard port and starts the program on "PS/2".
    KvmDevice& Start(KvmModel model, const std::string& identity = "") {
        KvmDevice& attached = sim.keyboard.AttachDevice(model, identity);
        device = &attached;
        StartUp();
        EXPECT_EQ(frmUI().cboPORT.Text(), "PS/2");
        return attached;
    }
    // A HEX file of the image for the identified model, chosen before SCAN checks it.
    void ChooseFile(char letter, const std::vector<std::uint8_t>& image, std::uint16_t address = 0,
                    const std::string& name = "firmware.hex") {
        const std::string path = PathIn(name);
        WriteHexFile(path, ProductCodeFor(letter), address, image, 16);
        g.files.SelectedFileName = name;
        g.files.SelectedFilePath = path;
    }
    // SCAN, then PROGRAM, then the SCAN it chains to (when it does).
    void ScanAndProgram() {
        Press(frmUI().btnSCAN);
        ASSERT_EQ(frmUI().lblPASS.Caption, "TARN Product Found");
        Press(frmUI().btnPROGRAM);
        if (g.cmd.UiCommand == uicmdSCAN)
            CommandLoopPass();
    }
    // The controller is back with the operating system and nothing of the operation is held.
    void ExpectGivenBack() {
        EXPECT_EQ(sim.keyboard.CommandByte(), 0x47);
        EXPECT_FALSE(sim.keyboard.ControllerHeld());
        EXPECT_FALSE(sim.keyboard.WinIoOpen());
        EXPECT_FALSE(g.cmd.UseWinIo);
    }
    // What the device received; the controller first plays out what is on its way.
    const std::vector<std::uint8_t>& Received() {
        sim.keyboard.Controller().Advance();
        return device->Received();
    }
    std::vector<std::uint8_t> FlashAt(std::size_t address, std::size_t size) {
        const auto& flash = sim.keyboard.DeviceFlash();
        return {flash.begin() + static_cast<std::ptrdiff_t>(address),
                flash.begin() + static_cast<std::ptrdiff_t>(address + size)};
    }

    KvmDevice* device = nullptr;
};

}  // namespace rompush::testing
