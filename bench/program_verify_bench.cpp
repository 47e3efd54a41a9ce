// rompush-bench-program: how close PROGRAM then VERIFY of a whole firmware image comes to the
// least time the procedure can take, over a pseudo-terminal at 115200 baud.
//
// For a QTR receiver (type 3: 256 pages of 128 bytes, every page holding data, so all of them
// erased, written and checked; pages 0..99 verified) and a VLN transmitter (type 2: pages
// 4..28 of 512 bytes at device addresses &H800..&H39FF), the benchmark starts rompush-devsim,
// which paces every byte at the line's baud rate, runs SCAN, selects a generated HEX file of
// the whole image, and times the PROGRAM command loop pass and the VERIFY pass it chains
// into, through the real serial port, poll loop, timer and clock. It checks that the device's
// flash ends up holding the image and that the window says "Program and Verify OK".
//
// It prints, per device:
//   measured  wall time of the two passes (monotonic clock);
//   PROGRAM+VERIFY  that time against the same run through a USB serial adapter that holds
//             every answer for its 16 ms latency timer (rompush-devsim --latency-timer 16), as
//             an FTDI adapter does unless the port asks for low-latency mode;
//   floor     the least time any correct implementation of the same procedure needs;
//   ratio     measured / floor (target: at most 1.05);
//   CPU       process CPU time (user + system) over the same two passes.
//
// What the floor counts. The program's own waits and its port traffic are recorded through
// wrappers around the platform's serial port and timer; rompush-devsim's --timing log gives
// every byte each way, and for every answer the packet (or power-up) it answers and the
// device's own processing time before it (answer delay, page erase and write times, the
// application's start-up until its ready byte). The floor then replays the recorded sequence
// of steps on an ideal PC that needs no time for anything but waiting:
//   - a byte takes exactly 10 bits / 115200 baud = 86.81 us on the wire, each way; the bytes
//     of a direction follow one another and a byte leaves no earlier than it is written;
//   - the device answers a packet its logged processing time after the packet's last byte
//     has crossed, and the ready byte after a port opening (power-up) after its start-up;
//   - every wait that ran out in full (each Delay(n), and any receive time-out that elapsed)
//     lasts exactly its interval from the moment it was started;
//   - a receive ends the moment the byte it takes has fully crossed the wire (so a Delay
//     that already covered the answer's travel costs only the Delay);
//   - bytes read while no wait is timing (emptying the receive buffer) cost nothing;
//   - computing, file reading and window work cost nothing, and so does the busy pause
//     before each packet (it is CPU work whose length depends on the machine).
// The floor is the time this ideal PC needs from the first to the last step: the critical
// path through wire, device and prescribed waits. It is not their plain sum, which is also
// printed: that counts twice the wire and device time that passes during a Delay (VERIFY's
// Delay(50) after each CRC request covers the whole exchange), so it is no lower bound.
// A receive time-out that ran out in the run is a full wait too: the same procedure meets
// the same device there. Against a device that answers none should: the ready byte &H08 that
// the VLN transmitter sends when its application starts (after GO, and after the port opening
// at the start of VERIFY) is emptied before each FLASH_CMD or ends the receive that meets it,
// and is never waited on as the length of an answer; "full waits of a second or more" lists
// every long wait, so a time-out that comes back shows there.
// Everything the procedure prescribes is kept: the ready-byte waits, the 100 ms before
// each identification attempt, the 1000 ms before the bootloader revision, the 500 ms
// before flash mode, the 200 ms of each file check, Delay(1), Delay(2), Delay(50), Delay(65),
// the 1000 ms after "Program OK" and the 3000 + 1000 ms after "Program and Verify OK".
//
// Options: --only qtr|vln, --devsim PATH (default: beside this program), --keep (leave the
// work folder with the HEX file, flash and timing log), --verbose (per-class breakdown).
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "bench_support.h"
#include "commands/commands.h"
#include "core/state.h"
#include "hex_file_writer.h"
#include "hexfile/hex_validation.h"
#include "providers/posix/poll_loop.h"
#include "providers/posix/port_map.h"
#include "providers/posix/serial_port.h"
#include "providers/posix/steady_clock.h"
#include "providers/sim/sim_platform.h"
#include "serial/packets.h"
#include "ui/main_window.h"

