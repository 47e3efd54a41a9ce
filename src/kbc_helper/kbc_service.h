// The request loop of rompush-kbc-helper: what it lets the program do with the keyboard
// controller, and the controller given back when the program goes away while it holds it.
//
// Only ports 0x60 and 0x64 are reached. Of the controller commands (port 0x64) only those the
// program uses pass: 0x20 (read the command byte) and 0x60 (write it); the byte that follows a
// 0x60 must be one of the command bytes the program writes (0x60, 0x20, 0x47). Any other byte
// at port 0x60 goes to the keyboard-port device. Everything else (a reset, the output port,
// A20, another port) is refused: answered as such and reported on standard error.
#pragma once

#include <cstdint>
#include <string>

#include "providers/posix/kbc_protocol.h"

namespace rompush::kbc {

// The ports as the helper reaches them: the real controller, or in tests a simulated one.
class PortBackend {
  public:
    virtual ~PortBackend() = default;
    virtual bool Has(Provider provider) const = 0;
    // Why a provider cannot be used (empty when both can).
    virtual std::string Problem() const = 0;
    virtual bool Read(Provider provider, std::uint8_t port, std::uint8_t& value) = 0;
    virtual bool Write(Provider provider, std::uint8_t port, std::uint8_t value) = 0;
    // The pause between two polls of the status port (about 20 us).
    virtual void Pause() = 0;
    // Microseconds on a monotonic clock.
    virtual std::int64_t NowUs() = 0;
};

class KbcService {
  public:
    explicit KbcService(PortBackend& ports) : ports_(ports) {}

    Answer Handle(const Request& request);

    // True while the controller may be left with interrupts off: a command byte other than
    // 0x47 written, a 0x60 command waiting for its byte, or the program said it holds it.
    bool Taken() const { return commandByteTaken_ || expectCommandByte_ || programHolds_; }
    // Command 0x60, then command byte 0x47, each once the controller has taken the byte before
    // (status bit 1 clear, waited for at most about 100 ms).
    void GiveBack();

    // Answers a request as refused, and reports it on standard error.
    Answer Refuse(const std::string& what);
    // Requests refused so far.
    int Refusals() const { return refusals_; }

  private:
    Answer Write(const Request& request);
    Answer Watch(const Request& request);
    // The status read after the access, for the program's next poll.
    void AddStatus(Provider provider, Answer& answer);
    bool WaitInputTaken();

    PortBackend& ports_;
    bool expectCommandByte_ = false;
    bool commandByteTaken_ = false;
    bool programHolds_ = false;
    int refusals_ = 0;
};

// The helper's start: its program's socket at kHelperSocketFd (false when there is none),
// every other descriptor it inherited closed, and a session of its own (out of the terminal's
// process group: Ctrl+C ends the program, and the helper ends after it has given the
// controller back).
bool TakeProgramSocket();

// Serves the program on socket fd until it goes away (end of file, a broken socket) or the
// helper is asked to end (SIGTERM); then gives the controller back when taken.
void Serve(int fd, KbcService& service);

// Ends the helper's hold on its rights: every capability given up (effective, permitted,
// inheritable, ambient) and no new ones by exec (no-new-privileges). False, with the reason,
// when that fails: the helper then serves nothing.
bool DropPrivileges(std::string& why);

}  // namespace rompush::kbc
