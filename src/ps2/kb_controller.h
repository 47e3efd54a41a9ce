// The PC's keyboard controller (8042) as the keyboard-port devices are reached through it:
// the choice of port-access provider, the byte routines, the two controller sequences that
// open and close every keyboard-port operation, and the waits on the controller.
#pragma once

#include <cstdint>
#include <string>

namespace rompush {

constexpr std::uint16_t kKbDataPort = 0x60;
constexpr std::uint16_t kKbStatusPort = 0x64;
constexpr std::uint8_t kKbOutputFull = 0x01;  // status bit 0: a byte waits at port 0x60
constexpr std::uint8_t kKbInputFull = 0x02;   // status bit 1: the last byte is not yet taken

constexpr std::uint8_t cmd_ReadKbControllerCmdByte = 0x20;
constexpr std::uint8_t cmd_WriteKbControllerCmdByte = 0x60;
constexpr std::uint8_t cmd_GetRevSwType = 0xDD;
constexpr std::uint8_t kKbAck = 0xFA;
constexpr std::uint8_t kKbSelfTestPassed = 0xAA;
// Command byte at the end of every operation: translation, system flag, both interrupts on.
constexpr std::uint8_t kCommandByteReleased = 0x47;

// Every wait on the controller lasts its poll count AND a minimum time. The counts were set
// on far slower PCs, where they took long enough for a PS/2 device; today they pass in a few
// milliseconds, so each wait also lasts at least the time a PS/2 device may take. A PS/2 byte
// takes about 1 ms on the wire and a device answers a command within 20 ms.
// A poll is meant to last one poll pause (about 20 us). Where a poll takes longer (a busy
// window, a loaded PC), a wait also ends once its polls would have taken that long at the
// meant pace and its minimum time has passed: a wait that runs out in full (the read-back
// of command byte 0x60, the identity's entries after the space) then lasts its minimum time
// on any PC instead of stretching to seconds.
struct KbWaitFigures {
    int polls;
    int minMs;
};
constexpr int kPollMeantUs = 20;
// The controller takes a written byte within microseconds, or fails its transfer to the
// device within about 15 ms; still full after this, the controller is stuck.
constexpr KbWaitFigures kInputBufferWait{2047, 50};
// A device acknowledges a byte within 20 ms.
constexpr KbWaitFigures kAckWait{2047, 25};
// One received byte: a key stroke of the typed identity, a configuration byte, the CRC
// verdict. A device types more slowly than it acknowledges.
constexpr KbWaitFigures kByteWait{3968, 100};

// Start-up: the direct provider until an operation switches to the driver-backed one.
void cmdDetectOS();

// One byte from or to an I/O port through the provider UseWinIo selects. A provider that
// cannot reach the port marks the controller unusable (PortFault) so that no wait lingers.
std::uint8_t ReadPortByte(std::uint16_t port);
void WritePortByte(std::uint16_t port, std::uint32_t value);

bool wr_8042_cmd(std::uint32_t command);
void wr_kb_8042_data(std::uint32_t value);
// Sends one byte to the device and waits for 0xFA (or 0xAA); returns the last byte received,
// 0 when none. Nothing is sent when the controller never takes the byte (InputStuck).
std::uint8_t wr_kb_cmd(std::uint32_t command);
// Receives count bytes into KbByteArray(0 .. count - 1); only 1 to 50 ends an entry's wait.
void rd_kb_data(std::int16_t count);

// Waits, within kByteWait, for a byte at port 0x60 and reads it. False when none came.
bool ReadKbByte(std::uint8_t& byte);

// Switches interrupts off with the command byte `value` and checks that the controller took
// it; after six failed attempts the operator is asked (Retry/Cancel; Cancel ends the
// program with the controller given back). False, with nothing held, when the ports cannot
// be reached, the controller never takes a byte, or the PC has no keyboard controller
// (NoController: status 0xFF and no answer to 0x20; found at once, nobody is asked).
bool TakeController(std::uint8_t value, std::int16_t pauseMs, const std::string& message);
// Gives the controller back (command byte 0x47) when the program holds it.
void ReleaseController();
// The same without pauses or event processing, for the program's end and for unwinding.
void GiveControllerBackNow();

// UseWinIo True and the driver-backed provider initialised (message on failure), or back.
void BeginDriverAccess(const std::string& failureMessage);
void EndDriverAccess();

// The ports cannot be reached, the controller does not take bytes or there is none: the
// operation fails.
bool ControllerUnusable();

// The main window's shut-down: the controller given back when held, the provider shut down.
void ShutdownKeyboardPort();

// Held by each keyboard-port operation: whatever way it is left (an error, the program
// ending during a wait), the controller is given back and the provider shut down.
class KbSession {
  public:
    KbSession() = default;
    ~KbSession();
    KbSession(const KbSession&) = delete;
    KbSession& operator=(const KbSession&) = delete;
};

}  // namespace rompush
