// The keyboard port of a real run: the PC's own keyboard controller, or a simulated
// keyboard-port device on the steady clock when the operator asks for one (--sim-ps2), so
// SCAN and PROGRAM of a keyboard-port device can be shown on a PC without one.
#pragma once

#include <memory>
#include <optional>

#include "platform/platform.h"
#include "sim/ps2_kvm_device.h"

namespace rompush::platform::sim {

// A simulated device of that model behind a simulated controller, polled at the real pause
// between two polls; without a model, the real controller.
std::unique_ptr<KeyboardPorts> SteadyClockKeyboard(std::optional<rompush::sim::KvmModel> model);

}  // namespace rompush::platform::sim
