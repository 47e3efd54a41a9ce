// The Linux COM port, port map and poll loop, against pseudo-terminals opened by the test
// and device folders made in a temporary folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/state.h"
#include "devsim_process.h"
#include "program_fixture.h"
#include "providers/posix/poll_loop.h"
#include "providers/posix/port_map.h"
#include "providers/posix/serial_port.h"
#include "providers/posix/steady_clock.h"
#include "pty_pair.h"

namespace rompush::testing {
namespace {

namespace fs = std::filesystem;
using platform::PlatformError;
using platform::ProgramEnded;
using platform::posix::MakeTermios;
using platform::posix::PollEventLoop;
using platform::posix::PollTimer;
using platform::posix::PortMap;
using platform::posix::PosixSerialPort;
using platform::posix::SteadyClock;
using Clock = std::chrono::steady_clock;

std::int64_t CpuUs() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

void Touch(const fs::path& path) {
    std::ofstream(path).put('\n');
}

class PosixSerialTest : public ::testing::Test {
  protected:
    PosixSerialTest() : folder_(MakeTempFolder()) {
        ResetState();
        fs::create_directories(Dev());
    }
    ~PosixSerialTest() override { fs::remove_all(folder_); }

    fs::path Dev() const { return folder_ / "dev"; }
    // Maps COM<number> to the device by a symlink in the program folder's port map.
    void MapPort(int number, const fs::path& device) {
        fs::create_directories(folder_ / "ports");
        fs::create_symlink(device, folder_ / "ports" / ("COM" + std::to_string(number)));
    }
    // The port map over the test's device folder; every device there counts as a UART.
    PortMap Map() const {
        return PortMap(folder_.string(), Dev().string(), [](const std::string&) { return true; });
    }

    fs::path folder_;
    SteadyClock clock;
    PollTimer timer{clock};
};

// ---- port map ---------------------------------------------------------------------------

TEST_F(PosixSerialTest, PortMapNumbersMapFirstThenUartsUsbAndAcm) {
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB1", "ttyUSB0", "ttyACM0",
                             "ttySX", "tty1", "ttyUSB", "ttyACM3"}) {
        Touch(Dev() / name);
    }
    MapPort(1, "/dev/pts/77");
    MapPort(3, Dev() / "ttyUSB0");  // mapped: it gets no second number
    // Named through another link and a relative path: still the same device.
    fs::create_symlink(Dev() / "ttyACM3", folder_ / "alias");
    MapPort(8, "../alias");
    Touch(folder_ / "ports" / "COM9");  // not a link: ignored
    Touch(folder_ / "ports" / "notes.txt");

    std::vector<std::string> checked;
    PortMap map(folder_.string(), Dev().string(), [&](const std::string& path) {
        checked.push_back(fs::path(path).filename().string());
        return fs::path(path).filename() != "ttyS0";  // ttyS0 has no UART
    });
    const std::map<int, std::string> expected = {
        {1, "/dev/pts/77"},
        {2, (Dev() / "ttyS1").string()},
        {3, (Dev() / "ttyUSB0").string()},
        {4, (Dev() / "ttyS2").string()},
        {5, (Dev() / "ttyS10").string()},
        {6, (Dev() / "ttyUSB1").string()},
        {7, (Dev() / "ttyACM0").string()},
        {8, (folder_ / "alias").string()},
    };
    EXPECT_EQ(expected, map.Ports());
    EXPECT_EQ((Dev() / "ttyS2").string(), map.DevicePath(4));
    EXPECT_EQ("", map.DevicePath(9));
    // Each UART is checked once only.
    EXPECT_EQ((std::vector<std::string>{"ttyS0", "ttyS1", "ttyS2", "ttyS10"}), checked);
    // Without a map folder the machine's devices are numbered from 1.
    fs::remove_all(folder_ / "ports");
    EXPECT_EQ((Dev() / "ttyS0").string(), Map().DevicePath(1));
    // The machine's own devices, each checked for a UART, are numbered after the map's.
    MapPort(1, "/dev/pts/77");
    EXPECT_EQ(PortMap(folder_.string()).DevicePath(1), "/dev/pts/77");
}

// ---- serial port ------------------------------------------------------------------------

