// rompush-bench-kvt: how close the KVT download of a full HEX file comes to the least time it
// can take, over a pseudo-terminal at 115200 baud.
//
// rompush-devsim plays the KVT (--product kvt), pacing every byte at the line's rate. The
// program runs on the real serial port, poll loop, timer and clock: the KVT powers up and is
// read as the banner check hands it over, a generated HEX file of a 32 KB application (16 data
// bytes a record) is selected, and PROGRAM's download runs; once it asks for the power cycle
// the benchmark switches the KVT off and on (SIGUSR1). It checks that the KVT holds the file
// and that the window says "PROGRAM OK".
//
// It prints:
//   measured  wall time from the power cycle until the download has ended (the KVT read again);
//   floor     the least time the same download needs: the wire time of every byte on its
//             critical path (10 bits / 115200 baud each: the boot loader's texts, the two
//             spaces, every line of the file ended by a carriage return, the restarted
//             application's text up to its "?"), the KVT's own erase and restart times, and the
//             prescribed waits (the two 100 ms before each space, 1000 ms of "Flashing KVT..."
//             while the KVT erases, 1000 ms of "Sending hex file...", 750 ms after reading the
//             KVT, 200 ms of the HEX check). Computing and window work cost nothing;
//   ratio     measured / floor (target: at most 1.05).
//
// Options: --bytes N (application size, default 32768), --devsim PATH, --keep.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/main_loop.h"
#include "core/state.h"
#include "devsim_process.h"
#include "hexfile/hex_validation.h"
#include "menus/kvt.h"
#include "menus/product_text.h"
#include "platform/posix/poll_loop.h"
#include "platform/posix/port_map.h"
#include "platform/posix/serial_port.h"
#include "platform/posix/steady_clock.h"
#include "platform/sim/sim_platform.h"
#include "serial/comm.h"
#include "sim/kvt_product.h"
#include "ui/main_window.h"

namespace {

namespace fs = std::filesystem;
using namespace rompush;
using namespace rompush::platform;
using rompush::sim::KvtProduct;

constexpr double kByteUs = 10.0 * 1e6 / 115200.0;
constexpr double kTarget = 1.05;

std::int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

double Wire(std::size_t bytes) {
    return static_cast<double>(bytes) * kByteUs;
}

// The real serial port, timer, clock and poll loop; the operator's side stays simulated.
struct BenchPlatform {
    explicit BenchPlatform(const std::string& folder)
        : serial(posix::PortMap(folder)),
          timer(clock),
          events(timer, &serial),
          dialogs(virtualClock),
          system(folder, folder) {
        Install({.serial = &serial,
                 .timer = &timer,
                 .clock = &clock,
                 .events = &events,
                 .dialogs = &dialogs,
                 .desktop = &desktop,
                 .system = &system});
    }
    ~BenchPlatform() { Install(Services{}); }

    posix::SteadyClock clock;
    posix::PosixSerialPort serial;
    posix::PollTimer timer;
    posix::PollEventLoop events;
    rompush::sim::VirtualClock virtualClock;
    platform::sim::SimDialogs dialogs;
    platform::sim::SimDesktop desktop;
    platform::sim::SimSystem system;
};

std::string Record(std::uint16_t address, int type, const std::vector<std::uint8_t>& data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFFU) +
                   static_cast<unsigned>(type);
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  static_cast<unsigned>(address), static_cast<unsigned>(type));
    std::string line = field;
    for (std::uint8_t byte : data) {
        std::snprintf(field, sizeof field, "%02X", static_cast<unsigned>(byte));
        line += field;
        sum += byte;
    }
    std::snprintf(field, sizeof field, "%02X", (0x100U - (sum & 0xFFU)) & 0xFFU);
    return line + field + "\r\n";
}

// A KVT application: no product header, its revision line in the data.
std::string KvtHexText(std::size_t bytes, const std::string& revision) {
    std::vector<std::uint8_t> image(bytes);
    std::uint32_t x = 12345;
    for (auto& byte : image) {
        x = x * 1664525U + 1013904223U;
        byte = static_cast<std::uint8_t>(x >> 24);
    }
    const std::string mark = "KVT Rev " + revision + std::string(1, '\0');
    std::copy(mark.begin(), mark.end(), image.begin() + 64);
    std::string text;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        const auto from = image.begin() + static_cast<std::ptrdiff_t>(at);
        text += Record(static_cast<std::uint16_t>(at), 0,
                       std::vector<std::uint8_t>(
                           from, from + std::min<std::ptrdiff_t>(16, image.end() - from)));
    }
    return text + ":00000001FF\r\n";
}

// The least time of the download from the power cycle on (see the heading).
double FloorUs(const std::string& file, const std::string& revision) {
    KvtProduct::Options options;
    options.appRevision = revision;
    const KvtProduct kvt(options);
    const std::string restarted = kvt.ApplicationText();
    const std::size_t sent =
        file.size() - static_cast<std::size_t>(std::count(file.begin(), file.end(), '\n'));
    double us = Wire(kvt.BootLoaderText().size());                        // "download..."
    us += 100e3 + Wire(1) + Wire(std::strlen(KvtProduct::kConfirmText));  // "begin."
    us += 100e3 + Wire(1) +
          std::max(1000e3, static_cast<double>(KvtProduct::kEraseUs) +
                               Wire(std::strlen(KvtProduct::kReadyText)));
    us += 1000e3 + Wire(sent);  // "Sending hex file...", then the file
    us += static_cast<double>(KvtProduct::kRestartUs) + Wire(restarted.find('?') + 1);
    us += 750e3 + 200e3;  // reading the KVT, the HEX check
    return us;
}

