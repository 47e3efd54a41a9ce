#include "sim/meridan_product.h"

#include <cstdlib>
#include <sstream>

namespace rompush::sim {

namespace {
constexpr std::int64_t kMs = 1000;
constexpr long kSectorBytes = 4096;

}  // namespace

bool ParseMeridanOptions(const std::map<std::string, std::string>& options, MeridanOptions& out,
                         std::string& error) {
    for (const auto& [name, value] : options) {
        long number = 0;
        if (name == "version") {
            out.version = value;
        } else if (name == "usb" && (value == "0" || value == "1")) {
            out.usb = value == "1";
        } else if (name == "qrx") {
            out.qrxPorts.clear();
            std::stringstream list(value);
            for (std::string port; std::getline(list, port, ',');) {
                if (!ParseOptionNumber(port, number) || number < 0 || number > 99) {
                    error = "qrx is a list of port numbers: " + value;
                    return false;
                }
                if (number > 0)
                    out.qrxPorts.push_back(static_cast<int>(number));
            }
        } else if (name == "controllers" && ParseOptionNumber(value, number) && number >= 1) {
            out.controllers = static_cast<int>(number);
        } else if (name == "sector_ms" && ParseOptionNumber(value, number) && number >= 0) {
            out.sectorMs = static_cast<int>(number);
        } else if (name == "fault") {
            out.fault = value;
        } else {
            error = "unknown or bad Meridan option " + name + "=" + value;
            return false;
        }
    }
    return true;
}

MeridanProduct::MeridanProduct(MeridanOptions options)
    : SerialMenuProduct(kBaud), options_(std::move(options)) {}

bool MeridanProduct::VersionAtLeast9() const {
    return std::atof(options_.version.c_str()) >= 9.0;
}

bool MeridanProduct::UsbPresent() const {
    return options_.usb && VersionAtLeast9();
}

std::string MeridanProduct::MenuText() const {
    std::string menu =
        "\r\nSerial options menu\r\n\r\n"
        " 1) Receive new MAIN firmware\r\n"
        " 2) Copy firmware to data controllers\r\n"
        " 3) Reset to factory defaults\r\n";
    char digit = '4';
    if (UsbPresent())
        menu += std::string(" ") + digit++ + ") Receive new USB firmware\r\n";
    if (!options_.qrxPorts.empty())
        menu += std::string(" ") + digit++ + ") Receive new QRX firmware\r\n";
    menu += std::string(" ") + digit + ") Exit\r\n\r\nEnter choice -->";
    return menu;
}

char MeridanProduct::ExitDigit() const {
    return static_cast<char>('4' + (UsbPresent() ? 1 : 0) + (options_.qrxPorts.empty() ? 0 : 1));
}

void MeridanProduct::OnPowerUp() {
    Boot(false);
}

// The monitor's banner comes at once; the diagnostics follow, and with them the few seconds
// in which a space bar stops the product in its serial options menu.
void MeridanProduct::Boot(bool restart) {
    stage_ = Stage::Booting;
    spaceHeard_ = false;
    spaceWindowOpen_ = false;
    // The space window of a boot that a restart cut short closes with it.
    const int boot = ++boots_;
    Say(std::string(restart ? "\r\n" : "") +
        "\r\nTarn monitor    V2.14.03\r\n"
        "Tarn Electronics Meridan modular switch\r\n"
        "Hit space bar for serial options menu\r\n");
    Later(800 * kMs, [this, boot] {
        if (boot != boots_)
            return;
        Say("Static ram test   OK\r\n"
            "Program version   " +
            options_.version +
            "\r\n"
            "OSD version       3.10\r\n"
            "Data controllers  " +
            std::to_string(options_.controllers) + "\r\n");
        spaceWindowOpen_ = options_.fault != "miss-space";
        Later(kSpaceWindowUs, [this, boot] {
            if (boot != boots_)
                return;
            spaceWindowOpen_ = false;
            if (!spaceHeard_)
                BootToWork();
        });
    });
}

void MeridanProduct::BootToWork() {
    stage_ = Stage::Running;
    if (VersionAtLeast9())
        Say(std::string("USB version       ") + (options_.usb ? "1.04" : "None") + "\r\n");
    Later(300 * kMs, [this] {
        Say(std::string("Video ports       8\r\n") +
            (UsbPresent() ? "USB mouse ready\r\n" : "PS2 mouse ready\r\n"));
    });
}

void MeridanProduct::ShowMenu() {
    stage_ = Stage::Menu;
    Say(MenuText());
}

void MeridanProduct::OnKey(char c) {
    switch (stage_) {
        case Stage::Booting:
            if (c == ' ' && spaceWindowOpen_ && !spaceHeard_) {
                spaceHeard_ = true;
                Later(100 * kMs, [this] { ShowMenu(); });
            }
            break;
        case Stage::Menu:
            if (options_.fault != "mute")
                Choice(c);
            break;
        case Stage::Receiving:
            if (c == '\r' || c == '\n') {
                if (!line_.empty())
                    FileLine(line_);
                line_.clear();
            } else {
                line_ += c;
            }
            break;
        case Stage::Question:
            Say(std::string(1, c) + "\r\n");
            if (c == 'Y' && target_ == "qrx") {
                QrxQuestions();
            } else if (c == 'Y' && ++copyAnswers_ == 1) {
                Say("Are you sure ?");
            } else if (c == 'Y') {
                stage_ = Stage::Busy;
                Say("Copying firmware to data controllers ");
                if (options_.fault == "copy-error") {
                    Later(400 * kMs, [this] {
                        Say("....\r\nError - data controller 2 does not answer\r\n");
                        ShowMenu();
                    });
                    break;
                }
                for (int i = 1; i < options_.controllers; ++i)
                    Later(i * 400 * kMs, [this] { Say("...."); });
                Later(options_.controllers * 400 * kMs, [this] {
                    ++copiesDone_;
                    Say("\r\nCopy complete\r\n");
                    ShowMenu();
                });
            } else {
                ShowMenu();
            }
            break;
        case Stage::Running:
            if (c == '?')
                Say("Meridan KVM Control Ready\r\n");
            break;
        case Stage::Off:
        case Stage::Busy:
            break;
    }
}

void MeridanProduct::Choice(char c) {
    const char usb = UsbPresent() ? '4' : 0;
    const char qrx = options_.qrxPorts.empty() ? 0 : static_cast<char>(UsbPresent() ? '5' : '4');
    if (c == '\r' || c == '\n' || c == ' ')
        return;
    Say(std::string(1, c));
    if (c == '1' || (usb && c == usb) || (qrx && c == qrx)) {
        if (options_.fault == "no-file-wait") {
            Say("\r\nFlash not ready\r\n");
            ShowMenu();
            return;
        }
        target_ = c == '1' ? "main" : c == usb ? "usb" : "qrx";
        received_.clear();
        sectors_.clear();
        line_.clear();
        stage_ = Stage::Receiving;
        Say("\r\nWaiting for file...\r\n");
    } else if (c == '2') {
        if (options_.controllers < 2) {
            Say("\r\nError - no data controllers to copy to\r\n\r\n");
            ShowMenu();
            return;
        }
        target_ = "copy";
        copyAnswers_ = 0;
        stage_ = Stage::Question;
        Say("\r\nCopy firmware to data controllers ?");
    } else if (c == '3') {
        if (options_.fault == "quiet-defaults")
            return;
        stage_ = Stage::Busy;
        Later(300 * kMs, [this] {
            // "defaults-unconfirmed": the menu comes back without the product saying the
            // defaults were loaded.
            if (options_.fault != "defaults-unconfirmed")
                Say("\r\nReset to default successful\r\n");
            ShowMenu();
        });
    } else if (c == ExitDigit()) {
        stage_ = Stage::Busy;
        Say("\r\nExiting serial options menu\r\n");
        Later(500 * kMs, [this] { Boot(true); });
    } else if (c == '?') {
        Say("\r\nMeridan KVM Control Ready\r\n");
        ShowMenu();
    } else {
        ShowMenu();
    }
}

// A record of the HEX file: its sector is noted for MAIN; the end record completes the file.
// A line that is no record (the operator refusing in the console sends "XN") ends the wait.
void MeridanProduct::FileLine(const std::string& line) {
    if (line[0] != ':') {
        Say("\r\nReceive cancelled\r\n");
        ShowMenu();
        return;
    }
    received_ += line + "\r\n";
    const int count = HexByteAt(line, 1);
    const int high = HexByteAt(line, 3);
    const int low = HexByteAt(line, 5);
    const int type = HexByteAt(line, 7);
    if (count < 0 || high < 0 || low < 0 || type < 0)
        return;
    if (type == 0 && count > 0) {
        const long first = high * 256 + low;
        sectors_.insert(first / kSectorBytes);
        sectors_.insert((first + count - 1) / kSectorBytes);
    } else if (type == 1) {
        FileComplete();
    }
}

void MeridanProduct::FileComplete() {
    stage_ = Stage::Busy;
    if (target_ == "main") {
        held_["main"] = received_;
        FlashMain();
        return;
    }
    const bool failed = options_.fault == target_ + "-receive";
    if (failed) {
        Say("\r\nReceive failed - record error\r\n");
        ShowMenu();
        return;
    }
    held_[target_] = received_;
    Say("\r\nReceive successful\r\n");
    if (target_ == "usb") {
        FlashUsb();
        return;
    }
    questions_ = 0;
    stage_ = Stage::Question;
    Say("Send new firmware to all QRX transmitters ? Y/N ");
}

void MeridanProduct::FlashMain() {
    Say("\r\nFile received\r\n");
    std::int64_t at = 0;
    int index = 0;
    if (options_.fault == "no-sectors")
        sectors_.clear();
    for (long sector : sectors_) {
        at += options_.sectorMs * kMs;
        const bool fails = options_.fault == "bad-sector" && index++ == 1;
        Later(at, [this, sector, fails] {
            Say("Programming sector = " + std::to_string(sector) + "\r\n" +
                (fails ? "Verify FAILED\r\n" : "Verify OK\r\n"));
        });
    }
    Later(at + 10 * kMs, [this] {
        Say("Flash programming complete\r\n");
        ShowMenu();
    });
}

void MeridanProduct::FlashUsb() {
    Say("Now flashing USB Serial code ");
    for (int dot = 1; dot <= 64; ++dot)
        Later(dot * 30 * kMs, [this] { Say("."); });
    Later(65 * 30 * kMs, [this] {
        Say("\r\nUSB flashing completed\r\n");
        ShowMenu();
    });
}

// Two questions before the transmitters are touched; then each transmitter in turn, and the
// product restarts by itself.
void MeridanProduct::QrxQuestions() {
    if (++questions_ == 1) {
        Say("Are you sure ? Y/N ");
        return;
    }
    stage_ = Stage::Busy;
    FlashQrxPort(0);
}

void MeridanProduct::FlashQrxPort(std::size_t index) {
    if (index >= options_.qrxPorts.size()) {
        Say("QRX flashing completed\r\n");
        Later(1000 * kMs, [this] { Boot(true); });
        return;
    }
    const int port = options_.qrxPorts[index];
    Say("Now flashing new firmware to QRX on port " + std::to_string(port) + " ");
    if (options_.fault == "qrx-port" && index == 0) {
        Later(2000 * kMs, [this, port, index] {
            Say("\r\nError - QRX on port " + std::to_string(port) + " does not answer\r\n");
            FlashQrxPort(index + 1);
        });
        return;
    }
    for (int dot = 1; dot <= 25; ++dot)
        Later(dot * 80 * kMs, [this] { Say("."); });
    Later(26 * 80 * kMs, [this, index] {
        Say(" OK\r\n");
        FlashQrxPort(index + 1);
    });
}

}  // namespace rompush::sim
