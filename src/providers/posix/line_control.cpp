#include "providers/posix/line_control.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace rompush::platform::posix {

int LowLatencyFlag() {
    return ASYNC_LOW_LATENCY;
}

bool KernelLineControl::GetFlags(int fd, int& flags, std::string& why) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) {
        why = std::strerror(errno);
        return false;
    }
    flags = info.flags;
    return true;
}

bool KernelLineControl::SetFlags(int fd, int flags, std::string& why) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 ||
        (info.flags = flags, ::ioctl(fd, TIOCSSERIAL, &info) != 0)) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace rompush::platform::posix
