#include "sim/virtual_clock.h"

#include <string>

namespace rompush::sim {

VirtualClock::EventId VirtualClock::ScheduleAtUs(std::int64_t atUs, std::function<void()> fn) {
    const EventId id = nextId_++;
    events_.emplace(std::make_pair(atUs < nowUs_ ? nowUs_ : atUs, id), std::move(fn));
    return id;
}

void VirtualClock::Cancel(EventId id) {
    for (auto it = events_.begin(); it != events_.end(); ++it) {
        if (it->first.second == id) {
            events_.erase(it);
            return;
        }
    }
}

bool VirtualClock::RunDue() {
    bool ran = false;
    while (!events_.empty() && events_.begin()->first.first <= nowUs_) {
        auto fn = std::move(events_.begin()->second);
        events_.erase(events_.begin());
        fn();
        ran = true;
    }
    return ran;
}

std::optional<std::int64_t> VirtualClock::NextDueUs() const {
    if (events_.empty())
        return std::nullopt;
    return events_.begin()->first.first;
}

void VirtualClock::AdvanceToUs(std::int64_t us) {
    if (us <= nowUs_)
        return;
    if (us > limitUs_) {
        nowUs_ = limitUs_;
        throw VirtualTimeLimit("virtual time passed " + std::to_string(limitUs_ / 1000) + " ms");
    }
    nowUs_ = us;
}

}  // namespace rompush::sim
