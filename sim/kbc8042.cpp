#include "sim/kbc8042.h"

#include <algorithm>
#include <array>

namespace rompush::sim {

namespace {

constexpr std::uint16_t kDataPort = 0x60;
constexpr std::uint16_t kStatusPort = 0x64;
constexpr std::uint8_t kInterruptsOn = 0x01;
constexpr std::uint8_t kSystemFlag = 0x04;
constexpr std::uint8_t kTranslate = 0x40;

// The controller's translation of scan code set 2 (index) to set 1, codes 0x00..0x7F.
constexpr std::array<std::uint8_t, 128> kSet2ToSet1 = {
    0xff, 0x43, 0x41, 0x3f, 0x3d, 0x3b, 0x3c, 0x58, 0x64, 0x44, 0x42, 0x40, 0x3e, 0x0f, 0x29, 0x59,
    0x65, 0x38, 0x2a, 0x70, 0x1d, 0x10, 0x02, 0x5a, 0x66, 0x71, 0x2c, 0x1f, 0x1e, 0x11, 0x03, 0x5b,
    0x67, 0x2e, 0x2d, 0x20, 0x12, 0x05, 0x04, 0x5c, 0x68, 0x39, 0x2f, 0x21, 0x14, 0x13, 0x06, 0x5d,
    0x69, 0x31, 0x30, 0x23, 0x22, 0x15, 0x07, 0x5e, 0x6a, 0x72, 0x32, 0x24, 0x16, 0x08, 0x09, 0x5f,
    0x6b, 0x33, 0x25, 0x17, 0x18, 0x0b, 0x0a, 0x60, 0x6c, 0x34, 0x35, 0x26, 0x27, 0x19, 0x0c, 0x61,
    0x6d, 0x73, 0x28, 0x74, 0x1a, 0x0d, 0x62, 0x6e, 0x3a, 0x36, 0x1c, 0x1b, 0x75, 0x2b, 0x63, 0x76,
    0x55, 0x56, 0x77, 0x78, 0x79, 0x7a, 0x0e, 0x7b, 0x7c, 0x4f, 0x7d, 0x4b, 0x47, 0x7e, 0x7f, 0x6f,
    0x52, 0x53, 0x50, 0x4c, 0x4d, 0x48, 0x01, 0x45, 0x57, 0x4e, 0x51, 0x4a, 0x37, 0x49, 0x46, 0x54,
};

}  // namespace

std::uint8_t TranslateSet2(std::uint8_t code) {
    if (code < 0x80)
        return kSet2ToSet1[code];
    return code == 0x83 ? 0x41 : code;  // F7 is the one set-2 code above 0x7F
}

Kbc8042::Kbc8042(TimeSource nowUs, Ps2Timing timing) : nowUs_(std::move(nowUs)), timing_(timing) {
    history_.push_back({nowUs_(), commandByte_});
}

void Kbc8042::Attach(std::shared_ptr<Ps2Device> device) {
    Advance();
    device_ = std::move(device);
    toDevice_.clear();
    fromDevice_.clear();
}

void Kbc8042::SendToHost(std::uint8_t byte, std::int64_t notBeforeUs) {
    fromDevice_.push_back({byte, notBeforeUs});
}

Kbc8042::Next Kbc8042::NextStep() const {
    constexpr std::int64_t kNever = INT64_MAX;
    Next next{kNever, Next::None};
    auto consider = [&next](std::int64_t atUs, Next::Kind kind) {
        if (atUs < next.atUs)
            next = {atUs, kind};
    };
    // The device may only send while the output buffer is free (the controller holds the
    // keyboard clock low while a byte waits for the program).
    if (!fromDevice_.empty() && !output_) {
        const std::int64_t start =
            std::max({fromDevice_.front().atUs, fromWireFreeUs_, outputFreeSinceUs_});
        consider(start + timing_.wireByteUs, Next::FromDevice);
    }
    if (!toDevice_.empty())
        consider(toDevice_.front().atUs, Next::ToDevice);
    if (input_ && !stuckInput_)
        consider(std::max(inputWrittenUs_, controllerFreeUs_) + timing_.takeUs, Next::Take);
    return next;
}

std::optional<std::int64_t> Kbc8042::NextEventUs() {
    Advance();
    const Next next = NextStep();
    if (next.kind == Next::None)
        return std::nullopt;
    return next.atUs;
}

void Kbc8042::Advance() {
    const std::int64_t now = nowUs_();
    for (;;) {
        const Next next = NextStep();
        if (next.kind == Next::None || next.atUs > now)
            return;
        switch (next.kind) {
            case Next::FromDevice: {
                const std::uint8_t byte = fromDevice_.front().byte;
                fromDevice_.pop_front();
                ++bytesFromDevice_;
                DeliverFromDevice(byte, next.atUs);
                break;
            }
            case Next::ToDevice: {
                const Pending p = toDevice_.front();
                toDevice_.pop_front();
                ++bytesToDevice_;
                if (device_)
                    device_->Receive(p.byte, p.atUs, *this);
                break;
            }
            case Next::Take:
                TakeInput(next.atUs);
                break;
            case Next::None:
                return;
        }
    }
}

void Kbc8042::DeliverFromDevice(std::uint8_t byte, std::int64_t atUs) {
    fromWireFreeUs_ = atUs;
    std::uint8_t code = byte;
    if (commandByte_ & kTranslate) {
        if (byte == 0xF0) {
            breakPrefix_ = true;  // nothing for the program yet
            return;
        }
        code = TranslateSet2(byte);
        if (breakPrefix_ && byte < 0x80)
            code |= 0x80;
        breakPrefix_ = false;
    }
    if (commandByte_ & kInterruptsOn) {
        // The operating system's keyboard driver reads it at once.
        osReceived_.push_back(code);
        outputFreeSinceUs_ = atUs;
        return;
    }
    output_ = code;
}

void Kbc8042::TakeInput(std::int64_t atUs) {
    const std::uint8_t byte = *input_;
    input_.reset();
    if (inputIsCommand_) {
        expectCommandByte_ = false;
        switch (byte) {
            case 0x20:
                output_ = commandByte_;
                break;
            case 0x60:
                expectCommandByte_ = true;
                break;
            case 0xAA:  // self-test
                output_ = 0x55;
                break;
            case 0xAB:  // keyboard interface test
                output_ = 0x00;
                break;
            default:  // port enables and the rest change nothing the program looks at
                break;
        }
        return;
    }
    if (expectCommandByte_) {
        expectCommandByte_ = false;
        if (refuseCommandByte_ != 0) {
            if (refuseCommandByte_ > 0)
                --refuseCommandByte_;
            return;
        }
        SetCommandByte(byte, atUs);
        return;
    }
    // A byte for the device: the controller clocks it out and takes nothing else meanwhile.
    controllerFreeUs_ = atUs + timing_.wireByteUs;
    toDevice_.push_back({byte, controllerFreeUs_});
}

void Kbc8042::SetCommandByte(std::uint8_t value, std::int64_t atUs) {
    commandByte_ = value;
    history_.push_back({atUs, value});
    if (!(value & kTranslate))
        breakPrefix_ = false;
}

std::uint8_t Kbc8042::Read(std::uint16_t port) {
    Advance();
    if (port == kStatusPort) {
        std::uint8_t status = commandByte_ & kSystemFlag;
        if (output_)
            status |= 0x01;
        if (input_)
            status |= 0x02;
        return status;
    }
    if (port == kDataPort) {
        // With nothing waiting the data port still holds the byte read last.
        if (output_) {
            lastRead_ = *output_;
            output_.reset();
            outputFreeSinceUs_ = nowUs_();
        }
        return lastRead_;
    }
    return 0xFF;
}

void Kbc8042::Write(std::uint16_t port, std::uint8_t value) {
    Advance();
    if (port != kStatusPort && port != kDataPort)
        return;
    // A byte written before the controller took the previous one replaces it.
    input_ = value;
    inputIsCommand_ = port == kStatusPort;
    inputWrittenUs_ = nowUs_();
}

std::uint8_t Kbc8042::CommandByte() {
    Advance();
    return commandByte_;
}

std::int64_t Kbc8042::LockedOutUs() {
    Advance();
    const std::int64_t now = nowUs_();
    std::int64_t locked = 0;
    for (std::size_t i = 0; i < history_.size(); ++i) {
        const std::int64_t end = i + 1 < history_.size() ? history_[i + 1].atUs : now;
        if (!(history_[i].value & kInterruptsOn))
            locked += std::max<std::int64_t>(0, std::min(end, now) - history_[i].atUs);
    }
    return locked;
}

}  // namespace rompush::sim
