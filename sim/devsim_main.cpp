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
#include "sim/pty_host.h"
#include "sim/serial_menu_products.h"

namespace fs = std::filesystem;
using rompush::sim::BootloaderDevice;

using rompush::sim::devsim::PtyHost;

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
    "  --latency-timer MS   answer through a USB serial adapter whose latency timer holds\n"
    "                       received bytes until it ticks (every MS ms; 16 is the FTDI\n"
    "                       default) unless 62 of them fill its buffer: the adapter without\n"
    "                       its low-latency mode (default 0: every byte at once)\n"
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
    long latencyTimerMs = 0;
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
        } else if (arg == "--latency-timer") {
            latencyTimerMs = number(0, 255);
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
    host.SetLatencyTimer(latencyTimerMs * 1000);
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
