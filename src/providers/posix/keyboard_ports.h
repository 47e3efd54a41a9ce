// The PC's keyboard controller on Linux, reached through rompush-kbc-helper, the small
// program that alone holds the rights to it (cap_sys_rawio and cap_dac_override on its file
// only). The window and rompush-cli hold no capability: at the first use of "PS/2" this
// provider starts the helper (beside the executable, with the program's environment) on a
// socket pair and asks it for each port access. In the helper:
//  - the driver-backed provider is the kernel's port driver /dev/port (a byte at the port's
//    offset); InitializeWinIo answers whether the helper could open it;
//  - the direct provider is inb/outb on 0x60 and 0x64 where the kernel granted ioperm, else
//    /dev/port; where neither is there, reads give 0xFF, writes do nothing and DirectAccess()
//    answers false, with the reason in LastError().
// A helper that cannot be started leaves both providers without access, with the reason.
//
// The pause between two polls of a wait is spent in the helper, which polls the status port
// itself until the status changes (at most about a millisecond, so that the window's events
// still run): a poll costs no round trip while nothing happens on the controller. A write, and
// a read of the data port, come back with the status read right after them, which the next
// poll uses when it follows at once.
//
// While the program holds the controller (keyboard interrupts off), SIGINT, SIGTERM and
// SIGHUP first ask the helper to give it back (command byte 0x47), then end the program as
// they would have; and whatever ends the program, the helper gives the controller back when
// its socket closes, so the PC's keyboard and mouse never stay locked out.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "providers/posix/kbc_protocol.h"

namespace rompush::platform::posix {

class PosixKeyboardPorts : public KeyboardPorts {
  public:
    // helperPath: the helper program to start; "" the one ROMPUSH_KBC_HELPER names, else
    // rompush-kbc-helper beside the executable.
    explicit PosixKeyboardPorts(std::string helperPath = "");
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

    // The helper's process (-1 before the first use of the port): for measurements.
    pid_t HelperPid() const { return pid_; }
    // Whether a poll pause watches the status in the helper (the default) or pauses here
    // between two separate reads: for measurements.
    void SetWatchInHelper(bool watch) { watch_ = watch; }

  private:
    bool Started();
    bool Call(const kbc::Request& request, kbc::Answer& answer);
    void Lost(const std::string& why);
    std::uint8_t ReadPort(kbc::Provider provider, std::uint16_t port, bool& ok);
    bool WritePort(kbc::Provider provider, std::uint16_t port, std::uint32_t value);
    void Prefetch(kbc::Provider provider, std::uint8_t status);

    enum class State { Unstarted, Serving, Gone };
    std::string helperPath_;
    State state_ = State::Unstarted;
    int fd_ = -1;
    pid_t pid_ = -1;
    bool direct_ = false;
    bool driver_ = false;
    bool winIoOpen_ = false;
    bool held_ = false;
    bool watch_ = true;
    // The status last read (for the watch) and a status the helper has read for the next poll.
    int lastStatus_ = -1;
    kbc::Provider lastStatusProvider_ = kbc::Provider::Direct;
    bool prefetched_ = false;
    std::uint8_t prefetchedStatus_ = 0;
    kbc::Provider prefetchedProvider_ = kbc::Provider::Direct;
    std::int64_t prefetchedAtUs_ = 0;
    std::string lastError_;
};

// Sleeps about us microseconds; the thread's timer slack is lowered to its least (1 ns) at
// the first call so that a short pause is not stretched by the default 50 us. What remains
// is the machine's wake-up latency: from a few microseconds on an idle PC to some tens in a
// busy virtual machine.
void PauseMicroseconds(std::int64_t us);

}  // namespace rompush::platform::posix
