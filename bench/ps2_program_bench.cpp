// rompush-bench-ps2: how close PROGRAM of a whole firmware image into a keyboard-port device
// comes to the least time the procedure can take.
//
// For an Orbit Tiny (application 0x2000..0x7FFF: 24 KB) and a Monolink (0x4000..0x7FFF:
// 16 KB), the benchmark puts the simulated keyboard controller with the device behind "PS/2",
// runs SCAN, selects a generated HEX file of the whole application in 16-byte records, and
// times the PROGRAM command loop pass (identification again, file check, taking the
// controller, configuration read, erase, every record, the CRC verdict, configuration write,
// giving the controller back) on the REAL clock, through the real logic, the real poll pause
// and the real event loop. The controller is reached as the program reaches the PC's: through
// the keyboard-port provider and rompush-kbc-helper in a process of its own, here
// rompush-kbc-helper-sim (the helper's request loop in front of the simulated controller);
// --in-process puts the simulated controller in the program's own process instead, without
// the helper, for comparison. The controller and the device keep PS/2 timing: 1 ms a byte on
// the wire each way, the controller takes a written byte after 30 us, the device acknowledges
// 300 us after a byte has arrived and answers a request after 2 ms.
//
// It prints, per device:
//   measured  wall time of the PROGRAM pass (monotonic clock);
//   floor     the least time the same procedure needs against the same device;
//   ratio     measured / floor (target: at most 1.05);
//   CPU       CPU time (user + system) over the pass, of the program and the helper;
//   lock-out  how long the PC's keyboard and mouse were locked out: the time the controller's
//             command byte had keyboard interrupts off, from its history;
//   per byte  the time from a byte written to port 0x60 to the device's answer read there
//             (median, 90th percentile, mean; the floor's is the wire and the device alone),
//             and how much of the excess over the floor those answers make up. On a busy
//             machine the late wake-ups of a few polls make most of it.
//
// What the floor counts. The same PROGRAM runs a second time, on the virtual clock, against
// the same device on an ideal PC: each poll of the controller moves time on to the moment the
// controller or the wire next changes something (a byte taken, received, delivered), so a
// byte is seen the instant it lands, and waiting, computing and window work cost nothing. What
// remains is the critical path through the bytes' PS/2 wire time, the device's answer times
// and the pauses the procedure prescribes: the controller take and release pauses (500 ms for
// the identification, 300 ms for programming; 300 + 500 ms to give it back), the 100 ms pauses
// of the file check, the erase wait (erase count x 30 ms), the 4 x 300 ms verify pauses and
// the 5000 ms after the verdict, and the waits the procedure lets run out in full (the
// read-back of command byte 0x60, which is never accepted early, and the identity entries
// after the space), each at the minimum time the logic gives it. Both runs must leave the
// device's flash equal to the image with no error.
//
// Options: --only orbit|monolink, --kb N (image size in KB instead of the whole application),
// --in-process (no helper), --pause-here (the helper reads single bytes; the poll pause is
// taken in the program, not watched in the helper), --verbose (byte counts, poll pauses and
// the parts of the floor).
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "bench_support.h"
#include "commands/commands.h"
#include "core/state.h"
#include "hex_file_writer.h"
#include "providers/posix/keyboard_ports.h"
#include "providers/posix/poll_loop.h"
#include "providers/posix/steady_clock.h"
#include "providers/sim/sim_platform.h"
#include "serial/packets.h"
#include "ui/main_window.h"

