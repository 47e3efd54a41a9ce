// rompush-bench-meridan: how close PROGRAM MAIN of a Meridan, a whole 32 KB firmware image sent
// as HEX text, comes to the least time the procedure can take, over a pseudo-terminal at
// 115200 baud.
//
// The benchmark starts rompush-devsim with the simulated Meridan, switches it on (SIGUSR1),
// stops it in its serial options menu with a space as the detection does, and times
// MeridanProgram() through the real serial port, poll loop, timer and clock. It checks that
// the window says "PROGRAM OK" and that the product holds exactly the file sent.
//
// It prints the measured wall time, the floor and their ratio (target: at most 1.05), and
// the process CPU time. The floor is what an ideal PC needs that spends no time on anything
// but the wire and the waits the procedure prescribes:
//   - the menu key "1", then the 500 ms before the product's answer is read and the 1000 ms
//     before the file is sent;
//   - every character of the file and the carriage return after each line, 10 bits at
//     115200 baud each (the product reads at the wire's pace);
//   - the product's own work after the last line: one sector time for each 4 KB sector it
//     programs and verifies, 10 ms before its closing report, and that report and its menu
//     on the wire back to the PC.
//
// Options: --devsim PATH (default: beside this program), --keep (leave the work folder).
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/main_loop.h"
#include "bench_support.h"
#include "core/state.h"
#include "hex_file_writer.h"
#include "hexfile/hex_validation.h"
#include "menus/meridan.h"
#include "menus/product_text.h"
#include "sim/meridan_product.h"
#include "ui/main_window.h"

namespace {

using namespace rompush;
using namespace rompush::bench;

constexpr double kByteUs = 10.0 * 1e6 / 115200.0;
constexpr std::size_t kImageBytes = 32768;
constexpr int kSectorMs = 40;  // the simulated Meridan's sector time (its default)

int Run(const std::string& devsim, bool keep) {
    const std::string folder = MakeTempFolder("rompush-bench");
    const std::string hexPath = folder + "/meridan.hex";
    const std::string hexText =
        testing::HexFileText(testing::ProductCodeFor('X'), 0, testing::PatternImage(kImageBytes));
    std::ofstream(hexPath, std::ios::binary) << hexText;
    std::filesystem::create_directory(folder + "/held");
    WriteCom1Settings(folder);

    testing::DevSim product(devsim, {"--folder", folder, "--com", "1", "--product", "meridan",
                                     "--held-out", folder + "/held", "--quiet"});
    if (!DevsimOnCom1(product))
        return 1;

    // What crosses the wire: the key, each line's characters and its carriage return; back,
    // the closing report and the menu.
    std::size_t fileBytes = 0;
    for (std::size_t start = 0, end; (end = hexText.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        fileBytes += end - start + 1;
    }
    const std::size_t sectors = kImageBytes / 4096;
    const std::size_t tailBytes = std::string("Flash programming complete\r\n").size() +
                                  rompush::sim::MeridanProduct().MenuText().size();
    const double floorUs = kByteUs + 500e3 + 1000e3 + static_cast<double>(fileBytes) * kByteUs +
                           static_cast<double>(sectors) * kSectorMs * 1e3 + 10e3 +
                           static_cast<double>(tailBytes) * kByteUs;

    double measuredS = 0, cpuS = 0, gapMs = 0;
    bool good = false;
    ResetState();
    {
        BenchPlatform platform(folder);
        WireMainWindowHandlers();
        StartUp();
        // The product powers up and is stopped in its menu, as the detection does it.
        ::kill(product.Pid(), SIGUSR1);
        g.menus.SerialText.clear();
        if (WaitForAnyText({"Static"}, 10000) != TextWait::Found) {
            std::fprintf(stderr, "the Meridan did not power up\n");
            return 1;
        }
        SendToProduct(" ");
        if (WaitForAnyText({">"}, 10000) != TextWait::Found) {
            std::fprintf(stderr, "the Meridan did not show its menu\n");
            return 1;
        }
        ReadMenuOptions();
        g.cmd.ProductMode = "MAIN";
        g.dev.DevLetter = "X";
        g.dev.DevIdName = "Meridan";
        g.dev.DeviceFound = true;
        g.files.SelectedFileName = "meridan.hex";
        g.files.SelectedFilePath = hexPath;
        if (!ValidateHexFile(g.files.SelectedFileName, g.files.SelectedFilePath)) {
            std::fprintf(stderr, "the HEX file does not validate (error %d)\n", g.result.ErrorCode);
            return 1;
        }

        const double cpuBefore = CpuSeconds();
        const std::int64_t startUs = NowUs();
        MeridanProgram();
        const std::int64_t endUs = NowUs();
        cpuS = CpuSeconds() - cpuBefore;
        gapMs = platform.timedEvents.LongestSendGapMs();
        measuredS = static_cast<double>(endUs - startUs) * 1e-6;
        const std::string message = frmUI().lblPASS.Caption;
        platform.events.WaitForEvents(300);  // the held file reaches the folder
        const bool held = ReadWholeFile(folder + "/held/main.hex") == hexText;
        good = message == "PROGRAM OK" && held;
        if (!good) {
            std::fprintf(stderr, "PROGRAM MAIN failed: message \"%s\", file %s\n", message.c_str(),
                         held ? "held" : "not held as sent");
        }
    }
    ResetState();
    product.Stop();
    EndWorkFolder(folder, keep);

    std::printf("Meridan PROGRAM MAIN, %zu KB image, %zu file bytes at 115200 baud\n",
                kImageBytes / 1024, fileBytes);
    const bool met = PrintAgainstFloor(measuredS, floorUs * 1e-6);
    std::printf("  CPU       %8.3f s\n", cpuS);
    const bool responsive = PrintSendGap(gapMs);
    return good && met && responsive ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options =
        ReadDevsimRunOptions(argc, argv, "rompush-bench-meridan [--devsim PATH] [--keep]");
    return options ? Run(options->devsim, options->keep) : 2;
}
