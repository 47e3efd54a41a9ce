// rompush-bench-crossfield: how close PROGRAM of a full HEX file into a Crossfield comes to the
// least time the procedure can take, over a pseudo-terminal at 57600 baud.
//
// rompush-devsim runs the simulated Crossfield (saved rate 57600 baud), pacing every byte at
// the line's rate both ways. The benchmark powers it up, opens its menu with a space, and then
// times CfxProgram with a generated HEX file of a 32 KB image (1025 records of 32 bytes)
// through the real serial port, poll loop, timer and clock. It checks that the window says
// "PROGRAM OK" and that the Crossfield holds the file as it was sent.
//
// It prints:
//   measured  wall time of CfxProgram (monotonic clock);
//   floor     the wire time plus the prescribed waits: the key "3", the 500 ms after it and
//             the 1000 ms before the file, every character of the file and a carriage return
//             per line at 10 bits / 57600 baud, the Crossfield's flashing (114 dots at the
//             interval rompush-devsim was given) and the wire time of what it says after the
//             last dot up to its menu's ">"; its answer to "3" arrives within the 500 ms;
//   ratio     measured / floor (target: at most 1.05);
//   CPU       process CPU time (user + system) over the same time.
//
// Options: --devsim PATH (default: beside this program), --keep (leave the work folder).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/main_loop.h"
#include "bench_support.h"
#include "core/state.h"
#include "hex_file_writer.h"
#include "menus/crossfield.h"
#include "menus/product_text.h"
#include "serial/comm.h"

namespace {

using namespace rompush;
using namespace rompush::bench;

constexpr double kByteUs = 10.0 * 1e6 / 57600.0;
constexpr int kFlashMs = 5700;  // what rompush-devsim is told the flashing takes
constexpr int kDots = 114;

}  // namespace

int main(int argc, char** argv) {
    const auto options =
        ReadDevsimRunOptions(argc, argv, "rompush-bench-crossfield [--devsim PATH] [--keep]");
    if (!options)
        return 2;

    const std::string folder = MakeTempFolder("rompush-bench");
    const std::string hexPath = folder + "/crossfield.hex";
    testing::WriteHexFile(hexPath, testing::ProductCodeFor('U'), 0, testing::PatternImage(32768));
    const std::string file = ReadWholeFile(hexPath);
    std::filesystem::create_directory(folder + "/held");

    testing::DevSim product(
        options->devsim, {"--folder", folder, "--com", "1", "--product", "crossfield", "--option",
                          "baud=57600", "--option", "flashms=" + std::to_string(kFlashMs),
                          "--held-out", folder + "/held", "--quiet"});
    if (!DevsimOnCom1(product))
        return 1;

    bool good = false;
    double measuredS = 0, floorS = 0, cpuS = 0, gapMs = 0;
    ResetState();
    {
        BenchPlatform platform(folder);
        WireMainWindowHandlers();
        g.port.CommPortNumber = 1;
        g.port.BaudSetting = "57600";
        SetCommPort(1);
        // Power up and open the menu, as the entry does.
        product.PowerCycle();
        const bool menu =
            WaitForAnyText({"Hit space bar"}, 10000) == TextWait::Found &&
            (SendToProduct(" "), WaitForAnyText({"Enter choice -->"}, 10000) == TextWait::Found);
        if (!menu) {
            std::fprintf(stderr, "the Crossfield's menu did not come\n");
            return 1;
        }
        g.cmd.ProductMode = "CFX";
        g.dev.DevLetter = "U";
        g.dev.DeviceFound = true;
        g.menus.cfx.PowerUpBaud = "57600";
        g.files.CfxFileName = "crossfield.hex";
        g.files.CfxFilePath = hexPath;
        g.menus.MenuText = g.menus.SerialText;
        g.menus.SerialText.clear();
        g.cmd.UiCommand = uicmdPROGRAM;

        const double cpuBefore = CpuSeconds();
        const std::int64_t startUs = NowUs();
        CfxProgram();
        measuredS = static_cast<double>(NowUs() - startUs) * 1e-6;
        cpuS = CpuSeconds() - cpuBefore;
        gapMs = platform.timedEvents.LongestSendGapMs();

        good = frmUI().lblPASS.Caption == "PROGRAM OK" && g.result.ErrorCode == 0;
        if (!good) {
            std::fprintf(stderr, "PROGRAM failed: error %d, message \"%s\"\n", g.result.ErrorCode,
                         frmUI().lblPASS.Caption.c_str());
        }
        // What the Crossfield said after its last dot, up to the menu's ">".
        const std::string& said = g.menus.MenuText;
        const auto lastDot = said.rfind('.', said.rfind("Flash programming successful"));
        const auto prompt = said.rfind('>');
        const double tailBytes = lastDot == std::string::npos || prompt == std::string::npos
                                     ? 0
                                     : static_cast<double>(prompt - lastDot);
        const double sentBytes =
            1 + static_cast<double>(file.size() - std::count(file.begin(), file.end(), '\n'));
        const double dotsMs = kDots * (kFlashMs / kDots) + 1;
        floorS = (sentBytes + tailBytes) * kByteUs * 1e-6 + (500 + 1000 + dotsMs) * 1e-3;
    }
    ResetState();
    // Let rompush-devsim write what it holds, then stop it.
    product.Stop();
    if (ReadWholeFile(folder + "/held/cfx.hex") != file) {
        std::fprintf(stderr, "the Crossfield does not hold the file\n");
        good = false;
    }
    EndWorkFolder(folder, options->keep);
    if (!good)
        return 1;
    std::printf("Crossfield PROGRAM, 32 KB image (%zu bytes of HEX text) at 57600 baud\n",
                file.size());
    const bool met = PrintAgainstFloor(measuredS, floorS);
    std::printf("  CPU       %8.3f s\n", cpuS);
    const bool responsive = PrintSendGap(gapMs);
    return met && responsive ? 0 : 1;
}
