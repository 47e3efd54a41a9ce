// What the benchmarks share: the clocks they read, their work folder, the real platform the
// program runs on against rompush-devsim, the simulator they start, and the way they print
// the measured time against its floor.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/state.h"
#include "devsim_process.h"
#include "providers/posix/poll_loop.h"
#include "providers/posix/port_map.h"
#include "providers/posix/serial_port.h"
#include "providers/posix/steady_clock.h"
#include "providers/sim/sim_platform.h"

namespace rompush::bench {

// Every benchmark's target: the measured time at most 5% over the floor.
inline constexpr double kTarget = 1.05;

// The monotonic clock, in microseconds.
inline std::int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// The process's CPU time (user + system), in seconds.
inline double CpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A new work folder under the system's temporary folder, "" when none can be made.
inline std::string MakeTempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    const char* made = ::mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

// Removes the work folder, or tells where it was kept for a look afterwards.
inline void EndWorkFolder(const std::string& folder, bool keep, const char* indent = "") {
    if (keep) {
        std::printf("%swork folder kept: %s\n", indent, folder.c_str());
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An image of pseudo-random bytes, the same for the same seed.
inline std::vector<std::uint8_t> RandomImage(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> image(size);
    std::uint32_t x = seed;
    for (auto& byte : image) {
        x = x * 1664525U + 1013904223U;
        byte = static_cast<std::uint8_t>(x >> 24);
    }
    return image;
}

// A settings file with one port to search, remembered as COM1, at 115200 baud (the list's
// ninth entry).
inline void WriteCom1Settings(const std::string& folder) {
    std::ofstream(folder + "/RomPush.INI", std::ios::binary)
        << "ROMPUSH_INI_001\r\n1\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 8 \r\n 2 \r\n";
}

// The poll loop as the program sees it, timed: the longest stretch of real time between two
// passes of event processing (the end of one, the start of the next) while a file is being
// sent to a product. The window must not go longer than 100 ms without its events.
class TimedEvents : public platform::EventLoop {
  public:
    explicit TimedEvents(platform::EventLoop& events) : events_(events) {}
    void DoEvents() override {
        Enter();
        events_.DoEvents();
        leftUs_ = NowUs();
    }
    void WaitForEvents(int maxMs) override {
        Enter();
        events_.WaitForEvents(maxMs);
        leftUs_ = NowUs();
    }
    void RequestEnd() override { events_.RequestEnd(); }
    bool EndRequested() const override { return events_.EndRequested(); }
    double LongestSendGapMs() const { return static_cast<double>(longestUs_) * 1e-3; }

  private:
    void Enter() {
        const bool sending = g.menus.TransferRunning;
        if (sending && wasSending_ && leftUs_ > 0)
            longestUs_ = std::max(longestUs_, NowUs() - leftUs_);
        wasSending_ = sending;
    }
    platform::EventLoop& events_;
    std::int64_t leftUs_ = 0;
    std::int64_t longestUs_ = 0;
    bool wasSending_ = false;
};

// Prints the longest gap between event passes during the send against its bound.
inline bool PrintSendGap(double gapMs) {
    std::printf(
        "  events    %8.3f ms  longest gap between passes while sending (target < 100: %s)\n",
        gapMs, gapMs < 100 ? "met" : "NOT met");
    return gapMs < 100;
}

// The real serial port, timer, clock and poll loop; the operator's side (message boxes, file
// dialogs, desktop) stays simulated, as no one clicks during the run.
struct BenchPlatform {
    explicit BenchPlatform(const std::string& folder)
        : serial(platform::posix::PortMap(folder)),
          timer(clock),
          events(timer, &serial),
          dialogs(virtualClock),
          system(folder, folder) {
        platform::Install({.serial = &serial,
                           .timer = &timer,
                           .clock = &clock,
                           .events = &timedEvents,
                           .dialogs = &dialogs,
                           .desktop = &desktop,
                           .system = &system});
    }
    ~BenchPlatform() { platform::Install(platform::Services{}); }
    BenchPlatform(const BenchPlatform&) = delete;
    BenchPlatform& operator=(const BenchPlatform&) = delete;

    platform::posix::SteadyClock clock;
    platform::posix::PosixSerialPort serial;
    platform::posix::PollTimer timer;
    platform::posix::PollEventLoop events;
    TimedEvents timedEvents{events};
    sim::VirtualClock virtualClock;
    platform::sim::SimDialogs dialogs;
    platform::sim::SimDesktop desktop;
    platform::sim::SimSystem system;
};

// What every benchmark against rompush-devsim is told on its command line.
struct DevsimRunOptions {
    std::string devsim;  // the rompush-devsim program
    bool keep = false;   // leave the work folder
};

// Reads --devsim PATH and --keep, and each other option `more` takes (given the option and
// the index of its argument, which it moves past any value it reads). With an unknown option
// or no rompush-devsim, says why and gives nothing (the program ends with status 2).
inline std::optional<DevsimRunOptions> ReadDevsimRunOptions(
    int argc, char** argv, const char* usage,
    const std::function<bool(const std::string&, int&)>& more = {}) {
    DevsimRunOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--devsim" && i + 1 < argc) {
            options.devsim = argv[++i];
        } else if (arg == "--keep") {
            options.keep = true;
        } else if (!more || !more(arg, i)) {
            std::fprintf(stderr, "usage: %s\n", usage);
            return std::nullopt;
        }
    }
    if (options.devsim.empty())
        options.devsim = testing::DevSimProgram();
    if (options.devsim.empty() || !std::filesystem::exists(options.devsim)) {
        std::fprintf(stderr, "rompush-devsim not found (build it, or give --devsim PATH)\n");
        return std::nullopt;
    }
    return options;
}

// True once rompush-devsim has put its device behind COM1; else says what it said instead.
inline bool DevsimOnCom1(const testing::DevSim& devsim) {
    if (devsim.Line().rfind("rompush-devsim: COM1 -> ", 0) == 0)
        return true;
    std::fprintf(stderr, "rompush-devsim did not start: %s\n", devsim.Line().c_str());
    return false;
}

// The measured time, its floor and their ratio against the target; true when it is met.
inline bool PrintAgainstFloor(double measuredS, double floorS) {
    const double ratio = measuredS / floorS;
    std::printf("  measured  %8.3f s\n", measuredS);
    std::printf("  floor     %8.3f s\n", floorS);
    std::printf("  ratio     %8.4f  (target <= %.2f: %s)\n", ratio, kTarget,
                ratio <= kTarget ? "met" : "NOT met");
    return ratio <= kTarget;
}

}  // namespace rompush::bench