namespace {

using namespace rompush;
using namespace rompush::platform;
using platform::sim::KvmModel;
using platform::sim::SimKeyboardPorts;
using namespace rompush::bench;

struct Model {
    const char* option;
    const char* name;
    KvmModel model;
    char letter;
    std::size_t applicationBytes;
};

const Model kOrbit{"orbit", "Orbit Tiny (application 0x2000..0x7FFF)", KvmModel::OrbitTiny, 'T',
                   0x6000};
const Model kMonolink{"monolink", "Monolink (application 0x4000..0x7FFF)", KvmModel::Monolink, 'K',
                      0x4000};

// The Delay pauses the procedure took: every interval of the one-shot timer that ran to its
// tick.
class PauseCountingTimer : public OneShotTimer {
  public:
    PauseCountingTimer(OneShotTimer& timer, const Clock& clock) : timer_(timer), clock_(clock) {}
    void SetInterval(int ms) override {
        timer_.SetInterval(ms);
        startMs_ = clock_.NowMs();
    }
    int Interval() const override { return timer_.Interval(); }
    void SetEnabled(bool enabled) override {
        timer_.SetEnabled(enabled);
        startMs_ = clock_.NowMs();
    }
    bool Enabled() const override { return timer_.Enabled(); }
    void SetTickHandler(std::function<void()> handler) override {
        timer_.SetTickHandler([this, handler = std::move(handler)] {
            pausedMs += clock_.NowMs() - startMs_;
            handler();
        });
    }
    std::int64_t pausedMs = 0;

  private:
    OneShotTimer& timer_;
    const Clock& clock_;
    std::int64_t startMs_ = 0;
};

// The program's port accesses, passed on to the simulated controller, with the time from
// each byte written to port 0x60 to the next byte read from it (the device's answer).
class TimingKeyboard : public KeyboardPorts {
  public:
    TimingKeyboard(KeyboardPorts& ports, std::function<std::int64_t()> nowUs)
        : ports_(ports), nowUs_(std::move(nowUs)) {}
    bool InitializeWinIo() override { return ports_.InitializeWinIo(); }
    void ShutdownWinIo() override { ports_.ShutdownWinIo(); }
    bool GetPortVal(std::uint16_t port, std::uint32_t& value, int size) override {
        const bool ok = ports_.GetPortVal(port, value, size);
        Read(port);
        return ok;
    }
    bool SetPortVal(std::uint16_t port, std::uint32_t value, int size) override {
        Wrote(port);
        return ports_.SetPortVal(port, value, size);
    }
    std::uint16_t Inp32(std::uint16_t port) override {
        const std::uint16_t value = ports_.Inp32(port);
        Read(port);
        return value;
    }
    void Out32(std::uint16_t port, std::uint16_t value) override {
        Wrote(port);
        ports_.Out32(port, value);
    }
    bool DirectAccess() override { return ports_.DirectAccess(); }
    std::string LastError() const override { return ports_.LastError(); }
    void SetControllerHeld(bool held) override { ports_.SetControllerHeld(held); }
    void PollPause() override { ports_.PollPause(); }

    // Answer times in microseconds, in the order they happened, and the times from an
    // answer read to the next byte written (the program's own work between two bytes).
    std::vector<std::int64_t> answers;
    std::vector<std::int64_t> gaps;

  private:
    void Wrote(std::uint16_t port) {
        if (port != 0x60)
            return;
        writtenUs_ = nowUs_();
        if (answeredUs_ >= 0)
            gaps.push_back(writtenUs_ - answeredUs_);
        answeredUs_ = -1;
    }
    void Read(std::uint16_t port) {
        if (port == 0x60 && writtenUs_ >= 0) {
            answeredUs_ = nowUs_();
            answers.push_back(answeredUs_ - writtenUs_);
            writtenUs_ = -1;
        }
    }
    std::int64_t answeredUs_ = -1;
    KeyboardPorts& ports_;
    std::function<std::int64_t()> nowUs_;
    std::int64_t writtenUs_ = -1;
};

// Median, 90th percentile, mean and sum of a run's times.
struct AnswerFigures {
    double medianUs = 0, p90Us = 0, meanUs = 0, sumUs = 0;
    std::size_t count = 0;
};
AnswerFigures Figures(std::vector<std::int64_t> times) {
    AnswerFigures f;
    if (times.empty())
        return f;
    std::sort(times.begin(), times.end());
    f.count = times.size();
    f.medianUs = static_cast<double>(times[times.size() / 2]);
    f.p90Us = static_cast<double>(times[times.size() * 9 / 10]);
    for (std::int64_t t : times)
        f.sumUs += static_cast<double>(t);
    f.meanUs = f.sumUs / static_cast<double>(times.size());
    return f;
}

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpuS = 0;
    double lockedOutS = 0;
    double pausedS = 0;
    std::int64_t bytesOut = 0, bytesIn = 0, pollPauses = 0;
    AnswerFigures answers;
    AnswerFigures gaps;
};

