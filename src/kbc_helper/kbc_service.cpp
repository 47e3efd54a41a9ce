#include "kbc_helper/kbc_service.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace rompush::kbc {

namespace {

constexpr std::uint8_t kDataPort = 0x60;
constexpr std::uint8_t kStatusPort = 0x64;
constexpr std::uint8_t kInputFull = 0x02;
constexpr std::uint8_t kCmdReadCommandByte = 0x20;
constexpr std::uint8_t kCmdWriteCommandByte = 0x60;
constexpr std::uint8_t kCommandByteReleased = 0x47;
// A watch lasts at most this long, so the program's window keeps processing its events.
constexpr std::uint16_t kLongestWatchUs = 5000;
// How long a write's answer waits at most for the controller to take the byte.
constexpr std::int64_t kLongestTakeUs = 1000;

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

bool IsCommandByteWritten(std::uint8_t value) {
    return value == 0x60 || value == 0x20 || value == kCommandByteReleased;
}

volatile std::sig_atomic_t gEndRequested = 0;

extern "C" void OnTerminate(int) {
    gEndRequested = 1;
}

}  // namespace

Answer KbcService::Refuse(const std::string& what) {
    ++refusals_;
    std::fprintf(stderr, "rompush-kbc-helper: refused: %s\n", what.c_str());
    return {Result::Refused, 0, "refused: " + what};
}

Answer KbcService::Handle(const Request& r) {
    switch (r.op) {
        case Op::Hello: {
            const std::uint8_t usable = (ports_.Has(Provider::Direct) ? kHelloDirect : 0) |
                                        (ports_.Has(Provider::Driver) ? kHelloDriver : 0);
            return {Result::Ok, usable, ports_.Problem()};
        }
        case Op::Held:
            programHolds_ = r.value != 0;
            return {};
        case Op::GiveBack:
            GiveBack();
            return {};
        case Op::Read:
        case Op::Write:
        case Op::Watch:
            break;
        default:
            return Refuse("request " + Hex(static_cast<unsigned>(r.op)));
    }
    if (r.provider != Provider::Direct && r.provider != Provider::Driver)
        return Refuse("unknown port-access provider " + Hex(static_cast<unsigned>(r.provider)));
    if (r.port != kDataPort && r.port != kStatusPort)
        return Refuse("port " + Hex(r.port) + " (only 0x60 and 0x64 are served)");
    if (!ports_.Has(r.provider))
        return {Result::NoAccess, 0xFF, ports_.Problem()};
    switch (r.op) {
        case Op::Read: {
            std::uint8_t value = 0xFF;
            if (!ports_.Read(r.provider, r.port, value))
                return {Result::Failed, 0xFF, "reading port " + Hex(r.port) + " failed"};
            Answer answer{Result::Ok, value, ""};
            if (r.port == kDataPort)
                AddStatus(r.provider, answer);
            return answer;
        }
        case Op::Write: {
            Answer answer = Write(r);
            if (answer.result == Result::Ok) {
                // The program's next poll waits for the controller to take the byte: it
                // takes it within tens of microseconds, so the answer waits for that too.
                const std::int64_t until = ports_.NowUs() + kLongestTakeUs;
                AddStatus(r.provider, answer);
                while (answer.hasStatus && (answer.status & kInputFull) && ports_.NowUs() < until) {
                    ports_.Pause();
                    AddStatus(r.provider, answer);
                }
            }
            return answer;
        }
        default:
            return Watch(r);
    }
}

void KbcService::AddStatus(Provider provider, Answer& answer) {
    answer.hasStatus = ports_.Read(provider, kStatusPort, answer.status);
}

