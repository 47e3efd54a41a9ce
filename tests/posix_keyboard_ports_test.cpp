// The Linux keyboard-controller providers over a plain file standing in for /dev/port (a byte
// at each port's offset), never ioperm: the fallback chain of the direct provider, and the
// controller given back when a signal ends the program while it holds it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/posix/keyboard_ports.h"

namespace {

using rompush::platform::posix::PosixKeyboardPorts;
namespace fs = std::filesystem;

class PortFile : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = fs::temp_directory_path() /
                ("rompush-ports-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::ofstream(path_, std::ios::binary) << std::string(0x100, '\0');
    }
    void TearDown() override { fs::remove(path_); }

    std::vector<unsigned char> Bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path path_;
};

TEST_F(PortFile, DriverBackedProviderTransfersOneByteAtThePortsOffsetWhileOpen) {
    PosixKeyboardPorts ports(path_.string(), /*useIoperm=*/false);
    std::uint32_t value = 0;
    EXPECT_FALSE(ports.SetPortVal(0x60, 0xAB, 1));  // not initialised yet
    EXPECT_FALSE(ports.GetPortVal(0x64, value, 1));

    ASSERT_TRUE(ports.InitializeWinIo());
    EXPECT_TRUE(ports.SetPortVal(0x60, 0xAB, 1));
    EXPECT_TRUE(ports.GetPortVal(0x60, value, 1));
    EXPECT_EQ(value, 0xABu);
    EXPECT_EQ(Bytes()[0x60], 0xAB);

    ports.ShutdownWinIo();
    EXPECT_FALSE(ports.GetPortVal(0x60, value, 1));
}

TEST_F(PortFile, DirectProviderFallsBackToThePortFileThenToNothing) {
    PosixKeyboardPorts ports(path_.string(), false);
    ASSERT_TRUE(ports.DirectAccess());
    ports.Out32(0x64, 0x60);
    EXPECT_EQ(ports.Inp32(0x64), 0x60);
    EXPECT_EQ(Bytes()[0x64], 0x60);

    PosixKeyboardPorts none((path_ / "missing").string(), false);
    EXPECT_FALSE(none.InitializeWinIo());
    EXPECT_NE(none.LastError().find("missing"), std::string::npos) << none.LastError();
    EXPECT_FALSE(none.DirectAccess());
    EXPECT_EQ(none.Inp32(0x64), 0xFF);
    none.Out32(0x60, 0x12);  // goes nowhere, harms nothing
    EXPECT_NE(none.LastError().find("missing"), std::string::npos) << none.LastError();
}

// Runs body in a child process and answers how the child ended.
template <typename Body>
int EndOfChild(Body body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// A signal while the controller is held gives it back (0x60 then 0x47) before the program
// ends; once it was given back the signal writes nothing.
TEST_F(PortFile, SignalGivesTheHeldControllerBackThenEndsTheProgram) {
    struct {
        int signal;
        bool direct, givenBack;
    } const cases[] = {{SIGINT, false, false},
                       {SIGTERM, true, false},
                       {SIGHUP, false, false},
                       {SIGTERM, true, true}};
    for (const auto& c : cases) {
        std::ofstream(path_, std::ios::binary) << std::string(0x100, '\0');
        const int status = EndOfChild([&] {
            PosixKeyboardPorts ports(path_.string(), false);
            c.direct ? ports.DirectAccess() : ports.InitializeWinIo();
            ports.SetControllerHeld(true);
            if (c.givenBack)
                ports.SetControllerHeld(false);
            raise(c.signal);
        });
        SCOPED_TRACE("signal " + std::to_string(c.signal) + (c.givenBack ? " given back" : ""));
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), c.signal);
        EXPECT_EQ(Bytes()[0x64], c.givenBack ? 0 : 0x60);
        EXPECT_EQ(Bytes()[0x60], c.givenBack ? 0 : 0x47);
    }
}

}  // namespace