// The controller's side of a run as the benchmark reads it: the simulated controller in this
// process, or the report rompush-kbc-helper-sim leaves when it ends (whole-run figures).
struct ControllerSide {
    SimKeyboardPorts* inProcess = nullptr;
    std::int64_t lockedOutUs = 0, bytesOut = 0, bytesIn = 0;
    std::uint8_t commandByte = 0;
    std::vector<std::uint8_t> flash;
    std::size_t applicationBase = 0;

    void Read() {
        if (inProcess == nullptr)
            return;
        auto& c = inProcess->Controller();
        lockedOutUs = c.LockedOutUs();
        bytesOut = c.BytesToDevice();
        bytesIn = c.BytesFromDevice();
        commandByte = inProcess->CommandByte();
        flash = inProcess->Device()->Flash();
        applicationBase = inProcess->Device()->ApplicationBase();
    }
};

// The CPU time a process has used so far (the helper's), in seconds; 0 when unknown.
double ProcessCpuSeconds(pid_t pid) {
    clockid_t clock{};
    timespec ts{};
    if (pid <= 0 || ::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &ts) != 0)
        return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// SCAN, then the timed PROGRAM pass; checks the outcome (the flash and the command byte left
// are checked by the caller, once the controller's side can be read).
Run ScanAndProgram(ControllerSide& side, TimingKeyboard& timing, PauseCountingTimer& timer,
                   const std::string& hexPath, const std::function<std::int64_t()>& nowUs,
                   const std::function<pid_t()>& helperPid = nullptr) {
    Run run;
    WireMainWindowHandlers();
    StartUp();
    if (frmUI().cboPORT.Text() != "PS/2") {
        std::fprintf(stderr, "start-up did not select \"PS/2\"\n");
        return run;
    }
    g.files.SelectedFileName = "bench.hex";
    g.files.SelectedFilePath = hexPath;
    g.cmd.UiCommand = uicmdSCAN;
    CommandLoopPass();
    if (!g.dev.DeviceFound) {
        std::fprintf(stderr, "SCAN found no device (error %d)\n", g.result.ErrorCode);
        return run;
    }

    side.Read();
    const ControllerSide before = side;
    const std::int64_t pausesBefore = side.inProcess ? side.inProcess->PollPauses() : 0;
    const std::int64_t pausedBefore = timer.pausedMs;

    g.cmd.UiCommand = uicmdPROGRAM;
    timing.answers.clear();
    timing.gaps.clear();
    const pid_t helper = helperPid ? helperPid() : -1;
    const double cpuBefore = CpuSeconds() + ProcessCpuSeconds(helper);
    const std::int64_t startUs = nowUs();
    CommandLoopPass();
    const std::int64_t endUs = nowUs();
    run.cpuS = CpuSeconds() + ProcessCpuSeconds(helper) - cpuBefore;
    run.seconds = static_cast<double>(endUs - startUs) * 1e-6;
    side.Read();
    run.lockedOutS = static_cast<double>(side.lockedOutUs - before.lockedOutUs) * 1e-6;
    run.bytesOut = side.bytesOut - before.bytesOut;
    run.bytesIn = side.bytesIn - before.bytesIn;
    run.pollPauses = side.inProcess ? side.inProcess->PollPauses() - pausesBefore : 0;
    run.answers = Figures(timing.answers);
    run.gaps = Figures(timing.gaps);
    run.pausedS = static_cast<double>(timer.pausedMs - pausedBefore) * 1e-3;
    run.ok = g.result.ErrorCode == 0 && g.cmd.UiCommand == uicmdSCAN;
    if (!run.ok) {
        std::fprintf(stderr, "PROGRAM failed: error %d, message \"%s\"\n", g.result.ErrorCode,
                     frmUI().lblPASS.Caption.c_str());
    }
    return run;
}

