#include "providers/posix/poll_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "providers/posix/serial_port.h"

namespace rompush::platform::posix {

// ---- timer ------------------------------------------------------------------------------

void PollTimer::Arm() {
    ++armed_;
    dueMs_ = clock_.NowMs() + interval_;
}

void PollTimer::SetInterval(int ms) {
    interval_ = ms < 0 ? 0 : ms;
    if (enabled_)
        Arm();
}

void PollTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled_)
        Arm();
}

std::int64_t PollTimer::MsUntilDue() const {
    if (!enabled_ || interval_ <= 0)
        return -1;
    return std::max<std::int64_t>(dueMs_ - clock_.NowMs(), 0);
}

bool PollTimer::RunIfDue() {
    if (MsUntilDue() != 0)
        return false;
    const std::uint64_t armed = armed_;
    if (tick_)
        tick_();
    // Still enabled and not restarted by the handler: the next interval follows.
    if (enabled_ && armed_ == armed)
        Arm();
    return true;
}

// ---- event loop -------------------------------------------------------------------------

void PollEventLoop::EndIfRequested() const {
    if (endRequested_)
        throw ProgramEnded();
}

void PollEventLoop::Pass(int timeoutMs) {
    const int fd = serial_ ? serial_->Fd() : -1;
    const std::int64_t untilTick = timer_.MsUntilDue();
    if (untilTick >= 0 && untilTick < timeoutMs)
        timeoutMs = static_cast<int>(untilTick);
    // The logic is reading a frame that arrived in one piece: no sleeping while bytes wait.
    if (serial_ && serial_->TakeReadProgress() && serial_->Buffered() > 0)
        timeoutMs = 0;
    if (timeoutMs < 0)
        timeoutMs = 0;

    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, fd >= 0 ? 1 : 0, timeoutMs);
    if (ready < 0 && errno != EINTR)
        ready = 0;

    timer_.RunIfDue();
    if (serial_ && ready > 0 && p.revents != 0)
        serial_->OnReadable();
}

void PollEventLoop::DoEvents() {
    EndIfRequested();
    Pass(0);
    EndIfRequested();
}

void PollEventLoop::WaitForEvents(int maxMs) {
    EndIfRequested();
    Pass(maxMs < 0 ? 0 : maxMs);
    EndIfRequested();
}

}  // namespace rompush::platform::posix
