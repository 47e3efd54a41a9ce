#include "core/wait.h"

#include <string>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "platform/platform.h"

namespace rompush {

namespace {
// Longest a wait sleeps before it looks at its condition again; the timer's tick wakes it up
// earlier.
constexpr int kWaitSliceMs = 100;
}  // namespace

void StartTimer(std::int32_t ms) {
    auto& timer = *platform::Current().timer;
    timer.SetInterval(ms);
    g.link.DelayActive = true;
    timer.SetEnabled(true);
}

void StopTimer() {
    platform::Current().timer->SetEnabled(false);
}

void Timer1_Timer() {
    TraceScope trace("Timer1_Timer()");
    g.link.DelayActive = false;
    StopTimer();
}

void Delay(std::int16_t ms) {
    TraceScope trace("Delay( " + std::to_string(ms) + " )");
    // A timer with no interval never ticks: a wait of nothing returns at once instead of
    // waiting for ever.
    if (ms <= 0)
        return;
    StartTimer(ms);
    while (g.link.DelayActive)
        platform::Current().events->WaitForEvents(kWaitSliceMs);
    StopTimer();
    g.link.DelayActive = false;
}

}  // namespace rompush