std::string MakeTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "rompush-bench-kvt-XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

// Waits for the KVT's first burst as the banner check does, and reads it.
bool ReadPowerUp(pid_t kvt) {
    ::kill(kvt, SIGUSR1);
    const std::int64_t deadline = NowUs() + 5'000'000;
    while (Current().serial->InBufferCount() <= 50) {
        if (NowUs() > deadline)
            return false;
        Current().events->WaitForEvents(20);
    }
    g.menus.SerialText.clear();
    ReadIntoSerialText();
    KVT_Boot();
    return g.dev.DevLetter == "$";
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t bytes = 32768;
    std::string devsim;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--bytes" && i + 1 < argc) {
            bytes = static_cast<std::size_t>(std::max(64L, std::atol(argv[++i])));
        } else if (arg == "--devsim" && i + 1 < argc) {
            devsim = argv[++i];
        } else if (arg == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr, "usage: rompush-bench-kvt [--bytes N] [--devsim PATH] [--keep]\n");
            return 2;
        }
    }
    if (devsim.empty())
        devsim = rompush::testing::DevSimProgram();
    if (devsim.empty() || !fs::exists(devsim)) {
        std::fprintf(stderr, "rompush-devsim not found (build it, or give --devsim PATH)\n");
        return 2;
    }

    const std::string folder = MakeTempFolder();
    const std::string hexPath = folder + "/kvt.hex";
    const std::string revision = "4.2 NPV";
    const std::string file = KvtHexText(bytes, revision);
    std::ofstream(hexPath, std::ios::binary) << file;
    fs::create_directories(folder + "/held");
    // One port to search, remembered as COM1; 115200 baud (the list's ninth entry).
    std::ofstream(folder + "/RomPush.INI", std::ios::binary)
        << "ROMPUSH_INI_001\r\n1\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 8 \r\n 2 \r\n";
    rompush::testing::DevSim kvt(devsim, {"--folder", folder, "--com", "1", "--product", "kvt",
                                          "--quiet", "--held-out", folder + "/held"});
    if (kvt.Line().rfind("rompush-devsim: COM1", 0) != 0) {
        std::fprintf(stderr, "rompush-devsim did not start: %s\n", kvt.Line().c_str());
        return 1;
    }

    bool ok = false;
    double measuredUs = 0;
    ResetState();
    {
        BenchPlatform platform(folder);
        WireMainWindowHandlers();
        StartUp();
        g.port.SavedBaudIndex = 8;
        SetCommPort(1);
        if (!ReadPowerUp(kvt.Pid())) {
            std::fprintf(stderr, "the KVT was not read after its power-up\n");
            return 1;
        }
        platform.dialogs.ChooseNextFile(hexPath);
        KvtSelectFile();
        if (g.files.KvtFilePath != hexPath) {
            std::fprintf(stderr, "the HEX file was not taken (error %d)\n", g.result.ErrorCode);
            return 1;
        }
        // The operator switches the KVT off and on once PROGRAM has asked for it (the request
        // blinks for a second).
        std::atomic<std::int64_t> cycledUs{0};
        std::thread operatorHand([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1300));
            cycledUs = NowUs();
            ::kill(kvt.Pid(), SIGUSR1);
        });
        KvtDownload();
        const std::int64_t endUs = NowUs();
        operatorHand.join();
        measuredUs = static_cast<double>(endUs - cycledUs.load());
        ok = frmUI().lblPASS.Caption == "PROGRAM OK";
        if (!ok)
            std::fprintf(stderr, "the download did not end well: \"%s\"\n",
                         frmUI().lblPASS.Caption.c_str());
    }
    ResetState();
    // The KVT must hold the file.
    for (int i = 0; i < 50 && !fs::exists(folder + "/held/kvt.hex"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream heldIn(folder + "/held/kvt.hex", std::ios::binary);
    const std::string held((std::istreambuf_iterator<char>(heldIn)),
                           std::istreambuf_iterator<char>());
    kvt.Stop();
    if (held != file) {
        std::fprintf(stderr, "the KVT does not hold the file (%zu of %zu bytes)\n", held.size(),
                     file.size());
        ok = false;
    }
    if (keep) {
        std::printf("work folder kept: %s\n", folder.c_str());
    } else {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    if (!ok) {
        std::printf("KVT download: FAILED\n");
        return 1;
    }
    const double floorUs = FloorUs(file, revision);
    std::printf("KVT download (%zu-byte application, %zu bytes of HEX file)\n", bytes, file.size());
    std::printf("  measured  %8.3f s\n", measuredUs * 1e-6);
    std::printf("  floor     %8.3f s\n", floorUs * 1e-6);
    std::printf("  ratio     %8.4f  (target <= %.2f: %s)\n", measuredUs / floorUs, kTarget,
                measuredUs / floorUs <= kTarget ? "met" : "NOT met");
    return 0;
}
