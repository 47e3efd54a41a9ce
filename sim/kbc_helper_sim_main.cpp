// rompush-kbc-helper-sim: rompush-kbc-helper's request loop, privilege drop and give-back in
// front of the simulated 8042 with a keyboard-port device behind it, on the steady clock and
// in the helper's own process, as the real helper sits in front of the PC's controller. Built
// for the tests and benchmarks only, never installed; the program under test finds it through
// ROMPUSH_KBC_HELPER and starts it as it starts the real one.
//
// From the environment the program passes on:
//   ROMPUSH_KBC_SIM_MODEL   monolink, orbit-tiny (default), orbit-mini, prisma
//   ROMPUSH_KBC_SIM_REPORT  a file written when the helper ends: the controller as it was left
//                           (command byte, every command byte taken with its time, time with
//                           keyboard interrupts off, bytes on the wire, refusals) and the
//                           device's flash
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "kbc_helper/kbc_service.h"
#include "providers/posix/keyboard_ports.h"
#include "providers/sim/sim_platform.h"

namespace {

using namespace rompush;

std::int64_t SteadyUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class SimulatedPorts : public kbc::PortBackend {
  public:
    explicit SimulatedPorts(sim::KvmModel model) : ports_(SteadyUs, nullptr) {
        ports_.AttachDevice(model);
    }
    bool Has(kbc::Provider) const override { return true; }
    std::string Problem() const override { return ""; }
    bool Read(kbc::Provider, std::uint8_t port, std::uint8_t& value) override {
        value = ports_.Controller().Read(port);
        return true;
    }
    bool Write(kbc::Provider, std::uint8_t port, std::uint8_t value) override {
        ports_.Controller().Write(port, value);
        return true;
    }
    void Pause() override { platform::posix::PauseMicroseconds(20); }
    std::int64_t NowUs() override { return SteadyUs(); }

    platform::sim::SimKeyboardPorts& Ports() { return ports_; }

  private:
    platform::sim::SimKeyboardPorts ports_;
};

void WriteReport(const std::string& path, SimulatedPorts& ports, const kbc::KbcService& service) {
    auto& controller = ports.Ports().Controller();
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary);
        char line[64];
        std::snprintf(line, sizeof line, "command-byte %02X\n", controller.CommandByte());
        out << line << "history";
        for (const auto& change : controller.CommandByteHistory()) {
            std::snprintf(line, sizeof line, " %02X@%lld", change.value,
                          static_cast<long long>(change.atUs));
            out << line;
        }
        out << "\nlocked-out-us " << controller.LockedOutUs() << "\nbytes-to-device "
            << controller.BytesToDevice() << "\nbytes-from-device " << controller.BytesFromDevice()
            << "\nrefusals " << service.Refusals() << "\nflash ";
        for (std::uint8_t byte : ports.Ports().DeviceFlash()) {
            std::snprintf(line, sizeof line, "%02X", byte);
            out << line;
        }
        out << "\n";
    }
    std::rename(temporary.c_str(), path.c_str());
}

}  // namespace

int main() {
    if (!kbc::TakeProgramSocket()) {
        std::fprintf(stderr, "rompush-kbc-helper-sim: no program socket on descriptor 3\n");
        return 2;
    }
    const char* name = std::getenv("ROMPUSH_KBC_SIM_MODEL");
    const auto model = sim::KvmModelByName(name && *name ? name : "orbit-tiny");
    if (!model) {
        std::fprintf(stderr, "rompush-kbc-helper-sim: no model %s\n", name);
        return 2;
    }
    SimulatedPorts ports(*model);
    std::string why;
    if (!kbc::DropPrivileges(why)) {
        std::fprintf(stderr, "rompush-kbc-helper-sim: %s\n", why.c_str());
        return 1;
    }
    kbc::KbcService service(ports);
    kbc::Serve(kbc::kHelperSocketFd, service);
    if (const char* report = std::getenv("ROMPUSH_KBC_SIM_REPORT"); report && *report)
        WriteReport(report, ports, service);
    return 0;
}
