// The Linux COM port, port map and poll loop, against pseudo-terminals opened by the test
// and device folders made in a temporary folder; and rompush-devsim end to end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/state.h"
#include "devsim_process.h"
#include "platform/posix/poll_loop.h"
#include "platform/posix/port_map.h"
#include "platform/posix/serial_port.h"
#include "platform/posix/steady_clock.h"
#include "sim/bootloader_device.h"

namespace {

namespace fs = std::filesystem;
using rompush::platform::PlatformError;
using rompush::platform::ProgramEnded;
using rompush::platform::posix::PollEventLoop;
using rompush::platform::posix::PollTimer;
using rompush::platform::posix::PortMap;
using rompush::platform::posix::PosixSerialPort;
using rompush::platform::posix::SteadyClock;

using rompush::testing::DevSim;
using rompush::testing::DevSimProgram;
using rompush::testing::MsSince;

std::int64_t CpuUs() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

class TempFolder {
  public:
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                ("rompush_px_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

void Touch(const fs::path& path) {
    std::ofstream(path).put('\n');
}

// A pseudo-terminal pair: the test holds the master, the port opens the slave.
class Pty {
  public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(master_, 0);
        EXPECT_EQ(0, ::grantpt(master_));
        EXPECT_EQ(0, ::unlockpt(master_));
        slave_ = ::ptsname(master_);
    }
    ~Pty() { Close(); }
    void Close() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    int Master() const { return master_; }
    const std::string& Slave() const { return slave_; }
    void Write(const std::string& bytes) {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(master_, bytes.data(), bytes.size()));
    }
    // What the port wrote, waiting up to ms for count bytes.
    std::string Read(std::size_t count, int ms = 1000) {
        std::string got;
        const auto start = std::chrono::steady_clock::now();
        while (got.size() < count && MsSince(start) < ms) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
                char buf[256];
                const ssize_t n = ::read(master_, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, static_cast<std::size_t>(n));
            }
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

class PosixSerialTest : public ::testing::Test {
  protected:
    void SetUp() override { rompush::ResetState(); }

    // Maps COM<number> to the device by a symlink in the program folder's port map.
    void MapPort(int number, const std::string& device) {
        fs::create_directories(folder_.Path() / "ports");
        fs::create_symlink(device, folder_.Path() / "ports" / ("COM" + std::to_string(number)));
    }
    PortMap Map() const {
        // An empty device folder: only the map's entries exist.
        fs::create_directories(folder_.Path() / "dev");
        return PortMap(folder_.Path().string(), (folder_.Path() / "dev").string(),
                       [](const std::string&) { return false; });
    }

    TempFolder folder_;
};

// ---- port map ---------------------------------------------------------------------------

TEST_F(PosixSerialTest, PortMapNumbersMapFirstThenUartsUsbAndAcm) {
    const fs::path dev = folder_.Path() / "dev";
    fs::create_directories(dev);
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB1", "ttyUSB0", "ttyACM0",
                             "ttySX", "tty1", "ttyUSB"}) {
        Touch(dev / name);
    }
    fs::create_directories(folder_.Path() / "ports");
    fs::create_symlink("/dev/pts/77", folder_.Path() / "ports" / "COM1");
    // The map names ttyUSB0 as COM3: it gets no second number.
    fs::create_symlink(dev / "ttyUSB0", folder_.Path() / "ports" / "COM3");
    Touch(folder_.Path() / "ports" / "COM9");  // not a link: ignored
    Touch(folder_.Path() / "ports" / "notes.txt");

