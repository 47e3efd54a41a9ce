// Event processing without a window system, for headless runs and end-to-end tests: the
// one-shot timer runs on the monotonic clock and waiting sleeps in poll() on the serial
// port's descriptor until a byte arrives, the timer is due or the wait's time is up.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"

namespace rompush::platform::posix {

class PosixSerialPort;

// Ticks every Interval ms while enabled, like the window timer it stands for; enabling it or
// changing the interval starts a fresh interval.
class PollTimer : public OneShotTimer {
  public:
    explicit PollTimer(const Clock& clock) : clock_(clock) {}

    void SetInterval(int ms) override;
    int Interval() const override { return interval_; }
    void SetEnabled(bool enabled) override;
    bool Enabled() const override { return enabled_; }
    void SetTickHandler(std::function<void()> handler) override { tick_ = std::move(handler); }

    // Milliseconds until the next tick (0 when due), -1 when the timer is not running.
    std::int64_t MsUntilDue() const;
    // Runs the tick when it is due. True when it ran.
    bool RunIfDue();

  private:
    void Arm();

    const Clock& clock_;
    int interval_ = 0;
    bool enabled_ = false;
    std::int64_t dueMs_ = 0;
    std::uint64_t armed_ = 0;  // counts re-arms, so a handler that re-enables is respected
    std::function<void()> tick_;
};

class PollEventLoop : public EventLoop {
  public:
    // The serial port may be null (no port to watch).
    PollEventLoop(PollTimer& timer, PosixSerialPort* serial) : timer_(timer), serial_(serial) {}

    void DoEvents() override;
    void WaitForEvents(int maxMs) override;
    void RequestEnd() override { endRequested_ = true; }
    bool EndRequested() const override { return endRequested_; }

  private:
    // Sleeps at most timeoutMs in poll(); then runs the due tick and collects serial input.
    void Pass(int timeoutMs);
    void EndIfRequested() const;

    PollTimer& timer_;
    PosixSerialPort* serial_;
    bool endRequested_ = false;
};

}  // namespace rompush::platform::posix
