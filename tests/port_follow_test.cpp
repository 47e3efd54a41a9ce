// Real serial adapters: the low-latency flag asked for on open and put back on close, what a
// port's device is (a sysfs tree and /dev folder made by the test), the watcher of plugging,
// and the port list that follows it while the command loop is idle, against pseudo-terminals,
// the port map and rompush-devsim.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/main_loop.h"
#include "commands/commands.h"
#include "commands/port_selection.h"
#include "devsim_process.h"
#include "program_fixture.h"
#include "providers/posix/line_control.h"
#include "providers/posix/poll_loop.h"
#include "providers/posix/port_map.h"
#include "providers/posix/port_watcher.h"
#include "providers/posix/serial_port.h"
#include "providers/posix/steady_clock.h"
#include "pty_pair.h"
#include "ui/main_window.h"

namespace rompush::testing {
namespace {

namespace fs = std::filesystem;
using platform::posix::LowLatencyFlag;
using platform::posix::PortMap;
using platform::posix::PortWatcher;
using platform::posix::PosixSerialPort;
using Clock = std::chrono::steady_clock;

void Touch(const fs::path& path) {
    std::ofstream(path).put('\n');
}

// The driver's flags as a USB adapter's driver keeps them, every change recorded.
class RecordingLineControl : public platform::posix::LineControl {
  public:
    int flags = 0x40;
    bool refuseSet = false;
    std::vector<std::pair<int, int>> sets;  // descriptor, flags