    std::vector<std::string> checked;
    PortMap map(folder_.Path().string(), dev.string(), [&](const std::string& path) {
        checked.push_back(fs::path(path).filename().string());
        return fs::path(path).filename() != "ttyS0";  // ttyS0 has no UART
    });
    const auto ports = map.Ports();
    const std::map<int, std::string> expected = {
        {1, "/dev/pts/77"},
        {2, (dev / "ttyS1").string()},
        {3, (dev / "ttyUSB0").string()},
        {4, (dev / "ttyS2").string()},
        {5, (dev / "ttyS10").string()},
        {6, (dev / "ttyUSB1").string()},
        {7, (dev / "ttyACM0").string()},
    };
    EXPECT_EQ(expected, ports);
    EXPECT_EQ((std::vector<std::string>{"ttyS0", "ttyS1", "ttyS2", "ttyS10"}), checked);
    EXPECT_EQ((dev / "ttyS2").string(), map.DevicePath(4));
    EXPECT_EQ(4u, checked.size());  // each UART is checked once only
    EXPECT_EQ("", map.DevicePath(8));
    EXPECT_EQ("", map.DevicePath(9));
}

TEST_F(PosixSerialTest, PortMapRecognisesAMappedDeviceThroughSymlinks) {
    const fs::path dev = folder_.Path() / "dev";
    fs::create_directories(dev);
    Touch(dev / "ttyACM0");
    fs::create_directories(folder_.Path() / "ports");
    // Named through another link and a relative path: still the same device.
    fs::create_symlink(dev / "ttyACM0", folder_.Path() / "alias");
    fs::create_symlink("../alias", folder_.Path() / "ports" / "COM2");
    PortMap map(folder_.Path().string(), dev.string(), [](const std::string&) { return true; });
    const auto ports = map.Ports();
    ASSERT_EQ(1u, ports.size());
    EXPECT_EQ(fs::weakly_canonical(dev / "ttyACM0"), fs::weakly_canonical(ports.at(2)));
}

TEST_F(PosixSerialTest, MapFolderMissingGivesMachineDevicesOnly) {
    const fs::path dev = folder_.Path() / "dev";
    fs::create_directories(dev);
    Touch(dev / "ttyUSB3");
    PortMap map(folder_.Path().string(), dev.string(), [](const std::string&) { return true; });
    EXPECT_EQ((dev / "ttyUSB3").string(), map.DevicePath(1));
}

// ---- serial port ------------------------------------------------------------------------

TEST_F(PosixSerialTest, OpensWithSettingsWritesAndReads) {
    Pty pty;
    MapPort(1, pty.Slave());
    PosixSerialPort port(Map());
    EXPECT_EQ(pty.Slave(), port.DevicePath(1));
    std::vector<int> fds;
    port.SetFdWatcher([&](int fd) { fds.push_back(fd); });
    port.SetCommPort(1);
    port.SetSettings("9600,E,7,2");
    port.SetHandshaking(0);
    port.SetInputLen(1);
    port.SetPortOpen(true);
    ASSERT_TRUE(port.PortOpen());
    ASSERT_GE(port.Fd(), 0);
    EXPECT_EQ(port.Fd(), fds.back());
    EXPECT_THROW(port.SetCommPort(2), PlatformError);

    // The terminal carries the settings (the master sees the slave's; a pseudo-terminal
    // keeps 8 data bits without parity whatever it is told).
    termios tio{};
    ASSERT_EQ(0, ::tcgetattr(pty.Master(), &tio));
    EXPECT_EQ(B9600, ::cfgetospeed(&tio));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));

    port.SetSettings("115200,N,8,1");
    port.SetHandshaking(2);
    ASSERT_EQ(0, ::tcgetattr(pty.Master(), &tio));
    EXPECT_EQ(B115200, ::cfgetospeed(&tio));
    EXPECT_EQ(static_cast<tcflag_t>(CS8), tio.c_cflag & CSIZE);
    EXPECT_FALSE(tio.c_cflag & PARENB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);

    // Bytes 0..255 travel unchanged both ways.
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    port.Output(all);
    EXPECT_EQ(all, pty.Read(all.size()));

    pty.Write(std::string("\x08\x0D\x11", 3) + "ab");
    const auto start = std::chrono::steady_clock::now();
    while (port.InBufferCount() < 5 && MsSince(start) < 1000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(5, port.InBufferCount());
    EXPECT_EQ("\x08", port.Input());
    EXPECT_EQ(4, port.InBufferCount());
    port.SetInputLen(0);
    EXPECT_EQ(std::string("\x0D\x11") + "ab", port.Input());
    EXPECT_EQ("", port.Input());

    port.SetPortOpen(false);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(-1, port.Fd());
    EXPECT_EQ(-1, fds.back());
    EXPECT_EQ(0, port.InBufferCount());
    port.Output("ignored");   // closed: nothing happens
    port.SetPortOpen(false);  // closing a closed port does nothing
}

