#include "ps2/kb_controller.h"

#include <algorithm>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "core/wait.h"
#include "platform/platform.h"
#include "ui/main_window.h"

namespace rompush {

namespace {

platform::KeyboardPorts* Kb() {
    return platform::Current().keyboard;
}

platform::EventLoop& Events() {
    return *platform::Current().events;
}

std::int64_t NowMs() {
    return platform::Current().clock->NowMs();
}

// The controller and device bytes by the names the trace gives them; any other value by its
// hex digits after the prefix.
std::string KbName(std::uint32_t value, const std::string& prefix) {
    switch (value) {
        case cmd_ReadKbControllerCmdByte:
            return "cmd_ReadKbControllerCmdByte";
        case cmd_WriteKbControllerCmdByte:
            return "cmd_WriteKbControllerCmdByte";
        case cmd_GetRevSwType:
            return "cmd_GetRevSwType";
        default:
            return prefix + Hex(value);
    }
}

void MarkPortFault(const std::string& what) {
    if (g.ps2.PortFault)
        return;
    g.ps2.PortFault = true;
    platform::KeyboardPorts* kb = Kb();
    TraceLine("--    " + what + " failed: " + (kb ? kb->LastError() : "no port access"));
}

void MarkHeld(bool held) {
    g.ps2.ControllerHeld = held;
    if (platform::KeyboardPorts* kb = Kb())
        kb->SetControllerHeld(held);
}

// The polls of one wait on the controller. Each poll lets the window's events run (unless the
// program is ending) and pauses briefly, so that a wait neither spins a core nor adds more
// than a few microseconds to a PS/2 byte.
class ControllerWait {
  public:
    // The clock counts whole milliseconds: one more makes each time a true minimum.
    ControllerWait(KbWaitFigures figures, bool withEvents = true)
        : polls_(figures.polls),
          untilMs_(NowMs() + figures.minMs + 1),
          pacedUntilMs_(NowMs() +
                        std::max(figures.minMs, (figures.polls * kPollMeantUs + 999) / 1000) + 1),
          withEvents_(withEvents) {}

    // Counts the poll just made and yields; false once the wait has run its polls and its
    // minimum time (or the time its polls take at the meant pace), or at once when the ports
    // cannot be reached.
    bool Poll() {
        ++count_;
        if (g.ps2.PortFault || Kb() == nullptr)
            return false;
        const std::int64_t now = NowMs();
        if ((count_ >= polls_ && now >= untilMs_) || now >= pacedUntilMs_)
            return false;
        if (withEvents_)
            Events().DoEvents();
        Kb()->PollPause();
        return true;
    }
    int Count() const { return count_; }

