// The serial port and the one time base: opening the port with the operator's parameters,
// receiving one answer frame with a time-out, waiting without freezing the window.
#pragma once

#include <cstdint>
#include <functional>
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

// How long a write waits for a port that takes nothing (the device has stopped reading, or
// flow control holds the line) before it gives up.
constexpr int kOutputPatienceMs = 10000;
enum class PortWrite {
    Sent,     // every byte was handed to the port
    Stopped,  // the caller's stop condition held first
    Stalled,  // the port took nothing for the whole patience
    Lost,     // the port is closed or its device has gone
};
// Writes the bytes to the port, all of them or failing, never dropping one unnoticed: while
// the port's transmit buffer is full it waits, processing events, until there is room, until
// stop() holds, or until the port has taken nothing for patienceMs.
PortWrite WritePort(const std::string& bytes, const std::function<bool()>& stop = {},
                    int patienceMs = kOutputPatienceMs);
// The settings string SetCommPort builds from BaudSetting and the dialog's lists.
std::string BuildSettingsString();

}  // namespace rompush
