// An in-process serial line on the virtual clock: the PC's simulated port at one end, a
// simulated device at the other. Bytes are paced at the PC side's baud rate both ways.
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
    void HostWrite(const std::string& bytes);
    std::deque<std::uint8_t>& HostReceived() { return received_; }
    void SetOnHostByte(std::function<void()> fn) { onHostByte_ = std::move(fn); }

    // Faults: the adapter is pulled out (the port vanishes) or plugged back in.
    void Unplug();
    void Replug() { unplugged_ = false; }
    bool Unplugged() const { return unplugged_; }

    // Everything the PC wrote since the start, for tests that check the wire.
    const std::string& Wire() const { return wire_; }
    void ClearWire() { wire_.clear(); }
    SerialDevice& Device() { return *device_; }

  private:
    std::int64_t PaceUs() const;

    VirtualClock& clock_;
    std::shared_ptr<SerialDevice> device_;
    bool hostOpen_ = false;
    bool unplugged_ = false;
    std::string hostSettings_;
    std::int64_t toHostFreeUs_ = 0;    // when the wire to the PC is free again
    std::int64_t toDeviceFreeUs_ = 0;  // when the wire to the device is free again
    std::uint64_t generation_ = 0;     // bytes in flight when the port closes are lost
    std::deque<std::uint8_t> received_;
    std::function<void()> onHostByte_;
    std::string wire_;
};

}  // namespace rompush::sim