TEST_F(PosixSerialTest, OpensWithSettingsWritesAndReads) {
    Pty pty;
    MapPort(1, pty.Slave());
    PosixSerialPort port(Map());
    EXPECT_EQ(pty.Slave(), port.DevicePath(1));
    std::vector<int> fds;
    port.SetFdWatcher([&](int fd) { fds.push_back(fd); });
    port.SetSettings("9600,E,7,2");
    port.SetInputLen(1);
    port.SetInputModeText();  // as the program opens it
    port.SetSThreshold(0);
    port.SetPortOpen(true);
    ASSERT_TRUE(port.PortOpen());
    ASSERT_GE(port.Fd(), 0);
    EXPECT_EQ(port.Fd(), fds.back());
    EXPECT_THROW(port.SetCommPort(2), PlatformError);

    termios tio{};  // the settings reach the terminal
    ASSERT_EQ(0, ::tcgetattr(pty.Master(), &tio));
    EXPECT_EQ(B9600, ::cfgetospeed(&tio));
    port.SetSettings("115200,N,8,1");  // and so do new ones while it is open
    port.SetHandshaking(2);
    ASSERT_EQ(0, ::tcgetattr(pty.Master(), &tio));
    EXPECT_EQ(B115200, ::cfgetospeed(&tio));
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    // Bytes 0..255 travel unchanged both ways.
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    EXPECT_EQ(256, port.Write(all));
    EXPECT_EQ(all, pty.Read(all.size()));
    pty.Write(std::string("\x08\x0D\x11", 3) + "ab");
    const auto start = Clock::now();
    while (port.InBufferCount() < 5 && MsSince(start) < 1000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(5, port.InBufferCount());
    EXPECT_EQ("\x08", port.Input());
    port.SetInputLen(0);
    EXPECT_EQ(std::string("\x0D\x11") + "ab", port.Input());
    EXPECT_EQ("", port.Input());

    port.SetPortOpen(false);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(-1, port.Fd());
    EXPECT_EQ(-1, fds.back());
    EXPECT_EQ(0, port.InBufferCount());
    EXPECT_EQ(-1, port.Write("ignored"));  // closed: nothing taken
    port.SetPortOpen(false);               // closing a closed port does nothing
}

TEST(LineSettingsTest, SettingsMapOntoRawTermios) {
    termios base{};
    base.c_lflag = ICANON | ECHO | ISIG;
    base.c_iflag = ICRNL | IXON;
    base.c_oflag = OPOST;
    struct Case {
        const char* settings;
        int handshaking;
        speed_t speed;
        tcflag_t size, cflagsOn, cflagsOff, iflagsOn, iflagsOff;
    };
    const tcflag_t kAlways = CLOCAL | CREAD;
    for (const Case& c :
         {Case{"9600,E,7,2", 0, B9600, CS7, kAlways | PARENB | CSTOPB, PARODD | CRTSCTS, 0,
               ICRNL | IXON | IXOFF},
          Case{"115200,O,8,1", 1, B115200, CS8, kAlways | PARENB | PARODD, CSTOPB | CRTSCTS,
               IXON | IXOFF, ICRNL},
          Case{"300,N,8,1", 2, B300, CS8, kAlways | CRTSCTS, PARENB | CSTOPB, 0, IXON | IXOFF}}) {
        SCOPED_TRACE(c.settings);
        const termios tio = MakeTermios(base, c.settings, c.handshaking);
        EXPECT_TRUE(::cfgetospeed(&tio) == c.speed && ::cfgetispeed(&tio) == c.speed);
        EXPECT_EQ(c.size, tio.c_cflag & CSIZE);
        EXPECT_EQ(c.cflagsOn, tio.c_cflag & (c.cflagsOn | c.cflagsOff));
        EXPECT_EQ(c.iflagsOn, tio.c_iflag & (c.iflagsOn | c.iflagsOff));
        EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG) || tio.c_oflag & OPOST);
    }
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
    EXPECT_THROW(port.SetCommPort(0), PlatformError);
}

TEST_F(PosixSerialTest, PortsThatCannotBeOpenedTellWhy) {
    Pty pty;
    MapPort(1, pty.Slave());
    MapPort(2, folder_ / "gone");  // a link to nothing
    Touch(folder_ / "plain");
    MapPort(3, folder_ / "plain");  // not a terminal
    PosixSerialPort first(Map());
    PosixSerialPort port(Map());
    first.SetPortOpen(true);
    EXPECT_THROW(first.SetPortOpen(true), PlatformError);  // already open
    for (auto [number, why] :
         {std::pair{1, "in use"}, std::pair{2, "no such device"}, std::pair{4, "no such device"},
          std::pair{3, "not a serial device"}}) {
        port.SetCommPort(number);
        EXPECT_THROW(port.SetPortOpen(true), PlatformError) << number;
        EXPECT_NE(std::string::npos, port.LastError().find(why)) << port.LastError();
        EXPECT_FALSE(port.PortOpen());
    }
    first.SetPortOpen(false);
    port.SetCommPort(1);
    port.SetPortOpen(true);
    EXPECT_TRUE(port.PortOpen());
}

