// The driver's flags of an open serial device (TIOCGSERIAL/TIOCSSERIAL), where the port asks
// for low-latency mode: a USB serial adapter then hands on received bytes at once instead of
// holding them for its latency timer (16 ms on FTDI adapters), which a run of short
// request/answer exchanges pays on every answer. A user may change this flag on a port he can
// open; drivers without serial flags (a pseudo-terminal) refuse, and that is harmless.
#pragma once

#include <memory>
#include <string>

namespace rompush::platform::posix {

class LineControl {
  public:
    virtual ~LineControl() = default;
    // The flags word of the open device; false with the reason when the driver has none.
    virtual bool GetFlags(int fd, int& flags, std::string& why) = 0;
    // Replaces the flags word, every other setting of the driver kept.
    virtual bool SetFlags(int fd, int flags, std::string& why) = 0;
};

// The kernel's.
class KernelLineControl : public LineControl {
  public:
    bool GetFlags(int fd, int& flags, std::string& why) override;
    bool SetFlags(int fd, int flags, std::string& why) override;
};

// The flag the port sets (ASYNC_LOW_LATENCY).
int LowLatencyFlag();

}  // namespace rompush::platform::posix
