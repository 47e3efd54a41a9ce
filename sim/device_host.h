// What a simulated device needs of the wire it sits on: send bytes to the PC (paced at the
// line's baud rate), run something later, and know the time and the PC's line settings. The
// same device runs in-process on the virtual clock and behind a pseudo-terminal in real time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace rompush::sim {

class DeviceHost {
  public:
    virtual ~DeviceHost() = default;
    // Queues bytes for the PC; they arrive one after the other at the line's pace.
    virtual void Send(const std::string& bytes) = 0;
    // Runs fn after delayUs microseconds.
    virtual void After(std::int64_t delayUs, std::function<void()> fn) = 0;
    virtual std::int64_t NowUs() const = 0;
    // The PC side's settings string ("115200,N,8,1"), "" when the PC has the port closed.
    virtual std::string HostSettings() const = 0;
};

// The device side of a serial line.
class SerialDevice {
  public:
    virtual ~SerialDevice() = default;
    void AttachHost(DeviceHost* host) { host_ = host; }
    // One byte from the PC, at the moment it has fully arrived.
    virtual void OnHostByte(std::uint8_t byte) = 0;
    // The PC opened or closed its port.
    virtual void OnHostOpened() {}
    virtual void OnHostClosed() {}

  protected:
    DeviceHost* host_ = nullptr;
};

// Microseconds one byte takes on the wire: start bit, data bits, parity, stop bits.
std::int64_t ByteTimeUs(const std::string& settings);
// The baud rate of a settings string, 0 when it has none.
int BaudOf(const std::string& settings);

}  // namespace rompush::sim
