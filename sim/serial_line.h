// An in-process serial line on the virtual clock: the PC's simulated port at one end, a
// simulated device at the other. Bytes are paced at the PC side's baud rate both ways. What the
// PC writes waits in its port's transmit buffer until the wire takes it; a full buffer takes
// no more, as a UART's does.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "sim/device_host.h"
#include "sim/virtual_clock.h"

namespace rompush::sim {

class SerialLine : public DeviceHost {
  public:
    SerialLine(VirtualClock& clock, std::shared_ptr<SerialDevice> device);

    // DeviceHost: the device's side.
    void Send(const std::string& bytes) override;
    void After(std::int64_t delayUs, std::function<void()> fn) override;
    std::int64_t NowUs() const override { return clock_.NowUs(); }
    std::string HostSettings() const override { return hostOpen_ ? hostSettings_ : ""; }

    // The PC's side, used by the simulated port.
    void HostOpened(const std::string& settings);
    void HostClosed();
    // Puts bytes into the transmit buffer; answers how many it took (from the front).
    std::size_t HostWrite(const std::string& bytes);
    // Drops what waits in the transmit buffer and has not started on the wire.
    void DiscardHostOutput() { toDevice_.clear(); }
    std::size_t HostOutputWaiting() const { return toDevice_.size(); }
    std::deque<std::uint8_t>& HostReceived() { return received_; }
    void SetOnHostByte(std::function<void()> fn) { onHostByte_ = std::move(fn); }

    // Faults: the adapter is pulled out (the port vanishes) or plugged back in.
    void Unplug();
    void Replug() { unplugged_ = false; }
    bool Unplugged() const { return unplugged_; }
    // The device takes no byte for that long (it stops reading, or holds the PC off by flow
    // control): what the PC writes piles up in its transmit buffer.
    void StopReading(std::int64_t forUs);
    // Size of the PC port's transmit buffer (a serial driver's is 4 KB); 0 takes everything.
    void SetTransmitBuffer(std::size_t bytes) { txCapacity_ = bytes; }

    // Everything the PC wrote since the start, for tests that check the wire.
    const std::string& Wire() const { return wire_; }
    void ClearWire() { wire_.clear(); }
    SerialDevice& Device() { return *device_; }

  private:
    std::int64_t PaceUs() const;
    // Starts the next byte of the transmit buffer on the wire, when the device reads.
    void Pump();

    VirtualClock& clock_;
    std::shared_ptr<SerialDevice> device_;
    bool hostOpen_ = false;
    bool unplugged_ = false;
    std::string hostSettings_;
    std::int64_t toHostFreeUs_ = 0;    // when the wire to the PC is free again
    std::int64_t toDeviceFreeUs_ = 0;  // when the wire to the device is free again
    std::uint64_t generation_ = 0;     // bytes in flight when the port closes are lost
    std::deque<std::uint8_t> received_;
    std::deque<std::uint8_t> toDevice_;  // the PC port's transmit buffer
    std::size_t txCapacity_ = 0;
    bool onWire_ = false;             // a byte of the buffer is on its way
    std::int64_t readingFromUs_ = 0;  // the device reads again from then on
    std::function<void()> onHostByte_;
    std::string wire_;
};

}  // namespace rompush::sim