namespace {

using namespace rompush;
using namespace rompush::platform;
using namespace rompush::bench;

constexpr double kByteUs = 10.0 * 1e6 / 115200.0;  // start bit, 8 data bits, stop bit
// An FTDI adapter's latency timer with current kernels, where low-latency mode is not set.
constexpr int kAdapterLatencyMs = 16;

// ---- what the program did, as the platform saw it ----------------------------------------

struct Event {
    enum Kind { Write, Read, Open, Close, Arm, Tick } kind;
    std::int64_t atUs;
    int value = 0;          // byte written or read; interval of an arm
    bool timing = false;    // a read while a wait was timing
    std::uint64_t seq = 0;  // bytes written: the how-manieth since the start
};

class Recorder {
  public:
    void Add(Event e) {
        if (e.kind == Event::Write)
            e.seq = written_++;
        events_.push_back(e);
    }
    std::vector<Event>& Events() { return events_; }

  private:
    std::vector<Event> events_;
    std::uint64_t written_ = 0;
};

class RecordingTimer : public OneShotTimer {
  public:
    RecordingTimer(posix::PollTimer& timer, Recorder& log) : timer_(timer), log_(log) {}
    void SetInterval(int ms) override {
        timer_.SetInterval(ms);
        if (timer_.Enabled())
            log_.Add({Event::Arm, NowUs(), timer_.Interval()});
    }
    int Interval() const override { return timer_.Interval(); }
    void SetEnabled(bool enabled) override {
        timer_.SetEnabled(enabled);
        if (enabled)
            log_.Add({Event::Arm, NowUs(), timer_.Interval()});
    }
    bool Enabled() const override { return timer_.Enabled(); }
    void SetTickHandler(std::function<void()> handler) override {
        timer_.SetTickHandler([this, handler = std::move(handler)] {
            log_.Add({Event::Tick, NowUs()});
            if (handler)
                handler();
        });
    }

  private:
    posix::PollTimer& timer_;
    Recorder& log_;
};

class RecordingPort : public SerialPort {
  public:
    RecordingPort(posix::PosixSerialPort& port, const OneShotTimer& timer, Recorder& log)
        : port_(port), timer_(timer), log_(log) {}
    void SetCommPort(int number) override { port_.SetCommPort(number); }
    int CommPort() const override { return port_.CommPort(); }
    void SetSettings(const std::string& settings) override { port_.SetSettings(settings); }
    std::string Settings() const override { return port_.Settings(); }
    void SetHandshaking(int mode) override { port_.SetHandshaking(mode); }
    int Handshaking() const override { return port_.Handshaking(); }
    void SetInputLen(int characters) override { port_.SetInputLen(characters); }
    int InputLen() const override { return port_.InputLen(); }
    void SetInputModeText() override { port_.SetInputModeText(); }
    void SetPortOpen(bool open) override {
        const bool was = port_.PortOpen();
        port_.SetPortOpen(open);  // throws when it cannot open: nothing to record
        if (was && !open)
            log_.Add({Event::Close, NowUs()});
        if (open)
            log_.Add({Event::Open, NowUs()});
    }
    bool PortOpen() const override { return port_.PortOpen(); }
    int InBufferCount() override { return port_.InBufferCount(); }
    std::string Input() override {
        const std::string in = port_.Input();
        for (char c : in) {
            log_.Add({Event::Read, NowUs(), static_cast<std::uint8_t>(c), timer_.Enabled()});
        }
        return in;
    }
    int Write(const std::string& bytes) override {
        const std::int64_t at = NowUs();
        const int taken = port_.Write(bytes);
        for (int i = 0; i < taken; ++i)
            log_.Add(
                {Event::Write, at, static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i)])});
        return taken;
    }
    void DiscardOutput() override { port_.DiscardOutput(); }
    bool DeviceLost() const override { return port_.DeviceLost(); }
    void SetRThreshold(int characters) override { port_.SetRThreshold(characters); }
    void SetSThreshold(int characters) override { port_.SetSThreshold(characters); }
    void SetOnComm(std::function<void()> handler) override { port_.SetOnComm(std::move(handler)); }
    std::string DevicePath(int number) const override { return port_.DevicePath(number); }
    std::string LastError() const override { return port_.LastError(); }

  private:
    posix::PosixSerialPort& port_;
    const OneShotTimer& timer_;
    Recorder& log_;
};

