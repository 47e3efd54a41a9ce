#include "providers/posix/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

namespace rompush::platform::posix {

namespace {

constexpr const char* kPermissionDenied = "permission denied";

struct Speed {
    int baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(int baud, speed_t& code) {
    for (const Speed& speed : kSpeeds) {
        if (speed.baud == baud) {
            code = speed.code;
            return true;
        }
    }
    return false;
}

bool AllDigits(const std::string& text) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Why an open failed, in the words the trace shows.
std::string OpenFailure(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case EIO:
        case ENOTDIR:
            return "no such device";
        case EBUSY:
        case EWOULDBLOCK:
            return "in use by another program";
        case EACCES:
        case EPERM:
        case EROFS:
            return kPermissionDenied;
        default:
            return std::strerror(error);
    }
}

// Opens a serial device as the port does: exclusively, raw terminal calls possible. TIOCEXCL
// keeps other programs from opening the device (except a privileged one), the lock keeps out
// every program that asks for it, a second RomPush included. -1 with the reason when it
// cannot be had.
int OpenDevice(const std::string& path, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = OpenFailure(errno);
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        why = OpenFailure(error == EWOULDBLOCK ? EBUSY : error);
        return -1;
    }
    termios probe{};
    if (::tcgetattr(fd, &probe) != 0) {
        ::close(fd);
        why = "not a serial device";
        return -1;
    }
    return fd;
}

}  // namespace

LineSettings ParseSettings(const std::string& settings) {
    std::vector<std::string> fields;
    std::stringstream in(settings);
    std::string field;
    while (std::getline(in, field, ','))
        fields.push_back(Trim(field));
    if (!settings.empty() && settings.back() == ',')
        fields.push_back("");
    if (fields.size() != 4)
        throw PlatformError("Invalid setting: " + settings);

    LineSettings line;
    speed_t code{};
    if (!AllDigits(fields[0]) || !SpeedCode(std::stoi(fields[0]), code)) {
        throw PlatformError("Invalid baud rate: " + settings);
    }
    line.baud = std::stoi(fields[0]);
    if (fields[1].size() != 1)
        throw PlatformError("Invalid parity: " + settings);
    line.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(fields[1][0])));
    if (line.parity != 'N' && line.parity != 'O' && line.parity != 'E') {
        throw PlatformError("Invalid parity: " + settings);
    }
    if (fields[2] != "5" && fields[2] != "6" && fields[2] != "7" && fields[2] != "8") {
        throw PlatformError("Invalid data bits: " + settings);
    }
    line.dataBits = fields[2][0] - '0';
    if (fields[3] != "1" && fields[3] != "2")
        throw PlatformError("Invalid stop bits: " + settings);
    line.stopBits = fields[3][0] - '0';
    return line;
}

PosixSerialPort::PosixSerialPort(PortMap map, std::shared_ptr<LineControl> control)
    : map_(std::move(map)), control_(std::move(control)) {}

PosixSerialPort::~PosixSerialPort() {
    CloseFd();
}

void PosixSerialPort::SetCommPort(int number) {
    if (open_)
        throw PlatformError("Port already open");
    if (number < 1 || number > 255)
        throw PlatformError("Invalid port number");
    number_ = number;
}

void PosixSerialPort::SetSettings(const std::string& settings) {
    ParseSettings(settings);  // throws and keeps the old settings when malformed
    settings_ = settings;
    if (fd_ >= 0)
        ApplySettings();
}

void PosixSerialPort::SetHandshaking(int mode) {
    if (mode < 0 || mode > 2)
        throw PlatformError("Invalid handshaking");
    handshaking_ = mode;
    if (fd_ >= 0)
        ApplySettings();
}

void PosixSerialPort::SetFdWatcher(std::function<void(int fd)> watcher) {
    fdWatcher_ = std::move(watcher);
    NotifyWatcher();
}

void PosixSerialPort::NotifyWatcher() {
    if (fdWatcher_)
        fdWatcher_(fd_);
}

