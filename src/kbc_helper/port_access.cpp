#include "kbc_helper/port_access.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define ROMPUSH_HAVE_IOPERM 1
#else
#define ROMPUSH_HAVE_IOPERM 0
#endif

namespace rompush::kbc {

PortAccess::PortAccess(const std::string& portFile, bool useIoperm) {
    std::string iopermRefused;
#if ROMPUSH_HAVE_IOPERM
    if (useIoperm) {
        ioperm_ = ioperm(0x60, 5, 1) == 0;
        if (!ioperm_)
            iopermRefused = std::string("ioperm: ") + std::strerror(errno) + "; ";
    }
#else
    (void)useIoperm;
#endif
    fd_ = open(portFile.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0)
        problem_ = iopermRefused + portFile + ": " + std::strerror(errno);
    // Short pauses between polls are not stretched by the default 50 us timer slack.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

PortAccess::~PortAccess() {
    if (fd_ >= 0)
        close(fd_);
}

bool PortAccess::Has(Provider provider) const {
    return fd_ >= 0 || (provider == Provider::Direct && ioperm_);
}

bool PortAccess::Read(Provider provider, std::uint8_t port, std::uint8_t& value) {
#if ROMPUSH_HAVE_IOPERM
    if (provider == Provider::Direct && ioperm_) {
        value = inb(port);
        return true;
    }
#else
    (void)provider;
#endif
    unsigned char byte = 0xFF;
    const bool ok = fd_ >= 0 && pread(fd_, &byte, 1, port) == 1;
    value = ok ? byte : 0xFF;
    return ok;
}

bool PortAccess::Write(Provider provider, std::uint8_t port, std::uint8_t value) {
#if ROMPUSH_HAVE_IOPERM
    if (provider == Provider::Direct && ioperm_) {
        outb(value, port);
        return true;
    }
#else
    (void)provider;
#endif
    return fd_ >= 0 && pwrite(fd_, &value, 1, port) == 1;
}

void PortAccess::Pause() {
    const timespec pause{0, 20000};
    nanosleep(&pause, nullptr);
}

std::int64_t PortAccess::NowUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace rompush::kbc
