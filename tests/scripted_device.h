// A device for tests that answers each complete packet from the PC with the next canned
// reply, after a given delay. It knows nothing of the protocol beyond the length byte.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "sim/device_host.h"

namespace rompush::testing {

class ScriptedDevice : public sim::SerialDevice {
  public:
    // Queues a reply to the next packet; "" answers nothing.
    void Reply(const std::string& bytes, std::int64_t delayUs = 2000) {
        replies_.push_back({bytes, delayUs});
    }
    // Sends bytes to the PC now (as a device does on its own).
    void SendNow(const std::string& bytes) { host_->Send(bytes); }
    const std::vector<std::string>& Packets() const { return packets_; }

    void OnHostByte(std::uint8_t byte) override {
        current_.push_back(static_cast<char>(byte));
        const std::size_t length = static_cast<std::uint8_t>(current_[0]);
        if (current_.size() < length && length >= 1)
            return;
        packets_.push_back(current_);
        current_.clear();
        if (replies_.empty())
            return;
        auto reply = replies_.front();
        replies_.pop_front();
        if (reply.bytes.empty())
            return;
        host_->After(reply.delayUs, [this, bytes = reply.bytes] { host_->Send(bytes); });
    }

  private:
    struct Canned {
        std::string bytes;
        std::int64_t delayUs;
    };
    std::deque<Canned> replies_;
    std::vector<std::string> packets_;
    std::string current_;
};

inline std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

}  // namespace rompush::testing