TEST(LineSettingsTest, SettingsMapOntoRawTermios) {
    termios base{};
    base.c_lflag = ICANON | ECHO | ISIG;
    base.c_iflag = ICRNL | IXON;
    base.c_oflag = OPOST;
    termios tio = rompush::platform::posix::MakeTermios(base, "9600,E,7,2", 0);
    EXPECT_EQ(B9600, ::cfgetospeed(&tio));
    EXPECT_EQ(B9600, ::cfgetispeed(&tio));
    EXPECT_EQ(static_cast<tcflag_t>(CS7), tio.c_cflag & CSIZE);
    EXPECT_TRUE(tio.c_cflag & PARENB);
    EXPECT_FALSE(tio.c_cflag & PARODD);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(tio.c_iflag & (ICRNL | IXON | IXOFF));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);

    tio = rompush::platform::posix::MakeTermios(base, "115200,O,8,1", 1);
    EXPECT_EQ(B115200, ::cfgetospeed(&tio));
    EXPECT_EQ(static_cast<tcflag_t>(CS8), tio.c_cflag & CSIZE);
    EXPECT_TRUE(tio.c_cflag & PARENB);
    EXPECT_TRUE(tio.c_cflag & PARODD);
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_iflag & IXON);
    EXPECT_TRUE(tio.c_iflag & IXOFF);

    tio = rompush::platform::posix::MakeTermios(base, "300,N,8,1", 2);
    EXPECT_EQ(B300, ::cfgetospeed(&tio));
    EXPECT_FALSE(tio.c_cflag & PARENB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_iflag & IXON);
    EXPECT_THROW(rompush::platform::posix::MakeTermios(base, "300,N,8", 0), PlatformError);
}

TEST_F(PosixSerialTest, OpenIsExclusive) {
    Pty pty;
    MapPort(1, pty.Slave());
    PosixSerialPort first(Map());
    PosixSerialPort second(Map());
    first.SetPortOpen(true);
    EXPECT_THROW(second.SetPortOpen(true), PlatformError);
    EXPECT_NE(std::string::npos, second.LastError().find("in use")) << second.LastError();
    EXPECT_FALSE(second.PortOpen());
    EXPECT_THROW(first.SetPortOpen(true), PlatformError);  // already open
    first.SetPortOpen(false);
    second.SetPortOpen(true);
    EXPECT_TRUE(second.PortOpen());
}

TEST_F(PosixSerialTest, MissingPortsTellWhy) {
    MapPort(2, (folder_.Path() / "gone").string());  // a link to nothing
    Touch(folder_.Path() / "plain");
    MapPort(3, (folder_.Path() / "plain").string());  // not a terminal
    PosixSerialPort port(Map());
    port.SetCommPort(2);
    EXPECT_THROW(port.SetPortOpen(true), PlatformError);
    EXPECT_NE(std::string::npos, port.LastError().find("no such device")) << port.LastError();
    port.SetCommPort(4);
    EXPECT_THROW(port.SetPortOpen(true), PlatformError);
    EXPECT_NE(std::string::npos, port.LastError().find("no such device")) << port.LastError();
    port.SetCommPort(3);
    EXPECT_THROW(port.SetPortOpen(true), PlatformError);
    EXPECT_NE(std::string::npos, port.LastError().find("not a serial device"));
    EXPECT_FALSE(port.PortOpen());
    EXPECT_THROW(port.SetCommPort(0), PlatformError);
}

