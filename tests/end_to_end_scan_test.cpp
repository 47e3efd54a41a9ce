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
        EXPECT_EQ(Panels(), (Texts{"", "TWPx  Receiver", "Rev D2.1C", "BSL 1.3D", "COM1"}));
        EXPECT_TRUE(g.dev.DeviceFound && platform.serial.PortOpen());
        EXPECT_EQ(platform.serial.Settings(), "115200,N,8,1");
        // The ready byte comes at the port's opening, so no 3.5 s wait: about 1.4 s of
        // identification and the second "TARN Product Found" stays (2.5 s here).
        EXPECT_LT(took, 7000);
        platform.events.WaitForEvents(50);
    }

    // The scan's ID packet, then the identification: ID, FW, FLASH, FW, GO, each with its CRC.
    std::ifstream in(wirePath, std::ios::binary);
    const std::string wire((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(wire.size(), 6u * 4);
    BuildCrcTable();
    std::vector<std::uint8_t> commands;
    for (std::size_t k = 0; k < wire.size(); k += 4) {
        const auto* packet = reinterpret_cast<const std::uint8_t*>(wire.data() + k);
        std::int32_t crc = 0;
        CrcUpdate(crc, packet[0]);
        CrcUpdate(crc, packet[1]);
        EXPECT_EQ(packet[0], 4);
        EXPECT_EQ(packet[2] * 256 + packet[3], crc) << k;
        commands.push_back(packet[1]);
    }
    EXPECT_EQ(commands,
              (std::vector<std::uint8_t>{ID_CMD, ID_CMD, FW_CMD, FLASH_CMD, FW_CMD, GO_CMD}));
    ResetState();
    device.Stop();
    fs::remove_all(folder);
}

}  // namespace
}  // namespace rompush::testing
