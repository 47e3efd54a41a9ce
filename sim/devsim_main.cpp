// rompush-devsim: a packet-bootloader device behind a pseudo-terminal, in real time. It
// points the port map entry <folder>/ports/COM<n> at the terminal, so RomPush (or a test)
// finds the device on COM<n> like one on a USB adapter. The device powers up when the PC
// opens the port and answers at the baud rate the PC has set. With --product it runs a
// serial-menu product instead, which talks at its own rate and powers up on SIGUSR1.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "sim/bootloader_device.h"
#include "sim/device_host.h"
#include "sim/serial_menu_products.h"

namespace fs = std::filesystem;
using rompush::sim::BootloaderDevice;

namespace {

volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gPowerCycle = 0;

void OnSignal(int) {
    gStop = 1;
}

// SIGUSR1: the operator switches a serial-menu product off and on.
void OnPowerCycleSignal(int) {
    gPowerCycle = 1;
}

// Without inotify: how often to look whether the PC opened the terminal.
constexpr int kOpenCheckMs = 10;

int BaudOfSpeed(speed_t speed) {
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
class PtyHost : public rompush::sim::DeviceHost {
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

    // Pulls the device out: the PC's port hangs up.
    void Unplug() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
        slaveOpen_ = false;
        out_.clear();
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
    void RunOnce(rompush::sim::SerialDevice& device, const BootloaderDevice* bootloader) {
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
            if (::write(master_, &timed.byte, 1) != 1)
                break;
            if (timing_) {
                std::fprintf(timing_, "dev %llu %lld %lld %lld %02X\n",
                             static_cast<unsigned long long>(timed.seq),
                             static_cast<long long>(timed.dueUs - PaceUs()),
                             static_cast<long long>(timed.dueUs), static_cast<long long>(NowUs()),
                             timed.byte);
            }
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
            in_.clear();
            device.OnHostClosed();
        }
        if (!slaveOpen_ && openNow) {
            slaveOpen_ = true;
            outFreeUs_ = inFreeUs_ = NowUs();
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
    std::deque<Timed> in_;
    std::uint64_t seq_ = 0;
    std::map<std::pair<std::int64_t, std::uint64_t>, std::function<void()>> timers_;
};

const char* kUsage =
    "usage: rompush-devsim --folder DIR [options]\n"
    "  --folder DIR         program folder; the link DIR/ports/COM<n> is created\n"
    "  --com N              port number (default 1)\n"
    "  --type N             device type byte 1..4 (default 3)\n"
    "  --flags N            flags byte of the identification answer (default 0)\n"
    "  --id-byte N          the identification byte between type and flags (default 0)\n"
    "  --app-rev XYZ        application revision characters (default 12a)\n"
    "  --bsl-rev XYZ        bootloader revision characters (default 10b)\n"
    "  --family qtr|vln     flash family (default: types 1 and 2 vln, others qtr)\n"
    "  --prefix on|off      application answers behind C3 xx (default: on for type 1)\n"
    "  --power-up every|first|never   when the PC's open powers the device up (default every)\n"
    "  --answer-delay MS    answer delay (default 2)\n"
    "  --erase-time MS      page erase time (default 5)\n"
    "  --start-time MS      application start time until the ready byte (default 100)\n"
    "  --fault FAULT        kind[,cmd=C][,skip=N][,times=N][,bytes=N][,delay=MS][,code=N]\n"
    "                       kinds: silence wrong short late cut unplug badwrite (repeatable)\n"
    "  --wire FILE          write every byte received from the PC to FILE\n"
    "  --flash-out FILE     write the flash (address 0 up) to FILE after every GO and at exit\n"
    "  --timing FILE        log when each byte crossed the wire, each way, and what the device\n"
    "                       answered to what after how long (see the file's header)\n"
    "  --quiet              no packet log on stderr\n"
    "A serial-menu product instead of a packet-bootloader device:\n"
    "  --product NAME       the product (kvt, crossfield, meridan as built); it talks at its own\n"
    "                       rate and announces itself when powered up: send SIGUSR1 to\n"
    "                       rompush-devsim to switch it off and on\n"
    "  --option NAME=VALUE  a setting of the product (repeatable; see the product's header)\n"
    "  --held-out DIR       write each file the product holds to DIR/<target>.hex when it\n"
    "                       changes\n";

std::optional<long> ParseNumber(const char* text) {
    if (!text || !*text)
        return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (*end)
        return std::nullopt;
    return value;
}

std::string DeviceName(const BootloaderDevice::Config& config) {
    const char* family = config.family == rompush::sim::Family::VLN ? "VLN" : "QTR";
    char text[96];
    std::snprintf(text, sizeof text, "%s bootloader, type %d, flags 0x%02X, rev %s, BSL %s", family,
                  config.type, config.flags, config.appRev.c_str(), config.bslRev.c_str());
    return text;
}

std::string CommandName(std::uint8_t command) {
    switch (command) {
        case 0x40:
            return "ID_CMD";
        case 0x42:
            return "FW_CMD";
        case 0x52:
            return "FLASH_CMD";
        case 0x56:
            return "SET_PAGE_CMD";
        case 0x58:
            return "ERASE_PAGE_CMD";
        case 0x5A:
            return "WRITE_PAGE_CMD";
        case 0x5C:
            return "CRC_PAGE_CMD";
        case 0x5E:
            return "GO_CMD";
        default: {
            char text[8];
            std::snprintf(text, sizeof text, "%02X", command);
            return text;
        }
    }
}

}  // namespace

// Runs a serial-menu product until a stop signal; SIGUSR1 power-cycles it. The files it holds
// are written to heldDir as they change, so a test can compare them with what it sent.
void RunProduct(PtyHost& host, rompush::sim::SerialMenuProduct& product, const std::string& heldDir,
                bool quiet) {
    std::map<std::string, std::string> saved;
    while (!gStop) {
        if (gPowerCycle) {
            gPowerCycle = 0;
            if (!quiet)
                std::fprintf(stderr, "rompush-devsim: power cycle\n");
            product.PowerCycle();
        }
        host.RunOnce(product, nullptr);
        if (heldDir.empty())
            continue;
        for (const auto& [target, text] : product.HeldFiles()) {
            if (saved[target] == text)
                continue;
            saved[target] = text;
            const fs::path path = fs::path(heldDir) / (target + ".hex");
            const std::string fresh = path.string() + ".new";
            if (std::FILE* out = std::fopen(fresh.c_str(), "wb")) {
                const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
                std::error_code ec;
                if (std::fclose(out) == 0 && written)
                    fs::rename(fresh, path, ec);
            }
        }
    }
}

int main(int argc, char** argv) {
    std::string folder;
    int com = 1;
    BootloaderDevice::Config config = BootloaderDevice::Config::ForType(3);
    std::optional<int> type;
    std::optional<long> flags;
    std::optional<long> idByte;
    std::optional<std::string> family, prefix, appRev, bslRev, powerUp;
    std::optional<long> answerDelay, eraseTime, startTime;
    std::vector<rompush::sim::Fault> faults;
    bool quiet = false;
    std::string wirePath;
    std::string flashPath;
    std::string timingPath;
    std::string productName;
    std::map<std::string, std::string> productOptions;
    std::string heldDir;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "rompush-devsim: %s needs a value\n%s", arg.c_str(), kUsage);
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](long low, long high) -> long {
            const char* text = value();
            const auto n = ParseNumber(text);
            if (!n || *n < low || *n > high) {
                std::fprintf(stderr, "rompush-devsim: bad value for %s: %s\n", arg.c_str(), text);
                std::exit(2);
            }
            return *n;
        };
        if (arg == "--folder") {
            folder = value();
        } else if (arg == "--com") {
            com = static_cast<int>(number(1, 255));
        } else if (arg == "--type") {
            type = static_cast<int>(number(0, 255));
        } else if (arg == "--flags") {
            flags = number(0, 255);
        } else if (arg == "--id-byte") {
            idByte = number(0, 255);
        } else if (arg == "--app-rev") {
            appRev = value();
        } else if (arg == "--bsl-rev") {
            bslRev = value();
        } else if (arg == "--family") {
            family = value();
        } else if (arg == "--prefix") {
            prefix = value();
        } else if (arg == "--power-up") {
            powerUp = value();
        } else if (arg == "--answer-delay") {
            answerDelay = number(0, 600000);
        } else if (arg == "--erase-time") {
            eraseTime = number(0, 600000);
        } else if (arg == "--start-time") {
            startTime = number(0, 600000);
        } else if (arg == "--fault") {
            const char* text = value();
            const auto fault = rompush::sim::ParseFault(text);
            if (!fault) {
                std::fprintf(stderr, "rompush-devsim: bad fault: %s\n", text);
                return 2;
            }
            faults.push_back(*fault);
        } else if (arg == "--wire") {
            wirePath = value();
        } else if (arg == "--flash-out") {
            flashPath = value();
        } else if (arg == "--timing") {
            timingPath = value();
        } else if (arg == "--product") {
            productName = value();
        } else if (arg == "--option") {
            const std::string option = value();
            const auto equals = option.find('=');
            if (equals == std::string::npos || equals == 0) {
                std::fprintf(stderr, "rompush-devsim: --option is NAME=VALUE: %s\n",
                             option.c_str());
                return 2;
            }
            productOptions[option.substr(0, equals)] = option.substr(equals + 1);
        } else if (arg == "--held-out") {
            heldDir = value();
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "rompush-devsim: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (folder.empty()) {
        std::fprintf(stderr, "rompush-devsim: --folder is required\n%s", kUsage);
        return 2;
    }