// A device that stops reading fills the transmit buffer: a write takes what fits at once and
// says so, never waiting and never dropping the rest; once the device reads again the rest
// goes out, and the device has every byte in order.
TEST_F(PosixSerialTest, FullTransmitBufferTakesWhatFitsAndDropsNothing) {
    Pty pty;
    MapPort(1, pty.Slave());
    PosixSerialPort port(Map());
    port.SetPortOpen(true);
    std::string data(1 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 256);
    const auto start = Clock::now();
    std::size_t done = static_cast<std::size_t>(port.Write(data));
    EXPECT_LT(MsSince(start), 500);
    ASSERT_GT(done, 0u);
    ASSERT_LT(done, data.size());
    std::string got;
    char buf[4096];
    for (const auto reading = Clock::now(); got.size() < data.size() && MsSince(reading) < 10000;) {
        const ssize_t n = ::read(pty.Master(), buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
        if (done < data.size()) {
            const int taken = port.Write(data.substr(done, 65536));
            ASSERT_GE(taken, 0);
            done += static_cast<std::size_t>(taken);
        }
        if (n <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes";
}

TEST_F(PosixSerialTest, VanishedDeviceLeavesADeafPort) {
    for (bool readFirst : {true, false}) {
        Pty pty;
        MapPort(1, pty.Slave());
        PosixSerialPort port(Map());
        std::vector<int> fds;
        port.SetFdWatcher([&](int fd) { fds.push_back(fd); });
        port.SetPortOpen(true);
        const platform::SerialPort& asProgramSees = port;
        pty.Write("x");
        EXPECT_FALSE(asProgramSees.DeviceLost());
        pty.Close();                                         // the adapter is pulled out
        EXPECT_EQ(0, readFirst ? port.InBufferCount() : 0);  // the read finds it gone
        EXPECT_EQ(-1, port.Write("hello"));
        // The program is told, so no wait for an answer runs on.
        EXPECT_TRUE(port.Lost() && port.PortOpen() && asProgramSees.DeviceLost());
        EXPECT_TRUE(port.InBufferCount() == 0 && port.Input().empty());  // deaf from now on
        EXPECT_TRUE(port.Fd() == -1 && fds.back() == -1);
        EXPECT_TRUE(!readFirst || port.LastError().find("vanished") != std::string::npos);
        port.SetPortOpen(false);
        EXPECT_FALSE(port.Lost() || asProgramSees.DeviceLost());
        fs::remove(folder_ / "ports" / "COM1");
    }
}

// ---- poll loop --------------------------------------------------------------------------

TEST_F(PosixSerialTest, LoopWakesWhenAByteArrivesAndRaisesReceiveEvents) {
    Pty pty;
    MapPort(1, pty.Slave());
    PosixSerialPort port(Map());
    PollEventLoop loop(timer, &port);
    int events = 0;
    port.SetRThreshold(1);
    port.SetOnComm([&] { ++events; });
    port.SetPortOpen(true);

    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write("abc");
    });
    const auto start = Clock::now();
    loop.WaitForEvents(3000);
    const auto elapsed = MsSince(start);
    writer.join();
    EXPECT_GE(elapsed, 80);
    EXPECT_LT(elapsed, 1000);
    // One event per byte; a short wait more collects bytes that came in separate pieces.
    for (int i = 0; i < 10 && events < 3; ++i)
        loop.WaitForEvents(20);
    EXPECT_EQ(3, events);
    // While the logic reads a frame that came in one piece the loop does not sleep.
    port.SetInputLen(1);
    EXPECT_EQ("a", port.Input());
    const auto reading = Clock::now();
    loop.WaitForEvents(1000);
    EXPECT_LT(MsSince(reading), 100);
    // Without the threshold no events run.
    port.SetRThreshold(0);
    pty.Write("d");
    loop.WaitForEvents(200);
    EXPECT_EQ(3, events);
    EXPECT_EQ(3, port.InBufferCount());
}

TEST_F(PosixSerialTest, LoopWakesForTheTimerWhichTicksUntilDisabled) {
    PollEventLoop loop(timer, nullptr);
    std::vector<std::int64_t> ticks;
    const auto start = Clock::now();
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
    EXPECT_TRUE(ticks[0] >= 95 && ticks[0] < 200) << ticks[0];
    EXPECT_TRUE(ticks[2] >= 290 && ticks[2] < 500) << ticks[2];
    EXPECT_FALSE(timer.Enabled());
    loop.WaitForEvents(200);  // a disabled timer never ticks
    EXPECT_EQ(3u, ticks.size());
}

TEST_F(PosixSerialTest, WaitingDoesNotSpinAndEndsWhenTheEndIsRequested) {
    Pty pty;
    MapPort(1, pty.Slave());
    PosixSerialPort port(Map());
    PollEventLoop loop(timer, &port);
    port.SetPortOpen(true);
    timer.SetInterval(5000);
    timer.SetEnabled(true);
    // The second wait has bytes left unread (the logic waits for something else): it sleeps too.
    for (const char* waiting : {"", "zz"}) {
        pty.Write(waiting);
        loop.WaitForEvents(100);
        const std::int64_t cpu = CpuUs();
        const auto start = Clock::now();
        while (MsSince(start) < 300)
            loop.WaitForEvents(50);
        EXPECT_LT(CpuUs() - cpu, 20000) << "bytes waiting: " << waiting;
    }
    EXPECT_EQ(2, port.InBufferCount());
    // DoEvents never blocks.
    const auto start = Clock::now();
    for (int i = 0; i < 100; ++i)
        loop.DoEvents();
    EXPECT_LT(MsSince(start), 100);

    EXPECT_FALSE(loop.EndRequested());
    loop.RequestEnd();
    EXPECT_TRUE(loop.EndRequested());
    EXPECT_THROW(loop.DoEvents(), ProgramEnded);
    EXPECT_THROW(loop.WaitForEvents(10), ProgramEnded);
}

}  // namespace
}  // namespace rompush::testing
