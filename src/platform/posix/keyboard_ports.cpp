#include "platform/posix/keyboard_ports.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define ROMPUSH_HAVE_IOPERM 1
#else
#define ROMPUSH_HAVE_IOPERM 0
#endif

namespace rompush::platform::posix {

namespace {

constexpr std::uint16_t kDataPort = 0x60;
constexpr std::uint16_t kStatusPort = 0x64;
constexpr int kGiveBackSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What the signal handler may use to give the controller back: a port file descriptor or
// ioperm. Written by the program, read by the handler only.
volatile std::sig_atomic_t gGiveBackFd = -1;
volatile std::sig_atomic_t gGiveBackIoperm = 0;
struct sigaction gPrevious[3];
bool gHandlersInstalled = false;

// Async-signal-safe from here to the handler: pread, pwrite, nanosleep, inb, outb.
int ReadPortRaw(std::uint16_t port) {
#if ROMPUSH_HAVE_IOPERM
    if (gGiveBackIoperm)
        return inb(port);
#endif
    unsigned char byte = 0xFF;
    if (gGiveBackFd >= 0 && pread(gGiveBackFd, &byte, 1, port) == 1)
        return byte;
    return -1;
}

void WritePortRaw(std::uint16_t port, unsigned char value) {
#if ROMPUSH_HAVE_IOPERM
    if (gGiveBackIoperm) {
        outb(value, port);
        return;
    }
#endif
    if (gGiveBackFd >= 0) {
        const ssize_t written = pwrite(gGiveBackFd, &value, 1, port);
        (void)written;  // nothing more can be done about it here
    }
}

// Writes once the controller has taken the previous byte (status bit 1 clear), waiting at
// most about 100 ms for it.
void WriteWhenReady(std::uint16_t port, unsigned char value) {
    for (int i = 0; i < 5000; ++i) {
        const int status = ReadPortRaw(kStatusPort);
        if (status < 0 || !(status & 0x02))
            break;
        const timespec pause{0, 20000};
        nanosleep(&pause, nullptr);
    }
    WritePortRaw(port, value);
}

extern "C" void GiveBackAndEnd(int signal) {
    WriteWhenReady(kStatusPort, 0x60);
    WriteWhenReady(kDataPort, 0x47);
    // End the program as the signal would have: its default action, once this handler
    // returns and the signal is no longer blocked.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signal, &dfl, nullptr);
    raise(signal);
}

void InstallGiveBack() {
    if (gHandlersInstalled)
        return;
    struct sigaction action {};
    action.sa_handler = GiveBackAndEnd;
    sigemptyset(&action.sa_mask);
    for (int s : kGiveBackSignals)
        sigaddset(&action.sa_mask, s);  // one give-back at a time
    for (int i = 0; i < 3; ++i)
        sigaction(kGiveBackSignals[i], &action, &gPrevious[i]);
    gHandlersInstalled = true;
}

void RemoveGiveBack() {
    if (!gHandlersInstalled)
        return;
    for (int i = 0; i < 3; ++i)
        sigaction(kGiveBackSignals[i], &gPrevious[i], nullptr);
    gHandlersInstalled = false;
}

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

PosixKeyboardPorts::PosixKeyboardPorts(std::string portFile, bool useIoperm)
    : portFile_(std::move(portFile)), useIoperm_(useIoperm) {}

PosixKeyboardPorts::~PosixKeyboardPorts() {
    SetControllerHeld(false);
    if (winIoFd_ >= 0)
        close(winIoFd_);
    if (directFd_ >= 0)
        close(directFd_);
}

// Tells the signal handler which access is open: the driver-backed one first.
void PosixKeyboardPorts::PublishAccess() const {
    gGiveBackIoperm = winIoFd_ < 0 && direct_ == Direct::Ioperm;
    gGiveBackFd = winIoFd_ >= 0 ? winIoFd_ : directFd_;
}

bool PosixKeyboardPorts::InitializeWinIo() {
    if (winIoFd_ < 0) {
        winIoFd_ = open(portFile_.c_str(), O_RDWR | O_CLOEXEC);
        if (winIoFd_ < 0)
            lastError_ = Reason(portFile_);
        PublishAccess();
    }
    return winIoFd_ >= 0;
}

void PosixKeyboardPorts::ShutdownWinIo() {
    if (winIoFd_ < 0)
        return;
    const int fd = winIoFd_;
    winIoFd_ = -1;
    PublishAccess();
    close(fd);
}

bool PosixKeyboardPorts::GetPortVal(std::uint16_t port, std::uint32_t& value, int size) {
    value = 0xFF;
    if (winIoFd_ < 0 || size != 1)
        return false;
    unsigned char byte = 0;
    if (pread(winIoFd_, &byte, 1, port) != 1) {
        lastError_ = Reason(portFile_);
        return false;
    }
    value = byte;
    return true;
}

bool PosixKeyboardPorts::SetPortVal(std::uint16_t port, std::uint32_t value, int size) {
    if (winIoFd_ < 0 || size != 1)
        return false;
    const unsigned char byte = static_cast<unsigned char>(value);
    if (pwrite(winIoFd_, &byte, 1, port) != 1) {
        lastError_ = Reason(portFile_);
        return false;
    }
    return true;
}

void PosixKeyboardPorts::ObtainDirect() {
    if (direct_ != Direct::Untried)
        return;
    std::string why;
#if ROMPUSH_HAVE_IOPERM
    if (useIoperm_) {
        if (ioperm(kDataPort, kStatusPort - kDataPort + 1, 1) == 0) {
            direct_ = Direct::Ioperm;
            PublishAccess();
            return;
        }
        why = Reason("ioperm") + "; ";
    }
#else
    (void)useIoperm_;
#endif
    directFd_ = open(portFile_.c_str(), O_RDWR | O_CLOEXEC);
    if (directFd_ >= 0) {
        direct_ = Direct::PortFile;
    } else {
        direct_ = Direct::None;
        lastError_ = why + Reason(portFile_);
    }
    PublishAccess();
}

bool PosixKeyboardPorts::DirectAccess() {
    ObtainDirect();
    return direct_ != Direct::None;
}

std::uint16_t PosixKeyboardPorts::Inp32(std::uint16_t port) {
    ObtainDirect();
    switch (direct_) {
#if ROMPUSH_HAVE_IOPERM
        case Direct::Ioperm:
            return inb(port);
#endif
        case Direct::PortFile: {
            unsigned char byte = 0xFF;
            if (pread(directFd_, &byte, 1, port) != 1)
                return 0xFF;
            return byte;
        }
        default:
            return 0xFF;
    }
}

void PosixKeyboardPorts::Out32(std::uint16_t port, std::uint16_t value) {
    ObtainDirect();
    const unsigned char byte = static_cast<unsigned char>(value);
    switch (direct_) {
#if ROMPUSH_HAVE_IOPERM
        case Direct::Ioperm:
            outb(byte, port);
            return;
#endif
        case Direct::PortFile: {
            const ssize_t written = pwrite(directFd_, &byte, 1, port);
            (void)written;  // the direct provider reports nothing
            return;
        }
        default:
            return;
    }
}

void PosixKeyboardPorts::SetControllerHeld(bool held) {
    held_ = held;
    if (held) {
        PublishAccess();
        InstallGiveBack();
    } else {
        RemoveGiveBack();
    }
}

void PosixKeyboardPorts::PollPause() {
    PauseMicroseconds(20);
}

void PauseMicroseconds(std::int64_t us) {
    static const bool slackLowered = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)slackLowered;
    const timespec pause{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    nanosleep(&pause, nullptr);
}

}  // namespace rompush::platform::posix