    bool GetFlags(int, int& value, std::string&) override {
        value = flags;
        return true;
    }
    bool SetFlags(int fd, int value, std::string& why) override {
        sets.emplace_back(fd, value);
        if (refuseSet) {
            why = "Operation not permitted";
            return false;
        }
        flags = value;
        return true;
    }
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class PortFollowTest : public ::testing::Test {
  protected:
    PortFollowTest() : folder_(MakeTempFolder()) {
        ResetState();
        fs::create_directories(Dev());
    }
    ~PortFollowTest() override {
        ResetState();
        fs::remove_all(folder_);
    }

    fs::path Dev() const { return folder_ / "dev"; }
    void MapPort(int number, const fs::path& device) {
        fs::create_directories(folder_ / "ports");
        fs::create_symlink(device, folder_ / "ports" / ("COM" + std::to_string(number)));
    }
    PortMap Map() const {
        return PortMap(folder_.string(), Dev().string(), [](const std::string&) { return true; });
    }

    fs::path folder_;
};

TEST_F(PortFollowTest, OpenAsksForLowLatencyAndCloseGivesTheOldFlagsBack) {
    Pty pty;
    MapPort(1, pty.Slave());
    auto control = std::make_shared<RecordingLineControl>();
    PosixSerialPort port(Map(), control);
    port.SetPortOpen(true);
    const int fd = port.Fd();
    EXPECT_EQ(control->sets, (std::vector<std::pair<int, int>>{{fd, 0x40 | LowLatencyFlag()}}));
    EXPECT_TRUE(Contains(port.LatencyNote(), pty.Slave() + ": low-latency mode set"));
    port.SetPortOpen(false);
    EXPECT_EQ(control->sets.back(), std::make_pair(fd, 0x40));  // on the device, before it closed
    EXPECT_EQ(control->flags, 0x40);

    // Already on: nothing set, nothing put back. Refused: the port opens all the same.
    control->flags = 0x40 | LowLatencyFlag();
    control->sets.clear();
    port.SetPortOpen(true);
    EXPECT_TRUE(Contains(port.LatencyNote(), "already on"));
    port.SetPortOpen(false);
    EXPECT_TRUE(control->sets.empty());
    control->flags = 0;
    control->refuseSet = true;
    port.SetPortOpen(true);
    EXPECT_TRUE(port.PortOpen());
    EXPECT_TRUE(Contains(port.LatencyNote(), "refused by the driver (Operation not permitted)"));
    port.SetPortOpen(false);
    EXPECT_EQ(control->sets.size(), 1u);

    // The kernel's own: a pseudo-terminal has no serial flags, and the port works as ever.
    PosixSerialPort real(Map());
    real.SetPortOpen(true);
    ASSERT_TRUE(real.PortOpen());
    EXPECT_TRUE(Contains(real.LatencyNote(), "low-latency mode not offered by the driver"));
    EXPECT_EQ(real.Write("x"), 1);
    EXPECT_EQ(pty.Read(1), "x");
    real.SetPortOpen(false);
    EXPECT_FALSE(real.PortOpen());
}

TEST_F(PortFollowTest, PortsAreDescribedBySysfsAndByIdLinksAndProbedBesideTheOpenOne) {
    // A USB adapter as the kernel shows it, pinned to COM5 by its by-id name.
    const fs::path usb = folder_ / "sys" / "devices" / "pci0" / "usb1" / "1-2";
    fs::create_directories(usb / "1-2:1.0" / "ttyUSB0");
    for (const auto& [name, value] : {std::pair{"idVendor", "0403"},
                                      {"idProduct", "6001"},
                                      {"manufacturer", "FTDI"},
                                      {"product", "FT232R USB UART"},
                                      {"serial", "A9X1"}}) {
        std::ofstream(usb / name) << value << "\n";
    }
    fs::create_directories(folder_ / "sys" / "class" / "tty" / "ttyUSB0");
    fs::create_symlink(usb / "1-2:1.0" / "ttyUSB0",
                       folder_ / "sys" / "class" / "tty" / "ttyUSB0" / "device");
    Touch(Dev() / "ttyUSB0");
    Touch(Dev() / "ttyACM0");
    const fs::path byId = Dev() / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A9X1-if00-port0";
    fs::create_directories(byId.parent_path());
    fs::create_symlink("../../ttyUSB0", byId);
    MapPort(5, byId);

    PortMap map = Map();
    map.SetSysRoot((folder_ / "sys").string());
    const platform::PortDescription adapter = map.Describe(5);
    EXPECT_EQ(adapter.device, byId.string());
    EXPECT_EQ(adapter.byId, byId.string());
    EXPECT_EQ(adapter.vendorId + ":" + adapter.productId, "0403:6001");
    EXPECT_EQ(adapter.Summary(),
              byId.string() + "  FTDI FT232R USB UART, serial A9X1 (0403:6001)  " + byId.string());
    EXPECT_FALSE(adapter.group.empty());
    // The modem the map does not name takes COM1; nothing more is known of it.
    const platform::PortDescription modem = map.Describe(1);
    EXPECT_EQ(modem.Summary(), (Dev() / "ttyACM0").string());
    EXPECT_TRUE(modem.manufacturer.empty() && modem.byId.empty() && map.Describe(2).device.empty());

    // Probing: the open port is left as it is; another program's port is in use.
    Pty ours, theirs;
    fs::remove_all(folder_ / "ports");
    MapPort(1, ours.Slave());
    MapPort(2, theirs.Slave());
    MapPort(3, folder_ / "nothing");
    PosixSerialPort port(Map()), other(Map());
    other.SetCommPort(2);
    other.SetPortOpen(true);
    port.SetPortOpen(true);
    const int fd = port.Fd();
    std::string why;
    EXPECT_TRUE(port.Probe(1, why));
    EXPECT_EQ(port.Fd(), fd);
    EXPECT_FALSE(port.Probe(2, why));
    EXPECT_EQ(why, "in use by another program");
    EXPECT_FALSE(port.Probe(3, why));
    EXPECT_EQ(why, "no such device");
    other.SetPortOpen(false);
    EXPECT_TRUE(port.Probe(2, why) && port.PortOpen() && port.Fd() == fd);
}

TEST_F(PortFollowTest, WatcherTellsOfSerialDevicesAndMapLinksOnceSettled) {
    PortWatcher watcher(folder_.string(), Dev().string(), 50);
    auto changedWithin = [&watcher](int ms) {
        for (const auto start = Clock::now(); MsSince(start) < ms;) {
            if (watcher.Changed())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    EXPECT_FALSE(changedWithin(100));
    MapPort(3, "/dev/null");  // the map folder and its first link appear
    EXPECT_TRUE(changedWithin(1000));
    EXPECT_FALSE(changedWithin(150));  // once per burst
    Touch(Dev() / "ttyUSB4");
    EXPECT_TRUE(changedWithin(1000));
    Touch(Dev() / "video0");  // not a serial device
    Touch(folder_ / "RomPush.INI");
    EXPECT_FALSE(changedWithin(200));
    // The by-id folder comes with the first adapter; links in it count from then on.
    fs::create_directories(Dev() / "serial" / "by-id");
    EXPECT_TRUE(changedWithin(1000));
    fs::create_symlink("../../ttyUSB4", Dev() / "serial" / "by-id" / "usb-CH340-if00-port0");
    EXPECT_TRUE(changedWithin(1000));
    fs::remove(folder_ / "ports" / "COM3");
    EXPECT_TRUE(changedWithin(1000));
}

// Every wait of the program first runs a hook of the test's.
class HookedEvents : public platform::EventLoop {
  public:
    explicit HookedEvents(platform::EventLoop& events) : events_(events) {}
    void DoEvents() override { events_.DoEvents(); }
    void WaitForEvents(int maxMs) override {
        if (hook)
            hook();
        events_.WaitForEvents(maxMs);
    }
    void RequestEnd() override { events_.RequestEnd(); }
    bool EndRequested() const override { return events_.EndRequested(); }
    std::function<void()> hook;

  private:
    platform::EventLoop& events_;
};

// The window's program on the real serial port, timer, clock, poll loop and port watcher;
// the operator's side simulated, as no one clicks.
class LiveProgram {
  public:
    LiveProgram(const std::string& folder, const std::string& devRoot)
        : serial(PortMap(folder, devRoot, [](const std::string&) { return true; })),
          timer(clock),
          loop(timer, &serial),
          events(loop),
          dialogs(virtualClock),
          system(folder, folder),
          watcher(folder, devRoot, 100) {
        platform::Install({.serial = &serial,
                           .timer = &timer,
                           .clock = &clock,
                           .events = &events,
                           .dialogs = &dialogs,
                           .desktop = &desktop,
                           .system = &system,
                           .ports = &watcher});
    }
    ~LiveProgram() { platform::Install(platform::Services{}); }

    platform::posix::SteadyClock clock;
    PosixSerialPort serial;
    platform::posix::PollTimer timer;
    platform::posix::PollEventLoop loop;
    HookedEvents events;
    rompush::sim::VirtualClock virtualClock;
    platform::sim::SimDialogs dialogs;
    platform::sim::SimDesktop desktop;
    platform::sim::SimSystem system;
    PortWatcher watcher;
};

// Idle passes of the command loop until the port list has (or lacks) the entry, at most
// limitMs; the time it took.
std::int64_t IdleUntil(const std::string& entry, bool present, int limitMs) {
    const auto start = Clock::now();
    auto has = [&entry] {
        const auto& items = frmUI().cboPORT.Items;
        return std::find(items.begin(), items.end(), entry) != items.end();
    };
    while (has() != present && MsSince(start) < limitMs)
        CommandLoopPass();
    return MsSince(start);
}

TEST_F(PortFollowTest, ListFollowsPluggingWhileIdleAndNotWhileACommandRuns) {
    const std::string devsim = DevSimProgram();
    if (devsim.empty())
        GTEST_SKIP() << "rompush-devsim not built";
    const std::vector<std::string> deviceArgs{"--folder", folder_.string(), "--com", "1",
                                              "--quiet"};
    auto device = std::make_unique<DevSim>(devsim, deviceArgs);
    ASSERT_TRUE(Contains(device->Line(), "COM1"));
    BuildCrcTable();
    LiveProgram program(folder_.string(), Dev().string());
    WireMainWindowHandlers();
    StartUp();
    auto& list = frmUI().cboPORT;
    ASSERT_EQ(list.Items, (std::vector<std::string>{"1", "PS/2"}));

    // An adapter plugged in while SCAN runs: the list stays as it is until SCAN has ended.
    g.trace.File = std::make_shared<std::ofstream>((folder_ / "trace.txt").string());
    g.trace.TraceOn = true;
    Pty plugged;
    bool running = false, linked = false, changedWhileRunning = false;
    program.events.hook = [&] {
        if (!running)
            return;
        if (!linked)
            MapPort(2, plugged.Slave());
        linked = true;
        changedWhileRunning |= list.Items.size() != 2;
    };
    g.cmd.UiCommand = uicmdSCAN;
    running = true;
    CommandLoopPass();
    running = false;
    ASSERT_TRUE(linked && g.dev.DeviceFound);
    EXPECT_FALSE(changedWhileRunning);
    EXPECT_EQ(list.Items.size(), 2u);
    // Then it appears within a second; the selected port stays selected and open, its device
    // found.
    EXPECT_LT(IdleUntil("2", true, 2000), 1000);
    EXPECT_EQ(list.Items, (std::vector<std::string>{"1", "2", "PS/2"}));
    EXPECT_EQ(list.Text(), "1");
    EXPECT_TRUE(g.dev.DeviceFound && program.serial.PortOpen() && program.serial.CommPort() == 1);
    EXPECT_TRUE(Contains(list.ToolTipText, "COM2  " + plugged.Slave()));
    g.trace.File->flush();
    std::ifstream traced((folder_ / "trace.txt").string());
    const std::string trace((std::istreambuf_iterator<char>(traced)), {});
    EXPECT_TRUE(Contains(trace, "low-latency mode not offered by the driver")) << trace;

    // The selected adapter is pulled out: "COMM port not available", nothing selected.
    device.reset();
    EXPECT_LT(IdleUntil("1", false, 2000), 1000);
    EXPECT_EQ(list.Items, (std::vector<std::string>{"2", "PS/2"}));
    EXPECT_EQ(list.ListIndex, -1);
    EXPECT_EQ(frmUI().lblPASS.Caption, "COMM port not available");
    EXPECT_EQ(frmUI().frmPASS.BackColor, ui::colour::kLightYellow);
    EXPECT_EQ(g.result.ErrorCode, 1);
    EXPECT_EQ(g.port.CommPortNumber, 0);
    EXPECT_FALSE(program.serial.PortOpen() || g.dev.DeviceFound);
    // Plugged in again, it is selected again.
    device = std::make_unique<DevSim>(devsim, deviceArgs);
    EXPECT_LT(IdleUntil("1", true, 2000), 1000);
    EXPECT_EQ(list.Text(), "1");
    EXPECT_TRUE(g.port.CommPortNumber == 1 && program.serial.PortOpen());
}

// ---- on the simulated platform ----------------------------------------------------------

class PortRightsTest : public ProgramTest {};

TEST_F(PortRightsTest, MissingRightsAreListedAndSaidOnceOnTheStatusLine) {
    ui::frmUI_Load();
    for (int n : {1, 2})
        sim.serial.Attach(n, std::make_shared<ScriptedDevice>());
    sim.serial.MarkDenied(2);
    StartTrace();
    FindComPorts(true);
    g.trace.File->flush();
    EXPECT_EQ(frmUI().cboPORT.Items, (std::vector<std::string>{"1", "PS/2"}));
    const std::string hint =
        "No access to sim:COM2: your user must be in the group dialout (sudo usermod -aG dialout "
        "$USER, then log in again)";
    EXPECT_EQ(frmUI().cboPORT.ToolTipText,
              "COM1  sim:COM1\nCOM2  sim:COM2  not available: permission denied\n" + hint);
    EXPECT_TRUE(Contains(ReadFile(PathIn("trace.txt")), "COM2 (sim:COM2): permission denied"));
    ui::ShowMsg("", ui::colour::kButtonFace);
    CommandLoopPass();
    EXPECT_EQ(frmUI().lblPASS.Caption, hint);
    ui::ShowMsg("", ui::colour::kButtonFace);
    CommandLoopPass();
    EXPECT_EQ(frmUI().lblPASS.Caption, "");  // once only
    // The COM PORT dialog lists them too.
    g.cmd.MainLoopRunning = true;
    frmUI().btnCommPort.MouseUp();
    EXPECT_EQ(frmComParameters().lblPorts.Caption, frmUI().cboPORT.ToolTipText);
}

}  // namespace
}  // namespace rompush::testing
