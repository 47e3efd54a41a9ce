// A simulated 8042 keyboard controller with one device on its keyboard port. It runs lazily on
// a time source (microseconds): nothing is scheduled, every port access first plays out what
// happened on the controller and the wire up to now. So the same controller runs on the
// virtual clock in tests and on the steady clock behind "PS/2" in the real program.
//
// What it models is what the keyboard-port path relies on:
//  - status bit 0 (a byte waits at port 0x60) and bit 1 (the controller has not yet taken the
//    byte last written; it takes it some tens of microseconds later, and not while it is still
//    clocking the previous byte out to the device);
//  - the command byte, read with command 0x20 and written with 0x60 + data byte;
//  - scan-code translation set 2 -> set 1 while command-byte bit 6 is set (make codes
//    translated, a 0xF0 prefix and the code after it become one code with bit 7 set, bytes of
//    0x80 and above pass unchanged);
//  - keyboard interrupts: while command-byte bit 0 is set, the operating system's keyboard
//    driver takes every device byte at once (recorded here, never seen by the program);
//  - reading port 0x60 with nothing waiting gives the byte read last, as the real controller
//    does.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "sim/ps2_kvm_device.h"

namespace rompush::sim {

class Kbc8042 : private Ps2Link {
  public:
    using TimeSource = std::function<std::int64_t()>;

    explicit Kbc8042(TimeSource nowUs, Ps2Timing timing = {});

    // Puts a device on the keyboard port (nullptr: nothing attached; bytes sent to the port
    // are then lost).
    void Attach(std::shared_ptr<Ps2Device> device);
    Ps2Device* Device() { return device_.get(); }

    // The program's port accesses (0x60 data, 0x64 status/command; other ports read 0xFF).
    std::uint8_t Read(std::uint16_t port);
    void Write(std::uint16_t port, std::uint8_t value);

    // The command byte now; it starts as the operating system leaves it, 0x47.
    std::uint8_t CommandByte();
    struct CommandByteChange {
        std::int64_t atUs;
        std::uint8_t value;
    };
    // Every command byte taken, the starting 0x47 first.
    const std::vector<CommandByteChange>& CommandByteHistory() const { return history_; }
    // How long keyboard interrupts were off (the PC's keyboard and mouse locked out) up to now.
    std::int64_t LockedOutUs();

    // What the operating system's keyboard driver received while interrupts were on.
    const std::vector<std::uint8_t>& OsReceived() const { return osReceived_; }

    // Fault: the next n command-byte writes are ignored (n < 0: all of them), so the 0x20
    // read-back gives the old command byte.
    void RefuseCommandByte(int n) { refuseCommandByte_ = n; }
    // Fault: the controller takes no written byte any more (status bit 1 stays set once a byte
    // is written); false lets it go on.
    void StickInputBuffer(bool stuck) {
        Advance();
        stuckInput_ = stuck;
        if (!stuck && input_)
            inputWrittenUs_ = nowUs_();
    }

    const Ps2Timing& Timing() const { return timing_; }

    // Plays out everything up to now (every port access does this first).
    void Advance();
    // When the controller or the wire next changes something the program can see (a byte
    // taken, received or delivered); nullopt while nothing is on its way.
    std::optional<std::int64_t> NextEventUs();
    // Bytes that crossed the wire to and from the device so far.
    std::int64_t BytesToDevice() const { return bytesToDevice_; }
    std::int64_t BytesFromDevice() const { return bytesFromDevice_; }

  private:
    // Ps2Link: the device queues a byte for the PC.
    void SendToHost(std::uint8_t byte, std::int64_t notBeforeUs) override;
    std::int64_t NowUs() const override { return nowUs_(); }

    void TakeInput(std::int64_t atUs);
    void DeliverFromDevice(std::uint8_t byte, std::int64_t atUs);
    void SetCommandByte(std::uint8_t value, std::int64_t atUs);

    struct Next {
        std::int64_t atUs;
        enum Kind { None, FromDevice, ToDevice, Take } kind;
    };
    Next NextStep() const;

    struct Pending {
        std::uint8_t byte;
        std::int64_t atUs;
    };

    TimeSource nowUs_;
    Ps2Timing timing_;
    std::shared_ptr<Ps2Device> device_;

    std::uint8_t commandByte_ = 0x47;
    std::vector<CommandByteChange> history_;
    int refuseCommandByte_ = 0;
    bool stuckInput_ = false;

    // Output buffer (port 0x60 for the program).
    std::optional<std::uint8_t> output_;
    std::uint8_t lastRead_ = 0;
    std::int64_t outputFreeSinceUs_ = 0;

    // Input buffer: the byte last written and whether it was a command (port 0x64).
    std::optional<std::uint8_t> input_;
    bool inputIsCommand_ = false;
    std::int64_t inputWrittenUs_ = 0;
    std::int64_t controllerFreeUs_ = 0;  // busy clocking a byte out to the device until then
    bool expectCommandByte_ = false;

    // Bytes on their way to the device (arrival time) and from it (earliest start).
    std::deque<Pending> toDevice_;
    std::deque<Pending> fromDevice_;
    std::int64_t fromWireFreeUs_ = 0;
    bool breakPrefix_ = false;  // translation: a 0xF0 waits for the code it belongs to

    std::vector<std::uint8_t> osReceived_;
    std::int64_t bytesToDevice_ = 0;
    std::int64_t bytesFromDevice_ = 0;
};

// Scan code set 2 -> set 1, as the controller translates codes below 0x80.
std::uint8_t TranslateSet2(std::uint8_t code);

}  // namespace rompush::sim