// Counts how often the program asked to sleep and to look at events.
class CountingEvents : public EventLoop {
  public:
    explicit CountingEvents(EventLoop& events) : events_(events) {}
    void DoEvents() override {
        ++doEvents;
        events_.DoEvents();
    }
    void WaitForEvents(int maxMs) override {
        ++waits;
        events_.WaitForEvents(maxMs);
    }
    void RequestEnd() override { events_.RequestEnd(); }
    bool EndRequested() const override { return events_.EndRequested(); }
    long doEvents = 0;
    long waits = 0;

  private:
    EventLoop& events_;
};

// The real serial port, timer, clock and poll loop behind the recorders; the operator's side
// (message boxes, desktop) stays simulated, as no one clicks during the run.
class RecordingPlatform {
  public:
    explicit RecordingPlatform(const std::string& folder)
        : serial(posix::PortMap(folder)),
          timer(clock),
          events(timer, &serial),
          recordingTimer(timer, log),
          recordingPort(serial, recordingTimer, log),
          countingEvents(events),
          dialogs(virtualClock),
          system(folder, folder) {
        Install({.serial = &recordingPort,
                 .timer = &recordingTimer,
                 .clock = &clock,
                 .events = &countingEvents,
                 .dialogs = &dialogs,
                 .desktop = &desktop,
                 .system = &system});
    }
    ~RecordingPlatform() { Install(Services{}); }

    Recorder log;
    posix::SteadyClock clock;
    posix::PosixSerialPort serial;
    posix::PollTimer timer;
    posix::PollEventLoop events;
    RecordingTimer recordingTimer;
    RecordingPort recordingPort;
    CountingEvents countingEvents;
    rompush::sim::VirtualClock virtualClock;
    platform::sim::SimDialogs dialogs;
    platform::sim::SimDesktop desktop;
    platform::sim::SimSystem system;
};

// ---- the firmware image and its HEX file -------------------------------------------------

struct Device {
    const char* name;
    const char* devsimType;
    char letter;                 // the letter the file's product code belongs to
    std::uint32_t firstAddress;  // device address of image byte 0
    std::size_t imageBytes;
};

const Device kQtr{"QTR (TWPx Receiver, 256 x 128-byte pages)", "3", 'D', 0x0000, 256 * 128};
const Device kVln{"VLN (TWPx Transmitter, pages 4..28 x 512 bytes)", "2", 'H', 0x0800, 25 * 512};

// An image in which no page is all &HFF, so every page is written.
std::vector<std::uint8_t> MakeImage(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> image = RandomImage(size, seed);
    std::replace(image.begin(), image.end(), std::uint8_t{0xFF}, std::uint8_t{0x5A});
    return image;
}

// ---- rompush-devsim's timing log ---------------------------------------------------------

struct Answer {
    std::int64_t delayUs = 0;
    std::int64_t askedUs = 0;
    std::int64_t queuedUs = 0;
    std::uint64_t firstSeq = 0;
    std::vector<std::uint8_t> bytes;
};
struct DevByte {
    std::int64_t startUs = 0, endUs = 0, writtenUs = 0;
};
struct PcByte {
    std::int64_t readUs = 0, startUs = 0, endUs = 0;
    int value = 0;
    bool lost = false;
};
struct TimingLog {
    std::map<std::uint64_t, PcByte> pc;
    std::map<std::uint64_t, DevByte> dev;
    std::map<std::string, std::vector<Answer>> answers;  // by cause: "pc:SEQ", "open:N"
    std::vector<std::pair<int, std::int64_t>> opens;
    std::map<std::uint64_t, int> packets;  // last byte's seq -> command
};

std::vector<std::uint8_t> HexBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t k = 0; k + 1 < text.size(); k += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(k, 2), nullptr, 16)));
    return bytes;
}