  private:
    int polls_;
    std::int64_t untilMs_;
    std::int64_t pacedUntilMs_;
    bool withEvents_;
    int count_ = 0;
};

// Waits while status bit 1 is set. False when the controller never takes the byte: it
// counts as stuck and the operation fails instead of waiting for ever.
bool WaitInputTaken(bool withEvents) {
    ControllerWait wait(kInputBufferWait, withEvents);
    while (ReadPortByte(kKbStatusPort) & kKbInputFull) {
        if (!wait.Poll()) {
            if (!g.ps2.PortFault) {
                g.ps2.InputStuck = true;
                TraceLine("--    status bit 1 still set after " + std::to_string(wait.Count()) +
                          " polls: the keyboard controller takes no bytes");
            }
            return false;
        }
    }
    return !g.ps2.PortFault;
}

// Cancel in the controller message: the controller given back, then the program ends as
// when its window is closed.
[[noreturn]] void EndProgramAfterCancel() {
    ReleaseController();
    EndDriverAccess();
    auto& form = frmUI();
    if (form.Unload) {
        form.Unload();
    } else {
        Events().RequestEnd();
    }
    Events().DoEvents();
    throw platform::ProgramEnded();
}

// A PC without a keyboard controller (USB keyboards only, many virtual machines) has nothing
// behind ports 0x60 and 0x64: every read gives 0xFF and no command is answered. A controller
// that is there never shows status 0xFF for long, and its command byte is never 0xFF (bits 3
// and 7 are always clear), so a status of 0xFF that stays while the command byte is asked for
// means that there is no controller. A present one answers with its command byte at port
// 0x60; that byte is taken out of the way here, and the take sequence asks for it again.
bool ControllerPresent() {
    if (ReadPortByte(kKbStatusPort) != 0xFF)
        return true;
    WritePortByte(kKbStatusPort, cmd_ReadKbControllerCmdByte);
    ControllerWait wait(kAckWait);
    do {
        const std::uint8_t status = ReadPortByte(kKbStatusPort);
        if (status != 0xFF) {
            if (status & kKbOutputFull)
                ReadPortByte(kKbDataPort);
            return true;
        }
        if (ReadPortByte(kKbDataPort) != 0xFF)
            return true;
    } while (wait.Poll());
    // Ports that cannot be reached read 0xFF too; that is reported as such, not as this.
    return g.ps2.PortFault;
}

}  // namespace

void cmdDetectOS() {
    TraceScope trace("cmdDetectOS()");
    g.cmd.UseWinIo = false;
}

std::uint8_t ReadPortByte(std::uint16_t port) {
    platform::KeyboardPorts* kb = Kb();
    if (kb == nullptr) {
        MarkPortFault("keyboard port access");
        return 0xFF;
    }
    if (g.cmd.UseWinIo) {
        std::uint32_t value = 0;
        if (!kb->GetPortVal(port, value, 1))
            MarkPortFault("GetPortVal( &H" + Hex(port) + " )");
        return static_cast<std::uint8_t>(value & 0xFF);
    }
    if (!kb->DirectAccess()) {
        MarkPortFault("Inp32( &H" + Hex(port) + " )");
        return 0xFF;
    }
    return static_cast<std::uint8_t>(kb->Inp32(port) & 0xFF);
}

void WritePortByte(std::uint16_t port, std::uint32_t value) {
    platform::KeyboardPorts* kb = Kb();
    if (kb == nullptr) {
        MarkPortFault("keyboard port access");
        return;
    }
    if (g.cmd.UseWinIo) {
        if (!kb->SetPortVal(port, value, 1))
            MarkPortFault("SetPortVal( &H" + Hex(port) + " )");
        return;
    }
    if (!kb->DirectAccess()) {
        MarkPortFault("Out32( &H" + Hex(port) + " )");
        return;
    }
    kb->Out32(port, static_cast<std::uint16_t>(value & 0xFFFF));
}

bool wr_8042_cmd(std::uint32_t command) {
    TraceScope trace("wr_8042_cmd( " + KbName(command, "") + " )");
    WritePortByte(kKbStatusPort, command);
    return true;
}

void wr_kb_8042_data(std::uint32_t value) {
    TraceScope trace("wr_kb_8042_data( " + KbName(value, "") + " )");
    WritePortByte(kKbDataPort, value);
}

std::uint8_t wr_kb_cmd(std::uint32_t command) {
    TraceScope trace("wr_kb_cmd( " + KbName(command, "&H") + " )");
    if (!WaitInputTaken(true))
        return 0;
    WritePortByte(kKbDataPort, command);

    std::uint8_t answer = 0;
    ControllerWait wait(kAckWait);
    do {
        if (ReadPortByte(kKbStatusPort) & kKbOutputFull) {
            answer = ReadPortByte(kKbDataPort);
            if (answer == kKbAck || answer == kKbSelfTestPassed)
                break;
            // Anything else (a resend request 0xFE, a stray key code) is noted and waited past.
            TraceLine("wr_kb_cmd: i= &H" + Hex(static_cast<unsigned>(wait.Count())) +
                      "  wr_kb_cmd= &H" + Hex(answer));
        }
    } while (wait.Poll());
    return answer;
}

void rd_kb_data(std::int16_t count) {
    TraceScope trace("rd_kb_data( " + std::to_string(count) + " )");
    auto& buffer = g.ps2.KbByteArray;
    for (int i = 0; i < count && i < static_cast<int>(buffer.size()); ++i) {
        buffer[i] = 0;
        ControllerWait wait(kByteWait);
        do {
            if (ReadPortByte(kKbStatusPort) & kKbOutputFull) {
                // Every byte is kept, but only a set-1 make code of the range decoded (1 to
                // 50) ends the wait; a key release or another code is overwritten by the next.
                buffer[i] = ReadPortByte(kKbDataPort);
                if (buffer[i] >= 1 && buffer[i] <= 50)
                    break;
            }
        } while (wait.Poll());
    }
}

bool ReadKbByte(std::uint8_t& byte) {
    ControllerWait wait(kByteWait);
    do {
        if (ReadPortByte(kKbStatusPort) & kKbOutputFull) {
            byte = ReadPortByte(kKbDataPort);
            return !g.ps2.PortFault;
        }
    } while (wait.Poll());
    return false;
}

bool ControllerUnusable() {
    return g.ps2.PortFault || g.ps2.InputStuck || g.ps2.NoController;
}

bool TakeController(std::uint8_t value, std::int16_t pauseMs, const std::string& message) {
    auto& readBack = g.ps2.KbByteArray[0];
    readBack = 0;
    int attempts = 0;
    g.ps2.NoController = false;
    if (ControllerUnusable())
        return false;
    if (!ControllerPresent()) {
        g.ps2.NoController = true;
        TraceLine(
            "--    status &HFF and no answer to cmd_ReadKbControllerCmdByte: "
            "no keyboard controller");
        return false;
    }
    MarkHeld(true);
    while (readBack != value) {
        wr_8042_cmd(cmd_WriteKbControllerCmdByte);
        Delay(pauseMs);
        wr_kb_8042_data(value);
        Delay(pauseMs);
        wr_8042_cmd(cmd_ReadKbControllerCmdByte);
        Delay(pauseMs);
        rd_kb_data(1);
        if (ControllerUnusable())
            return false;
        if (readBack != value && ++attempts > 5) {
            const int answer = platform::Current().dialogs->MsgBox(
                message + "\r\nKbByteArray(0) = &H" + Hex(readBack),
                platform::mb::kRetryCancel + platform::mb::kCritical, "RomPush Utility");
            if (answer != platform::mb::kAnswerRetry)
                EndProgramAfterCancel();
            attempts = 0;
        }
    }
    return true;
}

void ReleaseController() {
    if (!g.ps2.ControllerHeld)
        return;
    wr_8042_cmd(cmd_WriteKbControllerCmdByte);
    Delay(300);
    wr_kb_8042_data(kCommandByteReleased);
    MarkHeld(false);
    Delay(500);
}

void GiveControllerBackNow() {
    if (!g.ps2.ControllerHeld)
        return;
    // Each write waits until the controller has taken the one before; no events run, as the
    // program may be ending.
    WaitInputTaken(false);
    wr_8042_cmd(cmd_WriteKbControllerCmdByte);
    WaitInputTaken(false);
    wr_kb_8042_data(kCommandByteReleased);
    WaitInputTaken(false);
    MarkHeld(false);
}

void BeginDriverAccess(const std::string& failureMessage) {
    g.ps2.PortFault = false;
    g.ps2.InputStuck = false;
    g.ps2.NoController = false;
    g.cmd.UseWinIo = true;
    platform::KeyboardPorts* kb = Kb();
    g.ps2.WinIoOpen = kb != nullptr && kb->InitializeWinIo();
    if (!g.ps2.WinIoOpen) {
        platform::Current().dialogs->MsgBox(
            failureMessage, platform::mb::kCritical + platform::mb::kOk, "RomPush Utility");
        // Without port access the controller cannot be driven: the operation fails at once
        // rather than waiting on a controller it cannot see.
        MarkPortFault("InitializeWinIo");
    }
}

void EndDriverAccess() {
    if (platform::KeyboardPorts* kb = Kb())
        kb->ShutdownWinIo();
    g.ps2.WinIoOpen = false;
    g.cmd.UseWinIo = false;
}

void ShutdownKeyboardPort() {
    GiveControllerBackNow();
    EndDriverAccess();
}

KbSession::~KbSession() {
    try {
        GiveControllerBackNow();
        if (g.cmd.UseWinIo || g.ps2.WinIoOpen)
            EndDriverAccess();
    } catch (...) {
        // Unwinding already; the controller has been written to as far as it could be.
    }
}

}  // namespace rompush
