// The keyboard controller through rompush-kbc-helper: the helper's port access over a plain
// file standing in for /dev/port; the helper holding no capability once it serves; what it
// refuses; and the controller given back whatever ends the program (a signal, SIGKILL in the
// middle of programming). The helper runs as a separate process, started by the program's own
// provider; rompush-kbc-helper-sim is the same request loop in front of the simulated 8042.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hex_file_writer.h"
#include "kbc_helper/port_access.h"
#include "providers/posix/keyboard_ports.h"

namespace {

using rompush::kbc::PortAccess;
using rompush::kbc::Provider;
using rompush::platform::posix::PosixKeyboardPorts;
namespace fs = std::filesystem;

fs::path BuildFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int64_t SteadyUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class KbcHelper : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("rompush-kbc-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
        report_ = folder_ / "report";
        ::setenv("ROMPUSH_KBC_SIM_REPORT", report_.c_str(), 1);
        ::setenv("ROMPUSH_KBC_SIM_MODEL", "orbit-tiny", 1);
    }
    void TearDown() override {
        ::unsetenv("ROMPUSH_KBC_SIM_REPORT");
        ::unsetenv("ROMPUSH_KBC_SIM_MODEL");
        fs::remove_all(folder_);
    }

    static std::string SimHelper() { return (BuildFolder() / "rompush-kbc-helper-sim").string(); }

    // What the simulated controller was left with when the helper ended (it ends once its
    // program has gone); empty when it did not end within 10 s.
    std::map<std::string, std::string> Report() {
        for (int i = 0; i < 1000 && !fs::exists(report_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::map<std::string, std::string> fields;
        std::istringstream in(ReadWhole(report_));
        for (std::string line; std::getline(in, line);) {
            const auto blank = line.find(' ');
            fields[line.substr(0, blank)] =
                blank == std::string::npos ? "" : line.substr(blank + 1);
        }
        fs::remove(report_);
        return fields;
    }

    fs::path folder_;
    fs::path report_;
};

// Writes once the controller has taken the byte before, as the program's waits do.
void WriteWhenTaken(PosixKeyboardPorts& ports, std::uint16_t port, std::uint16_t value) {
    for (int i = 0; i < 1000 && (ports.Inp32(0x64) & 0x02); ++i)
        ports.PollPause();
    ports.Out32(port, value);
}

TEST_F(KbcHelper, PortAccessTransfersOneByteAtThePortsOffsetOrHasNoneWithTheReason) {
    const fs::path file = folder_ / "port";
    std::ofstream(file, std::ios::binary) << std::string(0x100, '\0');
    {
        PortAccess ports(file.string(), /*useIoperm=*/false);
        ASSERT_TRUE(ports.Has(Provider::Direct));
        ASSERT_TRUE(ports.Has(Provider::Driver));
        EXPECT_TRUE(ports.Write(Provider::Driver, 0x60, 0xAB));
        EXPECT_TRUE(ports.Write(Provider::Direct, 0x64, 0x60));
        std::uint8_t value = 0;
        EXPECT_TRUE(ports.Read(Provider::Direct, 0x60, value));
        EXPECT_EQ(value, 0xAB);
    }
    const std::string bytes = ReadWhole(file);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0x60]), 0xAB);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0x64]), 0x60);

    PortAccess none((folder_ / "missing").string(), false);
    EXPECT_FALSE(none.Has(Provider::Direct));
    EXPECT_FALSE(none.Has(Provider::Driver));
    EXPECT_NE(none.Problem().find("missing: No such file"), std::string::npos) << none.Problem();
    std::uint8_t value = 0;
    EXPECT_FALSE(none.Read(Provider::Direct, 0x64, value));
    EXPECT_EQ(value, 0xFF);
}

