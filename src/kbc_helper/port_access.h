// The keyboard controller's ports as rompush-kbc-helper reaches them on a PC: ioperm for ports
// 0x60 to 0x64 (inb/outb), and the kernel's port driver /dev/port opened read-write through the
// C library (a byte at the port's offset). Both are obtained once, at the helper's start,
// while it still holds its rights; the direct provider uses ioperm where the kernel granted
// it, else /dev/port, and the driver-backed provider always /dev/port.
#pragma once

#include <string>

#include "kbc_helper/kbc_service.h"

namespace rompush::kbc {

class PortAccess : public PortBackend {
  public:
    // portFile is the kernel's port driver; a test gives a plain file of at least 0x65 bytes
    // and no ioperm instead, so that it never touches a real controller.
    explicit PortAccess(const std::string& portFile = "/dev/port", bool useIoperm = true);
    ~PortAccess() override;
    PortAccess(const PortAccess&) = delete;
    PortAccess& operator=(const PortAccess&) = delete;

    bool Has(Provider provider) const override;
    std::string Problem() const override { return problem_; }
    bool Read(Provider provider, std::uint8_t port, std::uint8_t& value) override;
    bool Write(Provider provider, std::uint8_t port, std::uint8_t value) override;
    void Pause() override;
    std::int64_t NowUs() override;

  private:
    bool ioperm_ = false;
    int fd_ = -1;
    std::string problem_;
};

}  // namespace rompush::kbc