    if (type)
        config = BootloaderDevice::Config::ForType(*type);
    if (flags)
        config.flags = static_cast<std::uint8_t>(*flags);
    if (idByte)
        config.idByte = static_cast<std::uint8_t>(*idByte);
    if (appRev)
        config.appRev = *appRev;
    if (bslRev)
        config.bslRev = *bslRev;
    if (family) {
        if (*family == "qtr") {
            config.family = rompush::sim::Family::QTR;
        } else if (*family == "vln") {
            config.family = rompush::sim::Family::VLN;
        } else {
            std::fprintf(stderr, "rompush-devsim: --family is qtr or vln\n");
            return 2;
        }
    }
    if (prefix) {
        if (*prefix != "on" && *prefix != "off") {
            std::fprintf(stderr, "rompush-devsim: --prefix is on or off\n");
            return 2;
        }
        config.prefixed = *prefix == "on";
    }
    if (powerUp) {
        if (*powerUp == "every") {
            config.powerUpOn = BootloaderDevice::PowerUpOn::EveryOpen;
        } else if (*powerUp == "first") {
            config.powerUpOn = BootloaderDevice::PowerUpOn::FirstOpen;
        } else if (*powerUp == "never") {
            config.powerUpOn = BootloaderDevice::PowerUpOn::Never;
        } else {
            std::fprintf(stderr, "rompush-devsim: --power-up is every, first or never\n");
            return 2;
        }
    }
    if (answerDelay)
        config.answerDelayUs = *answerDelay * 1000;
    if (eraseTime)
        config.eraseUs = *eraseTime * 1000;
    if (startTime)
        config.startUs = *startTime * 1000;
    config.faults = faults;

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::fprintf(stderr, "rompush-devsim: no pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const char* name = ::ptsname(master);
    if (!name) {
        std::fprintf(stderr, "rompush-devsim: no pseudo-terminal name: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string slavePath = name;
    {
        // Raw from the start, and opened and closed once: from then on the master reports a
        // hang-up for as long as nobody has the terminal open, which is how the PC's open is
        // seen.
        const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave < 0) {
            std::fprintf(stderr, "rompush-devsim: cannot open %s: %s\n", slavePath.c_str(),
                         std::strerror(errno));
            return 1;
        }
        termios tio{};
        if (::tcgetattr(slave, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::cfsetispeed(&tio, B115200);
            ::cfsetospeed(&tio, B115200);
            ::tcsetattr(slave, TCSANOW, &tio);
        }
        ::close(slave);
    }

    const fs::path ports = fs::path(folder) / "ports";
    const fs::path link = ports / ("COM" + std::to_string(com));
    std::error_code ec;
    fs::create_directories(ports, ec);
    if (fs::is_symlink(fs::symlink_status(link, ec)))
        fs::remove(link, ec);
    fs::create_symlink(slavePath, link, ec);
    if (ec) {
        std::fprintf(stderr, "rompush-devsim: cannot create %s: %s\n", link.c_str(),
                     ec.message().c_str());
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    struct sigaction cycle {};
    cycle.sa_handler = OnPowerCycleSignal;
    sigemptyset(&cycle.sa_mask);
    ::sigaction(SIGUSR1, &cycle, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    // Wake-ups on time to a microsecond rather than the default 50 us slack: bytes are paced
    // 87 us apart at 115200 baud.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);

    auto device = std::make_shared<BootloaderDevice>(config);
    PtyHost host(master, slavePath);
    device->AttachHost(&host);
    bool unplugged = false;
    device->SetUnplugHook([&] {
        unplugged = true;
        host.Unplug();
    });

    std::FILE* wire = nullptr;
    if (!wirePath.empty()) {
        wire = std::fopen(wirePath.c_str(), "wb");
        if (!wire) {
            std::fprintf(stderr, "rompush-devsim: cannot write %s\n", wirePath.c_str());
            fs::remove(link, ec);
            return 1;
        }
        host.SetWireFile(wire);
    }
    std::FILE* timing = nullptr;
    if (!timingPath.empty()) {
        timing = std::fopen(timingPath.c_str(), "w");
        if (!timing) {
            std::fprintf(stderr, "rompush-devsim: cannot write %s\n", timingPath.c_str());
            fs::remove(link, ec);
            return 1;
        }
        host.SetTimingFile(timing);
    }

    if (!productName.empty()) {
        std::string error;
        auto product = rompush::sim::MakeSerialMenuProduct(productName, productOptions, error);
        if (!product) {
            std::fprintf(stderr, "rompush-devsim: %s\n", error.c_str());
            fs::remove(link, ec);
            return 2;
        }
        std::printf("rompush-devsim: COM%d -> %s (%s at %d baud)\n", com, slavePath.c_str(),
                    productName.c_str(), product->Baud());
        std::fflush(stdout);
        product->AttachHost(&host);
        RunProduct(host, *product, heldDir, quiet);
        if (fs::is_symlink(fs::symlink_status(link, ec)) && fs::read_symlink(link, ec) == slavePath)
            fs::remove(link, ec);
        if (timing)
            std::fclose(timing);
        return 0;
    }

    std::printf("rompush-devsim: COM%d -> %s (%s)\n", com, slavePath.c_str(),
                DeviceName(config).c_str());
    std::fflush(stdout);

    // The flash as it stands once the application was started again, and at the end, so a
    // test can compare it with the image it programmed.
    int gosSaved = 0;
    auto saveFlash = [&] {
        if (flashPath.empty())
            return;
        const std::string fresh = flashPath + ".new";
        if (std::FILE* out = std::fopen(fresh.c_str(), "wb")) {
            const auto& flash = device->Flash();
            const bool written = std::fwrite(flash.data(), 1, flash.size(), out) == flash.size();
            if (std::fclose(out) == 0 && written)
                fs::rename(fresh, flashPath, ec);
        }
    };
    saveFlash();

    std::size_t logged = 0;
    while (!gStop && !unplugged) {
        host.RunOnce(*device, device.get());
        if (const int gos = device->CountOf(0x5E); gos != gosSaved) {
            gosSaved = gos;
            saveFlash();
        }
        if (!quiet) {
            const auto& packets = device->Packets();
            for (; logged < packets.size(); ++logged) {
                std::string line = "rompush-devsim: " + CommandName(packets[logged].command);
                if (packets[logged].command == 0x56 && !packets[logged].payload.empty()) {
                    line += " " + std::to_string(packets[logged].payload[0]);
                }
                std::fprintf(stderr, "%s\n", line.c_str());
            }
        }
    }
    if (unplugged && !quiet)
        std::fprintf(stderr, "rompush-devsim: unplugged\n");
    saveFlash();

    // Leave no stale map entry behind (only our own: someone may have replaced it).
    if (fs::is_symlink(fs::symlink_status(link, ec)) && fs::read_symlink(link, ec) == slavePath) {
        fs::remove(link, ec);
    }
    if (host.Plugged())
        host.Unplug();
    if (timing)
        std::fclose(timing);
    return 0;
}
