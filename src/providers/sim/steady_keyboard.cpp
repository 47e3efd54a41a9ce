#include "providers/sim/steady_keyboard.h"

#include <chrono>
#include <cstdint>

#include "providers/posix/keyboard_ports.h"
#include "providers/sim/sim_platform.h"

namespace rompush::platform::sim {

namespace {
std::int64_t SteadyMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

std::unique_ptr<KeyboardPorts> SteadyClockKeyboard(std::optional<rompush::sim::KvmModel> model) {
    if (!model)
        return std::make_unique<posix::PosixKeyboardPorts>();
    auto simulated = std::make_unique<SimKeyboardPorts>(
        SteadyMicroseconds, [] { posix::PauseMicroseconds(SimKeyboardPorts::kPollPauseUs); });
    simulated->AttachDevice(*model);
    return simulated;
}

}  // namespace rompush::platform::sim
