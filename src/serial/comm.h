// The serial port and the one time base: opening the port with the operator's parameters,
// receiving one answer frame with a time-out, waiting without freezing the window.
#pragma once

#include <cstdint>
#include <string>

#include "core/wait.h"

namespace rompush {

// Closes the port, sets the number, the settings string built from BaudSetting and the COM
// parameters dialog, the handshaking, and opens it. False when any step failed.
bool SetCommPort(std::uint8_t port);
// Traces what the open just made did about the driver's low-latency mode.
void TraceLatency();
// Receives one answer frame into RcvArray, giving up after timeoutMs.
void RcvIn(std::int32_t timeoutMs);
// The port is open but its device has gone (the adapter was pulled out).
bool PortLost();
// Reads and discards whatever waits in the receive buffer.
void ClearInBuffer();
// The short CPU-bound pause before every packet.
void BusyWait();
// Reads and discards waiting input, processing events after each read.
void DiscardInput();
// The settings string SetCommPort builds from BaudSetting and the dialog's lists.
std::string BuildSettingsString();

}  // namespace rompush