void PosixSerialPort::SetPortOpen(bool open) {
    if (!open) {
        CloseFd();
        open_ = false;
        lost_ = false;
        buffer_.clear();
        unannounced_ = 0;
        return;
    }
    if (open_)
        throw PlatformError("Port already open");

    const std::string name = "COM" + std::to_string(number_);
    const std::string path = map_.DevicePath(number_);
    if (path.empty()) {
        lastError_ = name + ": no such device";
        throw PlatformError(lastError_);
    }
    std::string why;
    const int fd = OpenDevice(path, why);
    if (fd < 0) {
        lastError_ = name + " (" + path + "): " + WithOwner(path, why);
        throw PlatformError(lastError_);
    }

    ::ioctl(fd, TIOCEXCL);

    fd_ = fd;
    path_ = path;
    try {
        ApplySettings();
    } catch (const PlatformError& e) {
        CloseFd();
        lastError_ = name + " (" + path + "): " + e.what();
        throw;
    }
    EnterLowLatency();
    ::tcflush(fd_, TCIOFLUSH);  // nothing from before the open is received
    open_ = true;
    lost_ = false;
    buffer_.clear();
    unannounced_ = 0;
    readProgress_ = false;
    lastError_.clear();
    NotifyWatcher();
}

termios MakeTermios(const termios& current, const std::string& settings, int handshaking) {
    const LineSettings line = ParseSettings(settings);
    termios tio = current;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    switch (line.dataBits) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        default:
            tio.c_cflag |= CS8;
            break;
    }
    if (line.parity == 'O')
        tio.c_cflag |= PARENB | PARODD;
    if (line.parity == 'E')
        tio.c_cflag |= PARENB;
    if (line.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (handshaking == 1)
        tio.c_iflag |= IXON | IXOFF;
    if (handshaking == 2)
        tio.c_cflag |= CRTSCTS;
    // With O_NONBLOCK, VMIN 1 makes an empty read fail with EAGAIN, so a read of 0 bytes
    // can only mean the device hung up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    speed_t code{};
    SpeedCode(line.baud, code);
    ::cfsetispeed(&tio, code);
    ::cfsetospeed(&tio, code);
    return tio;
}

void PosixSerialPort::ApplySettings() {
    termios current{};
    if (::tcgetattr(fd_, &current) != 0)
        throw PlatformError(std::strerror(errno));
    const termios tio = MakeTermios(current, settings_, handshaking_);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0)
        throw PlatformError(std::strerror(errno));
}

void PosixSerialPort::EnterLowLatency() {
    restoreFlags_ = false;
    int flags = 0;
    std::string why;
    const std::string device = path_ + ": low-latency mode ";
    if (!control_ || !control_->GetFlags(fd_, flags, why)) {
        latencyNote_ = device + "not offered by the driver (" + why + ")";
        return;
    }
    if (flags & LowLatencyFlag()) {
        latencyNote_ = device + "already on";
        return;
    }
    if (!control_->SetFlags(fd_, flags | LowLatencyFlag(), why)) {
        latencyNote_ = device + "refused by the driver (" + why + ")";
        return;
    }
    savedFlags_ = flags;
    restoreFlags_ = true;
    latencyNote_ = device + "set";
}

std::string PosixSerialPort::WithOwner(const std::string& path, const std::string& why) const {
    if (why != kPermissionDenied)
        return why;
    const std::string group = map_.DescribeDevice(path).group;
    return group.empty() ? why : why + " (the device belongs to group " + group + ")";
}

bool PosixSerialPort::Probe(int number, std::string& why) {
    const std::string path = map_.DevicePath(number);
    if (path.empty()) {
        why = "no such device";
        return false;
    }
    if (open_ && number == number_ && path == path_) {
        // Our own port: there while its device is. (Mapped to another device meanwhile, that
        // one is tried as any other.)
        why = lost_ ? "device vanished" : "";
        return why.empty();
    }
    const int fd = OpenDevice(path, why);
    if (fd < 0) {
        why = WithOwner(path, why);
        return false;
    }
    ::close(fd);
    why.clear();
    return true;
}

