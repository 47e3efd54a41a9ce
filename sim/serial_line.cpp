#include "sim/serial_line.h"

#include <algorithm>

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

std::size_t SerialLine::HostWrite(const std::string& bytes) {
    if (!hostOpen_ || unplugged_)
        return 0;
    std::size_t taken = bytes.size();
    if (txCapacity_ > 0)
        taken = std::min(taken, txCapacity_ - std::min(txCapacity_, toDevice_.size()));
    wire_.append(bytes, 0, taken);
    toDevice_.insert(toDevice_.end(), bytes.begin(),
                     bytes.begin() + static_cast<std::ptrdiff_t>(taken));
    Pump();
    return taken;
}

void SerialLine::Pump() {
    if (onWire_ || toDevice_.empty() || unplugged_)
        return;
    const std::int64_t now = clock_.NowUs();
    if (now < readingFromUs_) {
        // Held off: the buffer waits until the device reads again.
        onWire_ = true;
        clock_.ScheduleAtUs(readingFromUs_, [this] {
            onWire_ = false;
            Pump();
        });
        return;
    }
    onWire_ = true;
    toDeviceFreeUs_ = std::max(toDeviceFreeUs_, now) + PaceUs();
    clock_.ScheduleAtUs(toDeviceFreeUs_, [this] {
        onWire_ = false;
        if (unplugged_ || toDevice_.empty())
            return;
        const std::uint8_t byte = toDevice_.front();
        toDevice_.pop_front();
        device_->OnHostByte(byte);
        Pump();
    });
}

void SerialLine::StopReading(std::int64_t forUs) {
    readingFromUs_ = std::max(readingFromUs_, clock_.NowUs() + forUs);
}

void SerialLine::Unplug() {
    unplugged_ = true;
    received_.clear();
    toDevice_.clear();
}

}  // namespace rompush::sim