TEST_F(PosixSerialTest, MalformedSettingsAreRefusedAndTheOldOnesKept) {
    PosixSerialPort port(Map());
    port.SetSettings("57600,O,8,2");
    for (const char* bad :
         {"", "abc", "115200,X,8,1", "115200,N,8", "115200,N,9,1", "115200,N,8,3", "12345,N,8,1",
          "115200,N,8,1,1", "115200,,8,1", "-9600,N,8,1", "115200,N,8,"}) {
        EXPECT_THROW(port.SetSettings(bad), PlatformError) << bad;
    }
    EXPECT_EQ("57600,O,8,2", port.Settings());
    EXPECT_THROW(port.SetHandshaking(3), PlatformError);
    EXPECT_EQ(0, port.Handshaking());
}

TEST_F(PosixSerialTest, VanishedDeviceLeavesADeafPort) {
    auto pty = std::make_unique<Pty>();
    MapPort(1, pty->Slave());
    PosixSerialPort port(Map());
    std::vector<int> fds;
    port.SetFdWatcher([&](int fd) { fds.push_back(fd); });
    port.SetPortOpen(true);
    pty->Write("x");
    pty->Close();  // the adapter is pulled out
    EXPECT_EQ(0, port.InBufferCount());
    EXPECT_EQ("", port.Input());
    port.Output("hello");
    EXPECT_TRUE(port.Lost());
    EXPECT_TRUE(port.PortOpen());
    EXPECT_EQ(-1, port.Fd());
    EXPECT_EQ(-1, fds.back());
    EXPECT_NE(std::string::npos, port.LastError().find("vanished")) << port.LastError();
    port.SetPortOpen(false);
    EXPECT_FALSE(port.Lost());
}

TEST_F(PosixSerialTest, WriteToAVanishedDeviceMarksItLost) {
    auto pty = std::make_unique<Pty>();
    MapPort(1, pty->Slave());
    PosixSerialPort port(Map());
    port.SetPortOpen(true);
    pty->Close();
    port.Output("hello");
    EXPECT_TRUE(port.Lost());
    EXPECT_EQ(0, port.InBufferCount());
}

// ---- poll loop --------------------------------------------------------------------------

TEST_F(PosixSerialTest, LoopWakesWhenAByteArrivesAndRaisesReceiveEvents) {
    Pty pty;
    MapPort(1, pty.Slave());
    PosixSerialPort port(Map());
    SteadyClock clock;
    PollTimer timer(clock);
    PollEventLoop loop(timer, &port);
    int events = 0;
    port.SetRThreshold(1);
    port.SetOnComm([&] { ++events; });
    port.SetPortOpen(true);

    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write("abc");
    });
    const auto start = std::chrono::steady_clock::now();
    loop.WaitForEvents(3000);
    const auto elapsed = MsSince(start);
    writer.join();
    EXPECT_GE(elapsed, 80);
    EXPECT_LT(elapsed, 1000);
    // One event per byte; a short wait more collects bytes that came in separate pieces.
    for (int i = 0; i < 10 && events < 3; ++i)
        loop.WaitForEvents(20);
    EXPECT_EQ(3, events);
    EXPECT_EQ(3, port.InBufferCount());

    // Without the threshold no events run.
    port.SetRThreshold(0);
    pty.Write("d");
    loop.WaitForEvents(200);
    EXPECT_EQ(3, events);
    EXPECT_EQ(4, port.InBufferCount());
}