Answer KbcService::Write(const Request& r) {
    if (r.port == kStatusPort) {
        if (r.value != kCmdReadCommandByte && r.value != kCmdWriteCommandByte)
            return Refuse("controller command " + Hex(r.value) + " at port 0x64");
    } else if (expectCommandByte_ && !IsCommandByteWritten(r.value)) {
        return Refuse("command byte " + Hex(r.value) + " (only 0x60, 0x20 and 0x47 are written)");
    }
    // Counted as taken from the request on, whether or not the byte gets through.
    if (r.port == kStatusPort) {
        expectCommandByte_ = r.value == kCmdWriteCommandByte;
    } else if (expectCommandByte_) {
        expectCommandByte_ = false;
        commandByteTaken_ = r.value != kCommandByteReleased;
    }
    if (!ports_.Write(r.provider, r.port, r.value))
        return {Result::Failed, 0, "writing port " + Hex(r.port) + " failed"};
    return {};
}

Answer KbcService::Watch(const Request& r) {
    if (r.port != kStatusPort)
        return Refuse("watch of port " + Hex(r.port));
    const std::int64_t until =
        ports_.NowUs() + (r.watchUs < kLongestWatchUs ? r.watchUs : kLongestWatchUs);
    std::uint8_t value = 0xFF;
    for (;;) {
        if (!ports_.Read(r.provider, r.port, value))
            return {Result::Failed, 0xFF, "reading port 0x64 failed"};
        if (value != r.value || ports_.NowUs() >= until)
            return {Result::Ok, value, ""};
        ports_.Pause();
    }
}

bool KbcService::WaitInputTaken() {
    const Provider p = ports_.Has(Provider::Direct) ? Provider::Direct : Provider::Driver;
    const std::int64_t until = ports_.NowUs() + 100000;
    std::uint8_t status = 0;
    while (ports_.Read(p, kStatusPort, status) && (status & kInputFull)) {
        if (ports_.NowUs() >= until)
            return false;
        ports_.Pause();
    }
    return true;
}

void KbcService::GiveBack() {
    if (!Taken())
        return;
    const Provider p = ports_.Has(Provider::Direct) ? Provider::Direct : Provider::Driver;
    if (!ports_.Has(p))
        return;
    WaitInputTaken();
    ports_.Write(p, kStatusPort, kCmdWriteCommandByte);
    WaitInputTaken();
    ports_.Write(p, kDataPort, kCommandByteReleased);
    WaitInputTaken();
    expectCommandByte_ = false;
    commandByteTaken_ = false;
    programHolds_ = false;
}

bool TakeProgramSocket() {
    int type = 0;
    socklen_t size = sizeof type;
    if (getsockopt(kHelperSocketFd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 ||
        type != SOCK_SEQPACKET)
        return false;
    close_range(kHelperSocketFd + 1, ~0U, 0);
    setsid();
    return true;
}

void Serve(int fd, KbcService& service) {
    // The helper lives as long as its program: a terminal's Ctrl+C or hang-up ends the program,
    // whose socket then closes; SIGTERM ends the helper after the give-back.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction term {};
    term.sa_handler = OnTerminate;  // no SA_RESTART: the wait for a request ends
    sigemptyset(&term.sa_mask);
    sigaction(SIGTERM, &term, nullptr);

    unsigned char in[kRequestSize + 1];
    unsigned char out[kMaxAnswerSize];
    while (!gEndRequested) {
        const ssize_t n = recv(fd, in, sizeof in, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // the program has gone
        Answer answer;
        if (static_cast<std::size_t>(n) != kRequestSize) {
            answer = service.Refuse("a request of " + std::to_string(n) + " bytes");
        } else {
            unsigned char exact[kRequestSize];
            std::memcpy(exact, in, kRequestSize);
            answer = service.Handle(DecodeRequest(exact));
        }
        const std::size_t size = Encode(answer, out);
        if (send(fd, out, size, MSG_NOSIGNAL) < 0 && errno != EINTR)
            break;
    }
    service.GiveBack();
}

bool DropPrivileges(std::string& why) {
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
        why = std::string("clearing the ambient capabilities: ") + std::strerror(errno);
        return false;
    }
    if (syscall(SYS_capset, &header, data) != 0) {
        why = std::string("capset: ") + std::strerror(errno);
        return false;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        why = std::string("no-new-privileges: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace rompush::kbc
