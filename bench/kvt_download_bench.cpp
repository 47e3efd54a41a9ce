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

#include "app/main_loop.h"
#include "bench_support.h"
#include "core/state.h"
#include "hex_file_writer.h"
#include "hexfile/hex_validation.h"
#include "menus/kvt.h"
#include "menus/product_text.h"
#include "serial/comm.h"
#include "sim/kvt_product.h"
#include "ui/main_window.h"

namespace {

using namespace rompush;
using namespace rompush::bench;
using rompush::sim::KvtProduct;

constexpr double kByteUs = 10.0 * 1e6 / 115200.0;

double Wire(std::size_t bytes) {
    return static_cast<double>(bytes) * kByteUs;
}

// A KVT application: no product header, its revision line in the data.
std::string KvtHexText(std::size_t bytes, const std::string& revision) {
    std::vector<std::uint8_t> image = RandomImage(bytes, 12345);
    const std::string mark = "KVT Rev " + revision + std::string(1, '\0');
    std::copy(mark.begin(), mark.end(), image.begin() + 64);
    std::string text;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        const auto from = image.begin() + static_cast<std::ptrdiff_t>(at);
        const auto to = from + std::min<std::ptrdiff_t>(16, image.end() - from);
        text += testing::HexRecord(static_cast<std::uint16_t>(at), 0, {from, to}) + "\r\n";
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

// Waits for the KVT's first burst as the banner check does, and reads it.
bool ReadPowerUp(pid_t kvt) {
    ::kill(kvt, SIGUSR1);
    const std::int64_t deadline = NowUs() + 5'000'000;
    while (platform::Current().serial->InBufferCount() <= 50) {
        if (NowUs() > deadline)
            return false;
        platform::Current().events->WaitForEvents(20);
    }
    g.menus.SerialText.clear();
    ReadIntoSerialText();
    KVT_Boot();
    return g.dev.DevLetter == "$";
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t bytes = 32768;
    const auto options = ReadDevsimRunOptions(
        argc, argv, "rompush-bench-kvt [--bytes N] [--devsim PATH] [--keep]",
        [&](const std::string& arg, int& i) {
            if (arg != "--bytes" || i + 1 >= argc)
                return false;
            bytes = static_cast<std::size_t>(std::max(64L, std::atol(argv[++i])));
            return true;
        });
    if (!options)
        return 2;

    const std::string folder = MakeTempFolder("rompush-bench-kvt");
    const std::string hexPath = folder + "/kvt.hex";
    const std::string revision = "4.2 NPV";
    const std::string file = KvtHexText(bytes, revision);
    std::ofstream(hexPath, std::ios::binary) << file;
    std::filesystem::create_directories(folder + "/held");
    WriteCom1Settings(folder);
    testing::DevSim kvt(options->devsim, {"--folder", folder, "--com", "1", "--product", "kvt",
                                          "--quiet", "--held-out", folder + "/held"});
    if (!DevsimOnCom1(kvt))
        return 1;

    bool ok = false;
    double measuredUs = 0, gapMs = 0;
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
        gapMs = platform.timedEvents.LongestSendGapMs();
        ok = frmUI().lblPASS.Caption == "PROGRAM OK";
        if (!ok)
            std::fprintf(stderr, "the download did not end well: \"%s\"\n",
                         frmUI().lblPASS.Caption.c_str());
    }
    ResetState();
    // The KVT must hold the file.
    for (int i = 0; i < 50 && !std::filesystem::exists(folder + "/held/kvt.hex"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string held = ReadWholeFile(folder + "/held/kvt.hex");
    kvt.Stop();
    if (held != file) {
        std::fprintf(stderr, "the KVT does not hold the file (%zu of %zu bytes)\n", held.size(),
                     file.size());
        ok = false;
    }
    EndWorkFolder(folder, options->keep);
    if (!ok) {
        std::printf("KVT download: FAILED\n");
        return 1;
    }
    const double floorUs = FloorUs(file, revision);
    std::printf("KVT download (%zu-byte application, %zu bytes of HEX file)\n", bytes, file.size());
    PrintAgainstFloor(measuredUs * 1e-6, floorUs * 1e-6);
    return PrintSendGap(gapMs) ? 0 : 1;
}
