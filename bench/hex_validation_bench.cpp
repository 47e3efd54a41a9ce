// How long checking a full firmware file takes: a 32 KB image in 16-byte records (2050 lines)
// is validated N times with CkHexFile on the simulated platform.
//
//   rompush-bench-hex [N]        (default 20)
//
// The two 100 ms settle delays of the check run on the virtual clock, so the real time
// measured is the reading and parsing alone. Also counted for one validation: the passes of
// event processing and the progress bar values the window gets to show (the window copies
// changed properties at each pass). Prints the numbers; exits 1 when the image is wrong or a
// validation takes a second or more.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "core/state.h"
#include "hexfile/hex_validation.h"
#include "providers/sim/sim_platform.h"
#include "serial/packets.h"

namespace {

using namespace rompush;

constexpr int kImageBytes = 0x8000;
constexpr int kRecordBytes = 16;

std::string Hex2(int value) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 15], digits[value & 15]};
}

std::string Record(int address, int type, const std::uint8_t* data, int count) {
    std::string line = ":" + Hex2(count) + Hex2(address >> 8) + Hex2(address) + Hex2(type);
    int sum = count + (address >> 8) + (address & 0xFF) + type;
    for (int i = 0; i < count; ++i) {
        line += Hex2(data[i]);
        sum += data[i];
    }
    return line + Hex2(-sum) + "\r\n";
}

// The product header for device letter "D", the image in 16-byte records, the end record.
std::string FirmwareFile(const std::vector<std::uint8_t>& image) {
    const std::uint8_t header[] = {0x01, 0x18, 0x07, 'D' ^ 0x96, 0x00, 0x42};
    std::string text = Record(0, 0, header, 6);
    for (int address = 0; address < kImageBytes; address += kRecordBytes)
        text += Record(address, 0, image.data() + address, kRecordBytes);
    return text + ":00000001FF\r\n";
}

// The simulated event loop, watching the progress bar as the window would at each pass.
class WatchingEventLoop : public platform::EventLoop {
  public:
    explicit WatchingEventLoop(platform::EventLoop& inner) : inner_(inner) {}
    void DoEvents() override {
        inner_.DoEvents();
        Look();
    }
    void WaitForEvents(int maxMs) override {
        inner_.WaitForEvents(maxMs);
        Look();
    }
    void RequestEnd() override { inner_.RequestEnd(); }
    bool EndRequested() const override { return inner_.EndRequested(); }

    std::int64_t passes = 0;
    std::int64_t barChanges = 0;

  private:
    void Look() {
        ++passes;
        const auto& bar = frmUI().ProgressBar1;
        if (bar.Visible && bar.Value != shown_)
            ++barChanges;
        shown_ = bar.Value;
    }
    platform::EventLoop& inner_;
    int shown_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "rompush-bench-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string folder = buffer.data();

    std::vector<std::uint8_t> image(kImageBytes);
    std::mt19937 random(2024);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(random() & 0xFF);
    const std::string text = FirmwareFile(image);
    const std::string path = folder + "/full-32k.hex";
    std::ofstream(path, std::ios::binary) << text;
    const auto lines = std::count(text.begin(), text.end(), '\n');

    platform::sim::SimPlatform sim(folder, folder);
    ResetState();
    BuildCrcTable();
    WireMainWindowHandlers();
    WatchingEventLoop watcher(sim.events);
    platform::Install({.serial = &sim.serial,
                       .timer = &sim.timer,
                       .clock = &sim.clock,
                       .events = &watcher,
                       .dialogs = &sim.dialogs,
                       .desktop = &sim.desktop,
                       .system = &sim.system});
    g.dev.DeviceFound = true;
    g.dev.DevLetter = "D";

    std::vector<double> wallMs;
    std::int64_t passes = 0, barChanges = 0, virtualMs = 0;
    bool ok = true;
    for (int run = 0; run < runs; ++run) {
        const std::int64_t passesBefore = watcher.passes;
        const std::int64_t changesBefore = watcher.barChanges;
        const std::int64_t virtualBefore = sim.clock.NowMs();
        const auto start = std::chrono::steady_clock::now();
        const bool valid = CkHexFile(path);
        const auto stop = std::chrono::steady_clock::now();
        wallMs.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        passes = watcher.passes - passesBefore;
        barChanges = watcher.barChanges - changesBefore;
        virtualMs = sim.clock.NowMs() - virtualBefore;
        if (!valid || g.result.ErrorCode != 0) {
            std::fprintf(stderr, "validation %d failed: ErrorCode %d\n", run, g.result.ErrorCode);
            ok = false;
            break;
        }
        for (int i = 0; i < kImageBytes; ++i) {
            if (g.hex.HexData[static_cast<std::size_t>(i)] != image[static_cast<std::size_t>(i)]) {
                std::fprintf(stderr, "validation %d: HexData(%d) is wrong\n", run, i);
                ok = false;
                break;
            }
        }
        if (!ok)
            break;
    }

    platform::Install({});
    ResetState();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (!ok)
        return 1;

    std::vector<double> sorted = wallMs;
    std::sort(sorted.begin(), sorted.end());
    double total = 0;
    for (double ms : wallMs)
        total += ms;
    const double median = sorted[sorted.size() / 2];
    std::printf("HEX file: 32 KB image, %d-byte records, %ld lines, %zu bytes\n", kRecordBytes,
                static_cast<long>(lines), text.size());
    std::printf("validations: %d\n", runs);
    std::printf(
        "real time per validation (parse only; the settle delays are virtual): "
        "min %.2f ms, median %.2f ms, mean %.2f ms, max %.2f ms\n",
        sorted.front(), median, total / runs, sorted.back());
    std::printf("virtual time per validation: %lld ms\n", static_cast<long long>(virtualMs));
    std::printf("event processing passes per validation: %lld\n", static_cast<long long>(passes));
    std::printf("progress bar values shown per validation: %lld\n",
                static_cast<long long>(barChanges));
    if (median >= 1000.0) {
        std::printf("too slow: a validation should take well under a second\n");
        return 1;
    }
    return 0;
}