TimingLog ReadTimingLog(const std::string& path) {
    TimingLog log;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "pc") {
            std::uint64_t seq;
            PcByte b;
            std::string hex;
            fields >> seq >> b.readUs >> b.startUs >> b.endUs >> hex;
            b.value = static_cast<int>(std::stoul(hex, nullptr, 16));
            log.pc[seq] = b;
        } else if (kind == "lost") {
            std::uint64_t seq;
            PcByte b;
            std::string hex;
            fields >> seq >> b.readUs >> hex;
            b.value = static_cast<int>(std::stoul(hex, nullptr, 16));
            b.lost = true;
            log.pc[seq] = b;
        } else if (kind == "dev") {
            std::uint64_t seq;
            DevByte b;
            fields >> seq >> b.startUs >> b.endUs >> b.writtenUs;
            log.dev[seq] = b;
        } else if (kind == "answer") {
            std::string cause, hex;
            Answer a;
            fields >> cause >> a.delayUs >> a.askedUs >> a.queuedUs >> a.firstSeq >> hex;
            a.bytes = HexBytes(hex);
            log.answers[cause].push_back(a);
        } else if (kind == "open") {
            int n;
            std::int64_t at;
            fields >> n >> at;
            log.opens.emplace_back(n, at);
        } else if (kind == "packet") {
            std::uint64_t seq;
            std::int64_t at;
            std::string hex;
            fields >> seq >> at >> hex;
            log.packets[seq] = static_cast<int>(std::stoul(hex, nullptr, 16));
        }
    }
    return log;
}

// ---- the floor ---------------------------------------------------------------------------

struct Class {
    long count = 0;
    double idealUs = 0;
    double realUs = 0;
};

struct Floor {
    bool ok = true;
    std::string problem;
    double floorUs = 0;
    double wireUs = 0;
    long bytesOut = 0, bytesIn = 0;
    double deviceUs = 0;
    double fullWaitsUs = 0;
    std::map<int, long> fullWaits;                  // interval -> how many ran out in full
    std::vector<std::pair<double, int>> longWaits;  // real start (s into the run), interval
    std::map<std::string, Class> classes;
    // Where the answers' last bytes lost time in the real run.
    double deviceLateUs = 0;  // device simulator: answer queued after it was due
    double wireLateUs = 0;    // device simulator: byte handed over after it had crossed
    double wakeUs = 0;        // program: byte read after it was handed over
    long answersTimed = 0;
};