TEST_F(PosixSerialTest, LoopWakesForTheTimerWhichTicksUntilDisabled) {
    SteadyClock clock;
    PollTimer timer(clock);
    PollEventLoop loop(timer, nullptr);
    std::vector<std::int64_t> ticks;
    const auto start = std::chrono::steady_clock::now();
    timer.SetTickHandler([&] {
        ticks.push_back(MsSince(start));
        if (ticks.size() == 3)
            timer.SetEnabled(false);
    });
    timer.SetInterval(100);
    timer.SetEnabled(true);
    while (MsSince(start) < 600)
        loop.WaitForEvents(1000);
    ASSERT_EQ(3u, ticks.size());
    EXPECT_GE(ticks[0], 95);
    EXPECT_LT(ticks[0], 200);
    EXPECT_GE(ticks[2], 290);
    EXPECT_LT(ticks[2], 500);
    EXPECT_FALSE(timer.Enabled());

    // Enabling again starts a fresh interval; a disabled timer never ticks.
    ticks.clear();
    const auto again = std::chrono::steady_clock::now();
    timer.SetInterval(150);
    timer.SetTickHandler([&] {
        ticks.push_back(MsSince(again));
        timer.SetEnabled(false);
    });
    timer.SetEnabled(true);
    loop.WaitForEvents(1000);
    ASSERT_EQ(1u, ticks.size());
    EXPECT_GE(ticks[0], 145);
    EXPECT_LT(MsSince(again), 400);
    loop.WaitForEvents(200);
    EXPECT_EQ(1u, ticks.size());
}

TEST_F(PosixSerialTest, WaitingDoesNotSpin) {
    Pty pty;
    MapPort(1, pty.Slave());
    PosixSerialPort port(Map());
    SteadyClock clock;
    PollTimer timer(clock);
    PollEventLoop loop(timer, &port);
    port.SetPortOpen(true);
    timer.SetInterval(5000);
    timer.SetEnabled(true);

    const std::int64_t cpu = CpuUs();
    const auto start = std::chrono::steady_clock::now();
    while (MsSince(start) < 300)
        loop.WaitForEvents(50);
    EXPECT_LT(CpuUs() - cpu, 20000);

    // A wait with bytes left unread (the logic waits for something else) sleeps too.
    pty.Write("zz");
    loop.WaitForEvents(100);
    const std::int64_t cpu2 = CpuUs();
    const auto start2 = std::chrono::steady_clock::now();
    while (MsSince(start2) < 300)
        loop.WaitForEvents(50);
    EXPECT_LT(CpuUs() - cpu2, 20000);
    EXPECT_EQ(2, port.InBufferCount());

    // DoEvents never blocks.
    const auto start3 = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i)
        loop.DoEvents();
    EXPECT_LT(MsSince(start3), 100);
}

TEST_F(PosixSerialTest, EndRequestedEndsTheNextEventProcessing) {
    SteadyClock clock;
    PollTimer timer(clock);
    PollEventLoop loop(timer, nullptr);
    loop.DoEvents();
    EXPECT_FALSE(loop.EndRequested());
    loop.RequestEnd();
    EXPECT_TRUE(loop.EndRequested());
    EXPECT_THROW(loop.DoEvents(), ProgramEnded);
    EXPECT_THROW(loop.WaitForEvents(10), ProgramEnded);
}

// ---- rompush-devsim end to end ----------------------------------------------------------

