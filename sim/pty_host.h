// The device's side of a pseudo-terminal for rompush-devsim: bytes both ways paced at the
// PC's baud rate, timers on the monotonic clock, the PC's opens and closes seen on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "sim/bootloader_device.h"
#include "sim/device_host.h"

namespace rompush::sim::devsim {

// Without inotify: how often to look whether the PC opened the terminal.
inline constexpr int kOpenCheckMs = 10;

inline int BaudOfSpeed(speed_t speed) {
    static const std::pair<speed_t, int> kSpeeds[] = {
        {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
        {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
        {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
        {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
        {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
        {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
        {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
        {B3500000, 3500000}, {B4000000, 4000000},
    };
    for (const auto& [code, baud] : kSpeeds) {
        if (code == speed)
            return baud;
    }
    return 0;
}

// The device's side of the pseudo-terminal: bytes both ways paced at the PC's baud rate,
// timers on the monotonic clock.
class PtyHost : public DeviceHost {
  public:
    PtyHost(int master, std::string slavePath) : master_(master), slavePath_(std::move(slavePath)) {
        notify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (notify_ >= 0 &&
            ::inotify_add_watch(notify_, slavePath_.c_str(), IN_OPEN | IN_CLOSE) < 0) {
            ::close(notify_);
            notify_ = -1;
        }
    }
    ~PtyHost() override {
        if (notify_ >= 0)
            ::close(notify_);
    }
    PtyHost(const PtyHost&) = delete;
    PtyHost& operator=(const PtyHost&) = delete;

    void Send(const std::string& bytes) override {
        if (!slaveOpen_ || master_ < 0)
            return;
        const std::int64_t pace = PaceUs();
        if (timing_) {
            // What made the device answer, how long it took and what it said; the bytes
            // themselves follow as "dev" lines once they have crossed the wire.
            std::fprintf(timing_, "answer %s %lld %lld %lld %llu ",
                         answerCause_.empty() ? "-" : answerCause_.c_str(),
                         static_cast<long long>(answerDelayUs_),
                         static_cast<long long>(answerAskedUs_), static_cast<long long>(NowUs()),
                         static_cast<unsigned long long>(devSeq_));
            for (unsigned char byte : bytes)
                std::fprintf(timing_, "%02X", byte);
            std::fputc('\n', timing_);
        }
        for (unsigned char byte : bytes) {
            outFreeUs_ = std::max(outFreeUs_, NowUs()) + pace;
            out_.push_back({outFreeUs_, byte, devSeq_++});
        }
    }
    void After(std::int64_t delayUs, std::function<void()> fn) override {
        if (timing_) {
            // Whatever the device sends from this timer is its answer to the packet (or the
            // power-up) being handled now, after the time it asked for.
            fn = [this, cause = cause_, delayUs, asked = NowUs(), fn = std::move(fn)] {
                answerCause_ = cause;
                answerDelayUs_ = delayUs;
                answerAskedUs_ = asked;
                fn();
                answerCause_.clear();
            };
        }
        timers_.emplace(std::make_pair(NowUs() + std::max<std::int64_t>(delayUs, 0), seq_++),
                        std::move(fn));
    }
    std::int64_t NowUs() const override {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
    std::string HostSettings() const override {
        if (!slaveOpen_ || master_ < 0)
            return "";
        termios tio{};
        // On the master side the terminal calls answer with the PC's (the slave's) settings.
        if (::tcgetattr(master_, &tio) != 0)
            return "";
        const int baud = BaudOfSpeed(::cfgetospeed(&tio));
        if (baud <= 0)
            return "";
        std::string parity = "N";
        if (tio.c_cflag & PARENB)
            parity = (tio.c_cflag & PARODD) ? "O" : "E";
        int dataBits = 8;
        switch (tio.c_cflag & CSIZE) {
            case CS5:
                dataBits = 5;
                break;
            case CS6:
                dataBits = 6;
                break;
            case CS7:
                dataBits = 7;
                break;
            default:
                dataBits = 8;
                break;
        }
        return std::to_string(baud) + "," + parity + "," + std::to_string(dataBits) + "," +
               ((tio.c_cflag & CSTOPB) ? "2" : "1");
    }

    // Holds back what the device sends as a USB serial adapter with a latency timer of that
    // many microseconds does (0: hands every byte on at once, as an adapter in low-latency
    // mode or a real UART): received bytes wait for the timer's next tick, which comes every
    // interval from the PC's opening of the port, unless they fill the adapter's buffer first.
    void SetLatencyTimer(std::int64_t us) { latencyUs_ = us; }

    // Pulls the device out: the PC's port hangs up.
    void Unplug() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
        slaveOpen_ = false;
        out_.clear();
        held_.clear();
        in_.clear();
    }
    bool Plugged() const { return master_ >= 0; }
    // Every byte from the PC is also written to this file, so a test can read the wire.
    void SetWireFile(std::FILE* file) { wire_ = file; }
    // When every byte crossed the wire each way, and what the device answered to what and
    // after how long, for a benchmark to work out the least time an exchange can take.
    void SetTimingFile(std::FILE* file) {
        timing_ = file;
        if (timing_) {
            std::fprintf(timing_,
                         "# rompush-devsim timing log; times in microseconds, monotonic clock\n"
                         "# pc SEQ READ START END XX       byte SEQ from the PC, read from the "
                         "terminal at READ, on the wire START..END\n"
                         "# lost SEQ AT XX                 byte from the PC dropped at a close\n"
                         "# packet SEQ AT CC               a whole packet (command CC) ended "
                         "with byte SEQ, handled at AT\n"
                         "# answer CAUSE DELAY ASKED AT SEQ XX...  the device answers pc:SEQ or "
                         "open:N, DELAY after ASKED, queued at AT; its bytes are dev SEQ on\n"
                         "# dev SEQ START END WRITTEN XX   byte SEQ from the device on the wire "
                         "START..END, handed to the PC at WRITTEN\n"
                         "# open N AT / close AT           the PC opened or closed its port\n");
            std::fflush(timing_);
        }
    }

    // One round of the wire and the timers. `bootloader` (when the device is one) lets the
    // timing log name the packets.
    void RunOnce(SerialDevice& device, const BootloaderDevice* bootloader) {
        std::int64_t now = NowUs();
        while (!timers_.empty() && timers_.begin()->first.first <= now) {
            auto fn = std::move(timers_.begin()->second);
            timers_.erase(timers_.begin());
            fn();
            now = NowUs();
        }
        while (!out_.empty() && out_.front().dueUs <= now && master_ >= 0) {
            const Timed timed = out_.front();
            out_.pop_front();
            if (latencyUs_ > 0) {
                // The adapter holds what crossed the wire until its timer ticks.
                held_.push_back(timed);
                continue;
            }
            if (!HandOver(timed))
                break;
        }
        if (!held_.empty() && (held_.size() >= kAdapterBuffer || now >= ReleaseUs())) {
            for (const Timed& timed : held_) {
                if (!HandOver(timed))
                    break;
            }
            held_.clear();
        }
        while (!in_.empty() && in_.front().dueUs <= now) {
            const Timed timed = in_.front();
            in_.pop_front();
            if (wire_) {
                std::fputc(timed.byte, wire_);
                std::fflush(wire_);
            }
            const std::size_t packets = bootloader ? bootloader->Packets().size() : 0;
            if (timing_)
                cause_ = "pc:" + std::to_string(timed.seq);
            device.OnHostByte(timed.byte);
            cause_.clear();
            if (timing_ && bootloader && bootloader->Packets().size() > packets) {
                const auto& packet = bootloader->Packets().back();
                std::fprintf(timing_, "packet %llu %lld %02X\n",
                             static_cast<unsigned long long>(timed.seq),
                             static_cast<long long>(packet.atUs), packet.command);
            }
        }
        if (master_ < 0) {
            Wait(false, now, -1);
            return;
        }

        // While nobody has the terminal open the master reports a hang-up all the time, so
        // it is watched only while the PC has it open; opens and closes are seen through
        // inotify (or, without it, by looking every few milliseconds).
        const Woken woken = Wait(slaveOpen_, now, notify_ >= 0 || slaveOpen_ ? -1 : kOpenCheckMs);
        bool sawClose = false;
        if (woken.notify) {
            alignas(inotify_event) char buf[4096];
            ssize_t n;
            while ((n = ::read(notify_, buf, sizeof buf)) > 0) {
                for (char* p = buf; p < buf + n;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(p);
                    if (event->mask & IN_CLOSE)
                        sawClose = true;
                    p += sizeof(inotify_event) + event->len;
                }
            }
        }
        pollfd probe{master_, POLLIN, 0};
        const bool openNow = ::poll(&probe, 1, 0) >= 0 && !(probe.revents & POLLHUP);
        if (slaveOpen_ && (sawClose || !openNow)) {
            // The PC closed the port (and may have opened it again at once): what was on
            // the wire is lost.
            if (!openNow) {
                std::uint8_t junk[256];
                ssize_t n;
                while ((n = ::read(master_, junk, sizeof junk)) > 0) {
                    for (ssize_t i = 0; i < n; ++i) {
                        if (timing_) {
                            std::fprintf(timing_, "lost %llu %lld %02X\n",
                                         static_cast<unsigned long long>(pcSeq_),
                                         static_cast<long long>(NowUs()), junk[i]);
                        }
                        ++pcSeq_;
                    }
                }
            }
            if (timing_)
                std::fprintf(timing_, "close %lld\n", static_cast<long long>(NowUs()));
            slaveOpen_ = false;
            out_.clear();
            held_.clear();
            in_.clear();
            device.OnHostClosed();
        }
        if (!slaveOpen_ && openNow) {
            slaveOpen_ = true;
            outFreeUs_ = inFreeUs_ = openedUs_ = NowUs();
            if (timing_) {
                std::fprintf(timing_, "open %d %lld\n", opens_, static_cast<long long>(NowUs()));
                cause_ = "open:" + std::to_string(opens_);
            }
            ++opens_;
            device.OnHostOpened();
            cause_.clear();
        }
        if (slaveOpen_ && (probe.revents & POLLIN)) {
            std::uint8_t chunk[256];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            const std::int64_t pace = PaceUs();
            const std::int64_t readUs = NowUs();
            for (ssize_t i = 0; i < n; ++i) {
                // Each byte reaches the device when it has fully crossed the wire.
                inFreeUs_ = std::max(inFreeUs_, readUs) + pace;
                in_.push_back({inFreeUs_, chunk[i], pcSeq_});
                if (timing_) {
                    std::fprintf(timing_, "pc %llu %lld %lld %lld %02X\n",
                                 static_cast<unsigned long long>(pcSeq_),
                                 static_cast<long long>(readUs),
                                 static_cast<long long>(inFreeUs_ - pace),
                                 static_cast<long long>(inFreeUs_), chunk[i]);
                }
                ++pcSeq_;
            }
        }
    }

  private:
    // A byte on its way across the wire: due when it has fully crossed.
    struct Timed {
        std::int64_t dueUs;
        std::uint8_t byte;
        std::uint64_t seq;  // the how-manieth byte this way since the start
    };

    // What an FTDI adapter's buffer holds before it sends a USB packet regardless of its timer
    // (64 bytes less two status bytes).
    static constexpr std::size_t kAdapterBuffer = 62;

    // A byte from the device goes to the PC's port.
    bool HandOver(const Timed& timed) {
        if (::write(master_, &timed.byte, 1) != 1)
            return false;
        if (timing_) {
            std::fprintf(timing_, "dev %llu %lld %lld %lld %02X\n",
                         static_cast<unsigned long long>(timed.seq),
                         static_cast<long long>(timed.dueUs - PaceUs()),
                         static_cast<long long>(timed.dueUs), static_cast<long long>(NowUs()),
                         timed.byte);
        }
        return true;
    }
    // The latency timer's first tick at or after the oldest held byte crossed the wire.
    std::int64_t ReleaseUs() const {
        const std::int64_t since = std::max<std::int64_t>(held_.front().dueUs - openedUs_, 0);
        return openedUs_ + (since + latencyUs_ - 1) / latencyUs_ * latencyUs_;
    }

    std::FILE* wire_ = nullptr;
    std::FILE* timing_ = nullptr;
    std::uint64_t pcSeq_ = 0;
    std::uint64_t devSeq_ = 0;
    int opens_ = 0;
    std::string cause_;  // what the device is handling now: "pc:SEQ" or "open:N"
    std::string answerCause_;
    std::int64_t answerDelayUs_ = 0;
    std::int64_t answerAskedUs_ = 0;
    std::int64_t PaceUs() const {
        const std::int64_t t = rompush::sim::ByteTimeUs(HostSettings());
        return t > 0 ? t : 87;
    }

    struct Woken {
        bool master = false;
        bool notify = false;
    };
    // Sleeps until the next due timer or byte (at most capMs when given), or until the
    // master (when watched) or the open/close watch has something.
    Woken Wait(bool watchMaster, std::int64_t now, int capMs) {
        std::optional<std::int64_t> next;
        auto consider = [&next](std::int64_t at) {
            if (!next || at < *next)
                next = at;
        };
        if (!timers_.empty())
            consider(timers_.begin()->first.first);
        if (!out_.empty())
            consider(out_.front().dueUs);
        if (!in_.empty())
            consider(in_.front().dueUs);
        if (!held_.empty())
            consider(ReleaseUs());
        // To the microsecond: a byte takes 87 us at 115200 baud, so sleeping in whole
        // milliseconds would hand every answer over up to a millisecond late.
        std::int64_t timeoutUs = 1000000;  // a signal also ends the sleep
        if (next)
            timeoutUs = std::max<std::int64_t>(*next - now, 0);
        if (capMs >= 0 && static_cast<std::int64_t>(capMs) * 1000 < timeoutUs)
            timeoutUs = static_cast<std::int64_t>(capMs) * 1000;
        const timespec timeout{static_cast<time_t>(timeoutUs / 1000000),
                               static_cast<long>(timeoutUs % 1000000) * 1000};
        pollfd fds[2];
        nfds_t count = 0;
        int masterIndex = -1;
        int notifyIndex = -1;
        if (watchMaster && master_ >= 0) {
            masterIndex = static_cast<int>(count);
            fds[count++] = pollfd{master_, POLLIN, 0};
        }
        if (notify_ >= 0) {
            notifyIndex = static_cast<int>(count);
            fds[count++] = pollfd{notify_, POLLIN, 0};
        }
        Woken woken;
        if (::ppoll(fds, count, &timeout, nullptr) <= 0)
            return woken;
        woken.master = masterIndex >= 0 && fds[masterIndex].revents != 0;
        woken.notify = notifyIndex >= 0 && fds[notifyIndex].revents != 0;
        return woken;
    }

    int master_;
    int notify_ = -1;
    std::string slavePath_;
    bool slaveOpen_ = false;
    std::int64_t outFreeUs_ = 0;
    std::int64_t inFreeUs_ = 0;
    std::deque<Timed> out_;
    std::deque<Timed> held_;  // crossed the wire, held by the adapter's latency timer
    std::int64_t latencyUs_ = 0;
    std::int64_t openedUs_ = 0;
    std::deque<Timed> in_;
    std::uint64_t seq_ = 0;
    std::map<std::pair<std::int64_t, std::uint64_t>, std::function<void()>> timers_;
};

}  // namespace rompush::sim::devsim