Floor Replay(const std::vector<Event>& all, std::size_t first, std::size_t last,
             const TimingLog& log, std::int64_t startUs, std::int64_t endUs) {
    Floor f;
    auto fail = [&f](const std::string& why) {
        if (f.ok) {
            f.ok = false;
            f.problem = why;
        }
    };
    struct Pending {
        double arrivalUs;
        int value;
        std::uint64_t devSeq;
        const Answer* answer;
        bool lastOfAnswer;
    };
    std::vector<Pending> pending;  // kept in order of arrival
    auto queue = [&](const Answer& a, double readyUs, double& inFree) {
        double at = std::max(readyUs + static_cast<double>(a.delayUs), inFree);
        for (std::size_t k = 0; k < a.bytes.size(); ++k) {
            at += kByteUs;
            pending.push_back({at, a.bytes[k], a.firstSeq + k, &a, k + 1 == a.bytes.size()});
        }
        inFree = at;
        f.deviceUs += static_cast<double>(a.delayUs);
        std::stable_sort(pending.begin(), pending.end(), [](const Pending& x, const Pending& y) {
            return x.arrivalUs < y.arrivalUs;
        });
    };

    // The device's openings in the window, in order, stand for the program's.
    std::vector<int> opens;
    for (const auto& [n, at] : log.opens) {
        if (at >= startUs)
            opens.push_back(n);
    }
    std::size_t nextOpen = 0;

    double t = 0, outFree = 0, inFree = 0, due = 0;
    int armed = 0;
    std::int64_t armedRealUs = 0;
    std::int64_t prevReal = startUs;
    std::string lastCommand = "port opening";
    for (std::size_t i = first; i < last; ++i) {
        const Event& e = all[i];
        const double before = t;
        std::string cls;
        switch (e.kind) {
            case Event::Write: {
                const auto pc = log.pc.find(e.seq);
                if (pc == log.pc.end() || pc->second.value != e.value || pc->second.lost) {
                    fail("byte " + std::to_string(e.seq) + " from the program is not in the log");
                    break;
                }
                const double end = std::max(t, outFree) + kByteUs;
                outFree = end;
                f.wireUs += kByteUs;
                ++f.bytesOut;
                if (const auto p = log.packets.find(e.seq); p != log.packets.end())
                    lastCommand = CommandName(static_cast<std::uint8_t>(p->second));
                if (const auto a = log.answers.find("pc:" + std::to_string(e.seq));
                    a != log.answers.end()) {
                    for (const Answer& answer : a->second)
                        queue(answer, end, inFree);
                }
                break;
            }
            case Event::Open: {
                lastCommand = "port opening";
                pending.clear();
                inFree = t;
                if (nextOpen < opens.size()) {
                    if (const auto a = log.answers.find("open:" + std::to_string(opens[nextOpen]));
                        a != log.answers.end()) {
                        for (const Answer& answer : a->second)
                            queue(answer, t, inFree);
                    }
                }
                ++nextOpen;
                break;
            }
            case Event::Close:
                pending.clear();
                inFree = t;
                break;
            case Event::Read: {
                if (pending.empty()) {
                    fail("the program read a byte the device had not sent");
                    break;
                }
                const Pending p = pending.front();
                pending.erase(pending.begin());
                if (p.value != e.value) {
                    fail("the program read another byte than the device sent");
                    break;
                }
                f.wireUs += kByteUs;
                ++f.bytesIn;
                if (e.timing) {
                    t = std::max(t, p.arrivalUs);
                    cls = "answer to " + lastCommand;
                    // Only bytes that came while the program was waiting for them show how
                    // late each side was; one that arrived during a Delay was simply there.
                    if (p.lastOfAnswer && p.arrivalUs > before) {
                        const auto d = log.dev.find(p.devSeq);
                        if (d != log.dev.end() && d->second.writtenUs > prevReal) {
                            const DevByte& b = d->second;
                            const Answer& a = *p.answer;
                            f.deviceLateUs +=
                                static_cast<double>(a.queuedUs - (a.askedUs + a.delayUs));
                            f.wireLateUs += static_cast<double>(b.writtenUs - b.endUs);
                            f.wakeUs += static_cast<double>(e.atUs - b.writtenUs);
                            ++f.answersTimed;
                        }
                    }
                }
                break;
            }
            case Event::Arm:
                armed = e.value;
                armedRealUs = e.atUs;
                due = t + e.value * 1000.0;
                break;
            case Event::Tick:
                t = std::max(t, due);
                f.fullWaitsUs += armed * 1000.0;
                ++f.fullWaits[armed];
                cls = "full wait of " + std::to_string(armed) + " ms";
                if (armed >= 1000) {
                    f.longWaits.emplace_back(static_cast<double>(armedRealUs - startUs) * 1e-6,
                                             armed);
                }
                break;
        }
        // The real time since the previous event went into this one's wait (or into work).
        if (cls.empty())
            cls = "work between waits";
        Class& c = f.classes[cls];
        ++c.count;
        c.idealUs += t - before;
        c.realUs += static_cast<double>(e.atUs - prevReal);
        prevReal = e.atUs;
    }
    Class& tail = f.classes["work between waits"];
    tail.realUs += static_cast<double>(endUs - prevReal);
    f.floorUs = t;
    return f;
}

// ---- one device --------------------------------------------------------------------------

struct Result {
    bool ok = false;
    bool done = false;  // PROGRAM and VERIFY succeeded and the flash holds the image
    double measuredS = 0, floorS = 0, cpuS = 0, userS = 0, sysS = 0, devsimCpuS = 0;
    long waits = 0, doEvents = 0, contextSwitches = 0;
    Floor floor;
};

double Seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

