// A packet-bootloader device on the simulated COM port and a firmware file for it.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "hex_file_writer.h"
#include "program_fixture.h"
#include "sim/bootloader_device.h"

namespace rompush::testing {

// A device as it answers the identification: type, flags, and the letter it is known by.
struct Kind {
    int type;
    std::uint8_t flags;
    char letter;
    bool vln() const { return letter != 'D'; }
    std::size_t base() const { return vln() ? kVlnBase : 0; }
};
constexpr Kind kReceiver{3, 0, 'D'};
constexpr Kind kTransmitter{1, 0, 'H'};
constexpr Kind kMaster{1, 0x08, 'M'};

// A fault written as rompush-devsim takes it ("wrong,cmd=ERASE_PAGE,skip=2").
inline sim::Fault Spoil(const std::string& text) {
    return sim::ParseFault(text).value();
}

class FlashTest : public ProgramTest {
  protected:
    using Packet = sim::BootloaderDevice::ReceivedPacket;

    // Puts the device on COM<port> (pulled out, it takes its line with it) and selects a file
    // of its image, a pattern unless given.
    void AttachDevice(int port, const Kind& kind, const std::vector<std::uint8_t>& image = {}) {
        kind_ = kind;
        device = std::make_shared<sim::BootloaderDevice>(
            sim::BootloaderDevice::Config::ForType(kind.type, kind.flags));
        sim::SerialLine* line = &sim.serial.Attach(port, device);
        device->SetUnplugHook([line] { line->Unplug(); });
        this->image = image;
        if (image.empty())
            this->image = PatternImage(kind.vln() ? kVlnImageBytes : kQtrImageBytes);
        path = PathIn("firmware.hex");
        WriteHexFile(path, ProductCodeFor(kind.letter), static_cast<std::uint16_t>(kind.base()),
                     this->image);
        g.files.SelectedFileName = "firmware.hex";
        g.files.SelectedFilePath = path;
    }
    // The device's flash where the image goes, and setting it as after a good program.
    std::vector<std::uint8_t> FlashImage() const {
        const auto begin = device->Flash().begin() + static_cast<std::ptrdiff_t>(kind_.base());
        return std::vector<std::uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(image.size()));
    }
    void LoadFlash() {
        std::copy(image.begin(), image.end(),
                  device->Flash().begin() + static_cast<std::ptrdiff_t>(kind_.base()));
    }
    std::vector<const Packet*> PacketsOf(std::uint8_t command) const {
        std::vector<const Packet*> found;
        for (const auto& packet : device->Packets()) {
            if (packet.command == command)
                found.push_back(&packet);
        }
        return found;
    }
    // Index of the last packet of the command, -1 when none came.
    int IndexOfLast(std::uint8_t command) const {
        const auto& packets = device->Packets();
        for (std::size_t i = packets.size(); i > 0; --i) {
            if (packets[i - 1].command == command)
                return static_cast<int>(i - 1);
        }
        return -1;
    }
    const ui::FrmUI& F() { return frmUI(); }

    std::shared_ptr<sim::BootloaderDevice> device;
    std::vector<std::uint8_t> image;
    std::string path;
    Kind kind_{};
};

}  // namespace rompush::testing
