#include "serial/comm.h"

#include <cmath>
#include <string>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "platform/platform.h"

namespace rompush {

namespace {
// Longest a wait sleeps before it looks at its condition again; the events it waits for wake
// it up earlier.
constexpr int kWaitSliceMs = 100;
// How long a write sleeps while the port's transmit buffer is full: short against the time
// the buffer takes to empty at any baud rate, so the line never runs dry.
constexpr int kOutputSliceMs = 10;

platform::SerialPort& Port() {
    return *platform::Current().serial;
}
platform::EventLoop& Events() {
    return *platform::Current().events;
}

// The application's ready byte. No answer frame is eight bytes long, so a receive that
// starts with it has met a device that has just started, not the first byte of an answer.
constexpr std::uint8_t kReadyByte = 0x08;

std::uint8_t ReadByte() {
    const std::string in = Port().Input();
    return in.empty() ? 0 : static_cast<std::uint8_t>(in[0]);
}
}  // namespace

std::string BuildSettingsString() {
    auto& dialog = frmComParameters();
    std::string settings = g.port.BaudSetting;
    if (settings.empty() || settings.back() != ',')
        settings += ",";
    const std::string parity = dialog.cboParity.Text();
    if (parity == "None") {
        settings += "N,";
    } else if (parity == "Odd") {
        settings += "O,";
    } else if (parity == "Even") {
        settings += "E,";
    }
    settings += dialog.cboDataBits.Text() + "," + dialog.cboStopBits.Text();
    return settings;
}

void TraceLatency() {
    const std::string note = Port().LatencyNote();
    if (!note.empty())
        TraceLine("--    " + note);
}

bool SetCommPort(std::uint8_t port) {
    TraceScope trace("SetCommPort( " + std::to_string(port) + " )");
    auto& serial = Port();
    try {
        if (serial.PortOpen())
            serial.SetPortOpen(false);
        serial.SetCommPort(port);
        const std::string settings = BuildSettingsString();
        serial.SetSettings(settings);
        TraceLine("--    frmUI.MSComm1.Settings = " + settings);
        const std::string flow = frmComParameters().cboFlowControl.Text();
        const int handshaking = flow == "Hardware" ? 2 : flow == "Xon/Xoff" ? 1 : 0;
        serial.SetHandshaking(handshaking);
        TraceLine("--    frmUI.MSComm1.Handshaking = " + std::to_string(handshaking));
        serial.SetInputLen(1);
        serial.SetInputModeText();
        serial.SetPortOpen(true);
        TraceLatency();
        return true;
    } catch (const platform::PlatformError& error) {
        TraceLine("--    frmUI.MSComm1.PortOpen = False (" + std::string(error.what()) + ")");
        return false;
    }
}

void RcvIn(std::int32_t timeoutMs) {
    TraceScope trace("RcvIn(" + std::to_string(timeoutMs) + ")");
    auto& rcv = g.link.RcvArray;
    auto& serial = Port();
    rcv.fill(0);
    StartTimer(timeoutMs);

    // A device that is gone sends nothing more: the wait ends with it, not with the time.
    while (serial.InBufferCount() == 0 && g.link.DelayActive && !PortLost())
        Events().WaitForEvents(kWaitSliceMs);

    if (!g.link.DelayActive || serial.InBufferCount() == 0) {
        rcv[0] = 0;
    } else {
        rcv[1] = ReadByte();
        int i = 2;
        int frameEnd = rcv[1];
        if (rcv[1] == kReadyByte) {
            // The device has just started and did not hear what was sent before: the caller
            // asks again at once instead of waiting for seven bytes that never come.
            frameEnd = 0;
        } else if (rcv[1] == 0xC3) {
            // The prefix's second byte and the length byte; the time-out ends this wait too,
            // so a device that stops after &HC3 cannot hold the program.
            while (serial.InBufferCount() < 2 && g.link.DelayActive && !PortLost()) {
                Events().WaitForEvents(kWaitSliceMs);
            }
            if (serial.InBufferCount() >= 2) {
                rcv[2] = ReadByte();
                rcv[3] = ReadByte();
                i = 4;
                frameEnd = rcv[3] + 2;
            } else {
                frameEnd = 0;  // cut short: keep what came
            }
        }
        while (i <= frameEnd && g.link.DelayActive && i < 50 && !PortLost()) {
            if (serial.InBufferCount() > 0) {
                rcv[i] = ReadByte();
                ++i;
                Events().DoEvents();
            } else {
                Events().WaitForEvents(kWaitSliceMs);
            }
        }
        rcv[0] = static_cast<std::uint8_t>(i - 1);
    }

    StopTimer();
    ClearInBuffer();
    if (g.trace.TraceOn) {
        for (int k = 0; k <= rcv[0]; ++k) {
            TraceLine("   RcvArray(" + std::to_string(k) + ") = &H" + Hex(rcv[k]));
        }
        TraceLine(std::string("--    DelayActive = ") + BoolText(g.link.DelayActive));
    }
}

bool PortLost() {
    return Port().DeviceLost();
}

void ClearInBuffer() {
    TraceScope trace("ClearInBuffer()");
    DiscardInput();
}

void DiscardInput() {
    auto& serial = Port();
    while (serial.InBufferCount() > 0) {
        serial.Input();
        Events().DoEvents();
    }
}

PortWrite WritePort(const std::string& bytes, const std::function<bool()>& stop, int patienceMs) {
    auto& serial = Port();
    std::size_t done = 0;
    std::int64_t lastTaken = platform::Current().clock->NowMs();
    for (;;) {
        const int taken = serial.Write(done == 0 ? bytes : bytes.substr(done));
        if (taken < 0) {
            TraceLine("--    the port has gone: " + std::to_string(bytes.size() - done) +
                      " bytes not sent");
            return PortWrite::Lost;
        }
        done += static_cast<std::size_t>(taken);
        if (done >= bytes.size())
            return PortWrite::Sent;
        const std::int64_t now = platform::Current().clock->NowMs();
        if (taken > 0)
            lastTaken = now;
        if (stop && stop())
            return PortWrite::Stopped;
        if (now - lastTaken >= patienceMs) {
            TraceLine("--    the port took nothing for " + std::to_string(patienceMs) +
                      " ms: " + std::to_string(bytes.size() - done) + " bytes not sent");
            return PortWrite::Stalled;
        }
        Events().WaitForEvents(kOutputSliceMs);
    }
}

void BusyWait() {
    // A short CPU-bound pause before a packet; volatile keeps the compiler from removing it.
    volatile double sink = 0.0;
    for (int i = 0; i < 12000; ++i) {
        volatile double two = 2.0;
        sink = std::sqrt(two);
    }
    (void)sink;
}

}  // namespace rompush