// latencyTimerMs: the device answers through a USB serial adapter whose latency timer holds
// what it received for up to that long (0: at once, as with low-latency mode set).
Result RunDevice(const Device& device, const std::string& devsim, bool keep,
                 int latencyTimerMs = 0) {
    Result result;
    const std::string folder = MakeTempFolder("rompush-bench");
    const std::string hexPath = folder + "/bench.hex";
    const std::string flashPath = folder + "/flash.bin";
    const std::string timingPath = folder + "/timing.log";
    const auto image = MakeImage(device.imageBytes, device.letter * 7919u);
    testing::WriteHexFile(hexPath, testing::ProductCodeFor(device.letter),
                          static_cast<std::uint16_t>(device.firstAddress), image);
    WriteCom1Settings(folder);

    rusage childrenBefore{};
    ::getrusage(RUSAGE_CHILDREN, &childrenBefore);
    rompush::testing::DevSim sim(
        devsim,
        {"--folder", folder, "--com", "1", "--type", device.devsimType, "--quiet", "--timing",
         timingPath, "--flash-out", flashPath, "--latency-timer", std::to_string(latencyTimerMs)});
    if (!DevsimOnCom1(sim))
        return result;

    std::int64_t startUs = 0, endUs = 0;
    std::size_t first = 0, last = 0;
    std::vector<Event> events;
    bool good = false;
    ResetState();
    {
        RecordingPlatform platform(folder);
        WireMainWindowHandlers();
        StartUp();
        // 115200 baud in the COM parameters dialog (its ninth entry), as saved by the operator.
        g.port.SavedBaudIndex = 8;

        g.cmd.UiCommand = uicmdSCAN;
        CommandLoopPass();
        if (!g.dev.DeviceFound) {
            std::fprintf(stderr, "SCAN found no device\n");
            return result;
        }
        g.files.SelectedFileName = "bench.hex";
        g.files.SelectedFilePath = hexPath;
        if (!ValidateHexFile(g.files.SelectedFileName, g.files.SelectedFilePath)) {
            std::fprintf(stderr, "the HEX file does not validate (error %d)\n", g.result.ErrorCode);
            return result;
        }

        g.cmd.UiCommand = uicmdPROGRAM;
        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        const double cpuBefore = CpuSeconds();
        first = platform.log.Events().size();
        const long waitsBefore = platform.countingEvents.waits;
        const long doBefore = platform.countingEvents.doEvents;
        startUs = NowUs();
        CommandLoopPass();
        const bool chained = g.cmd.UiCommand == uicmdVERIFY;
        if (chained)
            CommandLoopPass();
        endUs = NowUs();
        const double cpuAfter = CpuSeconds();
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        last = platform.log.Events().size();

        result.measuredS = static_cast<double>(endUs - startUs) * 1e-6;
        result.cpuS = cpuAfter - cpuBefore;
        result.userS = Seconds(after.ru_utime) - Seconds(before.ru_utime);
        result.sysS = Seconds(after.ru_stime) - Seconds(before.ru_stime);
        result.contextSwitches =
            (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw);
        result.waits = platform.countingEvents.waits - waitsBefore;
        result.doEvents = platform.countingEvents.doEvents - doBefore;
        const std::string message = frmUI().lblPASS.Caption;
        good = chained && g.result.ErrorCode == 0 && message == "Program and Verify OK";
        if (!good) {
            std::fprintf(stderr, "PROGRAM then VERIFY failed: error %d, message \"%s\"\n",
                         g.result.ErrorCode, message.c_str());
        }
        // Let the last answers in flight reach the log before the device is stopped.
        platform.events.WaitForEvents(200);
        events = std::move(platform.log.Events());
    }
    ResetState();
    sim.Stop();
    rusage childrenAfter{};
    ::getrusage(RUSAGE_CHILDREN, &childrenAfter);
    result.devsimCpuS = Seconds(childrenAfter.ru_utime) - Seconds(childrenBefore.ru_utime) +
                        Seconds(childrenAfter.ru_stime) - Seconds(childrenBefore.ru_stime);

    // The device must hold the image.
    std::ifstream flashIn(flashPath, std::ios::binary);
    const std::vector<std::uint8_t> flash((std::istreambuf_iterator<char>(flashIn)),
                                          std::istreambuf_iterator<char>());
    if (flash.size() < device.firstAddress + image.size() ||
        !std::equal(image.begin(), image.end(), flash.begin() + device.firstAddress)) {
        std::fprintf(stderr, "the device's flash does not hold the image\n");
        good = false;
    }

    result.done = good;
    result.floor = Replay(events, first, last, ReadTimingLog(timingPath), startUs, endUs);
    result.floorS = result.floor.floorUs * 1e-6;
    result.ok = good && result.floor.ok;
    if (!result.floor.ok)
        std::fprintf(stderr, "floor not worked out: %s\n", result.floor.problem.c_str());
    EndWorkFolder(folder, keep, "  ");
    return result;
}