TEST_F(PosixSerialTest, DevsimServesADeviceOnThePortMap) {
    const std::string program = DevSimProgram();
    if (program.empty())
        GTEST_SKIP() << "rompush-devsim not built";
    DevSim sim(program, {"--folder", folder_.Path().string(), "--com", "4", "--type", "1",
                         "--flags", "0x10", "--quiet"});
    ASSERT_EQ(0u, sim.Line().find("rompush-devsim: COM4 -> /dev/pts/")) << sim.Line();
    const fs::path link = folder_.Path() / "ports" / "COM4";
    ASSERT_TRUE(fs::is_symlink(link));

    PosixSerialPort port(Map());
    SteadyClock clock;
    PollTimer timer(clock);
    PollEventLoop loop(timer, &port);
    port.SetCommPort(4);
    port.SetSettings("115200,N,8,1");
    port.SetInputLen(0);
    port.SetPortOpen(true);

    auto receive = [&](std::size_t count, int ms) {
        std::string got;
        const auto start = std::chrono::steady_clock::now();
        while (got.size() < count && MsSince(start) < ms) {
            loop.WaitForEvents(20);
            got += port.Input();
        }
        return got;
    };
    // Powered up by the open: the ready byte.
    EXPECT_EQ(std::string(1, '\x08'), receive(1, 2000));

    const std::string id = std::string("\x04\x40\x84\x00", 4);
    port.Output(id);
    const std::string answer = receive(9, 2000);
    ASSERT_EQ(9u, answer.size());
    EXPECT_EQ(0xC3, static_cast<unsigned char>(answer[0]));
    EXPECT_EQ(0x07, answer[2]);
    EXPECT_EQ(0x41, answer[3]);
    EXPECT_EQ(0x01, answer[4]);
    EXPECT_EQ(0x10, answer[6]);

    // Reopening at another baud rate: the device answers at that pace. At 9600 baud the
    // nine bytes take more than 9 ms.
    port.SetPortOpen(false);
    port.SetSettings("9600,N,8,1");
    port.SetPortOpen(true);
    EXPECT_EQ(std::string(1, '\x08'), receive(1, 2000));
    const auto start = std::chrono::steady_clock::now();
    port.Output(id);
    EXPECT_EQ(answer, receive(9, 2000));
    EXPECT_GE(MsSince(start), 9);

    port.SetPortOpen(false);
    const int status = sim.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(fs::is_symlink(link));  // its map entry is gone with it
}

TEST_F(PosixSerialTest, DevsimUnplugFaultMakesThePortVanish) {
    const std::string program = DevSimProgram();
    if (program.empty())
        GTEST_SKIP() << "rompush-devsim not built";
    DevSim sim(program, {"--folder", folder_.Path().string(), "--type", "3", "--fault",
                         "unplug,cmd=FLASH", "--quiet"});
    ASSERT_NE(std::string::npos, sim.Line().find("COM1")) << sim.Line();

    PosixSerialPort port(Map());
    SteadyClock clock;
    PollTimer timer(clock);
    PollEventLoop loop(timer, &port);
    port.SetSettings("115200,N,8,1");
    port.SetPortOpen(true);
    const auto ready = std::chrono::steady_clock::now();
    while (port.InBufferCount() == 0 && MsSince(ready) < 2000)
        loop.WaitForEvents(50);
    ASSERT_EQ(std::string(1, '\x08'), port.Input());
    port.Output(std::string("\x04\x52", 2) + std::string("\x00\x00", 2));  // bad CRC: ignored
    const auto crc = rompush::sim::Crc16Xmodem(std::string("\x04\x52", 2));
    port.Output(std::string("\x04\x52", 2) + static_cast<char>(crc >> 8) +
                static_cast<char>(crc & 0xFF));
    const auto start = std::chrono::steady_clock::now();
    while (!port.Lost() && MsSince(start) < 3000) {
        loop.WaitForEvents(50);
        port.InBufferCount();
    }
    EXPECT_TRUE(port.Lost());
    EXPECT_EQ(0, port.InBufferCount());
    port.Output("x");
}

// The port tells the program that its device has gone, so no wait for an answer runs on.
TEST_F(PosixSerialTest, VanishedDeviceIsReportedAsLost) {
    auto pty = std::make_unique<Pty>();
    MapPort(1, pty->Slave());
    PosixSerialPort posixPort(Map());
    rompush::platform::SerialPort& port = posixPort;
    port.SetPortOpen(true);
    EXPECT_FALSE(port.DeviceLost());
    pty->Close();  // the adapter is pulled out
    port.InBufferCount();
    EXPECT_TRUE(port.DeviceLost());
    port.SetPortOpen(false);
    EXPECT_FALSE(port.DeviceLost());
}

}  // namespace
