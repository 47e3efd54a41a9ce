// SCAN end to end over the real serial code: rompush-devsim serves a receiver on a
// pseudo-terminal, the port map names it COM1, and the program finds it in real time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "commands/commands.h"
#include "core/main_loop.h"
#include "core/state.h"
#include "devsim_process.h"
#include "platform/posix/poll_loop.h"
#include "platform/posix/port_map.h"
#include "platform/posix/serial_port.h"
#include "platform/posix/steady_clock.h"
#include "platform/sim/sim_platform.h"
#include "program_fixture.h"
#include "serial/packets.h"

namespace rompush::testing {
namespace {

namespace fs = std::filesystem;
using namespace rompush::platform;

// The real serial port, timer, clock and event loop; the operator's side stays simulated.
class RealSerialProgram {
  public:
    explicit RealSerialProgram(const std::string& folder)
        : serial(posix::PortMap(folder)),
          timer(clock),
          events(timer, &serial),
          dialogs(virtualClock),
          system(folder, folder) {
        Install({.serial = &serial,
                 .timer = &timer,
                 .clock = &clock,
                 .events = &events,
                 .dialogs = &dialogs,
                 .desktop = &desktop,
                 .system = &system});
    }
    ~RealSerialProgram() { Install(Services{}); }

    posix::SteadyClock clock;
    posix::PosixSerialPort serial;
    posix::PollTimer timer;
    posix::PollEventLoop events;
    rompush::sim::VirtualClock virtualClock;
    platform::sim::SimDialogs dialogs;
    platform::sim::SimDesktop desktop;
    platform::sim::SimSystem system;
};

std::vector<std::string> Packets(const std::string& wire) {
    std::vector<std::string> packets;
    for (std::size_t at = 0; at < wire.size();) {
        const std::size_t length = static_cast<std::uint8_t>(wire[at]);
        if (length == 0 || at + length > wire.size()) {
            packets.push_back(wire.substr(at));
            break;
        }
        packets.push_back(wire.substr(at, length));
        at += length;
    }
    return packets;
}

TEST(EndToEndScanTest, ScanFindsTheReceiverOnAPseudoTerminal) {
    const std::string program = DevSimProgram();
    if (program.empty())
        GTEST_SKIP() << "rompush-devsim not built";
    const std::string folder = MakeTempFolder();
    const std::string wirePath = folder + "/wire.bin";
    // One port to search, remembered as COM1.
    std::ofstream(folder + "/RomPush.INI", std::ios::binary)
        << "ROMPUSH_INI_001\r\n1\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 8 \r\n 2 \r\n";
    DevSim device(program, {"--folder", folder, "--com", "1", "--type", "3", "--app-rev", "21c",
                            "--bsl-rev", "13d", "--quiet", "--wire", wirePath});
    ASSERT_EQ(device.Line().rfind("rompush-devsim: COM1 -> /dev/pts/", 0), 0u) << device.Line();

    ResetState();
    {
        RealSerialProgram platform(folder);
        WireMainWindowHandlers();
        StartUp();
        ASSERT_EQ(frmUI().cboPORT.Text(), "1");
        EXPECT_EQ(frmUI().cboPORT.ToolTipText, fs::read_symlink(folder + "/ports/COM1").string());
        fs::resize_file(wirePath, 0);

        frmUI().btnSCAN.MouseUp();
        const auto start = std::chrono::steady_clock::now();
        CommandLoopPass();
        const auto took = MsSince(start);

        const auto& f = frmUI();
        EXPECT_EQ(f.lblPASS.Caption, "TARN Product Found");
        EXPECT_EQ(f.StatusBar1.Panels[1].Text, "TWPx  Receiver");
        EXPECT_EQ(f.StatusBar1.Panels[2].Text, "Rev D2.1C");
        EXPECT_EQ(f.StatusBar1.Panels[3].Text, "BSL 1.3D");
        EXPECT_EQ(f.StatusBar1.Panels[4].Text, "COM1");
        EXPECT_TRUE(g.dev.DeviceFound);
        EXPECT_TRUE(platform.serial.PortOpen());
        EXPECT_EQ(platform.serial.Settings(), "115200,N,8,1");
        // The ready byte comes at the port's opening, so no 3.5 s wait: about 1.4 s of
        // identification and the second "TARN Product Found" stays (2.5 s here).
        EXPECT_LT(took, 7000);
        platform.events.WaitForEvents(50);
    }

    std::ifstream in(wirePath, std::ios::binary);
    const std::string wire((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto packets = Packets(wire);
    // The scan's ID packet, then the identification: ID, FW, FLASH, FW, GO.
    const std::vector<std::uint8_t> expected = {ID_CMD, ID_CMD, FW_CMD, FLASH_CMD, FW_CMD, GO_CMD};
    ASSERT_EQ(packets.size(), expected.size());
    BuildCrcTable();
    for (std::size_t k = 0; k < packets.size(); ++k) {
        const std::string& packet = packets[k];
        ASSERT_EQ(packet.size(), 4u);
        EXPECT_EQ(static_cast<std::uint8_t>(packet[1]), expected[k]) << k;
        std::int32_t crc = 0;
        CrcUpdate(crc, static_cast<std::uint8_t>(packet[0]));
        CrcUpdate(crc, static_cast<std::uint8_t>(packet[1]));
        EXPECT_EQ(static_cast<std::uint8_t>(packet[2]), crc >> 8) << k;
        EXPECT_EQ(static_cast<std::uint8_t>(packet[3]), crc & 0xFF) << k;
    }
    EXPECT_EQ(packets[0], std::string("\x04\x40\x84\x00", 4));
    ResetState();
    device.Stop();
    fs::remove_all(folder);
}

}  // namespace
}  // namespace rompush::testing