void PosixSerialPort::CloseFd() {
    if (fd_ < 0)
        return;
    // What was written goes out before the port closes; a line that flow control holds, or a
    // device that has stopped reading, keeps the port from closing only for a moment, after
    // which the rest is dropped (the close would otherwise wait half a minute for it).
    constexpr int kDrainMs = 500, kDrainStepMs = 10;
    int pending = 0;
    for (int waited = 0; waited < kDrainMs; waited += kDrainStepMs) {
        if (::ioctl(fd_, TIOCOUTQ, &pending) != 0 || pending <= 0)
            break;
        ::usleep(kDrainStepMs * 1000);
    }
    if (pending > 0)
        ::tcflush(fd_, TCOFLUSH);
    if (restoreFlags_) {
        // The driver's flags as they were before the port was opened.
        std::string ignored;
        control_->SetFlags(fd_, savedFlags_, ignored);
        restoreFlags_ = false;
    }
    ::close(fd_);  // also releases the lock
    fd_ = -1;
    NotifyWatcher();
}

void PosixSerialPort::MarkLost(const std::string& why) {
    lost_ = true;
    lastError_ = "COM" + std::to_string(number_) + " (" + path_ + "): " + why;
    buffer_.clear();
    unannounced_ = 0;
    // The descriptor goes: a hung-up device would keep an event loop awake for nothing.
    CloseFd();
}

int PosixSerialPort::Drain() {
    if (fd_ < 0)
        return 0;
    int total = 0;
    std::uint8_t chunk[512];
    for (;;) {
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            buffer_.insert(buffer_.end(), chunk, chunk + n);
            total += static_cast<int>(n);
            continue;
        }
        if (n == 0) {
            MarkLost("device vanished");
            return total;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        MarkLost(std::strerror(errno));
        return total;
    }
    // Nothing more to read: a hang-up or error condition means the device is gone.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) &&
        !(p.revents & POLLIN)) {
        MarkLost("device vanished");
    }
    unannounced_ += total;
    return total;
}

int PosixSerialPort::InBufferCount() {
    if (!open_ || lost_)
        return 0;
    Drain();
    return static_cast<int>(buffer_.size());
}

std::string PosixSerialPort::Input() {
    std::string out;
    if (!open_ || lost_)
        return out;
    if (buffer_.empty())
        Drain();
    const std::size_t limit = inputLen_ > 0 ? static_cast<std::size_t>(inputLen_) : buffer_.size();
    while (!buffer_.empty() && out.size() < limit) {
        out.push_back(static_cast<char>(buffer_.front()));
        buffer_.pop_front();
    }
    if (!out.empty())
        readProgress_ = true;
    return out;
}

int PosixSerialPort::Write(const std::string& bytes) {
    if (!open_ || lost_ || fd_ < 0)
        return -1;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The transmit buffer is full: the caller waits for room, processing events.
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                MarkLost("device vanished");
                return -1;
            }
            break;
        }
        MarkLost(n < 0 ? std::strerror(errno) : "device vanished");
        return -1;
    }
    return static_cast<int>(done);
}

void PosixSerialPort::DiscardOutput() {
    if (fd_ >= 0)
        ::tcflush(fd_, TCOFLUSH);
}

void PosixSerialPort::OnReadable() {
    if (!open_ || lost_)
        return;
    Drain();
    const int events = unannounced_;
    unannounced_ = 0;
    if (rThreshold_ != 1 || !onComm_)
        return;
    for (int i = 0; i < events && open_ && !lost_; ++i)
        onComm_();
}

bool PosixSerialPort::TakeReadProgress() {
    const bool progress = readProgress_;
    readProgress_ = false;
    return progress;
}

}  // namespace rompush::platform::posix
