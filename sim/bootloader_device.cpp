#include "sim/bootloader_device.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace rompush::sim {

namespace {

constexpr std::uint8_t kIdCmd = 0x40;
constexpr std::uint8_t kFwCmd = 0x42;
constexpr std::uint8_t kFlashCmd = 0x52;
constexpr std::uint8_t kSetPageCmd = 0x56;
constexpr std::uint8_t kErasePageCmd = 0x58;
constexpr std::uint8_t kWritePageCmd = 0x5A;
constexpr std::uint8_t kCrcPageCmd = 0x5C;
constexpr std::uint8_t kGoCmd = 0x5E;
constexpr std::uint8_t kReadyByte = 0x08;
constexpr std::uint8_t kPrefixByte = 0xC3;
constexpr int kBlockBytes = 32;
// The PC's packet buffer holds 41 bytes; anything longer cannot be a packet.
constexpr std::uint8_t kMinPacket = 4;
constexpr std::uint8_t kMaxPacket = 41;

// Payload bytes each command carries; -1 for commands the bootloader does not know.
int PayloadLength(std::uint8_t command) {
    switch (command) {
        case kIdCmd:
        case kFwCmd:
        case kFlashCmd:
        case kErasePageCmd:
        case kCrcPageCmd:
        case kGoCmd:
            return 0;
        case kSetPageCmd:
            return 1;
        case kWritePageCmd:
            return 3 + kBlockBytes;
        default:
            return -1;
    }
}

std::uint16_t CrcStep(std::uint16_t crc, std::uint8_t byte) {
    crc ^= static_cast<std::uint16_t>(byte) << 8;
    for (int bit = 0; bit < 8; ++bit) {
        crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                             : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

std::optional<long> Number(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    try {
        std::size_t used = 0;
        const long value = std::stol(text, &used, 0);
        if (used != text.size())
            return std::nullopt;
        return value;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::uint8_t> CommandCode(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (text.size() > 4 && text.substr(text.size() - 4) == "_CMD")
        text.resize(text.size() - 4);
    static const std::pair<const char*, std::uint8_t> kNames[] = {{"ID", kIdCmd},
                                                                  {"FW", kFwCmd},
                                                                  {"FLASH", kFlashCmd},
                                                                  {"SET_PAGE", kSetPageCmd},
                                                                  {"ERASE_PAGE", kErasePageCmd},
                                                                  {"WRITE_PAGE", kWritePageCmd},
                                                                  {"CRC_PAGE", kCrcPageCmd},
                                                                  {"GO", kGoCmd}};
    for (const auto& [name, code] : kNames) {
        if (text == name)
            return code;
    }
    const auto value = Number(text);
    if (!value || *value < 0 || *value > 255)
        return std::nullopt;
    return static_cast<std::uint8_t>(*value);
}

}  // namespace

std::uint16_t Crc16Xmodem(const std::uint8_t* data, std::size_t length) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i)
        crc = CrcStep(crc, data[i]);
    return crc;
}

std::uint16_t Crc16Xmodem(const std::string& bytes) {
    return Crc16Xmodem(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

FlashGeometry GeometryOf(Family family) {
    if (family == Family::VLN)
        return FlashGeometry{512, 4, 31, 0x4000};
    return FlashGeometry{128, 0, 255, 0x8000};
}

std::optional<Fault> ParseFault(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ','))
        parts.push_back(part);
    if (parts.empty())
        return std::nullopt;

    Fault fault;
    const std::string& kind = parts[0];
    if (kind == "silence") {
        fault.kind = Fault::Kind::Silence;
    } else if (kind == "wrong") {
        fault.kind = Fault::Kind::WrongCode;
    } else if (kind == "short") {
        fault.kind = Fault::Kind::CutShort;
    } else if (kind == "late") {
        fault.kind = Fault::Kind::Late;
    } else if (kind == "cut") {
        fault.kind = Fault::Kind::CutStream;
    } else if (kind == "unplug") {
        fault.kind = Fault::Kind::Unplug;
    } else if (kind == "badwrite") {
        fault.kind = Fault::Kind::BadWrite;
    } else {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const auto eq = parts[i].find('=');
        if (eq == std::string::npos)
            return std::nullopt;
        const std::string key = parts[i].substr(0, eq);
        const std::string value = parts[i].substr(eq + 1);
        if (key == "cmd") {
            const auto code = CommandCode(value);
            if (!code)
                return std::nullopt;
            fault.command = *code;
            continue;
        }
        const auto number = Number(value);
        if (!number)
            return std::nullopt;
        if (key == "skip" && *number >= 0) {
            fault.skip = static_cast<int>(*number);
        } else if (key == "times") {
            fault.times = static_cast<int>(*number);
        } else if (key == "bytes" && *number >= 0) {
            fault.bytes = static_cast<int>(*number);
        } else if (key == "delay" && *number >= 0) {
            fault.delayUs = *number * 1000;
        } else if (key == "code" && *number >= 0 && *number <= 255) {
            fault.code = static_cast<std::uint8_t>(*number);
        } else {
            return std::nullopt;
        }
    }
    return fault;
}

BootloaderDevice::Config BootloaderDevice::Config::ForType(int type, std::uint8_t flags) {
    Config config;
    config.type = type;
    config.flags = flags;
    config.family = (type == 1 || type == 2) ? Family::VLN : Family::QTR;
    config.prefixed = type == 1;
    return config;
}

BootloaderDevice::BootloaderDevice() : BootloaderDevice(Config{}) {}

BootloaderDevice::BootloaderDevice(Config config)
    : config_(std::move(config)), geometry_(GeometryOf(config_.family)) {
    flash_.assign(geometry_.flashSize, 0xFF);
    for (const Fault& fault : config_.faults)
        faults_.push_back({fault, 0});
}

void BootloaderDevice::AddFault(const Fault& fault) {
    faults_.push_back({fault, 0});
}

void BootloaderDevice::ClearFaults() {
    faults_.clear();
}

std::vector<std::uint8_t> BootloaderDevice::Page(int page) const {
    const std::size_t start = static_cast<std::size_t>(page) * geometry_.pageSize;
    if (page < 0 || start + geometry_.pageSize > flash_.size())
        return {};
    return std::vector<std::uint8_t>(
        flash_.begin() + static_cast<std::ptrdiff_t>(start),
        flash_.begin() + static_cast<std::ptrdiff_t>(start + geometry_.pageSize));
}

int BootloaderDevice::CountOf(std::uint8_t command) const {
    return static_cast<int>(
        std::count_if(packets_.begin(), packets_.end(),
                      [command](const auto& p) { return p.command == command; }));
}

void BootloaderDevice::ClearLog() {
    packets_.clear();
    badPackets_ = 0;
    sent_.clear();
}

void BootloaderDevice::OnHostOpened() {
    const bool first = !everOpened_;
    everOpened_ = true;
    if (mode_ == Mode::Off)
        return;
    if (config_.powerUpOn == PowerUpOn::EveryOpen ||
        (config_.powerUpOn == PowerUpOn::FirstOpen && first)) {
        PowerUp();
    }
}

void BootloaderDevice::PowerUp() {
    if (!host_)
        return;  // not on a line yet
    ++epoch_;
    muted_ = false;
    rx_.clear();
    page_ = -1;
    busyUntilUs_ = 0;
    mode_ = Mode::Starting;
    const std::uint64_t epoch = epoch_;
    host_->After(config_.startUs, [this, epoch] {
        if (epoch != epoch_)
            return;
        mode_ = Mode::App;
        // The ready byte goes out on the wire only when someone listens.
        if (!host_->HostSettings().empty())
            Transmit(std::string(1, kReadyByte));
    });
}

void BootloaderDevice::OnHostByte(std::uint8_t byte) {
    if (mode_ == Mode::Off || mode_ == Mode::Starting)
        return;
    const std::int64_t now = host_->NowUs();
    // A packet that stopped half-way is forgotten, so the next one is read from its start.
    if (!rx_.empty() && now - lastByteUs_ > config_.interByteTimeoutUs)
        rx_.clear();
    lastByteUs_ = now;
    if (rx_.empty() && (byte < kMinPacket || byte > kMaxPacket))
        return;  // not a length byte
    rx_.push_back(byte);
    if (rx_.size() == rx_[0]) {
        std::vector<std::uint8_t> packet;
        packet.swap(rx_);
        HandlePacket(packet);
    }
}

void BootloaderDevice::HandlePacket(const std::vector<std::uint8_t>& packet) {
    const std::size_t length = packet.size();
    const std::uint16_t crc = Crc16Xmodem(packet.data(), length - 2);
    const std::uint16_t sentCrc =
        static_cast<std::uint16_t>((packet[length - 2] << 8) | packet[length - 1]);
    const std::uint8_t command = packet[1];
    const int payloadLength = PayloadLength(command);
    if (crc != sentCrc || payloadLength < 0 ||
        static_cast<std::size_t>(payloadLength) != length - 4) {
        ++badPackets_;
        return;
    }
    std::vector<std::uint8_t> payload(packet.begin() + 2, packet.end() - 2);
    packets_.push_back({command, payload, host_->NowUs()});

    // Which faults spoil this packet's answer.
    std::vector<Fault> active;
    for (FaultState& state : faults_) {
        if (state.fault.command != 0 && state.fault.command != command)
            continue;
        const int index = state.seen++;
        if (index < state.fault.skip)
            continue;
        if (state.fault.times >= 0 && index >= state.fault.skip + state.fault.times)
            continue;
        active.push_back(state.fault);
    }
    for (const Fault& fault : active) {
        if (fault.kind == Fault::Kind::Unplug) {
            mode_ = Mode::Off;
            ++epoch_;
            rx_.clear();
            if (unplugHook_)
                unplugHook_();
            return;
        }
    }

    if (command == kGoCmd) {
        if (mode_ != Mode::Boot)
            return;  // only the bootloader knows GO
        StartApplication();
        // The application's ready byte is the answer GO gets; faults act on it.
        Answer answer;
        answer.frame = std::string(1, kReadyByte);
        Reply(answer, std::max(host_->NowUs(), busyUntilUs_) + config_.startUs, active);
        return;
    }
    for (const Fault& fault : active) {
        if (fault.kind == Fault::Kind::BadWrite && command == kWritePageCmd)
            payload[3] = static_cast<std::uint8_t>(~payload[3]);  // the cell takes a wrong value
    }
    std::optional<Answer> answer = Execute(command, payload);
    if (!answer)
        return;
    const std::int64_t at =
        std::max(host_->NowUs() + config_.answerDelayUs + answer->workUs, busyUntilUs_);
    Reply(*answer, at, active);
}

std::string BootloaderDevice::Frame(std::uint8_t code, const std::vector<std::uint8_t>& data) {
    std::string frame;
    frame.push_back(static_cast<char>(data.size() + 4));
    frame.push_back(static_cast<char>(code));
    for (std::uint8_t byte : data)
        frame.push_back(static_cast<char>(byte));
    const std::uint16_t crc = Crc16Xmodem(frame);
    frame.push_back(static_cast<char>(crc >> 8));
    frame.push_back(static_cast<char>(crc & 0xFF));
    return frame;
}

std::vector<std::uint8_t> BootloaderDevice::Revision(const std::string& rev) {
    // Three characters, then two bytes of padding that fill the nine-byte frame.
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < 3; ++i) {
        data.push_back(i < rev.size() ? static_cast<std::uint8_t>(rev[i]) : '0');
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

bool BootloaderDevice::PageSelected() const {
    return page_ >= 0;
}

std::optional<BootloaderDevice::Answer> BootloaderDevice::Execute(
    std::uint8_t command, const std::vector<std::uint8_t>& payload) {
    const auto type = static_cast<std::uint8_t>(config_.type);
    Answer answer;
    if (mode_ == Mode::App) {
        const std::string prefix =
            config_.prefixed
                ? std::string{static_cast<char>(kPrefixByte), static_cast<char>(config_.prefixByte)}
                : std::string();
        switch (command) {
            case kIdCmd:
                answer.prefix = prefix;
                answer.frame = Frame(0x41, {type, config_.idByte, config_.flags});
                return answer;
            case kFwCmd:
                answer.prefix = prefix;
                answer.frame = Frame(0x43, Revision(config_.appRev));
                return answer;
            case kFlashCmd:
                // The application hands over to the bootloader, which answers.
                mode_ = Mode::Boot;
                page_ = -1;
                answer.frame = Frame(0x53, {});
                return answer;
            default:
                return std::nullopt;  // page commands are the bootloader's
        }
    }

    // Flash mode.
    switch (command) {
        case kIdCmd:
            answer.frame = Frame(0x41, {type, config_.idByte, config_.flags});
            break;
        case kFwCmd:
            answer.frame = Frame(0x43, Revision(config_.bslRev));
            break;
        case kFlashCmd:
            answer.frame = Frame(0x53, {});
            break;
        case kSetPageCmd: {
            const int page = payload[0];
            page_ = (page >= geometry_.firstPage && page <= geometry_.lastPage) ? page : -1;
            return std::nullopt;
        }
        case kErasePageCmd: {
            if (!PageSelected())
                return std::nullopt;
            const auto start = static_cast<std::ptrdiff_t>(page_) * geometry_.pageSize;
            std::fill(flash_.begin() + start, flash_.begin() + start + geometry_.pageSize, 0xFF);
            answer.frame = Frame(0x59, {});
            answer.workUs = config_.eraseUs;
            break;
        }
        case kWritePageCmd: {
            if (payload[0] != kBlockBytes)
                return std::nullopt;
            const std::size_t address = (static_cast<std::size_t>(payload[1]) << 8) | payload[2];
            const std::size_t lowest =
                static_cast<std::size_t>(geometry_.firstPage) * geometry_.pageSize;
            if (address < lowest || address + kBlockBytes > flash_.size())
                return std::nullopt;
            // Programming flash only clears bits; a cell must be erased to take any value.
            for (int i = 0; i < kBlockBytes; ++i)
                flash_[address + i] &= payload[3 + i];
            answer.frame = Frame(0x5B, {});
            answer.workUs = config_.writeUs;
            break;
        }
        case kCrcPageCmd: {
            if (!PageSelected())
                return std::nullopt;
            const std::vector<std::uint8_t> page = Page(page_);
            const std::uint16_t crc = Crc16Xmodem(page.data(), page.size());
            answer.frame = Frame(
                0x5D, {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFF)});
            break;
        }
        default:
            return std::nullopt;
    }
    return answer;
}

void BootloaderDevice::StartApplication() {
    mode_ = Mode::Starting;
    page_ = -1;
    rx_.clear();
    const std::uint64_t epoch = epoch_;
    host_->After(std::max<std::int64_t>(busyUntilUs_ - host_->NowUs(), 0) + config_.startUs,
                 [this, epoch] {
                     if (epoch == epoch_ && mode_ == Mode::Starting)
                         mode_ = Mode::App;
                 });
}

void BootloaderDevice::Reply(Answer answer, std::int64_t atUs, const std::vector<Fault>& active) {
    bool silent = false;
    bool cut = false;
    std::size_t limit = std::string::npos;
    for (const Fault& fault : active) {
        switch (fault.kind) {
            case Fault::Kind::Silence:
                silent = true;
                break;
            case Fault::Kind::WrongCode:
                if (answer.frame.size() == 1) {
                    answer.frame[0] = static_cast<char>(fault.code);
                } else {
                    answer.frame[1] = static_cast<char>(fault.code);
                    answer.frame.resize(answer.frame.size() - 2);
                    const std::uint16_t crc = Crc16Xmodem(answer.frame);
                    answer.frame.push_back(static_cast<char>(crc >> 8));
                    answer.frame.push_back(static_cast<char>(crc & 0xFF));
                }
                break;
            case Fault::Kind::CutShort:
                limit = std::min(limit, static_cast<std::size_t>(fault.bytes));
                break;
            case Fault::Kind::Late:
                atUs += fault.delayUs;
                break;
            case Fault::Kind::CutStream:
                limit = std::min(limit, static_cast<std::size_t>(fault.bytes));
                cut = true;
                break;
            case Fault::Kind::Unplug:
            case Fault::Kind::BadWrite:
                break;
        }
    }
    busyUntilUs_ = std::max(busyUntilUs_, atUs);
    if (silent)
        return;
    std::string bytes = answer.prefix + answer.frame;
    if (limit < bytes.size())
        bytes.resize(limit);
    const std::uint64_t epoch = epoch_;
    host_->After(atUs - host_->NowUs(), [this, epoch, bytes, cut] {
        if (epoch != epoch_ || mode_ == Mode::Off)
            return;
        if (!bytes.empty())
            Transmit(bytes);
        if (cut)
            muted_ = true;
    });
}

void BootloaderDevice::Transmit(const std::string& bytes) {
    if (muted_)
        return;
    sent_ += bytes;
    host_->Send(bytes);
}

}  // namespace rompush::sim