// The device holds the image and the controller was given back.
bool ControllerLeftRight(const ControllerSide& side, const std::vector<std::uint8_t>& image) {
    const bool flashOk = side.flash.size() >= side.applicationBase + image.size() &&
                         std::equal(image.begin(), image.end(),
                                    side.flash.begin() + static_cast<long>(side.applicationBase));
    if (!flashOk || side.commandByte != 0x47) {
        std::fprintf(stderr, "flash %s, command byte %02X\n",
                     flashOk ? "holds the image" : "differs", side.commandByte);
    }
    return flashOk && side.commandByte == 0x47;
}

// The report rompush-kbc-helper-sim wrote when it ended.
bool ReadHelperReport(const std::string& path, ControllerSide& side, std::size_t base) {
    std::map<std::string, std::string> fields;
    std::istringstream in(ReadWholeFile(path));
    for (std::string line; std::getline(in, line);) {
        const auto blank = line.find(' ');
        if (blank != std::string::npos)
            fields[line.substr(0, blank)] = line.substr(blank + 1);
    }
    if (fields.count("command-byte") == 0)
        return false;
    side.commandByte = static_cast<std::uint8_t>(std::stoi(fields["command-byte"], nullptr, 16));
    side.lockedOutUs = std::stoll(fields["locked-out-us"]);
    side.bytesOut = std::stoll(fields["bytes-to-device"]);
    side.bytesIn = std::stoll(fields["bytes-from-device"]);
    const std::string& hex = fields["flash"];
    side.flash.clear();
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        side.flash.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    side.applicationBase = base;
    return true;
}

enum class Reach { Helper, HelperPausingHere, InProcess };

// The program on the real clock: steady clock, poll loop, the real poll pause; the controller
// behind rompush-kbc-helper-sim, or in this process.
Run RealRun(const Model& model, const std::string& folder, const std::string& hexPath,
            const std::vector<std::uint8_t>& image, Reach reach) {
    rompush::sim::VirtualClock unused;  // only the operator's side is simulated
    posix::SteadyClock clock;
    posix::PollTimer pollTimer(clock);
    posix::PollEventLoop events(pollTimer, nullptr);
    PauseCountingTimer timer(pollTimer, clock);
    platform::sim::SimSerialPort serial(unused);
    platform::sim::SimDialogs dialogs(unused);
    platform::sim::SimDesktop desktop;
    platform::sim::SimSystem system(folder, folder);
    SimKeyboardPorts inProcess(NowUs, [] { posix::PauseMicroseconds(20); });
    inProcess.AttachDevice(model.model);
    const std::string report = folder + "/helper-report";
    ::setenv("ROMPUSH_KBC_SIM_MODEL",
             model.option == std::string("orbit") ? "orbit-tiny" : "monolink", 1);
    ::setenv("ROMPUSH_KBC_SIM_REPORT", report.c_str(), 1);
    auto helper = std::make_unique<posix::PosixKeyboardPorts>(
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "rompush-kbc-helper-sim")
            .string());
    helper->SetWatchInHelper(reach == Reach::Helper);
    ControllerSide side;
    if (reach == Reach::InProcess)
        side.inProcess = &inProcess;
    TimingKeyboard timing(
        reach == Reach::InProcess ? static_cast<KeyboardPorts&>(inProcess) : *helper, NowUs);
    desktop.SetTitleSource([] { return frmUI().Caption; });
    Install({.serial = &serial,
             .timer = &timer,
             .clock = &clock,
             .events = &events,
             .dialogs = &dialogs,
             .desktop = &desktop,
             .system = &system,
             .keyboard = &timing});
    ResetState();
    BuildCrcTable();
    Run run = ScanAndProgram(side, timing, timer, hexPath, NowUs,
                             [&helper] { return helper->HelperPid(); });
    ResetState();
    Install(Services{});
    helper.reset();  // the helper ends and leaves its report
    if (reach != Reach::InProcess &&
        !ReadHelperReport(report, side, inProcess.Device()->ApplicationBase())) {
        std::fprintf(stderr, "rompush-kbc-helper-sim left no report\n");
        run.ok = false;
    }
    if (reach != Reach::InProcess) {
        run.lockedOutS = static_cast<double>(side.lockedOutUs) * 1e-6;  // SCAN included
        run.bytesOut = side.bytesOut;
        run.bytesIn = side.bytesIn;
    }
    run.ok = run.ok && ControllerLeftRight(side, image);
    return run;
}