// The helper as installed, started as the program starts it (here by root, which holds every
// capability): once it answers, it holds none and can gain none. Its access is whatever this
// machine grants; without /dev/port both providers report why.
TEST_F(KbcHelper, HelperHoldsNoCapabilityOnceItServes) {
    PosixKeyboardPorts ports((BuildFolder() / "rompush-kbc-helper").string());
    const bool direct = ports.DirectAccess();
    ASSERT_GT(ports.HelperPid(), 0) << ports.LastError();
    if (!direct) {
        EXPECT_NE(ports.LastError().find("/dev/port"), std::string::npos) << ports.LastError();
    }
    EXPECT_EQ(ports.Inp32(0x61), 0xFF);  // outside its ports, whatever its access

    std::map<std::string, std::string> status;
    std::istringstream in(ReadWhole("/proc/" + std::to_string(ports.HelperPid()) + "/status"));
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(':');
        const auto value = line.find_first_not_of(" \t", colon + 1);
        if (colon != std::string::npos && value != std::string::npos)
            status[line.substr(0, colon)] = line.substr(value);
    }
    for (const char* set : {"CapEff", "CapPrm", "CapInh", "CapAmb"})
        EXPECT_EQ(status[set], "0000000000000000") << set;
    EXPECT_EQ(status["NoNewPrivs"], "1");
}

// As installed: the helper's file carries cap_sys_rawio and cap_dac_override and an operator
// without rights starts it. It gets those capabilities at exec and has none left once it
// answers. Needs root (to set file capabilities and to become another user) and setcap.
TEST_F(KbcHelper, HelperWithFileCapabilitiesRunByAnOperatorDropsThem) {
    if (geteuid() != 0 || std::system("command -v setcap >/dev/null") != 0)
        GTEST_SKIP() << "needs root and setcap";
    const fs::path helper = folder_ / "rompush-kbc-helper";
    fs::copy_file(BuildFolder() / "rompush-kbc-helper", helper);
    fs::permissions(folder_, fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
    ASSERT_EQ(std::system(("setcap cap_sys_rawio,cap_dac_override+ep " + helper.string()).c_str()),
              0);
    int toParent[2], toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        PosixKeyboardPorts ports(helper.string());
        ports.DirectAccess();
        const pid_t served = ports.HelperPid();
        (void)!write(toParent[1], &served, sizeof served);
        char done = 0;
        (void)!read(toChild[0], &done, 1);  // until the parent has looked
        _exit(0);
    }
    pid_t served = -1;
    ASSERT_EQ(read(toParent[0], &served, sizeof served), static_cast<ssize_t>(sizeof served));
    const std::string status = ReadWhole("/proc/" + std::to_string(served) + "/status");
    (void)!write(toChild[1], "x", 1);
    int ended = 0;
    waitpid(pid, &ended, 0);
    ASSERT_GT(served, 0);
    EXPECT_NE(status.find("Uid:\t65534"), std::string::npos) << status;
    EXPECT_NE(status.find("CapEff:\t0000000000000000"), std::string::npos) << status;
    EXPECT_NE(status.find("CapPrm:\t0000000000000000"), std::string::npos) << status;
    EXPECT_NE(status.find("NoNewPrivs:\t1"), std::string::npos) << status;
}

// Only ports 0x60 and 0x64, controller commands 0x20 and 0x60 and the command bytes the
// program writes reach the controller; a reset, the output port, A20 or another port never do.
TEST_F(KbcHelper, HelperRefusesPortsAndCommandsOutsideItsList) {
    {
        PosixKeyboardPorts ports(SimHelper());
        ASSERT_TRUE(ports.DirectAccess()) << ports.LastError();
        const std::pair<std::uint16_t, std::uint16_t> refused[] = {
            {0x64, 0xFE},  // pulse reset
            {0x64, 0xD1},  // write the output port (A20, reset line)
            {0x64, 0xDF},  // A20 on
            {0x64, 0xAD},  // keyboard interface off
            {0x61, 0x00},  // another port
        };
        for (const auto& [port, value] : refused) {
            ports.Out32(port, value);
            EXPECT_NE(ports.LastError().find("refused"), std::string::npos)
                << std::hex << port << " " << value << ": " << ports.LastError();
        }
        EXPECT_EQ(ports.Inp32(0x70), 0xFF);
        EXPECT_NE(ports.LastError().find("port 0x70"), std::string::npos) << ports.LastError();

        WriteWhenTaken(ports, 0x64, 0x60);
        ports.Out32(0x60, 0x00);            // not a command byte the program writes: refused
        WriteWhenTaken(ports, 0x60, 0x20);  // the one used while programming an Orbit
        WriteWhenTaken(ports, 0x64, 0x20);
        for (int i = 0; i < 1000 && !(ports.Inp32(0x64) & 0x01); ++i)
            ports.PollPause();
        EXPECT_EQ(ports.Inp32(0x60), 0x20);
        WriteWhenTaken(ports, 0x60, 0xDD);  // any byte goes to the device
        WriteWhenTaken(ports, 0x64, 0x60);
        WriteWhenTaken(ports, 0x60, 0x47);
        WriteWhenTaken(ports, 0x64, 0x20);  // the last byte taken before the end
    }
    auto report = Report();
    EXPECT_EQ(report["refusals"], "7");
    EXPECT_EQ(report["command-byte"], "47");
    // The command bytes the controller took: the operating system's, 0x20, 0x47.
    std::istringstream history(report["history"]);
    std::vector<std::string> taken;
    for (std::string entry; history >> entry;)
        taken.push_back(entry.substr(0, 2));
    EXPECT_EQ(taken, (std::vector<std::string>{"47", "20", "47"}));
}

