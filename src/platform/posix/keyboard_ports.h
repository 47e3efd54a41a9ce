// The PC's keyboard controller on Linux, through both port-access providers:
//  - the driver-backed one is the kernel's port driver: InitializeWinIo opens /dev/port
//    read-write, a port is read or written as one byte at its offset, ShutdownWinIo closes it;
//  - the direct one uses inb/outb on 0x60 and 0x64 after ioperm, obtained at its first use;
//    where ioperm is refused (some kernels and containers refuse it) it goes through
//    /dev/port, and where that fails too reads give 0xFF, writes do nothing and
//    DirectAccess() answers false, with the reason in LastError().
// Both need CAP_SYS_RAWIO and read-write access to /dev/port.
//
// While the program holds the controller (keyboard interrupts off), SIGINT, SIGTERM and
// SIGHUP first give it back (command byte 0x47) through whatever access is open, then end
// the program as they would have, so the PC's keyboard and mouse never stay locked out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace rompush::platform::posix {

class PosixKeyboardPorts : public KeyboardPorts {
  public:
    // portFile is the kernel's port driver; a test gives a plain file of at least 0x65 bytes
    // instead, and no ioperm, so that it never touches a real controller.
    explicit PosixKeyboardPorts(std::string portFile = "/dev/port", bool useIoperm = true);
    ~PosixKeyboardPorts() override;
    PosixKeyboardPorts(const PosixKeyboardPorts&) = delete;
    PosixKeyboardPorts& operator=(const PosixKeyboardPorts&) = delete;

    bool InitializeWinIo() override;
    void ShutdownWinIo() override;
    bool GetPortVal(std::uint16_t port, std::uint32_t& value, int size) override;
    bool SetPortVal(std::uint16_t port, std::uint32_t value, int size) override;
    std::uint16_t Inp32(std::uint16_t port) override;
    void Out32(std::uint16_t port, std::uint16_t value) override;
    bool DirectAccess() override;
    std::string LastError() const override { return lastError_; }
    void SetControllerHeld(bool held) override;
    void PollPause() override;

  private:
    enum class Direct { Untried, Ioperm, PortFile, None };
    void ObtainDirect();
    void PublishAccess() const;

    std::string portFile_;
    bool useIoperm_;
    int winIoFd_ = -1;
    Direct direct_ = Direct::Untried;
    int directFd_ = -1;
    bool held_ = false;
    std::string lastError_;
};

// Sleeps about us microseconds; the thread's timer slack is lowered to its least (1 ns) at
// the first call so that a short pause is not stretched by the default 50 us. What remains
// is the machine's wake-up latency: from a few microseconds on an idle PC to some tens in a
// busy virtual machine.
void PauseMicroseconds(std::int64_t us);

}  // namespace rompush::platform::posix