// The same procedure on the ideal PC of the floor, on the virtual clock.
Run IdealRun(const Model& model, const std::string& folder, const std::string& hexPath,
             const std::vector<std::uint8_t>& image) {
    platform::sim::SimPlatform sim(folder, folder);
    SimKeyboardPorts* ideal = nullptr;
    SimKeyboardPorts keyboard([&sim] { return sim.clock.NowUs(); },
                              [&sim, &ideal] {
                                  // On to the controller's next change, never past the next
                                  // scheduled event; with nothing on its way, one poll's time.
                                  const std::int64_t now = sim.clock.NowUs();
                                  std::int64_t until = now + SimKeyboardPorts::kPollPauseUs;
                                  if (auto next = ideal->Controller().NextEventUs();
                                      next && *next > now)
                                      until = *next;
                                  if (auto due = sim.clock.NextDueUs(); due && *due < until)
                                      until = std::max(now, *due);
                                  sim.clock.AdvanceToUs(until);
                                  sim.clock.RunDue();
                              });
    ideal = &keyboard;
    keyboard.AttachDevice(model.model);
    PauseCountingTimer timer(sim.timer, sim.clock);
    sim.desktop.SetTitleSource([] { return frmUI().Caption; });
    Services services = Current();
    TimingKeyboard timing(keyboard, [&sim] { return sim.clock.NowUs(); });
    services.keyboard = &timing;
    services.timer = &timer;
    Install(services);
    ResetState();
    BuildCrcTable();
    ControllerSide side;
    side.inProcess = &keyboard;
    Run run = ScanAndProgram(side, timing, timer, hexPath, [&sim] { return sim.clock.NowUs(); });
    run.ok = run.ok && ControllerLeftRight(side, image);
    ResetState();
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    std::string only;
    std::size_t kb = 0;
    bool verbose = false;
    Reach reach = Reach::Helper;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (arg == "--kb" && i + 1 < argc) {
            kb = static_cast<std::size_t>(std::atoi(argv[++i]));
        } else if (arg == "--in-process") {
            reach = Reach::InProcess;
        } else if (arg == "--pause-here") {
            reach = Reach::HelperPausingHere;
        } else if (arg == "--verbose" || arg == "-v") {
            verbose = true;
        } else {
            std::fprintf(stderr,
                         "usage: rompush-bench-ps2 [--only orbit|monolink] [--kb N] "
                         "[--in-process | --pause-here] [--verbose]\n");
            return 2;
        }
    }

    bool allOk = true;
    for (const Model* model : {&kOrbit, &kMonolink}) {
        if (!only.empty() && only != model->option)
            continue;
        const std::string folder = MakeTempFolder("rompush-bench-ps2");
        const std::string hexPath = folder + "/bench.hex";
        const std::size_t size =
            kb > 0 ? std::min(kb * 1024, model->applicationBytes) : model->applicationBytes;
        const auto image = RandomImage(size, static_cast<std::uint32_t>(model->letter) * 7919u);
        testing::WriteHexFile(hexPath, testing::ProductCodeFor(model->letter), 0, image, 16);

        const Run floor = IdealRun(*model, folder, hexPath, image);
        // Every poll pause is a wake-up: on a busy machine the scheduler's delays add to
        // every byte, so the load is printed with the figures.
        double load = 0;
        if (FILE* f = std::fopen("/proc/loadavg", "r")) {
            if (std::fscanf(f, "%lf", &load) != 1)
                load = 0;
            std::fclose(f);
        }
        const Run real = floor.ok ? RealRun(*model, folder, hexPath, image, reach) : Run{};
        EndWorkFolder(folder, false);
        if (!floor.ok || !real.ok) {
            std::printf("%s: FAILED\n", model->name);
            allOk = false;
            continue;
        }
        std::printf("%s, %zu bytes in %zu records (load average %.2f on %ld cores), %s\n",
                    model->name, size, (size + 15) / 16, load, ::sysconf(_SC_NPROCESSORS_ONLN),
                    reach == Reach::InProcess ? "controller in the program's process"
                    : reach == Reach::Helper  ? "through the helper (status watched there)"
                                              : "through the helper (pauses in the program)");
        PrintAgainstFloor(real.seconds, floor.seconds);
        std::printf("  CPU       %8.3f s  (%.1f%% of the wall time)\n", real.cpuS,
                    100.0 * real.cpuS / real.seconds);
        std::printf("  CPU/s     %8.3f    (CPU seconds per second of programming)\n",
                    real.cpuS / real.seconds);
        std::printf("  lock-out  %8.3f s  (keyboard and mouse of the PC%s; floor run %.3f s)\n",
                    real.lockedOutS, reach == Reach::InProcess ? "" : ", SCAN included",
                    floor.lockedOutS);
        std::printf(
            "  per byte  %8.1f us median, %.1f us at 90%%, %.1f us mean from a byte written "
            "to its answer read (floor mean %.1f us); answers' share of the excess %.3f s\n",
            real.answers.medianUs, real.answers.p90Us, real.answers.meanUs, floor.answers.meanUs,
            (real.answers.sumUs - floor.answers.sumUs) * 1e-6);
        std::printf(
            "  between   %8.1f us median, %.1f us at 90%%, %.1f us mean from an answer read "
            "to the next byte written; their share of the excess %.3f s\n",
            real.gaps.medianUs, real.gaps.p90Us, real.gaps.meanUs,
            (real.gaps.sumUs - floor.gaps.sumUs) * 1e-6);
        if (verbose) {
            const double wireS =
                static_cast<double>(floor.bytesOut + floor.bytesIn) * 1e-3;  // 1 ms a byte
            std::printf(
                "  parts of the floor: wire %.3f s (%lld bytes out, %lld in), "
                "prescribed pauses %.3f s, device answers and full waits %.3f s\n",
                wireS, static_cast<long long>(floor.bytesOut),
                static_cast<long long>(floor.bytesIn), floor.pausedS,
                floor.seconds - wireS - floor.pausedS);
            std::printf(
                "  real run: %lld bytes out, %lld in, pauses %.3f s, %lld poll pauses "
                "(%.1f us each on average outside the pauses)\n",
                static_cast<long long>(real.bytesOut), static_cast<long long>(real.bytesIn),
                real.pausedS, static_cast<long long>(real.pollPauses),
                (real.seconds - real.pausedS) * 1e6 /
                    static_cast<double>(std::max<std::int64_t>(1, real.pollPauses)));
        }
        std::fflush(stdout);
    }
    return allOk ? 0 : 1;
}