// A signal while the program holds the controller gives it back before the program ends by
// that signal.
TEST_F(KbcHelper, SignalWhileHeldGivesTheControllerBack) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            PosixKeyboardPorts ports(SimHelper());
            ports.DirectAccess();
            ports.SetControllerHeld(true);
            WriteWhenTaken(ports, 0x64, 0x60);
            WriteWhenTaken(ports, 0x60, 0x20);
            WriteWhenTaken(ports, 0x64, 0x20);
            ::raise(signal);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        SCOPED_TRACE("signal " + std::to_string(signal));
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signal);
        auto report = Report();
        EXPECT_EQ(report["command-byte"], "47");
        EXPECT_NE(report["history"].find(" 20@"), std::string::npos) << report["history"];
    }
}

// rompush-cli programming an Orbit Tiny on "PS/2", killed by SIGKILL while it sends the
// firmware (keyboard interrupts off, command byte 0x20): its handlers never run, yet the
// controller ends with command byte 0x47, both interrupts on, given back after the kill.
TEST_F(KbcHelper, SigkillWhileProgrammingLeavesTheKeyboardOn) {
    const fs::path hex = folder_ / "orbit.hex";
    rompush::testing::WriteHexFile(hex.string(), rompush::testing::ProductCodeFor('T'), 0,
                                   rompush::testing::PatternImage(4096), 16);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const std::string cli = (BuildFolder() / "rompush-cli").string();
    const std::string helper = SimHelper();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        ::setenv("ROMPUSH_KBC_HELPER", helper.c_str(), 1);
        ::unsetenv("ROMPUSH_SIM_PS2");
        execl(cli.c_str(), cli.c_str(), "program", hex.c_str(), "--port", "PS/2", "--folder",
              folder_.c_str(), "--yes", "--no-save", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string shown;
    char buffer[512];
    for (ssize_t n; shown.find("Flashing Orbit Tiny") == std::string::npos &&
                    (n = read(out[0], buffer, sizeof buffer)) > 0;)
        shown.append(buffer, static_cast<std::size_t>(n));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a few records sent
    const std::int64_t killedUs = SteadyUs();
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    ASSERT_NE(shown.find("Flashing Orbit Tiny"), std::string::npos) << shown;
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    auto report = Report();
    ASSERT_FALSE(report.empty()) << "the helper did not end";
    EXPECT_EQ(report["command-byte"], "47");
    // The last command byte before the kill was 0x20 (interrupts off); the one after, 0x47.
    std::istringstream history(report["history"]);
    std::string before, after;
    for (std::string entry; history >> entry;) {
        const std::int64_t at = std::stoll(entry.substr(3));
        (at < killedUs ? before : after) = entry.substr(0, 2);
    }
    EXPECT_EQ(before, "20") << report["history"];
    EXPECT_EQ(after, "47") << report["history"];
    EXPECT_NE(report["bytes-to-device"], "0");
}

}  // namespace
