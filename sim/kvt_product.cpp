#include "sim/kvt_product.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace rompush::sim {

namespace {
const char* const kDownloadPrompt = "Press <SPACE> for download...\r\n";

bool IsValidPort(const std::string& port, int maxPort) {
    if (port.empty() || port.size() > 3 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const int number = std::atoi(port.c_str());
    return number >= 1 && number <= maxPort;
}

}  // namespace

std::string KvtProduct::BootLoaderText() const {
    return "\r\nKVT-BL Rev " + o_.blRevision + "  Tarn Electronics\r\n" + kDownloadPrompt;
}

std::string KvtProduct::ApplicationText() const {
    std::string text = "\r\nKVT Rev " + o_.appRevision +
                       "\r\nTarn Electronics KVT remote control switch\r\n"
                       "Copyright (c) Tarn Electronics Ltd.  All rights reserved.\r\n"
                       "Front panel buttons:\r\n";
    for (std::size_t i = 0; i < o_.map.size(); ++i)
        text += "  BUTTON " + std::to_string(i + 1) + " -> Ch " + o_.map[i] + "\r\n";
    return text + "Type ? for commands.\r\nPress SPACE bar within 2 seconds for BUTTON remap.\r\n";
}

void KvtProduct::OnPowerUp() {
    entry_.clear();
    lines_.clear();
    mode_ = Mode::DownloadOffer;
    Say(BootLoaderText());
    Later(kDownloadOfferUs, [this] {
        if (mode_ != Mode::DownloadOffer)
            return;
        if (o_.damaged) {
            mode_ = Mode::AwaitDownload;
            Say(std::string("CHECK SUM error occured\r\n") + kDownloadPrompt);
        } else {
            Say("Starting application...\r\n");
            StartApplication();
        }
    });
}

void KvtProduct::StartApplication() {
    mode_ = Mode::RemapOffer;
    Say(ApplicationText());
    Later(kRemapOfferUs, [this] {
        if (mode_ == Mode::RemapOffer)
            mode_ = Mode::Running;
    });
}

void KvtProduct::MenuPrompt() {
    mode_ = Mode::RemapButton;
    Say("Select BUTTON (1-4), 0 to exit <Enter>:");
}

void KvtProduct::Refuse() {
    Say("\r\nNOT A VALID ENTRY\r\n");
    MenuPrompt();
}

void KvtProduct::OnKey(char c) {
    switch (mode_) {
        case Mode::DownloadOffer:
        case Mode::AwaitDownload:
            if (c == ' ') {
                mode_ = Mode::Confirm;
                Say(kConfirmText);
            }
            return;
        case Mode::Confirm:
            if (c == ' ') {
                mode_ = Mode::Erasing;
                Say(kErasingText);
                Later(kEraseUs, [this] {
                    mode_ = Mode::Receiving;
                    badRecord_ = false;
                    lines_.clear();
                    entry_.clear();
                    Say(kReadyText);
                });
            }
            return;
        case Mode::Receiving:
            if (c == '\r') {
                TakeLine(entry_);
                entry_.clear();
            } else if (c != '\n') {
                entry_ += c;
            }
            return;
        case Mode::RemapOffer:
            if (c == ' ') {
                std::string menu = "\r\nBUTTON REMAP MENU\r\n";
                for (std::size_t i = 0; i < o_.map.size(); ++i)
                    menu += "  BUTTON " + std::to_string(i + 1) + " -> Ch " + o_.map[i] + "\r\n";
                Say(menu);
                entry_.clear();
                MenuPrompt();
            }
            return;
        case Mode::RemapButton:
        case Mode::RemapPort:
        case Mode::RemapSave:
            break;
        default:
            return;
    }
    if (c != '\r') {
        if (c != '\n') {
            entry_ += c;
            Say(std::string(1, c));  // the menu echoes what is typed
        }
        return;
    }
    const std::string entry = entry_;
    entry_.clear();
    if (mode_ == Mode::RemapButton) {
        if (entry.empty()) {
            return;
        } else if (entry == "0") {
            mode_ = Mode::Running;
            Say("\r\nBUTTON remap closed.\r\n");
        } else if (entry.size() == 1 && entry[0] >= '1' && entry[0] <= '4') {
            button_ = static_cast<std::size_t>(entry[0] - '1');
            mode_ = Mode::RemapPort;
            Say("\r\nCPU for BUTTON " + entry + " (1-999) <Enter>:");
        } else {
            Refuse();
        }
    } else if (mode_ == Mode::RemapPort) {
        if (!IsValidPort(entry, o_.maxPort))
            return Refuse();
        port_ = entry;
        mode_ = Mode::RemapSave;
        Say("\r\nBUTTON " + std::to_string(button_ + 1) + " to PORT " + port_ + "  Save (Y/N)?");
    } else {
        if (entry == "Y" || entry == "y") {
            o_.map[button_] = port_;
            Say("\r\nSaved.\r\n");
        } else {
            Say("\r\nNot saved.\r\n");
        }
        MenuPrompt();
    }
}

void KvtProduct::TakeLine(const std::string& line) {
    if (line.empty())
        return;
    lines_.push_back(line);
    // A damaged end record still ends the download, which then fails its checksum.
    const HexLine record = ReadHexLine(line);
    if (!record.sound)
        badRecord_ = true;
    if (record.type == 1)
        EndDownload();
}

void KvtProduct::EndDownload() {
    std::string file;
    std::string image;
    for (const std::string& line : lines_) {
        file += line + "\r\n";
        const HexLine record = ReadHexLine(line);
        if (record.sound && record.type == 0)
            image += record.data;
    }
    held_["kvt"] = file;
    // The application carries its own revision line.
    const std::size_t rev = image.find("KVT Rev ");
    o_.damaged = badRecord_ || rev == std::string::npos;
    if (rev != std::string::npos) {
        const std::size_t end = image.find_first_of(std::string("\0\r\n", 3), rev + 8);
        o_.appRevision = image.substr(rev + 8, end == std::string::npos ? 16 : end - rev - 8);
    }
    mode_ = Mode::Off;
    Say(kCompletedText);
    Later(kRestartUs, [this] {
        if (o_.damaged) {
            mode_ = Mode::AwaitDownload;
            Say(std::string("CHECK SUM error occured\r\n") + kDownloadPrompt);
        } else {
            StartApplication();
        }
    });
}

std::shared_ptr<SerialMenuProduct> MakeKvtProduct(const std::map<std::string, std::string>& options,
                                                  std::string& error) {
    KvtProduct::Options o;
    for (const auto& [name, value] : options) {
        if (name == "app") {
            o.appRevision = value;
        } else if (name == "bl") {
            o.blRevision = value;
        } else if (name == "damaged") {
            o.damaged = value == "1" || value == "yes" || value == "true";
        } else if (name == "maxport") {
            long number = 0;
            if (!ParseOptionNumber(value, number) || number < 1 || number > 999) {
                error = "kvt option maxport takes 1 to 999";
                return nullptr;
            }
            o.maxPort = static_cast<int>(number);
        } else if (name == "map") {
            std::istringstream ports(value);
            for (std::size_t i = 0; i < o.map.size() && std::getline(ports, o.map[i], ',');)
                ++i;
        } else {
            error = "unknown kvt option " + name + " (app, bl, damaged, map, maxport)";
            return nullptr;
        }
    }
    return std::make_shared<KvtProduct>(std::move(o));
}

}  // namespace rompush::sim
