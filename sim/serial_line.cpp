#include "sim/serial_line.h"

namespace rompush::sim {

SerialLine::SerialLine(VirtualClock& clock, std::shared_ptr<SerialDevice> device)
    : clock_(clock), device_(std::move(device)) {
    device_->AttachHost(this);
}

std::int64_t SerialLine::PaceUs() const {
    const std::int64_t t = ByteTimeUs(hostSettings_);
    return t > 0 ? t : 87;  // 115200 baud when the PC side has no settings
}

void SerialLine::Send(const std::string& bytes) {
    if (unplugged_)
        return;
    const std::uint64_t generation = generation_;
    for (unsigned char byte : bytes) {
        toHostFreeUs_ = std::max(toHostFreeUs_, clock_.NowUs()) + PaceUs();
        clock_.ScheduleAtUs(toHostFreeUs_, [this, byte, generation] {
            if (!hostOpen_ || unplugged_ || generation != generation_)
                return;
            received_.push_back(byte);
            if (onHostByte_)
                onHostByte_();
        });
    }
}

void SerialLine::After(std::int64_t delayUs, std::function<void()> fn) {
    clock_.ScheduleInUs(delayUs, std::move(fn));
}

void SerialLine::HostOpened(const std::string& settings) {
    hostOpen_ = true;
    hostSettings_ = settings;
    received_.clear();
    device_->OnHostOpened();
}

void SerialLine::HostClosed() {
    hostOpen_ = false;
    ++generation_;
    received_.clear();
    device_->OnHostClosed();
}

void SerialLine::HostWrite(const std::string& bytes) {
    if (!hostOpen_ || unplugged_)
        return;
    wire_ += bytes;
    for (unsigned char byte : bytes) {
        toDeviceFreeUs_ = std::max(toDeviceFreeUs_, clock_.NowUs()) + PaceUs();
        clock_.ScheduleAtUs(toDeviceFreeUs_, [this, byte] {
            if (!unplugged_)
                device_->OnHostByte(byte);
        });
    }
}

void SerialLine::Unplug() {
    unplugged_ = true;
    received_.clear();
}

}  // namespace rompush::sim
