#include "providers/posix/keyboard_ports.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

extern char** environ;

namespace rompush::platform::posix {

namespace {

using kbc::Answer;
using kbc::Op;
using kbc::Provider;
using kbc::Request;
using kbc::Result;

constexpr std::uint16_t kStatusPort = 0x64;
constexpr std::uint16_t kWatchUs = 1000;
// A status read by the helper stands for the program's next poll only if that poll follows
// within this time.
constexpr std::int64_t kFreshPrefetchUs = 200;
constexpr int kGiveBackSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The helper's socket, for the signal handler's give-back request. Written by the program,
// read by the handler only.
volatile std::sig_atomic_t gGiveBackFd = -1;
struct sigaction gPrevious[3];
bool gHandlersInstalled = false;

extern "C" void GiveBackAndEnd(int signal) {
    if (gGiveBackFd >= 0) {
        // send is async-signal-safe; the helper answers the request in flight first, then
        // gives the controller back, and it does so again when the socket closes.
        unsigned char request[kbc::kRequestSize];
        kbc::Encode(Request{Op::GiveBack, Provider::Direct, 0, 0, 0}, request);
        const ssize_t sent = send(gGiveBackFd, request, sizeof request, MSG_NOSIGNAL);
        (void)sent;  // nothing more can be done about it here
    }
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

std::int64_t MonotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The helper beside the running executable (rompush and rompush-cli are installed together
// with it), unless the environment names another.
std::string HelperBesideExecutable() {
    if (const char* named = std::getenv("ROMPUSH_KBC_HELPER"); named && *named)
        return named;
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::path(".") : exe.parent_path()) / "rompush-kbc-helper";
}

}  // namespace

PosixKeyboardPorts::PosixKeyboardPorts(std::string helperPath)
    : helperPath_(std::move(helperPath)) {}

PosixKeyboardPorts::~PosixKeyboardPorts() {
    SetControllerHeld(false);
    if (fd_ >= 0) {
        gGiveBackFd = -1;
        close(fd_);  // the helper ends once it has read the end of its socket
    }
    if (pid_ > 0) {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool PosixKeyboardPorts::Started() {
    if (state_ != State::Unstarted)
        return state_ == State::Serving;
    state_ = State::Gone;
    const std::string path = helperPath_.empty() ? HelperBesideExecutable() : helperPath_;
    if (access(path.c_str(), X_OK) != 0) {
        lastError_ = Reason("keyboard-port helper " + path);
        return false;
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        lastError_ = Reason("socketpair");
        return false;
    }
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_ = fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls between fork and exec (the window has threads).
        if (pair[1] == kbc::kHelperSocketFd)
            fcntl(pair[1], F_SETFD, 0);
        else
            dup2(pair[1], kbc::kHelperSocketFd);
        execve(path.c_str(), argv, environ);
        _exit(127);
    }
    close(pair[1]);
    if (pid_ < 0) {
        lastError_ = Reason("starting " + path);
        close(pair[0]);
        return false;
    }
    fd_ = pair[0];
    state_ = State::Serving;
    Answer hello;
    if (!Call(Request{Op::Hello, Provider::Direct, 0, 0, 0}, hello))
        return false;
    direct_ = (hello.value & kbc::kHelloDirect) != 0;
    driver_ = (hello.value & kbc::kHelloDriver) != 0;
    if (!hello.text.empty())
        lastError_ = hello.text;
    return true;
}

void PosixKeyboardPorts::Lost(const std::string& why) {
    lastError_ = "keyboard-port helper " + why;
    state_ = State::Gone;
    direct_ = driver_ = winIoOpen_ = false;
    gGiveBackFd = -1;
    close(fd_);
    fd_ = -1;
}

bool PosixKeyboardPorts::Call(const Request& request, Answer& answer) {
    if (state_ != State::Serving)
        return false;
    unsigned char out[kbc::kRequestSize];
    kbc::Encode(request, out);
    ssize_t n = 0;
    do {
        n = send(fd_, out, sizeof out, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof out)) {
        Lost(Reason("gone"));
        return false;
    }
    unsigned char in[kbc::kMaxAnswerSize];
    do {
        n = recv(fd_, in, sizeof in, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        int status = 0;
        if (waitpid(pid_, &status, 0) == pid_) {
            pid_ = -1;
            Lost(WIFEXITED(status) && WEXITSTATUS(status) == 127
                     ? "could not be started"
                     : "ended (status " + std::to_string(status) + ")");
        } else {
            Lost("ended");
        }
        return false;
    }
    answer = kbc::DecodeAnswer(in, static_cast<std::size_t>(n));
    if (answer.result != Result::Ok && !answer.text.empty())
        lastError_ = answer.text;
    return answer.result == Result::Ok;
}

// A status the helper read for the next poll: kept while the poll it stands for follows at
// once (a pause of the program, a Delay, drops it).
void PosixKeyboardPorts::Prefetch(Provider provider, std::uint8_t status) {
    prefetched_ = true;
    prefetchedStatus_ = status;
    prefetchedProvider_ = provider;
    prefetchedAtUs_ = MonotonicUs();
}

std::uint8_t PosixKeyboardPorts::ReadPort(Provider provider, std::uint16_t port, bool& ok) {
    if (port == kStatusPort && prefetched_ && provider == prefetchedProvider_ &&
        MonotonicUs() - prefetchedAtUs_ <= kFreshPrefetchUs) {
        prefetched_ = false;
        lastStatus_ = prefetchedStatus_;
        lastStatusProvider_ = provider;
        ok = true;
        return prefetchedStatus_;
    }
    prefetched_ = false;
    Answer answer;
    ok = port <= 0xFF &&
         Call(Request{Op::Read, provider, static_cast<std::uint8_t>(port), 0, 0}, answer);
    if (!ok)
        return 0xFF;
    if (port == kStatusPort) {
        lastStatus_ = answer.value;
        lastStatusProvider_ = provider;
    } else if (answer.hasStatus) {
        Prefetch(provider, answer.status);
    }
    return answer.value;
}

bool PosixKeyboardPorts::WritePort(Provider provider, std::uint16_t port, std::uint32_t value) {
    prefetched_ = false;
    lastStatus_ = -1;
    Answer answer;
    if (port > 0xFF || !Call(Request{Op::Write, provider, static_cast<std::uint8_t>(port),
                                     static_cast<std::uint8_t>(value & 0xFF), 0},
                             answer))
        return false;
    if (answer.hasStatus)
        Prefetch(provider, answer.status);
    return true;
}

bool PosixKeyboardPorts::InitializeWinIo() {
    winIoOpen_ = Started() && driver_;
    return winIoOpen_;
}

void PosixKeyboardPorts::ShutdownWinIo() {
    winIoOpen_ = false;
}

bool PosixKeyboardPorts::GetPortVal(std::uint16_t port, std::uint32_t& value, int size) {
    value = 0xFF;
    if (!winIoOpen_ || size != 1)
        return false;
    bool ok = false;
    value = ReadPort(Provider::Driver, port, ok);
    return ok;
}

bool PosixKeyboardPorts::SetPortVal(std::uint16_t port, std::uint32_t value, int size) {
    if (!winIoOpen_ || size != 1)
        return false;
    return WritePort(Provider::Driver, port, value);
}

bool PosixKeyboardPorts::DirectAccess() {
    return Started() && direct_;
}

std::uint16_t PosixKeyboardPorts::Inp32(std::uint16_t port) {
    if (!DirectAccess())
        return 0xFF;
    bool ok = false;
    return ReadPort(Provider::Direct, port, ok);
}

void PosixKeyboardPorts::Out32(std::uint16_t port, std::uint16_t value) {
    if (DirectAccess())
        WritePort(Provider::Direct, port, value);  // the direct provider reports nothing
}

void PosixKeyboardPorts::SetControllerHeld(bool held) {
    if (held == held_)
        return;
    held_ = held;
    Answer answer;
    Call(Request{Op::Held, Provider::Direct, 0, static_cast<std::uint8_t>(held ? 1 : 0), 0},
         answer);
    if (held && fd_ >= 0) {
        gGiveBackFd = fd_;
        InstallGiveBack();
    } else {
        RemoveGiveBack();
    }
}

void PosixKeyboardPorts::PollPause() {
    if (watch_ && lastStatus_ >= 0 && state_ == State::Serving) {
        Answer answer;
        if (Call(Request{Op::Watch, lastStatusProvider_, static_cast<std::uint8_t>(kStatusPort),
                         static_cast<std::uint8_t>(lastStatus_), kWatchUs},
                 answer)) {
            Prefetch(lastStatusProvider_, answer.value);
            return;
        }
    }
    PauseMicroseconds(20);
}

void PauseMicroseconds(std::int64_t us) {
    static const bool slackLowered = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)slackLowered;
    const timespec pause{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    nanosleep(&pause, nullptr);
}

}  // namespace rompush::platform::posix