void Print(const Device& device, const Result& r, bool verbose) {
    const Floor& f = r.floor;
    std::printf("%s\n", device.name);
    PrintAgainstFloor(r.measuredS, r.floorS);
    std::printf("  CPU       %8.3f s  (user %.3f, system %.3f; %.1f%% of the wall time)\n", r.cpuS,
                r.userS, r.sysS, 100.0 * r.cpuS / r.measuredS);
    std::printf(
        "  parts of the floor: wire %.3f s (%ld bytes out, %ld in), device %.3f s, "
        "full waits %.3f s; plain sum %.3f s\n",
        f.wireUs * 1e-6, f.bytesOut, f.bytesIn, f.deviceUs * 1e-6, f.fullWaitsUs * 1e-6,
        (f.wireUs + f.deviceUs + f.fullWaitsUs) * 1e-6);
    std::printf("  full waits:");
    for (const auto& [ms, n] : f.fullWaits)
        std::printf(" %dms x%ld", ms, n);
    std::printf("\n");
    if (!verbose)
        return;
    std::printf(
        "  sleeps %ld, event looks %ld, context switches %ld, device simulator CPU %.3f s\n",
        r.waits, r.doEvents, r.contextSwitches, r.devsimCpuS);
    if (f.answersTimed > 0) {
        std::printf(
            "  per answer awaited (%ld): device simulator late %.1f us to answer, "
            "%.1f us to hand over a byte; program %.1f us to read it\n",
            f.answersTimed, f.deviceLateUs / static_cast<double>(f.answersTimed),
            f.wireLateUs / static_cast<double>(f.answersTimed),
            f.wakeUs / static_cast<double>(f.answersTimed));
    }
    std::printf("  full waits of a second or more (s into the run: ms):");
    for (const auto& [at, ms] : f.longWaits)
        std::printf(" %.3f:%d", at, ms);
    std::printf("\n");
    std::printf("  %-34s %7s %10s %10s %10s\n", "real time ended by", "count", "floor s", "real s",
                "extra ms");
    for (const auto& [name, c] : f.classes) {
        std::printf("  %-34s %7ld %10.3f %10.3f %10.1f\n", name.c_str(), c.count, c.idealUs * 1e-6,
                    c.realUs * 1e-6, (c.realUs - c.idealUs) * 1e-3);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string only;
    bool verbose = false;
    const auto options = ReadDevsimRunOptions(
        argc, argv, "rompush-bench-program [--only qtr|vln] [--devsim PATH] [--keep] [--verbose]",
        [&](const std::string& arg, int& i) {
            if (arg == "--only" && i + 1 < argc)
                only = argv[++i];
            else if (arg == "--verbose" || arg == "-v")
                verbose = true;
            else
                return false;
            return true;
        });
    if (!options)
        return 2;

    bool allOk = true;
    for (const Device* device : {&kQtr, &kVln}) {
        if (!only.empty() && only != (device == &kQtr ? "qtr" : "vln"))
            continue;
        const Result r = RunDevice(*device, options->devsim, options->keep);
        if (!r.ok) {
            std::printf("%s: FAILED\n", device->name);
            allOk = false;
            continue;
        }
        Print(*device, r, verbose);
        std::fflush(stdout);
        // What the port's low-latency mode saves on a USB serial adapter: the same run with
        // the adapter holding every answer for its latency timer, as without the mode.
        const Result held = RunDevice(*device, options->devsim, false, kAdapterLatencyMs);
        if (!held.done) {
            std::printf("  with a %d ms adapter latency timer: FAILED\n", kAdapterLatencyMs);
            allOk = false;
            continue;
        }
        std::printf(
            "  PROGRAM+VERIFY  %8.3f s in low-latency mode, %8.3f s with a %d ms adapter "
            "latency timer (%.3f s more, x%.2f)\n",
            r.measuredS, held.measuredS, kAdapterLatencyMs, held.measuredS - r.measuredS,
            held.measuredS / r.measuredS);
        std::fflush(stdout);
    }
    return allOk ? 0 : 1;
}
