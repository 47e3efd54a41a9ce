// Virtual time for tests: nothing moves until a wait asks the clock to advance to the next
// scheduled event, so a 60-second time-out runs in microseconds of real time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace rompush::sim {

// Thrown when a test lets virtual time run past the limit it set: a wait that never ends.
// Not a std::exception, so that no "errors ignored" handler in the program swallows it.
class VirtualTimeLimit {
  public:
    explicit VirtualTimeLimit(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept { return message_.c_str(); }

  private:
    std::string message_;
};

class VirtualClock : public platform::Clock {
  public:
    using EventId = std::uint64_t;

    std::int64_t NowMs() const override { return nowUs_ / 1000; }
    std::int64_t NowUs() const { return nowUs_; }

    EventId ScheduleAtUs(std::int64_t atUs, std::function<void()> fn);
    EventId ScheduleInUs(std::int64_t delayUs, std::function<void()> fn) {
        return ScheduleAtUs(nowUs_ + delayUs, std::move(fn));
    }
    EventId ScheduleAtMs(std::int64_t atMs, std::function<void()> fn) {
        return ScheduleAtUs(atMs * 1000, std::move(fn));
    }
    void Cancel(EventId id);

    // Runs every event due now (including those they schedule for now). True when any ran.
    bool RunDue();
    std::optional<std::int64_t> NextDueUs() const;
    // Moves time forward (never back) without running anything.
    void AdvanceToUs(std::int64_t us);

    // A test's safety net: advancing beyond this raises VirtualTimeLimit.
    void SetLimitMs(std::int64_t ms) { limitUs_ = ms * 1000; }

  private:
    std::int64_t nowUs_ = 0;
    std::int64_t limitUs_ = INT64_MAX;
    EventId nextId_ = 1;
    // (time, id) -> action; ids keep events at the same time in the order they were made.
    std::map<std::pair<std::int64_t, EventId>, std::function<void()>> events_;
};

}  // namespace rompush::sim
